#pragma once
#include <functional>
#include <memory>
#include <string>

namespace platform {

// Must come before any other window-system call of the process (it makes the window system
// safe for the window thread and the main thread, each on its own connection); the window and
// context functions below call it themselves. Also installs an error handler that reports
// window-system errors and lets the program carry on, and one for a lost connection (below).
void initWindowSystem();

// A connection to the window system was lost (the server ended or dropped it): `handler` runs on
// each thread that finds the loss, in the window system's call that found it, and must end the
// process without returning; the process cannot go on. Without a handler (or when it returns)
// "the display was lost" is printed once and the process ends with status 1; a second thread
// that finds the loss meanwhile waits for that end. Any thread may set it at any time.
void setDisplayLostHandler(std::function<void()> handler);
// True once a thread has found the connection lost.
bool displayLost();

// The key code the window reports for a window-system key symbol: the desktop key codes the key
// names are written for (letters 65-90 whatever the case, digits 48-57, numpad 96-111,
// F1-F24 112-135, ...). 0 for a symbol without a code.
int keyCodeFromKeySym(unsigned long keySym);

// One message of the window, delivered on the window thread.
struct WindowMessage {
  enum Kind { MouseDown, MouseUp, MouseMove, KeyDown, KeyUp, Size, Paint, Close };
  Kind kind = Paint;
  int button = 0;       // MouseDown/MouseUp: 0 left, 1 right, 2 middle
  int x = 0, y = 0;     // MouseMove: cursor in client pixels; Size: new client width, height
  int keyCode = 0;      // KeyDown/KeyUp, see keyCodeFromKeySym
  bool shift = false, control = false, alt = false;
};

class GLContext;

// The desktop window. open, runMessageLoop and destroy belong to the window thread, which owns
// the window's own connection; postQuit, postClose, setTitle, isOpen and clientSize may be
// called from any thread.
class NativeWindow {
 public:
  using Handler = std::function<void(const WindowMessage&)>;

  NativeWindow();
  ~NativeWindow();
  NativeWindow(const NativeWindow&) = delete;
  NativeWindow& operator=(const NativeWindow&) = delete;

  // Opens the window at (x, y) with a client area of width by height pixels and shows it.
  // Prints the reason and returns false when the window system or the window is unavailable.
  bool open(int x, int y, int width, int height, const std::string& title);
  // Delivers the window's messages to handler until postQuit. A user's close (or postClose)
  // arrives as a Close message; the window stays until destroy.
  void runMessageLoop(const Handler& handler);
  void destroy();

  bool isOpen() const;
  void postQuit();
  // The same close a user makes with the window's close button.
  void postClose();
  // Asks the window thread for a round trip to the window system; pingsAnswered counts those
  // done, so a waiting thread can tell a slow start from a server that no longer answers.
  void ping();
  unsigned pingsAnswered() const;
  // True once the window thread has seen the window mapped: its map notice came, or a ping found
  // it viewable. A window can be shown without its first paint ever coming.
  bool isMapped() const;
  void setTitle(const std::string& title);
  // Last client size the window system reported.
  void clientSize(int& width, int& height) const;

 private:
  friend class GLContext;
  struct State;
  std::unique_ptr<State> m_state;
};

// An OpenGL 4.5 core-profile context for a NativeWindow, created and used on one thread (the
// main thread) over that thread's own connection.
class GLContext {
 public:
  GLContext();
  ~GLContext();
  GLContext(const GLContext&) = delete;
  GLContext& operator=(const GLContext&) = delete;

  // Creates the context and makes it current; prints "GL_VERSION=..." for the first context
  // made and for the final one. False, with the reason printed, when no 4.5 core context results.
  bool create(const NativeWindow& window);
  bool exists() const;
  bool makeCurrent();
  // Leaves no context current on the calling thread.
  void release();
  void swapBuffers();
  // Releases and deletes the context and closes the connection. The window must still exist.
  void destroy();

 private:
  struct State;
  std::unique_ptr<State> m_state;
};

}  // namespace platform
