// Finishing one stroke as the brush tool does on release (frames, samples, post-processing
// against the shipped head's level set with smoothing on), beside the bare refit of the same
// points (Catmull-Rom resampling, then arc-length spacing), for strokes of 30 to 1,000 points.
// The head is placed as the program places it, so the stroke is made at transform level 1 and
// corrected in the head's frame. Run from build/bench (the assets are found from the source).
#include <benchmark/benchmark.h>

#include <cmath>
#include <iostream>
#include <memory>
#include <vector>

#include "app/brush_state.h"
#include "bench/shipped_head.h"
#include "core/curves.h"
#include "core/geometry.h"
#include "core/settings.h"
#include "render/level_set.h"
#include "render/modeler.h"
#include "strokes/operatable.h"
#include "strokes/transformer.h"

namespace {

struct Scene {
  Transformer tool;
  bool ok = false;
};

// g_modeler with the shipped head's level set, the placement as level 1, smoothing and
// collision on.
Scene& scene() {
  static Scene* s = [] {
    Scene* sc = new Scene;
    const ShippedHead& h = shippedHead();
    if (!h.ok) return sc;
    g_flags.assign(FLAG_COUNT, false);
    g_flags[FLAG_SMOOTHING] = true;
    g_flags[FLAG_COLLISION] = true;
    restoreBrushState(nullptr);  // the first-run brush and the cross-section profiles
    g_brushWidth = 0.02f;
    g_curvature = 3;
    g_hairTexture = HAIR_TEXTURE_DENSE;
    g_modeler = new Modeler();
    HeadModel* head = new HeadModel("head");
    g_modeler->m_models[0] = head;
    head->m_levelsetGrider = new GLGrider("levelsetGrider");
    head->m_levelsetGrider->setGrid(h.gridMin, h.gridMax, Vec<3, int16_t>(60, 60, 60));
    head->m_levelsetGrider->pushStream(h.V, h.N);
    std::cout.setstate(std::ios::failbit);
    head->m_levelsetGrider->computeLevelset();
    std::cout.clear();
    setTransformer(&sc->tool);
    sc->tool.pushTransform(h.placement);
    sc->ok = true;
    return sc;
  }();
  return *s;
}

// A stroke of n points 1.2 cm apart in the scene winding down around the head from its crown,
// partly inside it, with a pitch along the winding: the raw stroke as the hand left it.
std::unique_ptr<Operatable> rawStroke(int n) {
  const ShippedHead& h = shippedHead();
  const Vec3f centre = (h.gridMin + h.gridMax) * 0.5f;
  const float side = h.gridMax[0] - h.gridMin[0];
  std::unique_ptr<Operatable> stroke(new Operatable(HAIR_TEXTURE_DENSE));
  quillax::Operation& op = *stroke->m_operation;
  const double step = 0.012 / h.placement[0];  // head units
  const double radius = 0.24 * side;
  double angle = 0.0, y = centre[1] + 0.15 * side;
  const double descent = 0.5 * side / std::max(n, 100);  // ten turns at most, inside the grid
  for (int i = 0; i < n; ++i) {
    const double wobble = 0.02 * side * std::sin(0.3 * i);
    const Vec3f p(static_cast<float>(centre[0] + (radius + wobble) * std::cos(angle)),
                  static_cast<float>(y),
                  static_cast<float>(centre[2] + (radius + wobble) * std::sin(angle)));
    const Vec3f pitch(static_cast<float>(-std::sin(angle)), 0.3f, static_cast<float>(std::cos(angle)));
    setPoint(op.add_points(), transformPoint(h.placement, p));
    setPoint(op.add_pitches(), normalized(transformDirection(h.placement, pitch)));
    angle += step / radius;
    y -= descent;
  }
  return stroke;
}

bool ready(benchmark::State& state) {
  if (scene().ok) return true;
  state.SkipWithError(("cannot read the head in " + shippedHeadFolder()).c_str());
  return false;
}

// What a release costs the brush tool for this stroke: the raw points put back (a copy of the
// points and pitches), frames, samples and post-processing.
void BM_ReleasePostProcess(benchmark::State& state) {
  if (!ready(state)) return;
  const int n = static_cast<int>(state.range(0));
  std::unique_ptr<Operatable> stroke = rawStroke(n);
  const quillax::Operation raw = *stroke->m_operation;
  for (auto _ : state) {
    stroke->m_operation->mutable_points()->CopyFrom(raw.points());
    stroke->m_operation->mutable_pitches()->CopyFrom(raw.pitches());
    stroke->computeFrames(false, true);
    stroke->buildSamples();
    benchmark::DoNotOptimize(stroke->postProcess());
  }
  state.counters["samples"] = static_cast<double>(stroke->m_samples.size());
}
BENCHMARK(BM_ReleasePostProcess)->Arg(30)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMicrosecond);

// The bare refit of the same points: Catmull-Rom resampling to n points, arc-length spacing.
void BM_BareRefit(benchmark::State& state) {
  if (!ready(state)) return;
  const int n = static_cast<int>(state.range(0));
  std::unique_ptr<Operatable> stroke = rawStroke(n);
  std::vector<Vec3f> points;
  for (const auto& p : stroke->m_operation->points()) points.push_back(toVec3(p));
  CatmullRom<Vec3f> curve;
  std::vector<Vec3f> spaced;
  for (auto _ : state) {
    curve.resample(points, n);
    resampleByArcLength(curve.m_samples, spaced, n, -1.0f);
    benchmark::DoNotOptimize(spaced.data());
  }
}
BENCHMARK(BM_BareRefit)->Arg(30)->Arg(100)->Arg(300)->Arg(1000)->Unit(benchmark::kMicrosecond);

}  // namespace
