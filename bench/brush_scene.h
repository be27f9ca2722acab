#pragma once
// The program's tools around the shipped head, as the brush and editing benchmarks drive them.
#include <benchmark/benchmark.h>

#include <cmath>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "bench/shipped_head.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "render/texture.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "strokes/transformer.h"

// The program's tools and the shipped head as start-up leaves them, with the mirror shown and
// `stored` strokes of 100 points in the hair brush, moved by `shift` (stored frame, metres).
// Null when the head does not load.
inline HeadModel* startScene(int stored, const Vec3f& shift = Vec3f()) {
  setBrushState();
  g_parameters.set_sampling_space(3);
  g_uiValues.assign(VALUE_COUNT, 0.0f);
  g_timers.clear();  // no autosave writes from the benchmark
  g_textureManager = new TextureManager();
  g_textureManager->registerTypeNames();
  g_modeler = new Modeler();
  g_operator = new Operator();
  g_operator->createTools();
  setTransformer(dynamic_cast<Transformer*>(g_operator->getTool(TOOL_MOVE)));
  g_hairBrusher = dynamic_cast<hairBrusher*>(g_operator->getTool(TOOL_BRUSH));
  HeadModel* head = g_modeler->loadHead(shippedHeadFolder() + "head.txt");
  if (!head || !head->m_mirror) return nullptr;
  head->m_mirror->setRenderable(true);
  g_hairBrusher->attachSampleGrid(head->m_hairGrider);
  std::vector<Operatable*> strokes;
  for (quillax::Operation& op : paintedStrokes(stored, 100)) {
    for (quillax::Operation_Point& point : *op.mutable_points())
      setPoint(&point, toVec3(point) + shift);
    strokes.push_back(new Operatable(new quillax::Operation(op)));
  }
  g_hairBrusher->pushList(strokes, false);
  return head;
}

inline void endScene() {
  // The benchmark's painting is no one's work: emptied, the controller's last save writes nothing.
  if (g_operator) g_operator->reset();
  delete g_operator;
  g_operator = nullptr;
  delete g_modeler;
  g_modeler = nullptr;
  delete g_textureManager;
  g_textureManager = nullptr;
}

// A hand frame on a helix around the head's upright axis: radius 13 cm, 4.5 cm lower per turn,
// 1.21 cm between frames, so each one adds a point (and the remainders about one more per 120).
// Position, then the radial, upward and tangent axes.
inline std::vector<float> helixFrame(int i) {
  const float step = 0.0121f, radius = 0.13f, drop = 0.045f;
  const float perTurn = std::sqrt(std::pow(2.0f * 3.14159265f * radius, 2.0f) + drop * drop);
  const float a = 2.0f * 3.14159265f * step * i / perTurn;
  const float c = std::cos(a), s = std::sin(a);
  return {radius * c, 1.12f - drop * a / (2.0f * 3.14159265f), radius * s, c, 0.0f, s,
          0.0f, 1.0f, 0.0f, -s, 0.0f, c};
}

// startScene for a benchmark run: false, with the run marked as skipped and nothing left
// behind, without a GL context or when the head does not load.
inline bool startBenchScene(benchmark::State& state, int stored, const Vec3f& shift = Vec3f()) {
  if (!ensureBenchContext()) {
    state.SkipWithError("no GL context (run under xvfb-run -a)");
    return false;
  }
  if (startScene(stored, shift)) return true;
  state.SkipWithError("the shipped head does not load");
  endScene();
  return false;
}

// The hair brush drawn along the helix for `points` frames (the other hand still) and let go,
// timing only the release; before each press the group of the last release is undone, so the
// press cuts it away and the history stays at `stored` strokes.
inline void timeReleases(benchmark::State& state, int points, int stored) {
  const std::vector<float> other = helixFrame(0);
  hairBrusher& brush = *g_hairBrusher;
  for (auto _ : state) {
    state.PauseTiming();
    if (brush.size() > stored) brush.undo();
    brush.press(helixFrame(0).data(), 12, other.data(), 12);
    for (int i = 1; i < points; ++i) brush.move(helixFrame(i).data(), 12, other.data(), 12);
    state.ResumeTiming();
    brush.release(other.data(), 12, other.data(), 12);
  }
}
