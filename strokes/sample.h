#pragma once
#include <cstdint>

#include "core/vec.h"

class Operatable;

// One sample of a stroke: a stroke point taken as the coarse representation that the sample grid,
// deformation and selection work on. Frames, neighbours and the post-processing that moves samples
// are added with the stroke post-processing.
class Sample {
 public:
  // Takes position and pitch of point `pointIndex` as local and world values and as origin; an
  // index outside the stroke leaves the sample without a stroke (and at the origin).
  Sample(Operatable* stroke, int pointIndex, uint16_t index);
  Sample(const Sample& other) = default;
  Sample& operator=(const Sample& other) = default;
  virtual ~Sample() = default;

  Operatable* m_stroke = nullptr;
  uint16_t m_index = 0;
  Vec3f m_localPosition;  // in the stroke's own frame (before any transform level)
  Vec3f m_localPitch;     // zero when the stroke has fewer pitches than points
  Vec3f m_position;       // world position under the stroke's transform level
  Vec3f m_pitch;          // world pitch, unit length
  Vec3f m_origin;         // world position when the samples were built
};
