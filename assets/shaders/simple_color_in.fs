#version 410 core
// The vertex colour, scaled by the object colour, which also gives the alpha.
in vec3 v_color;

uniform vec4 m_color = vec4(1.0);

out vec4 fragColor;

void main()
{
    fragColor = vec4(v_color * m_color.rgb, m_color.a);
}
