#pragma once
#include <vector>

#include "strokes/interactor.h"

class HairBlender;
class Mirrow;

// The tool that draws new hair strokes: tool 0 (the pen, line strips) and tool 1 (hair textures,
// ribbons; g_hairBrusher). While the head's mirror is shown it draws a mirrored twin of the
// stroke, and commits it with the stroke so one undo takes both. A release runs the stroke's
// finishing steps (frames, samples, post-processing against the head) before it is kept.
class hairBrusher : public Interactor {
 public:
  explicit hairBrusher(int32_t opType);
  ~hairBrusher() override;

  // Also drops the twin of a drag in progress (it is in no history) and empties the preview.
  void reset() override;
  bool redo() override;
  bool undo(Operatable* op) override;
  using Interactor::undo;
  bool eraseRange(int first, int last) override;
  // Also replaces the preview buffer: same format, a hundredth of the capacity.
  void createBuffer(const StrokeBufferFormat& format, uint32_t capacity) override;
  // The history and the preview, under the whole-scene grab while the scene is being moved.
  void draw(const Matrix4& model, const Matrix4& viewProjection) override;

  bool press(const float* pose, int n, const float* otherPose, int m) override;
  bool move(const float* pose, int n, const float* otherPose, int m) override;
  // Commits a stroke of at least 2 points, then its twin (flag bit 7) when it has 2 points too.
  bool release(const float* pose, int n, const float* otherPose, int m) override;

  // The suggestion steps act only with a suggestion component; the program attaches none.
  // The trailing hint strokes (shape 4), oldest first, go to the component.
  void refreshSuggestion();
  // With the hint shape current: the suggested strands and the preview, under the scene grab.
  void drawSuggestion(const Matrix4& viewProjection);
  // The shown strands (only the selected ones unless includeUnselected) replace the trailing
  // hint strokes as new strokes in the brush colour, one undo group; the suggestion ends.
  void acceptSuggestion(bool includeUnselected);

  // The mirrored stroke of the drag; after a release the committed twin (owned by the history),
  // or null when there was none.
  Operatable* m_mirrorOp = nullptr;
  StrokeBufferRender* m_previewBuffer = nullptr;  // owned; draws the twin during the drag
  HairBlender* m_suggestion = nullptr;            // owned; the program attaches none

 private:
  // The head's mirror when a twin is drawn: a preview buffer, a head, its mirror shown.
  Mirrow* mirrorInUse() const;
  // The shape's companion strokes of a finished stroke, and the shape's deformation of it.
  std::vector<Operatable*> collectCompanions(Operatable* stroke);
  void deformForShape(Operatable* stroke);
  // Frames and samples of a finished stroke, before it is post-processed.
  void prepareFinished(Operatable* stroke);
  // Post-processes and commits each companion, chained to the stroke before it.
  void commitCompanions(const std::vector<Operatable*>& companions);
};

// Tool 1, the brush of the hair textures; set at start-up, null before.
extern hairBrusher* g_hairBrusher;
