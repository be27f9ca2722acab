// Stroke geometry as a user's work sizes it: a full painting's ribbons rebuilt for upload, and
// one stroke growing point by point as the hand moves.
#include <benchmark/benchmark.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "bench/bench_support.h"
#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/shader.h"
#include "strokes/operatable.h"

namespace {

void BM_RibbonGeometryOfAPainting(benchmark::State& state) {
  setBrushState();
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
  state.SetItemsProcessed(state.iterations() * kPaintingStrokes);
  state.counters["per_stroke"] = benchmark::Counter(
      static_cast<double>(state.iterations() * kPaintingStrokes), benchmark::Counter::kIsRate |
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
    while (stroke.pointCount() < kPaintingPoints) {
      stroke.addPoint(frame, 9);
      frame[1] -= 0.003f;
      frame[0] = 0.01f * std::sin(frame[1] * 20.0f);
    }
    benchmark::DoNotOptimize(stroke.m_operation);
  }
  state.SetItemsProcessed(state.iterations() * kPaintingPoints);
}
BENCHMARK(BM_GrowOneStroke)->Unit(benchmark::kMicrosecond);

}  // namespace
