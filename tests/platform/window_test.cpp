#include "platform/window.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"

TEST(DesktopWindowGL, OpensWithA45CoreContextAndClosesThroughItsCloseMessage) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  // The window runs its loop on a thread of its own, as in the program.
  platform::NativeWindow window;
  platform::AutoResetEvent painted, closed;
  bool opened = false;
  std::thread windowThread([&] {
    if (!(opened = window.open(10, 20, 320, 240, "tresslet"))) return painted.set();
    window.runMessageLoop([&](const platform::WindowMessage& message) {
      if (message.kind == platform::WindowMessage::Paint) painted.set();
      if (message.kind == platform::WindowMessage::Close) closed.set();
    });
    window.destroy();
  });
  ASSERT_TRUE(painted.waitFor(10000));
  ASSERT_TRUE(opened);
  int width = 0, height = 0;
  window.clientSize(width, height);
  EXPECT_EQ((std::vector<int>{width, height}), (std::vector<int>{320, 240}));

  // The context lives on a thread of its own so the calling thread's context (other GL tests)
  // is left alone.
  std::string version, printed;
  bool created = false, swapped = false;
  std::thread([&] {
    platform::GLContext context;
    testing::internal::CaptureStdout();
    created = context.create(window);
    printed = testing::internal::GetCapturedStdout();
    if (!created) return;
    if (const GLubyte* text = glGetString(GL_VERSION)) version = reinterpret_cast<const char*>(text);
    glClear(GL_COLOR_BUFFER_BIT);
    context.swapBuffers();
    swapped = glGetError() == GL_NO_ERROR;
    context.release();
    context.destroy();
  }).join();
  ASSERT_TRUE(created) << printed;
  EXPECT_EQ(version.rfind("4.5", 0), 0u) << version;
  EXPECT_NE(version.find("Core Profile"), std::string::npos) << version;
  EXPECT_NE(printed.find("GL_VERSION=" + version + "\n"), std::string::npos) << printed;
  EXPECT_TRUE(swapped);

  // A close is only a message: the window stays until the loop is told to quit.
  window.setTitle("ROTATE");
  window.postClose();
  ASSERT_TRUE(closed.waitFor(10000));
  EXPECT_TRUE(window.isOpen());
  window.postQuit();
  windowThread.join();
  EXPECT_FALSE(window.isOpen());
}

TEST(DesktopWindowGL, ContextNeedsAnOpenWindow) {
  platform::NativeWindow never;
  platform::GLContext context;
  EXPECT_FALSE(context.create(never));
  EXPECT_FALSE(context.exists());
  EXPECT_FALSE(context.makeCurrent());
}

TEST(DesktopWindowGL, ASizeTheServerRefusesFailsTheOpen) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  // X keeps 16 bits of a size: 65536 arrives as 0, which the server refuses in its reply.
  platform::NativeWindow window;
  testing::internal::CaptureStdout();
  EXPECT_FALSE(window.open(0, 0, 65536, 100, "tresslet"));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("Unable to create the desktop window\n"), std::string::npos) << out;
  EXPECT_FALSE(window.isOpen());
}
