#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

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

const char* const kHeader =
    "render_size 96 96\nframe_ms 11\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
    "pose 0 pos 0 1.0 0.6 rot 0 -8 0\npose 1 pos 0.22 0.72 0.38 rot 20 -10 0\n"
    "pose 2 pos -0.30 0.60 0.30 rot 35 0 0\n";

// The drawing hand at its rest turned to the middle of a menu button (" rot Y P 0").
std::string aimAt(const char* name) {
  const std::pair<float, float> angles = aimAtWidget(name);
  return " rot " + std::to_string(angles.first) + " " + std::to_string(angles.second) + " 0\n";
}

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
  startMirrored(std::function<std::string()>([] {
    std::string trace = kHeader;
    traceFrame(trace, 3, " lerp\npose 1 pos 0.16 1.08 0.12 rot 20 -10 0\n");
    traceFrame(trace, 4, "\ntrigger 1 down\n");
    traceFrame(trace, 10, " lerp\npose 1 pos 0.17 0.88 0.10 rot 20 -25 0\n");
    traceFrame(trace, 11, "\ntrigger 1 up\n");
    traceFrame(trace, 12, "\nsnapshot left before.png\n");
    traceFrame(trace, 20, " lerp\npose 1 pos 0.22 0.72 0.38" + aimAt("moveTool"));
    traceFrame(trace, 24, "\ntrigger 1 down\n");
    traceFrame(trace, 28, "\ntrigger 1 up\n");
    traceFrame(trace, 36, " lerp\npose 1 pos 0.0 1.0 0.35 rot 0 0 0\n");
    traceFrame(trace, 40, "\ntrigger 1 down\n");
    traceFrame(trace, 48, " lerp\npose 1 pos 0.1 1.0 0.35 rot 0 0 0\n");
    traceFrame(trace, 52, "\ntrigger 1 up\n");
    traceFrame(trace, 54, "\nsnapshot left after.png\n");
    traceFrame(trace, 62, " lerp\npose 1 pos 0.22 0.72 0.38" + aimAt("brushTool"));
    traceFrame(trace, 66, "\ntrigger 1 down\n");
    traceFrame(trace, 70, "\ntrigger 1 up\n");
    traceFrame(trace, 78, " lerp\npose 1 pos 0.26 1.08 0.12 rot 20 -10 0\n");
    traceFrame(trace, 79, "\ntrigger 1 down\n");
    traceFrame(trace, 85, " lerp\npose 1 pos 0.27 0.88 0.10 rot 20 -25 0\n");
    traceFrame(trace, 86, "\ntrigger 1 up\n");
    return trace;
  }));
  runThrough(14);
  ASSERT_NE(g_hairBrusher, nullptr);
  ASSERT_EQ(g_hairBrusher->size(), 2) << m_output;  // the stroke and its mirrored twin
  ASSERT_NE(g_transformer, nullptr);
  ASSERT_EQ(g_transformer->m_levelDraw.size(), 1u);
  const Matrix4 placement = g_transformer->m_levelForward[0];

  runThrough(56);
  EXPECT_EQ(updateCurrentToolId(), 6) << m_output;
  ASSERT_EQ(g_transformer->m_levelDraw.size(), 2u) << m_output;
  const Matrix4& moved = g_transformer->m_levelForward[1];
  EXPECT_NEAR(moved[12] - placement[12], 0.1f, 1e-3f);
  EXPECT_NEAR(moved[13] - placement[13], 0.0f, 1e-3f);
  EXPECT_NEAR(moved[0], placement[0], 1e-3f);
  EXPECT_NEAR(findHeadModel()->m_modelMatrix[12], moved[12], 1e-5f);

  runThrough(88);
  ASSERT_EQ(g_hairBrusher->size(), 4) << m_output;
  const Operatable* first = g_hairBrusher->m_history[0];
  const Operatable* second = g_hairBrusher->m_history[2];
  EXPECT_EQ(first->m_transformLevel, 1);
  EXPECT_EQ(second->m_transformLevel, 2);
  quillax::Operation a, b;
  first->toProto(&a);
  second->toProto(&b);
  ASSERT_EQ(a.points_size(), b.points_size());
  for (int i = 0; i < a.points_size(); ++i) {
    EXPECT_NEAR(a.points(i).x(), b.points(i).x(), 1e-4f) << i;
    EXPECT_NEAR(a.points(i).y(), b.points(i).y(), 1e-4f) << i;
    EXPECT_NEAR(a.points(i).z(), b.points(i).z(), 1e-4f) << i;
  }
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
  std::string trace = kHeader;
  // The hand's frame lies 5 cm in front of the device: inside the light's box at (0, 1.5, 0).
  traceFrame(trace, 6, " lerp\npose 1 pos 0.01 1.47 0.05 rot 0 0 0\n");
  traceFrame(trace, 10, "\ntrigger 1 down\n");
  traceFrame(trace, 18, " lerp\npose 1 pos 0.21 1.47 0.05 rot 0 0 0\n");
  traceFrame(trace, 22, "\ntrigger 1 up\n");
  startMirrored(trace);
  postEvent(new EventRecord(0, 3));  // the move tool's mode
  runThrough(4);
  ASSERT_TRUE(g_lightManager && !g_lightManager->m_lights.empty());
  LightModel* light = g_lightManager->m_lights[0];
  const Matrix4 lightSpaceBefore = light->m_lightSpaceMatrix;
  const size_t levels = g_transformer->m_levelDraw.size();
  ASSERT_EQ(levels, 1u);
  runThrough(9);
  EXPECT_EQ(g_transformer->m_picked, light) << m_output;
  runThrough(24);
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
  std::string trace =
      "render_size 64 64\nframe_ms 500\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
      "pose 0 pos 0 1.0 0.6 rot 0 -8 0\npose 1 pos 0.15 1.1 0.5 rot 0 0 0\n"
      "pose 2 pos -0.30 0.60 0.30 rot 35 0 0\n";
  traceFrame(trace, 4, "\ntrigger 2 down\n");
  traceFrame(trace, 5, "\ntrigger 1 down\n");
  traceFrame(trace, 7, "\ntrigger 1 up\ntrigger 2 up\n");
  traceFrame(trace, 28, "\ntrigger 1 down\n");  // without the other trigger: a capture
  traceFrame(trace, 29, "\ntrigger 1 up\n");
  writeFile("data/.keep", "");
  startMirrored(trace);
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
