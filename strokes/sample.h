#pragma once
#include <array>
#include <cstdint>
#include <vector>

#include "core/float_grid.h"
#include "core/matrix.h"
#include "core/vec.h"
#include "render/sample_grid.h"

class Operatable;

// One sample of a stroke: a stroke point taken as the coarse representation that the sample grid,
// deformation and selection work on. "World" values are in the frame before every transform
// level (the head's own frame once the head is placed); local values are the stroke's points.
class Sample : public coreNeighborable {
 public:
  // Tangent, pitch and the two derived axes of one frame, three floats each.
  using FrameRecord = std::array<float, 12>;

  // Takes position and pitch of point `pointIndex` as local and world values and as origin; an
  // index outside the stroke leaves the sample without a stroke (and at the origin).
  Sample(Operatable* stroke, int pointIndex, uint16_t index);
  Sample(const Sample& other) = default;
  Sample& operator=(const Sample& other) = default;
  ~Sample() override = default;

  // The ring of the sample's point at the stroke's full width (no taper), in the frame before
  // every level: one point per ring vertex of the stroke's curvature profile. None without a
  // stroke.
  void getPoints(std::vector<Vec3f>& points) const override;
  // toWorld: world = local x m; else local = world x m. The pitch goes without translation and
  // is made unit.
  void transformPosition(const Matrix4& m, bool toWorld);
  void transformPitch(const Matrix4& m, bool toWorld);
  // m_rotation = the first frame record (as a 3x3 of its first three axes) times the matrix of
  // the given axes: the sample's current frame relative to its first one. Nothing without a
  // frame record.
  void setFrame(const Vec3f& a, const Vec3f& b, const Vec3f& c);

  Operatable* m_stroke = nullptr;
  uint16_t m_index = 0;
  Vec3f m_localPosition;  // in the stroke's own frame (before any transform level)
  Vec3f m_localPitch;     // zero when the stroke has fewer pitches than points
  Vec3f m_position;       // world position under the stroke's transform level
  Vec3f m_pitch;          // world pitch, unit length
  Vec3f m_origin;         // world position when the samples were built
  std::vector<FrameRecord> m_frames;  // pushed by Operatable::buildSampleFrames
  FloatGrid m_rotation{3, 3, 0.0f};   // set by setFrame
  std::vector<coreNeighborable*> m_neighbors;
};
