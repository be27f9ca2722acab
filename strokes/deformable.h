#pragma once
#include <vector>

#include "core/geometry.h"

// Control points along a stroke's middle axis, compared and moved by the deform tool. Three
// floats per control point. The stroke fills and uses them through the overrides.
class coreDeformable {
 public:
  virtual ~coreDeformable() = default;

  // Derives the control points from the stroke; returns the number of control floats.
  virtual int rebuildControl() { return 0; }
  virtual void setTarget(const std::vector<float>& target) { m_target = target; }
  // Moves the stroke by m_control - m_target.
  virtual void deform() {}
  // Mean absolute difference of the two control vectors; 1e9 when their lengths differ, so a
  // mismatched pair is never the nearest.
  virtual float distanceTo(const coreDeformable* other) const {
    if (!other || other->m_control.size() != m_control.size()) return 1e9f;
    return m_control.empty() ? 0.0f : distanceL1(m_control, other->m_control);
  }

  std::vector<float> m_control;
  std::vector<float> m_target;
};
