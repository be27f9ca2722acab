#pragma once
#include "core/core_object.h"
#include "core/matrix.h"
#include "core/vec.h"

class Panel;
class Shooter;

// The root of the VR interface, kept in g_uivr: it owns the menu panel and the tool geometry,
// builds both from one interface description, and once a frame lets the drawing hand's ray test
// the menu, keeping the pointer's length (VALUE_POINTER_LENGTH) in step with the hit. Main thread, GL
// context current.
class UIVR : public coreObject {
 public:
  UIVR() = default;
  ~UIVR() override;
  UIVR(const UIVR&) = delete;
  UIVR& operator=(const UIVR&) = delete;

  // Makes the panel and the shooter, both from the default description; the shown head stops
  // the panel's ray.
  void init();
  // otherHand, drawingHand: the two device matrices. Nothing unless the panel and the shooter
  // are both shown (both hands tracked); the pointer, drawn to the menu or to the head that
  // stops the ray short of it, is rebuilt only when its length changes.
  void update(const Matrix4& otherHand, const Matrix4& drawingHand);
  // Where the ray (hands' space, metres, unit direction) meets the shown head within `reach`,
  // as the head is drawn (under m_sceneView and the scene's grab); -1 when it does not or no
  // head is shown.
  float shownHeadAlongRay(const Vec3f& origin, const Vec3f& direction, float reach) const;

  Panel* m_panel = nullptr;      // owned
  Shooter* m_shooter = nullptr;  // owned
  // What the scene's models are drawn under in the hands' space beyond their own placement: the
  // headset's pose while the view follows the head, else the identity. Set by the input handling.
  Matrix4 m_sceneView;
};

// Null until start-up makes it; the dispatcher's panel and tool-geometry actions do nothing
// while it is.
extern UIVR* g_uivr;
