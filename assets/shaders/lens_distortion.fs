#version 410 core
// Each colour is read where the lens sends it; what falls outside the eye
// image is black rather than a repeat of its far edge.
in vec2 v_uvRed;
in vec2 v_uvGreen;
in vec2 v_uvBlue;

uniform sampler2D _Diffuse_Map0;   // the eye's resolved image
uniform int is_Diffuse_Map0 = 0;

out vec4 fragColor;

float inside(vec2 uv)
{
    return (uv.x >= 0.0 && uv.x <= 1.0 && uv.y >= 0.0 && uv.y <= 1.0) ? 1.0 : 0.0;
}

void main()
{
    if (is_Diffuse_Map0 == 0) {
        fragColor = vec4(0.0, 0.0, 0.0, 1.0);
        return;
    }
    float r = texture(_Diffuse_Map0, v_uvRed).r * inside(v_uvRed);
    float g = texture(_Diffuse_Map0, v_uvGreen).g * inside(v_uvGreen);
    float b = texture(_Diffuse_Map0, v_uvBlue).b * inside(v_uvBlue);
    fragColor = vec4(r, g, b, 1.0);
}
