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

Interactor* tool(int32_t id) { return g_operator ? g_operator->getTool(id) : nullptr; }

// The camera tool's press: with the other hand's trigger held a capture camera is added at the
// drawing hand (raised by half its image plane, looking along the hand's forward axis), else
// every camera takes its picture into the run folder.
void cameraToolAction() {
  if (!g_cameraManager) return;
  if (flagOn(FLAG_OTHER_TRIGGER)) {
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

}  // namespace

Operatable* createOperation(int32_t toolId) {
  switch (toolId) {
    case TOOL_PEN:
    case TOOL_BRUSH:
      // The default and attach shapes continue a stroke while the other hand's trigger is held.
      if (g_brushShape < BRUSH_SPIN && flagOn(FLAG_OTHER_TRIGGER)) return new ConnectOp(tool(toolId));
      // Texture -1: the stroke takes the current hair texture with the rest of the brush state.
      return new Operatable(-1);
    case TOOL_SELECT:
      // The brush mode selects among the suggested strands: nothing without the brush tool's
      // suggestion component (the program attaches none) or a shown suggestion.
      if (modeStateAt(STATE_UI_MODE, UI_MODE_PANELS) == UI_MODE_BRUSH) {
        BufferUndoer* suggested = g_hairBrusher && g_hairBrusher->m_suggestion
                                      ? g_hairBrusher->m_suggestion->currentModel()
                                      : nullptr;
        return suggested ? new SelectOp(suggested) : nullptr;
      }
      if (flagOn(FLAG_OTHER_TRIGGER)) return new NearestSelectOp(tool(TOOL_BRUSH));
      return new SelectOp(tool(TOOL_BRUSH));
    case TOOL_DELETE:
      return new DeleteOp(tool(TOOL_BRUSH));
    case TOOL_RECOLOR:
      return new RecolorOp(tool(TOOL_BRUSH));
    case TOOL_COLOR_PICK:
      return new SetColorOp(tool(TOOL_BRUSH));
    case TOOL_DEFORM:
      return new Operatable(HAIR_TEXTURE_PEN);
    case TOOL_TRANSFORM:
      return new TransOp(tool(TOOL_BRUSH));
    case TOOL_CAMERA:
      cameraToolAction();
      return nullptr;
    default:
      // The move tool keeps its own transform and records no operation.
      return nullptr;
  }
}
