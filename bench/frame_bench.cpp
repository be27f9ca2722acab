// One whole frame of a trace run, per phase, on llvmpipe (under a display, e.g. xvfb-run -a): the
// program started as it starts (settings, managers, menu, tool geometry, the shipped head), a
// painting of 5,000 hair strokes of 200 points in the brush, and the simulated headset at its
// default render size (640 x 720, the settings' multisampling) looking at the head with the menu
// in the left hand and the drawing hand pointing at it. Phases: the step before the eyes (hand
// frames, the shadow pass; no capture cameras, as shipped), one eye, its resolve, the menu and tool
// geometry inside it, the lens mirror, and input handling.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <unistd.h>

#include "app/application.h"
#include "app/dispatcher.h"
#include "app/openvr.h"
#include "bench/bench_support.h"
#include "core/settings.h"
#include "render/framebuffer.h"
#include "render/head_model.h"
#include "render/model_element.h"
#include "render/modeler.h"
#include "strokes/buffer_undoer.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "ui/panel.h"
#include "ui/shooter.h"
#include "ui/uivr.h"

namespace {

constexpr int kStrokes = 5000;
constexpr int kPoints = 200;

// A throw-away asset root whose folders point at the repository's, so that what the program
// writes back (settings, autosaves) stays out of the tree.
std::string makeRoot() {
  namespace fs = std::filesystem;
  const fs::path assets = fs::path(TRESSLET_SOURCE_DIR) / "assets";
  const fs::path root = fs::temp_directory_path() / ("tresslet_frame_bench_" + std::to_string(getpid()));
  std::error_code ec;
  fs::create_directories(root / "run", ec);
  for (const char* folder : {"shaders", "textures", "models", "targets"}) fs::create_directory_symlink(assets / folder, root / folder, ec);
  fs::copy_file(assets / "parameters.txt", root / "parameters.txt", fs::copy_options::overwrite_existing, ec);
  std::ofstream(root / "run" / "frame.trace")
      << "render_size 640 720\nframe_ms 11\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
         "pose 0 pos 0 1.0 0.6 rot 0 -8 0\npose 1 pos 0.22 0.72 0.38 rot 81.25 6.51 0\n"
         "pose 2 pos -0.30 0.60 0.30 rot 35 0 0\n";
  return root.string();
}

struct Run {
  OpenVR vr;
  FramebufferDesc desktop;
  bool ready = false;
  Matrix4 viewProjection;

  Run() {
    if (!ensureBenchContext()) return;
    const std::string root = makeRoot();
    if (chdir((root + "/run").c_str()) != 0) return;
    setenv("TRESSLET_VR_TRACE", (root + "/run/frame.trace").c_str(), 1);
    std::printf("(start-up output follows)\n");
    loadParameters();
    initApplication();
    dispatchEvents();  // the head and the menu's first states
    g_timers.clear();  // no autosave writes while measuring
    if (!findHeadModel() || !g_hairBrusher || !vr.init()) return;
    vr.resetControllerAssignment();
    // Added whole, as a loaded painting adds them, hanging round the head's height.
    for (quillax::Operation& stored : paintedStrokes(kStrokes, kPoints)) {
      stored.set_texture(HAIR_TEXTURE_DENSE + g_hairBrusher->size() % 3);
      *stored.mutable_color() = g_currentColor;
      for (auto& point : *stored.mutable_points()) point.set_y(point.y() - 0.55f);
      auto* stroke = new Operatable(new quillax::Operation(stored));
      g_hairBrusher->notify(stroke, NOTIFY_ADDED);
      g_hairBrusher->push(stroke, false);
    }
    // The desktop view at the window's size, as the program's window has it.
    if (!desktop.init(g_parameters.window_width(), g_parameters.window_height(), 1)) return;
    vr.setDesktopFramebuffer(desktop.m_framebuffer);
    for (int i = 0; i < 4; ++i) frame();  // poses, roles, the menu shown and hit
    viewProjection = vr.getCurrentViewProjectionMatrix(0);
    ready = g_uivr && g_uivr->m_panel->isVisible() && g_uivr->m_shooter->isVisible();
  }
  void frame() {
    vr.renderFrame();
    vr.handleInput();
  }
};

Run& run() {
  static Run made;
  return made;
}

bool ready(benchmark::State& state) {
  if (run().ready) return true;
  state.SkipWithError("no GL context, or the program does not start (run under xvfb-run -a)");
  return false;
}

void BM_WholeFrame(benchmark::State& state) {
  if (!ready(state)) return;
  for (auto _ : state) {
    run().frame();
    glFinish();
  }
  state.counters["strokes"] = g_hairBrusher->size();
}
BENCHMARK(BM_WholeFrame)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_PreRender(benchmark::State& state) {
  if (!ready(state)) return;
  for (auto _ : state) {
    run().vr.preRender();
    glFinish();
  }
}
BENCHMARK(BM_PreRender)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_OneEye(benchmark::State& state) {
  if (!ready(state)) return;
  OpenVR& vr = run().vr;
  for (auto _ : state) {
    glEnable(GL_MULTISAMPLE);  // as the frame draws each eye
    glBindFramebuffer(GL_FRAMEBUFFER, vr.eyeFramebuffer(0).m_framebuffer);
    glViewport(0, 0, static_cast<GLsizei>(vr.renderWidth()), static_cast<GLsizei>(vr.renderHeight()));
    vr.renderScene(0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDisable(GL_MULTISAMPLE);
    glFinish();
  }
}
BENCHMARK(BM_OneEye)->Unit(benchmark::kMillisecond)->UseRealTime();

// Resolving one eye's multisampled image into the texture that is submitted and mirrored.
void BM_EyeResolve(benchmark::State& state) {
  if (!ready(state)) return;
  auto& eye = const_cast<FramebufferMultiDesc&>(run().vr.eyeFramebuffer(0));
  for (auto _ : state) {
    eye.resolve();
    glFinish();
  }
  state.counters["samples"] = eye.m_samples;
}
BENCHMARK(BM_EyeResolve)->Unit(benchmark::kMillisecond)->UseRealTime();

// The part of an eye that the menu and the tool geometry take.
void BM_MenuAndToolGeometryInOneEye(benchmark::State& state) {
  if (!ready(state)) return;
  OpenVR& vr = run().vr;
  Matrix4 held;
  multiplyMatrix4(run().viewProjection, held, vr.otherHandDeviceMatrix());
  for (auto _ : state) {
    glEnable(GL_MULTISAMPLE);
    glBindFramebuffer(GL_FRAMEBUFFER, vr.eyeFramebuffer(0).m_framebuffer);
    glViewport(0, 0, static_cast<GLsizei>(vr.renderWidth()), static_cast<GLsizei>(vr.renderHeight()));
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    g_uivr->m_panel->render(held);
    g_uivr->m_shooter->render(vr.drawingHandDeviceMatrix(), run().viewProjection);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    glDisable(GL_MULTISAMPLE);
    glFinish();
  }
}
BENCHMARK(BM_MenuAndToolGeometryInOneEye)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LensMirror(benchmark::State& state) {
  if (!ready(state)) return;
  // Drawn as the frame draws it: into the desktop view at the settings' size, without depth.
  auto* lens = const_cast<ModelContainer*>(run().vr.lens());
  for (auto _ : state) {
    glBindFramebuffer(GL_FRAMEBUFFER, run().desktop.m_framebuffer);
    glDisable(GL_DEPTH_TEST);
    glViewport(0, 0, static_cast<GLsizei>(g_parameters.window_width()), static_cast<GLsizei>(g_parameters.window_height()));
    lens->render(Matrix4(), Matrix4());
    glFinish();
  }
}
BENCHMARK(BM_LensMirror)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InputHandling(benchmark::State& state) {
  if (!ready(state)) return;
  for (auto _ : state) run().vr.handleInput();
}
BENCHMARK(BM_InputHandling)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
