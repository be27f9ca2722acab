#include "app/application.h"

#include "app/brush_state.h"

#include <cstdio>
#include <string>
#include <vector>

#include "core/events.h"
#include "core/hand_frames.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/system.h"
#include "quillax.pb.h"
#include "render/camera.h"
#include "render/light.h"
#include "render/modeler.h"
#include "render/shader.h"
#include "render/texture.h"
#include "strokes/deformer.h"
#include "strokes/hair_brusher.h"
#include "strokes/operator.h"
#include "strokes/painting_files.h"
#include "strokes/transformer.h"
#include "ui/uivr.h"

namespace {

const char* const kAutosavesFile = "autosaves.txt";
const uint32_t kBrushStatePeriodMs = 8000;

// An autosave file that did not read is the user's last brush and scene: it is moved aside
// before the first write instead of being written over.
enum class AutosavesFile { Ours, MoveAside, Untouchable };
AutosavesFile s_autosavesFile = AutosavesFile::Ours;

// False when the file must not be written this run.
bool readyToWriteAutosaves() {
  if (s_autosavesFile == AutosavesFile::MoveAside) {
    std::string movedTo;
    if (platform::moveAside(kAutosavesFile, ".bad", movedTo)) {
      std::printf("autosaveTick: %s moved to %s\n", kAutosavesFile, movedTo.c_str());
      s_autosavesFile = AutosavesFile::Ours;
    } else {
      std::printf("autosaveTick: %s could not be moved aside; the brush state is not autosaved this run\n",
                  kAutosavesFile);
      s_autosavesFile = AutosavesFile::Untouchable;
    }
  }
  return s_autosavesFile == AutosavesFile::Ours;
}

// The brush state and the scene as they are now, with the last saved painting, to "autosaves.txt".
void writeAutosaves() {
  quillax::Operation brush;
  saveBrushState(&brush);
  g_autosaves.mutable_operation()->Swap(&brush);
  quillax::Scene* scene = g_autosaves.mutable_scene();
  scene->Clear();
  if (g_modeler) g_modeler->toScene(scene);
  if (readyToWriteAutosaves()) WriteProtoToTextFile(g_autosaves, kAutosavesFile);
}

}  // namespace

bool periodPassed(uint32_t now, uint32_t since, uint64_t periodMs) {
  return static_cast<uint32_t>(now - since) > periodMs;
}

void readAutosaves() {
  // A file that does not parse is dropped whole, so a half-read record never restores half a
  // brush.
  g_autosaves.Clear();
  s_autosavesFile = AutosavesFile::Ours;
  if (readOwnTextFile(kAutosavesFile, &g_autosaves) == OwnFileRead::Kept) {
    std::printf("initApplication: %s could not be read; using the default brush, and the file is moved to "
                "%s.bad before the first autosave\n",
                kAutosavesFile, kAutosavesFile);
    s_autosavesFile = AutosavesFile::MoveAside;
  }
}

int removeStaleTemporaries() {
  const std::string assets = g_parameters.asset_path();
  std::vector<std::string> folders = {".", assets.empty() ? "." : assets, assets + "hair",
                                       assets + "shaders"};
  const std::string savingRoot = defaultSavingRoot();
  std::vector<std::string> runs;
  platform::listFolder(savingRoot, runs);
  for (const std::string& run : runs)
    if (platform::isFolder(savingRoot + "/" + run)) folders.push_back(savingRoot + "/" + run);
  int removed = 0;
  for (const std::string& folder : folders) {
    const int count = platform::removeStaleTemporaries(folder);
    if (count > 0)
      std::printf("removed %d temporaries of ended saves from %s\n", count, folder.c_str());
    removed += count;
  }
  return removed;
}

void initApplication() {
  // 1. The previous run's brush state and scene.
  readAutosaves();

  // 2. Texture cache with its type names.
  g_textureManager = new TextureManager();
  g_textureManager->registerTypeNames();

  // 3. The twelve shader programs.
  g_shaderManager = new ShaderManager();
  g_shaderManager->loadShaders();

  // 4. Brush state.
  restoreBrushState(g_autosaves.has_operation() ? &g_autosaves.operation() : nullptr);

  // 5. Hair material, then the hair set.
  loadHairTextureMaps();
  loadHairSet();

  // 6. The model registry with its light manager, and the default light. The eye render size
  //    is still the initial 1000 x 1000 here (the VR runtime starts later): a 5000 x 5000 map.
  g_modeler = new Modeler();
  g_lightManager = g_modeler->m_lightManager;
  g_cameraManager = g_modeler->m_cameraManager;
  createDefaultLight();
  // Every tool's strokes cast shadows. The tool controller is looked up at each pass, so a pass
  // before step 8 or after the shutdown finds none rather than a deleted one.
  g_lightManager->m_drawStrokes = [](const Matrix4& viewProjection) {
    if (g_operator) g_operator->drawTools(viewProjection);
  };

  // 7. Capture cameras from asset_path + "cameras.txt", then select camera 0.
  g_cameraManager->loadCameras(g_parameters.asset_path() + "cameras.txt");

  // 8. The tool controller and its ten tools. The captures draw the tools' strokes as the
  //    shadow pass does.
  g_operator = new Operator();
  g_operator->createTools();
  setTransformer(dynamic_cast<Transformer*>(g_operator->getTool(TOOL_MOVE)));
  g_deformer = dynamic_cast<Deformer*>(g_operator->getTool(TOOL_DEFORM));
  g_hairBrusher = dynamic_cast<hairBrusher*>(g_operator->getTool(TOOL_BRUSH));
  g_cameraManager->m_drawStrokes = g_lightManager->m_drawStrokes;
  // 9. The VR interface: the menu panel and the tool geometry. Its first states post the
  //    starting texture, shape, edit mode, light curve and mode 0 for the first frame's drain.
  g_uivr = new UIVR();
  g_uivr->init();

  // 10. Load and show the head model during the first frame.
  postEvent(new EventRecord(EVENT_SETTING, SETTING_HEAD_MODEL, std::string(), {1.0f}));
}

bool autosaveTick() {
  if (g_operator) g_operator->finishSaves();  // saves written since the last frame
  uint32_t* brushStateSaved = timerSlot(TIMER_BRUSH_STATE_SAVE);
  uint32_t* projectSaved = timerSlot(TIMER_PROJECT_AUTOSAVE);
  if (!brushStateSaved || !projectSaved) return true;  // before loadParameters there is nothing to time
  const uint32_t now = platform::timeGetTime();
  if (periodPassed(now, *brushStateSaved, kBrushStatePeriodMs)) {
    *brushStateSaved = now;
    writeAutosaves();
    if (g_cameraManager) g_cameraManager->saveCameras();
  }
  const int64_t period = g_parameters.project_autosave_period();
  if (period >= 1 && periodPassed(now, *projectSaved, static_cast<uint64_t>(period) * 1000u)) {
    *projectSaved = now;
    Operator::autosave();
  }
  return true;
}

bool shutdownApplication() {
  // A stroke still being drawn is finished as the trigger's release would finish it (with its
  // mirrored twin as shown), so the close saves it with the rest.
  if (g_operator && g_operator->engaged()) g_operator->release(g_drawingHandMatrix, g_otherHandMatrix);
  // 1. A last state save when its period has passed.
  autosaveTick();
  platform::noteProgress();
  // 2. The painting, under a new name in the run's saving folder, once the writes handed over
  //    before it (an autosave of step 1) are done.
  bool saved = true;
  if (g_operator) {
    g_operator->saveAtClose();
    // The controller's own copy comes at its deletion: the painting is saved when either landed.
    // Its last word is given there, and from then on nothing holds the painting.
    g_operator->m_onClosed = [&saved](bool landed) {
      saved = landed;
      platform::noteCloseFinished(saved ? 0 : 1);
    };
  }
  // 3. The managers, in this order, each pointer cleared with its object so that what runs
  //    later sees it gone. The TextureManager and the hair texture slots end with the process.
  delete g_shaderManager;
  g_shaderManager = nullptr;
  delete g_uivr;
  g_uivr = nullptr;
  platform::noteProgress();
  // The tools go with it, letting go of g_transformer, g_deformer and g_hairBrusher.
  delete g_operator;
  g_operator = nullptr;
  platform::noteCloseFinished(saved ? 0 : 1);  // without a controller: its word is this
  delete g_modeler;
  g_modeler = nullptr;
  g_lightManager = nullptr;
  g_cameraManager = nullptr;
  // 4. g_requestClient is never created, so there is nothing to stop.
  return saved;
}

void endSessionOnLostDisplay(uint32_t waitLimitMs) {
  if (!g_operator) {
    std::printf("the display was lost\n");
    return;
  }
  std::string unfinished;
  const Operator::SaveResult result = g_operator->saveBeforeExit(waitLimitMs, &unfinished);
  if (!unfinished.empty()) {
    // The file system may hang: nothing more is written. Earlier files stay whole, as every file
    // is replaced only once its new text is complete.
    std::printf("the display was lost; the painting was not saved: the save of %s did not finish within %u s\n",
                unfinished.c_str(), waitLimitMs / 1000);
    return;
  }
  // The next start's brush, and the painting this end saved, as a close leaves them.
  writeAutosaves();
  switch (result) {
    case Operator::SaveResult::Saved:
      std::printf("the display was lost; the painting was saved as %s\n",
                  g_autosaves.last_save_file().c_str());
      return;
    case Operator::SaveResult::NothingToSave:
      std::printf("the display was lost; there was no stroke to save\n");
      return;
    case Operator::SaveResult::Failed:
      std::printf("the display was lost; the painting was not saved\n");
      return;
  }
}
