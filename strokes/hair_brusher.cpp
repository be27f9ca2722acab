#include "strokes/hair_brusher.h"

#include <algorithm>

#include "core/settings.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "strokes/hair_blender.h"
#include "strokes/operatable.h"

hairBrusher* g_hairBrusher = nullptr;

namespace {

// A mirrored hand frame: the point and the first two axes.
constexpr int kMirroredFrameFloats = 9;

// A trailing hint stroke: drawn, not removed, of the hint shape.
bool isHintStroke(const Operatable* op) {
  return op && !op->isRemoved() && op->isVisible() && op->isRenderable() &&
         op->m_operation->shape() == BRUSH_HINT;
}

}  // namespace

hairBrusher::hairBrusher(int32_t opType) : Interactor(opType) {}

hairBrusher::~hairBrusher() {
  if (g_hairBrusher == this) g_hairBrusher = nullptr;
  delete m_previewBuffer;
  m_previewBuffer = nullptr;
  // A twin still being drawn is in no history: nothing else would delete it.
  if (engaged() && m_mirrorOp) discard(m_mirrorOp);
  m_mirrorOp = nullptr;
  delete m_suggestion;
  m_suggestion = nullptr;
}

void hairBrusher::reset() {
  // The preview first: clearing it touches the twin it holds.
  if (m_previewBuffer) m_previewBuffer->clearBuffers();
  if (engaged() && m_mirrorOp) discard(m_mirrorOp);
  m_mirrorOp = nullptr;  // otherwise a committed twin, which the history reset deletes
  Interactor::reset();
  if (m_suggestion) m_suggestion->reset();
}

bool hairBrusher::redo() {
  if (!Interactor::redo()) return false;
  refreshSuggestion();
  return true;
}

bool hairBrusher::undo(Operatable* op) {
  if (!Interactor::undo(op)) return false;
  refreshSuggestion();
  return true;
}

bool hairBrusher::eraseRange(int first, int last) {
  if (!engaged()) {
    for (int i = first; i <= last; ++i)
      if (m_history[i] == m_mirrorOp) m_mirrorOp = nullptr;
  }
  return Interactor::eraseRange(first, last);
}

void hairBrusher::createBuffer(const StrokeBufferFormat& format, uint32_t capacity) {
  Interactor::createBuffer(format, capacity);
  delete m_previewBuffer;
  m_previewBuffer = new StrokeBufferRender(format, static_cast<uint32_t>(capacity * 0.01));
}

void hairBrusher::draw(const Matrix4& model, const Matrix4& viewProjection) {
  Matrix4 grabbed = model;
  if (g_modeler) multiplyMatrix4(g_modeler->sceneGrabMatrix(), grabbed, model);
  Interactor::draw(grabbed, viewProjection);
  if (m_previewBuffer) m_previewBuffer->draw(grabbed, viewProjection);
}

Mirrow* hairBrusher::mirrorInUse() const {
  if (!m_previewBuffer) return nullptr;
  HeadModel* head = findHeadModel();
  if (!head || !head->m_mirror || !head->m_mirror->isRenderable()) return nullptr;
  return head->m_mirror;
}

bool hairBrusher::press(const float* pose, int n, const float* otherPose, int m) {
  if (!Interactor::press(pose, n, otherPose, m)) return false;
  m_mirrorOp = nullptr;
  Mirrow* mirror = mirrorInUse();
  if (!mirror || n < kMirroredFrameFloats) return true;
  m_mirrorOp = newOperation();
  if (!m_mirrorOp) return true;
  float frame[kMirroredFrameFloats];
  mirror->reflect(pose, frame);
  // A twin that does not start (a connection finding nothing to continue) is no part of the
  // drag: kept, it would hold its target removed, or be committed as a plain copy.
  if (m_mirrorOp->begin(frame, kMirroredFrameFloats, nullptr, 0) == 0) {
    discard(m_mirrorOp);
    m_mirrorOp = nullptr;
    return true;
  }
  m_previewBuffer->pushOperation(m_mirrorOp);
  m_mirrorOp->m_bufferIndex = -1;  // the preview is not one of the history's buffers
  return true;
}

bool hairBrusher::move(const float* pose, int n, const float* otherPose, int m) {
  if (!Interactor::move(pose, n, otherPose, m)) return false;
  // Hiding the mirror mid-drag does not stop the twin; a head replaced mid-drag takes its mirror
  // with it, and the twin stops where it is.
  HeadModel* head = findHeadModel();
  Mirrow* mirror = head ? head->m_mirror : nullptr;
  if (m_mirrorOp && mirror) {
    float frame[kMirroredFrameFloats];
    mirror->reflect(pose, frame);
    m_mirrorOp->step(frame, kMirroredFrameFloats, nullptr, 0);
    m_previewBuffer->writeOperation(m_mirrorOp, true);
  }
  return true;
}

std::vector<Operatable*> hairBrusher::collectCompanions(Operatable* stroke) {
  std::vector<Operatable*> companions;
  makeExtraStrokes(stroke, companions);
  return companions;
}

void hairBrusher::deformForShape(Operatable* stroke) { applyShape(stroke, {}); }

void hairBrusher::prepareFinished(Operatable* stroke) {
  stroke->computeFrames(false, true);
  stroke->buildSamples();
}

void hairBrusher::commitCompanions(const std::vector<Operatable*>& companions) {
  for (Operatable* companion : companions) {
    companion->setFlag7(true);
    companion->postProcess();
    notify(companion, NOTIFY_ADDED);
    push(companion, false);
  }
}

bool hairBrusher::release(const float* /*pose*/, int /*n*/, const float* /*otherPose*/,
                          int /*m*/) {
  if (!engaged()) return false;
  setSelected(false);
  Operatable* stroke = m_currentOp;
  if (!stroke) return false;
  if (m_mirrorOp) m_previewBuffer->clearBuffers();

  if (stroke->finish() < 2) {
    notify(stroke, NOTIFY_ABANDONED);
    discard(stroke);
    m_currentOp = nullptr;
    if (m_mirrorOp) discard(m_mirrorOp);
    m_mirrorOp = nullptr;
    return false;
  }
  const std::vector<Operatable*> companions = collectCompanions(stroke);
  deformForShape(stroke);
  prepareFinished(stroke);
  notify(stroke, NOTIFY_COMMITTED);
  stroke->postProcess();
  // Storing rewrites the post-processed geometry and files the samples in the grid.
  push(stroke, false);
  commitCompanions(companions);

  if (Operatable* twin = m_mirrorOp) {
    if (twin->finish() < 2) {
      discard(twin);
      m_mirrorOp = nullptr;
      return true;
    }
    const std::vector<Operatable*> twinCompanions = collectCompanions(twin);
    twin->setFlag7(true);
    deformForShape(twin);
    prepareFinished(twin);
    twin->postProcess();
    notify(twin, NOTIFY_ADDED);
    push(twin, false);
    commitCompanions(twinCompanions);
  }
  refreshSuggestion();
  return true;
}

void hairBrusher::refreshSuggestion() {
  if (!m_suggestion) return;
  std::vector<Operatable*> hints;
  for (int i = std::min(m_cursor, size() - 1); i >= 0 && isHintStroke(m_history[i]); --i)
    hints.push_back(m_history[i]);
  std::reverse(hints.begin(), hints.end());
  m_suggestion->updateSuggestion(hints);
}

void hairBrusher::drawSuggestion(const Matrix4& viewProjection) {
  if (!m_suggestion || g_brushShape != BRUSH_HINT) return;
  updateSuggestionOpacity();
  // The tools draw with the identity as their own transform.
  const Matrix4 grab = g_modeler ? g_modeler->sceneGrabMatrix() : Matrix4::identity();
  if (m_suggestion->m_preview) m_suggestion->m_preview->render(grab, viewProjection);
  if (BufferUndoer* model = m_suggestion->currentModel()) model->draw(grab, viewProjection);
}

void hairBrusher::acceptSuggestion(bool includeUnselected) {
  if (!m_suggestion) return;
  BufferUndoer* model = m_suggestion->currentModel();
  // During a drag the stroke being drawn is the newest in the buffer: strands pushed behind it
  // would take the slots its next points are written to.
  if (!model || engaged()) return;
  std::vector<Operatable*> kept;
  // The cursor entry is a shown strand too: it is taken with the rest.
  for (int i = 0; i <= model->m_cursor && i < model->size(); ++i) {
    Operatable* strand = model->m_history[i];
    if (!strand || strand->isRemoved() || !strand->isVisible() || !strand->isRenderable()) continue;
    if (!includeUnselected && !strand->isSelected()) continue;
    strand->setSelected(false);
    kept.push_back(strand);
  }
  // The hint strokes give way to the strands they called up.
  while (m_cursor >= 0 && m_cursor < size() && isHintStroke(m_history[m_cursor]))
    if (!BufferUndoer::undo(nullptr)) break;
  truncateRedo();
  bool first = true;
  for (Operatable* strand : kept) {
    auto* stroke = new Operatable(new quillax::Operation(*strand->m_operation));
    stroke->setSelected(false);
    stroke->m_flags = static_cast<uint16_t>(stroke->m_flags & ~(1u << kKeyStrandBit));
    stroke->m_operation->set_flags(stroke->m_flags);
    *stroke->m_operation->mutable_color() = g_currentColor;
    if (m_buffer) {
      m_buffer->pushOperation(stroke);
      stroke->m_bufferIndex = 0;
      writeToBuffer(stroke);
    }
    // Every strand after the first is chained to the one before, so one undo takes them all.
    stroke->setFlag7(!first);
    first = false;
    push(stroke, false);
  }
  m_suggestion->m_hairstyleName.clear();
}
