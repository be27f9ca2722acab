#include "render/framebuffer.h"

#include <algorithm>
#include <iostream>
#include <vector>

#include "core/cout_line.h"
#include "core/settings.h"
#include "platform/image_file.h"

namespace {

// Every target's size goes through here: drivers abort, rather than refuse, on some sizes far
// beyond what they allow.
void clampToContext(const char* what, uint32_t* width, uint32_t* height) {
  const uint32_t limit = static_cast<uint32_t>(maxFramebufferSize());
  if (*width <= limit && *height <= limit) return;
  coutLine(what, ": ", *width, " x ", *height, " is larger than this OpenGL allows; ",
           std::min(*width, limit), " x ", std::min(*height, limit), " used");
  *width = std::min(*width, limit);
  *height = std::min(*height, limit);
}

// Shadow maps look up outside [0, 1] and must read the farthest depth there.
void makeDepthTexture(GLuint* texture, uint32_t width, uint32_t height) {
  glGenTextures(1, texture);
  glBindTexture(GL_TEXTURE_2D, *texture);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, static_cast<GLsizei>(width), static_cast<GLsizei>(height),
               0, GL_DEPTH_COMPONENT, GL_FLOAT, nullptr);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_BORDER);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_BORDER);
  const float border[4] = {1.0f, 1.0f, 1.0f, 1.0f};
  glTexParameterfv(GL_TEXTURE_2D, GL_TEXTURE_BORDER_COLOR, border);
}

bool isComplete(const char* what) {
  const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
  if (status == GL_FRAMEBUFFER_COMPLETE) return true;
  coutLine(what, ": framebuffer incomplete (0x", std::hex, status, std::dec, ")");
  return false;
}

}  // namespace

FramebufferDesc::~FramebufferDesc() {
  if (m_color) glDeleteTextures(1, &m_color);
  if (m_depth) {
    if (m_depthAsRenderbuffer)
      glDeleteRenderbuffers(1, &m_depth);
    else
      glDeleteTextures(1, &m_depth);
  }
  if (m_framebuffer) glDeleteFramebuffers(1, &m_framebuffer);
}

bool FramebufferDesc::init(uint32_t width, uint32_t height, int withColor) {
  clampToContext("FramebufferDesc::init", &width, &height);
  m_width = width;
  m_height = height;
  const auto w = static_cast<GLsizei>(width), h = static_cast<GLsizei>(height);
  glGenFramebuffers(1, &m_framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
  if (withColor > 0) {
    glGenTextures(1, &m_color);
    glBindTexture(GL_TEXTURE_2D, m_color);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGB, w, h, 0, GL_RGB, GL_UNSIGNED_BYTE, nullptr);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_color, 0);
  }
  if (m_depthAsRenderbuffer) {
    glGenRenderbuffers(1, &m_depth);
    glBindRenderbuffer(GL_RENDERBUFFER, m_depth);
    glRenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT, w, h);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_depth);
  } else {
    makeDepthTexture(&m_depth, width, height);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, m_depth, 0);
  }
  if (withColor <= 0) {
    // A depth-only target is incomplete until it says it draws no colour.
    glDrawBuffer(GL_NONE);
    glReadBuffer(GL_NONE);
  }
  const bool complete = isComplete("FramebufferDesc::init");
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return complete;
}

FramebufferMultiDesc::~FramebufferMultiDesc() {
  if (m_resolveColor) glDeleteTextures(1, &m_resolveColor);
  if (m_resolveDepth) glDeleteTextures(1, &m_resolveDepth);
  if (m_resolveFramebuffer) glDeleteFramebuffers(1, &m_resolveFramebuffer);
}

bool FramebufferMultiDesc::init(uint32_t width, uint32_t height, int samples) {
  clampToContext("FramebufferMultiDesc::init", &width, &height);
  m_width = width;
  m_height = height;
  if (samples < 2) samples = 4;
  // The settings ask for 12 by default; a driver that allows fewer would leave the target
  // incomplete, so ask for what it has.
  m_samples = std::min(samples, maxFramebufferSamples());
  const auto w = static_cast<GLsizei>(width), h = static_cast<GLsizei>(height);

  glGenFramebuffers(1, &m_framebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, m_framebuffer);
  glGenTextures(1, &m_color);
  glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, m_color);
  glTexImage2DMultisample(GL_TEXTURE_2D_MULTISAMPLE, m_samples, GL_RGBA8, w, h, GL_TRUE);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D_MULTISAMPLE, m_color, 0);
  if (m_depthAsRenderbuffer) {
    glGenRenderbuffers(1, &m_depth);
    glBindRenderbuffer(GL_RENDERBUFFER, m_depth);
    glRenderbufferStorageMultisample(GL_RENDERBUFFER, m_samples, GL_DEPTH_COMPONENT, w, h);
    glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, m_depth);
  } else {
    glGenTextures(1, &m_depth);
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, m_depth);
    glTexImage2DMultisample(GL_TEXTURE_2D_MULTISAMPLE, m_samples, GL_DEPTH_COMPONENT, w, h, GL_TRUE);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D_MULTISAMPLE, m_depth, 0);
  }
  bool complete = isComplete("FramebufferMultiDesc::init");

  glGenFramebuffers(1, &m_resolveFramebuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, m_resolveFramebuffer);
  glGenTextures(1, &m_resolveColor);
  glBindTexture(GL_TEXTURE_2D, m_resolveColor);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 0);
  glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, w, h, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
  glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, m_resolveColor, 0);
  if (!m_depthAsRenderbuffer) {
    makeDepthTexture(&m_resolveDepth, width, height);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_TEXTURE_2D, m_resolveDepth, 0);
  }
  // Both halves must be complete: drawing into an incomplete multisampled target fails silently.
  complete = isComplete("FramebufferMultiDesc::init (resolve)") && complete;
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return complete;
}

void FramebufferMultiDesc::resolve() {
  if (!m_framebuffer || !m_resolveFramebuffer) return;
  const auto w = static_cast<GLint>(m_width), h = static_cast<GLint>(m_height);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, m_framebuffer);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, m_resolveFramebuffer);
  glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_COLOR_BUFFER_BIT, GL_LINEAR);
  if (m_resolveDepth) glBlitFramebuffer(0, 0, w, h, 0, 0, w, h, GL_DEPTH_BUFFER_BIT, GL_NEAREST);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  glBindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
}

void computeProjectionMatrix(bool perspective, float width, float height, float nearZ, float farZ,
                             float out[16]) {
  std::fill(out, out + 16, 0.0f);
  if (perspective) {
    out[0] = 2 * nearZ / width;
    out[5] = 2 * nearZ / height;
    out[10] = -(farZ + nearZ) / (farZ - nearZ);
    out[14] = -2 * farZ * nearZ / (farZ - nearZ);
    out[11] = -1;
  } else {
    out[0] = 2 / width;
    out[5] = 2 / height;
    out[10] = -2 / (farZ - nearZ);
    out[14] = -(farZ + nearZ) / (farZ - nearZ);
    out[15] = 1;
  }
}

bool saveFramebufferImage(const std::string& path, uint32_t width, uint32_t height, GLuint framebuffer) {
  if (width == 0 || height == 0) return false;
  glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  std::vector<unsigned char> pixels(size_t(width) * size_t(height) * 3);
  glReadPixels(0, 0, static_cast<GLsizei>(width), static_cast<GLsizei>(height), GL_BGR, GL_UNSIGNED_BYTE,
               pixels.data());
  const bool written = platform::writeBottomUpImage(path, static_cast<int>(width), static_cast<int>(height),
                                                    pixels.data(), "saveFramebufferImage");
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return written;
}

int maxFramebufferSamples() {
  // The targets use multisampled colour and depth textures as well as renderbuffers.
  GLint limit = 1, colour = 1, depth = 1;
  glGetIntegerv(GL_MAX_SAMPLES, &limit);
  glGetIntegerv(GL_MAX_COLOR_TEXTURE_SAMPLES, &colour);
  glGetIntegerv(GL_MAX_DEPTH_TEXTURE_SAMPLES, &depth);
  return std::max(1, static_cast<int>(std::min({limit, colour, depth})));
}

int maxFramebufferSize() {
  GLint texture = 0, renderbuffer = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &texture);
  glGetIntegerv(GL_MAX_RENDERBUFFER_SIZE, &renderbuffer);
  return std::max(1, std::min({static_cast<GLint>(kMaxImageSize), texture, renderbuffer}));
}
