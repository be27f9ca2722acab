#include "platform/vr_trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace vr;

namespace {

std::string parseError(const std::string& text) {
  Trace trace;
  testing::internal::CaptureStdout();
  const bool ok = parseTrace(text, "t.trace", &trace);
  const std::string out = testing::internal::GetCapturedStdout();
  return ok ? std::string("ok") : out;
}

Trace parseOk(const std::string& text) {
  Trace trace;
  EXPECT_TRUE(parseTrace(text, "t.trace", &trace)) << text;
  return trace;
}

std::vector<Event> drain(TracePlayer& player) {
  std::vector<Event> events;
  Event event;
  while (player.pollEvent(&event)) events.push_back(event);
  return events;
}

// Where the device's -z axis points in the room.
void forward(const DeviceState& state, float out[3]) {
  const Matrix34 m = poseToMatrix(state.m_position, state.m_rotation);
  for (int r = 0; r < 3; ++r) out[r] = -m.m[r][2];
}

const char* k_header =
    "render_size 320 200\n"
    "device 0 hmd\n"
    "device 1 controller model=wand loading=2\n"
    "device 2 controller\n";

}  // namespace

TEST(VrTraceParse, ReadsHeaderDevicesAndKeyframes) {
  const Trace trace = parseOk(
      "# a comment line\n"
      "render_size 320 200   # trailing comment\n"
      "fov 90\nipd 0.06\nframe_ms 11\nmax_frames 50\n"
      "device 0 hmd\n"
      "device 1 controller model=wand loading=3 model_fail\n"
      "device 5 tracker\n"
      "@0\n"
      "pose 0 pos 0 1 0.6 rot 0 0 0\n"
      "@10 lerp\n"
      "trigger 1 down\n"
      "close\n");
  EXPECT_EQ(trace.m_renderWidth, 320u);
  EXPECT_EQ(trace.m_renderHeight, 200u);
  EXPECT_FLOAT_EQ(trace.m_fovDegrees, 90);
  EXPECT_FLOAT_EQ(trace.m_ipd, 0.06f);
  EXPECT_EQ(trace.m_frameMs, 11u);
  EXPECT_EQ(trace.m_maxFrames, 50);
  ASSERT_EQ(trace.m_devices.size(), 3u);
  EXPECT_EQ(trace.m_devices[1].m_model, "wand");
  EXPECT_EQ(trace.m_devices[1].m_loadingAnswers, 3);
  EXPECT_TRUE(trace.m_devices[1].m_modelFail);
  EXPECT_EQ(trace.m_devices[2].m_class, TrackedDeviceClass_TrackingReference);
  ASSERT_EQ(trace.m_keyframes.size(), 2u);
  EXPECT_FALSE(trace.m_keyframes[0].m_lerp);
  EXPECT_TRUE(trace.m_keyframes[1].m_lerp);
  EXPECT_EQ(trace.m_keyframes[1].m_frame, 10);
  EXPECT_EQ(trace.m_keyframes[1].m_actions.size(), 2u);

  const Trace failing = parseOk("init_fail 126\ndevice 0 hmd\n");
  EXPECT_EQ(failing.m_initFail, TraceInitFail::Code);
  EXPECT_EQ(failing.m_initFailCode, 126);
  EXPECT_EQ(parseOk("init_fail no_compositor\n").m_initFail, TraceInitFail::NoCompositor);
}

TEST(VrTraceParse, BadLinesAreReportedWithTheirLineNumber) {
  struct Case {
    std::string text;
    std::string where;
  };
  const std::vector<Case> cases = {
      {"render_size 0 10\n", "t.trace:1:"},
      {"fov 90\nfov wide\n", "t.trace:2:"},
      {"device 0 hmd\ndevice 0 hmd\n", "t.trace:2:"},
      {"device 1 hmd\n", "t.trace:1:"},                       // the headset is device 0
      {"device 0 hmd\ndevice 64 controller\n", "t.trace:2:"}, // only 64 slots
      {"device 0 hmd\ndevice 1 controller colour=red\n", "t.trace:2:"},
      {"device 0 hmd\npose 0 pos 0 0 0 rot 0 0 0\n", "t.trace:2:"},  // outside a keyframe
      {"device 0 hmd\n@5\n@5\n", "t.trace:3:"},                      // frames must increase
      {"device 0 hmd\n@0\npose 3 pos 0 0 0 rot 0 0 0\n", "t.trace:3:"},
      {"device 0 hmd\n@0\npose 0 pos 0 0 rot 0 0 0\n", "t.trace:3:"},
      {"device 0 hmd\n@0\npose 0 pos 0 0 0 quat 0 0 0 0\n", "t.trace:3:"},
      {"device 0 hmd\n@0\n\n# gap\naxis 0 1.5 0\n", "t.trace:5:"},
      {"device 0 hmd\n@0\ntrigger 0 sideways\n", "t.trace:3:"},
      {"device 0 hmd\n@0\nsnapshot top a.png\n", "t.trace:3:"},
      {"device 0 hmd\n@0\njump 0\n", "t.trace:3:"},
      {"device 0 hmd\n@0\nclose\nframe_ms 10\n", "t.trace:4:"},
      {"device 0 hmd\ndevice 1 controller\n@0\npose 1 rel 0 pos 0 0 0 rot 0 0 0\n", "t.trace:4:"},
      {"frame_ms -3\n", "t.trace:1:"},
  };
  for (const Case& c : cases) EXPECT_NE(parseError(c.text).find(c.where), std::string::npos) << c.text;
}

TEST(VrTracePlayer, KeyframesHoldAndLerpMovesLinearly) {
  TracePlayer player(parseOk(std::string(k_header) +
                             "@0\n"
                             "pose 1 pos 0 0 0 rot 0 0 0\n"
                             "axis 1 0 0\n"
                             "@4 lerp\n"
                             "pose 1 pos 0.4 0 0 rot 90 0 0\n"
                             "axis 1 1 -1\n"
                             "@6\n"
                             "trigger 1 down\n"
                             "@10 lerp\n"
                             "pose 1 pos 0.4 0 -1 rot 90 0 0\n"));
  player.advance();  // frame 0
  EXPECT_TRUE(player.device(1).m_valid);
  EXPECT_TRUE(player.device(0).m_connected);
  EXPECT_FALSE(player.device(0).m_valid);  // no pose given yet
  player.advance();  // frame 1: a quarter of the way
  EXPECT_NEAR(player.device(1).m_position[0], 0.1f, 1e-5);
  EXPECT_NEAR(player.device(1).m_axis[0], 0.25f, 1e-5);
  EXPECT_NEAR(player.device(1).m_axis[1], -0.25f, 1e-5);
  player.advance();  // frame 2: half way, and half the 90 degree yaw
  float f[3];
  forward(player.device(1), f);
  EXPECT_NEAR(f[0], -std::sin(0.785398f), 1e-4);
  EXPECT_NEAR(f[2], -std::cos(0.785398f), 1e-4);
  player.advance();
  player.advance();  // frame 4: the keyframe itself
  EXPECT_NEAR(player.device(1).m_position[0], 0.4f, 1e-6);
  forward(player.device(1), f);
  EXPECT_NEAR(f[0], -1.0f, 1e-5);  // yaw +90 turns -z towards -x
  player.advance();  // frame 5: held, since @6 does not lerp
  EXPECT_NEAR(player.device(1).m_position[0], 0.4f, 1e-6);
  EXPECT_EQ(player.device(1).m_pressed, 0u);
  player.advance();  // frame 6
  EXPECT_EQ(player.device(1).m_pressed, buttonMaskFromId(Button_Trigger));
  player.advance();
  player.advance();  // frame 8: lerp from the previous keyframe (6), half way to 10
  EXPECT_NEAR(player.device(1).m_position[2], -0.5f, 1e-5);
  for (int i = 0; i < 5; ++i) player.advance();  // past the last keyframe: everything holds
  EXPECT_NEAR(player.device(1).m_position[2], -1.0f, 1e-6);
  EXPECT_EQ(player.device(1).m_pressed, buttonMaskFromId(Button_Trigger));
}

TEST(VrTracePlayer, RelativePosesUseTheOtherDevicesFrame) {
  TracePlayer player(parseOk(std::string(k_header) +
                             "@0\n"
                             "pose 0 pos 0 1 0.6 rot 90 0 0\n"
                             "pose 2 rel 0 pos 0 0 -0.5 rot 0 0 0\n"));
  player.advance();
  // Half a metre in front of a headset that looks along -x.
  EXPECT_NEAR(player.device(2).m_position[0], -0.5f, 1e-5);
  EXPECT_NEAR(player.device(2).m_position[1], 1.0f, 1e-5);
  EXPECT_NEAR(player.device(2).m_position[2], 0.6f, 1e-5);
  float f[3];
  forward(player.device(2), f);
  EXPECT_NEAR(f[0], -1.0f, 1e-5);
}

TEST(VrTracePlayer, EventsComeInAFixedOrderWithinAFrame) {
  TracePlayer player(parseOk(std::string(k_header) +
                             "device 3 controller\n"
                             "@0\n"
                             "trigger 2 down\n"
                             "touch 1\n"
                             "@1\n"
                             "disconnect 3\n"
                             "touch 2\n"
                             "trigger 2 up\n"
                             "untouch 1\n"
                             "pad 1 down\n"
                             "trigger 1 down\n"
                             "@2\n"
                             "connect 3\n"
                             "trigger 1 down\n"  // already down: no second press
                             "menu 2 down\n"
                             "menu 2 up\n"));    // down and up in one keyframe cancel out
  player.advance();
  std::vector<Event> events = drain(player);
  ASSERT_EQ(events.size(), 6u);
  for (uint32_t i = 0; i < 4; ++i) {
    EXPECT_EQ(events[i].m_eventType, Event_TrackedDeviceActivated);
    EXPECT_EQ(events[i].m_trackedDeviceIndex, i);
  }
  EXPECT_EQ(events[4].m_eventType, Event_ButtonTouch);
  EXPECT_EQ(events[4].m_trackedDeviceIndex, 1u);
  EXPECT_EQ(events[5].m_eventType, Event_ButtonPress);
  EXPECT_EQ(events[5].m_trackedDeviceIndex, 2u);

  player.advance();
  events = drain(player);
  const std::vector<std::pair<uint32_t, uint32_t>> expected = {
      {Event_ButtonUntouch, 1}, {Event_ButtonPress, 1},         {Event_ButtonPress, 1},
      {Event_ButtonUnpress, 2}, {Event_ButtonTouch, 2},         {Event_TrackedDeviceDeactivated, 3}};
  ASSERT_EQ(events.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(events[i].m_eventType, expected[i].first) << i;
    EXPECT_EQ(events[i].m_trackedDeviceIndex, expected[i].second) << i;
  }
  EXPECT_EQ(events[1].m_button, uint32_t(Button_Touchpad));  // lower button ids first
  EXPECT_EQ(events[2].m_button, uint32_t(Button_Trigger));

  player.advance();
  events = drain(player);
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].m_eventType, Event_TrackedDeviceActivated);
  EXPECT_EQ(events[0].m_trackedDeviceIndex, 3u);
  player.advance();
  EXPECT_TRUE(drain(player).empty());
}

TEST(VrTracePlayer, CloseAndFrameLimitSetTheCloseFrame) {
  TracePlayer closing(parseOk("device 0 hmd\n@7\nclose\n@9\nclose\n"));
  EXPECT_EQ(closing.closeFrame(), -1);
  for (int i = 0; i <= 7; ++i) closing.advance();
  EXPECT_EQ(closing.closeFrame(), 7);
  TracePlayer limited(parseOk("max_frames 5\ndevice 0 hmd\n@9\nclose\n"));
  EXPECT_EQ(limited.closeFrame(), 4);
  TracePlayer open(parseOk("device 0 hmd\n@1\n"));
  for (int i = 0; i < 4; ++i) open.advance();
  EXPECT_EQ(open.closeFrame(), -1);
}
