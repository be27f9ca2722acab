#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/text_file.h"
#include "quillax.pb.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "support/app_trace.h"
#include "support/asset_root.h"

namespace {

// The previous run's brush: hair texture 2, width 0.05 and a dim blue, none of them the defaults.
const char* const kLastBrush =
    "operation {\n  texture: 2\n  width: 0.05\n"
    "  color { red: 0.3 green: 0.45 blue: 0.8 lightness: 0.6 }\n}\n";

// One stroke down the right side of the head by the drawing hand (1), eye images of `size`
// pixels square on the virtual clock; the run closes after frame `closeAt` when it is >= 0.
std::string oneStrokeTrace(int size, int closeAt) {
  const std::string side = std::to_string(size);
  std::string trace = "render_size " + side + " " + side +
                      "\nframe_ms 11\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
                      "pose 0 pos 0.1 1.0 0.45 rot 15 0 0\npose 1 pos 0.25 0.85 0.35 rot 20 -10 0\n"
                      "pose 2 pos -0.25 0.85 0.35 rot -20 -30 0\n"
                      "@3 lerp\npose 1 pos 0.16 1.08 0.12 rot 20 -10 0\n@4\ntrigger 1 down\n"
                      "@10 lerp\npose 1 pos 0.17 0.88 0.10 rot 20 -25 0\n@11\ntrigger 1 up\n";
  if (closeAt >= 0) trace += "@" + std::to_string(closeAt) + "\nclose\n";
  return trace;
}

// The painting files (".txt") of the one run folder under the default saving root, by name;
// none without exactly one run folder.
std::vector<std::string> savedPaintings(const std::string& savingRoot) {
  std::vector<std::string> runs, paintings;
  std::error_code missing;
  for (const auto& entry : std::filesystem::directory_iterator(savingRoot, missing))
    runs.push_back(entry.path().string());
  if (runs.size() != 1) return {};
  for (const auto& entry : std::filesystem::directory_iterator(runs[0]))
    if (entry.path().extension() == ".txt") paintings.push_back(entry.path().string());
  std::sort(paintings.begin(), paintings.end());
  return paintings;
}

}  // namespace

using SessionTraceGL = AppTraceGL;

TEST_F(SessionTraceGL, AStrokeWithTheLastRunsBrushIsSavedAtShutdownWithItsTextureWidthAndColour) {
  writeFile("data/.keep", "");
  writeFile("run/autosaves.txt", kLastBrush);
  start(nullptr, [] { return oneStrokeTrace(64, -1); });
  runThrough(13);
  ASSERT_NE(g_hairBrusher, nullptr);
  ASSERT_EQ(g_hairBrusher->size(), 1) << m_output;
  const Operatable& stroke = *g_hairBrusher->m_history[0];
  EXPECT_EQ(stroke.m_operation->width(), 0.05f);
  // Stored in the frame before every level, as the painting holds it.
  const float storedWidth = 0.05f * levelInverseScale(stroke.m_transformLevel);
  stop();

  const std::vector<std::string> paintings = savedPaintings(rootPath("data/record"));
  ASSERT_FALSE(paintings.empty()) << "no painting saved at shutdown";
  quillax::Painting painting;
  ASSERT_TRUE(ReadProtoFromTextFile(paintings[0].c_str(), &painting));
  ASSERT_EQ(painting.operations_size(), 1);
  const quillax::Operation& op = painting.operations(0);
  EXPECT_EQ(op.texture(), 2);
  EXPECT_FLOAT_EQ(op.width(), storedWidth);
  EXPECT_FLOAT_EQ(op.color().red(), 0.3f);
  EXPECT_FLOAT_EQ(op.color().green(), 0.45f);
  EXPECT_FLOAT_EQ(op.color().blue(), 0.8f);
  EXPECT_FLOAT_EQ(op.color().lightness(), 0.6f);
}

using SessionProgramGL = AssetRootTest;

TEST_F(SessionProgramGL, ShutdownSavesThePaintingThenTheToolControllerAgainAndTheRunExitsZero) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  for (const char* asset : {"parameters.txt", "shaders", "textures", "models"}) copyAsset(asset);
  writeFile("data/.keep", "");
  writeFile("run/autosaves.txt", kLastBrush);
  writeFile("one.trace", oneStrokeTrace(32, 14));
  std::string output;
  EXPECT_EQ(runTresslet("TRESSLET_VR_TRACE='" + rootPath("one.trace") + "'", output), 0) << output;
  EXPECT_NE(output.find("Shutdown\n"), std::string::npos) << output;

  // shutdownApplication's save, then the controller's own on its deletion: the same work twice.
  const std::vector<std::string> paintings = savedPaintings(rootPath("data/record"));
  ASSERT_EQ(paintings.size(), 2u) << output;
  quillax::Painting first, second;
  ASSERT_TRUE(ReadProtoFromTextFile(paintings[0].c_str(), &first));
  ASSERT_TRUE(ReadProtoFromTextFile(paintings[1].c_str(), &second));
  EXPECT_EQ(first.operations_size(), 1);
  EXPECT_EQ(first.SerializeAsString(), second.SerializeAsString());
}
