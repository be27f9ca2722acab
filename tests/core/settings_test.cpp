#include "core/settings.h"

#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <vector>

#include "core/text_file.h"
#include "support/asset_root.h"

using google::protobuf::util::MessageDifferencer;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class SettingsTest : public AssetRootTest {
 protected:
  // Loads from `text` in ../parameters.txt (none when null) and returns what was printed. The
  // asset path is read from g_parameters, so it is cleared back to "../" first.
  std::string load(const char* text = nullptr) {
    if (text) writeFile("parameters.txt", text);
    g_parameters.Clear();
    CaptureStdout();
    loadParameters();
    return GetCapturedStdout();
  }

  quillax::Parameters fileOnDisk() {
    quillax::Parameters p;
    EXPECT_TRUE(ReadProtoFromTextFile(rootPath("parameters.txt").c_str(), &p));
    return p;
  }
};

// The code defaults, then the settings in `changed`.
quillax::Parameters codeDefaults(const char* changed = "") {
  quillax::Parameters p;
  google::protobuf::TextFormat::ParseFromString(
      "window_width: 1920 window_height: 1080 multisample_size: 12 project_autosave_period: 180 asset_path: '../' "
      "project_to_load: 'data/demo.txt' project_to_save: 'data/record' head_model: "
      "'models/defaultHead/new_neutral.obj' hair_texture: 'textures/defaultHairTex/texturemap.txt' reference_image: "
      "'targets/braid_result.png' capture_image_width: 1000 capture_image_height: 800 sampling_space: 3 "
      "sampling_distance: 0.012 max_curvature: 23 debug_visual: 0 control_sample_size: 20 ",
      &p);
  google::protobuf::TextFormat::MergeFromString(changed, &p);
  return p;
}

}  // namespace

TEST_F(SettingsTest, MissingFileIsCreatedWithTheCodeDefaults) {
  EXPECT_EQ(load(), "ReadProtoFromTextFile ../parameters.txt not found!\n");
  EXPECT_TRUE(MessageDifferencer::Equals(fileOnDisk(), codeDefaults()));
  EXPECT_TRUE(MessageDifferencer::Equals(g_parameters, codeDefaults()));
  // A second start reads the completed file, prints nothing and writes the same text.
  const std::string written = readFile("parameters.txt");
  EXPECT_EQ(load(), "");
  EXPECT_EQ(readFile("parameters.txt"), written);
}

TEST_F(SettingsTest, PartialFileKeepsItsValuesAndGainsTheRest) {
  EXPECT_EQ(load("window_width: 800\nuser_email: \"a@b.org\"\nmax_curvature: -4\n"), "");
  // max_curvature has no range of its own.
  const quillax::Parameters expected = codeDefaults("window_width: 800 user_email: 'a@b.org' max_curvature: -4");
  EXPECT_TRUE(MessageDifferencer::Equals(g_parameters, expected));
  EXPECT_TRUE(MessageDifferencer::Equals(fileOnDisk(), expected));
}

TEST_F(SettingsTest, UnusableValuesAreReplacedInMemoryAndKeptInTheFile) {
  const std::string text = "window_width: 0\nwindow_height: -1\nmultisample_size: 0\ncapture_image_width: -3\n"
      "capture_image_height: 0\nsampling_space: 0\ncontrol_sample_size: -20\ndeform_strength: -inf\n";
  const std::string out = load(text.c_str());
  EXPECT_TRUE(MessageDifferencer::Equals(g_parameters, codeDefaults()));
  for (const char* field : {"window_width", "window_height", "multisample_size", "capture_image_width",
                            "capture_image_height", "sampling_space", "control_sample_size", "deform_strength"}) {
    EXPECT_NE(out.find(std::string("parameters.txt: ") + field + " "), std::string::npos) << field;
  }
  EXPECT_TRUE(MessageDifferencer::Equals(fileOnDisk(), codeDefaults(text.c_str())));

  // Window and capture sizes: X keeps 16 bits and GL takes no larger images, so sizes above
  // 16384 come down to it.
  for (const char* size : {"16384", "16385", "65536", "70000", "2147483647"}) {
    SCOPED_TRACE(size);
    const std::string text = std::string("window_width: ") + size + "\nwindow_height: " + size +
                             "\ncapture_image_width: " + size + "\ncapture_image_height: " + size + "\n";
    const std::string out = load(text.c_str());
    EXPECT_EQ((std::vector<int32_t>{g_parameters.window_width(), g_parameters.window_height(),
                                    g_parameters.capture_image_width(), g_parameters.capture_image_height()}),
              (std::vector<int32_t>{16384, 16384, 16384, 16384}));
    for (const char* field : {"window_width", "capture_image_height"}) {
      EXPECT_EQ(out.find(std::string("parameters.txt: ") + field + " " + size + " is out of range, using 16384") !=
                    std::string::npos,
                std::string(size) != "16384") << field;
      EXPECT_NE(readFile("parameters.txt").find(std::string(field) + ": " + size + "\n"), std::string::npos);
    }
  }

  // Sampling distance: a floor of 0.001, and the default for a value that is not finite.
  const std::pair<const char*, float> distances[] = {
      {"0.0001", 0.001f}, {"-2", 0.001f}, {"0.001", 0.001f}, {"0.05", 0.05f}, {"nan", 0.012f}, {"inf", 0.012f}};
  for (const auto& [value, expected] : distances) {
    SCOPED_TRACE(value);
    const std::string line = std::string("sampling_distance: ") + value + "\n";
    const bool corrected = load(line.c_str()).find("sampling_distance") != std::string::npos;
    EXPECT_FLOAT_EQ(g_parameters.sampling_distance(), expected);
    EXPECT_EQ(corrected, expected != std::strtof(value, nullptr));
    EXPECT_NE(readFile("parameters.txt").find(line), std::string::npos);
  }
  // Control points: at most 1000 per stroke.
  EXPECT_NE(load("control_sample_size: 2000000000\n").find("control_sample_size"), std::string::npos);
  EXPECT_EQ(g_parameters.control_sample_size(), 1000);
}

TEST_F(SettingsTest, ModeMapsToToolIdAndFlagsStayInRange) {
  load();
  struct Case { int32_t mode, texture, shape; bool hint; int32_t tool; };
  const Case cases[] = {
      {1, 0, 0, false, 2}, {2, 0, 0, false, 3}, {3, 0, 0, false, 6}, {4, 0, 0, false, 4}, {5, 0, 0, false, 5},
      {6, 0, 0, false, 7}, {7, 0, 0, false, 8}, {8, 0, 0, false, 9},
      // Mode 0: the hint brush needs both the hint shape and the hint flag; else pen or texture.
      {0, 0, 0, false, 0}, {0, 2, 0, false, 1}, {0, 3, 4, false, 1}, {0, 0, 4, false, 0}, {0, 0, 4, true, 2},
      {0, 1, 4, true, 2}, {0, 1, 3, true, 1}, {0, 0, 1, true, 0},
      // The file and setting panels (mode 9) and anything unknown leave the current tool alone.
      {9, 0, 0, false, -1}, {-1, 0, 0, false, -1}, {100, 0, 0, false, -1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " " << c.texture << " " << c.shape << " " << c.hint);
    g_modeState[0] = 6;
    g_modeState[2] = c.mode;
    g_hairTexture = c.texture;
    g_brushShape = c.shape;
    g_flags[FLAG_HINT_MODE] = c.hint;
    EXPECT_EQ(updateCurrentToolId(), c.tool);
    EXPECT_EQ(g_modeState[0], c.tool < 0 ? 6 : c.tool);
  }
  g_hairTexture = g_brushShape = 0;

  // Option bits outside the vector are ignored.
  const std::vector<bool> before = g_flags;
  toggleFlag(9);
  toggleFlag(-1);
  EXPECT_EQ(g_flags, before);
}
