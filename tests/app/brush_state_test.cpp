#include "app/brush_state.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/text_file.h"
#include "quillax.pb.h"
#include "render/texture.h"
#include "support/asset_root.h"

namespace {

// The app tests that read the brush or the settings set them up themselves, so nothing is restored.
class BrushState : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    g_defaultLightCurve.Clear();
    g_curveProfiles.clear();
    g_curveProfileNormals.clear();
    g_hairTextureMaps.Clear();
  }

  // Reads "autosaves.txt" of the working directory the way start-up does, then restores from it.
  std::string restoreFromAutosaves(const std::string& text) {
    writeFile("run/autosaves.txt", text);
    quillax::Autosaves autosaves;
    testing::internal::CaptureStdout();
    const bool read = ReadProtoFromTextFile("autosaves.txt", &autosaves);
    restoreBrushState(read && autosaves.has_operation() ? &autosaves.operation() : nullptr);
    return testing::internal::GetCapturedStdout();
  }
};

void expectProfilesForEveryCurvature() {
  ASSERT_EQ(g_curveProfiles.size(), 47u);
  ASSERT_EQ(g_curveProfileNormals.size(), 47u);
  for (int c = -23; c <= 23; ++c) {
    EXPECT_EQ(g_curveProfiles[c + 23].size(), 2u * (std::abs(c) + 2)) << c;
    EXPECT_EQ(g_curveProfileNormals[c + 23].size(), 2u * (std::abs(c) + 2)) << c;
  }
}

}  // namespace

TEST_F(BrushState, RestoresAGoodAutosaveAndSavesItBack) {
  g_currentColor.set_alpha(0.8f);
  EXPECT_EQ(restoreFromAutosaves("operation { color { red: 0.1 green: 0.2 blue: 0.3 lightness: 0.5 alpha: 0.2 }"
                                 " texture: 3 width: 0.05 curvature: -4 lightcurve { v: 0.5 v: 0.7 } }\n"),
            "");
  EXPECT_FLOAT_EQ(g_currentColor.alpha(), 0.8f);  // the stored alpha is not taken
  expectProfilesForEveryCurvature();

  quillax::Operation saved;
  saveBrushState(&saved);
  quillax::Operation expected;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(
      "color { red: 0.1 green: 0.2 blue: 0.3 lightness: 0.5 alpha: 0.8 }"
      " texture: 3 width: 0.05 curvature: -4 lightcurve { v: 0.5 v: 0.7 }", &expected));
  EXPECT_EQ(saved.SerializeAsString(), expected.SerializeAsString()) << saved.DebugString();

  // A second restore leaves one profile per curvature, not two.
  restoreBrushState(&saved);
  expectProfilesForEveryCurvature();
}

TEST_F(BrushState, CorruptAutosaveValuesAreClampedToWhatTheTablesIndex) {
  // Colour, texture, width, curvature, light curve length and its first value.
  const auto brush = [] {
    return std::vector<float>{g_currentColor.red(), float(g_hairTexture), g_brushWidth, float(g_curvature),
                              float(g_defaultLightCurve.v_size()), g_defaultLightCurve.v(0)};
  };
  const std::string out = restoreFromAutosaves(
      "operation { color { red: nan } texture: 9 width: inf curvature: 99 lightcurve { v: nan v: 0.5 } }\n");
  EXPECT_EQ(brush(), (std::vector<float>{0, 3, 0.02f, 23, 2, 1}));
  EXPECT_NE(out.find("texture 9 is outside 0 to 3, set to 3"), std::string::npos) << out;
  EXPECT_NE(out.find("curvature 99 is outside -23 to 23, set to 23"), std::string::npos) << out;
  EXPECT_NE(out.find("width inf"), std::string::npos) << out;

  restoreFromAutosaves("operation { texture: -5 width: -1 curvature: -24 }\n");
  EXPECT_EQ(brush(), (std::vector<float>{0, 0, 0.01f, -23, 30, 1}));  // an absent curve gets 30 ones
  expectProfilesForEveryCurvature();
}

TEST_F(BrushState, HairTextureMapsWithoutTheTextureManager) {
  g_parameters.set_asset_path(root());
  g_parameters.set_hair_texture("textures/hair/texturemap.txt");
  // A missing file, or one that breaks off, leaves no half-read rectangles behind.
  testing::internal::CaptureStdout();
  EXPECT_FALSE(loadHairTextureMaps());
  writeFile("textures/hair/texturemap.txt", "default_coords { u0: 0.1 }\ndefault_coords {{\n");
  EXPECT_FALSE(loadHairTextureMaps());
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(g_hairTextureMaps.default_coords_size(), 0);

  copyAsset("textures/defaultHairTex");
  g_parameters.set_hair_texture("textures/defaultHairTex/texturemap.txt");
  TextureManager* manager = g_textureManager;
  g_textureManager = nullptr;
  EXPECT_TRUE(loadHairTextureMaps());
  g_textureManager = manager;
  EXPECT_EQ(g_hairTextureMaps.default_coords_size(), 4);
  ASSERT_NE(g_hairTextureSlots, nullptr);
  EXPECT_TRUE(g_hairTextureSlots->names.empty());
}
