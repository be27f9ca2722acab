#pragma once
#include <cstdint>

class Operatable;

// The operation that a press of tool `toolId` records, chosen by the tool and the editing state
// (brush shape, UI mode, the other hand's trigger): for the pen and brush (0, 1) a new stroke
// from the current brush state, or a connection over the calling tool; a selection (2), deletion
// (3), recolouring (4), colour pick (5) or transform (8) over the brush history (tool 1), the
// selection in UI mode 0 over the brush's suggested strands instead; a pen-textured guide
// stroke for the deform tool (7); null for the move (6) and camera (9) tools, for ids outside
// 0 to 9, and for what cannot be made. The caller owns the result.
Operatable* createOperation(int32_t toolId);
