#include "app/ogl_display.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "core/events.h"
#include "platform/window.h"

namespace {

// The display's camera and input without a window: titles are recorded, locks are no-ops.
class CameraOnlyDisplay : public OGLDisplayBase {
 public:
  void close() override {}
  void waitForExit() override {}
  bool create(int, int, int, int, const std::string&) override { return true; }
  void lockWindow() override {}
  void unlockWindow() override {}
  void lockGL() override { ++m_glLocks; }
  void unlockGL() override {}
  void makeCurrent() override {}
  void setTitle(const std::string& text) override { m_titles.push_back(text); }

  void holdBothButtons() {
    mouseDown(0);
    mouseDown(1);
  }
  void setMode(int mode) { m_orbitMode = mode; }

  std::vector<std::string> m_titles;
  int m_glLocks = 0;
};

std::vector<float> viewOf(const OGLDisplayBase& display) {
  return std::vector<float>(display.viewMatrix(), display.viewMatrix() + 16);
}

std::vector<EventRecord> drainEvents() {
  std::vector<EventRecord> records;
  while (EventRecord* record = popEvent()) {
    records.push_back(*record);
    delete record;
  }
  return records;
}

std::string keyName(unsigned long keySym) {
  std::string name;
  return virtualKeyName(platform::keyCodeFromKeySym(keySym), name) ? name : std::string("<none>");
}

}  // namespace

TEST(OrbitCamera, MiddleButtonCyclesTheFiveModesWithTheirTitles) {
  CameraOnlyDisplay display;
  for (int i = 0; i < 5; ++i) {
    display.mouseDown(2);
    display.mouseUp(2);
  }
  EXPECT_EQ(display.m_titles,
            (std::vector<std::string>{"ROTATE_Z", "ROTATE_CAMERA", "ZOOM", "PAN", "ROTATE"}));
  EXPECT_EQ(display.orbitMode(), OGLDisplayBase::ROTATE);
}

TEST(OrbitCamera, MovesOnlyWithBothButtonsAndIgnoresJumps) {
  CameraOnlyDisplay display;
  display.setMode(OGLDisplayBase::PAN);
  const std::vector<float> start = viewOf(display);

  display.mouseDown(0);  // one button is not enough
  display.mouseMove(100, 100);
  display.mouseMove(105, 100);
  EXPECT_EQ(viewOf(display), start);

  display.mouseDown(1);
  display.mouseMove(117, 100);  // 12 px: a jump, only the position is kept
  EXPECT_EQ(viewOf(display), start);
  display.mouseMove(117, 110);  // 10 px is still a jump
  EXPECT_EQ(viewOf(display), start);

  // From the stored (117, 110): 5 px right pans the eye 0.005 to the left.
  display.mouseMove(122, 110);
  const float* frame = display.cameraFrame();
  EXPECT_NEAR(frame[12], -0.005f, 1e-6f);
  EXPECT_NEAR(display.viewMatrix()[12], 0.005f, 1e-6f);

  display.mouseUp(1);
  display.mouseMove(125, 110);
  EXPECT_NEAR(frame[12], -0.005f, 1e-6f);
}

TEST(OrbitCamera, ZoomRollAndRotateMoveTheFrameAsExpected) {
  CameraOnlyDisplay zoom;
  zoom.setMode(OGLDisplayBase::ZOOM);
  zoom.holdBothButtons();
  zoom.mouseMove(50, 50);
  zoom.mouseMove(50, 54);  // 4 px down: along forward by 0.004 x speed
  EXPECT_NEAR(zoom.cameraFrame()[14], 0.004f, 1e-6f);
  EXPECT_NEAR(zoom.viewMatrix()[14], -0.004f, 1e-6f);

  CameraOnlyDisplay roll;
  roll.setMode(OGLDisplayBase::ROTATE_Z);
  roll.holdBothButtons();
  roll.mouseMove(100, 0);
  roll.mouseMove(100, 5);  // counter-clockwise about the viewing axis by 10 x the angle
  const float angle = 10.0f * std::atan2(5.0f, 100.0f);
  EXPECT_NEAR(roll.cameraFrame()[0], std::cos(angle), 1e-4f);
  EXPECT_NEAR(roll.cameraFrame()[1], std::sin(angle), 1e-4f);
  EXPECT_NEAR(roll.cameraFrame()[10], 1.0f, 1e-6f);

  CameraOnlyDisplay straight;
  straight.setMode(OGLDisplayBase::ROTATE_Z);
  straight.holdBothButtons();
  straight.mouseMove(4, 2);
  straight.mouseMove(8, 4);  // same direction from the client origin: no roll
  EXPECT_EQ(straight.cameraFrame()[0], 1.0f);

  CameraOnlyDisplay rotate;
  rotate.holdBothButtons();
  rotate.mouseMove(0, 0);
  for (int i = 1; i <= 20; ++i) rotate.mouseMove(5 * i, 3 * i);
  const float* f = rotate.cameraFrame();
  // Still a rotation: unit axes at right angles.
  for (int a = 0; a < 3; ++a) {
    for (int b = 0; b < 3; ++b) {
      float d = 0;
      for (int i = 0; i < 3; ++i) d += f[4 * a + i] * f[4 * b + i];
      EXPECT_NEAR(d, a == b ? 1.0f : 0.0f, 1e-4f) << a << "," << b;
    }
  }
  EXPECT_LT(f[10], 0.999f);  // and it did turn
}

TEST(DesktopDisplay, SizeMessagesNeedBothSidesAndTakeTheGLLock) {
  CameraOnlyDisplay base;
  base.resize(800, 600);
  EXPECT_EQ(base.m_glLocks, 1);
  EXPECT_EQ(base.width(), 800);

  OGLDisplay display;  // no window: only the message handling runs
  platform::WindowMessage size;
  size.kind = platform::WindowMessage::Size;
  size.x = 0;
  size.y = 300;
  display.handleMessage(size);
  EXPECT_EQ(display.width(), 64);
  EXPECT_EQ(display.height(), 64);
  size.x = 640;
  size.y = 480;
  display.handleMessage(size);
  EXPECT_EQ(display.width(), 640);
  EXPECT_EQ(display.height(), 480);
  EXPECT_TRUE(display.isWindowOpen() == false);
}

TEST(DesktopDisplay, KeysPostEventsNamedByTheirFirstCharacter) {
  clearEvents();
  OGLDisplay display;
  platform::WindowMessage key;
  key.kind = platform::WindowMessage::KeyDown;
  key.keyCode = 65;  // A
  display.handleMessage(key);
  key.kind = platform::WindowMessage::KeyUp;
  key.keyCode = 116;  // F5
  display.handleMessage(key);
  key.keyCode = 96;  // numpad 0 has no name
  display.handleMessage(key);
  key.kind = platform::WindowMessage::KeyDown;
  key.keyCode = 219;
  display.handleMessage(key);

  const std::vector<EventRecord> records = drainEvents();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].m_type, 12);
  EXPECT_EQ(records[0].m_id, 65);
  EXPECT_EQ(records[1].m_type, 13);
  EXPECT_EQ(records[1].m_id, 'F');
  EXPECT_EQ(records[2].m_id, '[');
  for (const EventRecord& record : records) {
    EXPECT_TRUE(record.m_name.empty());
    EXPECT_TRUE(record.m_values.empty());
  }
}

TEST(KeyNames, WindowKeySymbolsMapToCodesAndNames) {
  // Letters name the same key whatever the case; lower-case symbols must not land in the
  // numpad range, which names keys by lower-case characters.
  EXPECT_EQ(keyName(0x061 /* a */), "A");
  EXPECT_EQ(keyName(0x07a /* z */), "Z");
  EXPECT_EQ(keyName(0x041 /* A */), "A");
  EXPECT_EQ(keyName(0x037 /* 7 */), "7");
  EXPECT_EQ(keyName(0xffb1 /* KP_1 */), "a");
  EXPECT_EQ(keyName(0xffaf /* KP_Divide */), "o");
  EXPECT_EQ(keyName(0xffb0 /* KP_0 */), "<none>");
  EXPECT_EQ(keyName(0xffbe /* F1 */), "F1");
  EXPECT_EQ(keyName(0xffd5 /* F24 */), "F24");
  EXPECT_EQ(keyName(0xff1b /* Escape */), "ESC");
  EXPECT_EQ(keyName(0xff0d /* Return */), "RET");
  EXPECT_EQ(keyName(0xffe1 /* Shift_L */), "SFT");
  EXPECT_EQ(keyName(0xffe4 /* Control_R */), "CTR");
  EXPECT_EQ(keyName(0xff51 /* Left */), "LEF");
  EXPECT_EQ(keyName(0xff55 /* Prior */), "PGU");
  EXPECT_EQ(keyName(0xffff /* Delete */), "DEL");
  EXPECT_EQ(keyName(0x03d /* equal */), "+");
  EXPECT_EQ(keyName(0x02d /* minus */), "-");
  EXPECT_EQ(keyName(0x05d /* bracketright */), "]}");
  EXPECT_EQ(keyName(0x03b /* semicolon */), "<none>");
  EXPECT_EQ(keyName(0xff61 /* Print */), "<none>");

  std::string name;
  EXPECT_FALSE(virtualKeyName(0, name));
  EXPECT_FALSE(virtualKeyName(136, name));
  EXPECT_TRUE(virtualKeyName(38, name));
  EXPECT_EQ(name, "UP");
}
