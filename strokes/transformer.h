#pragma once
#include <vector>

#include "core/matrix.h"
#include "render/modeler.h"
#include "strokes/interactor.h"
#include "strokes/transformable.h"

class ModelElement;

// The transform tool (tool 6): moves a picked light or camera, or the whole scene, with the
// drawing hand. A whole-scene move is not applied to the strokes' points; it adds a transform
// level instead, and strokes are drawn, stored and measured through the level matrices (see
// levelInverse in operatable.h). Loading the head adds its placement as level 1, so the stored
// work stays in the head's own frame however often the scene is moved. It makes no operations:
// its undo and redo do nothing. The hands' grab and the accumulated transform G are the
// coreTransformable part, as for a transform operation.
class Transformer : public Interactor, public TransformToolView, public coreTransformable {
 public:
  Transformer();
  // Lets go of g_transformer and the registry's tool pointer when they name this tool.
  ~Transformer() override;

  // The history reset, then every level dropped. The grab and the picked element stay.
  void reset() override;
  bool redo() override { return true; }
  bool undo(Operatable* op) override;
  using Interactor::undo;
  // Grabs with both hands: a two-hand transform while the other hand's trigger is held, else a
  // one-hand one. A picked element's permission bytes are the four switches; otherwise all on.
  bool press(const float* pose, int n, const float* otherPose, int m) override;
  // G follows the hands; a picked element is placed at G x its start, the scene only in drawing.
  bool move(const float* pose, int n, const float* otherPose, int m) override;
  // A whole-scene move becomes a level and moves every model; a picked element stays where it
  // was put and is let go.
  bool release(const float* pose, int n, const float* otherPose, int m) override;

  // Adds the level of a whole-scene move T (column-major): earlier levels' draw matrices are
  // carried by T, and the whole-scene transform W = T x ... x T1 and its inverse are appended.
  // VALUE_TRANSFORM_SCALE of g_uiValues becomes the scale of W's inverse.
  void pushTransform(const Matrix4& transform) override;

  bool grabEngaged() const override { return engaged(); }
  const Matrix4& grabMatrix() const override { return m_transform; }
  ModelElement* pickedElement() const override { return m_picked; }
  void setPickedElement(ModelElement* element) override { m_picked = element; }

  ModelElement* m_picked = nullptr;  // not owned
  Matrix4 m_pickedStart;             // the picked element's model matrix at the press
  // Entry k: strokes made at level k into the current scene (Tn ... T(k+1)).
  std::vector<Matrix4> m_levelDraw;
  // Entry k: the whole-scene transform once level k + 1 was added (T(k+1) ... T1).
  std::vector<Matrix4> m_levelForward;
  // Entry k: the inverse of m_levelForward[k].
  std::vector<Matrix4> m_levelInverse;
};

// The process-wide transform tool; null until the tool set makes one.
extern Transformer* g_transformer;
// Makes tool the process-wide transform tool (null: none) and the registry's (g_modeler, when
// there is one), so a head loaded from then on is placed as its first level.
void setTransformer(Transformer* tool);
