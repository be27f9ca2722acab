#pragma once
#include <cstdint>
#include <vector>

#include "core/core_object.h"
#include "core/matrix.h"
#include "core/vec.h"
#include "strokes/deformable.h"

namespace quillax {
class Color;
class Operation;
}  // namespace quillax

class Sample;

// Stroke flag bits beyond the twelve coreObject flags.
constexpr int kStrokeNoCollisionBit = 13;  // not pushed off or along the head

// Points a stroke may hold: sample indices are 16-bit.
constexpr int kMaxStrokePoints = 65535;

// One hair stroke, and the base of every editing operation. Owns the stored form (a
// quillax::Operation, edited in place) and keeps what is not stored around it: samples, control
// points, render-buffer place, transform level and the operations that refer to it.
class Operatable : public coreObject, public coreDeformable {
 public:
  // A new stroke from the current brush state; a negative texture takes g_hairTexture.
  explicit Operatable(int texture);
  // A copy with its own id, op_id 0, no buffer place and no references.
  Operatable(const Operatable& other);
  // From a stored message, taking ownership of it (null gives an empty stroke). The message is
  // completed and checked first (fillOperationDefaults).
  explicit Operatable(quillax::Operation* operation);
  Operatable& operator=(const Operatable&) = delete;
  // Does not detach: the owner detaches first when operations may still refer to the stroke.
  ~Operatable() override;

  // Withdraws this stroke from the operations that hold it (selections, recolours, transforms).
  virtual void detach();
  // values: the drawing hand's frame (count floats); other: the other hand's (otherCount, may be
  // null with 0), which operations that use both hands read. A stroke grows by addPoint from
  // the drawing hand alone; both return the number of points added.
  virtual int begin(const float* values, int count, const float* other, int otherCount);
  virtual int step(const float* values, int count, const float* other, int otherCount);
  // The point count when the stroke is worth keeping (texture >= 0, at least 2 points), else 0.
  virtual int finish();
  // Undo and redo hooks: hide and show.
  virtual void revert();
  virtual void apply();

  // values: position (count 3), then pitch (6), then normal (9), world metres. The first point is
  // taken as given; later ones are laid at sampling_distance along the move from the last point,
  // only when the hand moved at least 1.0001 spacings, the remainder dropped. Returns points
  // added. Non-finite input adds nothing.
  int addPoint(const float* values, int count);
  // Writes the stroke as stored, in the frame before every transform level. Into the stroke's own
  // message only the flags are written, so its points never leave the stroke's frame.
  void toProto(quillax::Operation* out) const;

  // Lists op among the operations holding this stroke, by its op_id (see m_selectRefs); other
  // ids and null are ignored. unregisterOp drops its newest entry: false when it was not there.
  void registerOp(Operatable* op);
  bool unregisterOp(Operatable* op);
  // The newest visible recolour operation's colour, else the stroke's own.
  const quillax::Color& currentColor() const;
  // Position at a fractional point index, clamped to the ends; the origin for a stroke without
  // points.
  Vec3f pointAt(float t) const;
  int pointCount() const;

  // Gives each absent field of a stored message its value, drops mesh data, and brings values
  // the stroke code cannot use into range (texture, curvature, point count, light curve,
  // non-finite numbers), with a line naming the stroke for each.
  static void fillOperationDefaults(quillax::Operation* operation);

  // ---- control points (deformable.cpp) ----
  // From the stored midaxis when it holds whole points (refitted to c = controlSampleSize()
  // points when it holds another number), else c points along the samples (or the points, in
  // the stored frame); the midaxis is then rewritten. m_control and m_target both become it.
  // Returns the number of control floats.
  int rebuildControl() override;
  // The samples move to their origins plus the control displacements (m_control - m_target,
  // spread over the samples) and the stroke is rebuilt from them; the midaxis takes m_control.
  // Nothing unless both vectors hold the same whole points.
  void deform() override;
  // The base distance widened by the difference of the point counts.
  float distanceTo(const coreDeformable* other) const override;

  // ---- geometry (stroke_geometry.cpp) ----
  // Ring vertices per point: 0 for a negative texture, 1 for the pen, |curvature| + 2 otherwise.
  int verticesPerPoint() const;
  // Vertices of points [first, end) (end ~0u: all) into out from index 0, per vertex the
  // attributes whose flag (a0 to a6) is set; out is grown, never shrunk. Returns floats written;
  // 0 with fewer than 2 points or without a profile for the curvature.
  int buildStrandGeometry(std::vector<float>& out, uint32_t first, uint32_t end,
                          const bool* flags) const;
  // Triangle (or quad) indices of the ribbon of points [first, end) (end ~0u or ~1u: all), the
  // first vertex of point `first` being `base`. 0 for a stroke that is not drawn as a ribbon.
  int fillIndexBuffer(std::vector<uint32_t>& out, uint32_t first, uint32_t end, uint32_t base,
                      bool quads) const;
  // The debug streams, each into out from index 0 (grown, never shrunk), returning the floats
  // written. Per point of [first, end) (end -1: all) the point (a0), normal (a2) and pitch (a3)
  // as flagged.
  int fillPointBuffer(std::vector<float>& out, int first, int end, const bool* flags) const;
  // Each sample's local position.
  int fillSampleBuffer(std::vector<float>& out) const;
  // Each control point carried into the current scene.
  int fillControlBuffer(std::vector<float>& out) const;

  // ---- frames, samples and post-processing (stroke_samples.cpp) ----
  // Rebuilds the frame of every point from the tangent along the stroke and the pitch: pitches
  // made perpendicular to the tangent (pitches), normals = tangent x pitch (normals, one per
  // point). Nothing unless there is one pitch per point.
  void computeFrames(bool pitches, bool normals);
  // Cuts the stroke into samples about sampling_space points apart, first and last point
  // included, placed in the frame before every level, each with its first frame record. Returns
  // the sample count (0 below 2 points).
  int buildSamples();
  // Appends to each sample's frames the record of its tangent (to its neighbours) and pitch.
  void buildSampleFrames();
  // fromPoints: samples take their points (and pitches when complete) as local values and the
  // world values follow through the level's inverse; else the local values follow the world ones
  // through the level's forward transform.
  void syncSamples(bool fromPoints);
  // World position at a fractional sample index, linear between samples; a fraction below 0.01
  // is the sample itself. Clamped to the samples; the origin without any.
  Vec3f samplePositionAt(float t) const;
  // Distance from p (world) to the nearest sample; sqrt(1e9) without samples.
  float nearestSampleDistance(const Vec3f& p) const;
  // False when no sample can lie within r of p (world), judged by the box around the samples
  // that buildSamples and syncSamples keep, so a search can pass the stroke by without reading
  // its samples. True when the box is not known.
  bool samplesMayReach(const Vec3f& p, float r) const;
  // The box around the samples' world positions, after they moved.
  void updateSampleBounds();
  // After a stroke is finished: samples corrected against the head's level set (attached for the
  // attach shape, else pushed out of the head and aligned to it), then the points and pitches
  // refitted from them (a Catmull-Rom fit with smoothing on). Returns the sample count; a stroke
  // of fewer than 2 samples is left as it is.
  int postProcess();
  // Puts samples 0 to 4 on levels climbing from 0.05 x width to that plus height off the head,
  // the rest on the top one, pitches made tangent to the head. Nothing without a level set.
  void attachToHead();
  // Puts the root at 0.2 x height off the head and moves later samples outward to at most
  // 1.1 x height, the corrections smoothed along the stroke. Nothing without a level set.
  void pushOffHead();
  // Carries each sample's frame along the corrected samples, and the pitches with it.
  void alignAlongStroke();
  // Turns the root pitches (fading over six samples) so that the root lies along the head.
  void alignRootToHead();
  // Points (positions) and pitches (pitches) rebuilt from the samples' local values: a
  // Catmull-Rom fit spaced by arc length when smooth, else the points moved by the samples'
  // interpolated displacements. Always n points and n pitches; normals recomputed.
  void refitFromSamples(bool smooth, bool positions, bool pitches);

  quillax::Operation* m_operation = nullptr;  // owned; never null
  std::vector<uint16_t> m_sampleIndices;      // point index of each sample
  std::vector<Sample*> m_samples;             // owned, one per sample index
  int16_t m_bufferIndex = -1;                 // render buffer of the owning history, -1 none
  int16_t m_bufferSlot = -1;                  // slot in that buffer, -1 none
  int16_t m_transformLevel = 0;               // transform level the stroke was made at
  // The box around the samples' world positions; not known until the samples are placed.
  Vec3f m_sampleLow, m_sampleHigh;
  bool m_sampleBoundsKnown = false;
  // Operations that hold this stroke (not owned): selections and colour picks (op_id 2, 3, 4,
  // 6, 7, 8), recolours (5), transforms (9).
  std::vector<Operatable*> m_selectRefs;
  std::vector<Operatable*> m_recolorRefs;
  std::vector<Operatable*> m_transRefs;
};

// Transform levels of the whole-scene moves. A stroke of level k >= 1 is stored through
// levelInverse(k) and its control points are shown through levelForward(k); both give null for
// level 0 and for a level the transform tool does not hold (the stroke then stays in its frame).
int transformLevelCount();
const Matrix4* levelInverse(int level);
const Matrix4* levelForward(int level);
// What a length at level `level` measures in the frame before every level: the length of the x
// axis of levelInverse(level); 1 where there is none.
float levelInverseScale(int level);
