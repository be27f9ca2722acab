#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <random>
#include <vector>

#include "core/geometry.h"
#include "core/settings.h"
#include "platform/window.h"
#include "quillax.pb.h"
#include "strokes/buffer_undoer.h"
#include "strokes/operatable.h"
#include "strokes/stroke_geometry.h"

namespace {

constexpr int kStrokePoints = 200;
constexpr uint32_t kBrushCapacity = 80000000;  // the hair brush's buffer, floats

// A hidden window with a 4.5 context for the buffers, made once.
bool ensureContext() {
  static platform::NativeWindow window;
  static platform::GLContext context;
  static const bool ready = [] {
    if (!window.open(0, 0, 64, 64, "history_bench") || !context.create(window)) return false;
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK) return false;
    while (glGetError() != GL_NO_ERROR) {
    }
    return true;
  }();
  return ready;
}

// The brush state of a hair stroke of curvature 0 (ribbons of two vertices per point).
void setBrushState() {
  g_hairTexture = 1;
  g_brushShape = 0;
  g_curvature = 0;
  g_brushWidth = 0.01f;
  g_flags.assign(9, false);
  g_modeState.assign(11, 0);
  g_curveProfiles.assign(47, {});
  g_curveProfileNormals.assign(47, {});
  for (int c = -23; c <= 23; ++c)
    buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
  g_defaultLightCurve.Clear();
  for (int i = 0; i < 30; ++i) g_defaultLightCurve.add_v(1.0f);
  g_parameters.set_sampling_distance(0.012f);
}

// Hand-drawn-like strokes: 200 points 1.2 cm apart wandering down around a head, as stored.
std::vector<quillax::Operation> paintedStrokes(int count) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<quillax::Operation> out(count);
  for (quillax::Operation& op : out) {
    op.set_texture(1);
    op.set_curvature(0);
    op.set_width(0.01f);
    *op.mutable_lightcurve() = g_defaultLightCurve;
    Vec3f p(unit(rng) * 0.1f, 1.7f + unit(rng) * 0.05f, unit(rng) * 0.1f);
    Vec3f dir = normalized(Vec3f(unit(rng) * 0.3f, -1.0f, unit(rng) * 0.3f));
    for (int i = 0; i < kStrokePoints; ++i) {
      auto* point = op.add_points();
      point->set_x(p[0]);
      point->set_y(p[1]);
      point->set_z(p[2]);
      const Vec3f side = normalized(cross(dir, Vec3f(0.0f, 0.0f, 1.0f)));
      auto* pitch = op.add_pitches();
      pitch->set_x(side[0]);
      pitch->set_y(side[1]);
      pitch->set_z(side[2]);
      const Vec3f normal = cross(side, dir);
      auto* n = op.add_normals();
      n->set_x(normal[0]);
      n->set_y(normal[1]);
      n->set_z(normal[2]);
      dir = normalized(dir + Vec3f(unit(rng), unit(rng), unit(rng)) * 0.1f);
      p += dir * 0.012f;
    }
  }
  return out;
}

// A finished stroke through the cycle a tool gives it: begun, committed, pushed.
void commit(BufferUndoer& history, const quillax::Operation& stored) {
  auto* op = new Operatable(new quillax::Operation(stored));
  history.notify(op, NOTIFY_BEGUN);
  history.notify(op, NOTIFY_COMMITTED);
  history.push(op, false);
}

// Time per iteration: 5,000 strokes of 200 points pushed into the hair brush's history.
void BM_HistoryPushStrokes(benchmark::State& state) {
  if (!ensureContext()) {
    state.SkipWithError("no GL context (run under xvfb-run -a)");
    return;
  }
  setBrushState();
  const int count = static_cast<int>(state.range(0));
  const std::vector<quillax::Operation> strokes = paintedStrokes(count);
  for (auto _ : state) {
    state.PauseTiming();
    auto* history = new BufferUndoer;
    history->createBuffer(StrokeBufferFormat(g_renderRows[1]), kBrushCapacity);
    glFinish();
    state.ResumeTiming();
    for (const quillax::Operation& stored : strokes) commit(*history, stored);
    glFinish();
    state.PauseTiming();
    delete history;
    state.ResumeTiming();
  }
  state.counters["strokes"] = count;
}
BENCHMARK(BM_HistoryPushStrokes)->Arg(5000)->Unit(benchmark::kMillisecond)->Iterations(3);

// Time per iteration: every one of 5,000 strokes undone, then every one redone.
void BM_HistoryUndoRedoAll(benchmark::State& state) {
  if (!ensureContext()) {
    state.SkipWithError("no GL context (run under xvfb-run -a)");
    return;
  }
  setBrushState();
  const int count = static_cast<int>(state.range(0));
  const std::vector<quillax::Operation> strokes = paintedStrokes(count);
  BufferUndoer history;
  history.createBuffer(StrokeBufferFormat(g_renderRows[1]), kBrushCapacity);
  for (const quillax::Operation& stored : strokes) commit(history, stored);
  for (auto _ : state) {
    while (history.undo()) {
    }
    while (history.redo()) {
    }
  }
  state.counters["strokes"] = count;
}
BENCHMARK(BM_HistoryUndoRedoAll)->Arg(5000)->Unit(benchmark::kMillisecond);

// Time per frame of drawing: one point added to the stroke in hand and written into the
// buffers, with range(0) strokes already there. A stroke is let go and a new one begun every
// 200 points, so the cost is that of a typical stroke. The time should not depend on how many
// strokes the buffers already hold.
void BM_AppendPointWhileDrawing(benchmark::State& state) {
  if (!ensureContext()) {
    state.SkipWithError("no GL context (run under xvfb-run -a)");
    return;
  }
  setBrushState();
  const int count = static_cast<int>(state.range(0));
  BufferUndoer history;
  history.createBuffer(StrokeBufferFormat(g_renderRows[1]), kBrushCapacity);
  for (const quillax::Operation& stored : paintedStrokes(count)) commit(history, stored);

  Operatable* op = nullptr;
  float y = 0.0f;
  auto begin = [&] {
    op = new Operatable(-1);
    y = 1.7f;
    const float frame[9] = {0.0f, y, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    op->begin(frame, 9, nullptr, 0);
    history.notify(op, NOTIFY_BEGUN);
  };
  begin();
  for (auto _ : state) {
    if (op->pointCount() >= kStrokePoints) {
      history.notify(op, NOTIFY_ABANDONED);
      delete op;
      begin();
    }
    y -= 0.013f;  // a little over one spacing: one point per frame
    const float frame[9] = {0.0f, y, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    op->step(frame, 9, nullptr, 0);
    history.notify(op, NOTIFY_STEPPED);
  }
  glFinish();
  history.notify(op, NOTIFY_ABANDONED);
  delete op;
  state.counters["strokes"] = count;
}
BENCHMARK(BM_AppendPointWhileDrawing)->Arg(50)->Arg(5000)->Unit(benchmark::kMicrosecond);

}  // namespace
