#include "core/settings.h"

#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>

#include "core/text_file.h"
#include "platform/clock.h"
#include "support/asset_root.h"

using google::protobuf::util::MessageDifferencer;
using testing::HasSubstr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

class SettingsTest : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    // loadParameters reads the asset path from g_parameters: start every test from "../".
    g_parameters.Clear();
    g_hairTexture = 0;
    g_brushShape = 0;
  }
  void TearDown() override {
    g_parameters.Clear();
    AssetRootTest::TearDown();
  }

  // Loads with stdout captured and returns what was printed.
  std::string load() {
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

int presentFields(const google::protobuf::Message& m) {
  std::vector<const google::protobuf::FieldDescriptor*> fields;
  m.GetReflection()->ListFields(m, &fields);
  return static_cast<int>(fields.size());
}

quillax::Parameters codeDefaults() {
  quillax::Parameters p;
  google::protobuf::TextFormat::ParseFromString(
      "window_width: 1920 window_height: 1080 multisample_size: 12 project_autosave_period: 180 "
      "asset_path: '../' project_to_load: 'data/demo.txt' project_to_save: 'data/record' "
      "hair_texture: 'textures/defaultHairTex/texturemap.txt' "
      "head_model: 'models/defaultHead/new_neutral.obj' "
      "reference_image: 'targets/braid_result.png' capture_image_width: 1000 "
      "capture_image_height: 800 sampling_space: 3 sampling_distance: 0.012 max_curvature: 23 "
      "debug_visual: 0 control_sample_size: 20",
      &p);
  return p;
}

}  // namespace

TEST_F(SettingsTest, MissingFileIsCreatedWithTheCodeDefaults) {
  EXPECT_EQ(load(), "ReadProtoFromTextFile ../parameters.txt not found!\n");

  const quillax::Parameters expected = codeDefaults();
  EXPECT_EQ(presentFields(expected), 17);
  EXPECT_TRUE(MessageDifferencer::Equals(fileOnDisk(), expected));
  EXPECT_TRUE(MessageDifferencer::Equals(g_parameters, expected));

  // A second start reads the completed file, prints nothing and writes the same text.
  const std::string written = readFile("parameters.txt");
  EXPECT_EQ(load(), "");
  EXPECT_EQ(readFile("parameters.txt"), written);
}

TEST_F(SettingsTest, MissingAssetFolderRunsOnDefaults) {
  g_parameters.set_asset_path(rootPath("gone/"));
  const std::string out = load();
  const std::string path = rootPath("gone/parameters.txt");
  EXPECT_EQ(out, "ReadProtoFromTextFile " + path + " not found!\nWriteProtoToTextFile " + path +
                     " not found!\n");
  EXPECT_TRUE(MessageDifferencer::Equals(g_parameters, codeDefaults()));
}

TEST_F(SettingsTest, PartialFileKeepsItsValuesAndGainsTheRest) {
  writeFile("elsewhere/parameters.txt",
            "window_width: 800\nuser_email: \"a@b.org\"\nasset_path: \"../\"\nmax_curvature: -4\n");
  g_parameters.set_asset_path(rootPath("elsewhere/"));
  EXPECT_EQ(load(), "");

  EXPECT_EQ(g_parameters.window_width(), 800);
  EXPECT_EQ(g_parameters.window_height(), 1080);
  EXPECT_EQ(g_parameters.max_curvature(), -4);  // no range of its own

  quillax::Parameters onDisk;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("elsewhere/parameters.txt").c_str(), &onDisk));
  EXPECT_EQ(presentFields(onDisk), 18);
  EXPECT_TRUE(MessageDifferencer::Equals(onDisk, g_parameters));
}

TEST_F(SettingsTest, SamplingDistanceHasAFloorInMemoryOnly) {
  struct Case {
    const char* text;
    float expected;
  };
  for (const Case& c : {Case{"0.0001", 0.001f}, Case{"-2", 0.001f}, Case{"0.001", 0.001f},
                        Case{"0.05", 0.05f}, Case{"nan", 0.012f}, Case{"inf", 0.012f}}) {
    const std::string text = std::string("sampling_distance: ") + c.text + "\n";
    writeFile("parameters.txt", text);
    g_parameters.Clear();
    const std::string out = load();
    EXPECT_FLOAT_EQ(g_parameters.sampling_distance(), c.expected) << c.text;
    const bool corrected = !(c.expected == std::strtof(c.text, nullptr));
    EXPECT_EQ(out.find("sampling_distance") != std::string::npos, corrected) << c.text;
    // The file keeps what the user wrote.
    EXPECT_NE(readFile("parameters.txt").find(text), std::string::npos) << c.text;
  }
}

TEST_F(SettingsTest, UnreadableFileIsNeitherTrustedNorOverwritten) {
  for (const char* text : {"window_widht: 800\n", "window_width: 800\nbogus: 1\n"}) {
    writeFile("parameters.txt", text);
    g_parameters.Clear();
    const std::string out = load();
    EXPECT_EQ(out, "loadParameters: ../parameters.txt could not be read; using the default "
                   "settings and leaving the file as it is\n")
        << text;
    EXPECT_EQ(readFile("parameters.txt"), text);
    // What the parser got before the error is dropped too.
    EXPECT_TRUE(MessageDifferencer::Equals(g_parameters, codeDefaults())) << text;
  }
}

TEST_F(SettingsTest, UnusableValuesAreReplacedInMemoryAndKeptInTheFile) {
  const std::string text =
      "window_width: 0\nwindow_height: -1\nmultisample_size: 0\ncapture_image_width: -3\n"
      "capture_image_height: 0\nsampling_space: 0\ncontrol_sample_size: -20\n"
      "deform_strength: -inf\n";
  writeFile("parameters.txt", text);
  const std::string out = load();
  EXPECT_TRUE(MessageDifferencer::Equals(g_parameters, codeDefaults()));
  for (const char* field : {"window_width", "window_height", "multisample_size",
                            "capture_image_width", "capture_image_height", "sampling_space",
                            "control_sample_size", "deform_strength"}) {
    EXPECT_THAT(out, HasSubstr(std::string("parameters.txt: ") + field + " ")) << field;
  }
  const quillax::Parameters onDisk = fileOnDisk();
  EXPECT_EQ(onDisk.window_width(), 0);
  EXPECT_EQ(onDisk.control_sample_size(), -20);
  EXPECT_TRUE(std::isinf(onDisk.deform_strength()));
}

TEST_F(SettingsTest, LoadResetsTheEditingVectors) {
  g_flags.assign(3, true);
  g_modeState.assign(20, 7);
  g_uiValues.clear();
  g_timers.assign(1, 0);
  platform::useVirtualClock();
  const uint32_t now = platform::timeGetTime();
  load();
  platform::useRealClock();

  EXPECT_EQ(g_flags, (std::vector<bool>{true, true, false, false, false, false, false, false,
                                        false}));
  EXPECT_EQ(g_modeState, (std::vector<int32_t>{0, 0, 0, -1, -1, -1, -1, -1, -1, -1, 0}));
  EXPECT_EQ(g_uiValues, (std::vector<float>{1.0f, 0.05f, 2.0f, 0.2f, 1000.0f, 1000.0f, 0.0f,
                                            0.0f, 0.0f, 0.3f, 0.0f, 0.0f, 0.0f}));
  EXPECT_EQ(g_timers, std::vector<uint32_t>(5, now));
}

TEST_F(SettingsTest, ModeMapsToToolId) {
  load();
  const int32_t expected[] = {0, 2, 3, 6, 4, 5, 7, 8, 9};
  for (int32_t mode = 1; mode <= 8; ++mode) {
    g_modeState[2] = mode;
    EXPECT_EQ(updateCurrentToolId(), expected[mode]) << mode;
    EXPECT_EQ(g_modeState[0], expected[mode]) << mode;
  }

  // Mode 0: the hint brush needs both the hint shape and the hint flag; else pen or texture.
  struct Case {
    int32_t texture, shape;
    bool hint;
    int32_t tool;
  };
  g_modeState[2] = 0;
  for (const Case& c : {Case{0, 0, false, 0}, Case{2, 0, false, 1}, Case{3, 4, false, 1},
                        Case{0, 4, false, 0}, Case{0, 4, true, 2}, Case{1, 4, true, 2},
                        Case{1, 3, true, 1}, Case{0, 1, true, 0}}) {
    g_hairTexture = c.texture;
    g_brushShape = c.shape;
    g_flags[FLAG_HINT_MODE] = c.hint;
    EXPECT_EQ(updateCurrentToolId(), c.tool) << c.texture << " " << c.shape << " " << c.hint;
    EXPECT_EQ(g_modeState[0], c.tool);
  }

  // The file and setting panels (mode 9) and anything unknown leave the current tool alone.
  for (int32_t mode : {9, -1, 100}) {
    g_modeState[0] = 6;
    g_modeState[2] = mode;
    EXPECT_EQ(updateCurrentToolId(), -1) << mode;
    EXPECT_EQ(g_modeState[0], 6) << mode;
  }
}

TEST_F(SettingsTest, FlagsAndColour) {
  // Nothing else in this program changes the current colour.
  EXPECT_FLOAT_EQ(g_currentColor.red(), 0.8f);
  EXPECT_FLOAT_EQ(g_currentColor.green(), 0.9f);
  EXPECT_FLOAT_EQ(g_currentColor.lightness(), 1.0f);
  EXPECT_FALSE(g_currentColor.has_alpha());

  load();
  toggleFlag(FLAG_SMOOTHING);
  toggleFlag(FLAG_OTHER_TRIGGER);
  EXPECT_FALSE(g_flags[FLAG_SMOOTHING]);
  EXPECT_TRUE(g_flags[FLAG_OTHER_TRIGGER]);
  const std::vector<bool> before = g_flags;
  toggleFlag(9);
  toggleFlag(-1);
  EXPECT_EQ(g_flags, before);

  const quillax::Color initial = g_currentColor;
  quillax::Color red;
  red.set_red(1.0f);
  setCurrentColor(red);
  setCurrentColor(g_currentColor);
  EXPECT_TRUE(MessageDifferencer::Equals(g_currentColor, red));
  setCurrentColor(initial);
}
