#include "strokes/sample.h"

#include "core/geometry.h"
#include "quillax.pb.h"
#include "strokes/operatable.h"

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
