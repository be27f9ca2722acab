#include "ui/uivr.h"

#include <cmath>

#include "core/settings.h"
#include "quillax.pb.h"
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
}

void UIVR::update(const Matrix4& otherHand, const Matrix4& drawingHand) {
  if (!m_panel || !m_shooter || !m_panel->isVisible() || !m_shooter->isVisible()) return;
  const float distance = m_panel->hitTest(otherHand, drawingHand);
  float* length = uiValueSlot(VALUE_POINTER_LENGTH);
  if (!length || std::fabs(*length - distance) <= 1e-5f) return;
  *length = distance;
  m_shooter->buildPointerGeometry();
}
