#pragma once
#include "strokes/buffer_undoer.h"

class Operatable;

// A tool: one press-drag-release of the drawing hand's trigger makes one operation, which is
// pushed into the tool's history when it finishes with a result and thrown away otherwise.
// Engaged (flag bit 1, isSelected) from a press that began an operation to the release.
class Interactor : public BufferUndoer {
 public:
  // opType: the operation type given to createOperation (the tool id).
  explicit Interactor(int32_t opType);
  ~Interactor() override;

  // Also drops an operation still being built, and forgets the last one built.
  void reset() override;
  // Refused while engaged, so the history never moves under an operation being built.
  bool redo() override;
  bool undo(Operatable* op) override;
  using BufferUndoer::undo;
  bool eraseRange(int first, int last) override;

  virtual void deactivate() {}
  virtual void activate() {}
  // pose, otherPose: the two hands' frames (n and m floats: position, then the x, y and z axes).
  virtual bool press(const float* pose, int n, const float* otherPose, int m);
  virtual bool move(const float* pose, int n, const float* otherPose, int m);
  virtual bool release(const float* pose, int n, const float* otherPose, int m);

  bool engaged() const { return isSelected(); }

  int32_t m_opType;
  // The operation between press and release (owned then), else the last one committed (owned by
  // the history) or null.
  Operatable* m_currentOp = nullptr;

 protected:
  // The operation a press begins; createOperation of the tool's type.
  virtual Operatable* newOperation();
  // Takes back everything an operation that will not be kept holds, then deletes it.
  void discard(Operatable* op);

 private:
  // Abandons and deletes an operation still being built, and forgets the current one.
  void dropCurrent();
};
