#include "app/openvr.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "core/events.h"
#include "core/settings.h"
#include "strokes/interactor.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "ui/shooter.h"
#include "ui/uivr.h"
#include "support/app_trace.h"

namespace {

// Settings loaded and the simulated headset started on a trace of the test's own.
class OpenVRGLTest : public HeadsetTraceGL {
 protected:
  void SetUp() override {
    HeadsetTraceGL::SetUp();
    if (HasFatalFailure()) return;
    loadSettingsQuietly();
    clearEvents();
  }
  void TearDown() override {
    delete g_uivr;
    g_uivr = nullptr;
    g_operator = nullptr;
    g_hairTexture = 0;
    g_brushShape = 0;
    g_flags[FLAG_NO_CURVATURE_SWIPE] = false;
    HeadsetTraceGL::TearDown();
  }

  // A tool controller without buffers as g_operator, the brush current with `count` strokes.
  Interactor* brushWith(Operator& tools, int count) {
    tools.createTools(false);
    g_operator = &tools;
    g_hairTexture = 1;
    g_modeState[2] = 0;
    Interactor* brush = tools.getTool(1);
    for (int i = 0; i < count; ++i) brush->push(new Operatable(1), false);
    return brush;
  }
  // Runs the passes until each of the frames has been handled in turn, sampling after each.
  void atFrames(const std::vector<int>& list, const std::function<void()>& sample) {
    for (int frame : list) {
      runThrough(frame);
      sample();
    }
  }
};

const char* k_scene =
    "render_size 64 48\nframe_ms 11\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\ndevice 3 tracker\n"
    "device 4 other model=SIM_CONTROLLER\n@0\npose 0 pos 0 1 0.6 rot 0 0 0\n"
    "pose 1 rel 0 pos 0.2 -0.3 -0.3 rot 0 0 0\npose 2 rel 0 pos -0.2 -0.3 -0.3 rot 0 0 0\n"
    "pose 3 pos 2 2 2 rot 0 0 0\npose 4 pos -2 2 2 rot 0 0 0\n"
    "@2\ntrigger 2 down\nmenu 1 down\n@4\ntrigger 2 up\nsnapshot right right.png\n";

}  // namespace

TEST_F(OpenVRGLTest, InitFailuresPrintTheirReasonAndLeaveTheObjectUsable) {
  EXPECT_FALSE(startHeadset(nullptr));
  EXPECT_EQ(m_output, "Unable to init VR runtime: No headset: TRESSLET_VR_TRACE is not set (100)\n");
  m_vr.renderFrame();  // without a runtime the frame only clears the window
  EXPECT_FALSE(startHeadset("init_fail no_render_models\ndevice 0 hmd\n"));
  EXPECT_EQ(m_output, "Unable to get render model interface: Interface Not Found (105)\n");
  EXPECT_FALSE(m_vr.isRunning());
  EXPECT_FALSE(startHeadset("init_fail no_compositor\ndevice 0 hmd\n"));
  EXPECT_EQ(m_output, "Compositor initialization failed. See log file for details\n");
  EXPECT_TRUE(m_vr.isRunning());  // until shutdown, as main expects
  m_vr.shutdown();
  EXPECT_FALSE(m_vr.isRunning());
}

TEST_F(OpenVRGLTest, RunsFramesWithPosesRolesModelsAndEyeImages) {
  ASSERT_TRUE(startHeadset(k_scene)) << m_output;
  EXPECT_EQ((std::vector<float>{g_uiValues[4], g_uiValues[5]}), (std::vector<float>{64, 48}));
  // Devices 1, 2 and 4 share one model (names compared without case); the headset has none.
  EXPECT_EQ(m_vr.renderModelCount(), 2u);
  runThrough(0);
  EXPECT_NE(m_output.find("Device 1 attached. Setting up render model.\n"), std::string::npos);
  EXPECT_EQ((std::vector<int>{m_vr.drawingHand(), m_vr.otherHand(), m_vr.validPoseCount()}),
            (std::vector<int>{1, 2, 5}));
  EXPECT_EQ(m_vr.poseClasses(), "HCCT?");

  // The head at (0, 1, 0.6) looks along -z at (0, 1, 0): straight ahead, right of the left eye's
  // centre and left of the right eye's, inside the depth range.
  for (int eye = 0; eye < 2; ++eye) {
    const Matrix4 vp = m_vr.getCurrentViewProjectionMatrix(eye);
    const Vec3f clip = transformPoint(vp, Vec3f(0.0f, 1.0f, 0.0f));
    const float w = vp.at(3, 1) + vp.at(3, 3);
    EXPECT_NEAR(clip[1] / w, 0.0f, 1e-4);
    EXPECT_GT(eye == 0 ? clip[0] : -clip[0], 0.0f);
    EXPECT_LT(std::abs(clip[2] / w), 1.0f);
  }
  EXPECT_FLOAT_EQ(m_vr.getCurrentViewProjectionMatrix(2).at(0, 0), 1.0f);  // no such eye: identity

  g_brushShape = 4;  // the menu button's hint toggle acts only with the hint shape
  m_output.clear();
  runThrough(2);  // frame 2: other-hand trigger held, drawing hand's menu button
  EXPECT_NE(m_output.find("1\n"), std::string::npos);
  EXPECT_TRUE(g_flags[FLAG_OTHER_TRIGGER] && g_flags[FLAG_HINT_MODE]);  // {4, 13} dispatched in the same frame
  runThrough(5);
  EXPECT_FALSE(g_flags[FLAG_OTHER_TRIGGER]);

  // The right eye of frame 4 went to the compositor as the clear colour at the render size.
  const cv::Mat image = cv::imread(rootPath("run/right.png"), cv::IMREAD_COLOR);
  ASSERT_EQ(image.size(), cv::Size(64, 48));
  EXPECT_EQ(image.at<cv::Vec3b>(10, 10), cv::Vec3b(46, 38, 38));  // BGR of (0.15, 0.15, 0.18)
}

TEST_F(OpenVRGLTest, TheFirstControllerOnIsTheDrawingHandAndItsPadUndoesAndRedoes) {
  // Device 1, switched on first, is held in the left hand.
  ASSERT_TRUE(startHeadset("device 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
                    "pose 0 pos 0 1 0.6 rot 0 0 0\npose 1 pos -0.2 0.8 0.3 rot 0 0 0\n"
                    "pose 2 pos 0.2 0.8 0.3 rot 0 0 0\n"
                    "@3\naxis 1 -0.5 0\npad 1 down\n@4\npad 1 up\n"      // undo once
                    "@5\ntrigger 2 down\n@6\npad 1 down\n@7\npad 1 up\n"  // ten times
                    "@8\ntrigger 2 up\naxis 1 0.2 0\n@9\npad 1 down\n@10\npad 1 up\n"
                    "@11\naxis 1 0.5 0\npad 1 down\n@12\npad 1 up\n"));  // redo once
  Operator tools;
  Interactor* brush = brushWith(tools, 12);

  // The cursor once frames 2, 4, 7, 10 and 12 have been handled.
  std::vector<int> cursors;
  atFrames({2, 4, 7, 10, 12}, [&] { cursors.push_back(brush->m_cursor); });
  EXPECT_EQ((std::vector<int>{m_vr.drawingHand(), m_vr.otherHand()}), (std::vector<int>{1, 2}));
  EXPECT_EQ(cursors, (std::vector<int>{11, 10, 0, 0, 1}));
}

TEST_F(OpenVRGLTest, DeviceIndicesOutsideTheSlotsAreIgnored) {
  ASSERT_TRUE(startHeadset(k_scene));
  testing::internal::CaptureStdout();
  for (uint32_t type : {vr::Event_TrackedDeviceActivated, vr::Event_ButtonPress, vr::Event_ButtonTouch,
                        vr::Event_TrackedDeviceDeactivated})
    m_vr.processVREvent(vr::Event{type, vr::k_trackedDeviceIndexInvalid, vr::Button_Trigger});
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(m_vr.drawingHand(), -1);
  EXPECT_FALSE(m_vr.hasRenderModel(vr::k_trackedDeviceIndexInvalid));
}

TEST_F(OpenVRGLTest, RenderModelsWaitOutLoadingAndReportFailures) {
  // Device 3's model answers "loading" for longer than the bound (about 5 s) and counts as failed.
  ASSERT_TRUE(startHeadset("device 0 hmd\ndevice 1 controller loading=3\ndevice 2 controller model=bad model_fail\n"
                    "device 3 controller model=slow loading=100000\n"));
  EXPECT_TRUE(m_vr.hasRenderModel(1));
  EXPECT_NE(m_vr.deviceRenderModel(1), nullptr);
  EXPECT_FALSE(m_vr.hasRenderModel(2) || m_vr.hasRenderModel(3));
  for (const char* line : {"Unable to load render model bad - RenderModelError_InvalidModel\n",
                           "Unable to load render model for tracked device 2 (tresslet_sim.bad)\n",
                           "Unable to load render model slow - RenderModelError_Loading\n"})
    EXPECT_NE(m_output.find(line), std::string::npos) << m_output;

  // Once its state can be read the controller counts as having a model, so it is tracked and
  // used; drawing skips the model that is not there.
  runThrough(1);
  EXPECT_TRUE(m_vr.hasRenderModel(3));
  EXPECT_EQ(m_vr.deviceRenderModel(3), nullptr);
  EXPECT_EQ(drainGLErrors(), 0u);
}

// Each row replays keyframes after both controllers are held still, with a brush shape, and
// reads after each listed frame: width, curvature, helix radius and length, then the drawing
// and the other hand's swipe counters.
TEST_F(OpenVRGLTest, SwipesEditTheBrushFrameByFrame) {
  // The tool geometry alone as the UI root, without the menu, so swipes have values to edit.
  g_uivr = new UIVR();
  g_uivr->m_shooter = new Shooter();
  quillax::UIParam ui;
  testing::internal::CaptureStdout();
  g_uivr->m_shooter->init(ui);
  testing::internal::GetCapturedStdout();
  g_hairTexture = 1;  // the brush: its cross-section is drawn, so swipes edit width and curvature
  struct Row {
    const char* keyframes;
    int shape;
    std::vector<int> frames;
    std::vector<std::string> expected;
  };
  const Row rows[] = {
      // Touched at 2, frames 2 to 4 are read and 4 is the start; 5 cannot be read and posts
      // nothing; then right by 0.5, equal axes (nothing), up by 0.4.
      {"@2\ntouch 1\naxis 1 0.1 0\n@3\naxis 1 0.2 0\n@4\naxis 1 0.3 0\n@5\nstate_fail 1\naxis 1 0.9 0\n"
       "@6\nstate_ok 1\naxis 1 0.8 0\n@7\naxis 1 0.5 0.2\n@8\naxis 1 0.3 0.4\n",
       0, {5, 6, 7, 8},
       {"0.02 0 0.05 0.3 3 -1", "0.03 0 0.05 0.3 3 -1", "0.03 0 0.05 0.3 3 -1", "0.03 2 0.05 0.3 3 -1"}},
      // The attach shape turns flag 7 on: a vertical swipe changes nothing.
      {"@2\ntouch 1\naxis 1 0 0\n@5\naxis 1 0 0.4\n", 1, {6}, {"0.02 0 0.05 0.3 3 -1"}},
      // The other hand edits the helix only while it is drawn: not with the default shape, where
      // its counter stays at the touch; with spin right by 0.5 is the radius, then up by 1.2 the
      // length, without any flag-7 condition.
      {"@2\ntouch 2\naxis 2 0 0\n@8\naxis 2 0.5 0\n", 0, {8}, {"0.02 0 0.05 0.3 -1 0"}},
      {"@2\ntouch 2\naxis 2 0 -0.4\n@8\naxis 2 0.5 -0.4\n@9\naxis 2 0.5 0.8\n", 2, {8, 9},
       {"0.02 0 0.06 0.3 -1 3", "0.02 0 0.06 0.54 -1 3"}},
  };
  for (const Row& row : rows) {
    m_vr.shutdown();
    const std::string trace = std::string("device 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
                                          "pose 0 pos 0 1 0.6 rot 0 0 0\npose 1 pos 0.2 0.8 0.3 rot 0 0 0\n"
                                          "pose 2 pos -0.2 0.8 0.3 rot 0 0 0\n") + row.keyframes;
    ASSERT_TRUE(startHeadset(trace.c_str())) << m_output;
    g_brushShape = row.shape;
    g_flags[FLAG_NO_CURVATURE_SWIPE] = row.shape == 1;
    g_curvature = 0;
    g_brushWidth = 0.02f;
    g_splinerRadius = 0.05f;
    g_splinerLength = 0.3f;
    std::vector<std::string> seen;
    atFrames(row.frames, [&] {
      char line[96];
      std::snprintf(line, sizeof line, "%g %d %g %g %d %d", g_brushWidth, int(g_curvature), g_splinerRadius,
                    g_splinerLength, m_vr.drawingHandSwipe(), m_vr.otherHandSwipe());
      seen.push_back(line);
    });
    EXPECT_EQ(seen, row.expected) << row.keyframes;
  }
}

TEST_F(OpenVRGLTest, ADrawingHandSwitchedOnAgainTakesItsRoleBackOnlyWhenItIsFree) {
  ASSERT_TRUE(startHeadset("device 0 hmd\ndevice 1 controller\ndevice 2 controller\ndevice 3 controller\n@0\n"
                    "pose 0 pos 0 1 0.6 rot 0 0 0\npose 1 pos 0.2 0.8 0.3 rot 0 0 0\n"
                    "pose 2 pos -0.2 0.8 0.3 rot 0 0 0\npose 3 pos 0 0.8 0.3 rot 0 0 0\n@1\ndisconnect 3\n"
                    "@3\ndisconnect 1\n@5\nconnect 1\n"                          // back: drawing again
                    "@7\ndisconnect 1\n@9\nconnect 3\n@11\nconnect 1\n"          // 3 took the role first
                    "@13\nstate_fail 3\naxis 3 -0.5 0\npad 3 down\n@14\npad 3 up\n"));  // unreadable pad
  Operator tools;
  Interactor* brush = brushWith(tools, 3);
  std::vector<int> roles;
  atFrames({2, 4, 6, 8, 10, 12, 14}, [&] { roles.insert(roles.end(), {m_vr.drawingHand(), m_vr.otherHand()}); });
  EXPECT_EQ(roles, (std::vector<int>{1, 2, -1, 2, 1, 2, -1, 2, 3, 2, 3, 2, 3, 2}));
  EXPECT_EQ(brush->m_cursor, 2);  // the press whose pad could not be read undid nothing
}

// A runtime that recommends more than the context allows: the eyes are drawn, and their size
// given to the rest of the program, at the size of the targets made.
TEST_F(OpenVRGLTest, EyeSizesAreThoseOfTheTargetsMadeWhenTheRecommendedOneIsBroughtDown) {
  struct ViewportProbe : OpenVRContext {
    void renderScene(int) override { glGetIntegerv(GL_VIEWPORT, m_viewport); }
    GLint m_viewport[4] = {};
  } probe;
  probe.setDesktopFramebuffer(m_desktop.m_framebuffer);
  const auto limit = static_cast<uint32_t>(maxFramebufferSize());
  writeFile("run/wide.trace", "render_size " + std::to_string(limit + 1) + " 8\ndevice 0 hmd\n");
  setenv("TRESSLET_VR_TRACE", rootPath("run/wide.trace").c_str(), 1);
  testing::internal::CaptureStdout();
  const bool started = probe.init();
  if (started) probe.renderFrame();
  m_output = testing::internal::GetCapturedStdout();
  ASSERT_TRUE(started) << m_output;
  EXPECT_NE(m_output.find(std::to_string(limit + 1) + " x 8 is larger than this OpenGL allows"),
            std::string::npos)
      << m_output;
  const FramebufferMultiDesc& made = probe.eyeFramebuffer(0);
  EXPECT_EQ((std::vector<uint32_t>{made.m_width, made.m_height}),
            (std::vector<uint32_t>{limit, 8}));
  EXPECT_EQ(
      (std::vector<float>{float(probe.renderWidth()), float(probe.renderHeight()), g_uiValues[4],
                          g_uiValues[5], float(probe.m_viewport[2]), float(probe.m_viewport[3])}),
      (std::vector<float>{float(limit), 8, float(limit), 8, float(limit), 8}));
  probe.shutdown();
}
