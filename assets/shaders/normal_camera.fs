#version 410 core
// Camera-space normal as colour, n * 0.5 + 0.5, turned towards the camera so
// that two-sided ribbons read the same from both sides. Hair keeps its strand
// cut-out (only hair carries an alpha map).
in vec3 v_viewPos;
in vec3 v_viewNormal;
in vec2 v_uv;

uniform sampler2D _Alpha_Map0;
uniform int is_Alpha_Map0 = 0;
uniform float _Cutoff = 0.55;

out vec4 fragColor;

void main()
{
    if (is_Alpha_Map0 != 0 && texture(_Alpha_Map0, v_uv).r < _Cutoff)
        discard;
    vec3 n = v_viewNormal;
    if (dot(n, n) < 1e-12) {
        fragColor = vec4(0.5, 0.5, 1.0, 1.0);
        return;
    }
    n = normalize(n);
    if (dot(n, -v_viewPos) < 0.0)
        n = -n;
    fragColor = vec4(n * 0.5 + 0.5, 1.0);
}
