// "autosaves.txt": read at start-up and its brush state restored. Whatever the file holds, the
// brush indexes its tables and its light curve is finite.
#include <unistd.h>

#include <cmath>

#include "app/application.h"
#include "app/brush_state.h"
#include "core/settings.h"
#include "fuzz_support.h"
#include "quillax.pb.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  silenceStandardOutput();
  // The file is read from the working directory; corpus paths must therefore be absolute.
  if (chdir(fuzzFolder().c_str()) != 0) return 1;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  writeFuzzFile("autosaves.txt", data, size);
  g_defaultLightCurve.Clear();
  readAutosaves();
  restoreBrushState(g_autosaves.has_operation() ? &g_autosaves.operation() : nullptr);
  FUZZ_REQUIRE(g_hairTexture >= HAIR_TEXTURE_PEN && g_hairTexture <= HAIR_TEXTURE_LAST);
  FUZZ_REQUIRE(g_curvature >= -23 && g_curvature <= 23);
  FUZZ_REQUIRE(std::isfinite(g_brushWidth) && g_brushWidth > 0.0f);
  FUZZ_REQUIRE(g_curveProfiles.size() == 47);
  FUZZ_REQUIRE(g_defaultLightCurve.v_size() > 0);
  for (float v : g_defaultLightCurve.v()) FUZZ_REQUIRE(std::isfinite(v));
  FUZZ_REQUIRE(std::isfinite(g_currentColor.red()) && std::isfinite(g_currentColor.lightness()));
  return 0;
}
