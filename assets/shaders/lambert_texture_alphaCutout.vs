#version 410 core
// Lit textured meshes.
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec2 a_uv;
layout(location = 2) in vec3 a_normal;

uniform mat4 m_matrix;
uniform mat4 m_model = mat4(1.0);

out vec3 v_worldPos;
out vec3 v_normal;
out vec2 v_uv;

void main()
{
    vec4 world = m_model * vec4(a_position, 1.0);
    v_worldPos = world.xyz;
    v_normal = transpose(inverse(mat3(m_model))) * a_normal;
    v_uv = a_uv;
    gl_Position = m_matrix * vec4(a_position, 1.0);
}
