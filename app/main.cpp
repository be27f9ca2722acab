#include <GL/glew.h>

#include <cstdio>
#include <cstdlib>

#include "app/application.h"
#include "app/ogl_display.h"
#include "app/openvr.h"
#include "core/events.h"
#include "core/settings.h"
#include "platform/output.h"
#include "platform/system.h"
#include "platform/vr_runtime.h"
#include "platform/window.h"

namespace {

// One frame: the window lock keeps the window (and so the context's drawable) alive, the GL
// lock keeps the client size still while the frame reads it.
void runFrame(OGLDisplay& display, OpenVR& openVR) {
  display.lockWindow();
  display.lockGL();
  display.makeCurrent();
  openVR.renderFrame();
  openVR.handleInput();
  vr::onDesktopFrame(display.width(), display.height());
  display.swapBuffers();
  display.unlockGL();
  display.unlockWindow();
}

}  // namespace

int main() {
  // First: a write to a pipe whose reader is gone (the output relay's helper included) fails
  // instead of ending the run.
  platform::ignoreWriteSignals();
  // Before any thread starts (the relay forks its helper): no line may ever hold the thread that
  // prints it, and the last lines of a crash still reach the output.
  platform::startOutputRelay();
  // Before anything else touches the window system: the window thread and the main thread
  // each use it.
  platform::initWindowSystem();
  // Before any thread starts, so that every thread inherits the blocked end signals.
  platform::startEndSignalThread();
  platform::openConsole();

  loadParameters();
  removeStaleTemporaries();

  OGLDisplaySettings settings;
  settings.x = 30;
  settings.y = 15;
  settings.width = g_parameters.window_width();
  settings.height = g_parameters.window_height();
  settings.fieldOfView = 90.0f;
  settings.nearPlane = 1.0f;
  settings.farPlane = 1000.0f;
  settings.title = "tresslet";
  settings.flag = false;
  settings.panSpeed = 1.0f;
  settings.zoomSpeed = 100.0f;
  settings.rotateSpeed = 1.0f;
  settings.rollSpeed = 1.0f;

  OGLDisplay* display = new OGLDisplay();
  // Without a window or its context nothing can start; the reason is already printed, and the
  // caller learns of it from the exit status.
  const bool started = display->open(settings) && display->hasContext();
  // A window thread stuck in a window system that stopped answering still uses the display, and
  // what static destructors would free: the process ends without them.
  if (display->windowThreadAbandoned()) platform::endProcess(1);

  // GLEW resolves the core profile's entry points only when told to try them all.
  glewExperimental = GL_TRUE;
  const GLenum glewError = started ? glewInit() : GLEW_OK;
  bool saved = true;
  if (started && glewError != GLEW_OK) {
    std::printf("%s - Error initializing GLEW! %s\n", "main",
                reinterpret_cast<const char*>(glewGetErrorString(glewError)));
  } else if (started) {
    // glewInit may leave GL_INVALID_ENUM behind from its extension query.
    glGetError();

    // The managers are made and taken down under the window lock, so that a thread that finds the
    // display lost (and saves under that lock) never meets them half made.
    display->lockWindow();
    initApplication();
    // From now on there is a session to save: these signals close it as the window's close does.
    // Before, they end the process at once, which loses nothing and keeps a stalled start
    // interruptible.
    platform::catchEndSignals();

    OpenVR* openVR = new OpenVR();
    // The visible flag records whether the VR start-up succeeded; a new object starts visible.
    const bool vrStarted = openVR->init();
    openVR->setVisible(vrStarted);
    if (vrStarted) {
      g_openVR = openVR;
      openVR->resetControllerAssignment();
    } else {
      std::printf("openVR context initialization fail. /n");
      // No frame runs, so there is nothing to save: a signal now just ends the run.
      platform::noteCloseFinished(0);
    }
    display->unlockWindow();

    if (openVR->isVisible()) {
      while (display->isWindowOpen()) {
        runFrame(*display, *openVR);
        platform::noteFrameFinished();
        if (vr::closeRequested() || platform::endSignal()) {
          // A replayed session or a signal closes the window as a user would: this frame was
          // the last.
          display->postClose();
          break;
        }
        platform::sleepMilliseconds(0);
      }
    }

    // The context stays current through the shutdown: the managers free GL objects.
    display->lockWindow();
    display->makeCurrent();
    // A close whose painting was not saved is a failure the caller can see.
    if (openVR->isVisible() && !shutdownApplication()) saved = false;
    platform::noteProgress();
    openVR->shutdown();
    g_openVR = nullptr;
    delete openVR;
    display->unlockWindow();
  }

  // Only now may the window go: the context is released before the window thread destroys it.
  display->releaseContext();
  display->postQuit();
  display->waitForExit();
  delete display;
  // Without frames nobody drained the queue: the start-up's head event (and any key) is left.
  clearEvents();
  // The output gets a moment for what is left, then the run ends whatever it does.
  platform::drainOutput(platform::kEndOutputMs);
  return started && saved ? 0 : 1;
}
