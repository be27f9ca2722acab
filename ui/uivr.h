#pragma once
#include "core/core_object.h"
#include "core/matrix.h"

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

  // Makes the panel and the shooter, both from the default description.
  void init();
  // otherHand, drawingHand: the two device matrices. Nothing unless the panel and the shooter
  // are both shown (both hands tracked); the pointer is rebuilt only when its length changes.
  void update(const Matrix4& otherHand, const Matrix4& drawingHand);

  Panel* m_panel = nullptr;      // owned
  Shooter* m_shooter = nullptr;  // owned
};

// Null until start-up makes it; the dispatcher's panel and tool-geometry actions do nothing
// while it is.
extern UIVR* g_uivr;
