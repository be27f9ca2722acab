// Which controller is which hand, and the touchpad swipes that work as sliders.
#include <cmath>
#include <string>

#include "app/openvr.h"
#include "app/ui_parts.h"
#include "core/events.h"
#include "core/settings.h"
#include "render/model_element.h"
#include "ui/shooter.h"

namespace {

constexpr uint32_t k_devices = vr::k_maxTrackedDeviceCount;

// A swipe counts along one axis only when it moved more than twice as far along it as across:
// 0 for x, 1 for y, -1 for neither (diagonal, or too small to be meant).
int swipeAxis(float dx, float dy) {
  if (std::fabs(dx) > 2 * std::fabs(dy) && std::fabs(dx) > 0.001f) return 0;
  if (std::fabs(dy) > 2 * std::fabs(dx) && std::fabs(dy) > 0.001f) return 1;
  return -1;
}

void postSetting(SettingId setting, float value) {
  postEvent(new EventRecord(EVENT_SETTING, setting, std::string(), {value}));
}

}  // namespace

void OpenVR::resetControllerAssignment() {
  m_drawingHand = -1;
  m_otherHand = -1;
  m_drawingHandSwipe = -1;
  m_otherHandSwipe = -1;
}

void OpenVR::assignRole(uint32_t device) {
  if (device >= k_devices || !m_system) return;
  if (m_system->getTrackedDeviceClass(device) != vr::TrackedDeviceClass_Controller) return;
  const int index = static_cast<int>(device);
  // The other hand keeps its role while the drawing hand's is free: one controller never
  // holds both, and a drawing hand switched on again takes its role back.
  if (m_drawingHand == -1 && index != m_otherHand) {
    m_drawingHand = index;
  } else if (m_otherHand == -1 && index != m_drawingHand) {
    m_otherHand = index;
  }
}

bool OpenVR::readTouchpad(int device, float* x, float* y) {
  if (!m_system || device < 0 || device >= static_cast<int>(k_devices)) return false;
  vr::ControllerState state;
  if (!m_system->getControllerState(static_cast<uint32_t>(device), &state, sizeof state)) return false;
  *x = state.m_axis[0].x;
  *y = state.m_axis[0].y;
  return true;
}

void OpenVR::swipeDrawingHand() {
  float x = 0, y = 0;
  if (m_drawingHandSwipe == -1 || !readTouchpad(m_drawingHand, &x, &y)) return;
  if (m_drawingHandSwipe < 3) {
    m_drawingSwipeStart[0] = x;
    m_drawingSwipeStart[1] = y;
    Shooter* shooter = toolGeometry();
    if (!shooter) return;
    const bool primary = shooter->getPrimaryValue(m_primaryBase, m_primaryStep);
    const bool secondary = shooter->getSecondaryValue(m_secondaryBase, m_secondaryStep);
    if (primary || secondary) ++m_drawingHandSwipe;
    return;
  }
  const float dx = x - m_drawingSwipeStart[0], dy = y - m_drawingSwipeStart[1];
  const int axis = swipeAxis(dx, dy);
  if (axis == 0) {
    postSetting(SETTING_PRIMARY_VALUE, m_primaryBase + dx * m_primaryStep);
  } else if (axis == 1 && !flagOn(FLAG_NO_CURVATURE_SWIPE)) {
    postSetting(SETTING_SECONDARY_VALUE, m_secondaryBase + dy * m_secondaryStep);
  }
}

void OpenVR::swipeOtherHand() {
  float x = 0, y = 0;
  if (m_otherHandSwipe == -1 || !readTouchpad(m_otherHand, &x, &y)) return;
  if (m_otherHandSwipe < 3) {
    m_otherSwipeStart[0] = x;
    m_otherSwipeStart[1] = y;
    // The other hand shapes the helix, and only while it is drawn.
    Shooter* shooter = toolGeometry();
    const ModelElement* spliner = shooter ? shooter->getGeometry(GEOMETRY_UI_SPLINER) : nullptr;
    if (!spliner || !spliner->getFlag2()) return;
    m_radiusBase = g_splinerRadius;
    m_radiusStep = 0.02f;
    m_lengthBase = g_splinerLength;
    m_lengthStep = 0.2f;
    ++m_otherHandSwipe;
    return;
  }
  const float dx = x - m_otherSwipeStart[0], dy = y - m_otherSwipeStart[1];
  const int axis = swipeAxis(dx, dy);
  if (axis == 0)
    postSetting(SETTING_SPLINER_RADIUS, m_radiusBase + dx * m_radiusStep);
  else if (axis == 1)
    postSetting(SETTING_SPLINER_LENGTH, m_lengthBase + dy * m_lengthStep);
}
