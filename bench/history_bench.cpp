#include <GL/glew.h>
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/bench_support.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "strokes/buffer_undoer.h"
#include "strokes/operatable.h"
#include "strokes/stroke_geometry.h"

namespace {

constexpr int kStrokePoints = 200;
constexpr uint32_t kBrushCapacity = 80000000;  // the hair brush's buffer, floats

// A finished stroke through the cycle a tool gives it: begun, committed, pushed.
void commit(BufferUndoer& history, const quillax::Operation& stored) {
  auto* op = new Operatable(new quillax::Operation(stored));
  history.notify(op, NOTIFY_BEGUN);
  history.notify(op, NOTIFY_COMMITTED);
  history.push(op, false);
}

// Time per iteration: 5,000 strokes of 200 points pushed into the hair brush's history.
void BM_HistoryPushStrokes(benchmark::State& state) {
  if (!ensureBenchContext()) {
    state.SkipWithError("no GL context (run under xvfb-run -a)");
    return;
  }
  setBrushState();
  const int count = static_cast<int>(state.range(0));
  const std::vector<quillax::Operation> strokes = paintedStrokes(count, kStrokePoints);
  for (auto _ : state) {
    state.PauseTiming();
    auto* history = new BufferUndoer;
    history->createBuffer(StrokeBufferFormat(g_renderRows[HAIR_TEXTURE_DENSE]), kBrushCapacity);
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
  if (!ensureBenchContext()) {
    state.SkipWithError("no GL context (run under xvfb-run -a)");
    return;
  }
  setBrushState();
  const int count = static_cast<int>(state.range(0));
  const std::vector<quillax::Operation> strokes = paintedStrokes(count, kStrokePoints);
  BufferUndoer history;
  history.createBuffer(StrokeBufferFormat(g_renderRows[HAIR_TEXTURE_DENSE]), kBrushCapacity);
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
  if (!ensureBenchContext()) {
    state.SkipWithError("no GL context (run under xvfb-run -a)");
    return;
  }
  setBrushState();
  const int count = static_cast<int>(state.range(0));
  BufferUndoer history;
  history.createBuffer(StrokeBufferFormat(g_renderRows[HAIR_TEXTURE_DENSE]), kBrushCapacity);
  for (const quillax::Operation& stored : paintedStrokes(count, kStrokePoints)) commit(history, stored);

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
