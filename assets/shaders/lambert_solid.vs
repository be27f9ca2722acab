#version 410 core
// Lit untextured meshes.
layout(location = 0) in vec3 a_position;
layout(location = 2) in vec3 a_normal;

uniform mat4 m_matrix;
uniform mat4 m_model = mat4(1.0);

out vec3 v_worldPos;
out vec3 v_normal;

void main()
{
    vec4 world = m_model * vec4(a_position, 1.0);
    v_worldPos = world.xyz;
    // Inverse transpose keeps normals right under the non-uniform scales of transform levels.
    v_normal = transpose(inverse(mat3(m_model))) * a_normal;
    gl_Position = m_matrix * vec4(a_position, 1.0);
}
