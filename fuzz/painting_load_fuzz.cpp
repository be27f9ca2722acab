// The painting load path on arbitrary bytes: parse, build the strokes (defaults, repairs, frames,
// samples) and hand them to a brush history with a sample grid, as loading a file does.
#include <google/protobuf/stubs/logging.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/geometry.h"
#include "core/settings.h"
#include "render/sample_grid.h"
#include "strokes/buffer_undoer.h"
#include "strokes/painting_files.h"
#include "strokes/sample.h"

namespace {

struct LoadTarget {
  EGrider grid{"fuzz"};
  GridSampleLink<EGrider> link{&grid};
  BufferUndoer history;

  LoadTarget() {
    // Protobuf's parse errors and the strokes' repair notes would drown the fuzzer's own output.
    google::protobuf::SetLogHandler([](google::protobuf::LogLevel, const char*, int, const std::string&) {});
    if (!std::freopen("/dev/null", "w", stdout)) return;
    g_parameters.set_sampling_space(3);
    g_parameters.set_sampling_distance(0.012f);
    g_flags.assign(9, false);
    g_modeState.assign(11, 0);
    g_curveProfiles.assign(47, {});
    g_curveProfileNormals.assign(47, {});
    for (int c = -23; c <= 23; ++c) buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
    for (int i = 0; i < 30; ++i) g_defaultLightCurve.add_v(1.0f);
    grid.setGrid(Vec3f(-1.0f, -1.0f, -1.0f), Vec3f(1.0f, 1.0f, 1.0f), Vec<3, int16_t>(24, 24, 24));
    history.m_sampleGrid = &link;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LoadTarget target;
  PaintingStrokes read;
  const bool recolour = size > 0 && (data[size - 1] & 1);
  if (!parsePaintingStrokes(std::string(reinterpret_cast<const char*>(data), size), recolour, &read)) return 0;
  target.history.truncateRedo();
  target.history.pushList(read.release(), false);
  // Undo and redo walk the loaded entries' chain flags; the reset deletes them.
  target.history.undo();
  target.history.redo();
  target.history.reset();
  return 0;
}
