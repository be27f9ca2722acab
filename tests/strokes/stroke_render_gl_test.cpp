// Strokes drawn by a ribbon buffer with the hair program into a small offscreen target and read
// back. The picture is also written as a PNG beside the test program, for a look by eye.
#include <gtest/gtest.h>

#include <string>

#include "core/hand_frames.h"
#include "strokes/stroke_buffer.h"
#include "strokes/stroke_geometry.h"
#include "strokes/stroke_test_support.h"

namespace {

constexpr int kSize = 256;
constexpr float kHalfView = 0.12f;  // metres from the centre to each edge of the view
constexpr float kTop = 0.08f;       // root height; strands hang 16 cm from it
constexpr float kWidth = 0.05f;

// Pixel column of a world x, and pixel row (from the bottom) of a world y.
int pixelOf(float v) { return static_cast<int>((v / kHalfView + 1.0f) * 0.5f * kSize); }

using StrokeRenderGL = HairMapsGLTest;

}  // namespace

TEST_F(StrokeRenderGL, HairRibbonsAreCutIntoStrandsAndShadedAlongThem) {
  // Strands hanging from kTop, pitch +x, normal towards the viewer, lit 0.25 at the root
  // rising to 1 at the tip: dense, middle, sparse, and middle curled.
  g_currentColor.set_green(0.68f);
  g_currentColor.set_blue(0.42f);
  g_currentColor.set_red(0.9f);
  g_defaultLightCurve.Clear();
  for (float v : {0.25f, 1.0f}) g_defaultLightCurve.add_v(v);
  const float xs[4] = {-0.09f, -0.03f, 0.03f, 0.09f};
  const int textures[4] = {1, 2, 3, 2}, curvatures[4] = {0, 0, 0, 8};
  StrokeBufferRender ribbons(StrokeBufferFormat(g_renderRows[1]), 8000000);
  StrokeStore own;
  for (int s = 0; s < 4; ++s) {
    Operatable* strand = own(makeStroke(textures[s], curvatures[s], 17, xs[s], kTop, -0.01f));
    strand->m_operation->set_width(kWidth);
    ribbons.pushOperation(strand);
    ribbons.writeOperation(strand, true);
  }

  TestRenderTarget target(kSize, kSize);
  ASSERT_TRUE(target.complete());
  target.bindAndClear(0, 0, 0, 1);
  Matrix4 viewProjection;
  viewProjection.at(0, 0) = viewProjection.at(1, 1) = 1.0f / kHalfView;
  viewProjection.at(2, 2) = -1.0f;
  g_headMatrix[2] = 1.0f;  // the viewer, 1 m in front
  const float light[3] = {0.3f, 0.05f, 1.0f};
  g_shaderManager->setLight(0, light, Matrix4().data());
  ribbons.draw(Matrix4(), viewProjection);
  ASSERT_EQ(drainGLErrors(), 0u);
  std::vector<uint8_t> pixels = target.readPixels();

  ASSERT_NE(writePicture(pixels, kSize, kSize, "stroke_render_gl.png"), "");

  auto brightness = [&](int x, int y) {
    const uint8_t* p = &pixels[4 * (y * kSize + x)];
    return p[0] + p[1] + p[2];
  };
  // Nothing is drawn above the roots or below the tips.
  for (int x = 0; x < kSize; ++x) {
    EXPECT_EQ(brightness(x, pixelOf(kTop + 0.01f)), 0);
    EXPECT_EQ(brightness(x, pixelOf(kTop - 0.18f)), 0);
  }

  const int top = pixelOf(kTop) - 3, bottom = pixelOf(kTop - 0.16f) + 3, third = (top - bottom) / 3;
  double coverage[3];
  for (int s = 0; s < 3; ++s) {
    SCOPED_TRACE("texture " + std::to_string(textures[s]));
    // Inside the flat ribbon, clear of its edges: the alpha cut leaves part of it empty.
    const int left = pixelOf(xs[s] - 0.4f * kWidth), right = pixelOf(xs[s] + 0.4f * kWidth);
    int covered = 0, total = 0, runs = 0, n[2] = {0, 0};
    double sum[2] = {0, 0};  // brightness of the root and the tip thirds
    for (int x = left; x <= right; ++x) {
      for (int y = bottom; y <= top; ++y, ++total) {
        const int b = brightness(x, y), part = y >= top - third ? 0 : y <= bottom + third ? 1 : 2;
        covered += b > 0;
        if (b > 0 && part < 2) sum[part] += b, ++n[part];
      }
      // Across the ribbon, half-way down, strands alternate with gaps.
      const int y = pixelOf(kTop - 0.08f);
      runs += brightness(x, y) > 0 && (x == left || brightness(x - 1, y) == 0);
    }
    coverage[s] = static_cast<double>(covered) / total;
    EXPECT_GT(coverage[s], 0.05);
    EXPECT_LT(coverage[s], 0.95);
    EXPECT_GE(runs, 2);
    // The light curve brightens the strand from root to tip (a quarter light is not black).
    ASSERT_TRUE(n[0] > 0 && n[1] > 0);
    EXPECT_GT(sum[1] / n[1], 1.5 * (sum[0] / n[0]));
  }
  EXPECT_GT(coverage[0], coverage[2]) << "dense hair covers more than sparse hair";
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}
