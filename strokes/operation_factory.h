#pragma once
#include <cstdint>

class Operatable;

// The operation that a press of tool `toolId` records: a new stroke for the pen and brush (0, 1)
// from the current brush state, a pen-textured guide stroke for the deform tool (7); null for
// tools that make no operation. The caller owns the result.
Operatable* createOperation(int32_t toolId);
