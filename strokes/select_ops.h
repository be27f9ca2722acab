#pragma once
#include <algorithm>
#include <vector>

#include "core/vec.h"
#include "strokes/operatable.h"
#include "strokes/undoer.h"

// A selection: an operation whose points are the drawing hand's path while the trigger is held,
// taking as targets the strokes of a source history that the path passes near. It sits in a
// tool's history like a stroke, so undo unmarks its targets and redo marks them again. Targets
// register it (registerOp) so that a stroke leaving its history can withdraw from it (detach).
class SelectOp : public Operatable, public coreSelectable<Operatable*> {
 public:
  // source: the history whose applied entries (0 .. cursor) are the candidates; null gives none.
  explicit SelectOp(coreUndoer<Operatable*>* source);

  // Withdraws this operation from those that hold it, then lets go of its own targets.
  void detach() override;
  // The first point of the path; returns the number of candidates (informative).
  int begin(const float* values, int count, const float* other, int otherCount) override;
  // A new point of the path selects what lies within the selection radius (VALUE_SPHERE_RADIUS,
  // scaled into the stored frame by VALUE_TRANSFORM_SCALE); returns what onPoint and select report,
  // 0 when the hand has not moved far enough for a point.
  int step(const float* values, int count, const float* other, int otherCount) override;
  // The number of targets: 0 drops the operation.
  int finish() override;
  void revert() override;
  void apply() override;
  // Called with each new point of the path (the hand's frame) and the radius; returns what it
  // changed. Nothing here.
  virtual int onPoint(const Vec3f& point, float radius);

  // Not selected, not removed, visible and renderable.
  bool canSelect(Operatable* target) override;
  // The distance from point (3 floats, stored frame) to the target's nearest sample; -1 beyond
  // radius.
  float score(Operatable* target, const float* point, float radius) override;
  void unmark(Operatable* target) override;
  void mark(Operatable* target) override;
  // Appends the target and registers this operation on it.
  void addSelected(Operatable* target) override;
  int countCandidates() override;
  // Every acceptable candidate within radius, oldest first; returns the number taken now.
  int select(const float* point, float radius) override;

  // Marks and takes every acceptable candidate; returns their number.
  int selectAll();
  // Unmarks every target, unregisters this operation from it and forgets it.
  void releaseTargets();
  // A target leaving its history (being deleted): unmarked and forgotten. Nothing when it is
  // not held.
  virtual void targetLeaving(Operatable* target);

  coreUndoer<Operatable*>* m_source = nullptr;  // not owned

 protected:
  SelectOp(coreUndoer<Operatable*>* source, int opId);
  // Forgets a target without unmarking it; false when it was not held.
  bool forgetTarget(Operatable* target);
  // The source's applied entries, oldest first.
  template <typename F>
  void forEachSourceCandidate(F f) const {
    if (!m_source) return;
    const int last = std::min(m_source->m_cursor, m_source->size() - 1);
    for (int i = 0; i <= last; ++i)
      if (Operatable* op = m_source->m_history[static_cast<size_t>(i)]) f(op);
  }
  // The same, narrowed to those that may have a sample within radius of point (stored frame)
  // when the source keeps a sample grid: those left out could not pass score anyway.
  template <typename F>
  void forEachCandidateNear(const float* point, float radius, F f) {
    if (sourceStrokesNear(point, radius))
      for (Operatable* op : m_near) f(op);
    else
      forEachSourceCandidate(f);
  }

 private:
  // Fills m_near through the source's grid; false when the source has none.
  bool sourceStrokesNear(const float* point, float radius);
  std::vector<Operatable*> m_near;
};

// A selection that holds only the candidate nearest to the hand, the newer one at equal
// distances; each new point lets go of the previous target first.
class NearestSelectOp : public SelectOp {
 public:
  explicit NearestSelectOp(coreUndoer<Operatable*>* source);
  // Returns the number of targets held (0 or 1).
  int select(const float* point, float radius) override;

 protected:
  NearestSelectOp(coreUndoer<Operatable*>* source, int opId);
};

// The deform tool's choice of a target among the selected strokes: its mark is flag 2.
class DeformSelectOp : public NearestSelectOp {
 public:
  explicit DeformSelectOp(coreUndoer<Operatable*>* source);
  // Selected, not of the attach shape, flag 2 clear, not removed, visible and renderable.
  bool canSelect(Operatable* target) override;
  void unmark(Operatable* target) override;
  void mark(Operatable* target) override;
};

// op_id values of the operation classes.
enum OperationId {
  OP_STROKE = 0,
  OP_SELECT = 2,
  OP_NEAREST_SELECT = 3,
  OP_DELETE = 4,
  OP_RECOLOR = 5,
  OP_SET_COLOR = 6,
  OP_CONNECT = 7,
  OP_DEFORM_SELECT = 8,
  OP_TRANSFORM = 9,
};
