// The brush as a user drives it, against the shipped head (under a display, e.g. xvfb-run -a):
// the input-and-editing part of a frame while the drawing hand drags the hair brush, with few and
// with many stored strokes; and one release (finishing steps, post-processing, commit) with the
// mirror shown. A 90 Hz frame leaves about 2 ms for input and editing.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/openvr.h"
#include "bench/bench_support.h"
#include "bench/brush_scene.h"
#include "core/hand_frames.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "render/texture.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "strokes/transformer.h"

namespace {

// The VR object moved on to the next traced frame without drawing the eyes: the poses, the
// hand frames, then the input of that frame.
class TracedVR : public OpenVR {
 public:
  void nextFrame() {
    updateHMDMatrixPose();
    preRender();
  }
};

// Strokes of about 110 points, one every kCycle frames: the hand placed at frame 0 of a cycle,
// trigger down at frame 1, the hand moving 1.26 cm a frame (a point each) down beside the head
// until frame 110, trigger up at 111. Frames 3 to 109 of a cycle are pure drag frames.
constexpr int kCycle = 120;
constexpr int kCycles = 200;
bool isDragFrame(int frame) {
  const int k = frame % kCycle;
  return k >= 3 && k <= 109;
}

// The headset looking at the head, the other hand held still.
const char* const kStillPoses =
    "pose 0 pos 0 1.0 0.6 rot 0 0 0\npose 2 pos -0.25 0.85 0.35 rot -20 -30 0\n";

std::string dragTrace() {
  std::string trace = "frame_ms 11\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n";
  for (int c = 0; c < kCycles; ++c) {
    const int f = c * kCycle;
    const float x = 0.16f + 0.0002f * c;
    char lines[256];
    std::snprintf(lines, sizeof lines,
                  "@%d\n%spose 1 pos %.4f 1.2 0.12 rot 20 -10 0\n@%d\ntrigger 1 down\n"
                  "@%d lerp\npose 1 pos %.4f -0.1734 0.12 rot 20 -10 0\n@%d\ntrigger 1 up\n",
                  f, c == 0 ? kStillPoses : "", x, f + 1, f + 110, x, f + 111);
    trace += lines;
  }
  return trace;
}

void BM_InputFrameWhileDragging(benchmark::State& state) {
  const int stored = static_cast<int>(state.range(0));
  if (!startBenchScene(state, stored)) return;
  char path[] = "/tmp/tresslet_bench_trace_XXXXXX";
  const int fd = mkstemp(path);
  const std::string trace = dragTrace();
  if (fd < 0 || write(fd, trace.data(), trace.size()) != static_cast<ssize_t>(trace.size())) {
    state.SkipWithError("the trace could not be written");
    endScene();
    return;
  }
  close(fd);
  setenv("TRESSLET_VR_TRACE", path, 1);
  TracedVR vr;
  if (!vr.init()) {
    state.SkipWithError("the simulated headset did not start");
    endScene();
    return;
  }
  vr.resetControllerAssignment();

  int frame = 0;
  for (auto _ : state) {
    state.PauseTiming();
    while (!isDragFrame(frame)) {
      vr.nextFrame();
      vr.handleInput();
      ++frame;
    }
    vr.nextFrame();
    state.ResumeTiming();
    vr.handleInput();
    ++frame;
  }
  state.counters["stored strokes"] = stored;
  state.counters["entries added"] = g_hairBrusher->size() - stored;
  vr.shutdown();
  unsetenv("TRESSLET_VR_TRACE");
  unlink(path);
  endScene();
}
// The drag frames of 100 strokes.
BENCHMARK(BM_InputFrameWhileDragging)->Arg(50)->Arg(5000)->Iterations(10700)
    ->Unit(benchmark::kMicrosecond);

void BM_ReleaseWithMirror(benchmark::State& state) {
  if (!startBenchScene(state, 50)) return;
  g_flags[FLAG_SMOOTHING] = true;
  const int points = static_cast<int>(state.range(0));
  timeReleases(state, points, 50);
  const hairBrusher& brush = *g_hairBrusher;
  state.counters["points"] = brush.m_currentOp ? brush.m_currentOp->pointCount() : 0;
  state.counters["pairs kept"] = brush.m_mirrorOp ? 1 : 0;
  endScene();
}
BENCHMARK(BM_ReleaseWithMirror)->Arg(100)->Arg(300)->Unit(benchmark::kMicrosecond);

}  // namespace
