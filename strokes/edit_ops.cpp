#include "strokes/edit_ops.h"

#include <cmath>

#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/grider.h"
#include "render/modeler.h"
#include "strokes/buffer_undoer.h"
#include "strokes/deformer.h"
#include "strokes/sample.h"
#include "strokes/stroke_geometry.h"
#include "strokes/transformer.h"

namespace {

constexpr float kSameColor = 0.01f;
constexpr int kConnectMinSamples = 5;
constexpr int kConnectMinPoints = 4;
constexpr float kBendFalloff = 0.1f;  // per point walked back from the cut
constexpr float kBendLeast = 0.1f;    // the walk stops before a weight below this
constexpr float kRigidScale = 1e-5f;  // float rounding of a rotation's axis length
constexpr float kLeastWidthScale = 0.0316f;

float columnLength(const Matrix4& m, int column) {
  return static_cast<float>(length(Vec3f(m.at(0, column), m.at(1, column), m.at(2, column))));
}

// What a move scales a stroke's width by: its x axis's length, exactly 1 for a rigid move (so
// that moves do not compound rounding), and never below kLeastWidthScale, so that a degenerate
// move cannot leave a stroke without width.
float widthScale(const Matrix4& t) {
  const float scale = columnLength(t, 0);
  if (std::fabs(scale - 1.0f) <= kRigidScale) return 1.0f;
  return scale > kLeastWidthScale ? scale : kLeastWidthScale;
}

// The shader a stroke of this texture is drawn with; -1 for a texture without a render row.
int shaderOfTexture(int texture) {
  const int32_t* row = renderRow(texture);
  return row ? row[1] : -1;
}

bool sameColor(const quillax::Color& a, const quillax::Color& b) {
  return std::fabs(a.red() - b.red()) < kSameColor &&
         std::fabs(a.green() - b.green()) < kSameColor &&
         std::fabs(a.blue() - b.blue()) < kSameColor &&
         std::fabs(a.alpha() - b.alpha()) < kSameColor;
}

// A list entry moved by d, made unit when asked.
void moveEntry(quillax::Operation_Point* p, const Vec3f& d, bool unit) {
  const Vec3f moved = toVec3(*p) + d;
  setPoint(p, unit ? normalized(moved) : moved);
}

}  // namespace

// ---- DeleteOp ----

DeleteOp::DeleteOp(coreUndoer<Operatable*>* source) : SelectOp(source, OP_DELETE) {}

bool DeleteOp::canSelect(Operatable* target) { return !target->isRemoved() && target->isVisible(); }

void DeleteOp::unmark(Operatable* target) { target->setRemoved(false); }

void DeleteOp::mark(Operatable* target) { target->setRemoved(true); }

// ---- RecolorOp ----

RecolorOp::RecolorOp(coreUndoer<Operatable*>* source) : SelectOp(source, OP_RECOLOR) {}

bool RecolorOp::canSelect(Operatable* target) {
  if (!SelectOp::canSelect(target)) return false;
  if (target->m_recolorRefs.empty()) return true;
  const Operatable* newest = target->m_recolorRefs.back();
  if (newest == this) return false;
  return !sameColor(newest->m_operation->color(), m_operation->color());
}

void RecolorOp::unmark(Operatable* /*target*/) { setVisible(false); }

void RecolorOp::mark(Operatable* /*target*/) { setVisible(true); }

int RecolorOp::countCandidates() {
  // The registry keeps no per-model texture data, so no model adds to the count.
  return flagOn(FLAG_OTHER_TRIGGER) ? selectAll() : SelectOp::countCandidates();
}

int RecolorOp::onPoint(const Vec3f& point, float /*radius*/) {
  if (!g_modeler) return 0;
  const quillax::Color& c = m_operation->color();
  const Vec4f tint(c.red() * c.alpha(), c.green() * c.alpha(), c.blue() * c.alpha(), c.lightness());
  int tinted = 0;
  for (auto& entry : g_modeler->m_models) {
    ModelElement* model = entry.second;
    if (!model) continue;
    const BoundingBox* box = model->box();
    if (!box || !box->contains(point, true)) continue;
    model->setColor(tint);
    ++tinted;
  }
  return tinted;
}

// ---- SetColorOp ----

SetColorOp::SetColorOp(coreUndoer<Operatable*>* source) : NearestSelectOp(source, OP_SET_COLOR) {}

void SetColorOp::unmark(Operatable* /*target*/) { setCurrentColor(m_operation->color()); }

void SetColorOp::mark(Operatable* target) { setCurrentColor(target->currentColor()); }

// ---- ConnectOp ----

ConnectOp::ConnectOp(coreUndoer<Operatable*>* source) : NearestSelectOp(source, OP_CONNECT) {
  m_operation->set_texture(g_hairTexture);
}

bool ConnectOp::canSelect(Operatable* target) {
  if (!SelectOp::canSelect(target)) return false;
  const int shape = target->m_operation->shape();
  if (shape != BRUSH_SHAPE_DEFAULT && shape != BRUSH_ATTACH) return false;
  const int shader = shaderOfTexture(target->m_operation->texture());
  return shader >= 0 && shader == shaderOfTexture(m_operation->texture());
}

void ConnectOp::unmark(Operatable* target) { target->setRemoved(false); }

void ConnectOp::mark(Operatable* target) { target->setRemoved(true); }

int ConnectOp::begin(const float* values, int count, const float* /*other*/, int /*otherCount*/) {
  if (!values || count < 3) return 0;
  const Vec3f hand(values[0], values[1], values[2]);

  // The targets' samples are in the stored frame: the hand and the reach go there.
  float reach = m_operation->width();
  Vec3f stored = hand;
  if (const Matrix4* inverse = levelInverse(m_transformLevel)) {
    reach *= columnLength(*inverse, 0);
    stored = transformPoint(*inverse, hand);
  }
  select(&stored[0], reach);
  if (m_selected.empty()) return 0;
  const Operatable* target = m_selected.front();
  if (target->m_samples.size() < static_cast<size_t>(kConnectMinSamples)) return 0;

  quillax::Operation& op = *m_operation;
  op = *target->m_operation;
  op.set_unique_id(static_cast<int64_t>(m_id));
  op.set_op_id(OP_CONNECT);
  // The colour the target is shown in: a recolour lives in its own operation, not in the
  // target's message, and would otherwise be lost on the continuation.
  *op.mutable_color() = target->currentColor();
  // The target's control points lie along the part that is cut off; the release takes fresh
  // ones from the continued stroke.
  op.clear_midaxis();
  // From the target's level into this operation's, which is the scene as it is now. The width
  // is a length in the stroke's own frame, so it goes across with the points.
  const Matrix4* forward = levelForward(m_transformLevel);
  const Matrix4* inverse = levelInverse(target->m_transformLevel);
  if (forward || inverse) {
    Matrix4 carry;
    multiplyMatrix4(forward ? *forward : Matrix4(), carry, inverse ? *inverse : Matrix4());
    transformOperationPoints(op, carry);
    op.set_width(op.width() * columnLength(carry, 0));
  }

  const int n = op.points_size();
  if (n < kConnectMinPoints) return 0;
  int k = 0;
  float best = squaredLength(toVec3(op.points(0)) - hand);
  for (int i = 1; i < n; ++i) {
    const float d = squaredLength(toVec3(op.points(i)) - hand);
    if (d < best) {
      best = d;
      k = i;
    }
  }
  if (2 * k < n) return 0;  // the root half: nothing to continue

  const int end = k - 1;
  const Vec3f dp = hand - toVec3(op.points(end));
  const bool withPitch = count >= 6 && end < op.pitches_size();
  const bool withNormal = count >= 9 && end < op.normals_size();
  const Vec3f dq =
      withPitch ? Vec3f(values[3], values[4], values[5]) - toVec3(op.pitches(end)) : Vec3f();
  const Vec3f dn =
      withNormal ? Vec3f(values[6], values[7], values[8]) - toVec3(op.normals(end)) : Vec3f();
  op.mutable_points()->DeleteSubrange(k, n - k);
  if (op.pitches_size() > k) op.mutable_pitches()->DeleteSubrange(k, op.pitches_size() - k);
  if (op.normals_size() > k) op.mutable_normals()->DeleteSubrange(k, op.normals_size() - k);
  // The end is bent onto the hand, fading back along the stroke; the walk ends at the root.
  for (int i = 0, j = end; j >= 0; ++i, --j) {
    const float w = std::exp(-kBendFalloff * static_cast<float>(i));
    if (w < kBendLeast) break;
    moveEntry(op.mutable_points(j), dp * w, false);
    if (withPitch) moveEntry(op.mutable_pitches(j), dq * w, true);
    if (withNormal) moveEntry(op.mutable_normals(j), dn * w, true);
  }
  return 1;
}

int ConnectOp::step(const float* values, int count, const float* /*other*/, int /*otherCount*/) {
  return addPoint(values, count);
}

int ConnectOp::finish() { return m_selected.empty() ? 0 : Operatable::finish(); }

// ---- TransOp ----

TransOp::TransOp(coreUndoer<Operatable*>* source) : SelectOp(source, OP_TRANSFORM) {
  m_operation->set_texture(-1);
}

bool TransOp::canSelect(Operatable* target) {
  return target->isSelected() && !target->isRemoved() && target->isVisible() &&
         target->isRenderable();
}

int TransOp::begin(const float* values, int count, const float* other, int otherCount) {
  forEachSourceCandidate([&](Operatable* op) {
    if (!canSelect(op)) return;
    addSelected(op);
    mark(op);
  });
  if (m_selected.empty()) return 0;
  grab(values, count, other, otherCount);
  m_mode = 0;
  addPoint(values, count);
  return 1;
}

int TransOp::step(const float* values, int count, const float* other, int otherCount) {
  if (m_selected.empty() || addPoint(values, count) == 0) return 0;
  if (m_mode < 2) m_mode = flagOn(FLAG_OTHER_TRIGGER) ? 2 : 1;
  deltaTransform(values, nullptr, otherCount >= 3 ? other : nullptr);
  return 1;
}

int TransOp::finish() {
  if (m_selected.empty()) return 0;
  // The move was made in the scene as it is now; L carries the stored frame there, so the
  // stored strokes move by L^-1 G L and land where they were shown during the drag.
  Matrix4 toScene;
  if (g_transformer && !g_transformer->m_levelForward.empty())
    toScene = g_transformer->m_levelForward.back();
  Matrix4 toStored;
  invertAffineMatrix4ByLU(toScene, toStored);
  Matrix4 moved, transform;
  multiplyMatrix4(m_transform, moved, toScene);
  multiplyMatrix4(toStored, transform, moved);

  BufferUndoer* history = dynamic_cast<BufferUndoer*>(m_source);
  for (Operatable* target : m_selected) {
    applyTransform(target, transform);
    if (history) history->refreshOperation(target);
  }
  releaseTargets();
  return 1;
}

void applyTransform(Operatable* stroke, const Matrix4& t) {
  // Deform steps rebuild a stroke from its rest shape (reference points and sample origins)
  // and the guides aimed at it: all of them go with the move, or the next step would put the
  // stroke back where it was.
  stroke->transformControl(t);
  for (Sample* sample : stroke->m_samples) {
    sample->m_origin = transformPoint(t, sample->m_origin);
    sample->m_pitch = normalized(transformDirection(t, sample->m_pitch));
  }
  if (g_deformer) g_deformer->carryGuides(stroke, t);
  stroke->m_operation->set_width(stroke->m_operation->width() * widthScale(t));
  stroke->deform();
}

const Matrix4* heldTransform(const Operatable* stroke) {
  if (stroke->m_transRefs.empty()) return nullptr;
  const auto* op = dynamic_cast<const TransOp*>(stroke->m_transRefs.front());
  return op ? &op->m_transform : nullptr;
}
