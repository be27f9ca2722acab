#include "strokes/sample.h"

#include "quillax.pb.h"
#include "strokes/operatable.h"

Sample::Sample(Operatable* stroke, int pointIndex, uint16_t index) : m_index(index) {
  if (!stroke || pointIndex < 0 || pointIndex >= stroke->pointCount()) return;
  m_stroke = stroke;
  const quillax::Operation& op = *stroke->m_operation;
  const quillax::Operation_Point& p = op.points(pointIndex);
  m_localPosition = Vec3f(p.x(), p.y(), p.z());
  if (op.pitches_size() == op.points_size()) {
    const quillax::Operation_Point& q = op.pitches(pointIndex);
    m_localPitch = Vec3f(q.x(), q.y(), q.z());
  }
  m_position = m_localPosition;
  m_pitch = normalized(m_localPitch);
  m_origin = m_position;
}
