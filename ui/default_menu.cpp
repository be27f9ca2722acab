#include "ui/default_menu.h"

#include <map>
#include <string>

#include "core/ids.h"
#include "ui/widget.h"
#include "ui/widget_kinds.h"

namespace {

using E = MenuWidgetEntry;
const float kPanelColor[4] = {0.6f, 0.6f, 0.6f, 1.0f};

// A button of an atlas cell with a click event, in the parent's next cell.
E button(const char* parent, const char* name, int32_t type, float u, float v, int32_t eventType,
         int32_t eventId) {
  return E{parent, name, type, {u, v}, E::CLICK, eventType, eventId, false, {}, {0, 0, 0, 0},
           nullptr, nullptr, 0.0f, false, false};
}

E withCell(E e, float w, float h, float x, float y, float z) {
  e.hasCell = true;
  e.cell[0] = w, e.cell[1] = h, e.cell[2] = x, e.cell[3] = y, e.cell[4] = z;
  return e;
}

E startingActive(E e) {
  e.startActive = true;
  return e;
}

E colourPicker(const char* name, float u, float v, int32_t settingId, const char* image,
               float markerSize) {
  E e = button("colorPanel", name, WIDGET_COLOR_WHEEL, u, v, EVENT_SETTING, settingId);
  e.eventKind = E::MOVE;
  e.colorImage = image;
  e.markerSize = markerSize;
  return e;
}

std::vector<MenuWidgetEntry> defaultWidgets() {
  E spline = button("colorPanel", "lightSplineEditor", WIDGET_SPLINE_EDITOR, -1, -1, EVENT_SETTING,
                    SETTING_LIGHT_CURVE);
  spline.eventKind = E::MOVE;
  spline.textureImage = "textures/grid.png";
  E preview = button("colorPanel", "opRender", WIDGET_MODEL_RENDER, -1, -1, EVENT_MODE, UI_MODE_BRUSH);
  preview.eventKind = E::NONE;
  for (int i = 0; i < 4; ++i) preview.color[i] = 0.3f;
  E edit = button("mainPanel", "editTool", WIDGET_CLICK_BUTTON, 0.0f, 0.75f, EVENT_MODE, UI_MODE_BRUSH);
  edit.eventKind = E::NONE;
  edit.dripable = true;

  const int32_t C = WIDGET_CLICK_BUTTON, S = WIDGET_SWITCH_BUTTON;
  return {
      button("mainPanel", "brushTool", C, 0.0f, 0.875f, EVENT_MODE, UI_MODE_BRUSH),
      button("brushPanel", "brushToolNormal", C, 0.25f, 0.875f, EVENT_BRUSH_SHAPE, BRUSH_SHAPE_DEFAULT),
      button("brushPanel", "brushToolAttach", C, 0.25f, 0.75f, EVENT_BRUSH_SHAPE, BRUSH_ATTACH),
      button("brushPanel", "brushToolSpin", C, 0.25f, 0.625f, EVENT_BRUSH_SHAPE, BRUSH_SPIN),
      button("brushPanel", "brushToolBraid", C, 0.375f, 0.875f, EVENT_BRUSH_SHAPE, BRUSH_BRAID),
      button("mainPanel", "materialTool", C, 0.125f, 0.875f, EVENT_MODE, UI_MODE_BRUSH),
      button("texturePanel", "textureHairDense", C, 0.875f, 0.875f, EVENT_HAIR_TEXTURE, HAIR_TEXTURE_DENSE),
      button("texturePanel", "textureHairMiddle", C, 0.75f, 0.875f, EVENT_HAIR_TEXTURE, HAIR_TEXTURE_MIDDLE),
      button("texturePanel", "textureHairSparse", C, 0.625f, 0.875f, EVENT_HAIR_TEXTURE, HAIR_TEXTURE_SPARSE),
      button("texturePanel", "texturePen", C, 0.5f, 0.875f, EVENT_HAIR_TEXTURE, HAIR_TEXTURE_PEN),
      withCell(spline, 1.0f / 3.0f, 1.0f, 0.0f, 0.0f, 0.002f),
      withCell(preview, 0.266666681f, 0.8f, 0.0333333351f, 0.1f, 0.001f),
      withCell(colourPicker("colorWheel", 0.5f, 0.625f, SETTING_COLOR, "textures/color_wheel.png",
                            0.1f),
               0.6f, 0.6f, 0.366666675f, 0.366666675f, 0.001f),
      withCell(colourPicker("colorLightness", 0.625f, 0.625f, SETTING_LIGHTNESS,
                            "textures/lightness_bar.png", 0.3f),
               0.466666669f, 0.233333334f, 0.5f, 0.0666666701f, 0.001f),
      withCell(button("colorPanel", "colorPickerTool", C, 0.75f, 0.625f, EVENT_MODE,
                      UI_MODE_COLOR_PICK),
               0.1f, 0.233333334f, 0.366666675f, 0.0666666701f, 0.001f),
      edit,
      button("editPanel", "deleteTool", C, 0.0f, 0.375f, EVENT_MODE, UI_MODE_DELETE),
      button("editPanel", "recolorTool", C, 0.0f, 0.25f, EVENT_MODE, UI_MODE_RECOLOR),
      button("editPanel", "captureTool", C, 0.375f, 0.375f, EVENT_MODE, UI_MODE_CAMERA),
      button("mainPanel", "moveTool", C, 0.0f, 0.5f, EVENT_MODE, UI_MODE_MOVE),
      button("mainPanel", "fileButton", C, 0.0f, 0.625f, EVENT_MODE, UI_MODE_PANELS),
      startingActive(button("filePanel", "saveButton", C, 0.5f, 0.5f, EVENT_SAVE, -1)),
      startingActive(button("filePanel", "loadButton", C, 0.5f, 0.375f, EVENT_LOAD, -1)),
      startingActive(button("filePanel", "clearButton", C, 0.5f, 0.25f, EVENT_CLEAR, -1)),
      button("mainPanel", "settingButton", C, 0.125f, 0.625f, EVENT_MODE, UI_MODE_PANELS),
      startingActive(button("settingPanel", "loadModelButton", S, 0.75f, 0.5f, EVENT_SETTING, SETTING_HEAD_MODEL)),
      button("settingPanel", "symmetryButton", S, 0.75f, 0.375f, EVENT_SETTING, SETTING_MIRROR),
      button("settingPanel", "smoothButton", S, 0.75f, 0.25f, EVENT_SETTING, SETTING_SMOOTHING),
      button("settingPanel", "collisionButton", S, 0.875f, 0.5f, EVENT_SETTING, SETTING_COLLISION),
      button("settingPanel", "overlayButton", S, 0.875f, 0.375f, EVENT_SETTING, SETTING_OVERLAY),
  };
}

UIContainer* makePanel(const MenuPanelEntry& entry) {
  const Vec4f color(kPanelColor[0], kPanelColor[1], kPanelColor[2], kPanelColor[3]);
  UIContainer* panel = entry.type == WIDGET_GROUP_CONTAINER
                           ? new UIGroupContainer(entry.name, kNoIcon, "", color)
                           : new UIContainer(entry.name, kNoIcon, "", color);
  const float* l = entry.layout;
  panel->setLayout(l[0], l[1], l[2], l[3], l[4]);
  panel->setGrid(entry.colNum, entry.rowNum, entry.vfirstAlignment, 0.003f);
  return panel;
}

}  // namespace

const std::vector<MenuPanelEntry> kDefaultMenuPanels = {
    {"mainPanel", WIDGET_GROUP_CONTAINER, 2, 3, false, {-0.108f, 0.02f, 0.0f, 0.216f, 0.318f}, nullptr},
    {"brushPanel", WIDGET_GROUP_CONTAINER, 2, 3, true, {0.108f, 0.02f, 0.001f, 0.216f, 0.318f}, "brushTool"},
    {"texturePanel", WIDGET_GROUP_CONTAINER, 1, 4, true, {0.108f, 0.02f, 0.001f, 0.0864f, 0.318f}, "materialTool"},
    {"colorPanel", WIDGET_CONTAINER, 1, 1, true, {0.1944f, 0.02f, 0.001f, 0.324f, 0.318f}, "materialTool"},
    {"editPanel", WIDGET_GROUP_CONTAINER, 1, 3, true, {0.108f, 0.02f, 0.001f, 0.108f, 0.318f}, "editTool"},
    {"filePanel", WIDGET_CONTAINER, 1, 3, true, {0.108f, 0.02f, 0.001f, 0.108f, 0.318f}, "fileButton"},
    {"settingPanel", WIDGET_CONTAINER, 2, 3, true, {0.108f, 0.02f, 0.001f, 0.216f, 0.318f}, "settingButton"},
};

const std::vector<MenuWidgetEntry> kDefaultMenuWidgets = defaultWidgets();

UIContainer* buildDefaultWidgetTree(std::vector<UIWidget*>& widgets) {
  std::map<std::string, UIContainer*> containers;
  UIContainer* root = nullptr;
  for (const MenuPanelEntry& entry : kDefaultMenuPanels) {
    if (entry.triggerOf) continue;
    root = makePanel(entry);
    containers[entry.name] = root;
    widgets.push_back(root);
  }
  for (const MenuWidgetEntry& entry : kDefaultMenuWidgets) {
    const auto found = containers.find(entry.parent);
    if (found == containers.end()) continue;
    UIContainer* parent = found->second;
    const Vec4f icon = entry.icon[0] >= 0.0f
                           ? Vec4f(entry.icon[0], entry.icon[1], 0.125f, 0.125f)
                           : kNoIcon;
    const Vec4f color(entry.color[0], entry.color[1], entry.color[2], entry.color[3]);
    UIWidget* widget = parent->addWidget(entry.name, entry.type, icon,
                                         entry.textureImage ? entry.textureImage : "", color,
                                         entry.hasCell ? entry.cell : nullptr);
    if (!widget) continue;
    if (entry.eventKind != E::NONE) {
      EventRecord* event = new EventRecord(entry.eventType, entry.eventId);
      if (entry.eventKind == E::CLICK)
        widget->setClickEvent(event);
      else
        widget->setMoveEvent(event);
    }
    if (entry.dripable) widget->m_dripable = true;
    if (entry.markerSize > 0.0f) widget->addMarker(0.5f, 0.5f, entry.markerSize, 0.001f);
    if (auto* wheel = dynamic_cast<UIColorWheel*>(widget)) wheel->setColorImage(entry.colorImage);
    if (auto* editor = dynamic_cast<UISplineEditor*>(widget)) editor->setDefaultLightSpline();
    if (entry.startActive) widget->setVisible(true);

    // Sub-panels shown by this button, made now that it exists.
    for (const MenuPanelEntry& panelEntry : kDefaultMenuPanels) {
      if (!panelEntry.triggerOf || entry.name != std::string(panelEntry.triggerOf)) continue;
      UIContainer* panel = makePanel(panelEntry);
      containers[panelEntry.name] = panel;
      widgets.push_back(panel);
      widget->addTrigger(panel);
    }
  }
  return root;
}
