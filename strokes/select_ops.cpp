#include "strokes/select_ops.h"

#include <algorithm>

#include "core/settings.h"
#include "quillax.pb.h"
#include "strokes/buffer_undoer.h"

// ---- SelectOp ----

SelectOp::SelectOp(coreUndoer<Operatable*>* source) : SelectOp(source, OP_SELECT) {}

SelectOp::SelectOp(coreUndoer<Operatable*>* source, int opId) : Operatable(-1), m_source(source) {
  m_operation->set_texture(HAIR_TEXTURE_PEN);
  m_operation->set_op_id(opId);
}

void SelectOp::detach() {
  Operatable::detach();
  releaseTargets();
}

void SelectOp::releaseTargets() {
  for (Operatable* target : m_selected) {
    unmark(target);
    target->unregisterOp(this);
  }
  m_selected.clear();
}

bool SelectOp::forgetTarget(Operatable* target) {
  const auto it = std::find(m_selected.rbegin(), m_selected.rend(), target);
  if (it == m_selected.rend()) return false;
  m_selected.erase(std::next(it).base());
  return true;
}

void SelectOp::targetLeaving(Operatable* target) {
  if (std::find(m_selected.begin(), m_selected.end(), target) == m_selected.end()) return;
  unmark(target);
  forgetTarget(target);
}

int SelectOp::begin(const float* values, int count, const float* /*other*/, int /*otherCount*/) {
  addPoint(values, count);
  return countCandidates();
}

int SelectOp::step(const float* values, int count, const float* /*other*/, int /*otherCount*/) {
  if (addPoint(values, count) == 0) return 0;
  const Vec3f newest = pointAt(1e9f);
  const float r = uiValueAt(VALUE_SPHERE_RADIUS, 0.0f);
  const int changed = onPoint(newest, r);
  // The path is in the scene as it is now; the samples are in the stored frame.
  Vec3f stored = newest;
  if (const Matrix4* inverse = levelInverse(m_transformLevel))
    stored = transformPoint(*inverse, stored);
  return changed + select(&stored[0], r * uiValueAt(VALUE_TRANSFORM_SCALE, 1.0f));
}

int SelectOp::finish() { return static_cast<int>(m_selected.size()); }

void SelectOp::revert() {
  for (Operatable* target : m_selected) unmark(target);
}

void SelectOp::apply() {
  for (Operatable* target : m_selected) mark(target);
}

int SelectOp::onPoint(const Vec3f& /*point*/, float /*radius*/) { return 0; }

bool SelectOp::canSelect(Operatable* target) {
  return !target->isSelected() && !target->isRemoved() && target->isVisible() &&
         target->isRenderable();
}

float SelectOp::score(Operatable* target, const float* point, float radius) {
  const Vec3f p(point[0], point[1], point[2]);
  if (!target->samplesMayReach(p, radius)) return -1.0f;
  const float d = target->nearestSampleDistance(p);
  return d > radius ? -1.0f : d;
}

void SelectOp::unmark(Operatable* target) { target->setSelected(false); }

void SelectOp::mark(Operatable* target) { target->setSelected(true); }

void SelectOp::addSelected(Operatable* target) {
  m_selected.push_back(target);
  target->registerOp(this);
}

int SelectOp::countCandidates() {
  int count = 0;
  forEachSourceCandidate([&](Operatable* op) {
    if (canSelect(op)) ++count;
  });
  return count;
}

bool SelectOp::sourceStrokesNear(const float* point, float radius) {
  m_near.clear();
  BufferUndoer* history = dynamic_cast<BufferUndoer*>(m_source);
  return history && history->strokesNear(Vec3f(point[0], point[1], point[2]), radius, m_near);
}

int SelectOp::select(const float* point, float radius) {
  int taken = 0;
  forEachCandidateNear(point, radius, [&](Operatable* op) {
    if (canSelect(op) && score(op, point, radius) >= 0.0f) {
      mark(op);
      addSelected(op);
      ++taken;
    }
  });
  return taken;
}

int SelectOp::selectAll() {
  int taken = 0;
  forEachSourceCandidate([&](Operatable* op) {
    if (canSelect(op)) {
      mark(op);
      addSelected(op);
      ++taken;
    }
  });
  return taken;
}

// ---- NearestSelectOp ----

NearestSelectOp::NearestSelectOp(coreUndoer<Operatable*>* source)
    : NearestSelectOp(source, OP_NEAREST_SELECT) {}

NearestSelectOp::NearestSelectOp(coreUndoer<Operatable*>* source, int opId)
    : SelectOp(source, opId) {}

int NearestSelectOp::select(const float* point, float radius) {
  if (!m_source) return 0;
  releaseTargets();
  float best = 1e9f;
  Operatable* nearest = nullptr;
  forEachCandidateNear(point, radius, [&](Operatable* op) {
    if (!canSelect(op)) return;
    const float s = score(op, point, radius);
    // Not skipped at an equal score: the later (newer) candidate wins a tie.
    if (s < 0.0f || s > best) return;
    best = s;
    nearest = op;
  });
  if (nearest) {
    mark(nearest);
    addSelected(nearest);
  }
  return static_cast<int>(m_selected.size());
}

// ---- DeformSelectOp ----

DeformSelectOp::DeformSelectOp(coreUndoer<Operatable*>* source)
    : NearestSelectOp(source, OP_DEFORM_SELECT) {}

bool DeformSelectOp::canSelect(Operatable* target) {
  return target->isSelected() && target->m_operation->shape() != BRUSH_ATTACH &&
         !target->getFlag2() && !target->isRemoved() && target->isVisible() &&
         target->isRenderable();
}

void DeformSelectOp::unmark(Operatable* target) { target->setFlag2(false); }

void DeformSelectOp::mark(Operatable* target) { target->setFlag2(true); }
