#pragma once
#include <GL/glew.h>

#include <cstdint>
#include <string>

// An offscreen target: a colour texture (optional) and depth, either in a renderbuffer or in a
// texture that can be sampled (shadow maps). Owned by its user, initialised once, never resized.
class FramebufferDesc {
 public:
  FramebufferDesc() = default;
  FramebufferDesc(const FramebufferDesc&) = delete;
  FramebufferDesc& operator=(const FramebufferDesc&) = delete;
  virtual ~FramebufferDesc();

  // withColor > 0 adds an RGB colour texture; 0 makes a depth-only target. A size beyond
  // maxFramebufferSize is brought down to it (with a message); m_width and m_height hold the size
  // made. False (with a message) when the framebuffer is incomplete; the target must then not be
  // drawn into.
  virtual bool init(uint32_t width, uint32_t height, int withColor);

  uint32_t m_width = 0;
  uint32_t m_height = 0;
  bool m_depthAsRenderbuffer = true;  // set by the owner before init
  GLuint m_framebuffer = 0;
  GLuint m_depth = 0;
  GLuint m_color = 0;
};

// Multisampled target with a plain resolve target; m_framebuffer, m_depth and m_color are the
// multisampled objects, m_resolveColor the texture others sample.
class FramebufferMultiDesc : public FramebufferDesc {
 public:
  ~FramebufferMultiDesc() override;

  // samples below 2 become 4; more than the driver allows (GL_MAX_SAMPLES) are clamped to it.
  bool init(uint32_t width, uint32_t height, int samples) override;
  // Copies the multisampled colour (and depth when it is a texture) into the resolve target.
  void resolve();

  // The sample count actually used, after the clamps.
  int m_samples = 0;
  GLuint m_resolveFramebuffer = 0;
  GLuint m_resolveColor = 0;
  GLuint m_resolveDepth = 0;
};

// Column-major projection into a w by h window at the near plane (perspective) or a w by h box
// (orthographic), looking down -z; near and far are positive distances.
void computeProjectionMatrix(bool perspective, float width, float height, float nearZ, float farZ,
                             float out[16]);

// Reads width x height pixels of the framebuffer and writes them top row first to path (format
// by extension). False when the image cannot be written.
bool saveFramebufferImage(const std::string& path, uint32_t width, uint32_t height,
                          GLuint framebuffer);

// The largest width or height of a target: 16384, or less when the context allows less.
int maxFramebufferSize();

// The largest sample count the driver allows for multisampled targets (at least 1).
int maxFramebufferSamples();
