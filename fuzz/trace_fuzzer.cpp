// The simulated headset's trace: parsed, then played through its keyframes.
#include <algorithm>
#include <cmath>
#include <string>

#include "fuzz_support.h"
#include "platform/vr_trace.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  vr::Trace trace;
  if (!vr::parseTrace(std::string(reinterpret_cast<const char*>(data), size), "fuzz", &trace))
    return 0;
  const int lastFrame = trace.m_keyframes.empty() ? 0 : trace.m_keyframes.back().m_frame;
  // Far keyframes are a legal trace; a few thousand frames reach every near one.
  const int frames = std::min(lastFrame, 3000) + 2;
  vr::TracePlayer player(std::move(trace));
  for (int i = 0; i < frames; ++i) {
    player.advance();
    vr::Event event;
    while (player.pollEvent(&event)) {
    }
    player.snapshots().clear();
    for (uint32_t d = 0; d < vr::k_maxTrackedDeviceCount; ++d) {
      const vr::DeviceState& state = player.device(d);
      if (state.m_hasPose)
        for (float p : state.m_position) FUZZ_REQUIRE(!std::isnan(p));
    }
  }
  return 0;
}
