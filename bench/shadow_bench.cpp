// One frame's shadow pass as start-up sizes it (5000 x 5000, from the initial 1000 x 1000 eye
// size) over the shipped head and the benchmarks' full painting (5,000 strands of 200 points) hung
// from its crown, beside one eye pass of the same scene at the headset's default render size
// (640 x 720, multisampled). Needs a display (xvfb-run -a); the figures are llvmpipe's.
#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/brush_state.h"
#include "bench/bench_support.h"
#include "bench/shipped_head.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/framebuffer.h"
#include "render/head_model.h"
#include "render/light.h"
#include "render/modeler.h"
#include "render/shader.h"
#include "render/texture.h"
#include "strokes/operatable.h"
#include "strokes/stroke_buffer.h"
#include "strokes/stroke_geometry.h"

namespace {

constexpr uint32_t kEyeWidth = 640, kEyeHeight = 720;

// The repo's asset tree: shaders, hair maps, the light mesh and the head.
const std::string kAssets = TRESSLET_SOURCE_DIR "/assets/";

// The process-wide state, managers, head, light and painting, made once under the benchmarks'
// hidden window.
struct Scene {
  std::vector<std::unique_ptr<Operatable>> strokes;
  std::unique_ptr<StrokeBufferRender> buffer;
  Matrix4 crown;
  LightModel* light = nullptr;
  bool ready = false;

  Scene() {
    if (!ensureBenchContext()) return;
    g_parameters.set_asset_path(kAssets);
    g_parameters.set_hair_texture("textures/defaultHairTex/texturemap.txt");
    g_flags.assign(FLAG_COUNT, false);
    g_modeState.assign(STATE_COUNT, 0);
    g_uiValues.assign(VALUE_COUNT, 0.0f);
    g_uiValues[VALUE_EYE_WIDTH] = g_uiValues[VALUE_EYE_HEIGHT] = 1000.0f;  // as start-up has them
    g_textureManager = new TextureManager();
    g_textureManager->registerTypeNames();
    g_shaderManager = new ShaderManager();
    g_shaderManager->loadShaders();
    restoreBrushState(nullptr);
    if (!loadHairTextureMaps()) return;
    g_modeler = new Modeler();
    g_lightManager = g_modeler->m_lightManager;
    light = createDefaultLight();
    if (!light || !g_modeler->loadHead(shippedHeadFolder() + "head.txt")) return;
    strokes = makePainting();
    // The painting hangs from the crown of the placed head.
    crown.at(1, 3) = 1.25f;
    buffer = std::make_unique<StrokeBufferRender>(StrokeBufferFormat(g_renderRows[HAIR_TEXTURE_DENSE]), 400000000u);
    for (const auto& stroke : strokes) {
      buffer->pushOperation(stroke.get());
      buffer->writeOperation(stroke.get(), true);
    }
    g_lightManager->m_drawStrokes = [this](const Matrix4& viewProjection) {
      buffer->draw(crown, viewProjection);
    };
    glFinish();
    ready = glGetError() == GL_NO_ERROR;
  }
};

Scene& scene() {
  static Scene made;
  return made;
}

void BM_ShadowPass(benchmark::State& state) {
  Scene& s = scene();
  if (!s.ready) {
    state.SkipWithError("no GL context or the scene does not load (run under xvfb-run -a)");
    return;
  }
  for (auto _ : state) {
    s.light->renderShadowMap();
    glFinish();
  }
  state.counters["map_side"] = s.light->m_shadowMapWidth;
}
BENCHMARK(BM_ShadowPass)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_EyePass(benchmark::State& state) {
  Scene& s = scene();
  if (!s.ready) {
    state.SkipWithError("no GL context or the scene does not load (run under xvfb-run -a)");
    return;
  }
  FramebufferMultiDesc eye;
  if (!eye.init(kEyeWidth, kEyeHeight, 12)) {  // the settings' default multisample_size
    state.SkipWithError("no eye target");
    return;
  }
  s.light->renderShadowMap();
  // 0.6 m in front of the head, looking at it, with a 100 degree field of view.
  Matrix4 view, projection, viewProjection;
  view.at(1, 3) = -1.0f;
  view.at(2, 3) = -0.6f;
  const float halfWidth = 0.1f * std::tan(50.0f * 3.14159265f / 180.0f);
  computeProjectionMatrix(true, 2 * halfWidth, 2 * halfWidth * kEyeHeight / kEyeWidth, 0.1f, 30.0f,
                          projection.data());
  multiplyMatrix4(projection, viewProjection, view);
  g_headMatrix[1] = 1.0f;
  g_headMatrix[2] = 0.6f;
  for (auto _ : state) {
    glBindFramebuffer(GL_FRAMEBUFFER, eye.m_framebuffer);
    glViewport(0, 0, kEyeWidth, kEyeHeight);
    glClearColor(0.15f, 0.15f, 0.18f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    s.buffer->draw(s.crown, viewProjection);
    g_modeler->renderModels(viewProjection);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    eye.resolve();
    glFinish();
  }
  state.counters["samples"] = eye.m_samples;
}
BENCHMARK(BM_EyePass)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
