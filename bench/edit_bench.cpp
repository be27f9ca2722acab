// Editing as a user does it, against the shipped head (under a display, e.g. xvfb-run -a): one
// step of a selection, and of a deletion, sweeping through the stored strokes, beside a plain scan of the same
// samples in one flat array; a move of 1,000 selected strokes let go; and a braid released with
// its overlay strands and mirrored twin. A 90 Hz frame leaves about 2 ms for input and editing.
#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "bench/brush_scene.h"
#include "strokes/edit_ops.h"
#include "strokes/sample.h"

namespace {

constexpr float kRadius = 0.05f;  // the selection sphere's default radius, metres

// A hand frame (12 floats) at a point of the scene.
std::vector<float> handAt(const Vec3f& p) {
  return {p[0], p[1], p[2], 1.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 1.0f};
}

// Stored points are in the head's own frame: the painting, made around (0, 1.7, 0), is moved
// onto the crown of the shipped head there, as a loaded painting lies.
const Vec3f kOnHead(0.0f, -1.5f, 0.0f);
bool startEditScene(benchmark::State& state, int stored) {
  return startBenchScene(state, stored, kOnHead);
}

// The stored frame's point 25 cm below the painting's roots, among the stored strokes, carried
// into the scene.
Vec3f sweepCentre() {
  const Matrix4* forward = levelForward(transformLevelCount());
  const Vec3f centre = Vec3f(0.0f, 1.45f, 0.0f) + kOnHead;
  return forward ? transformPoint(*forward, centre) : centre;
}

// A sweep to and fro through the stored strokes, 20 steps each way; each step adds two points of
// the sampling distance s, so the selection's newest point after step k is sweepPath(k).
constexpr int kSweepSpan = 20;
Vec3f sweepPath(int k) {
  const float s = g_parameters.sampling_distance();
  const int i = k % (2 * kSweepSpan);
  const int along = i < kSweepSpan ? i : 2 * kSweepSpan - i;
  return sweepCentre() + Vec3f(2.0f * s * static_cast<float>(along - kSweepSpan / 2), 0.0f, 0.0f);
}
// The hand for step k: half a spacing past that point, so the remainder dropped is the same.
Vec3f sweepHand(int k) { return sweepPath(k) + 0.25f * (sweepPath(k) - sweepPath(k - 1)); }

// One step of an operation of type Op (selection or deletion) sweeping through the stored strokes.
template <typename Op>
void timeSweepSteps(benchmark::State& state) {
  const int stored = static_cast<int>(state.range(0));
  if (!startEditScene(state, stored)) return;
  setUiValueAt(VALUE_SPHERE_RADIUS, kRadius);
  std::unique_ptr<Op> op;
  int k = 0;
  int taken = 0;
  for (auto _ : state) {
    if (k % (2 * kSweepSpan) == 0) {
      // A fresh sweep each time round, as a user's selections are.
      state.PauseTiming();
      if (op) op->detach();
      op.reset(new Op(g_hairBrusher));
      op->begin(handAt(sweepPath(k)).data(), 12, nullptr, 0);
      ++k;
      state.ResumeTiming();
    }
    const std::vector<float> hand = handAt(sweepHand(k++));
    taken += op->step(hand.data(), 12, nullptr, 0);
    state.PauseTiming();
    op->releaseTargets();  // every step finds the strokes untouched, as a fresh sweep would
    state.ResumeTiming();
  }
  state.counters["stored strokes"] = stored;
  state.counters["taken per step"] = benchmark::Counter(taken, benchmark::Counter::kAvgIterations);
  if (op) op->detach();
  endScene();
}

void BM_SelectStep(benchmark::State& state) { timeSweepSteps<SelectOp>(state); }
BENCHMARK(BM_SelectStep)->Arg(50)->Arg(5000)->Unit(benchmark::kMicrosecond);

// A delete sphere swept through the same strokes: each step marks what it reaches removed.
void BM_DeleteStep(benchmark::State& state) { timeSweepSteps<DeleteOp>(state); }
BENCHMARK(BM_DeleteStep)->Arg(50)->Arg(5000)->Unit(benchmark::kMicrosecond);

// The same samples in one flat array with their stroke's index: every sample within the
// radius of the point marks its stroke.
void BM_SelectFlatScan(benchmark::State& state) {
  const int stored = static_cast<int>(state.range(0));
  if (!startEditScene(state, stored)) return;
  std::vector<Vec3f> samples;
  std::vector<int> owner;
  for (int s = 0; s < g_hairBrusher->size(); ++s)
    for (const Sample* sample : g_hairBrusher->m_history[static_cast<size_t>(s)]->m_samples) {
      samples.push_back(sample->m_position);
      owner.push_back(s);
    }
  // The selection's path and radius in the stored frame, as its step carries them there.
  const float scale = uiValueAt(VALUE_TRANSFORM_SCALE, 1.0f);
  const float reach = (kRadius * scale) * (kRadius * scale);
  std::vector<Vec3f> path;
  const Matrix4* inverse = levelInverse(transformLevelCount());
  for (int k = 0; k < 2 * kSweepSpan; ++k)
    path.push_back(inverse ? transformPoint(*inverse, sweepPath(k)) : sweepPath(k));
  endScene();
  std::vector<char> marked(static_cast<size_t>(stored), 0);
  int k = 0;
  int taken = 0;
  for (auto _ : state) {
    if (k % (2 * kSweepSpan) == 0) ++k;  // where the selection begins a fresh sweep
    const Vec3f& p = path[static_cast<size_t>(k++ % (2 * kSweepSpan))];
    for (size_t i = 0; i < samples.size(); ++i) {
      if (squaredLength(samples[i] - p) <= reach && !marked[static_cast<size_t>(owner[i])]) {
        marked[static_cast<size_t>(owner[i])] = 1;
        ++taken;
      }
    }
    benchmark::DoNotOptimize(marked.data());
    state.PauseTiming();
    std::fill(marked.begin(), marked.end(), 0);
    state.ResumeTiming();
  }
  state.counters["stored strokes"] = stored;
  state.counters["taken per step"] = benchmark::Counter(taken, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_SelectFlatScan)->Arg(50)->Arg(5000)->Unit(benchmark::kMicrosecond);

// 1,000 selected strokes moved 5 cm by the hand and let go.
void BM_TransOpFinish(benchmark::State& state) {
  const int stored = static_cast<int>(state.range(0));
  if (!startEditScene(state, stored)) return;
  g_flags[FLAG_SMOOTHING] = true;
  for (Operatable* stroke : g_hairBrusher->m_history) stroke->setSelected(true);
  const std::vector<float> start = handAt(sweepCentre());
  std::vector<float> moved = start;
  moved[0] += 0.05f;
  int kept = 0;
  for (auto _ : state) {
    state.PauseTiming();
    TransOp op(g_hairBrusher);
    op.begin(start.data(), 12, nullptr, 0);
    op.step(moved.data(), 12, nullptr, 0);
    state.ResumeTiming();
    kept += op.finish();
  }
  state.counters["strokes"] = stored;
  state.counters["finished"] = kept;
  endScene();
}
BENCHMARK(BM_TransOpFinish)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(5);

// A braid of 100 hand points (250 per strand) with its two strands, the three overlay strands
// and the mirrored twin with its five: twelve strokes post-processed and committed.
void BM_BraidReleaseWithOverlay(benchmark::State& state) {
  if (!startBenchScene(state, 50)) return;
  g_flags[FLAG_SMOOTHING] = true;
  g_flags[FLAG_OVERLAY] = true;
  g_brushShape = BRUSH_BRAID;
  timeReleases(state, 100, 50);
  state.counters["strokes committed"] = g_hairBrusher->size() - 50;
  endScene();
}
BENCHMARK(BM_BraidReleaseWithOverlay)->Unit(benchmark::kMillisecond)->Iterations(20);

}  // namespace
