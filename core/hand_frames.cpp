#include "core/hand_frames.h"

float g_drawingHandMatrix[12] = {};
float g_otherHandMatrix[12] = {};
float g_headMatrix[12] = {};
