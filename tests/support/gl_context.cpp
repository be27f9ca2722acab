#include "support/gl_context.h"

#include <GL/glew.h>
// GLEW must come before the GLX header, which pulls in gl.h.
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdlib>
#include <cstdio>
#include <string>
#include <thread>

namespace {

typedef GLXContext (*CreateContextAttribs)(Display*, GLXFBConfig, GLXContext, Bool, const int*);

struct TestContext {
  Display* display = nullptr;
  GLXContext context = nullptr;
  GLXPbuffer pbuffer = 0;

  ~TestContext();
};

// Mesa reports a failed context request through the X error handler; keep the test alive.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

TestContext::~TestContext() {
  if (!display) return;
  // Releasing the context at exit makes Mesa's software rasteriser push its 16-pixel surface to
  // the server, which Xvfb can refuse after large offscreen draws; a finished run stays passed.
  XSetErrorHandler(ignoreXError);
  glXMakeContextCurrent(display, None, None, nullptr);
  if (context) glXDestroyContext(display, context);
  if (pbuffer) glXDestroyPbuffer(display, pbuffer);
  XCloseDisplay(display);
}

TestContext g_testContext;

bool fail(const std::string& why) {
  std::printf("test GL context: %s\n", why.c_str());
  return false;
}

bool createContext(TestContext& tc) {
  // Under a burst of test processes connecting at once the server may turn one away for a
  // moment: a few tries before the display counts as missing.
  tc.display = XOpenDisplay(nullptr);
  for (int tries = 0; !tc.display && std::getenv("DISPLAY") && tries < 20; ++tries) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    tc.display = XOpenDisplay(nullptr);
  }
  if (!tc.display) return fail("no X display (DISPLAY unset?)");
  const int fbAttributes[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT,
                              GLX_RED_SIZE, 8, GLX_GREEN_SIZE, 8, GLX_BLUE_SIZE, 8,
                              GLX_ALPHA_SIZE, 8, GLX_DEPTH_SIZE, 24, None};
  int count = 0;
  GLXFBConfig* configs =
      glXChooseFBConfig(tc.display, DefaultScreen(tc.display), fbAttributes, &count);
  if (!configs || count == 0) {
    if (configs) XFree(configs);
    return fail("no pbuffer frame-buffer configuration");
  }
  GLXFBConfig config = configs[0];
  XFree(configs);

  auto create = reinterpret_cast<CreateContextAttribs>(
      glXGetProcAddressARB(reinterpret_cast<const GLubyte*>("glXCreateContextAttribsARB")));
  if (!create) return fail("glXCreateContextAttribsARB missing");
  const int contextAttributes[] = {GLX_CONTEXT_MAJOR_VERSION_ARB, 4, GLX_CONTEXT_MINOR_VERSION_ARB,
                                   5, GLX_CONTEXT_PROFILE_MASK_ARB,
                                   GLX_CONTEXT_CORE_PROFILE_BIT_ARB, None};
  int (*previous)(Display*, XErrorEvent*) = XSetErrorHandler(ignoreXError);
  tc.context = create(tc.display, config, nullptr, True, contextAttributes);
  XSync(tc.display, False);
  XSetErrorHandler(previous);
  if (!tc.context) return fail("no OpenGL 4.5 core context");
  const int pbufferAttributes[] = {GLX_PBUFFER_WIDTH, 16, GLX_PBUFFER_HEIGHT, 16, None};
  tc.pbuffer = glXCreatePbuffer(tc.display, config, pbufferAttributes);
  if (!tc.pbuffer || !glXMakeContextCurrent(tc.display, tc.pbuffer, tc.pbuffer, tc.context))
    return fail("cannot make the context current");
  glewExperimental = GL_TRUE;
  const GLenum glewResult = glewInit();
  if (glewResult != GLEW_OK)
    return fail(std::string("glewInit failed: ") +
                reinterpret_cast<const char*>(glewGetErrorString(glewResult)));
  // glewInit in a core profile leaves GL_INVALID_ENUM behind from its extension string query.
  drainGLErrors();
  return true;
}

}  // namespace

bool ensureTestGLContext() {
  static const bool ready = createContext(g_testContext);  // tried once per program
  return ready;
}

unsigned drainGLErrors() {
  GLenum first = glGetError(), error = first;
  for (int i = 0; i < 64 && error != GL_NO_ERROR; ++i) error = glGetError();
  return first;
}

TestRenderTarget::TestRenderTarget(int width, int height) : m_width(width), m_height(height) {
  glGenFramebuffers(1, &m_fbo);
  glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
  for (unsigned* buffer : {&m_color, &m_depth}) {
    const bool colour = buffer == &m_color;
    glGenRenderbuffers(1, buffer);
    glBindRenderbuffer(GL_RENDERBUFFER, *buffer);
    glRenderbufferStorage(GL_RENDERBUFFER, colour ? GL_RGBA8 : GL_DEPTH_COMPONENT24, width, height);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, colour ? GL_COLOR_ATTACHMENT0 : GL_DEPTH_ATTACHMENT,
                              GL_RENDERBUFFER, *buffer);
  }
  m_complete = glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
  glBindRenderbuffer(GL_RENDERBUFFER, 0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

TestRenderTarget::~TestRenderTarget() {
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDeleteFramebuffers(1, &m_fbo);  // zero names are ignored
  glDeleteRenderbuffers(1, &m_color);
  glDeleteRenderbuffers(1, &m_depth);
}

void TestRenderTarget::bindAndClear(float r, float g, float b, float a) {
  glBindFramebuffer(GL_FRAMEBUFFER, m_fbo);
  glViewport(0, 0, m_width, m_height);
  glClearColor(r, g, b, a);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
}

std::vector<uint8_t> TestRenderTarget::readPixels() const {
  std::vector<uint8_t> pixels(static_cast<size_t>(m_width) * m_height * 4);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, m_fbo);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, m_width, m_height, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  return pixels;
}

std::vector<uint8_t> TestRenderTarget::pixel(int x, int y) const {
  const std::vector<uint8_t> all = readPixels();
  const auto at = all.begin() + (static_cast<size_t>(y) * m_width + x) * 4;
  return {at, at + 4};
}
