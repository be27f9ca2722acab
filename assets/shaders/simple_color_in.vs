#version 410 core
// Per-vertex colour (grid debug points).
layout(location = 0) in vec3 a_position;
layout(location = 5) in vec3 a_color;

uniform mat4 m_matrix;

out vec3 v_color;

void main()
{
    v_color = a_color;
    gl_Position = m_matrix * vec4(a_position, 1.0);
}
