#include "app/ogl_display.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/events.h"
#include "platform/window.h"

namespace {

// The desktop display without a window: titles are recorded, GL locks counted.
class TestDisplay : public OGLDisplay {
 public:
  void setTitle(const std::string& text) override { m_titles.push_back(text); }
  void lockGL() override {
    ++m_glLocks;
    OGLDisplay::lockGL();
  }

  // Both buttons held in the given mode, the mouse moved from (x0, y0) to (x1, y1).
  void drag(int mode, int x0, int y0, int x1, int y1) {
    m_orbitMode = mode;
    mouseDown(0);
    mouseDown(1);
    mouseMove(x0, y0);
    mouseMove(x1, y1);
  }
  void send(platform::WindowMessage::Kind kind, int x, int y, int keyCode = 0) {
    handleMessage(platform::WindowMessage{kind, 0, x, y, keyCode});
  }

  std::vector<std::string> m_titles;
  int m_glLocks = 0;
};

}  // namespace

TEST(OrbitCamera, MiddleButtonCyclesTheFiveModesWithTheirTitles) {
  TestDisplay display;
  for (int i = 0; i < 5; ++i) {
    display.mouseDown(2);
    display.mouseUp(2);
  }
  EXPECT_EQ(display.m_titles, (std::vector<std::string>{"ROTATE_Z", "ROTATE_CAMERA", "ZOOM", "PAN", "ROTATE"}));
  EXPECT_EQ(display.orbitMode(), OGLDisplayBase::ROTATE);
}

TEST(OrbitCamera, MovesOnlyWithBothButtonsAndIgnoresJumps) {
  TestDisplay display;
  display.drag(OGLDisplayBase::PAN, 100, 100, 105, 100);  // 5 px right pans the eye 0.005 left
  display.mouseUp(1);  // one button is not enough
  display.mouseMove(110, 100);
  display.mouseDown(1);
  display.mouseMove(122, 100);  // 12 px: a jump, only the position is kept
  display.mouseMove(122, 110);  // 10 px is still a jump
  display.mouseMove(127, 110);
  EXPECT_NEAR(display.cameraFrame()[12], -0.01f, 1e-6f);
  EXPECT_NEAR(display.viewMatrix()[12], 0.01f, 1e-6f);
  EXPECT_EQ(display.viewMatrix()[13], 0.0f);  // sideways only
}

TEST(OrbitCamera, ZoomRollAndRotateMoveTheFrameAsExpected) {
  TestDisplay zoom, roll, straight, rotate;
  zoom.drag(OGLDisplayBase::ZOOM, 50, 50, 50, 54);  // 4 px down: along forward by 0.004 x speed
  EXPECT_NEAR(zoom.cameraFrame()[14], 0.004f, 1e-6f);
  EXPECT_NEAR(zoom.viewMatrix()[14], -0.004f, 1e-6f);

  roll.drag(OGLDisplayBase::ROTATE_Z, 100, 0, 100, 5);  // counter-clockwise by 10 x the angle
  const float angle = 10.0f * std::atan2(5.0f, 100.0f);
  EXPECT_NEAR(roll.cameraFrame()[0], std::cos(angle), 1e-4f);
  EXPECT_NEAR(roll.cameraFrame()[1], std::sin(angle), 1e-4f);
  EXPECT_NEAR(roll.cameraFrame()[10], 1.0f, 1e-6f);
  straight.drag(OGLDisplayBase::ROTATE_Z, 4, 2, 8, 4);  // same direction from the origin: no roll
  EXPECT_EQ(straight.cameraFrame()[0], 1.0f);

  rotate.drag(OGLDisplayBase::ROTATE, 0, 0, 5, 3);
  for (int i = 2; i <= 20; ++i) rotate.mouseMove(5 * i, 3 * i);
  const float* forward = rotate.cameraFrame() + 8;
  EXPECT_NEAR(forward[0] * forward[0] + forward[1] * forward[1] + forward[2] * forward[2], 1.0f, 1e-4f);
  EXPECT_LT(forward[2], 0.999f);  // it did turn
}

TEST(DesktopDisplay, SizeMessagesNeedBothSidesAndKeysPostEventsNamedByTheirFirstCharacter) {
  clearEvents();
  TestDisplay display;
  display.send(platform::WindowMessage::Size, 0, 300);
  EXPECT_EQ(display.width(), 64);
  display.send(platform::WindowMessage::Size, 640, 480);
  EXPECT_EQ((std::vector<int>{display.width(), display.height(), display.m_glLocks}), (std::vector<int>{640, 480, 1}));

  display.send(platform::WindowMessage::KeyDown, 0, 0, 65);   // A
  display.send(platform::WindowMessage::KeyUp, 0, 0, 116);    // F5
  display.send(platform::WindowMessage::KeyUp, 0, 0, 96);     // numpad 0 has no name
  display.send(platform::WindowMessage::KeyDown, 0, 0, 219);  // [{
  std::vector<std::vector<int>> posted;
  while (EventRecord* record = popEvent()) {
    posted.push_back({record->m_type, record->m_id, int(record->m_name.size() + record->m_values.size())});
    delete record;
  }
  EXPECT_EQ(posted, (std::vector<std::vector<int>>{{12, 'A', 0}, {13, 'F', 0}, {12, '[', 0}}));
}

TEST(KeyNames, WindowKeySymbolsMapToCodesAndNames) {
  // Letters name the same key whatever the case; lower-case symbols must not land in the
  // numpad range, which names keys by lower-case characters.
  const std::vector<std::pair<unsigned long, std::string>> cases = {
      {0x061 /* a */, "A"}, {0x07a /* z */, "Z"}, {0x041 /* A */, "A"}, {0x037 /* 7 */, "7"},
      {0xffb1 /* KP_1 */, "a"}, {0xffaf /* KP_Divide */, "o"}, {0xffb0 /* KP_0 */, ""},
      {0xffbe /* F1 */, "F1"}, {0xffd5 /* F24 */, "F24"}, {0xffe4 /* Control_R */, "CTR"},
      {0x03d /* equal */, "+"}, {0x05d /* bracketright */, "]}"}, {0x03b /* semicolon */, ""}};
  for (const auto& c : cases) {
    std::string name;
    EXPECT_EQ(virtualKeyName(platform::keyCodeFromKeySym(c.first), name), !c.second.empty()) << c.second;
    EXPECT_EQ(name, c.second) << std::hex << c.first;
  }
  std::string name;
  EXPECT_FALSE(virtualKeyName(136, name));  // one past F24
}
