#version 410 core
// Desktop mirror of the headset eyes through the lens-distortion mesh.
// Attribute locations (the lens mesh brings its own layout, 9 floats a vertex):
//   0  vec3 position, already in normalised device coordinates
//   1  vec2 texture coordinates of the red channel
//   2  vec2 texture coordinates of the green channel
//   3  vec2 texture coordinates of the blue channel
// Lenses bend the three colours by different amounts, hence one pair each.
layout(location = 0) in vec3 a_position;
layout(location = 1) in vec2 a_uvRed;
layout(location = 2) in vec2 a_uvGreen;
layout(location = 3) in vec2 a_uvBlue;

uniform mat4 m_matrix = mat4(1.0);

out vec2 v_uvRed;
out vec2 v_uvGreen;
out vec2 v_uvBlue;

void main()
{
    v_uvRed = a_uvRed;
    v_uvGreen = a_uvGreen;
    v_uvBlue = a_uvBlue;
    gl_Position = m_matrix * vec4(a_position, 1.0);
}
