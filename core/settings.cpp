#include "core/settings.h"

#include <cmath>
#include <string>

#include "core/cout_line.h"
#include "core/text_file.h"
#include "platform/clock.h"

namespace {

quillax::Color initialColor() {
  quillax::Color color;
  color.set_red(0.8f);
  color.set_green(0.9f);
  color.set_blue(0.8f);
  color.set_lightness(1.0f);
  return color;
}

}  // namespace

// Defined in one unit so they are built in this order before main.
quillax::Color g_currentColor = initialColor();
quillax::FloatList g_defaultLightCurve;
quillax::HairTextureMaps g_hairTextureMaps;
std::vector<std::vector<float>> g_curveProfiles;
std::vector<std::vector<float>> g_curveProfileNormals;
quillax::Parameters g_parameters;
quillax::Autosaves g_autosaves;
std::vector<bool> g_flags;
std::vector<int32_t> g_modeState;
std::vector<float> g_uiValues;
std::vector<uint32_t> g_timers;
quillax::Hairs g_hairs;
float g_brushWidth = 0.02f;
float g_splinerLength = 0.3f;
float g_splinerRadius = 0.05f;
int32_t g_hairTexture = 0;
int32_t g_brushShape = 0;
int32_t g_curvature = 0;

namespace {


void fillCodeDefaults(quillax::Parameters* p) {
  if (!p->has_window_width()) p->set_window_width(1920);
  if (!p->has_window_height()) p->set_window_height(1080);
  if (!p->has_multisample_size()) p->set_multisample_size(12);
  if (!p->has_project_autosave_period()) p->set_project_autosave_period(180);
  if (!p->has_asset_path()) p->set_asset_path("../");
  if (!p->has_project_to_load()) p->set_project_to_load("data/demo.txt");
  if (!p->has_project_to_save()) p->set_project_to_save("data/record");
  if (!p->has_hair_texture()) p->set_hair_texture("textures/defaultHairTex/texturemap.txt");
  if (!p->has_head_model()) p->set_head_model("models/defaultHead/new_neutral.obj");
  if (!p->has_reference_image()) p->set_reference_image("targets/braid_result.png");
  if (!p->has_capture_image_width()) p->set_capture_image_width(1000);
  if (!p->has_capture_image_height()) p->set_capture_image_height(800);
  if (!p->has_sampling_space()) p->set_sampling_space(3);
  if (!p->has_sampling_distance()) p->set_sampling_distance(0.012f);
  if (!p->has_max_curvature()) p->set_max_curvature(23);
  if (!p->has_debug_visual()) p->set_debug_visual(0);
  if (!p->has_control_sample_size()) p->set_control_sample_size(20);
}

template <typename T>
void reportCorrected(const char* field, T was, T now) {
  coutLine("parameters.txt: ", field, " ", was, " is out of range, using ", now);
}

// A size, count or sample spacing of zero or less breaks the windows, framebuffers and
// stroke sampling that divide by or allocate with it.
void requirePositive(const char* field, int32_t (quillax::Parameters::*get)() const,
                     void (quillax::Parameters::*set)(int32_t), const quillax::Parameters& defaults,
                     quillax::Parameters* p) {
  const int32_t value = (p->*get)();
  if (value > 0) return;
  const int32_t fallback = (defaults.*get)();
  reportCorrected(field, value, fallback);
  (p->*set)(fallback);
}

// X keeps window sizes in 16 bits: larger ones wrap or make a window that never shows; GL drivers
// take no larger images either.
void requireAtMost(const char* field, int32_t limit, int32_t (quillax::Parameters::*get)() const,
                   void (quillax::Parameters::*set)(int32_t), quillax::Parameters* p) {
  const int32_t value = (p->*get)();
  if (value <= limit) return;
  reportCorrected(field, value, limit);
  (p->*set)(limit);
}

void correctUnusableValues(quillax::Parameters* p) {
  using P = quillax::Parameters;
  P defaults;
  fillCodeDefaults(&defaults);
  requirePositive("window_width", &P::window_width, &P::set_window_width, defaults, p);
  requirePositive("window_height", &P::window_height, &P::set_window_height, defaults, p);
  requireAtMost("window_width", kMaxWindowSize, &P::window_width, &P::set_window_width, p);
  requireAtMost("window_height", kMaxWindowSize, &P::window_height, &P::set_window_height, p);
  requirePositive("multisample_size", &P::multisample_size, &P::set_multisample_size, defaults, p);
  requirePositive("capture_image_width", &P::capture_image_width, &P::set_capture_image_width,
                  defaults, p);
  requirePositive("capture_image_height", &P::capture_image_height, &P::set_capture_image_height,
                  defaults, p);
  requireAtMost("capture_image_width", kMaxImageSize, &P::capture_image_width,
                &P::set_capture_image_width, p);
  requireAtMost("capture_image_height", kMaxImageSize, &P::capture_image_height,
                &P::set_capture_image_height, p);
  requirePositive("sampling_space", &P::sampling_space, &P::set_sampling_space, defaults, p);
  requirePositive("control_sample_size", &P::control_sample_size, &P::set_control_sample_size,
                  defaults, p);
  // Every stroke keeps three floats per control point: a huge count would exhaust memory.
  if (p->control_sample_size() > kMaxControlSamples) {
    reportCorrected("control_sample_size", p->control_sample_size(), kMaxControlSamples);
    p->set_control_sample_size(kMaxControlSamples);
  }

  const float distance = p->sampling_distance();
  if (!std::isfinite(distance)) {
    reportCorrected("sampling_distance", distance, defaults.sampling_distance());
    p->set_sampling_distance(defaults.sampling_distance());
  } else if (distance < kMinSamplingDistance) {
    reportCorrected("sampling_distance", distance, kMinSamplingDistance);
    p->set_sampling_distance(kMinSamplingDistance);
  }
  // No code default of its own: back to the schema's.
  if (!std::isfinite(p->deform_strength())) {
    reportCorrected("deform_strength", p->deform_strength(), defaults.deform_strength());
    p->clear_deform_strength();
  }
}

}  // namespace

void loadParameters() {
  const uint32_t now = platform::timeGetTime();
  g_timers.assign(TIMER_COUNT, now);
  g_flags.assign(FLAG_COUNT, false);
  g_flags[FLAG_SMOOTHING] = true;
  g_flags[FLAG_COLLISION] = true;
  g_modeState = {TOOL_PEN, TOOL_PEN, UI_MODE_BRUSH, -1, -1, -1, -1, -1, -1, -1, 0};
  g_uiValues = {1.0f, 0.05f, 2.0f, 0.2f, 1000.0f, 1000.0f, 0.0f, 0.0f, 0.0f, 0.3f, 0.0f, 0.0f,
                0.0f};
  static_assert(STATE_COUNT == 11 && VALUE_COUNT == 13, "the initial values fill every slot");

  const std::string path = g_parameters.asset_path() + "parameters.txt";
  quillax::Parameters parameters;
  // Overwriting a file that does not read with defaults would lose the user's settings over
  // one typo.
  const OwnFileRead read = readOwnTextFile(path, &parameters);
  if (read == OwnFileRead::Kept) reportKeptFile("loadParameters", path, "default settings");
  const bool writeBack = read != OwnFileRead::Kept;
  fillCodeDefaults(&parameters);
  // A failed write is reported by the writer; the run goes on with these settings.
  if (writeBack) WriteProtoToTextFile(parameters, path.c_str());
  correctUnusableValues(&parameters);

  g_parameters.Clear();
  g_parameters.MergeFrom(parameters);
}

int32_t updateCurrentToolId() {
  const int32_t mode = modeStateAt(STATE_UI_MODE, UI_MODE_PANELS);
  ToolId tool = toolOfMode(mode);
  if (tool == TOOL_NONE) return TOOL_NONE;
  if (mode == UI_MODE_BRUSH) {
    if (g_brushShape == BRUSH_HINT && flagOn(FLAG_HINT_MODE))
      tool = TOOL_SELECT;  // picks among the suggested strands
    else if (g_hairTexture == HAIR_TEXTURE_PEN)
      tool = TOOL_PEN;
  }
  setModeStateAt(STATE_CURRENT_TOOL, tool);
  return tool;
}

void toggleFlag(int32_t n) {
  if (n < 0 || static_cast<size_t>(n) >= g_flags.size()) return;
  g_flags[n] = !g_flags[n];
}

void setCurrentColor(const quillax::Color& color) {
  if (&color == &g_currentColor) return;
  g_currentColor.CopyFrom(color);
}

quillax::Color toColorMessage(const Vec3f& color) {
  return toColorMessage(Vec4f(color[0], color[1], color[2], 1.0f));
}

quillax::Color toColorMessage(const Vec4f& color) {
  quillax::Color message;
  message.set_red(color[0]);
  message.set_green(color[1]);
  message.set_blue(color[2]);
  message.set_lightness(color[3]);
  return message;
}
