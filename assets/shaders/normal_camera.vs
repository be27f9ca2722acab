#version 410 core
// Normal render of a capture camera: every object drawn with this program.
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec2 a_uv;       // read only to cut hair; absent elsewhere
layout(location = 2) in vec3 a_normal;

uniform mat4 m_matrix;
uniform mat4 m_model = mat4(1.0);
uniform mat4 m_viewMatrix = mat4(1.0);

out vec3 v_viewPos;
out vec3 v_viewNormal;
out vec2 v_uv;

void main()
{
    mat4 modelView = m_viewMatrix * m_model;
    v_viewPos = (modelView * vec4(a_position, 1.0)).xyz;
    v_viewNormal = transpose(inverse(mat3(modelView))) * a_normal;
    v_uv = a_uv;
    gl_Position = m_matrix * vec4(a_position, 1.0);
}
