#include "strokes/interactor.h"

#include "strokes/operatable.h"
#include "strokes/operation_factory.h"

Interactor::Interactor(int32_t opType) : m_opType(opType) { setRenderable(false); }

Interactor::~Interactor() { dropCurrent(); }

Operatable* Interactor::newOperation() { return createOperation(m_opType); }

void Interactor::discard(Operatable* op) {
  // Detach first: selected, removed or hidden strokes come back, and no stroke keeps a
  // reference to the deleted operation.
  op->detach();
  delete op;
}

void Interactor::dropCurrent() {
  if (engaged() && m_currentOp) {
    notify(m_currentOp, NOTIFY_ABANDONED);
    discard(m_currentOp);
  }
  // Otherwise it is the last committed operation, which the history deletes.
  m_currentOp = nullptr;
}

void Interactor::reset() {
  dropCurrent();
  BufferUndoer::reset();
}

bool Interactor::redo() {
  if (engaged()) return false;
  return BufferUndoer::redo(nullptr);
}

bool Interactor::undo(Operatable* op) {
  if (engaged()) return false;
  return BufferUndoer::undo(op);
}

bool Interactor::eraseRange(int first, int last) {
  if (!engaged()) {
    for (int i = first; i <= last; ++i)
      if (m_history[i] == m_currentOp) m_currentOp = nullptr;
  }
  return BufferUndoer::eraseRange(first, last);
}

bool Interactor::press(const float* pose, int n, const float* otherPose, int m) {
  if (engaged()) return false;
  Operatable* op = newOperation();
  // A press that records nothing leaves nothing current: the last committed operation is not
  // this gesture's.
  m_currentOp = op;
  if (!op) return false;
  truncateRedo();
  if (op->begin(pose, n, otherPose, m) != 0) {
    setSelected(true);
    notify(op, NOTIFY_BEGUN);
    return true;
  }
  discard(op);
  m_currentOp = nullptr;
  return false;
}

bool Interactor::move(const float* pose, int n, const float* otherPose, int m) {
  if (!engaged()) return false;
  if (!m_currentOp || m_currentOp->step(pose, n, otherPose, m) < 1) return false;
  notify(m_currentOp, NOTIFY_STEPPED);
  return true;
}

bool Interactor::release(const float* /*pose*/, int /*n*/, const float* /*otherPose*/,
                         int /*m*/) {
  if (!engaged()) return false;
  setSelected(false);
  Operatable* op = m_currentOp;
  if (!op) return false;
  if (op->finish() >= 1) {
    notify(op, NOTIFY_COMMITTED);
    push(op, false);
    return true;
  }
  notify(op, NOTIFY_ABANDONED);
  discard(op);
  m_currentOp = nullptr;
  return false;
}
