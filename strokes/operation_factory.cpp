#include "strokes/operation_factory.h"

#include "strokes/operatable.h"

Operatable* createOperation(int32_t toolId) {
  switch (toolId) {
    case 0:
    case 1:
      // Texture -1: the stroke takes the current hair texture with the rest of the brush state.
      // Holding the other trigger with the default or attach shape will connect to an existing
      // stroke instead, once connect operations exist.
      return new Operatable(-1);
    case 7:
      return new Operatable(0);
    default:
      // Selection, editing and transform operations are made here once they exist; the move
      // tool (6) and the camera tool (9) record no operation.
      return nullptr;
  }
}
