#include "platform/window.h"

#include <GL/glx.h>
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <mutex>

#include "platform/output.h"
#include "platform/system.h"

#if defined(__SANITIZE_ADDRESS__)
#include <dlfcn.h>
#include <link.h>

#include <cstring>
#include <string>
#include <vector>
#endif

namespace platform {
namespace {

std::once_flag g_windowSystemOnce;

// Errors reported on this thread. Each thread reads only its own connection, and Xlib calls the
// handler on the thread that reads the error, so a thread can tell whether its requests failed.
thread_local unsigned t_xErrors = 0;

int reportXError(Display* display, XErrorEvent* error) {
  ++t_xErrors;
  char text[256] = {0};
  XGetErrorText(display, error->error_code, text, sizeof(text));
  std::printf("X error: %s (request %d.%d)\n", text, error->request_code, error->minor_code);
  return 0;
}

// What ends the process when a connection is lost, set by the program; g_lostMutex guards it.
std::mutex g_lostMutex;
std::function<void()> g_lostHandler;
std::atomic<bool> g_lost{false};
// Taken for good by the thread that ends the process without a handler.
std::mutex g_endingMutex;

// Xlib ends the process itself when this returns, on every thread that finds the loss at once
// (each thread has its own connection): so it never returns.
int onConnectionLost(Display*) {
  // After the close's last word nothing is at stake: its status stands.
  platform::endIfCloseFinished();
  g_lost = true;
  std::function<void()> handler;
  {
    std::lock_guard<std::mutex> lock(g_lostMutex);
    handler = g_lostHandler;
  }
  if (handler) handler();
  g_endingMutex.lock();
  platform::endIfCloseFinished();  // given while this thread waited for the lock
  std::printf("the display was lost\n");
  // No static destructor may run while other threads still use what they free.
  platform::endProcess(1);
}

// Requests from other threads to the window thread.
enum class Posted { Quit, Close, Title, Ping };

struct PostedRequest {
  Posted kind;
  std::string text;
};

// Visual attributes of the window: RGBA with 24 colour bits, 16 depth bits, double-buffered.
const int kFramebufferAttributes[] = {GLX_X_RENDERABLE, True,
                                      GLX_DRAWABLE_TYPE, GLX_WINDOW_BIT,
                                      GLX_RENDER_TYPE, GLX_RGBA_BIT,
                                      GLX_DOUBLEBUFFER, True,
                                      GLX_RED_SIZE, 8,
                                      GLX_GREEN_SIZE, 8,
                                      GLX_BLUE_SIZE, 8,
                                      GLX_DEPTH_SIZE, 16,
                                      None};

WindowMessage keyMessage(const XKeyEvent& event, WindowMessage::Kind kind) {
  XKeyEvent copy = event;
  KeySym symbol = XLookupKeysym(&copy, 0);
  // With num lock on, the keypad's digits and point are the second symbol of their keys.
  if ((event.state & Mod2Mask) != 0) {
    const KeySym second = XLookupKeysym(&copy, 1);
    if ((second >= XK_KP_0 && second <= XK_KP_9) || second == XK_KP_Decimal) symbol = second;
  }
  WindowMessage message;
  message.kind = kind;
  message.keyCode = keyCodeFromKeySym(symbol);
  message.shift = (event.state & ShiftMask) != 0;
  message.control = (event.state & ControlMask) != 0;
  message.alt = (event.state & Mod1Mask) != 0;
  return message;
}

bool buttonIndex(unsigned int xButton, int& button) {
  switch (xButton) {
    case Button1: button = 0; return true;
    case Button3: button = 1; return true;
    case Button2: button = 2; return true;
    default: return false;  // the wheel and extra buttons do nothing
  }
}

#if defined(__SANITIZE_ADDRESS__)
// The GL driver is unloaded when the last display closes, before LeakSanitizer looks: the blocks
// its globals held would look leaked, from frames nobody can name. Loaded for good, they do not.
void keepGLDriverLoaded() {
  std::vector<std::string> drivers;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* found) {
        if (std::strstr(info->dlpi_name, "/dri/"))
          static_cast<std::vector<std::string>*>(found)->push_back(info->dlpi_name);
        return 0;
      },
      &drivers);
  for (const std::string& driver : drivers)
    ::dlopen(driver.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}
#else
void keepGLDriverLoaded() {}
#endif

}  // namespace

void initWindowSystem() {
  std::call_once(g_windowSystemOnce, [] {
    XInitThreads();
    XSetErrorHandler(reportXError);
    XSetIOErrorHandler(onConnectionLost);
  });
}

void setDisplayLostHandler(std::function<void()> handler) {
  std::lock_guard<std::mutex> lock(g_lostMutex);
  g_lostHandler = std::move(handler);
}

bool displayLost() { return g_lost.load(); }

int keyCodeFromKeySym(unsigned long keySym) {
  if (keySym >= XK_a && keySym <= XK_z) return static_cast<int>(keySym - XK_a) + 'A';
  if (keySym >= XK_A && keySym <= XK_Z) return static_cast<int>(keySym - XK_A) + 'A';
  if (keySym >= XK_0 && keySym <= XK_9) return static_cast<int>(keySym - XK_0) + '0';
  if (keySym >= XK_KP_0 && keySym <= XK_KP_9) return static_cast<int>(keySym - XK_KP_0) + 96;
  if (keySym >= XK_F1 && keySym <= XK_F24) return static_cast<int>(keySym - XK_F1) + 112;
  switch (keySym) {
    case XK_BackSpace: return 8;
    case XK_Tab: case XK_ISO_Left_Tab: return 9;
    case XK_Return: case XK_KP_Enter: return 13;
    case XK_Shift_L: case XK_Shift_R: return 16;
    case XK_Control_L: case XK_Control_R: return 17;
    case XK_Alt_L: case XK_Alt_R: case XK_Meta_L: case XK_Meta_R: return 18;
    case XK_Pause: return 19;
    case XK_Caps_Lock: return 20;
    case XK_Escape: return 27;
    case XK_space: return 32;
    case XK_Prior: case XK_KP_Prior: return 33;
    case XK_Next: case XK_KP_Next: return 34;
    case XK_End: case XK_KP_End: return 35;
    case XK_Home: case XK_KP_Home: return 36;
    case XK_Left: case XK_KP_Left: return 37;
    case XK_Up: case XK_KP_Up: return 38;
    case XK_Right: case XK_KP_Right: return 39;
    case XK_Down: case XK_KP_Down: return 40;
    case XK_Insert: case XK_KP_Insert: return 45;
    case XK_Delete: case XK_KP_Delete: return 46;
    case XK_KP_Multiply: return 106;
    case XK_KP_Add: return 107;
    case XK_KP_Separator: return 108;
    case XK_KP_Subtract: return 109;
    case XK_KP_Decimal: return 110;
    case XK_KP_Divide: return 111;
    case XK_semicolon: return 186;
    case XK_equal: case XK_plus: return 187;
    case XK_comma: return 188;
    case XK_minus: return 189;
    case XK_period: return 190;
    case XK_slash: return 191;
    case XK_grave: return 192;
    case XK_bracketleft: return 219;
    case XK_backslash: return 220;
    case XK_bracketright: return 221;
    case XK_apostrophe: return 222;
    default: return 0;
  }
}

struct NativeWindow::State {
  Display* display = nullptr;
  Window window = 0;
  Colormap colormap = 0;
  Atom deleteWindow = 0;
  int fbConfigId = 0;
  std::atomic<bool> open{false};
  std::atomic<int> width{0};
  std::atomic<int> height{0};
  std::atomic<unsigned> pingsAnswered{0};
  std::atomic<bool> mapped{false};

  // Other threads never touch the connection: they queue a request and wake the loop.
  std::mutex postedMutex;
  std::deque<PostedRequest> posted;
  int wakeRead = -1;
  int wakeWrite = -1;

  void post(Posted kind, const std::string& text = std::string()) {
    {
      std::lock_guard<std::mutex> lock(postedMutex);
      posted.push_back({kind, text});
    }
    if (wakeWrite >= 0) {
      const char byte = 1;
      // A full pipe already holds a wake-up, so a failed write loses nothing.
      [[maybe_unused]] const ssize_t written = ::write(wakeWrite, &byte, 1);
    }
  }
};

NativeWindow::NativeWindow() : m_state(new State) {
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
    m_state->wakeRead = fds[0];
    m_state->wakeWrite = fds[1];
  }
}

NativeWindow::~NativeWindow() {
  destroy();
  if (m_state->wakeRead >= 0) ::close(m_state->wakeRead);
  if (m_state->wakeWrite >= 0) ::close(m_state->wakeWrite);
}

bool NativeWindow::open(int x, int y, int width, int height, const std::string& title) {
  initWindowSystem();
  State& s = *m_state;
  if (s.wakeRead < 0) {
    std::printf("Unable to create the window's wake-up pipe\n");
    return false;
  }
  s.display = XOpenDisplay(nullptr);
  if (!s.display) {
    std::printf("Unable to open the X display\n");
    return false;
  }
  const int screen = DefaultScreen(s.display);
  int count = 0;
  GLXFBConfig* configs = glXChooseFBConfig(s.display, screen, kFramebufferAttributes, &count);
  keepGLDriverLoaded();  // the first display's set-up loads it
  XVisualInfo* visual = configs && count > 0 ? glXGetVisualFromFBConfig(s.display, configs[0]) : nullptr;
  if (!visual) {
    std::printf("No double-buffered RGBA visual with a depth buffer for OpenGL\n");
    if (configs) XFree(configs);
    XCloseDisplay(s.display);
    s.display = nullptr;
    return false;
  }
  glXGetFBConfigAttrib(s.display, configs[0], GLX_FBCONFIG_ID, &s.fbConfigId);
  XFree(configs);

  const Window root = RootWindow(s.display, screen);
  s.colormap = XCreateColormap(s.display, root, visual->visual, AllocNone);
  XSetWindowAttributes attributes = {};
  attributes.colormap = s.colormap;
  attributes.border_pixel = 0;
  attributes.event_mask = ExposureMask | StructureNotifyMask | KeyPressMask | KeyReleaseMask |
                          ButtonPressMask | ButtonReleaseMask | PointerMotionMask;
  s.window = XCreateWindow(s.display, root, x, y, static_cast<unsigned>(width),
                           static_cast<unsigned>(height), 0, visual->depth, InputOutput,
                           visual->visual, CWColormap | CWBorderPixel | CWEventMask, &attributes);
  XFree(visual);
  // The server refuses some windows only in its reply (a size it cannot hold): ask for it now,
  // or the window never shows and nothing says why.
  const unsigned errorsBefore = t_xErrors;
  XSync(s.display, False);
  if (!s.window || t_xErrors != errorsBefore) {
    if (s.window) XDestroyWindow(s.display, s.window);
    s.window = 0;
    std::printf("Unable to create the desktop window\n");
    XFreeColormap(s.display, s.colormap);
    s.colormap = 0;
    XCloseDisplay(s.display);
    s.display = nullptr;
    return false;
  }
  XSizeHints hints = {};
  hints.flags = USPosition | USSize;
  hints.x = x;
  hints.y = y;
  hints.width = width;
  hints.height = height;
  XSetWMNormalHints(s.display, s.window, &hints);
  XStoreName(s.display, s.window, title.c_str());
  s.deleteWindow = XInternAtom(s.display, "WM_DELETE_WINDOW", False);
  XSetWMProtocols(s.display, s.window, &s.deleteWindow, 1);
  XMapWindow(s.display, s.window);
  XFlush(s.display);
  s.width = width;
  s.height = height;
  s.open = true;
  return true;
}

void NativeWindow::runMessageLoop(const Handler& handler) {
  State& s = *m_state;
  if (!s.display) return;
  const int xfd = ConnectionNumber(s.display);
  for (;;) {
    while (XPending(s.display) > 0) {
      XEvent event;
      XNextEvent(s.display, &event);
      WindowMessage message;
      switch (event.type) {
        case Expose:
          if (event.xexpose.count != 0) continue;
          message.kind = WindowMessage::Paint;
          break;
        case ConfigureNotify:
          if (event.xconfigure.width == s.width && event.xconfigure.height == s.height) continue;
          s.width = event.xconfigure.width;
          s.height = event.xconfigure.height;
          message.kind = WindowMessage::Size;
          message.x = event.xconfigure.width;
          message.y = event.xconfigure.height;
          break;
        case ButtonPress:
        case ButtonRelease:
          if (!buttonIndex(event.xbutton.button, message.button)) continue;
          message.kind = event.type == ButtonPress ? WindowMessage::MouseDown : WindowMessage::MouseUp;
          break;
        case MotionNotify:
          message.kind = WindowMessage::MouseMove;
          message.x = event.xmotion.x;
          message.y = event.xmotion.y;
          break;
        case KeyPress:
          message = keyMessage(event.xkey, WindowMessage::KeyDown);
          break;
        case KeyRelease:
          message = keyMessage(event.xkey, WindowMessage::KeyUp);
          break;
        case MapNotify:
          s.mapped = true;
          continue;
        case ClientMessage:
          if (static_cast<Atom>(event.xclient.data.l[0]) != s.deleteWindow) continue;
          message.kind = WindowMessage::Close;
          break;
        default:
          continue;
      }
      handler(message);
    }

    std::deque<PostedRequest> requests;
    {
      std::lock_guard<std::mutex> lock(s.postedMutex);
      requests.swap(s.posted);
    }
    char drain[64];
    while (::read(s.wakeRead, drain, sizeof(drain)) > 0) {
    }
    for (const PostedRequest& request : requests) {
      if (request.kind == Posted::Quit) return;
      if (request.kind == Posted::Close) {
        WindowMessage message;
        message.kind = WindowMessage::Close;
        handler(message);
      } else if (request.kind == Posted::Ping) {
        // A round trip that also tells whether the window shows.
        XWindowAttributes attributes = {};
        if (XGetWindowAttributes(s.display, s.window, &attributes) && attributes.map_state == IsViewable)
          s.mapped = true;
        ++s.pingsAnswered;
      } else {
        XStoreName(s.display, s.window, request.text.c_str());
      }
    }
    XFlush(s.display);
    // Events may have arrived while the requests were handled; look again before sleeping.
    if (XPending(s.display) > 0) continue;
    {
      std::lock_guard<std::mutex> lock(s.postedMutex);
      if (!s.posted.empty()) continue;
    }
    pollfd fds[2] = {{xfd, POLLIN, 0}, {s.wakeRead, POLLIN, 0}};
    ::poll(fds, 2, -1);
  }
}

void NativeWindow::destroy() {
  State& s = *m_state;
  if (!s.display) return;
  s.open = false;
  if (s.window) XDestroyWindow(s.display, s.window);
  if (s.colormap) XFreeColormap(s.display, s.colormap);
  XCloseDisplay(s.display);
  s.display = nullptr;
  s.window = 0;
  s.colormap = 0;
}

bool NativeWindow::isOpen() const { return m_state->open.load(); }
void NativeWindow::postQuit() { m_state->post(Posted::Quit); }
void NativeWindow::postClose() { m_state->post(Posted::Close); }
void NativeWindow::ping() { m_state->post(Posted::Ping); }
unsigned NativeWindow::pingsAnswered() const { return m_state->pingsAnswered.load(); }
bool NativeWindow::isMapped() const { return m_state->mapped.load(); }
void NativeWindow::setTitle(const std::string& title) { m_state->post(Posted::Title, title); }

void NativeWindow::clientSize(int& width, int& height) const {
  width = m_state->width.load();
  height = m_state->height.load();
}

struct GLContext::State {
  Display* display = nullptr;
  Window window = 0;
  GLXContext context = nullptr;
};

GLContext::GLContext() : m_state(new State) {}
GLContext::~GLContext() { destroy(); }

bool GLContext::create(const NativeWindow& window) {
  initWindowSystem();
  destroy();
  State& s = *m_state;
  if (!window.isOpen()) return false;
  s.display = XOpenDisplay(nullptr);
  if (!s.display) {
    std::printf("Unable to open the X display\n");
    return false;
  }
  s.window = window.m_state->window;
  const int selectById[] = {GLX_FBCONFIG_ID, window.m_state->fbConfigId, None};
  int count = 0;
  GLXFBConfig* configs = glXChooseFBConfig(s.display, DefaultScreen(s.display), selectById, &count);
  if (!configs || count < 1) {
    std::printf("The window's OpenGL configuration is not available\n");
    if (configs) XFree(configs);
    destroy();
    return false;
  }
  const GLXFBConfig config = configs[0];
  XFree(configs);

  GLXContext legacy = glXCreateNewContext(s.display, config, GLX_RGBA_TYPE, nullptr, True);
  if (legacy && glXMakeContextCurrent(s.display, s.window, s.window, legacy)) {
    const GLubyte* version = glGetString(GL_VERSION);
    std::printf("GL_VERSION=%s\n", version ? reinterpret_cast<const char*>(version) : "");
  }

  const auto createContextAttribs = reinterpret_cast<PFNGLXCREATECONTEXTATTRIBSARBPROC>(
      glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXCreateContextAttribsARB")));
  if (createContextAttribs) {
    // The version must be named: without it the driver may hand back a lower one or refuse.
    const int attributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB, 4,
                              GLX_CONTEXT_MINOR_VERSION_ARB, 5,
                              GLX_CONTEXT_FLAGS_ARB, GLX_CONTEXT_FORWARD_COMPATIBLE_BIT_ARB,
                              GLX_CONTEXT_PROFILE_MASK_ARB, GLX_CONTEXT_CORE_PROFILE_BIT_ARB,
                              None};
    s.context = createContextAttribs(s.display, config, nullptr, True, attributes);
    XSync(s.display, False);
  }

  glXMakeContextCurrent(s.display, None, None, nullptr);
  if (legacy) glXDestroyContext(s.display, legacy);

  if (s.context && glXMakeContextCurrent(s.display, s.window, s.window, s.context)) {
    const GLubyte* version = glGetString(GL_VERSION);
    std::printf("GL_VERSION=%s\n", version ? reinterpret_cast<const char*>(version) : "");
    return true;
  }
  std::printf("OpenGL 4.5 core profile is not available\n");
  std::printf("Error in wglCreateContextAttribsARB");
  destroy();
  return false;
}

bool GLContext::exists() const { return m_state->context != nullptr; }

bool GLContext::makeCurrent() {
  State& s = *m_state;
  return s.context && glXMakeContextCurrent(s.display, s.window, s.window, s.context);
}

void GLContext::release() {
  State& s = *m_state;
  if (s.display) glXMakeContextCurrent(s.display, None, None, nullptr);
}

void GLContext::swapBuffers() {
  State& s = *m_state;
  if (s.context) glXSwapBuffers(s.display, s.window);
}

void GLContext::destroy() {
  State& s = *m_state;
  if (!s.display) return;
  if (s.context) {
    glXMakeContextCurrent(s.display, None, None, nullptr);
    glXDestroyContext(s.display, s.context);
    s.context = nullptr;
  }
  XCloseDisplay(s.display);
  s.display = nullptr;
  s.window = 0;
}

}  // namespace platform
