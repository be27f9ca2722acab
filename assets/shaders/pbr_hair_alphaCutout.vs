#version 410 core
// Hair ribbons. The ribbon gives a surface normal and a second surface
// direction across it; the strand direction (root to tip) is their cross
// product, side x normal, whatever the ribbon's curvature.
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec2 a_uv;       // u across the ribbon, v root to tip
layout(location = 2) in vec3 a_normal;
layout(location = 3) in vec3 a_side;
layout(location = 6) in float a_light;   // the stroke's light curve

uniform mat4 m_matrix;
uniform mat4 m_model = mat4(1.0);

out vec3 v_worldPos;
out vec3 v_normal;
out vec3 v_side;
out vec3 v_tangent;
out vec2 v_uv;
out float v_light;

void main()
{
    mat3 linear = mat3(m_model);
    v_worldPos = (m_model * vec4(a_position, 1.0)).xyz;
    v_normal = transpose(inverse(linear)) * a_normal;
    v_side = linear * a_side;
    v_tangent = linear * cross(a_side, a_normal);
    v_uv = a_uv;
    v_light = a_light;
    gl_Position = m_matrix * vec4(a_position, 1.0);
}
