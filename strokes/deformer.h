#pragma once
#include <vector>

#include "core/matrix.h"
#include "strokes/interactor.h"

class Operatable;

// The deform tool (tool 7): reshapes the strokes selected in the brush history (the source) by
// guide strokes. Entering the tool collects the selected strokes and weighs every pair by how
// alike they are. A deformation takes two gestures: with the other hand's trigger held, a press
// picks the collected stroke nearest to the hand as the target (phase 1); then a pen stroke drawn
// with the trigger alone is the guide (phase 2). Each applied guide's shape, relative to its
// target and pinned at the root, is spread over every collected stroke by the weights; every
// new guide, undo and redo recomputes all collected strokes from their rest shapes, so guides
// add up and undo takes them back. The tool's own history holds only the guides.
class Deformer : public Interactor {
 public:
  // source: the history whose strokes are deformed (tool 1).
  explicit Deformer(Interactor* source);
  // Lets go of g_deformer when it names this tool.
  ~Deformer() override;

  // The guides, the collected strokes, the weights and a pending target are all dropped.
  void reset() override;
  // Refused while engaged; an applied or reverted guide deforms the collected strokes again.
  bool redo() override;
  bool undo(Operatable* op) override;
  using Interactor::undo;
  // A committed guide: stored, its control points built, its target recorded, then a deform step.
  void store(Operatable* guide) override;
  bool eraseRange(int first, int last) override;
  // Under the transform tool's grab while it moves the whole scene.
  void draw(const Matrix4& model, const Matrix4& viewProjection) override;
  // Drops a chosen target: the next deformation starts again at phase 1.
  void deactivate() override;
  void activate() override { collectStrokes(); }
  bool press(const float* pose, int n, const float* otherPose, int m) override;
  bool move(const float* pose, int n, const float* otherPose, int m) override;
  bool release(const float* pose, int n, const float* otherPose, int m) override;

  // The source's applied strokes that are renderable, visible, not removed, selected, not
  // attached to the head and sampled; when they differ from the collected ones, guides keep their
  // targets only where the same stroke is at the same index (others are marked removed), and
  // the weights are recomputed.
  void collectStrokes();
  // Every collected stroke moved from its rest shape by the weighted displacements of the
  // applied guides that have a target.
  void deformStep();
  // A collected stroke moved by T (stored frame): the guides aimed at it, applied or undone,
  // move with it, so that their shape relative to it stays and no step pulls it back.
  void carryGuides(const Operatable* stroke, const Matrix4& t);
  // A stroke that is going away leaves the collected list and the weights; guides aimed at it
  // lose their target.
  void removeOperation(Operatable* stroke);

  // The weight of two collected strokes, 0 outside the matrix.
  float weight(int i, int j) const;

  int m_controlSampleSize;
  Interactor* m_source;  // not owned
  std::vector<Operatable*> m_strokes;
  // Square over m_strokes: W[i][j] = exp(-distance / (strength + 0.0001)), diagonal 1.
  std::vector<std::vector<float>> m_weights;
  int m_weightRows = 0;
  int m_weightColumns = 0;
  // The finished selection of the target (owned), null in phase 1.
  Operatable* m_selectOp = nullptr;
  int m_targetIndex = -1;
  // Per entry of the history: the index in m_strokes of the stroke that guide deforms, -1 none.
  std::vector<int> m_guideTargets;

 private:
  void dropSelection();
};

// The process-wide deform tool; null unless tool 7 is one.
extern Deformer* g_deformer;
