#version 410 core
// Textured objects show the texture as it is (many of them keep the default
// colour of zero); untextured ones fall back to their colour.
in vec2 v_uv;

uniform sampler2D _Diffuse_Map0;
uniform int is_Diffuse_Map0 = 0;
uniform vec4 m_color = vec4(1.0);
uniform float m_opacity = 1.0;

out vec4 fragColor;

const float kCutoff = 0.1;

void main()
{
    vec4 c = is_Diffuse_Map0 != 0 ? texture(_Diffuse_Map0, v_uv) : m_color;
    if (c.a < kCutoff)
        discard;
    fragColor = vec4(c.rgb, c.a * m_opacity);
}
