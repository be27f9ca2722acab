// "parameters.txt": read, completed with the code defaults, written back when it read, and
// corrected in memory. Whatever the file holds, the settings in memory are usable.
#include <cmath>

#include "core/settings.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeFuzzFile("parameters.txt", data, size);
  g_parameters.Clear();
  g_parameters.set_asset_path(fuzzFolder());
  loadParameters();
  const quillax::Parameters& p = g_parameters;
  FUZZ_REQUIRE(p.window_width() > 0 && p.window_width() <= kMaxWindowSize);
  FUZZ_REQUIRE(p.window_height() > 0 && p.window_height() <= kMaxWindowSize);
  FUZZ_REQUIRE(p.multisample_size() > 0 && p.sampling_space() > 0);
  FUZZ_REQUIRE(p.capture_image_width() > 0 && p.capture_image_height() > 0);
  FUZZ_REQUIRE(p.control_sample_size() > 0);
  FUZZ_REQUIRE(std::isfinite(p.sampling_distance()) &&
               p.sampling_distance() >= kMinSamplingDistance);
  FUZZ_REQUIRE(std::isfinite(p.deform_strength()));
  return 0;
}
