#include "platform/vr_trace.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

using namespace vr;
using testing::FloatNear;
using testing::Pointwise;

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
  while (player.pollEvent(&event)) events.push_back({event.m_eventType, event.m_trackedDeviceIndex, event.m_button});
  return events;
}

// The device's position, then where its -z axis points in the room.
std::vector<float> placement(const DeviceState& state) {
  const Matrix34 m = poseToMatrix(state.m_position, state.m_rotation);
  return {state.m_position[0], state.m_position[1], state.m_position[2], -m.m[0][2], -m.m[1][2], -m.m[2][2]};
}

const char* k_header = "render_size 320 200\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n";

}  // namespace

// The header lines that take effect elsewhere are checked by the runtime and binding tests.
TEST(VrTraceParse, GoodLinesAndBadLinesReportedWithTheirLineNumber) {
  const Trace good = parseOk("# a comment line\nrender_size 320 200   # trailing comment\n\nfov 90\nipd 0.06\ndevice 0 hmd\n");
  EXPECT_EQ((std::vector<float>{float(good.m_renderWidth), float(good.m_renderHeight), good.m_fovDegrees, good.m_ipd}),
            (std::vector<float>{320, 200, 90, 0.06f}));

  // The headset is device 0, there are only 64 slots, poses belong in keyframes whose frames
  // increase, and a relative pose needs the other device posed first.
  const std::string hmd = "device 0 hmd\n", key = hmd + "@0\n";
  const std::vector<std::pair<std::string, int>> cases = {
      {"render_size 0 10\n", 1}, {"render_size 65536 2048\n", 1}, {"frame_ms -3\n", 1}, {"fov 90\nfov wide\n", 2}, {hmd + hmd, 2},
      {"device 1 hmd\n", 1}, {hmd + "device 64 controller\n", 2}, {hmd + "device 1 controller colour=red\n", 2},
      {hmd + "pose 0 pos 0 0 0 rot 0 0 0\n", 2}, {hmd + "@5\n@5\n", 3}, {key + "pose 3 pos 0 0 0 rot 0 0 0\n", 3},
      {key + "pose 0 pos 0 0 rot 0 0 0\n", 3}, {key + "pose 0 pos 0 0 0 quat 0 0 0 0\n", 3},
      {key + "\n# gap\naxis 0 1.5 0\n", 5}, {key + "trigger 0 sideways\n", 3}, {key + "snapshot top a.png\n", 3},
      {key + "jump 0\n", 3}, {key + "close\nframe_ms 10\n", 4},
      {hmd + "device 1 controller\n@0\npose 1 rel 0 pos 0 0 0 rot 0 0 0\n", 4}};
  for (const auto& [text, line] : cases) {
    Trace trace;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(parseTrace(text, "t.trace", &trace)) << text;
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.rfind("VR trace t.trace:" + std::to_string(line) + ": ", 0), 0u) << text << out;
  }
}

TEST(VrTracePlayer, KeyframesHoldAndLerpMovesLinearly) {
  TracePlayer player(parseOk(std::string(k_header) +
                             "@0\npose 1 pos 0 0 0 rot 0 0 0\naxis 1 0 0\n"
                             "@4 lerp\npose 1 pos 0.4 0 0 rot 90 0 0\naxis 1 1 -1\n"
                             "@6\ntrigger 1 down\n"
                             "@10 lerp\npose 1 pos 0.4 0 -1 rot 90 0 0\n"));
  advanceTo(player, 0);
  EXPECT_TRUE(player.device(1).m_valid);
  EXPECT_FALSE(player.device(0).m_valid);  // no pose given yet
  // Frames 1 and 2 are a quarter and half of the way to @4 (yaw +90 turns -z towards -x); @6
  // does not lerp, so 5 holds @4; 8 lerps from @6 half way to @10; past the last keyframe all holds.
  std::vector<float> seen;
  for (int frame : {1, 2, 4, 5, 6, 8, 13}) {
    advanceTo(player, frame);
    const DeviceState& hand = player.device(1);
    const std::vector<float> p = placement(hand);
    seen.insert(seen.end(), {p[0], p[2], p[3], p[5], hand.m_axis[1], float(hand.m_pressed)});
  }
  const float t = float(buttonMaskFromId(Button_Trigger)), s = std::sin(0.3926991f), c = std::cos(0.3926991f);
  const float h = std::sqrt(0.5f);
  EXPECT_THAT(seen, Pointwise(FloatNear(1e-4f), std::vector<float>{0.1f, 0, -s, -c, -0.25f, 0,  //
                                                                   0.2f, 0, -h, -h, -0.5f, 0,   //
                                                                   0.4f, 0, -1, 0, -1, 0,       //
                                                                   0.4f, 0, -1, 0, -1, 0,       //
                                                                   0.4f, 0, -1, 0, -1, t,       //
                                                                   0.4f, -0.5f, -1, 0, -1, t,   //
                                                                   0.4f, -1, -1, 0, -1, t}));
}

TEST(VrTracePlayer, RelativePosesUseTheOtherDevicesFrame) {
  TracePlayer player(parseOk(std::string(k_header) +
                             "@0\npose 0 pos 0 1 0.6 rot 90 0 0\npose 2 rel 0 pos 0 0 -0.5 rot 0 0 0\n"));
  player.advance();
  // Half a metre in front of a headset that looks along -x, looking the same way.
  EXPECT_THAT(placement(player.device(2)), Pointwise(FloatNear(1e-5f), std::vector<float>{-0.5f, 1, 0.6f, -1, 0, 0}));
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
  TracePlayer closing(parseOk("device 0 hmd\n@7\nclose\n@9\nclose\n")), open(parseOk("device 0 hmd\n@1\n"));
  EXPECT_EQ(closing.closeFrame(), -1);
  advanceTo(closing, 7);
  advanceTo(open, 3);
  EXPECT_EQ((std::vector<int>{closing.closeFrame(), open.closeFrame()}), (std::vector<int>{7, -1}));
  EXPECT_EQ(TracePlayer(parseOk("max_frames 5\ndevice 0 hmd\n@9\nclose\n")).closeFrame(), 4);
}

TEST(VrTraceFile, WhatIsNotARegularFileCannotBeOpened) {
  // A folder would read as an empty trace; a device might never end.
  for (const char* path : {"/tmp", "/dev/zero", "/nonexistent/x.trace"}) {
    Trace trace;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(loadTraceFile(path, &trace));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string("VR trace ") + path + ": cannot be opened\n");
  }
}
