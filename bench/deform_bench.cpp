// The deform tool's activation over a user's selection, one deform step over a collected
// painting with several guides, and one capture camera's picture of the shipped head at the
// default capture size. The capture needs a display (xvfb-run -a); its figures are llvmpipe's.
#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/camera.h"
#include "render/light.h"
#include "render/modeler.h"
#include "render/shader.h"
#include "render/texture.h"
#include "strokes/deformer.h"
#include "strokes/interactor.h"
#include "strokes/operatable.h"

namespace {

constexpr int kStrokePoints = 100;

// A brush history of `count` selected strokes of 100 points, without buffers, and a deform tool
// over it.
struct Selection {
  Interactor source{1};
  std::unique_ptr<Deformer> deformer;

  explicit Selection(int count) {
    setBrushState();
    g_parameters.clear_control_sample_size();
    g_parameters.clear_deform_strength();
    for (const quillax::Operation& stored : paintedStrokes(count, kStrokePoints)) {
      auto* stroke = new Operatable(new quillax::Operation(stored));
      stroke->setSelected(true);
      source.push(stroke, false);
    }
    deformer = std::make_unique<Deformer>(&source);
  }
  ~Selection() {
    deformer.reset();
    source.reset();
  }
};

// Time per iteration: entering the deform mode with `count` selected strokes (the pairwise
// weights are most of it).
void BM_DeformActivation(benchmark::State& state) {
  Selection selection(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    selection.deformer->m_strokes.clear();
    selection.deformer->activate();
    benchmark::DoNotOptimize(selection.deformer->m_weights.data());
  }
  state.counters["strokes"] = static_cast<double>(selection.deformer->m_strokes.size());
}
BENCHMARK(BM_DeformActivation)->Arg(100)->Arg(1000)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Time per iteration: one deform step over 1,000 collected strokes with `guides` applied guides,
// each lifting its own target's tip by 5 cm.
void BM_DeformStep(benchmark::State& state) {
  Selection selection(1000);
  Deformer& deformer = *selection.deformer;
  deformer.activate();
  const int guides = static_cast<int>(state.range(0));
  for (int g = 0; g < guides; ++g) {
    const int target = g * 997 % static_cast<int>(deformer.m_strokes.size());
    auto* guide = new Operatable(HAIR_TEXTURE_PEN);
    const std::vector<float>& rest = deformer.m_strokes[static_cast<size_t>(target)]->m_target;
    for (size_t i = 0; i < rest.size(); ++i)
      guide->m_operation->mutable_midaxis()->add_v(rest[i] + (i % 3 == 2 ? 0.05f : 0.0f));
    deformer.m_targetIndex = target;
    deformer.push(guide, false);
  }
  for (auto _ : state) deformer.deformStep();
  state.counters["guides"] = guides;
}
BENCHMARK(BM_DeformStep)->Arg(1)->Arg(5)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(5);

std::string assetRoot() { return TRESSLET_SOURCE_DIR "/assets/"; }

// The shaders, the registry with the default light and the shipped head, and one front camera
// of the default capture settings (1000 x 800, 12 samples asked for).
struct CaptureScene {
  CameraModel* camera = nullptr;
  bool ready = false;

  CaptureScene() {
    if (!ensureBenchContext()) return;
    g_parameters.set_asset_path(assetRoot());
    g_parameters.set_capture_image_width(1000);
    g_parameters.set_capture_image_height(800);
    g_parameters.set_multisample_size(12);
    g_flags.assign(FLAG_COUNT, false);
    g_modeState.assign(STATE_COUNT, 0);
    g_uiValues = {1.0f, 0.05f, 2.0f, 0.2f, 1000.0f, 1000.0f, 0, 0, 0, 0.3f, 0, 0, 0};
    g_textureManager = new TextureManager();
    g_textureManager->registerTypeNames();
    g_shaderManager = new ShaderManager();
    g_shaderManager->loadShaders();
    g_modeler = new Modeler();
    g_lightManager = g_modeler->m_lightManager;
    g_cameraManager = g_modeler->m_cameraManager;
    createDefaultLight();
    if (!g_modeler->loadHead(assetRoot() + "models/defaultHead/head.txt")) return;
    camera = g_cameraManager->createCamera(Vec3f(0.0f, 1.15f, 0.7f), Vec3f(0.0f, 0.0f, 1.0f));
    g_cameraManager->selectCamera(0);
    glFinish();
    ready = camera->m_targetReady && glGetError() == GL_NO_ERROR;
  }
};

// Time per iteration and camera: the frame's capture of every camera without saving (the
// current camera twice: once for the visibility image, once with its own program).
void BM_CaptureAllPerCamera(benchmark::State& state) {
  static CaptureScene scene;
  if (!scene.ready) {
    state.SkipWithError("no GL context or the head does not load (run under xvfb-run -a)");
    return;
  }
  for (auto _ : state) {
    g_cameraManager->captureAll(std::string());
    glFinish();
  }
  state.counters["samples"] = scene.camera->m_target.m_samples;
}
BENCHMARK(BM_CaptureAllPerCamera)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

}  // namespace
