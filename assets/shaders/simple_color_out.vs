#version 410 core
// Flat colour: lines, wire boxes, pen strokes, menu lines.
layout(location = 0) in vec3 a_position;

uniform mat4 m_matrix;

void main()
{
    gl_Position = m_matrix * vec4(a_position, 1.0);
}
