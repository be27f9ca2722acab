#pragma once
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

#include "app/application.h"
#include "app/openvr.h"
#include "core/events.h"
#include "core/settings.h"
#include "render/framebuffer.h"
#include "render/texture.h"
#include "support/asset_root.h"
#include "support/gl_context.h"
#include "ui/panel.h"
#include "ui/uivr.h"
#include "ui/widget.h"

// A GL context, a throw-away root and the simulated headset replaying a trace, driven frame by
// frame as the program's frame loop drives it: each pass renders, then handles input. The desktop
// view goes to a target of the test's own: the shared test context's pbuffer cannot take drawing
// under Xvfb. Run under xvfb-run -a.
class HeadsetTraceGL : public AssetRootTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ensureTestGLContext()) << "run GL tests under xvfb-run -a";
    AssetRootTest::SetUp();
    ASSERT_TRUE(m_desktop.init(32, 32, 1));
    m_vr.setDesktopFramebuffer(m_desktop.m_framebuffer);
  }
  void TearDown() override {
    m_vr.shutdown();
    unsetenv("TRESSLET_VR_TRACE");
    clearEvents();
    drainGLErrors();
    AssetRootTest::TearDown();
  }

  // Starts the headset on `trace` (none: the variable unset); what it printed is m_output.
  bool startHeadset(const char* trace) {
    unsetenv("TRESSLET_VR_TRACE");
    if (trace) {
      writeFile("run/test.trace", trace);
      setenv("TRESSLET_VR_TRACE", rootPath("run/test.trace").c_str(), 1);
    }
    testing::internal::CaptureStdout();
    const bool ok = m_vr.init();
    m_output = testing::internal::GetCapturedStdout();
    if (ok) m_vr.resetControllerAssignment();
    m_pass = 0;
    return ok;
  }
  // Runs passes until `frame` has been published and its input handled; adds what they printed
  // to m_output.
  void runThrough(int frame) {
    testing::internal::CaptureStdout();
    for (; m_pass <= frame; ++m_pass) {
      m_vr.renderFrame();
      m_vr.handleInput();
    }
    m_output += testing::internal::GetCapturedStdout();
  }

  FramebufferDesc m_desktop;
  OpenVR m_vr;
  std::string m_output;
  int m_pass = 0;
};

// The shipped assets started as the program starts them, then driven by a trace.
class AppTraceGL : public HeadsetTraceGL {
 protected:
  void SetUp() override {
    HeadsetTraceGL::SetUp();
    if (HasFatalFailure()) return;
    copyShippedAssets();
    // Eye images without multisampling: the same picture, far fewer fragments to shade.
    std::string settings = readFile("parameters.txt");
    settings.replace(settings.find("multisample_size: 12"), 20, "multisample_size: 1");
    writeFile("parameters.txt", settings);
  }
  void TearDown() override {
    if (m_vr.isRunning()) stop();  // a test that stopped half way
    HeadsetTraceGL::TearDown();
  }

  // Starts the application, lets `prepare` post records or look at what start-up built, then
  // starts the headset on the trace that `trace` returns.
  void start(const std::function<void()>& prepare, const std::function<std::string()>& trace) {
    g_parameters.Clear();
    g_autosaves.Clear();
    g_defaultLightCurve.Clear();
    testing::internal::CaptureStdout();
    loadParameters();
    initApplication();
    if (prepare) prepare();
    const std::string startUp = testing::internal::GetCapturedStdout();
    const bool started = startHeadset(trace().c_str());
    m_output = startUp + m_output;
    ASSERT_TRUE(started) << m_output;
  }
  // As start(), with the menu's choice of hair texture 1 and the mirror shown.
  void startMirrored(const std::string& trace) {
    startMirrored(std::function<std::string()>([&] { return trace; }));
  }
  // As startMirrored(), with the trace written once start-up has built the menu.
  void startMirrored(const std::function<std::string()>& trace) {
    start(
        [] {
          postEvent(new EventRecord(1, 1));
          postEvent(new EventRecord(4, 10, std::string(), {1.0f}));
        },
        trace);
  }
  void stop() {
    testing::internal::CaptureStdout();
    shutdownApplication();
    m_vr.shutdown();
    testing::internal::GetCapturedStdout();
    delete g_textureManager;
    g_textureManager = nullptr;
  }
};

// Appends keyframe f with its lines (what starts with " lerp" or a line break).
inline void traceFrame(std::string& trace, int f, const std::string& what) {
  trace += "@" + std::to_string(f) + what;
}

// Headset and two controllers, then three strokes drawn by the drawing hand down the right side
// of the head, pressed (or only moved) over frames 4 to 38; the twins go to the left while the
// mirror is shown. Eye images of `size` pixels square.
inline std::string threeStrokeTrace(bool pressing, int size = 128) {
  const std::string side = std::to_string(size);
  std::string trace =
      "render_size " + side + " " + side + "\nframe_ms 11\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
      "pose 0 pos 0.1 1.0 0.45 rot 15 0 0\npose 1 pos 0.25 0.85 0.35 rot 20 -10 0\n"
      "pose 2 pos -0.25 0.85 0.35 rot -20 -30 0\n";
  const char* const tops[] = {"0.16 1.08 0.12", "0.19 1.08 0.06", "0.19 1.06 0.0"};
  const char* const bottoms[] = {"0.17 0.88 0.10", "0.20 0.88 0.04", "0.20 0.86 -0.02"};
  for (int k = 0; k < 3; ++k) {
    const int f = 3 + 12 * k;
    traceFrame(trace, f, std::string(" lerp\npose 1 pos ") + tops[k] + " rot 20 -10 0\n");
    if (pressing) traceFrame(trace, f + 1, "\ntrigger 1 down\n");
    traceFrame(trace, f + 7, std::string(" lerp\npose 1 pos ") + bottoms[k] + " rot 20 -25 0\n");
    if (pressing) traceFrame(trace, f + 8, "\ntrigger 1 up\n");
  }
  return trace;
}

// The menu hand held still, turned 35 degrees towards the user, and where the drawing hand rests
// low on the right, as the menu-driving traces pose them.
const Vec3f kMenuHand(-0.30f, 0.60f, 0.30f), kRestHand(0.22f, 0.72f, 0.38f);
constexpr float kMenuYaw = 35.0f, kRadToDeg = 57.2957795f;

// The middle of the named widget of the menu that start-up built, in the menu hand's frame.
// The origin, with a failure, when there is no such widget.
inline Vec3f widgetMiddle(const char* name) {
  const UIWidget* w = g_uivr && g_uivr->m_panel ? g_uivr->m_panel->m_root->findByName(name) : nullptr;
  EXPECT_NE(w, nullptr) << name;
  if (!w) return Vec3f();
  Matrix4 m = w->m_transform;
  for (const UIWidget* up = w->m_owner; up; up = up->m_owner) {
    Matrix4 next;
    multiplyMatrix4(up->m_transform, next, m);
    m = next;
  }
  return transformPoint(m, Vec3f(0.5f, 0.5f, 0.0f));
}

// The yaw and pitch (degrees) that turn the drawing hand at its rest towards the middle of the
// named widget of the menu that start-up built. Zeros, with a failure, when there is no such
// widget.
inline std::pair<float, float> aimAtWidget(const char* name) {
  const float a = kMenuYaw / kRadToDeg;
  const Vec3f local = widgetMiddle(name);
  const Vec3f target(kMenuHand[0] + std::cos(a) * local[0] + std::sin(a) * local[2], kMenuHand[1] + local[1],
                     kMenuHand[2] - std::sin(a) * local[0] + std::cos(a) * local[2]);
  const Vec3f d = normalized(target - kRestHand);
  return {std::atan2(-d[0], -d[2]) * kRadToDeg, std::asin(d[1]) * kRadToDeg};
}

// A trace written frame by frame: aims at the menu's widgets (taken from the menu that start-up
// built), trigger clicks held steady around their edges, swipes and strokes.
class Script {
 public:
  // Headset and both hands at rest, eye images of `size` pixels square, `frameMs` apart.
  explicit Script(int size = 96, int frameMs = 11) {
    const std::string side = std::to_string(size);
    m_text = "render_size " + side + " " + side + "\nframe_ms " + std::to_string(frameMs) +
             "\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
             "pose 0 pos 0 1.0 0.6 rot 0 -8 0\n" + pose(1, kRestHand, 20, -10) + pose(2, kMenuHand, kMenuYaw, 0);
  }
  // Turns the drawing hand at its rest towards the middle of the named widget over 6 frames.
  Script& aim(const char* name) {
    const std::pair<float, float> angles = aimAtWidget(name);
    return moveTo(kRestHand, angles.first, angles.second);
  }
  Script& moveTo(const Vec3f& position, float yaw, float pitch, int frames = 6) {
    m_frame += frames;
    m_text += "@" + std::to_string(m_frame) + " lerp\n" + pose(1, position, yaw, pitch);
    return *this;
  }
  // Trigger down after 4 still frames, up 4 frames later, 4 more before anything moves.
  Script& click(int device = 1) {
    at(4, "trigger " + std::to_string(device) + " down\n");
    return at(4, "trigger " + std::to_string(device) + " up\n").at(4, "");
  }
  Script& press(int device = 1) { return at(4, "trigger " + std::to_string(device) + " down\n"); }
  Script& release(int device = 1) { return at(4, "trigger " + std::to_string(device) + " up\n").at(4, ""); }
  // A swipe on the drawing hand's pad: touched, held for the start, moved by (dx, dy), lifted.
  Script& swipe(float dx, float dy) {
    at(2, "touch 1\naxis 1 0 0\n").at(5, "");
    char line[64];
    std::snprintf(line, sizeof line, "axis 1 %g %g\n", dx, dy);
    m_frame += 4;
    m_text += "@" + std::to_string(m_frame) + " lerp\n" + line;
    return at(2, "untouch 1\n");
  }
  // One stroke down in front of the right cheek, x metres further right.
  Script& stroke(float x) {
    moveTo(Vec3f(0.09f + x, 1.14f, 0.19f), 0, -30, 8);
    press();
    moveTo(Vec3f(0.11f + x, 0.92f, 0.20f), 0, -30, 16);
    return release();
  }
  Script& at(int after, const std::string& lines) {
    m_frame += after;
    m_text += "@" + std::to_string(m_frame) + "\n" + lines;
    return *this;
  }
  int frame() const { return m_frame; }
  const std::string& text() const { return m_text; }

  // The trace line placing a device at p, turned by yaw and pitch (degrees).
  static std::string pose(int device, const Vec3f& p, float yaw, float pitch) {
    char line[128];
    std::snprintf(line, sizeof line, "pose %d pos %g %g %g rot %g %g 0\n", device, p[0], p[1], p[2], yaw, pitch);
    return line;
  }

 private:
  std::string m_text;
  int m_frame = 0;
};
