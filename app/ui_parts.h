#pragma once
#include "ui/uivr.h"

// The menu panel and the tool geometry, each null until the UI root has made it.
inline Panel* menuPanel() { return g_uivr ? g_uivr->m_panel : nullptr; }
inline Shooter* toolGeometry() { return g_uivr ? g_uivr->m_shooter : nullptr; }
