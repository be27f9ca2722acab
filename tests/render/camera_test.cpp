#include "render/camera.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <cmath>

#include "core/settings.h"
#include "platform/files.h"
#include "quillax.pb.h"
#include "render/grider.h"
#include "render/head_model.h"
#include "render/light.h"
#include "render/modeler.h"
#include "render/render_gl_fixture.h"

namespace {

// A registry with its light and camera managers over a throw-away asset root, with the default
// capture settings and camera tool values.
class CameraGLTest : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    if (HasFatalFailure()) return;
    m_savedParameters = g_parameters;
    m_savedUiValues = g_uiValues;
    g_parameters.Clear();
    g_parameters.set_asset_path(root());
    g_parameters.set_capture_image_width(1000);
    g_parameters.set_capture_image_height(800);
    g_parameters.set_multisample_size(4);
    g_uiValues = {1.0f, 0.05f, 2.0f, 0.2f};
    g_modeler = new Modeler();
    g_lightManager = g_modeler->m_lightManager;
    g_cameraManager = g_modeler->m_cameraManager;
  }
  void TearDown() override {
    delete g_modeler;
    g_modeler = nullptr;
    g_lightManager = nullptr;
    g_cameraManager = nullptr;
    g_uiValues = m_savedUiValues;
    g_parameters = m_savedParameters;
    RenderGLTest::TearDown();
  }
  static quillax::Camera message(const std::string& text) {
    quillax::Camera camera;
    EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(text, &camera)) << text;
    return camera;
  }
  quillax::Parameters m_savedParameters;
  std::vector<float> m_savedUiValues;
};

TEST_F(CameraGLTest, AMessageBuildsTheCameraAndComesBackFromIt) {
  const quillax::Camera stored = message(
      "name: 'side' projection_mode: 1 camera_near: 0.2 camera_far: 2 camera_width: 0.2 "
      "image_width: 1000 image_height: 800 background_color { red: 0.5 green: 0.25 blue: 0.75 lightness: 0.5 } "
      "render_sample: 4 render_mode: -1 render_depthAsRenderBuffer: 0 "
      "transforms { v: 1 v: 2 v: 3 v: 0 v: 0 v: 2 }");
  CameraModel camera(stored);
  EXPECT_TRUE(camera.m_targetReady);
  EXPECT_FLOAT_EQ(camera.m_width, 0.2f);
  EXPECT_FLOAT_EQ(camera.m_height, 0.16f);
  EXPECT_EQ(camera.box()->m_max, Vec3f(0.1f, 0.08f, 0.05f));

  quillax::Camera back;
  camera.toProto(&back);
  // Position, then the normalised direction: the third column.
  EXPECT_EQ(std::vector<float>(back.transforms().v().begin(), back.transforms().v().end()),
            std::vector<float>({1, 2, 3, 0, 0, 1}));
  EXPECT_FLOAT_EQ(back.background_color().red(), 0.5f);
  EXPECT_FLOAT_EQ(back.background_color().lightness(), 1.0f);

  // The view looks along -z from the near plane: a point 1 along -z lies straight ahead.
  EXPECT_LE(length(transformPoint(camera.m_view, Vec3f(1, 2, 2)) - Vec3f(0, 0, -1.2f)), 1e-6f);
}

TEST_F(CameraGLTest, BadMessagesAreBroughtIntoRangeWithALineAndSaveUsable) {
  struct Case {
    const char* text;
    const char* field;
  };
  // Each row changes one field of a sound message.
  const Case cases[] = {
      {"image_width: 0", "image_width"},   {"image_height: -5", "image_height"},
      {"image_width: 16385", "image_width 16385"}, {"image_height: 2147483647", "image_height 2147483647"},
      {"camera_width: 0", "camera_width"}, {"camera_width: nan", "camera_width"},
      {"camera_near: 0", "camera_near"},   {"camera_near: 0.5 camera_far: 0.5", "camera_far"},
      {"camera_near: -0.1", "camera_near"}, {"camera_far: -1", "camera_far"},
      {"camera_far: inf", "camera_far"},
  };
  for (const Case& c : cases) {
    quillax::Camera bad = message("name: 'bad' image_width: 1000 image_height: 800 camera_width: 0.2 "
                                  "camera_near: 0.2 camera_far: 2");
    ASSERT_TRUE(google::protobuf::TextFormat::MergeFromString(c.text, &bad)) << c.text;
    testing::internal::CaptureStdout();
    CameraModel camera(bad);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find(std::string("camera bad: ") + c.field), std::string::npos) << c.text << "\n" << out;
    for (int i = 0; i < 16; ++i) EXPECT_TRUE(std::isfinite(camera.m_projection[i])) << c.text;
    quillax::Camera back;
    camera.toProto(&back);
    EXPECT_TRUE(back.image_width() >= 1 && back.image_height() >= 1 && back.image_width() <= 16384 &&
                back.image_height() <= 16384 && std::isfinite(back.camera_width()) && back.camera_width() != 0.0f &&
                back.camera_near() > 0.0f && back.camera_far() > 0.0f && back.camera_far() != back.camera_near())
        << c.text;
  }

  // A placement of fewer than six values is named and left out, not read past its end.
  testing::internal::CaptureStdout();
  CameraModel shortPlacement(message("name: 'short' image_width: 10 image_height: 10 camera_width: 0.2 "
                                     "camera_near: 0.2 camera_far: 2 transforms { v: 1 v: 2 }"));
  EXPECT_NE(testing::internal::GetCapturedStdout().find("camera short: transforms holds 2"), std::string::npos);
  EXPECT_EQ(shortPlacement.m_modelMatrix[12], 0.0f);

  // Straight down has no horizontal right axis: x is taken.
  CameraModel down("down");
  down.lookAt(Vec3f(0, 1, 0), Vec3f(0, -3, 0));
  EXPECT_EQ(Vec3f(down.m_modelMatrix[0], down.m_modelMatrix[1], down.m_modelMatrix[2]), Vec3f(1, 0, 0));
  EXPECT_EQ(Vec3f(down.m_modelMatrix[8], down.m_modelMatrix[9], down.m_modelMatrix[10]), Vec3f(0, -1, 0));
}

TEST_F(CameraGLTest, SelectingChangesOnlyForAnotherValidIndex) {
  CameraModel* first = g_cameraManager->createCamera(Vec3f(0, 0, 1), Vec3f(0, 0, 1));
  g_cameraManager->createCamera(Vec3f(1, 0, 0), Vec3f(1, 0, 0));
  EXPECT_EQ(g_cameraManager->m_current, -1);  // adding selects nothing by itself
  g_cameraManager->selectCamera(0);
  ASSERT_EQ(g_cameraManager->m_current, 0);
  EXPECT_EQ(g_cameraManager->m_textures.names, std::vector<std::string>({"_Visible_Map0"}));
  EXPECT_EQ(g_cameraManager->m_textures.ids, std::vector<GLuint>({first->m_target.m_resolveDepth}));
  for (int index : {0, -1, 2}) {
    g_cameraManager->selectCamera(index);
    EXPECT_EQ(g_cameraManager->m_current, 0) << index;
  }
  g_cameraManager->clear();
  EXPECT_TRUE(g_cameraManager->m_cameras.empty() && g_cameraManager->m_textures.names.empty());
  EXPECT_EQ(g_cameraManager->m_current, -1);
}

// Cameras the camera tool makes around the head save, read back and save again byte for byte;
// none are there at first.
TEST_F(CameraGLTest, SavedCamerasReadBackAndSaveByteForByte) {
  // A missing file is no camera and no reason to stop saving.
  testing::internal::CaptureStdout();
  EXPECT_EQ(g_cameraManager->loadCameras(rootPath("cameras.txt")), 0);
  testing::internal::GetCapturedStdout();
  g_parameters.set_multisample_size(12);
  g_cameraManager->createCamera(Vec3f(0.0f, 1.15f, 0.7f), Vec3f(0, 0, 1));
  g_cameraManager->createCamera(Vec3f(0.7f, 1.15f, 0.0f), Vec3f(1, 0, 0));
  g_cameraManager->createCamera(Vec3f(0.0f, 1.15f, -0.7f), Vec3f(0, 0, -1));
  ASSERT_TRUE(g_cameraManager->saveCameras());
  const std::string saved = readFile("cameras.txt");
  ASSERT_FALSE(saved.empty());

  g_cameraManager->clear();
  EXPECT_EQ(g_cameraManager->loadCameras(rootPath("cameras.txt")), 3);
  EXPECT_EQ(g_cameraManager->m_current, 0);
  ASSERT_TRUE(g_cameraManager->saveCameras());
  EXPECT_EQ(readFile("cameras.txt"), saved);
}

TEST_F(CameraGLTest, CaptureAllRendersTheHeadAndWritesOnlyWithAPrefix) {
  copyAsset("models/defaultHead");
  loadShaders();
  testing::internal::CaptureStdout();
  ASSERT_NE(g_modeler->loadHead(rootPath("models/defaultHead/head.txt")), nullptr);
  testing::internal::GetCapturedStdout();
  CameraModel* camera = g_cameraManager->createCamera(Vec3f(0.0f, 1.15f, 0.7f), Vec3f(0, 0, 1));
  g_cameraManager->selectCamera(0);
  ASSERT_TRUE(camera->m_targetReady);

  g_cameraManager->captureAll("");
  EXPECT_TRUE(platform::listFilesByEnding(root(), ".png").empty());
  EXPECT_TRUE(platform::listFilesByEnding(rootPath("run"), ".png").empty());
  const std::string prefix = rootPath("shot");
  g_cameraManager->captureAll(prefix);
  const cv::Mat image = cv::imread(prefix + "_camera0.png");
  ASSERT_FALSE(image.empty());
  EXPECT_EQ(image.size(), cv::Size(1000, 800));
  // The head fills the middle; the corners keep the black background.
  const cv::Vec3b centre = image.at<cv::Vec3b>(400, 500), corner = image.at<cv::Vec3b>(2, 2);
  EXPECT_GT(centre[0] + centre[1] + centre[2], 30) << centre;
  EXPECT_EQ(corner[0] + corner[1] + corner[2], 0) << corner;

  // Render mode 11 draws with the normal program, which is given the camera's view.
  camera->m_renderMode = 11;
  g_cameraManager->captureAll("");
  EXPECT_EQ(uniformFloats(g_shaderManager->programId(11), "m_viewMatrix", 16),
            std::vector<float>(camera->m_view.data(), camera->m_view.data() + 16));
  EXPECT_EQ(g_shaderManager->m_forced, -2);
  EXPECT_EQ(drainGLErrors(), 0u);
}

// Lights and models as pick candidates, and the nearest centre winning, are the modeler's tests.
TEST_F(CameraGLTest, PickingReachesACamera) {
  CameraModel* camera = g_cameraManager->createCamera(Vec3f(0.1f, 0.0f, 0.0f), Vec3f(0, 0, 1));
  const std::vector<int32_t> savedModes = g_modeState;
  g_modeState = {6, 6, 3, 0, 0, 0, 0, 0, 0, 0, 0};
  g_modeler->grabNearest(Vec3f(0.09f, 0.0f, 0.0f));
  EXPECT_TRUE(camera->isSelected());
  g_modeState = savedModes;
}

// A box placed at a small scale (a head in millimetres) still holds the points inside it.
TEST(BoundingBoxWorld, ContainmentHoldsAtSmallScales) {
  for (float scale : {1.0f, 0.01f, 0.001f}) {
    BoundingBox box("b");
    box.m_min = Vec3f(-1, -1, -1);
    box.m_max = Vec3f(1, 1, 1);
    box.m_modelMatrix[0] = box.m_modelMatrix[5] = box.m_modelMatrix[10] = scale;
    box.m_modelMatrix[12] = 3.0f;
    box.updateTransform();
    EXPECT_TRUE(box.contains(Vec3f(3.0f + 0.5f * scale, 0, 0), true)) << scale;
    EXPECT_FALSE(box.contains(Vec3f(3.0f + 1.5f * scale, 0, 0), true)) << scale;
  }
}

}  // namespace
