#version 410 core
// Depth-only pass from the light; the matrix is light space x model.
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec2 a_uv;

uniform mat4 m_matrix;

out vec2 v_uv;

void main()
{
    v_uv = a_uv;
    gl_Position = m_matrix * vec4(a_position, 1.0);
}
