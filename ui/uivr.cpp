#include "ui/uivr.h"

#include <cmath>

#include "core/settings.h"
#include "quillax.pb.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "ui/panel.h"
#include "ui/shooter.h"

UIVR* g_uivr = nullptr;

UIVR::~UIVR() {
  delete m_panel;
  delete m_shooter;
}

void UIVR::init() {
  m_panel = new Panel();
  m_shooter = new Shooter();
  quillax::UIParam description;
  m_panel->init(description);
  m_shooter->init(description);
  m_panel->m_rayStop = [this](const Vec3f& origin, const Vec3f& direction, float reach) {
    return shownHeadAlongRay(origin, direction, reach);
  };
}

float UIVR::shownHeadAlongRay(const Vec3f& origin, const Vec3f& direction, float reach) const {
  const HeadModel* head = findHeadModel();
  if (!head || !head->isRenderable()) return -1.0f;
  Matrix4 parent;
  multiplyMatrix4(m_sceneView, parent, g_modeler->sceneGrabMatrix());
  return head->rayHit(parent, origin, direction, reach);
}

void UIVR::update(const Matrix4& otherHand, const Matrix4& drawingHand) {
  if (!m_panel || !m_shooter || !m_panel->isVisible() || !m_shooter->isVisible()) return;
  const float hit = m_panel->hitTest(otherHand, drawingHand);
  const float distance = hit >= 0.0f ? hit : m_panel->m_stopDistance;
  float* length = uiValueSlot(VALUE_POINTER_LENGTH);
  if (!length || std::fabs(*length - distance) <= 1e-5f) return;
  *length = distance;
  m_shooter->buildPointerGeometry();
}
