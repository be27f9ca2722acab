#version 410 core
// Icons drawn on white: the white is cut away and the rest is tinted by the
// object colour (the tool's mode colour or the brush colour).
in vec2 v_uv;

uniform sampler2D _Diffuse_Map0;
uniform int is_Diffuse_Map0 = 0;
uniform vec4 m_color = vec4(1.0);
uniform float m_opacity = 1.0;

out vec4 fragColor;

const float kWhite = 0.92;

void main()
{
    vec4 c = is_Diffuse_Map0 != 0 ? texture(_Diffuse_Map0, v_uv) : vec4(0.0, 0.0, 0.0, 1.0);
    if (min(c.r, min(c.g, c.b)) > kWhite || c.a < 0.1)
        discard;
    fragColor = vec4(c.rgb * m_color.rgb, c.a * m_opacity);
}
