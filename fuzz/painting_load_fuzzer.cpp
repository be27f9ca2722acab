// A painting file on arbitrary bytes, loaded as the tool controller loads one: read and parsed,
// its strokes built (defaults, repairs, frames, samples) and added behind the brush's work, whose
// history files their samples in a sample grid. The brush has no GL buffers.
#include <google/protobuf/stubs/logging.h>

#include <cstdint>
#include <string>

#include "core/geometry.h"
#include "core/settings.h"
#include "fuzz_support.h"
#include "render/sample_grid.h"
#include "strokes/interactor.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "strokes/sample.h"

namespace {

struct LoadTarget {
  EGrider grid{"fuzz"};
  GridSampleLink<EGrider> link{&grid};
  Operator controller;
  Interactor* brush = nullptr;

  LoadTarget() {
    g_parameters.set_sampling_space(3);
    g_parameters.set_sampling_distance(0.012f);
    // Nowhere to save to: a controller that goes with work left saves nothing.
    g_parameters.set_asset_path(fuzzFolder() + "none/");
    g_flags.assign(FLAG_COUNT, false);
    g_modeState.assign(STATE_COUNT, 0);
    g_curveProfiles.assign(47, {});
    g_curveProfileNormals.assign(47, {});
    for (int c = -23; c <= 23; ++c) buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
    for (int i = 0; i < 30; ++i) g_defaultLightCurve.add_v(1.0f);
    grid.setGrid(Vec3f(-1.0f, -1.0f, -1.0f), Vec3f(1.0f, 1.0f, 1.0f), Vec<3, int16_t>(8, 8, 8));
    controller.createTools(false);
    brush = controller.getTool(TOOL_BRUSH);
    brush->m_sampleGrid = &link;
  }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Protobuf's parse errors and the strokes' repair notes would drown the fuzzer's own output.
  google::protobuf::SetLogHandler([](google::protobuf::LogLevel, const char*, int, const std::string&) {});
  silenceStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static LoadTarget target;
  Interactor& brush = *target.brush;
  brush.push(new Operatable(HAIR_TEXTURE_DENSE), false);  // the work already there
  const std::string path = writeFuzzFile("painting.txt", data, size);
  const bool recolour = size > 0 && (data[size - 1] & 1);
  const bool loaded = target.controller.loadPainting(path, recolour);
  // A painting that does not read changes nothing; one that does only adds owned strokes.
  FUZZ_REQUIRE(loaded || brush.size() == 1);
  for (const Operatable* stroke : brush.m_history) FUZZ_REQUIRE(stroke && stroke->m_operation && stroke->getFlag4());
  // Undo and redo walk the loaded entries' chain flags; the reset deletes them.
  brush.undo();
  brush.redo();
  brush.reset();
  return 0;
}
