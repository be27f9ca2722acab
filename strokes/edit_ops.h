#pragma once
#include "core/matrix.h"
#include "strokes/select_ops.h"
#include "strokes/transformable.h"

// Editing operations: selections whose marking of a target is the edit itself, so that undo and
// redo of the operation unmark and mark the same targets again.

// Deletes by marking its targets removed; they stay in their history, so undo brings them back.
class DeleteOp : public SelectOp {
 public:
  explicit DeleteOp(coreUndoer<Operatable*>* source);
  // Not removed and visible.
  bool canSelect(Operatable* target) override;
  void unmark(Operatable* target) override;
  void mark(Operatable* target) override;
};

// Gives its targets its own colour: a stroke draws with the colour of its newest visible recolour
// operation, so marking shows this operation and unmarking hides it. Also tints the models whose
// box the hand passes through, which is not undone.
class RecolorOp : public SelectOp {
 public:
  explicit RecolorOp(coreUndoer<Operatable*>* source);
  // As a selection, but not a stroke whose newest recolour is this one, nor one whose newest
  // recolour has this colour already (every channel within 0.01).
  bool canSelect(Operatable* target) override;
  void unmark(Operatable* target) override;
  void mark(Operatable* target) override;
  // With the other hand's trigger held every acceptable stroke is taken at once.
  int countCandidates() override;
  // Each model whose box holds the point (scene coordinates) takes this colour; returns their
  // number.
  int onPoint(const Vec3f& point, float radius) override;
  // Forgotten without unmarking: hiding this operation would take the colour from the other
  // targets too.
  void targetLeaving(Operatable* target) override { forgetTarget(target); }
};

// Picks the brush colour from the nearest stroke; undo restores the brush colour of its
// creation, which it keeps as its own colour.
class SetColorOp : public NearestSelectOp {
 public:
  explicit SetColorOp(coreUndoer<Operatable*>* source);
  void unmark(Operatable* target) override;
  void mark(Operatable* target) override;
  // Forgotten without unmarking: a stroke being deleted does not change the brush colour.
  void targetLeaving(Operatable* target) override { forgetTarget(target); }
};

// Continues a stroke of the calling brush: begun near the tip half of a stroke, it becomes a copy
// of that stroke cut at the point nearest to the hand and bent to meet the hand, and drawing goes
// on from there. Marking removes the original, so the connected stroke takes its place.
class ConnectOp : public NearestSelectOp {
 public:
  // source: the history of the brush that makes it (tool 0 or 1).
  explicit ConnectOp(coreUndoer<Operatable*>* source);
  // Not selected, not removed, visible and renderable, of the default or attach shape, drawn
  // by the same shader as this operation's texture.
  bool canSelect(Operatable* target) override;
  void unmark(Operatable* target) override;
  void mark(Operatable* target) override;
  // values: the drawing hand's frame (position, pitch, normal). 0, leaving the target as it
  // was, when no stroke lies within the brush width of the hand, the stroke has fewer than 5
  // samples or 4 points, or the hand is nearest to its root half.
  int begin(const float* values, int count, const float* other, int otherCount) override;
  // Grows the stroke like a brush stroke.
  int step(const float* values, int count, const float* other, int otherCount) override;
  // 0 without a target; else as a stroke. Undo and redo (a selection's) act on the target only:
  // the history's buffers hide and show the connected stroke.
  int finish() override;
};

// Moves the selected strokes with the hands: while the trigger is held they are drawn under the
// accumulated transform; at the release the transform is applied to them for good.
class TransOp : public SelectOp, public coreTransformable {
 public:
  explicit TransOp(coreUndoer<Operatable*>* source);
  // Selected, not removed, visible and renderable.
  bool canSelect(Operatable* target) override;
  void unmark(Operatable* /*target*/) override {}
  void mark(Operatable* /*target*/) override {}
  // Takes every selected stroke and grabs the hands; 0 when none is selected.
  int begin(const float* values, int count, const float* other, int otherCount) override;
  // One hand, or both while the other hand's trigger is held, from the second point on.
  int step(const float* values, int count, const float* other, int otherCount) override;
  // Applies the move, in the stored frame, to every target, rewrites their buffers and lets
  // go of them. 1, or 0 without targets.
  int finish() override;
  // The move is in the strokes themselves: undo and redo change nothing.
  void revert() override {}
  void apply() override {}
};

// Moves a stroke by T (stored frame): its control and reference points, its samples' origins and
// pitches, the deform tool's guides aimed at it, its width by T's scale; then the samples follow
// the control points (deform) and the stroke is rebuilt. Its rest shape is the moved shape.
void applyTransform(Operatable* stroke, const Matrix4& transform);

// The transform a transform operation holding the stroke shows it under, or null.
const Matrix4* heldTransform(const Operatable* stroke);
