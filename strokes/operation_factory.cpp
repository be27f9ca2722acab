#include "strokes/operation_factory.h"

#include "core/settings.h"
#include "strokes/edit_ops.h"
#include "strokes/hair_blender.h"
#include "strokes/hair_brusher.h"
#include "strokes/interactor.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"

namespace {

constexpr int32_t kBrushTool = 1;

Interactor* tool(int32_t id) { return g_operator ? g_operator->getTool(id) : nullptr; }

bool otherTriggerHeld() { return g_flags.size() > FLAG_OTHER_TRIGGER && g_flags[FLAG_OTHER_TRIGGER]; }

}  // namespace

Operatable* createOperation(int32_t toolId) {
  switch (toolId) {
    case 0:
    case 1:
      // The default and attach shapes continue a stroke while the other hand's trigger is held.
      if (g_brushShape < 2 && otherTriggerHeld()) return new ConnectOp(tool(toolId));
      // Texture -1: the stroke takes the current hair texture with the rest of the brush state.
      return new Operatable(-1);
    case 2:
      // UI mode 0 selects among the suggested strands: nothing without the brush tool's
      // suggestion component (the program attaches none) or a shown suggestion.
      if (g_modeState.size() > 2 && g_modeState[2] == 0) {
        BufferUndoer* suggested = g_hairBrusher && g_hairBrusher->m_suggestion
                                      ? g_hairBrusher->m_suggestion->currentModel()
                                      : nullptr;
        return suggested ? new SelectOp(suggested) : nullptr;
      }
      if (otherTriggerHeld()) return new NearestSelectOp(tool(kBrushTool));
      return new SelectOp(tool(kBrushTool));
    case 3:
      return new DeleteOp(tool(kBrushTool));
    case 4:
      return new RecolorOp(tool(kBrushTool));
    case 5:
      return new SetColorOp(tool(kBrushTool));
    case 7:
      return new Operatable(0);
    case 8:
      return new TransOp(tool(kBrushTool));
    default:
      // Once capture cameras exist, the camera tool (9) adds a camera with the other hand's
      // trigger held, else takes the pictures; it records no operation either way, nor does the
      // move tool (6), which keeps its own transform.
      return nullptr;
  }
}
