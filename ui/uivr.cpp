#include "ui/uivr.h"

#include "ui/panel.h"

UIVR* g_uivr = nullptr;

UIVR::~UIVR() { delete m_panel; }
