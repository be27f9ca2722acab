#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "core/geometry.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "quillax.pb.h"
#include "render/camera.h"
#include "render/head_model.h"
#include "render/light.h"
#include "render/modeler.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "strokes/transformer.h"
#include "support/app_trace.h"

namespace {

using TransformTraceGL = AppTraceGL;

// The mean column of the head's lit skin (red well above blue) in an eye image.
double skinColumn(const cv::Mat& image) {
  double sum = 0;
  int count = 0;
  for (int y = 0; y < image.rows; ++y)
    for (int x = 0; x < image.cols; ++x) {
      const cv::Vec3b p = image.at<cv::Vec3b>(y, x);
      if (p[2] > 70 && p[2] > p[0] + 20) {
        sum += x;
        ++count;
      }
    }
  return count ? sum / count : -1.0;
}

}  // namespace

// The move tool, chosen on the menu, carries the whole scene 10 cm to the right: the head
// follows in the left eye, a level is added, and a stroke drawn after the move at the same place
// on the head as one drawn before it is stored with the same points.
TEST_F(TransformTraceGL, TheMoveToolCarriesTheSceneAndStrokesStayInTheHeadsFrame) {
  int drawn = 0, shifted = 0, last = 0;
  startMirrored(std::function<std::string()>([&] {
    Script s;
    s.stroke(0.0f).at(1, "snapshot left before.png\n");
    drawn = s.frame() + 2;
    s.aim("moveTool").click();
    s.moveTo(Vec3f(0.0f, 1.0f, 0.35f), 0, 0).press().moveTo(Vec3f(0.1f, 1.0f, 0.35f), 0, 0, 8).release();
    s.at(1, "snapshot left after.png\n");
    shifted = s.frame() + 2;
    s.aim("brushTool").click().stroke(0.1f);
    last = s.frame() + 1;
    return s.text();
  }));
  runThrough(drawn);
  ASSERT_NE(g_hairBrusher, nullptr);
  ASSERT_EQ(g_hairBrusher->size(), 2) << m_output;  // the stroke and its mirrored twin
  ASSERT_NE(g_transformer, nullptr);
  ASSERT_EQ(g_transformer->m_levelDraw.size(), 1u);
  const Matrix4 placement = g_transformer->m_levelForward[0];

  runThrough(shifted);
  EXPECT_EQ(updateCurrentToolId(), 6) << m_output;
  ASSERT_EQ(g_transformer->m_levelDraw.size(), 2u) << m_output;
  const Matrix4& moved = g_transformer->m_levelForward[1];
  EXPECT_NEAR(moved[12] - placement[12], 0.1f, 1e-3f);
  EXPECT_NEAR(moved[13] - placement[13], 0.0f, 1e-3f);
  EXPECT_NEAR(moved[0], placement[0], 1e-3f);
  EXPECT_NEAR(findHeadModel()->m_modelMatrix[12], moved[12], 1e-5f);

  runThrough(last);
  ASSERT_EQ(g_hairBrusher->size(), 4) << m_output;
  const Operatable* first = g_hairBrusher->m_history[0];
  const Operatable* second = g_hairBrusher->m_history[2];
  EXPECT_EQ(first->m_transformLevel, 1);
  EXPECT_EQ(second->m_transformLevel, 2);
  quillax::Operation a, b;
  first->toProto(&a);
  second->toProto(&b);
  ASSERT_EQ(a.points_size(), b.points_size());
  for (int i = 0; i < a.points_size(); ++i)
    EXPECT_LT(length(toVec3(a.points(i)) - toVec3(b.points(i))), 2e-4) << i;
  stop();

  const cv::Mat before = cv::imread(rootPath("run/before.png"), cv::IMREAD_COLOR);
  const cv::Mat after = cv::imread(rootPath("run/after.png"), cv::IMREAD_COLOR);
  ASSERT_FALSE(before.empty() || after.empty());
  const double from = skinColumn(before), to = skinColumn(after);
  ASSERT_GT(from, 0);
  EXPECT_GT(to, from + 3) << from << " -> " << to;
}

// The light grabbed with the move tool moves alone: its shadow follows it and no level is added.
TEST_F(TransformTraceGL, AGrabbedLightMovesWithItsShadowAndAddsNoLevel) {
  // The hand's frame lies 5 cm in front of the device: inside the light's box at (0, 1.5, 0).
  Script s;
  s.moveTo(Vec3f(0.01f, 1.47f, 0.05f), 0, 0).press();
  const int pressed = s.frame();
  s.moveTo(Vec3f(0.21f, 1.47f, 0.05f), 0, 0, 8).release();
  startMirrored(s.text());
  postEvent(new EventRecord(0, 3));  // the move tool's mode
  runThrough(4);
  ASSERT_TRUE(g_lightManager && !g_lightManager->m_lights.empty());
  LightModel* light = g_lightManager->m_lights[0];
  const Matrix4 lightSpaceBefore = light->m_lightSpaceMatrix;
  const size_t levels = g_transformer->m_levelDraw.size();
  ASSERT_EQ(levels, 1u);
  runThrough(pressed - 1);
  EXPECT_EQ(g_transformer->m_picked, light) << m_output;
  runThrough(s.frame());
  EXPECT_NEAR(light->m_modelMatrix[12], 0.2f, 2e-3f);
  EXPECT_NEAR(light->m_modelMatrix[13], 1.5f, 2e-3f);
  EXPECT_EQ(g_transformer->m_levelDraw.size(), levels);
  // The shadow follows: a point 0.2 to the right is where the old point was in the light's view.
  const Vec3f now = transformPoint(light->m_lightSpaceMatrix, Vec3f(0.2f, 1.0f, 0.0f));
  const Vec3f was = transformPoint(lightSpaceBefore, Vec3f(0.0f, 1.0f, 0.0f));
  for (int k = 0; k < 3; ++k) EXPECT_NEAR(now[k], was[k], 1e-2f) << k;
  stop();
}

// The camera tool with the other hand's trigger held adds a camera at the drawing hand, which the
// next autosave writes into the asset root's cameras.txt.
TEST_F(TransformTraceGL, TheCameraToolAddsACameraThatTheAutosaveStores) {
  Script s(64, 500);
  s.moveTo(Vec3f(0.15f, 1.1f, 0.5f), 0, 0, 3).at(1, "trigger 2 down\n").at(1, "trigger 1 down\n");
  s.at(2, "trigger 1 up\ntrigger 2 up\n");
  s.at(21, "trigger 1 down\n").at(1, "trigger 1 up\n");  // without the other trigger: a capture
  writeFile("data/.keep", "");
  startMirrored(s.text());
  postEvent(new EventRecord(0, 8));  // the camera tool's mode
  runThrough(8);
  ASSERT_NE(g_cameraManager, nullptr);
  ASSERT_EQ(g_cameraManager->m_cameras.size(), 1u) << m_output;
  const CameraModel* camera = g_cameraManager->m_cameras[0];
  EXPECT_EQ(camera->m_name, "camera0");
  // At the hand frame (5 cm in front of the device), raised by half the image plane, looking
  // along the hand's forward axis (+z of the device).
  EXPECT_NEAR(camera->m_modelMatrix[12], 0.15f, 1e-4f);
  EXPECT_NEAR(camera->m_modelMatrix[13], 1.1f + camera->m_height / 2, 1e-4f);
  EXPECT_NEAR(camera->m_modelMatrix[14], 0.45f, 1e-4f);
  EXPECT_NEAR(camera->m_modelMatrix[10], 1.0f, 1e-4f);
  runThrough(26);  // more than 8 virtual seconds later
  quillax::Cameras saved;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("cameras.txt").c_str(), &saved)) << m_output;
  ASSERT_EQ(saved.camera_size(), 1);
  EXPECT_EQ(saved.camera(0).name(), "camera0");
  EXPECT_NEAR(saved.camera(0).transforms().v(2), 0.45f, 1e-4f);
  // The capture goes into the run folder: each camera's picture and the tool's own.
  runThrough(30);
  std::vector<std::string> pictures;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(rootPath("data/record")))
    if (entry.path().extension() == ".png") pictures.push_back(entry.path().filename().string());
  ASSERT_EQ(pictures.size(), 2u) << m_output;
  std::sort(pictures.begin(), pictures.end());
  const std::string base = pictures[0].substr(0, pictures[0].size() - 4);
  EXPECT_EQ(pictures[1], base + "_camera0.png");
  stop();
}
