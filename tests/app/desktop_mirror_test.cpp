#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>

#include "support/asset_root.h"

namespace {

using DesktopMirrorGL = WholeProgramGL;

// Largest difference of any channel between two images of the same size.
double largestDifference(const cv::Mat& a, const cv::Mat& b) {
  cv::Mat difference;
  cv::absdiff(a, b, difference);
  double largest = 0.0;
  cv::minMaxLoc(difference.reshape(1), nullptr, &largest);
  return largest;
}

}  // namespace

TEST_F(DesktopMirrorGL, TheWindowShowsTheLeftEyeOnItsLeftHalfAndTheRightEyeOnItsRight) {
  for (const char* asset : {"parameters.txt", "shaders", "textures"}) copyAsset(asset);
  std::string settings = readFile("parameters.txt");
  for (const auto& [from, to] : {std::pair<std::string, std::string>{"window_width: 1920", "window_width: 192"},
                                 {"window_height: 1080", "window_height: 96"},
                                 {"multisample_size: 12", "multisample_size: 1"}})
    settings.replace(settings.find(from), from.size(), to);
  writeFile("parameters.txt", settings);
  // Both controllers and the menu in view, held still.
  ASSERT_EQ(runOnTrace("render_size 96 96\nframe_ms 11\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
            "pose 0 pos 0 1 0.6 rot 0 -8 0\npose 1 pos 0.12 0.8 0.35 rot 60 10 0\n"
            "pose 2 pos -0.25 0.65 0.3 rot 35 0 0\n"
            "@5\nsnapshot left left.png\nsnapshot right right.png\nsnapshot desktop desktop.png\n@6\nclose\n"),
            0) << m_output;
  const cv::Mat left = cv::imread(rootPath("run/left.png"), cv::IMREAD_COLOR);
  const cv::Mat right = cv::imread(rootPath("run/right.png"), cv::IMREAD_COLOR);
  const cv::Mat desktop = cv::imread(rootPath("run/desktop.png"), cv::IMREAD_COLOR);
  ASSERT_EQ(desktop.size(), cv::Size(192, 96)) << m_output;
  ASSERT_EQ(left.size(), cv::Size(96, 96));
  // The simulated lenses do not distort: each half is its eye, texel for texel.
  EXPECT_LE(largestDifference(desktop(cv::Rect(0, 0, 96, 96)), left), 2.0);
  EXPECT_LE(largestDifference(desktop(cv::Rect(96, 0, 96, 96)), right), 2.0);
  EXPECT_GT(largestDifference(left, right), 20.0);  // and the two eyes do differ
}
