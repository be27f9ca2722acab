#include "render/framebuffer.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <vector>

#include "support/asset_root.h"
#include "support/gl_context.h"

namespace {

class FramebufferGLTest : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    ASSERT_TRUE(ensureTestGLContext()) << "run GL tests under xvfb-run -a";
    drainGLErrors();
  }
  void TearDown() override {
    EXPECT_EQ(drainGLErrors(), static_cast<unsigned>(GL_NO_ERROR));
    AssetRootTest::TearDown();
  }

  static GLint textureSamples(GLuint texture) {
    GLint samples = 0;
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, texture);
    glGetTexLevelParameteriv(GL_TEXTURE_2D_MULTISAMPLE, 0, GL_TEXTURE_SAMPLES, &samples);
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, 0);
    return samples;
  }

  static std::vector<uint8_t> readColor(GLuint framebuffer, int x, int y) {
    std::vector<uint8_t> rgba(4);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return rgba;
  }
};

}  // namespace

TEST_F(FramebufferGLTest, PlainAndDepthOnlyTargetsAreComplete) {
  FramebufferDesc colour;
  ASSERT_TRUE(colour.init(32, 16, 1));
  EXPECT_NE(colour.m_color, 0u);
  EXPECT_NE(colour.m_depth, 0u);

  FramebufferDesc shadow;
  shadow.m_depthAsRenderbuffer = false;
  ASSERT_TRUE(shadow.init(64, 64, 0));
  EXPECT_EQ(shadow.m_color, 0u);
  EXPECT_TRUE(glIsTexture(shadow.m_depth));
  glBindFramebuffer(GL_FRAMEBUFFER, shadow.m_framebuffer);
  GLint drawBuffer = -1, readBuffer = -1;
  glGetIntegerv(GL_DRAW_BUFFER, &drawBuffer);
  glGetIntegerv(GL_READ_BUFFER, &readBuffer);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  EXPECT_EQ(drawBuffer, GL_NONE);
  EXPECT_EQ(readBuffer, GL_NONE);
}

TEST_F(FramebufferGLTest, SampleCountsAreRaisedToFourAndClampedToTheDriver) {
  const int maximum = maxFramebufferSamples();
  ASSERT_GE(maximum, 1);
  FramebufferMultiDesc fromSettings;
  ASSERT_TRUE(fromSettings.init(16, 16, 12));  // the default multisample_size
  EXPECT_EQ(fromSettings.m_samples, std::min(12, maximum));
  EXPECT_EQ(textureSamples(fromSettings.m_color), fromSettings.m_samples);

  for (int asked : {0, 1}) {
    FramebufferMultiDesc low;
    ASSERT_TRUE(low.init(16, 16, asked));
    EXPECT_EQ(low.m_samples, std::min(4, maximum)) << asked;
  }
}

TEST_F(FramebufferGLTest, ResolveCopiesColourAndDepth) {
  FramebufferMultiDesc eye;
  eye.m_depthAsRenderbuffer = false;
  ASSERT_TRUE(eye.init(8, 8, 4));
  ASSERT_NE(eye.m_resolveDepth, 0u);
  glBindFramebuffer(GL_FRAMEBUFFER, eye.m_framebuffer);
  glViewport(0, 0, 8, 8);
  glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
  glClearDepth(0.25);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  // Only the lower-left quarter green, so the resolve must keep positions.
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, 4, 4);
  glClearColor(0.0f, 1.0f, 0.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  glClearDepth(1.0);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  eye.resolve();

  EXPECT_EQ(readColor(eye.m_resolveFramebuffer, 1, 1), (std::vector<uint8_t>{0, 255, 0, 255}));
  EXPECT_EQ(readColor(eye.m_resolveFramebuffer, 6, 6), (std::vector<uint8_t>{255, 0, 0, 255}));
  std::vector<float> depth(64, -1.0f);
  glBindTexture(GL_TEXTURE_2D, eye.m_resolveDepth);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
  glBindTexture(GL_TEXTURE_2D, 0);
  EXPECT_NEAR(depth[0], 0.25f, 1e-4);
  EXPECT_NEAR(depth[63], 0.25f, 1e-4);

  FramebufferMultiDesc never;  // never initialised: nothing to resolve, nothing to delete
  never.resolve();
}

TEST_F(FramebufferGLTest, SavedImageHasTheTopRowFirst) {
  FramebufferDesc capture;
  ASSERT_TRUE(capture.init(4, 2, 1));
  glBindFramebuffer(GL_FRAMEBUFFER, capture.m_framebuffer);
  glViewport(0, 0, 4, 2);
  glClearColor(0.0f, 0.0f, 1.0f, 1.0f);  // blue top row
  glClear(GL_COLOR_BUFFER_BIT);
  glEnable(GL_SCISSOR_TEST);
  glScissor(0, 0, 4, 1);
  glClearColor(1.0f, 0.0f, 0.0f, 1.0f);  // red bottom row
  glClear(GL_COLOR_BUFFER_BIT);
  glDisable(GL_SCISSOR_TEST);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);

  const std::string path = rootPath("capture.png");
  ASSERT_TRUE(saveFramebufferImage(path, 4, 2, capture.m_framebuffer));
  const cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
  ASSERT_EQ(image.rows, 2);
  ASSERT_EQ(image.cols, 4);
  EXPECT_EQ(image.at<cv::Vec3b>(0, 0), cv::Vec3b(255, 0, 0));  // BGR: blue first
  EXPECT_EQ(image.at<cv::Vec3b>(1, 3), cv::Vec3b(0, 0, 255));  // red last

  testing::internal::CaptureStdout();
  EXPECT_FALSE(saveFramebufferImage(rootPath("no/such/folder/capture.png"), 4, 2, capture.m_framebuffer));
  EXPECT_FALSE(saveFramebufferImage(rootPath("capture.unknown"), 4, 2, capture.m_framebuffer));
  testing::internal::GetCapturedStdout();
}

TEST(Projection, PerspectiveAndOrthographicMapNearAndFar) {
  float p[16];
  computeProjectionMatrix(true, 0.2f, 0.2f, 0.1f, 100.0f, p);
  EXPECT_FLOAT_EQ(p[0], 1.0f);
  EXPECT_FLOAT_EQ(p[5], 1.0f);
  EXPECT_FLOAT_EQ(p[11], -1.0f);
  EXPECT_FLOAT_EQ(p[15], 0.0f);
  // Depth in clip space: z = -near maps to -1, z = -far to +1.
  auto ndcZ = [&](float z) { return (p[10] * z + p[14]) / (p[11] * z + p[15]); };
  EXPECT_NEAR(ndcZ(-0.1f), -1.0f, 1e-4);
  EXPECT_NEAR(ndcZ(-100.0f), 1.0f, 1e-4);

  computeProjectionMatrix(false, 4.0f, 2.0f, 1.0f, 11.0f, p);
  EXPECT_FLOAT_EQ(p[0], 0.5f);
  EXPECT_FLOAT_EQ(p[5], 1.0f);
  EXPECT_FLOAT_EQ(p[10] * -1.0f + p[14], -1.0f);
  EXPECT_FLOAT_EQ(p[10] * -11.0f + p[14], 1.0f);
  EXPECT_FLOAT_EQ(p[15], 1.0f);
}
