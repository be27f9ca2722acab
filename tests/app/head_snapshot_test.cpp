#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <filesystem>
#include <string>
#include <vector>

#include "quillax.pb.h"
#include "support/asset_root.h"

// The shipped settings, shaders, textures and head, replayed with a headset that looks at the
// head for six frames of two virtual seconds: the first frame loads the head, the left eye
// shows it in the middle of the image under the overhead light, and the brush state's 8-second
// autosave falls due.
using HeadSnapshotGL = WholeProgramGL;

TEST_F(HeadSnapshotGL, TheLeftEyeShowsTheShippedHead) {
  copyShippedAssets();
  ASSERT_EQ(runOnTrace("render_size 96 96\nframe_ms 2000\ndevice 0 hmd\n@0\npose 0 pos 0 1.05 0.7 rot 0 0 0\n"
                          "@4\nsnapshot left head_left.png\n@5\nclose\n"), 0) << m_output;
  EXPECT_NE(m_output.find("finish levelset"), std::string::npos) << m_output;
  // A first run: the brush defaults and the scene with the head, and the (empty) camera list.
  quillax::Autosaves saved;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(readFile("run/autosaves.txt"), &saved));
  const quillax::Operation& brush = saved.operation();
  EXPECT_EQ((std::vector<float>{brush.color().red(), brush.color().green(), brush.color().blue(),
                                brush.color().lightness(), brush.width(), float(brush.texture())}),
            (std::vector<float>{0.92f, 0.92f, 0.71f, 1.0f, 0.02f, 0}));
  ASSERT_EQ(saved.scene().models_size(), 1);
  EXPECT_EQ(saved.scene().models(0).obj_name(), "../models/defaultHead/head.txt");
  ASSERT_TRUE(std::filesystem::exists(rootPath("cameras.txt")));
  EXPECT_EQ(readFile("cameras.txt"), "");

  const cv::Mat image = cv::imread(rootPath("run/head_left.png"), cv::IMREAD_COLOR);
  ASSERT_EQ(image.size(), cv::Size(96, 96)) << m_output;
  // The eyes clear to (0.15, 0.15, 0.18); lit skin is far brighter and redder. The light is
  // overhead, so the middle of the face (under brow and nose) lies partly in shadow: the
  // brightest of the middle pixels is the lit skin.
  const cv::Vec3b corner = image.at<cv::Vec3b>(2, 2);  // BGR
  cv::Vec3b skin = corner;
  for (int y = 42; y <= 54; ++y)
    for (int x = 42; x <= 54; ++x)
      if (image.at<cv::Vec3b>(y, x)[2] > skin[2]) skin = image.at<cv::Vec3b>(y, x);
  EXPECT_NEAR(corner[2], 38, 3);
  EXPECT_NEAR(corner[0], 46, 3);
  EXPECT_GT(skin[2], 80) << "red " << int(skin[2]);
  EXPECT_GT(skin[2], skin[0]);
}
