#include "app/ogl_display.h"

#include <GL/glew.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "app/application.h"
#include "core/events.h"
#include "core/vec.h"
#include "platform/clock.h"
#include "platform/output.h"

namespace {

// How long create and waitForExit sleep between checks that the window thread still runs.
const uint32_t kThreadCheckMs = 20;
// While the window waits for its first paint, the window system is asked for a round trip after
// each second without an answer; create gives up only after this long without one. A busy
// machine may take long to show the window, but a server that answers will.
const uint32_t kPingAfterMs = 1000;
const uint32_t kServerSilenceMs = 60000;
// A window that shows and whose server answers goes on without its first paint after this long:
// a paint that never comes must not hold the start.
const uint32_t kFirstPaintMs = 2000;
// After giving up, how long the window thread is given to end before it is left behind (stuck in
// the window system that stopped answering).
const uint32_t kStuckThreadMs = 3000;

Vec3f toVec3(const float* p) { return Vec3f(p[0], p[1], p[2]); }

// Rodrigues' formula: v (3 floats, in place) rotated by angle about the unit axis k.
void rotateVector(const Vec3f& k, float cosA, float sinA, float* v) {
  const Vec3f r = toVec3(v);
  const Vec3f kxv = cross(k, r);
  const float kv = dot(k, r) * (1.0f - cosA);
  for (int i = 0; i < 3; ++i) v[i] = v[i] * cosA + kxv[i] * sinA + k[i] * kv;
}

const char* orbitModeName(int mode) {
  switch (mode) {
    case OGLDisplayBase::ROTATE: return "ROTATE";
    case OGLDisplayBase::ROTATE_Z: return "ROTATE_Z";
    case OGLDisplayBase::ROTATE_CAMERA: return "ROTATE_CAMERA";
    case OGLDisplayBase::PAN: return "PAN";
    case OGLDisplayBase::ZOOM: return "ZOOM";
    default: return "";
  }
}

}  // namespace

bool virtualKeyName(int code, std::string& name) {
  switch (code) {
    case 8: name = "BSP"; return true;
    case 9: name = "TAB"; return true;
    case 13: name = "RET"; return true;
    case 16: name = "SFT"; return true;
    case 17: name = "CTR"; return true;
    case 18: name = "ALT"; return true;
    case 27: name = "ESC"; return true;
    case 32: name = "SPA"; return true;
    case 33: name = "PGU"; return true;
    case 34: name = "PGD"; return true;
    case 35: name = "END"; return true;
    case 36: name = "HOM"; return true;
    case 37: name = "LEF"; return true;
    case 38: name = "UP"; return true;
    case 39: name = "RIG"; return true;
    case 40: name = "DOW"; return true;
    case 45: name = "INS"; return true;
    case 46: name = "DEL"; return true;
    case 187: name = "+"; return true;
    case 188: name = ","; return true;
    case 189: name = "-"; return true;
    case 190: name = "."; return true;
    case 219: name = "[{"; return true;
    case 221: name = "]}"; return true;
    default: break;
  }
  // Digits, capital letters, and the numpad keys 97-111 named by the character of their code.
  if ((code >= 48 && code <= 57) || (code >= 65 && code <= 90) || (code >= 97 && code <= 111)) {
    name = std::string(1, static_cast<char>(code));
    return true;
  }
  if (code >= 112 && code <= 135) {
    char text[8];
    std::snprintf(text, sizeof(text), "F%i", code - 111);
    name = text;
    return true;
  }
  return false;
}

OGLDisplayBase::OGLDisplayBase() {
  for (int i = 0; i < 16; ++i) m_cameraFrame[i] = (i % 5 == 0) ? 1.0f : 0.0f;
  updateViewMatrix();
}

bool OGLDisplayBase::open(const OGLDisplaySettings& settings) {
  m_settings = settings;
  m_width = settings.width;
  m_height = settings.height;
  return create(settings.x, settings.y, settings.width, settings.height, settings.title);
}

void OGLDisplayBase::mouseDown(int button) {
  if (button == 0) m_leftDown = true;
  if (button == 1) m_rightDown = true;
  if (button != 2) return;
  m_middleDown = true;
  static const int kNext[5] = {ROTATE_Z, ROTATE_CAMERA, ZOOM, ROTATE, PAN};
  m_orbitMode = (m_orbitMode >= 0 && m_orbitMode < 5) ? kNext[m_orbitMode] : ROTATE;
  setTitle(orbitModeName(m_orbitMode));
}

void OGLDisplayBase::mouseUp(int button) {
  if (button == 0) m_leftDown = false;
  if (button == 1) m_rightDown = false;
  if (button == 2) m_middleDown = false;
}

void OGLDisplayBase::mouseMove(int x, int y) {
  // 64-bit: the first move compares against the largest int.
  const long long dx = static_cast<long long>(x) - m_lastX;
  const long long dy = static_cast<long long>(y) - m_lastY;
  const int lastX = m_lastX;
  const int lastY = m_lastY;
  m_lastX = x;
  m_lastY = y;
  if (!m_leftDown || !m_rightDown) return;
  // A jump (first move, cursor re-entering the window) must not fling the camera.
  if (std::llabs(dx) >= 10 || std::llabs(dy) >= 10) return;

  const float fx = static_cast<float>(dx);
  const float fy = static_cast<float>(dy);
  const float d = std::sqrt(fx * fx + fy * fy);
  float* right = m_cameraFrame;
  float* up = m_cameraFrame + 4;
  float* forward = m_cameraFrame + 8;
  float* eye = m_cameraFrame + 12;
  switch (m_orbitMode) {
    case ROTATE: {
      const float axis[3] = {fy * right[0] + fx * up[0], fy * right[1] + fx * up[1],
                             fy * right[2] + fx * up[2]};
      rotateFrame(axis, -0.01f * d * m_settings.rotateSpeed, m_pivot);
      break;
    }
    case ROTATE_CAMERA: {
      const float axis[3] = {fy * right[0] + fx * up[0], fy * right[1] + fx * up[1],
                             fy * right[2] + fx * up[2]};
      const float centre[3] = {eye[0], eye[1], eye[2]};
      rotateFrame(axis, 0.01f * d * m_settings.rotateSpeed, centre);
      break;
    }
    case ROTATE_Z: {
      const float px = static_cast<float>(lastX), py = static_cast<float>(lastY);
      const float cx = static_cast<float>(x), cy = static_cast<float>(y);
      const float z = px * cy - py * cx;
      const float lengths = std::sqrt(px * px + py * py) * std::sqrt(cx * cx + cy * cy);
      if (z == 0.0f || lengths == 0.0f) break;
      const float cosine = std::fmax(-1.0f, std::fmin(1.0f, (px * cx + py * cy) / lengths));
      const float angle = std::acos(cosine) * 10.0f * m_settings.rollSpeed;
      const float axis[3] = {forward[0], forward[1], forward[2]};
      const float centre[3] = {eye[0], eye[1], eye[2]};
      rotateFrame(axis, z > 0.0f ? angle : -angle, centre);
      break;
    }
    case PAN:
      for (int i = 0; i < 3; ++i)
        eye[i] += (fy * up[i] - fx * right[i]) * 0.001f * m_settings.panSpeed;
      break;
    case ZOOM:
      for (int i = 0; i < 3; ++i) eye[i] += forward[i] * fy * 0.001f * m_settings.zoomSpeed;
      break;
    default:
      break;
  }
  updateViewMatrix();
}

void OGLDisplayBase::keyDown(const std::string&, bool, bool, bool) {}
void OGLDisplayBase::keyUp(const std::string&, bool, bool, bool) {}

void OGLDisplayBase::resize(int width, int height) {
  lockGL();
  m_width = width;
  m_height = height;
  m_viewportDirty = true;
  unlockGL();
}

void OGLDisplayBase::rotateFrame(const float axis[3], float angle, const float centre[3]) {
  const Vec3f a = toVec3(axis);
  const float length = std::sqrt(dot(a, a));
  if (length < 1e-5f) return;
  const Vec3f k = a / length;
  const float c = std::cos(angle);
  const float s = std::sin(angle);
  for (int column = 0; column < 3; ++column) rotateVector(k, c, s, m_cameraFrame + 4 * column);
  float offset[3] = {m_cameraFrame[12] - centre[0], m_cameraFrame[13] - centre[1],
                     m_cameraFrame[14] - centre[2]};
  rotateVector(k, c, s, offset);
  for (int i = 0; i < 3; ++i) m_cameraFrame[12 + i] = centre[i] + offset[i];
}

void OGLDisplayBase::updateViewMatrix() {
  const float* eye = m_cameraFrame + 12;
  for (int row = 0; row < 3; ++row) {
    const float* axis = m_cameraFrame + 4 * row;  // right, up, forward
    for (int column = 0; column < 3; ++column) m_viewMatrix[4 * column + row] = axis[column];
    m_viewMatrix[12 + row] = -dot(toVec3(axis), toVec3(eye));
  }
  m_viewMatrix[3] = m_viewMatrix[7] = m_viewMatrix[11] = 0.0f;
  m_viewMatrix[15] = 1.0f;
}

WGLDisplay::~WGLDisplay() {
  m_context.destroy();
  if (m_thread.isRunning()) m_window.postQuit();
  waitForExit();
  // No connection is left to be lost.
  platform::setDisplayLostHandler(nullptr);
}

void WGLDisplay::close() {
  m_window.postQuit();
  waitForExit();
}

void WGLDisplay::waitForExit() {
  if (m_threadAbandoned) return;  // it never ends
  // The thread sets the event after its teardown; a thread that ended early never will.
  while (m_thread.isRunning() && !m_event.waitFor(kThreadCheckMs)) {
  }
  m_thread.join();
}

bool WGLDisplay::waitForWindowThread(uint32_t limitMs) {
  for (uint32_t waited = 0; m_thread.isRunning(); waited += kThreadCheckMs) {
    if (waited >= limitMs) return false;
    if (m_event.waitFor(kThreadCheckMs)) break;
  }
  m_thread.join();
  return true;
}

void WGLDisplay::lockWindow() {
  m_windowMutex.lock();
  m_windowOwner = std::this_thread::get_id();
  // A thread that found the display lost may be waiting for this lock: its holder ends the
  // process now, between frames, rather than keep it waiting.
  if (platform::displayLost()) onDisplayLost();
}

void WGLDisplay::unlockWindow() {
  m_windowOwner = std::thread::id();
  m_windowMutex.unlock();
}

void WGLDisplay::onDisplayLost() {
  platform::endIfCloseFinished();
  // The work is saved by the thread holding the window lock: the main thread mid-frame, or a
  // thread that waits here until the frame is over. Whoever comes second waits for good.
  if (m_windowOwner.load() != std::this_thread::get_id()) {
    m_windowMutex.lock();
    m_windowOwner = std::this_thread::get_id();
    // The holder may have been the close, which gave its last word meanwhile: its status stands.
    platform::endIfCloseFinished();
  }
  endOnLostDisplay();
  platform::noteCloseFinished(1);
  // Other threads still run: no static destructor may free what they use.
  platform::endProcess(1);
}

void WGLDisplay::endOnLostDisplay() { std::printf("the display was lost\n"); }

bool WGLDisplay::create(int x, int y, int width, int height, const std::string& title) {
  m_title = title;
  m_x = x;
  m_y = y;
  m_width = width;
  m_height = height;
  m_firstPaint = true;
  m_closeRequested = false;
  platform::setDisplayLostHandler([this] { onDisplayLost(); });
  if (!m_thread.start([this] { displayWindowThread(); })) {
    std::printf("Unable to start the desktop window's thread\n");
    return false;
  }
  // The window thread reports its own failures before it ends.
  bool painted = false;
  unsigned answered = m_window.pingsAnswered();
  uint32_t lastAnswer = platform::timeGetTime();
  bool asked = false;
  bool shown = false;        // the window is mapped and its server answers
  uint32_t shownAt = 0;
  while (!painted && !m_thread.hasFinished()) {
    painted = m_event.waitFor(kThreadCheckMs);
    const uint32_t now = platform::timeGetTime();
    if (m_window.pingsAnswered() != answered) {
      answered = m_window.pingsAnswered();
      lastAnswer = now;
      asked = false;
      if (!shown && m_window.isMapped()) {
        shown = true;
        shownAt = now;
      }
    }
    if (!painted && shown && now - shownAt >= kFirstPaintMs) {
      // The window is there without its paint: the context can be made all the same. A paint
      // that comes later only sets the event, which the window thread's end sets again.
      painted = true;
      break;
    }
    const uint32_t silence = now - lastAnswer;
    if (!painted && !asked && silence >= kPingAfterMs) {
      m_window.ping();
      asked = true;
    }
    if (!painted && silence >= kServerSilenceMs) {
      std::printf("The window system did not answer for %u s while the desktop window waited to show\n",
                  kServerSilenceMs / 1000);
      m_window.postQuit();
      // A thread stuck in the window system never ends: after a few seconds it is left to run
      // on, with the display it uses.
      if (!waitForWindowThread(kStuckThreadMs)) {
        m_thread.detach();
        m_threadAbandoned = true;
      }
      return false;
    }
  }
  if (!painted) return false;
  setTitle(title);
  if (!m_context.create(m_window)) return false;
  lockGL();
  if (m_viewportDirty) glViewport(0, 0, m_width, m_height);
  m_viewportDirty = false;
  unlockGL();
  return true;
}

void WGLDisplay::makeCurrent() { m_context.makeCurrent(); }

void WGLDisplay::setTitle(const std::string& text) { m_window.setTitle(text); }

void WGLDisplay::displayWindowThread() {
  if (!m_window.open(m_x, m_y, m_width, m_height, m_title)) return;
  m_window.runMessageLoop([this](const platform::WindowMessage& message) { handleMessage(message); });
  // The main thread released the GL context before asking to quit, so no frame is cut short.
  lockWindow();
  m_window.destroy();
  unlockWindow();
  m_event.set();
}

void WGLDisplay::handleMessage(const platform::WindowMessage& message) {
  using platform::WindowMessage;
  switch (message.kind) {
    case WindowMessage::MouseDown:
      mouseDown(message.button);
      break;
    case WindowMessage::MouseUp:
      mouseUp(message.button);
      break;
    case WindowMessage::MouseMove:
      mouseMove(message.x, message.y);
      break;
    case WindowMessage::Size:
      if (message.x != 0 && message.y != 0) resize(message.x, message.y);
      break;
    case WindowMessage::Paint:
      if (m_firstPaint) {
        m_firstPaint = false;
        m_event.set();
      }
      break;
    case WindowMessage::KeyDown:
    case WindowMessage::KeyUp: {
      std::string name;
      if (!virtualKeyName(message.keyCode, name)) break;
      if (message.kind == WindowMessage::KeyDown)
        keyDown(name, message.shift, message.control, message.alt);
      else
        keyUp(name, message.shift, message.control, message.alt);
      break;
    }
    case WindowMessage::Close:
      m_closeRequested = true;
      break;
  }
}

void OGLDisplay::keyDown(const std::string& name, bool, bool, bool) {
  postEvent(new EventRecord(EVENT_KEY_DOWN, name[0]));
}

void OGLDisplay::keyUp(const std::string& name, bool, bool, bool) {
  postEvent(new EventRecord(EVENT_KEY_UP, name[0]));
}

void OGLDisplay::endOnLostDisplay() { endSessionOnLostDisplay(); }
