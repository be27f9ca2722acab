#include "ui/shooter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <set>
#include <string>
#include <vector>

#include "core/settings.h"
#include "support/asset_root.h"

TEST(ShooterGeometry, VerticesOfThePointerBrusherAndHelix) {
  // A missed menu (-1) gives the shortest ray; a hit 0.3 away reaches 0.05 + 0.3.
  EXPECT_EQ(pointerVertices(-1.0f), (std::vector<float>{0, 0, -0.02f, 0, 0, -0.05f}));
  EXPECT_FLOAT_EQ(pointerVertices(0.3f)[5], -0.35f);

  // The cross-section is the curvature's profile at the brush width, 0.05 ahead of the hand.
  g_curveProfiles.assign(47, {});
  g_curveProfiles[23 + 2] = {0, 0, 1, 0, 2, 1, 3, 3};
  EXPECT_EQ(brusherVertices(2, 0.5f),
            (std::vector<float>{0, 0, -0.05f, 0.5f, 0, -0.05f, 0.5f, 0, -0.05f, 1, 0.5f, -0.05f, 1, 0.5f, -0.05f,
                                1.5f, 1.5f, -0.05f}));
  EXPECT_TRUE(brusherVertices(5, 0.5f).empty());   // a profile too short for its curvature
  EXPECT_TRUE(brusherVertices(40, 0.5f).empty());  // outside the table
  g_curveProfiles.clear();

  // The helix: int(length x 1000) points from 0.02 ahead of the hand, its radius about the z axis.
  const std::vector<float> helix = splinerVertices(0.3f, 0.05f, 0.012f);
  ASSERT_EQ(helix.size(), 300u * 3);
  EXPECT_NEAR(helix[0], 0.05f, 1e-6);
  EXPECT_NEAR(helix[2], -0.02f, 1e-6);
  for (size_t i = 0; i < helix.size(); i += 3)
    EXPECT_NEAR(helix[i] * helix[i] + helix[i + 1] * helix[i + 1], 0.0025f, 1e-6) << i;
  EXPECT_TRUE(splinerVertices(0.0004f, 0.05f, 0.012f).empty());
}

TEST(ShooterInteractions, EveryIconOfTheTableIsShippedOnTheWhiteTheCardCutsAway) {
  quillax::UIParam ui;
  buildDefaultInteractions(ui);
  std::set<std::string> icons;
  for (const auto& interaction : ui.interactions())
    for (const auto& component : interaction.components())
      for (const auto& mode : component.modes())
        if (mode.has_textures()) icons.insert(mode.textures());
  EXPECT_EQ(icons.size(), 16u);
  for (const std::string& icon : icons) {
    const cv::Mat image = cv::imread(repoAssetPath(icon), cv::IMREAD_COLOR);
    ASSERT_FALSE(image.empty()) << icon;
    // The corners are white (cut away); the middle holds the picture (kept).
    EXPECT_EQ(image.at<cv::Vec3b>(0, 0), cv::Vec3b(255, 255, 255)) << icon;
    const cv::Vec3b middle = image.at<cv::Vec3b>(image.rows / 2, image.cols / 2);
    EXPECT_LT(std::min({middle[0], middle[1], middle[2]}), 0.92 * 255) << icon;
  }
}
