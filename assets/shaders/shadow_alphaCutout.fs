#version 410 core
// Hair casts the shadow of its strands only: texels of the alpha map below
// the cutoff cast none. Objects without an alpha map cast a solid shadow.
// The shadow map itself is deliberately not declared: this pass writes it.
in vec2 v_uv;

uniform sampler2D _Alpha_Map0;
uniform int is_Alpha_Map0 = 0;
uniform float _Cutoff = 0.55;

void main()
{
    if (is_Alpha_Map0 != 0 && texture(_Alpha_Map0, v_uv).r < _Cutoff)
        discard;
}
