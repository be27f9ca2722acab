#pragma once
#include <vector>

#include "core/geometry.h"

// Control points along a stroke's middle axis, compared and moved by the deform tool. Three
// floats per control point, in the stored frame. The stroke fills and uses them through the
// overrides (deformable.cpp).
class coreDeformable {
 public:
  virtual ~coreDeformable() = default;

  // Derives the control points from the stroke; returns the number of control floats.
  virtual int rebuildControl() { return 0; }
  virtual void setTarget(const std::vector<float>& target) { m_target = target; }
  // Moves the stroke by m_control - m_target.
  virtual void deform() {}
  // Mean absolute difference of the two control vectors; 1e9 when their lengths differ or they
  // are empty, so a pair that cannot be compared is never the nearest.
  virtual float distanceTo(const coreDeformable* other) const {
    if (!other || other->m_control.size() != m_control.size() || m_control.empty()) return 1e9f;
    return distanceL1(m_control, other->m_control);
  }

  // Carries the control points and the reference points by T (same frame as theirs), so that
  // a move keeps whatever deformation they hold and its rest shape goes with it.
  void transformControl(const Matrix4& t);

  std::vector<float> m_control;
  std::vector<float> m_target;
};

class Operatable;

// Control points per stroke: control_sample_size of the settings, 20 when the file gave none.
int controlSampleSize();

// The brush shapes applied to a finished stroke: control points rebuilt, then spin (shape 2) or
// braid (shape 3, phase index the integer part of params[0], 0 without). Other shapes are left.
void applyShape(Operatable* stroke, const std::vector<float>& params);
// Coils the stroke around itself with radius r (metres), turning a radians per point, from the
// spin start point on, fading towards the tip; the ends stay. Gives 2n points and pitches and no
// normals. Reads and updates the spin start (STATE_SPIN_START, VALUE_SPIN_START_FRACTION).
void spinStroke(Operatable* stroke, float r, float a);
// One strand of a three-strand braid: a figure-eight of radius r around the stroke, length
// radians per point, shifted by phase radians, tapering towards the tip. Gives integer part of
// 2.5 n points, each pitch across its tangent. Strokes under 10 points are left.
void braidStroke(Operatable* stroke, float r, float length, int phase);
// Appends the strands a finished stroke brings along, shaped and sampled: the other two strands
// of a braid, and the sparse overlay strands while the overlay is on. None for a connection.
void makeExtraStrokes(Operatable* stroke, std::vector<Operatable*>& out);
// Lifts every point by d along its normal, the normals first rebuilt from the pitches.
void offsetAlongNormals(Operatable* stroke, float d);
