#include "platform/vr_trace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace vr;

namespace {

Trace parseOk(const std::string& text) {
  Trace trace;
  EXPECT_TRUE(parseTrace(text, "t.trace", &trace)) << text;
  return trace;
}

void advanceTo(TracePlayer& player, int frame) {
  while (player.frame() < frame) player.advance();
}

// The frame's events as {type, device, button}.
std::vector<std::vector<uint32_t>> drain(TracePlayer& player) {
  std::vector<std::vector<uint32_t>> events;
  Event event;
  while (player.pollEvent(&event))
    events.push_back({event.m_eventType, event.m_trackedDeviceIndex, event.m_button});
  return events;
}

// Where the device's -z axis points in the room.
void forward(const DeviceState& state, float out[3]) {
  const Matrix34 m = poseToMatrix(state.m_position, state.m_rotation);
  for (int r = 0; r < 3; ++r) out[r] = -m.m[r][2];
}

const char* k_header = "render_size 320 200\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n";

}  // namespace

// The header lines that take effect elsewhere are checked by the runtime and binding tests.
TEST(VrTraceParse, GoodLinesAndBadLinesReportedWithTheirLineNumber) {
  const Trace good = parseOk("# a comment line\nrender_size 320 200   # trailing comment\n\n"
                             "fov 90\nipd 0.06\ndevice 0 hmd\n");
  EXPECT_EQ(good.m_renderWidth, 320u);
  EXPECT_EQ(good.m_renderHeight, 200u);
  EXPECT_FLOAT_EQ(good.m_fovDegrees, 90);
  EXPECT_FLOAT_EQ(good.m_ipd, 0.06f);

  const std::string hmd = "device 0 hmd\n";
  const struct {
    std::string text;
    int line;
  } cases[] = {
      {"render_size 0 10\n", 1}, {"frame_ms -3\n", 1}, {"fov 90\nfov wide\n", 2}, {hmd + hmd, 2},
      {"device 1 hmd\n", 1},               // the headset is device 0
      {hmd + "device 64 controller\n", 2},  // only 64 slots
      {hmd + "device 1 controller colour=red\n", 2},
      {hmd + "pose 0 pos 0 0 0 rot 0 0 0\n", 2},  // outside a keyframe
      {hmd + "@5\n@5\n", 3},                      // frames must increase
      {hmd + "@0\npose 3 pos 0 0 0 rot 0 0 0\n", 3}, {hmd + "@0\npose 0 pos 0 0 rot 0 0 0\n", 3},
      {hmd + "@0\npose 0 pos 0 0 0 quat 0 0 0 0\n", 3}, {hmd + "@0\n\n# gap\naxis 0 1.5 0\n", 5},
      {hmd + "@0\ntrigger 0 sideways\n", 3}, {hmd + "@0\nsnapshot top a.png\n", 3}, {hmd + "@0\njump 0\n", 3},
      {hmd + "@0\nclose\nframe_ms 10\n", 4},
      {hmd + "device 1 controller\n@0\npose 1 rel 0 pos 0 0 0 rot 0 0 0\n", 4},  // 0 has no pose yet
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    Trace trace;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(parseTrace(c.text, "t.trace", &trace));
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("VR trace t.trace:" + std::to_string(c.line) + ": ", 0), 0u) << out;
  }
}

TEST(VrTracePlayer, KeyframesHoldAndLerpMovesLinearly) {
  TracePlayer player(parseOk(std::string(k_header) +
                             "@0\npose 1 pos 0 0 0 rot 0 0 0\naxis 1 0 0\n"
                             "@4 lerp\npose 1 pos 0.4 0 0 rot 90 0 0\naxis 1 1 -1\n"
                             "@6\ntrigger 1 down\n"
                             "@10 lerp\npose 1 pos 0.4 0 -1 rot 90 0 0\n"));
  const DeviceState& hand = player.device(1);
  float f[3];
  advanceTo(player, 0);
  EXPECT_TRUE(hand.m_valid);
  EXPECT_FALSE(player.device(0).m_valid);  // no pose given yet
  advanceTo(player, 1);  // a quarter of the way
  EXPECT_NEAR(hand.m_position[0], 0.1f, 1e-5);
  EXPECT_NEAR(hand.m_axis[1], -0.25f, 1e-5);
  advanceTo(player, 2);  // half way, and half the 90 degree yaw
  forward(hand, f);
  EXPECT_NEAR(f[0], -std::sin(0.785398f), 1e-4);
  EXPECT_NEAR(f[2], -std::cos(0.785398f), 1e-4);
  advanceTo(player, 4);  // the keyframe itself: yaw +90 turns -z towards -x
  forward(hand, f);
  EXPECT_NEAR(f[0], -1.0f, 1e-5);
  advanceTo(player, 5);  // held, since @6 does not lerp
  EXPECT_NEAR(hand.m_position[0], 0.4f, 1e-6);
  EXPECT_EQ(hand.m_pressed, 0u);
  advanceTo(player, 6);
  EXPECT_EQ(hand.m_pressed, buttonMaskFromId(Button_Trigger));
  advanceTo(player, 8);  // lerp from the previous keyframe (6), half way to 10
  EXPECT_NEAR(hand.m_position[2], -0.5f, 1e-5);
  advanceTo(player, 13);  // past the last keyframe: everything holds
  EXPECT_NEAR(hand.m_position[2], -1.0f, 1e-6);
  EXPECT_EQ(hand.m_pressed, buttonMaskFromId(Button_Trigger));
}

TEST(VrTracePlayer, RelativePosesUseTheOtherDevicesFrame) {
  TracePlayer player(parseOk(std::string(k_header) +
                             "@0\npose 0 pos 0 1 0.6 rot 90 0 0\npose 2 rel 0 pos 0 0 -0.5 rot 0 0 0\n"));
  player.advance();
  // Half a metre in front of a headset that looks along -x.
  const float* p = player.device(2).m_position;
  EXPECT_NEAR(p[0], -0.5f, 1e-5);
  EXPECT_NEAR(p[1], 1.0f, 1e-5);
  EXPECT_NEAR(p[2], 0.6f, 1e-5);
  float f[3];
  forward(player.device(2), f);
  EXPECT_NEAR(f[0], -1.0f, 1e-5);
}

TEST(VrTracePlayer, EventsComeInAFixedOrderWithinAFrame) {
  TracePlayer player(parseOk(std::string(k_header) +
                             "device 3 controller\n"
                             "@0\ntrigger 2 down\ntouch 1\n"
                             "@1\ndisconnect 3\ntouch 2\ntrigger 2 up\nuntouch 1\npad 1 down\ntrigger 1 down\n"
                             "@2\nconnect 3\n"
                             "trigger 1 down\n"  // already down: no second press
                             "menu 2 down\nmenu 2 up\n"));  // down and up in one keyframe cancel out
  using E = std::vector<std::vector<uint32_t>>;
  advanceTo(player, 0);
  EXPECT_EQ(drain(player), (E{{Event_TrackedDeviceActivated, 0, 0}, {Event_TrackedDeviceActivated, 1, 0},
                              {Event_TrackedDeviceActivated, 2, 0}, {Event_TrackedDeviceActivated, 3, 0},
                              {Event_ButtonTouch, 1, Button_Touchpad}, {Event_ButtonPress, 2, Button_Trigger}}));
  // Per device untouch, unpress, press (lower button ids first), touch; deactivations last.
  advanceTo(player, 1);
  EXPECT_EQ(drain(player), (E{{Event_ButtonUntouch, 1, Button_Touchpad}, {Event_ButtonPress, 1, Button_Touchpad},
                              {Event_ButtonPress, 1, Button_Trigger}, {Event_ButtonUnpress, 2, Button_Trigger},
                              {Event_ButtonTouch, 2, Button_Touchpad}, {Event_TrackedDeviceDeactivated, 3, 0}}));
  advanceTo(player, 2);
  EXPECT_EQ(drain(player), (E{{Event_TrackedDeviceActivated, 3, 0}}));
  advanceTo(player, 3);
  EXPECT_TRUE(drain(player).empty());
}

TEST(VrTracePlayer, CloseAndFrameLimitSetTheCloseFrame) {
  TracePlayer closing(parseOk("device 0 hmd\n@7\nclose\n@9\nclose\n"));
  EXPECT_EQ(closing.closeFrame(), -1);
  advanceTo(closing, 7);
  EXPECT_EQ(closing.closeFrame(), 7);
  EXPECT_EQ(TracePlayer(parseOk("max_frames 5\ndevice 0 hmd\n@9\nclose\n")).closeFrame(), 4);
  TracePlayer open(parseOk("device 0 hmd\n@1\n"));
  advanceTo(open, 3);
  EXPECT_EQ(open.closeFrame(), -1);
}
