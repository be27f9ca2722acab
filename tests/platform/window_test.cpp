#include "platform/window.h"

#include <GL/gl.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/system.h"

namespace {

// Runs the window on a thread of its own, as the program does, and records its messages.
struct WindowThread {
  platform::NativeWindow window;
  platform::AutoResetEvent painted;
  platform::AutoResetEvent closed;
  std::mutex mutex;
  std::vector<platform::WindowMessage::Kind> kinds;
  bool opened = false;
  std::thread thread;

  void start(int width, int height) {
    thread = std::thread([this, width, height] {
      opened = window.open(10, 20, width, height, "tresslet");
      if (!opened) {
        painted.set();
        return;
      }
      window.runMessageLoop([this](const platform::WindowMessage& message) {
        {
          std::lock_guard<std::mutex> lock(mutex);
          kinds.push_back(message.kind);
        }
        if (message.kind == platform::WindowMessage::Paint) painted.set();
        if (message.kind == platform::WindowMessage::Close) closed.set();
      });
      window.destroy();
    });
  }
};

}  // namespace

TEST(DesktopWindowGL, OpensWithA45CoreContextAndClosesThroughItsCloseMessage) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  WindowThread windowThread;
  windowThread.start(320, 240);
  ASSERT_TRUE(windowThread.painted.waitFor(10000));
  ASSERT_TRUE(windowThread.opened);
  EXPECT_TRUE(windowThread.window.isOpen());
  int width = 0, height = 0;
  windowThread.window.clientSize(width, height);
  EXPECT_EQ(width, 320);
  EXPECT_EQ(height, 240);

  // The context lives on a thread of its own so this test leaves the calling thread's
  // context (other GL tests) alone.
  std::string version;
  std::string printed;
  bool created = false;
  bool swapped = false;
  std::thread([&] {
    platform::GLContext context;
    testing::internal::CaptureStdout();
    created = context.create(windowThread.window);
    printed = testing::internal::GetCapturedStdout();
    if (!created) return;
    const GLubyte* text = glGetString(GL_VERSION);
    version = text ? reinterpret_cast<const char*>(text) : "";
    glClearColor(0.2f, 0.3f, 0.4f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    context.swapBuffers();
    swapped = glGetError() == GL_NO_ERROR;
    context.release();
    context.destroy();
    EXPECT_FALSE(context.exists());
  }).join();
  ASSERT_TRUE(created) << printed;
  EXPECT_EQ(version.rfind("4.5", 0), 0u) << version;
  EXPECT_NE(version.find("Core Profile"), std::string::npos) << version;
  EXPECT_NE(printed.find("GL_VERSION=" + version + "\n"), std::string::npos) << printed;
  EXPECT_TRUE(swapped);

  // A close is only a message: the window stays until the loop is told to quit.
  windowThread.window.setTitle("ROTATE");
  windowThread.window.postClose();
  ASSERT_TRUE(windowThread.closed.waitFor(10000));
  EXPECT_TRUE(windowThread.window.isOpen());
  windowThread.window.postQuit();
  windowThread.thread.join();
  EXPECT_FALSE(windowThread.window.isOpen());
}

TEST(DesktopWindowGL, ContextNeedsAnOpenWindow) {
  platform::NativeWindow never;
  platform::GLContext context;
  EXPECT_FALSE(context.create(never));
  EXPECT_FALSE(context.exists());
  EXPECT_FALSE(context.makeCurrent());
}
