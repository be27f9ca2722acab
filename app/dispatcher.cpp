#include "app/dispatcher.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>

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

bool flag(int bit) { return bit >= 0 && static_cast<size_t>(bit) < g_flags.size() && g_flags[bit]; }

void setFlag(int bit, bool on) {
  if (bit >= 0 && static_cast<size_t>(bit) < g_flags.size()) g_flags[bit] = on;
}

void setMode(int32_t mode) {
  if (g_modeState.size() > 2) g_modeState[2] = mode;
}

// The menu panel, null until the UI root has made it.
Panel* menuPanel() { return g_uivr ? g_uivr->m_panel : nullptr; }

// The panel's colour preview is its preview stroke's model "op" (there once a hair texture was
// chosen): it takes the brush colour times its lightness.
void colourPreview(float alpha) {
  Panel* panel = menuPanel();
  if (!panel || !panel->m_previewModel) return;
  const float l = g_currentColor.lightness();
  panel->m_previewModel->setColor(Vec4f(g_currentColor.red() * l, g_currentColor.green() * l,
                                        g_currentColor.blue() * l, alpha));
}

// The tool geometry, null until the UI root has made it.
Shooter* toolGeometry() { return g_uivr ? g_uivr->m_shooter : nullptr; }

// Settings that read their first values: a record with fewer is ignored.
bool hasValues(const EventRecord& record, size_t count) { return record.m_values.size() >= count; }

void applySetting(const EventRecord& record) {
  const std::vector<float>& v = record.m_values;
  switch (record.m_id) {
    case 0:  // colour from the wheel; a nearly transparent pick is a miss
      if (!hasValues(record, 4) || v[3] < 0.1f) return;
      g_currentColor.set_red(v[0]);
      g_currentColor.set_green(v[1]);
      g_currentColor.set_blue(v[2]);
      g_currentColor.set_alpha(1.0f);
      colourPreview(1.0f);
      return;
    case 1:  // lightness bar
      if (!hasValues(record, 3)) return;
      g_currentColor.set_lightness((v[0] + v[1] + v[2]) / 3.0f);
      colourPreview(g_currentColor.alpha());
      return;
    case 2:
    case 3:
      if (Shooter* shooter = toolGeometry()) {
        if (v.empty())
          shooter->buildBrusherGeometry();
        else if (record.m_id == 2)
          shooter->setPrimaryValue(v[0]);
        else
          shooter->setSecondaryValue(v[0]);
      }
      return;
    case 4:
      if (hasValues(record, 1)) setFlag(FLAG_SMOOTHING, v[0] > 0.5f);
      return;
    case 6:
    case 7: {
      Shooter* shooter = toolGeometry();
      if (!shooter) return;
      // A swipe edits the helix only while it is drawn (the spin and braid shapes).
      const ModelElement* spliner = shooter->getGeometry(GEOMETRY_UI_SPLINER);
      const bool changed =
          !v.empty() && spliner && spliner->getFlag2() &&
          (record.m_id == 6 ? updateSwipeValue(v[0], 0.01f, 0.1f, &g_splinerRadius)
                            : updateSwipeValue(v[0], 0.05f, 3.0f, &g_splinerLength));
      if (v.empty() || changed) shooter->buildSplinerGeometry();
      return;
    }
    case 8:
      // An empty curve would leave new strokes without lighting; restoreBrushState never
      // allows one either.
      if (v.empty()) return;
      if (g_defaultLightCurve.v_size() == static_cast<int>(v.size())) {
        for (size_t i = 0; i < v.size(); ++i) g_defaultLightCurve.set_v(static_cast<int>(i), v[i]);
      } else {
        g_defaultLightCurve.clear_v();
        for (float value : v) g_defaultLightCurve.add_v(value);
      }
      if (Panel* panel = menuPanel()) panel->updateOperationPreview();
      return;
    case 9: {
      if (!hasValues(record, 1) || !g_modeler) return;
      std::string path = record.m_name;
      if (path.empty() && g_parameters.has_head_model())
        path = g_parameters.asset_path() + g_parameters.head_model();
      g_modeler->loadHead(path);
      if (HeadModel* head = findHeadModel()) {
        head->setRenderable(v[0] > 0.5f);
        // A replaced head's grid was taken from the brush as it was freed; this is the new one.
        if (g_hairBrusher) g_hairBrusher->attachSampleGrid(head->m_hairGrider);
      }
      return;
    }
    case 10:
      if (!hasValues(record, 1)) return;
      if (HeadModel* head = findHeadModel())
        if (head->m_mirror) head->m_mirror->setRenderable(v[0] > 0.5f);
      return;
    case 11:
      if (hasValues(record, 1)) setFlag(FLAG_COLLISION, v[0] > 0.5f);
      return;
    case 12:
      if (hasValues(record, 1)) setFlag(FLAG_OVERLAY, v[0] > 0.5f);
      return;
    case 13:
      if (g_modeState.size() > 2 && g_modeState[2] == 0 && g_brushShape == 4) {
        toggleFlag(FLAG_HINT_MODE);
        if (!flag(FLAG_HINT_MODE) && g_hairBrusher) g_hairBrusher->acceptSuggestion(flag(FLAG_OTHER_TRIGGER));
      }
      return;
    default:
      return;
  }
}

// Every stroke the selection can take, as one selection in the select tool's history.
void selectAll() {
  if (!g_operator) return;
  Interactor* select = g_operator->getTool(2);
  if (!select) return;
  auto* op = new SelectOp(g_operator->getTool(1));
  op->selectAll();
  select->push(op, false);
}

void load(const EventRecord& record) {
  if (!flag(FLAG_OTHER_TRIGGER)) {
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
    case 0:
      setMode(record.m_id);
      return;
    case 1:
      setMode(0);
      g_hairTexture = record.m_id;
      if (Panel* panel = menuPanel()) panel->updateOperationPreview();
      return;
    case 2:
      setMode(0);
      g_brushShape = record.m_id;
      postEvent(new EventRecord(4, 3));  // rebuilds the brush tool geometry in this drain
      setFlag(FLAG_NO_CURVATURE_SWIPE, record.m_id == 1 || record.m_id == 3);
      return;
    case 4:
      applySetting(record);
      return;
    case 5:
      load(record);
      return;
    case 6:
      // Written off the frame; the last saved file follows once it is.
      if (g_operator) g_operator->saveInBackground(record.m_name);
      return;
    case 7:
      if (!flag(FLAG_OTHER_TRIGGER)) {
        std::printf("\n please press and hold the non-drawing hand trigger to clear all. \n");
        return;
      }
      if (g_operator) g_operator->reset();
      return;
    case 9:
      if (g_operator && !hairSetEntryPath(record.m_id).empty())
        g_operator->loadPainting(hairSetEntryPath(record.m_id), true);
      return;
    case 10:
      selectAll();
      return;
    case 11:
      if (g_operator)
        if (Interactor* select = g_operator->getTool(2)) select->reset();
      return;
    default:
      // 3, 8 (the request target is never created), 12 and 13 (keys) and unknown types.
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
