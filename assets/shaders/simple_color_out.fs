#version 410 core
// The colour comes from the object alone; opacity travels in its alpha, so
// strokes (which never set an opacity) draw the same as models.
uniform vec4 m_color = vec4(1.0);

out vec4 fragColor;

void main()
{
    fragColor = m_color;
}
