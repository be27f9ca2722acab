#include "strokes/operation_factory.h"

#include "core/hand_frames.h"
#include "core/settings.h"
#include "render/camera.h"
#include "strokes/edit_ops.h"
#include "strokes/hair_blender.h"
#include "strokes/hair_brusher.h"
#include "strokes/interactor.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"

namespace {

constexpr int32_t kBrushTool = 1;

Interactor* tool(int32_t id) { return g_operator ? g_operator->getTool(id) : nullptr; }

// The camera tool's press: with the other hand's trigger held a capture camera is added at the
// drawing hand (raised by half its image plane, looking along the hand's forward axis), else
// every camera takes its picture into the run folder.
void cameraToolAction() {
  if (!g_cameraManager) return;
  if (g_flags.size() > FLAG_OTHER_TRIGGER && g_flags[FLAG_OTHER_TRIGGER]) {
    CameraModel* camera = g_cameraManager->createCamera(Vec3f(0.0f, 0.0f, 0.0f), Vec3f(0.0f, 0.0f, 1.0f));
    // The hand frame's position already lies 0.05 along the device's -z from the device, so
    // device + h up - 0.05 forward is the frame's position + h up.
    const float* hand = g_drawingHandMatrix;
    const float h = 0.5f * camera->m_height;
    const Vec3f up(hand[6], hand[7], hand[8]), forward(hand[9], hand[10], hand[11]);
    camera->lookAt(Vec3f(hand[0], hand[1], hand[2]) + up * h, forward);
    return;
  }
  // A fresh file base in the run folder; without one (no tool controller, or a folder that
  // could not be made, which is reported) the pictures are taken but not written.
  const std::string prefix = g_operator ? g_operator->makeSavingFolder(2, std::string()) : std::string();
  g_cameraManager->captureAll(prefix);
  if (prefix.empty()) return;
  if (CameraModel* own = g_cameraManager->m_toolCamera) {
    if (own->m_targetReady)
      saveFramebufferImage(prefix + ".png", static_cast<uint32_t>(own->m_imageWidth),
                           static_cast<uint32_t>(own->m_imageHeight), own->m_target.m_resolveFramebuffer);
  }
}

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
    case 9:
      cameraToolAction();
      return nullptr;
    default:
      // The move tool (6) keeps its own transform and records no operation.
      return nullptr;
  }
}
