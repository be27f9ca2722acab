#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

// A hidden OpenGL 4.5 core-profile context for GL tests: GLX on a small pbuffer, GLEW loaded.
// Made once per test program and kept current on the calling thread until the program ends.
// Returns false, with the reason on standard output, when no display or no 4.5 context exists.
bool ensureTestGLContext();

// Drains the GL error queue; returns the first error seen (GL_NO_ERROR when none).
unsigned drainGLErrors();

// An offscreen RGBA8 colour target with a depth buffer, for drawing and reading pixels back.
class TestRenderTarget {
 public:
  TestRenderTarget(int width, int height);
  ~TestRenderTarget();
  TestRenderTarget(const TestRenderTarget&) = delete;
  TestRenderTarget& operator=(const TestRenderTarget&) = delete;

  bool complete() const { return m_complete; }
  // Binds the target, sets the viewport and clears colour (to the given RGBA) and depth.
  void bindAndClear(float r, float g, float b, float a);
  // Rows from the bottom, RGBA8 per pixel.
  std::vector<uint8_t> readPixels() const;
  // The RGBA of one pixel, x from the left, y from the bottom.
  std::vector<uint8_t> pixel(int x, int y) const;

 private:
  int m_width;
  int m_height;
  unsigned m_fbo = 0;
  unsigned m_color = 0;
  unsigned m_depth = 0;
  bool m_complete = false;
};

// Fixture for suites that need GL: fails the test early when no context can be made.
class GLContextTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ensureTestGLContext()) << "run GL tests under xvfb-run -a"; }
};
