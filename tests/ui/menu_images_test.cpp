// The committed menu images, read as files (no GL).
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cmath>
#include <string>
#include <vector>

#include "core/settings.h"
#include "support/asset_root.h"
#include "ui/default_menu.h"
#include "ui/ui_test_support.h"
#include "ui/widget_kinds.h"

namespace {

cv::Mat readAsset(const std::string& relative) {
  return cv::imread(repoAssetPath(relative), cv::IMREAD_UNCHANGED);
}

// The pixels of atlas cell (u, v): images are flipped on load, so v counts from the bottom.
cv::Rect cellRect(const cv::Mat& atlas, float u, float v) {
  const int w = atlas.cols / 8, h = atlas.rows / 8;
  return cv::Rect(static_cast<int>(std::lround(u * atlas.cols)),
                  static_cast<int>(std::lround((0.875f - v) * atlas.rows)), w, h);
}

}  // namespace

TEST(MenuImages, EveryAddressedCellHasAPictureInsideATransparentBorder) {
  std::vector<std::pair<std::string, Vec4f>> cells;
  for (const MenuWidgetEntry& e : kDefaultMenuWidgets)
    if (e.icon[0] >= 0.0f) cells.emplace_back(e.name, Vec4f(e.icon[0], e.icon[1], 0.125f, 0.125f));
  cells.emplace_back("marker", kMarkerIconRect);
  ASSERT_EQ(cells.size(), 29u);

  for (const char* file : {kActiveIconAtlas, kInactiveIconAtlas}) {
    const cv::Mat atlas = readAsset(file);
    ASSERT_EQ(atlas.type(), CV_8UC4) << file;
    ASSERT_EQ(atlas.cols % 8 + atlas.rows % 8, 0) << file;
    for (const auto& cell : cells) {
      const cv::Mat pixels = atlas(cellRect(atlas, cell.second[0], cell.second[1]));
      std::vector<cv::Mat> channels;
      cv::split(pixels, channels);
      const cv::Mat& alpha = channels[3];
      EXPECT_GT(cv::countNonZero(alpha == 255), alpha.total() / 4) << file << " " << cell.first;
      // Linear filtering at the cell's edge must not reach the neighbour's picture.
      const int last = alpha.rows - 1;
      const int border = cv::countNonZero(alpha.row(0)) + cv::countNonZero(alpha.row(last)) +
                         cv::countNonZero(alpha.col(0)) + cv::countNonZero(alpha.col(last));
      EXPECT_EQ(border, 0) << file << " " << cell.first;
    }
  }
  for (const char* file : {"textures/grid.png", "targets/braid_result.png"}) {
    const cv::Mat image = readAsset(file);
    EXPECT_FALSE(image.empty()) << file;
    EXPECT_TRUE(image.channels() == 3 || image.channels() == 4) << file;
  }
}

TEST(MenuImages, PickerCellsShowWhatThePickersPick) {
  const std::string assetPath = g_parameters.asset_path();
  g_parameters.set_asset_path(repoAssetPath(""));
  clearEvents();
  const cv::Mat active = readAsset(kActiveIconAtlas), inactive = readAsset(kInactiveIconAtlas);
  for (const MenuWidgetEntry& e : kDefaultMenuWidgets) {
    if (e.type != WIDGET_COLOR_WHEEL) continue;
    quillax::WidgetParam param = widgetParam(WIDGET_COLOR_WHEEL, e.name);
    setEvent(param.mutable_move_event(), 4, e.eventId);
    param.set_color_image(e.colorImage);
    BuiltWidget built(param);
    auto& picker = static_cast<UIColorWheel&>(*built.widget);
    ASSERT_EQ(picker.m_imageChannels, 4) << e.colorImage;
    const cv::Rect cell = cellRect(active, e.icon[0], e.icon[1]);
    // The cell is the picked image at the cell's size, identical in both atlases.
    EXPECT_EQ(cv::norm(active(cell), inactive(cell), cv::NORM_INF), 0.0) << e.name;
    int picks = 0;
    for (int i = 0; i <= 20; ++i) {
      for (int j = 0; j <= 20; ++j) {
        const float u = i / 20.0f, v = j / 20.0f;
        picker.drag(u, v, 1);
        const std::vector<std::string> posted = takeEvents();
        const cv::Vec4b seen = active(cell).at<cv::Vec4b>(
            static_cast<int>((cell.height - 1) * (1.0f - v)), static_cast<int>((cell.width - 1) * u));
        if (seen[3] < 26) {  // transparent: nothing picked there
          EXPECT_TRUE(posted.empty()) << e.name << " " << u << " " << v;
          continue;
        }
        ASSERT_EQ(posted.size(), 1u) << e.name << " " << u << " " << v;
        char expected[96];
        std::snprintf(expected, sizeof(expected), "4 %d [%g %g %g %g %g %g]", e.eventId,
                      seen[2] / 255.0f, seen[1] / 255.0f, seen[0] / 255.0f, seen[3] / 255.0f, u, v);
        EXPECT_EQ(posted[0], expected);
        ++picks;
      }
    }
    EXPECT_GT(picks, 200) << e.name;
  }
  g_parameters.set_asset_path(assetPath);
}
