#version 410 core
// The head: meshes with tangent space, for tangent-space normal maps.
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec2 a_uv;
layout(location = 2) in vec3 a_normal;
layout(location = 3) in vec3 a_tangent;
layout(location = 4) in vec3 a_bitangent;

uniform mat4 m_matrix;
uniform mat4 m_model = mat4(1.0);

out vec3 v_worldPos;
out vec3 v_normal;
out vec3 v_tangent;
out vec3 v_bitangent;
out vec2 v_uv;

void main()
{
    mat3 linear = mat3(m_model);
    v_worldPos = (m_model * vec4(a_position, 1.0)).xyz;
    v_normal = transpose(inverse(linear)) * a_normal;
    v_tangent = linear * a_tangent;
    v_bitangent = linear * a_bitangent;
    v_uv = a_uv;
    gl_Position = m_matrix * vec4(a_position, 1.0);
}
