#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "core/curves.h"
#include "core/matrix.h"

namespace {

constexpr int kStrokes = 20000;
constexpr int kStrokePoints = 50;
constexpr int kResampled = 100;

// Hand-drawn-like strokes: 50 points about 1.2 cm apart, wandering smoothly around a head.
const std::vector<std::vector<Vec3f>>& strokes() {
  static const std::vector<std::vector<Vec3f>> all = [] {
    std::mt19937 rng(2024);
    std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
    std::vector<std::vector<Vec3f>> out(kStrokes);
    for (auto& stroke : out) {
      Vec3f p(unit(rng) * 0.1f, 1.6f + unit(rng) * 0.1f, unit(rng) * 0.1f);
      Vec3f dir = normalized(Vec3f(unit(rng), -1.0f, unit(rng)));
      for (int i = 0; i < kStrokePoints; ++i) {
        stroke.push_back(p);
        dir = normalized(dir + Vec3f(unit(rng), unit(rng), unit(rng)) * 0.2f);
        p += dir * 0.012f;
      }
    }
    return out;
  }();
  return all;
}

// Time per stroke: every stroke of a large painting refitted once.
void BM_CatmullRomResampleStrokes(benchmark::State& state) {
  const auto& all = strokes();
  CatmullRom<Vec3f> curve;
  for (auto _ : state) {
    for (const auto& stroke : all) {
      curve.resample(stroke, kResampled);
      benchmark::DoNotOptimize(curve.m_samples.data());
    }
  }
  state.counters["per_stroke"] =
      benchmark::Counter(kStrokes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_CatmullRomResampleStrokes)->Unit(benchmark::kMillisecond);

void BM_ArcLengthResampleStrokes(benchmark::State& state) {
  const auto& all = strokes();
  std::vector<Vec3f> out;
  for (auto _ : state) {
    for (const auto& stroke : all) {
      resampleByArcLength(stroke, out, kResampled, -1.0f);
      benchmark::DoNotOptimize(out.data());
    }
  }
  state.counters["per_stroke"] =
      benchmark::Counter(kStrokes, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ArcLengthResampleStrokes)->Unit(benchmark::kMillisecond);

std::vector<Matrix4> placements() {
  std::mt19937 rng(99);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<Matrix4> out(1024);
  for (auto& m : out) {
    const float scale[3] = {1.0f + 0.5f * unit(rng), 1.0f + 0.5f * unit(rng), 1.0f + 0.5f * unit(rng)};
    const float move[3] = {unit(rng), unit(rng), unit(rng)};
    const float turn[3] = {unit(rng) * 3, unit(rng) * 3, unit(rng) * 3};
    transformMatrix4(m, scale, move, turn);
  }
  return out;
}

// Time per inverse, over a working set of 1024 placements.
template <int kind>
void BM_Inverse(benchmark::State& state) {
  const std::vector<Matrix4> input = placements();
  std::vector<Matrix4> work = input;
  size_t i = 0;
  for (auto _ : state) {
    Matrix4& m = work[i];
    if constexpr (kind == 0) {
      invertMatrix4(m);
    } else if constexpr (kind == 1) {
      invertAffineMatrix4(m);
    } else {
      invertAffineMatrix4ByLU(input[i], m);
    }
    benchmark::DoNotOptimize(m.m);
    i = (i + 1) & 1023;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_Inverse<0>)->Name("BM_invertMatrix4");
BENCHMARK(BM_Inverse<1>)->Name("BM_invertAffineMatrix4");
BENCHMARK(BM_Inverse<2>)->Name("BM_invertAffineMatrix4ByLU");

void BM_MultiplyMatrix4(benchmark::State& state) {
  const std::vector<Matrix4> input = placements();
  Matrix4 out;
  size_t i = 0;
  for (auto _ : state) {
    multiplyMatrix4(input[i], out, input[(i + 1) & 1023]);
    benchmark::DoNotOptimize(out.m);
    i = (i + 1) & 1023;
  }
}
BENCHMARK(BM_MultiplyMatrix4);

}  // namespace
