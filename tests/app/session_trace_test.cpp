#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/text_file.h"
#include "quillax.pb.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "support/app_trace.h"

namespace {

// The previous run's brush: hair texture 2, width 0.05 and a dim blue, none of them the defaults.
const char* const kLastBrush =
    "operation {\n  texture: 2\n  width: 0.05\n"
    "  color { red: 0.3 green: 0.45 blue: 0.8 lightness: 0.6 }\n}\n";

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
  start(nullptr, [] { return threeStrokeTrace(true, 64); });
  runThrough(13);  // the first stroke only
  ASSERT_NE(g_hairBrusher, nullptr);
  ASSERT_EQ(g_hairBrusher->size(), 1) << m_output;
  const Operatable& stroke = *g_hairBrusher->m_history[0];
  EXPECT_EQ(stroke.m_operation->width(), 0.05f);
  // Stored in the frame before every level, as the painting holds it.
  const float storedWidth = 0.05f * levelInverseScale(stroke.m_transformLevel);
  stop();

  // shutdownApplication's save, then the controller's own on its deletion: the same work twice.
  const std::vector<std::string> paintings = savedPaintings(rootPath("data/record"));
  ASSERT_EQ(paintings.size(), 2u) << "not saved twice at shutdown";
  quillax::Painting painting, second;
  ASSERT_TRUE(ReadProtoFromTextFile(paintings[0].c_str(), &painting));
  ASSERT_TRUE(ReadProtoFromTextFile(paintings[1].c_str(), &second));
  EXPECT_EQ(painting.SerializeAsString(), second.SerializeAsString());
  ASSERT_EQ(painting.operations_size(), 1);
  const quillax::Operation& op = painting.operations(0);
  EXPECT_EQ(op.texture(), 2);
  EXPECT_FLOAT_EQ(op.width(), storedWidth);
  EXPECT_FLOAT_EQ(op.color().red(), 0.3f);
  EXPECT_FLOAT_EQ(op.color().green(), 0.45f);
  EXPECT_FLOAT_EQ(op.color().blue(), 0.8f);
  EXPECT_FLOAT_EQ(op.color().lightness(), 0.6f);
}
