#include "strokes/sample.h"

#include <cstdlib>

#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "strokes/operatable.h"

namespace {

constexpr int kProfileOffset = 23;  // profile index = curvature + 23

Vec3f column(const float* record, int axis) {
  return Vec3f(record[3 * axis], record[3 * axis + 1], record[3 * axis + 2]);
}

}  // namespace

Sample::Sample(Operatable* stroke, int pointIndex, uint16_t index) : m_index(index) {
  if (!stroke || pointIndex < 0 || pointIndex >= stroke->pointCount()) return;
  m_stroke = stroke;
  const quillax::Operation& op = *stroke->m_operation;
  m_localPosition = toVec3(op.points(pointIndex));
  if (op.pitches_size() == op.points_size()) m_localPitch = toVec3(op.pitches(pointIndex));
  m_position = m_localPosition;
  m_pitch = normalized(m_localPitch);
  m_origin = m_position;
}

void Sample::getPoints(std::vector<Vec3f>& points) const {
  if (!m_stroke || m_index >= m_stroke->m_sampleIndices.size()) return;
  const quillax::Operation& op = *m_stroke->m_operation;
  const int n = op.points_size();
  const int i = m_stroke->m_sampleIndices[m_index];
  if (i >= n) return;
  const Matrix4* inverse = levelInverse(m_stroke->m_transformLevel);
  auto add = [&](const Vec3f& p) { points.push_back(inverse ? transformPoint(*inverse, p) : p); };

  const Vec3f P = toVec3(op.points(i));
  const int m = m_stroke->verticesPerPoint();
  const int profileIndex = op.curvature() + kProfileOffset;
  const bool hasProfile = profileIndex >= 0 &&
                          profileIndex < static_cast<int>(g_curveProfiles.size()) &&
                          g_curveProfiles[profileIndex].size() >= static_cast<size_t>(2 * m);
  if (m < 1 || !hasProfile) {
    add(P);  // still filed, by its point
    return;
  }
  const quillax::Operation_Mesh& mesh = op.meshes();
  if (op.has_meshes() && mesh.vpoints_size() >= n * m) {
    for (int j = 0; j < m; ++j) add(toVec3(mesh.vpoints(i * m + j)));
    return;
  }
  const Vec3f T = op.pitches_size() == n ? toVec3(op.pitches(i)) : Vec3f();
  const Vec3f N = op.normals_size() == n ? toVec3(op.normals(i)) : Vec3f();
  const float w = op.width();
  const std::vector<float>& profile = g_curveProfiles[profileIndex];
  for (int j = 0; j < m; ++j) add(P + (profile[2 * j] * w) * T + (profile[2 * j + 1] * w) * N);
}

void Sample::transformPosition(const Matrix4& m, bool toWorld) {
  if (toWorld)
    m_position = transformPoint(m, m_localPosition);
  else
    m_localPosition = transformPoint(m, m_position);
}

void Sample::transformPitch(const Matrix4& m, bool toWorld) {
  if (toWorld)
    m_pitch = normalized(transformDirection(m, m_localPitch));
  else
    m_localPitch = normalized(transformDirection(m, m_pitch));
}

void Sample::setFrame(const Vec3f& a, const Vec3f& b, const Vec3f& c) {
  if (m_frames.empty()) return;
  // The first frame as the orthonormal triple (tangent, derived pitch, binormal) it was built
  // from; R = current x first^T carries the first frame's axes onto a, b, c.
  const float* first = m_frames.front().data();
  const Vec3f f[3] = {column(first, 0), column(first, 3), column(first, 2)};
  const Vec3f now[3] = {a, b, c};
  if (m_rotation.rows() != 3 || m_rotation.columns() != 3) m_rotation = FloatGrid(3, 3, 0.0f);
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 3; ++col) {
      float s = 0.0f;
      for (int k = 0; k < 3; ++k) s += now[k][row] * f[k][col];
      m_rotation[row][col] = s;
    }
}
