#pragma once
#include "core/core_object.h"

class Panel;

// The root of the VR interface, kept in g_uivr; it owns the menu panel, which the event
// dispatcher reaches through it.
// Once the tool geometry exists: the Shooter it owns, UIVR::init building both parts from one
// interface description, and UIVR::update with the per-frame ray test.
class UIVR : public coreObject {
 public:
  UIVR() = default;
  ~UIVR() override;
  UIVR(const UIVR&) = delete;
  UIVR& operator=(const UIVR&) = delete;

  Panel* m_panel = nullptr;  // owned
};

// Null until start-up makes it; the dispatcher's panel actions do nothing while it is.
extern UIVR* g_uivr;
