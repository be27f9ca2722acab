#include "strokes/operation_factory.h"

#include "strokes/operatable.h"

Operatable* createOperation(int32_t toolId) {
  switch (toolId) {
    case 0:
    case 1:
      // Texture -1: the stroke takes the current hair texture with the rest of the brush state.
      // Once connect operations exist: with the default or attach shape (g_brushShape < 2) and
      // the other hand's trigger held, a ConnectOp over tool toolId instead.
      return new Operatable(-1);
    case 2:
      // UI mode 0 selects among the suggested strands, which need the brush tool's suggestion
      // component; none is ever attached, so that mode records nothing. Once selection
      // operations exist, the other modes: a NearestSelectOp over tool 1 with the other hand's
      // trigger held, else a SelectOp over tool 1.
      return nullptr;
    case 7:
      return new Operatable(0);
    default:
      // Once the editing operations exist: a DeleteOp (3), RecolorOp (4) and SetColorOp (5) over
      // tool 1, and a TransOp over tool 1 (8). Once capture cameras exist, the camera tool (9)
      // adds a camera with the other hand's trigger held, else takes the pictures; it records
      // no operation either way, nor does the move tool (6), which keeps its own transform.
      return nullptr;
  }
}
