#include "app/dispatcher.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

#include "app/ui_parts.h"
#include "core/events.h"
#include "core/settings.h"
#include "render/head_model.h"
#include "render/model_element.h"
#include "render/modeler.h"
#include "strokes/hair_brusher.h"
#include "strokes/interactor.h"
#include "strokes/operator.h"
#include "strokes/select_ops.h"
#include "ui/panel.h"
#include "ui/shooter.h"
#include "ui/uivr.h"

namespace {

// The panel's colour preview is its preview stroke's model "op" (there once a hair texture was
// chosen): it takes the brush colour times its lightness.
void colourPreview(float alpha) {
  Panel* panel = menuPanel();
  if (!panel || !panel->m_previewModel) return;
  const float l = g_currentColor.lightness();
  panel->m_previewModel->setColor(Vec4f(g_currentColor.red() * l, g_currentColor.green() * l,
                                        g_currentColor.blue() * l, alpha));
}

// Settings that read their first values: a record with fewer is ignored.
bool hasValues(const EventRecord& record, size_t count) { return record.m_values.size() >= count; }

// The colour and lightness settings: the brush colour from the wheel and the lightness bar.
void applyColourSetting(const EventRecord& record) {
  const std::vector<float>& v = record.m_values;
  if (record.m_id == SETTING_COLOR) {
    // A nearly transparent pick is a miss.
    if (!hasValues(record, 4) || v[3] < 0.1f) return;
    g_currentColor.set_red(v[0]);
    g_currentColor.set_green(v[1]);
    g_currentColor.set_blue(v[2]);
    g_currentColor.set_alpha(1.0f);
    colourPreview(1.0f);
    return;
  }
  if (!hasValues(record, 3)) return;
  g_currentColor.set_lightness((v[0] + v[1] + v[2]) / 3.0f);
  colourPreview(g_currentColor.alpha());
}

// The primary, secondary and spliner settings: the tool geometry's values; without a value
// only its rebuild.
void applyToolValueSetting(const EventRecord& record) {
  const std::vector<float>& v = record.m_values;
  Shooter* shooter = toolGeometry();
  if (!shooter) return;
  if (record.m_id == SETTING_PRIMARY_VALUE || record.m_id == SETTING_SECONDARY_VALUE) {
    if (v.empty())
      shooter->buildBrusherGeometry();
    else if (record.m_id == SETTING_PRIMARY_VALUE)
      shooter->setPrimaryValue(v[0]);
    else
      shooter->setSecondaryValue(v[0]);
    return;
  }
  // A swipe edits the helix only while it is drawn (the spin and braid shapes).
  const ModelElement* spliner = shooter->getGeometry(GEOMETRY_UI_SPLINER);
  const bool changed =
      !v.empty() && spliner && spliner->getFlag2() &&
      (record.m_id == SETTING_SPLINER_RADIUS
           ? updateSwipeValue(v[0], 0.01f, 0.1f, &g_splinerRadius)
           : updateSwipeValue(v[0], 0.05f, 3.0f, &g_splinerLength));
  if (v.empty() || changed) shooter->buildSplinerGeometry();
}

// The light curve setting: the light curve of new strokes.
void applyLightCurveSetting(const std::vector<float>& v) {
  // An empty curve would leave new strokes without lighting; restoreBrushState never allows
  // one either.
  if (v.empty()) return;
  if (g_defaultLightCurve.v_size() == static_cast<int>(v.size())) {
    for (size_t i = 0; i < v.size(); ++i) g_defaultLightCurve.set_v(static_cast<int>(i), v[i]);
  } else {
    g_defaultLightCurve.clear_v();
    for (float value : v) g_defaultLightCurve.add_v(value);
  }
  if (Panel* panel = menuPanel()) panel->updateOperationPreview();
}

// The head and mirror settings: load and show the head, show its mirror.
void applySceneSetting(const EventRecord& record) {
  if (!hasValues(record, 1)) return;
  const bool show = record.m_values[0] > 0.5f;
  if (record.m_id == SETTING_MIRROR) {
    if (HeadModel* head = findHeadModel())
      if (head->m_mirror) head->m_mirror->setRenderable(show);
    return;
  }
  if (!g_modeler) return;
  std::string path = record.m_name;
  if (path.empty() && g_parameters.has_head_model())
    path = g_parameters.asset_path() + g_parameters.head_model();
  g_modeler->loadHead(path);
  if (HeadModel* head = findHeadModel()) {
    head->setRenderable(show);
    // A replaced head's grid was taken from the brush as it was freed; this is the new one.
    if (g_hairBrusher) g_hairBrusher->attachSampleGrid(head->m_hairGrider);
  }
}

// The smoothing, collision, overlay and hint settings: the option switches.
void applySwitchSetting(const EventRecord& record) {
  if (record.m_id == SETTING_HINT) {
    if (modeStateAt(STATE_UI_MODE, -1) == UI_MODE_BRUSH && g_brushShape == BRUSH_HINT) {
      toggleFlag(FLAG_HINT_MODE);
      if (!flagOn(FLAG_HINT_MODE) && g_hairBrusher)
        g_hairBrusher->acceptSuggestion(flagOn(FLAG_OTHER_TRIGGER));
    }
    return;
  }
  if (!hasValues(record, 1)) return;
  const FlagBit bit = record.m_id == SETTING_SMOOTHING   ? FLAG_SMOOTHING
                      : record.m_id == SETTING_COLLISION ? FLAG_COLLISION
                                                         : FLAG_OVERLAY;
  setFlagBit(bit, record.m_values[0] > 0.5f);
}

void applySetting(const EventRecord& record) {
  switch (record.m_id) {
    case SETTING_COLOR:
    case SETTING_LIGHTNESS:
      applyColourSetting(record);
      return;
    case SETTING_PRIMARY_VALUE:
    case SETTING_SECONDARY_VALUE:
    case SETTING_SPLINER_RADIUS:
    case SETTING_SPLINER_LENGTH:
      applyToolValueSetting(record);
      return;
    case SETTING_LIGHT_CURVE:
      applyLightCurveSetting(record.m_values);
      return;
    case SETTING_HEAD_MODEL:
    case SETTING_MIRROR:
      applySceneSetting(record);
      return;
    case SETTING_SMOOTHING:
    case SETTING_COLLISION:
    case SETTING_OVERLAY:
    case SETTING_HINT:
      applySwitchSetting(record);
      return;
    default:
      return;
  }
}

// Every stroke the selection can take, as one selection in the select tool's history.
void selectAll() {
  if (!g_operator) return;
  Interactor* select = g_operator->getTool(TOOL_SELECT);
  if (!select) return;
  auto* op = new SelectOp(g_operator->getTool(TOOL_BRUSH));
  op->selectAll();
  select->push(op, false);
}

void load(const EventRecord& record) {
  if (!flagOn(FLAG_OTHER_TRIGGER)) {
    std::printf("\n please press and hold the non-drawing hand trigger to reload. \n");
    return;
  }
  // The load's save of the work, and the last saved file it may load, wait for the writes
  // already handed over.
  if (g_operator) g_operator->waitForSaves();
  const std::string path = resolveLoadPath(record);
  if (!g_operator) return;
  if (isPaintingFilePath(path)) {
    // Read first; saved, reset and loaded only when the file reads and the save holds.
    g_operator->replacePainting(path, path.find(".obj") == std::string::npos, -1);
  } else {
    g_operator->listFiles(path, ".txt");
    g_operator->loadFileByIndex(0);  // saves the current work first
  }
}

void dispatch(const EventRecord& record) {
  switch (record.m_type) {
    case EVENT_MODE:
      setModeStateAt(STATE_UI_MODE, record.m_id);
      return;
    case EVENT_HAIR_TEXTURE:
      setModeStateAt(STATE_UI_MODE, UI_MODE_BRUSH);
      g_hairTexture = record.m_id;
      if (Panel* panel = menuPanel()) panel->updateOperationPreview();
      return;
    case EVENT_BRUSH_SHAPE:
      setModeStateAt(STATE_UI_MODE, UI_MODE_BRUSH);
      g_brushShape = record.m_id;
      // Rebuilds the brush tool geometry in this drain.
      postEvent(new EventRecord(EVENT_SETTING, SETTING_SECONDARY_VALUE));
      setFlagBit(FLAG_NO_CURVATURE_SWIPE, record.m_id == BRUSH_ATTACH || record.m_id == BRUSH_BRAID);
      return;
    case EVENT_SETTING:
      applySetting(record);
      return;
    case EVENT_LOAD:
      load(record);
      return;
    case EVENT_SAVE:
      // Written off the frame; the last saved file follows once it is.
      if (g_operator) g_operator->saveInBackground(record.m_name);
      return;
    case EVENT_CLEAR:
      if (!flagOn(FLAG_OTHER_TRIGGER)) {
        std::printf("\n please press and hold the non-drawing hand trigger to clear all. \n");
        return;
      }
      if (g_operator) g_operator->reset();
      return;
    case EVENT_HAIR_SET_ENTRY:
      if (g_operator && !hairSetEntryPath(record.m_id).empty())
        g_operator->loadPainting(hairSetEntryPath(record.m_id), true);
      return;
    case EVENT_SELECT_ALL:
      selectAll();
      return;
    case EVENT_RESET_SELECTION:
      if (g_operator)
        if (Interactor* select = g_operator->getTool(TOOL_SELECT)) select->reset();
      return;
    default:
      // Type 3, the hair request (its target is never created), the keys and unknown types.
      return;
  }
}

}  // namespace

void dispatchEvents() {
  while (EventRecord* popped = popEvent()) {
    std::unique_ptr<EventRecord> record(popped);
    dispatch(*record);
  }
}

std::string resolveLoadPath(const EventRecord& record) {
  if (!record.m_name.empty()) return record.m_name;
  if (g_parameters.has_project_to_load() && !g_parameters.project_to_load().empty())
    return g_parameters.asset_path() + g_parameters.project_to_load();
  return g_autosaves.last_save_file();
}

bool isPaintingFilePath(const std::string& path) {
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos) return false;
  const std::string ending = path.substr(dot);
  return ending == ".txt" || ending == ".obj";
}

std::string hairSetEntryPath(int index) {
  if (index < 0 || index >= g_hairs.hairs_size()) return std::string();
  return g_parameters.asset_path() + g_hairs.hairs(index).file_path();
}
