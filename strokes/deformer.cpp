#include "strokes/deformer.h"

#include <algorithm>
#include <cmath>

#include "core/geometry.h"
#include "core/settings.h"
#include "render/modeler.h"
#include "strokes/deformable.h"
#include "strokes/operatable.h"
#include "strokes/select_ops.h"

Deformer* g_deformer = nullptr;

namespace {

bool collectable(const Operatable* op) {
  return op->isRenderable() && !op->isRemoved() && op->isVisible() && op->isSelected() &&
         op->m_operation->shape() != BRUSH_ATTACH && op->m_samples.size() >= 2;
}

}  // namespace

Deformer::Deformer(Interactor* source)
    : Interactor(TOOL_DEFORM), m_controlSampleSize(controlSampleSize()), m_source(source) {}

Deformer::~Deformer() {
  if (g_deformer == this) g_deformer = nullptr;
  dropSelection();
  // The guides go with the history; none of them is a collected stroke.
  m_strokes.clear();
}

void Deformer::dropSelection() {
  if (!m_selectOp) return;
  Operatable* op = m_selectOp;
  m_selectOp = nullptr;
  op->detach();
  delete op;
}

void Deformer::reset() {
  // A target choice still being made belongs to no history.
  if (!m_selectOp && engaged() && m_currentOp) {
    Operatable* op = m_currentOp;
    m_currentOp = nullptr;
    setSelected(false);
    discard(op);
  }
  Interactor::reset();
  dropSelection();
  m_guideTargets.clear();
  m_strokes.clear();
  m_weights.clear();
  m_weightRows = m_weightColumns = 0;
  m_targetIndex = -1;
}

bool Deformer::redo() {
  if (engaged()) return false;
  if (!BufferUndoer::redo(nullptr)) return false;
  deformStep();
  return true;
}

bool Deformer::undo(Operatable* op) {
  if (engaged()) return false;
  if (!BufferUndoer::undo(op)) return false;
  deformStep();
  return true;
}

void Deformer::store(Operatable* guide) {
  BufferUndoer::store(guide);
  if (!guide) return;
  guide->rebuildControl();
  m_guideTargets.push_back(m_targetIndex);
  m_targetIndex = -1;
  dropSelection();
  deformStep();
}

bool Deformer::eraseRange(int first, int last) {
  const int count = static_cast<int>(m_guideTargets.size());
  const int from = std::max(first, 0), to = std::min(last, count - 1);
  if (from <= to) m_guideTargets.erase(m_guideTargets.begin() + from, m_guideTargets.begin() + to + 1);
  return Interactor::eraseRange(first, last);
}

void Deformer::draw(const Matrix4& model, const Matrix4& viewProjection) {
  Matrix4 grabbed = model;
  if (g_modeler) multiplyMatrix4(g_modeler->sceneGrabMatrix(), grabbed, model);
  Interactor::draw(grabbed, viewProjection);
}

void Deformer::deactivate() { dropSelection(); }

bool Deformer::press(const float* pose, int n, const float* otherPose, int m) {
  if (m_selectOp) return Interactor::press(pose, n, otherPose, m);
  if (engaged()) return false;
  m_currentOp = nullptr;
  if (!flagOn(FLAG_OTHER_TRIGGER)) return false;
  setSelected(true);
  m_currentOp = new DeformSelectOp(m_source);
  return m_currentOp->begin(pose, n, otherPose, m) != 0;
}

bool Deformer::move(const float* pose, int n, const float* otherPose, int m) {
  if (m_selectOp) return Interactor::move(pose, n, otherPose, m);
  return engaged() && m_currentOp && m_currentOp->step(pose, n, otherPose, m) != 0;
}

bool Deformer::release(const float* pose, int n, const float* otherPose, int m) {
  if (m_selectOp) return Interactor::release(pose, n, otherPose, m);
  if (!engaged()) return false;
  setSelected(false);
  SelectOp* selection = dynamic_cast<SelectOp*>(m_currentOp);
  if (!selection) {
    m_currentOp = nullptr;
    return false;
  }
  const int result = selection->finish();
  int target = -1;
  if (!selection->m_selected.empty()) {
    for (size_t k = 0; k < m_strokes.size(); ++k)
      if (m_strokes[k] == selection->m_selected.front()) target = static_cast<int>(k);
  }
  m_currentOp = nullptr;
  if (result != 0 && target >= 0) {
    m_targetIndex = target;
    m_selectOp = selection;  // kept, its choice shown, until the guide is stored
    return true;
  }
  discard(selection);
  return false;
}

void Deformer::collectStrokes() {
  if (!m_source) return;
  std::vector<Operatable*> collected;
  const int last = std::min(m_source->m_cursor, m_source->size() - 1);
  for (int i = 0; i <= last; ++i) {
    Operatable* op = m_source->m_history[static_cast<size_t>(i)];
    if (op && collectable(op)) collected.push_back(op);
  }
  if (collected == m_strokes) return;

  const int oldCount = static_cast<int>(m_strokes.size()), newCount = static_cast<int>(collected.size());
  for (int j = static_cast<int>(m_guideTargets.size()) - 1; j >= 0; --j) {
    int& t = m_guideTargets[static_cast<size_t>(j)];
    const bool kept = t >= 0 && t < oldCount && t < newCount && m_strokes[static_cast<size_t>(t)] == collected[static_cast<size_t>(t)];
    if (!kept) t = -1;
    if (j < size()) {
      if (Operatable* guide = m_history[static_cast<size_t>(j)]) guide->setRemoved(!kept);
    }
  }

  m_strokes.swap(collected);
  const size_t n = m_strokes.size();
  m_weights.assign(n, std::vector<float>(n, 0.0f));
  m_weightRows = m_weightColumns = static_cast<int>(n);
  const double strength = g_parameters.deform_strength();
  for (size_t i = 0; i < n; ++i) {
    m_weights[i][i] = 1.0f;
    for (size_t j = i + 1; j < n; ++j) {
      const double d = m_strokes[i]->distanceTo(m_strokes[j]);
      const float w = static_cast<float>(std::exp(-d / (strength + 0.0001)));
      m_weights[i][j] = m_weights[j][i] = w;
    }
  }
}

float Deformer::weight(int i, int j) const {
  if (i < 0 || j < 0 || i >= m_weightRows || j >= m_weightColumns) return 0.0f;
  return m_weights[static_cast<size_t>(i)][static_cast<size_t>(j)];
}

void Deformer::deformStep() {
  const size_t K = static_cast<size_t>(std::max(m_controlSampleSize, 0)) * 3;
  const int strokeCount = static_cast<int>(m_strokes.size());

  // The applied guides' displacements, each pinned at its target's root: the root offset fades
  // by e^-0.3 per control point, so a guide drawn a little off its target bends it in place.
  std::vector<std::vector<float>> displacements;
  std::vector<int> targets;
  const int applied = std::min({m_cursor, size() - 1, static_cast<int>(m_guideTargets.size()) - 1});
  for (int j = 0; j <= applied; ++j) {
    const int t = m_guideTargets[static_cast<size_t>(j)];
    const Operatable* guide = m_history[static_cast<size_t>(j)];
    if (t < 0 || t >= strokeCount || !guide) continue;
    const std::vector<float>& G = guide->m_target;
    const std::vector<float>& R = m_strokes[static_cast<size_t>(t)]->m_target;
    // Control points of another count than the tool's would be read past their end.
    if (K < 3 || G.size() != K || R.size() != K) continue;
    const float o[3] = {G[0] - R[0], G[1] - R[1], G[2] - R[2]};
    std::vector<float> D(K, 0.0f);
    for (size_t i = 3; i < K; ++i)
      D[i] = (G[i] - R[i]) - static_cast<float>(std::exp(-0.3 * static_cast<double>(i / 3))) * o[i % 3];
    displacements.push_back(std::move(D));
    targets.push_back(t);
  }

  std::vector<float> x(targets.size()), w;
  for (int k = 0; k < strokeCount; ++k) {
    Operatable* stroke = m_strokes[static_cast<size_t>(k)];
    if (stroke->m_target.size() != K) continue;
    stroke->m_control = stroke->m_target;
    if (!targets.empty()) {
      for (size_t g = 0; g < targets.size(); ++g) x[g] = weight(k, targets[g]);
      w.assign(targets.size(), 0.0f);
      toNormalizedWeights(x, w, true);
      for (size_t g = 0; g < targets.size(); ++g) {
        if (w[g] == 0.0f) continue;
        const std::vector<float>& D = displacements[g];
        for (size_t i = 0; i < K; ++i) stroke->m_control[i] += w[g] * D[i];
      }
    }
    stroke->deform();
    if (m_source) m_source->refreshOperation(stroke);
  }
}

void Deformer::carryGuides(const Operatable* stroke, const Matrix4& t) {
  const size_t guides = std::min(m_guideTargets.size(), m_history.size());
  for (size_t j = 0; j < guides; ++j) {
    const int k = m_guideTargets[j];
    if (k < 0 || k >= static_cast<int>(m_strokes.size())) continue;
    Operatable* guide = m_history[j];
    if (guide && m_strokes[static_cast<size_t>(k)] == stroke) guide->transformControl(t);
  }
}

void Deformer::removeOperation(Operatable* stroke) {
  int k = -1;
  for (int i = static_cast<int>(m_strokes.size()) - 1; i >= 0; --i) {
    if (m_strokes[static_cast<size_t>(i)] == stroke) {
      k = i;
      break;
    }
  }
  if (k < 0) return;
  // The stroke leaves the list with its row and column, so the matrix stays square over it and
  // the guides above it keep pointing at their own strokes.
  for (int& t : m_guideTargets) {
    if (t == k)
      t = -1;
    else if (t > k)
      --t;
  }
  m_strokes.erase(m_strokes.begin() + k);
  if (k < m_weightRows) {
    m_weights.erase(m_weights.begin() + k);
    --m_weightRows;
  }
  if (k < m_weightColumns) {
    for (std::vector<float>& row : m_weights) row.erase(row.begin() + k);
    --m_weightColumns;
  }
  if (m_targetIndex == k)
    m_targetIndex = -1;
  else if (m_targetIndex > k)
    --m_targetIndex;
}
