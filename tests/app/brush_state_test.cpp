#include "app/brush_state.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
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
    g_currentColor.set_alpha(0.8f);  // a restore never takes the stored alpha
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

// The brush as saveBrushState stores it.
std::string savedBrush() {
  quillax::Operation saved;
  saveBrushState(&saved);
  return saved.ShortDebugString();
}

}  // namespace

TEST_F(BrushState, RestoresAGoodAutosaveAndSavesItBack) {
  EXPECT_EQ(restoreFromAutosaves("operation { color { red: 0.1 green: 0.2 blue: 0.3 lightness: 0.5 alpha: 0.2 }"
                                 " texture: 3 width: 0.05 curvature: -4 lightcurve { v: 0.5 v: 0.7 } }\n"),
            "");
  EXPECT_EQ(savedBrush(), "lightcurve { v: 0.5 v: 0.7 } color { red: 0.1 green: 0.2 blue: 0.3 alpha: 0.8 lightness: 0.5 }"
                          " texture: 3 width: 0.05 curvature: -4");
}

TEST_F(BrushState, CorruptAutosaveValuesAreClampedToWhatTheTablesIndex) {
  const std::string out = restoreFromAutosaves(
      "operation { color { red: nan } texture: 9 width: inf curvature: 99 lightcurve { v: nan v: 0.5 } }\n");
  EXPECT_EQ(savedBrush(), "lightcurve { v: 1 v: 0.5 } color { red: 0 green: 0 blue: 0 alpha: 0.8 lightness: 0 }"
                          " texture: 3 width: 0.02 curvature: 23");
  for (const char* message : {"texture 9 is outside 0 to 3, set to 3", "curvature 99 is outside -23 to 23, set to 23", "width inf"})
    EXPECT_NE(out.find(message), std::string::npos) << out;

  restoreFromAutosaves("operation { texture: -5 width: -1 curvature: -24 }\n");
  std::string ones;  // an absent curve gets 30 ones
  for (int i = 0; i < 30; ++i) ones += "v: 1 ";
  EXPECT_EQ(savedBrush(), "lightcurve { " + ones + "} color { red: 0 green: 0 blue: 0 alpha: 0.8 lightness: 0 }"
                          " texture: 0 width: 0.01 curvature: -23");
  // The second restore leaves one profile per curvature, not two.
  EXPECT_EQ((std::vector<size_t>{g_curveProfiles.size(), g_curveProfileNormals.size()}),
            (std::vector<size_t>{47, 47}));
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
  TextureManager* manager = std::exchange(g_textureManager, nullptr);
  EXPECT_TRUE(loadHairTextureMaps());
  g_textureManager = manager;
  EXPECT_EQ(g_hairTextureMaps.default_coords_size(), 4);
  ASSERT_NE(g_hairTextureSlots, nullptr);
  EXPECT_TRUE(g_hairTextureSlots->names.empty());
}

// ---- the hair set ----

class HairSet : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    g_parameters.Clear();
    g_parameters.set_asset_path(root());
    g_hairs.Clear();
  }
  void TearDown() override {
    g_hairs.Clear();
    g_parameters.Clear();
    AssetRootTest::TearDown();
  }
  // loadHairSet's count, then the names in g_hairs, one per line.
  std::string load() {
    testing::internal::CaptureStdout();
    std::string names = std::to_string(loadHairSet()) + "\n";
    testing::internal::GetCapturedStdout();
    for (const auto& hair : g_hairs.hairs()) names += hair.name() + "\n";
    return names;
  }
};

TEST_F(HairSet, OnlyEntriesToLoadWhoseFileReadsAreKeptInOrder) {
  EXPECT_EQ(load(), "0\n") << "without hairset_path nothing is read";
  g_parameters.set_hairset_path("hair/mine.txt");
  writeFile("hair/mine.txt",
            "hairs { name: 'a' file_path: 'hair/a.txt' load_at_begin: 1 }\n"
            "hairs { name: 'off' file_path: 'hair/off.txt' load_at_begin: 0 }\n"
            "hairs { name: 'gone' file_path: 'hair/gone.txt' load_at_begin: 1 }\n"
            "hairs { name: 'b' file_path: 'hair/b.txt' image_path: 'hair/b.png' load_at_begin: 2 }\n");
  for (const char* file : {"hair/a.txt", "hair/off.txt", "hair/b.txt"}) writeFile(file, "");
  EXPECT_EQ(load(), "2\na\nb\n");
  EXPECT_EQ(g_hairs.hairs(1).image_path(), "hair/b.png");
}

TEST_F(HairSet, AFailedReadUsesTheBuiltInsAndWritesThemOnlyWhereNoSetIsStored) {
  g_parameters.set_hairset_path("hair/missing.txt");
  writeFile("hair/base_back_sep/base_back_sep.txt", "");
  EXPECT_EQ(load(), "1\nbase_back_sep\n");
  quillax::Hairs written;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("hair/hairset.txt").c_str(), &written));
  EXPECT_EQ(written.ShortDebugString(),
            "hairs { file_path: \"hair/base_back_sep/base_back_sep.txt\" image_path: \"hair/base_back_sep/base_back_sep.png\""
            " name: \"base_back_sep\" load_at_begin: 1 } hairs { file_path: \"hair/base_back_no_sep/base_back_no_sep.txt\""
            " image_path: \"hair/base_back_no_sep/base_back_no_sep.png\" name: \"base_back_no_sep\" load_at_begin: 1 }");
}
