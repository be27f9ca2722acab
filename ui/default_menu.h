#pragma once
#include <cstdint>
#include <vector>

class UIContainer;
class UIWidget;

// The default menu as data. The tree builder and the icon-atlas generator (tools/) both read
// these tables, so every icon cell the menu addresses has a picture.

// A container of the menu: the root, or a sub-panel shown while its button is active. Made in
// code (depth fixed, dripable, grey, spacing 0.003).
struct MenuPanelEntry {
  const char* name;
  int32_t type;  // WIDGET_CONTAINER or WIDGET_GROUP_CONTAINER
  int32_t colNum;
  int32_t rowNum;
  bool vfirstAlignment;
  float layout[5];        // x, y, z, width, height in the panel's frame (metres)
  const char* triggerOf;  // the button that shows it; null for the root
};

// A widget of the menu, in the order it is added to its parent.
struct MenuWidgetEntry {
  const char* parent;
  const char* name;
  int32_t type;
  float icon[2];  // u, v of its atlas cell (1/8 wide and high); negative: no icon
  enum EventKind { NONE, CLICK, MOVE } eventKind;
  int32_t eventType;
  int32_t eventId;
  bool hasCell;
  float cell[5];  // width, height, x, y, z in the parent's unit square, when hasCell
  float color[4];
  const char* textureImage;  // drawn instead of an icon; null for none
  const char* colorImage;    // colour wheels: the image picked from
  float markerSize;          // > 0: a marker centred on the widget
  bool dripable;
  bool startActive;  // shows its active icon from the start
};

extern const std::vector<MenuPanelEntry> kDefaultMenuPanels;
extern const std::vector<MenuWidgetEntry> kDefaultMenuWidgets;

// Builds the default menu: returns the root ("mainPanel") and appends it and every sub-panel to
// `widgets` (whose owner deletes them). The spline editor gets its default markers and the
// colour wheels read their images; no GL is needed.
UIContainer* buildDefaultWidgetTree(std::vector<UIWidget*>& widgets);
