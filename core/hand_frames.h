#pragma once

// Hand and head frames, 12 floats each: the position, then the device's x, y and z axes as unit
// vectors. The VR input writes them each frame before the eyes are drawn; renderers and tools
// read them (the head position is the viewer's eye for "m_viewPos").
extern float g_drawingHandMatrix[12];
extern float g_otherHandMatrix[12];
extern float g_headMatrix[12];
