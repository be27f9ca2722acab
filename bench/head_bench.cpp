// Loading the shipped head from its files, phase by phase: the mesh import, the image decoding,
// the level-set mesh read, and the whole load with GL uploads (under a display, e.g. xvfb-run).
#include <GL/glew.h>
#include <assimp/Importer.hpp>
#include <assimp/scene.h>
#include <benchmark/benchmark.h>

#include <opencv2/imgcodecs.hpp>
#include <string>

#include "core/obj_reader.h"
#include "platform/window.h"
#include "render/head_model.h"
#include "render/texture.h"

namespace {

std::string headFolder() {
  const std::string self = __FILE__;
  return self.substr(0, self.rfind('/')) + "/../assets/models/defaultHead/";
}

void BM_HeadMeshImport(benchmark::State& state) {
  const std::string path = headFolder() + "head.obj";
  for (auto _ : state) {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFile(path, 41);
    if (!scene) {
      state.SkipWithError("head.obj does not import");
      return;
    }
    benchmark::DoNotOptimize(scene->mMeshes[0]->mNumVertices);
  }
}
BENCHMARK(BM_HeadMeshImport)->Unit(benchmark::kMillisecond);

void BM_HeadImageDecode(benchmark::State& state) {
  const char* files[] = {"diffuse_albedo.png", "diffuse_normal.png", "specular_albedo.png",
                         "specular_normal.png", "displacement.png"};
  for (auto _ : state) {
    for (const char* file : files) {
      cv::Mat image = cv::imread(headFolder() + file, cv::IMREAD_UNCHANGED);
      benchmark::DoNotOptimize(image.data);
    }
  }
}
BENCHMARK(BM_HeadImageDecode)->Unit(benchmark::kMillisecond);

void BM_LevelsetMeshRead(benchmark::State& state) {
  Eigen::MatrixXd V, N;
  Eigen::MatrixXi F;
  for (auto _ : state) {
    if (!igl::readOBJ(headFolder() + "head_levelset.obj", V, N, F)) {
      state.SkipWithError("head_levelset.obj does not read");
      return;
    }
    benchmark::DoNotOptimize(V.data());
  }
  state.counters["vertices"] = static_cast<double>(V.rows());
}
BENCHMARK(BM_LevelsetMeshRead)->Unit(benchmark::kMillisecond);

// A hidden window with a 4.5 context for the uploads, made once.
bool ensureContext() {
  static platform::NativeWindow window;
  static platform::GLContext context;
  static const bool ready = [] {
    if (!window.open(0, 0, 64, 64, "head_bench") || !context.create(window)) return false;
    glewExperimental = GL_TRUE;
    return glewInit() == GLEW_OK;
  }();
  return ready;
}

void BM_HeadLoadWithUploads(benchmark::State& state) {
  if (!ensureContext()) {
    state.SkipWithError("no GL context (run under xvfb-run -a)");
    return;
  }
  for (auto _ : state) {
    // A fresh texture cache each time, so the images are read and uploaded again.
    g_textureManager = new TextureManager();
    g_textureManager->registerTypeNames();
    HeadModel head(headFolder() + "head.txt");
    if (!head.load(headFolder() + "head.txt", 41)) {
      state.SkipWithError("the head does not load");
      break;
    }
    glFinish();
    delete g_textureManager;
    g_textureManager = nullptr;
  }
  delete g_textureManager;
  g_textureManager = nullptr;
}
BENCHMARK(BM_HeadLoadWithUploads)->Unit(benchmark::kMillisecond);

}  // namespace
