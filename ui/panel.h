#pragma once
#include <functional>
#include <memory>
#include <vector>

#include "core/core_object.h"
#include "core/matrix.h"
#include "ui/widget.h"

namespace quillax {
class UIParam;
}
class Operatable;

// The floating menu carried by the other hand: the widget tree, the ray test of each frame,
// trigger release, drawing, the reference image shown while the ray points elsewhere, and the
// preview stroke in the colour panel. Flag bit 0: shown (the other hand is tracked); bit 1: the
// trigger went down over a widget and is not yet released. Press and hold are applied by the
// input handling on m_pressed, m_hovered and the hit fields. Main thread, GL context current.
class Panel : public coreObject {
 public:
  Panel();
  ~Panel() override;
  Panel(const Panel&) = delete;
  Panel& operator=(const Panel&) = delete;

  // Builds the tree from param's panel, or the default tree (then written into param), its
  // geometry and first states (which post the starting texture, shape, edit mode, light curve
  // and mode 0), and the reference panel.
  void init(quillax::UIParam& param);
  // panelMatrix: the other hand's pose; rayPose: the drawing hand's, casting along its -z from
  // 5 cm behind it. Returns the hit distance, -1 after a miss. A ray that m_rayStop stops before
  // it reaches the menu misses it.
  float hitTest(const Matrix4& panelMatrix, const Matrix4& rayPose);
  // Trigger release: true when it ended on the widget it was pressed on and clicked it.
  bool release();
  // matrix: the eye's view-projection times the other hand's pose.
  void render(const Matrix4& matrix);
  // Rebuilds the preview stroke from the current hair texture, colour and light curve; nothing
  // for the pen or without the "opRender" widget.
  void updateOperationPreview();
  // The reference panel over the menu's place, holding the reference_image setting.
  void addSubPanels();

  UIContainer* m_root = nullptr;
  std::unique_ptr<UIContainer> m_referencePanel;
  UIWidget* m_referenceImage = nullptr;
  std::vector<UIWidget*> m_widgets;  // owned: the root and every sub-panel, in ray-test order
  UIWidget* m_hovered = nullptr;
  UIWidget* m_pressed = nullptr;
  float m_hitDistance = 0.0f;
  float m_hitU = 0.0f;
  float m_hitV = 0.0f;
  // What is shown in front of the menu: the distance along the ray (origin, unit direction,
  // metres) at which it meets the ray within `reach`, else -1. Unset: nothing stops the ray.
  std::function<float(const Vec3f& origin, const Vec3f& direction, float reach)> m_rayStop;
  // Where m_rayStop stopped the last ray short of the menu, -1 when it did not.
  float m_stopDistance = -1.0f;
  std::unique_ptr<ModelRender> m_previewModel;  // "op"
  std::unique_ptr<Operatable> m_previewStroke;

 private:
  std::vector<float> m_previewVertices;
};
