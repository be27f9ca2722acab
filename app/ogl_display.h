#pragma once
#include <atomic>
#include <climits>
#include <string>
#include <thread>

#include "platform/system.h"
#include "platform/window.h"

// What the desktop display is opened with. Speeds scale the orbit camera's pan, zoom, rotation
// and roll.
struct OGLDisplaySettings {
  int x = 0;
  int y = 0;
  int width = 64;
  int height = 64;
  float fieldOfView = 45.0f;  // degrees
  float nearPlane = 0.01f;
  float farPlane = 100.0f;
  std::string title;
  bool flag = false;  // carried along; nothing reads it
  float panSpeed = 1.0f;
  float zoomSpeed = 1.0f;
  float rotateSpeed = 1.0f;
  float rollSpeed = 1.0f;
};

// Key code (as the window reports it) to its short name; false for a code without one.
bool virtualKeyName(int keyCode, std::string& name);

// The desktop display without its window system: the mouse-driven orbit camera and the key
// hooks. Its input operations run on the window thread.
class OGLDisplayBase {
 public:
  // Orbit modes, stepped by the middle button in the order 0, 1, 2, 4, 3.
  enum OrbitMode { ROTATE = 0, ROTATE_Z = 1, ROTATE_CAMERA = 2, PAN = 3, ZOOM = 4 };

  OGLDisplayBase();
  virtual ~OGLDisplayBase() = default;
  OGLDisplayBase(const OGLDisplayBase&) = delete;
  OGLDisplayBase& operator=(const OGLDisplayBase&) = delete;

  // Copies the settings, takes their size and creates the window and its context.
  virtual bool open(const OGLDisplaySettings& settings);
  virtual void close() = 0;
  virtual void waitForExit() = 0;
  virtual bool create(int x, int y, int width, int height, const std::string& title) = 0;
  virtual void lockWindow() = 0;
  virtual void unlockWindow() = 0;
  virtual void lockGL() = 0;
  virtual void unlockGL() = 0;
  virtual void makeCurrent() = 0;
  virtual void setTitle(const std::string& text) = 0;

  virtual void mouseDown(int button);
  virtual void mouseUp(int button);
  virtual void mouseMove(int x, int y);
  virtual void keyDown(const std::string& name, bool shift, bool control, bool alt);
  virtual void keyUp(const std::string& name, bool shift, bool control, bool alt);
  // Stores the new client size under the GL lock and marks the viewport for an update.
  virtual void resize(int width, int height);

  const OGLDisplaySettings& settings() const { return m_settings; }
  // Client size; read it under the GL lock while the window thread runs.
  int width() const { return m_width; }
  int height() const { return m_height; }
  int orbitMode() const { return m_orbitMode; }
  // Column-major 4x4: columns right, up, forward and eye position.
  const float* cameraFrame() const { return m_cameraFrame; }
  // Column-major 4x4 view matrix derived from the camera frame.
  const float* viewMatrix() const { return m_viewMatrix; }

 protected:
  void updateViewMatrix();
  // Rotates the camera frame by angle (radians) about the axis through centre; an axis shorter
  // than 1e-5 leaves it unchanged.
  void rotateFrame(const float axis[3], float angle, const float centre[3]);

  OGLDisplaySettings m_settings;
  int m_width = 64;
  int m_height = 64;
  bool m_viewportDirty = true;
  float m_cameraFrame[16];
  float m_viewMatrix[16];
  float m_pivot[3] = {0.0f, 0.0f, 0.0f};
  int m_orbitMode = ROTATE;
  bool m_leftDown = false;
  bool m_rightDown = false;
  bool m_middleDown = false;
  int m_lastX = INT_MAX;
  int m_lastY = INT_MAX;
};

// The display's window on its own thread, with the GL context on the main thread and the two
// locks: the main thread holds the window lock for a whole frame, the window thread takes it
// only to tear the window down; the GL lock guards the client size.
// When the connection to the window system is lost, the thread that holds the window lock (or
// takes it first) ends the process through endOnLostDisplay; any other thread that finds the
// loss waits for the lock until the process has ended.
class WGLDisplay : public OGLDisplayBase {
 public:
  WGLDisplay() = default;
  // Releases a context still held, then ends the window thread. Must not run once the window
  // thread has been abandoned.
  ~WGLDisplay() override;

  // Posts the quit message, then waits for the window thread.
  void close() override;
  // Waits until the window thread has torn the window down (or has ended without a window).
  void waitForExit() override;
  // Starts the window thread, waits for the first paint as long as the thread runs and the window
  // system answers (once the window shows, a few seconds at most), then makes the GL context
  // current on the calling thread. False, with the reason printed, when there is no window or no
  // context.
  bool create(int x, int y, int width, int height, const std::string& title) override;
  // Once the display is lost, the thread that takes the window lock ends the process instead.
  void lockWindow() override;
  void unlockWindow() override;
  void lockGL() override { m_glMutex.lock(); }
  void unlockGL() override { m_glMutex.unlock(); }
  void makeCurrent() override;
  void setTitle(const std::string& text) override;

  // The window procedure: one message from the window thread.
  void handleMessage(const platform::WindowMessage& message);

  // True while the window exists and nobody has asked to close it.
  bool isWindowOpen() const { return m_window.isOpen() && !m_closeRequested.load(); }
  bool hasContext() const { return m_context.exists(); }
  void swapBuffers() { m_context.swapBuffers(); }
  // Closes the window the way its close button does; the frame loop then ends.
  void postClose() { m_window.postClose(); }
  void postQuit() { m_window.postQuit(); }
  // Leaves no context current and deletes it, while the window still exists.
  void releaseContext() { m_context.destroy(); }
  // True when create gave up on a window thread stuck in a window system that stopped
  // answering: the thread still uses this display, which must then never be destroyed.
  bool windowThreadAbandoned() const { return m_threadAbandoned; }

 protected:
  // Runs once, on the thread holding the window lock, when the display is lost; the process
  // ends when it returns.
  virtual void endOnLostDisplay();

 private:
  void displayWindowThread();
  // True when the window thread has ended within limitMs (and has been joined).
  bool waitForWindowThread(uint32_t limitMs);
  [[noreturn]] void onDisplayLost();

  platform::AutoResetEvent m_event;
  platform::Mutex m_glMutex;
  platform::Mutex m_windowMutex;
  platform::NativeWindow m_window;
  platform::GLContext m_context;
  platform::Thread m_thread;
  std::string m_title;
  int m_x = 0;
  int m_y = 0;
  bool m_firstPaint = false;  // window thread only
  std::atomic<bool> m_closeRequested{false};
  std::atomic<std::thread::id> m_windowOwner{};  // the thread holding the window lock
  bool m_threadAbandoned = false;
};

// The application's display: desktop keys become events of type 12 (down) and 13 (up) whose id
// is the first character of the key's name.
class OGLDisplay : public WGLDisplay {
 public:
  void keyDown(const std::string& name, bool shift, bool control, bool alt) override;
  void keyUp(const std::string& name, bool shift, bool control, bool alt) override;

 protected:
  // Saves the session and says what was saved.
  void endOnLostDisplay() override;
};
