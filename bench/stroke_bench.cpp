// Stroke geometry as a user's work sizes it: a full painting's ribbons rebuilt for upload, and
// one stroke growing point by point as the hand moves.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/shader.h"
#include "strokes/operatable.h"

namespace {

constexpr int kStrokes = 5000;
constexpr int kPoints = 200;

void buildProfiles() {
  g_curveProfiles.assign(47, {});
  g_curveProfileNormals.assign(47, {});
  for (int c = -23; c <= 23; ++c)
    buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
  for (int i = 0; i < 30; ++i) g_defaultLightCurve.add_v(1.0f);
}

// Hanging, gently waving strands of the hair textures, curls 0 to 6 as a user mostly draws.
std::vector<std::unique_ptr<Operatable>> makePainting() {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<std::unique_ptr<Operatable>> strokes;
  for (int s = 0; s < kStrokes; ++s) {
    auto* op = new quillax::Operation;
    op->set_texture(1 + s % 3);
    op->set_curvature(s % 7);
    op->set_width(0.02f);
    *op->mutable_lightcurve() = g_defaultLightCurve;
    const float x0 = 0.1f * unit(random), z0 = 0.1f * unit(random), phase = unit(random);
    for (int i = 0; i < kPoints; ++i) {
      auto* p = op->add_points();
      p->set_x(x0 + 0.01f * std::sin(0.1f * i + phase));
      p->set_y(-0.012f * i);
      p->set_z(z0);
      auto* t = op->add_pitches();
      t->set_x(1.0f);
      auto* n = op->add_normals();
      n->set_z(1.0f);
    }
    strokes.emplace_back(new Operatable(op));
  }
  return strokes;
}

void BM_RibbonGeometryOfAPainting(benchmark::State& state) {
  buildProfiles();
  const auto strokes = makePainting();
  std::vector<float> vertices;
  std::vector<uint32_t> indices;
  int64_t vertexCount = 0;
  for (auto _ : state) {
    for (const auto& stroke : strokes) {
      const int floats = stroke->buildStrandGeometry(vertices, 0, ~0u, g_shaderTable[7].flags);
      stroke->fillIndexBuffer(indices, 0, ~0u, 0, false);
      vertexCount += floats / 12;
      benchmark::DoNotOptimize(vertices.data());
    }
  }
  state.SetItemsProcessed(state.iterations() * kStrokes);
  state.counters["per_stroke"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kStrokes), benchmark::Counter::kIsRate |
                                                              benchmark::Counter::kInvert);
  state.counters["per_vertex"] = benchmark::Counter(
      static_cast<double>(vertexCount), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_RibbonGeometryOfAPainting)->Unit(benchmark::kMillisecond);

// One stroke of 200 points drawn by a hand that reports a new frame every 3 mm.
void BM_GrowOneStroke(benchmark::State& state) {
  g_parameters.set_sampling_distance(0.012f);
  for (auto _ : state) {
    Operatable stroke(1);
    float frame[9] = {0, 0, 0, 1, 0, 0, 0, 0, 1};
    while (stroke.pointCount() < kPoints) {
      stroke.addPoint(frame, 9);
      frame[1] -= 0.003f;
      frame[0] = 0.01f * std::sin(frame[1] * 20.0f);
    }
    benchmark::DoNotOptimize(stroke.m_operation);
  }
  state.SetItemsProcessed(state.iterations() * kPoints);
}
BENCHMARK(BM_GrowOneStroke)->Unit(benchmark::kMicrosecond);

}  // namespace
