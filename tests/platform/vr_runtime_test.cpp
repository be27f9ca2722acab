#include "platform/vr_runtime.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "support/asset_root.h"

using namespace vr;

namespace {

// A throw-away root holding a trace that TRESSLET_VR_TRACE points at while the test runs.
class VrRuntimeTest : public AssetRootTest {
 protected:
  void TearDown() override {
    shutdownInternal();
    unsetenv("TRESSLET_VR_TRACE");
    AssetRootTest::TearDown();
  }

  // Starts on the trace (none: the variable unset) and keeps what it printed.
  InitError start(const char* text) {
    unsetenv("TRESSLET_VR_TRACE");
    if (text) {
      writeFile("run/test.trace", text);
      setenv("TRESSLET_VR_TRACE", rootPath("run/test.trace").c_str(), 1);
    }
    InitError error = InitError_None;
    testing::internal::CaptureStdout();
    initInternal(&error, ApplicationType_Scene);
    m_output = testing::internal::GetCapturedStdout();
    return error;
  }

  template <class T>
  T* get(const char* version) {
    InitError error = InitError_None;
    return static_cast<T*>(getGenericInterface(version, &error));
  }

  std::string m_output;
};

const char* k_trace =
    "frame_ms 10\ndevice 0 hmd\ndevice 1 controller model=wand loading=2\ndevice 2 controller model=WAND\n"
    "@0\npose 0 pos 0 1 0.6 rot 0 0 0\npose 1 pos 0.2 1 0.3 rot 0 0 0\naxis 1 0.5 -0.5\ntrigger 1 down\n"
    "@2\ninvalid 1\nstate_fail 2\n@3\nclose\n";

}  // namespace

TEST_F(VrRuntimeTest, InitFailuresFollowTheTrace) {
  EXPECT_EQ(start(nullptr), InitError_NoRuntime);
  InitError error = InitError_None;
  EXPECT_EQ(getGenericInterface(k_systemVersion, &error), nullptr);
  EXPECT_EQ(error, InitError_NotInitialized);
  EXPECT_EQ((std::vector<InitError>{start("device 1 controller\n"), start("init_fail 126\ndevice 0 hmd\n"),
                                    start("device 0 hmd\n@0\nbogus\n")}),
            (std::vector<InitError>{InitError_HmdNotFound, static_cast<InitError>(126), InitError_TraceUnreadable}));
  EXPECT_NE(m_output.find("test.trace:3:"), std::string::npos) << m_output;
  EXPECT_STREQ(getInitErrorAsEnglishDescription(static_cast<InitError>(126)), "Init Error (126)");
  EXPECT_FALSE(isInterfaceVersionValid("IVRSystem_016"));
}

TEST_F(VrRuntimeTest, PlaysPosesStatesAndTheVirtualClock) {
  const uint32_t tokenBefore = getInitToken(), realBefore = platform::timeGetTime();
  ASSERT_EQ(start(k_trace), InitError_None);
  EXPECT_NE(getInitToken(), tokenBefore);
  IVRSystem* system = get<IVRSystem>(k_systemVersion);
  IVRCompositor* compositor = get<IVRCompositor>(k_compositorVersion);
  ASSERT_TRUE(system && compositor);

  // The virtual clock starts from the real one and moves only with the frames.
  const uint32_t clockStart = platform::timeGetTime();
  EXPECT_TRUE(platform::isVirtualClock());
  EXPECT_GE(static_cast<int32_t>(clockStart - realBefore), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  TrackedDevicePose poses[k_maxTrackedDeviceCount];
  const auto nextFrame = [&] { compositor->waitGetPoses(poses, k_maxTrackedDeviceCount, nullptr, 0); };
  nextFrame();
  // Device 2 is connected, but never posed.
  EXPECT_EQ((std::vector<bool>{poses[0].m_poseIsValid, poses[2].m_poseIsValid, poses[2].m_deviceIsConnected}),
            (std::vector<bool>{true, false, true}));
  EXPECT_FLOAT_EQ(poses[1].m_deviceToAbsoluteTracking.m[0][3], 0.2f);
  ControllerState state;
  ASSERT_TRUE(system->getControllerState(1, &state, sizeof state));
  EXPECT_EQ(state.m_buttonPressed, buttonMaskFromId(Button_Trigger));
  EXPECT_FLOAT_EQ(state.m_axis[0].x, 0.5f);
  EXPECT_FALSE(system->getControllerState(0, &state, sizeof state));  // not a controller

  nextFrame();
  nextFrame();  // frame 2
  EXPECT_FALSE(poses[1].m_poseIsValid);
  EXPECT_FALSE(system->getControllerState(2, &state, sizeof state));
  nextFrame();  // frame 3 holds the close
  EXPECT_FALSE(closeRequested());  // its image is still to be rendered
  nextFrame();
  EXPECT_TRUE(closeRequested());
  EXPECT_EQ(platform::timeGetTime(), clockStart + 50);  // 10 ms a frame

  shutdownInternal();
  EXPECT_FALSE(platform::isVirtualClock());
  EXPECT_GE(static_cast<int32_t>(platform::timeGetTime() - (clockStart + 50)), 0);
}

TEST_F(VrRuntimeTest, RenderModelsAnswerLoadingThenDeliverOrFail) {
  ASSERT_EQ(start(k_trace), InitError_None);
  IVRRenderModels* models = get<IVRRenderModels>(k_renderModelsVersion);
  ASSERT_NE(models, nullptr);
  RenderModel* model = nullptr;
  for (int answer = 0; answer < 2; ++answer) EXPECT_EQ(models->loadRenderModelAsync("wand", &model), RenderModelError_Loading);
  ASSERT_EQ(models->loadRenderModelAsync("wand", &model), RenderModelError_None);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(model->m_triangleCount, 12u);
  for (uint32_t i = 0; i < model->m_triangleCount * 3; ++i) EXPECT_LT(model->m_indexData[i], model->m_vertexCount);
  RenderModelTexture* texture = nullptr;
  ASSERT_EQ(models->loadTextureAsync(model->m_diffuseTextureId, &texture), RenderModelError_None);
  models->freeTexture(texture);
  models->freeRenderModel(model);

  // A model the trace marks as failing is checked through the headset wrapper.
  EXPECT_EQ(models->loadRenderModelAsync("unknown", &model), RenderModelError_InvalidModel);
  EXPECT_EQ(model, nullptr);
}
