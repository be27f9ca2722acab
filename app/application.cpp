#include "app/application.h"

#include "core/events.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/clock.h"
#include "quillax.pb.h"

namespace {

const char* const kAutosavesFile = "autosaves.txt";
const uint32_t kBrushStatePeriodMs = 8000;
const int kDefaultLightCurveSize = 30;

}  // namespace

void initApplication() {
  // 1. The previous run's brush state and scene. A file that does not parse is dropped whole,
  //    so a half-read record never restores half a brush.
  g_autosaves.Clear();
  if (!ReadProtoFromTextFile(kAutosavesFile, &g_autosaves)) g_autosaves.Clear();

  // 2. TextureManager: create g_textureManager and register its texture type names.
  // 3. ShaderManager: create g_shaderManager and load the twelve shader programs.

  // 4. Brush state.
  restoreBrushState(g_autosaves.has_operation() ? &g_autosaves.operation() : nullptr);

  // 5. loadHairTextureMaps(), then loadHairSet().
  // 6. Modeler: create g_modeler (g_lightManager, g_cameraManager are its members) and its
  //    default light.
  // 7. Capture cameras from asset_path + "cameras.txt", then select camera 0.
  // 8. Operator: create g_operator and its ten tools; g_transformer, g_deformer and
  //    g_hairBrusher from tools 6, 7 and 1 when they are of that class.
  // 9. UIVR: create g_uivr and run its init (menu panel and tool geometry).

  // 10. Load and show the head model during the first frame.
  postEvent(new EventRecord(4, 9, std::string(), {1.0f}));
}

bool autosaveTick() {
  if (g_timers.size() < 2) return true;  // before loadParameters there is nothing to time
  const uint32_t now = platform::timeGetTime();
  if (now - g_timers[0] > kBrushStatePeriodMs) {
    g_timers[0] = now;
    saveBrushState(g_autosaves.mutable_operation());
    // The scene: g_modeler->toScene into g_autosaves.mutable_scene(), once the Modeler exists.
    WriteProtoToTextFile(g_autosaves, kAutosavesFile);
    // Then g_cameraManager->saveCameras().
  }
  // Project autosave: when project_autosave_period >= 1 and now - g_timers[1] exceeds it in
  // milliseconds, g_timers[1] := now and Operator::autosave(), once the Operator exists.
  return true;
}

void shutdownApplication() {
  // 1. A last state save when its period has passed.
  autosaveTick();
  // 2. g_operator->savePainting("") into the run's saving folder.
  // 3. Delete g_shaderManager, then g_uivr, then g_operator (its destructor saves once more
  //    and deletes the tools), then g_modeler. The TextureManager and the hair texture slots
  //    end with the process.
  // 4. g_requestClient is never created, so there is nothing to stop.
}

void restoreBrushState(const quillax::Operation* operation) {
  if (operation) {
    const quillax::Color& color = operation->color();  // all zero when absent
    g_currentColor.set_red(color.red());
    g_currentColor.set_green(color.green());
    g_currentColor.set_blue(color.blue());
    g_currentColor.set_lightness(color.lightness());
    g_hairTexture = operation->texture();
    g_brushWidth = operation->width();
    g_curvature = operation->curvature();
    g_defaultLightCurve = operation->lightcurve();
  } else {
    g_currentColor.set_red(0.92f);
    g_currentColor.set_green(0.92f);
    g_currentColor.set_blue(0.71f);
    g_currentColor.set_lightness(1.0f);
    g_hairTexture = 0;
    g_brushWidth = 0.02f;
    g_curvature = 0;
  }
  // The 47 cross-section profiles (curvature -23 to 23) into g_curveProfiles and
  // g_curveProfileNormals, by buildRingMesh, once the ring geometry exists.
  if (g_defaultLightCurve.v_size() == 0) {
    for (int i = 0; i < kDefaultLightCurveSize; ++i) g_defaultLightCurve.add_v(1.0f);
  }
}

void saveBrushState(quillax::Operation* operation) {
  operation->set_texture(g_hairTexture);
  operation->set_width(g_brushWidth);
  operation->set_curvature(g_curvature);
  *operation->mutable_color() = g_currentColor;
  *operation->mutable_lightcurve() = g_defaultLightCurve;
}
