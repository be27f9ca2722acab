#include "render/framebuffer.h"

#include <gtest/gtest.h>

#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <utility>
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
    EXPECT_EQ(drainGLErrors(), 0u);
    AssetRootTest::TearDown();
  }
  // Clears the lower-left w x h rectangle of a framebuffer to an opaque colour.
  static void fill(GLuint framebuffer, int w, int h, float r, float g, float b) {
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, w, h);
    glClearColor(r, g, b, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    glDisable(GL_SCISSOR_TEST);
  }
  // The RGBA of one pixel of a framebuffer, y from the bottom.
  static std::vector<uint8_t> pixel(GLuint framebuffer, int x, int y) {
    std::vector<uint8_t> rgba(4);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, rgba.data());
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return rgba;
  }
};

}  // namespace

TEST_F(FramebufferGLTest, SampleCountsAreRaisedToFourAndClampedToTheDriver) {
  const int maximum = maxFramebufferSamples();
  ASSERT_GE(maximum, 1);
  // {asked, used}: 12 is the default multisample_size.
  const int cases[][2] = {{12, std::min(12, maximum)}, {0, std::min(4, maximum)},
                          {1, std::min(4, maximum)}};
  for (const auto& c : cases) {
    FramebufferMultiDesc target;
    ASSERT_TRUE(target.init(16, 16, c[0])) << c[0];
    GLint samples = 0;
    glBindTexture(GL_TEXTURE_2D_MULTISAMPLE, target.m_color);
    glGetTexLevelParameteriv(GL_TEXTURE_2D_MULTISAMPLE, 0, GL_TEXTURE_SAMPLES, &samples);
    EXPECT_EQ(samples, c[1]) << c[0];
  }
}

TEST_F(FramebufferGLTest, ResolveCopiesColourAndDepth) {
  FramebufferMultiDesc eye;
  eye.m_depthAsRenderbuffer = false;
  ASSERT_TRUE(eye.init(8, 8, 4));
  ASSERT_NE(eye.m_resolveDepth, 0u);
  glBindFramebuffer(GL_FRAMEBUFFER, eye.m_framebuffer);
  glClearDepth(0.25);
  glClear(GL_DEPTH_BUFFER_BIT);
  glClearDepth(1.0);
  // Red with the lower-left quarter green, so the resolve must keep positions.
  fill(eye.m_framebuffer, 8, 8, 1, 0, 0);
  fill(eye.m_framebuffer, 4, 4, 0, 1, 0);
  eye.resolve();
  EXPECT_EQ(pixel(eye.m_resolveFramebuffer, 1, 1), (std::vector<uint8_t>{0, 255, 0, 255}));
  EXPECT_EQ(pixel(eye.m_resolveFramebuffer, 6, 6), (std::vector<uint8_t>{255, 0, 0, 255}));
  std::vector<float> depth(64, -1.0f);
  glBindTexture(GL_TEXTURE_2D, eye.m_resolveDepth);
  glGetTexImage(GL_TEXTURE_2D, 0, GL_DEPTH_COMPONENT, GL_FLOAT, depth.data());
  EXPECT_NEAR(depth[0], 0.25f, 1e-4);
  EXPECT_NEAR(depth[63], 0.25f, 1e-4);

  FramebufferMultiDesc never;  // never initialised: nothing to resolve, nothing to delete
  never.resolve();
}

TEST_F(FramebufferGLTest, SavedImageHasTheTopRowFirst) {
  FramebufferDesc capture;
  ASSERT_TRUE(capture.init(4, 2, 1));
  fill(capture.m_framebuffer, 4, 2, 0, 0, 1);  // blue top row
  fill(capture.m_framebuffer, 4, 1, 1, 0, 0);  // red bottom row
  const std::string path = rootPath("capture.png");
  ASSERT_TRUE(saveFramebufferImage(path, 4, 2, capture.m_framebuffer));
  const cv::Mat image = cv::imread(path, cv::IMREAD_COLOR);
  ASSERT_EQ(image.size(), cv::Size(4, 2));
  EXPECT_EQ(image.at<cv::Vec3b>(0, 0), cv::Vec3b(255, 0, 0));  // BGR: blue first
  EXPECT_EQ(image.at<cv::Vec3b>(1, 3), cv::Vec3b(0, 0, 255));  // red last

  // Unwritable: false, never a thrown codec error.
  testing::internal::CaptureStdout();
  for (const char* bad : {"no/such/folder/capture.png", "capture.unknown"})
    EXPECT_FALSE(saveFramebufferImage(rootPath(bad), 4, 2, capture.m_framebuffer)) << bad;
  testing::internal::GetCapturedStdout();
}

TEST(Projection, PerspectiveAndOrthographicMapNearAndFar) {
  // {perspective, width, height, near, far, expected p[0], p[5]}
  const float cases[][7] = {{1, 0.2f, 0.2f, 0.1f, 100.0f, 1.0f, 1.0f},
                            {0, 4.0f, 2.0f, 1.0f, 11.0f, 0.5f, 1.0f}};
  for (const auto& c : cases) {
    float p[16];
    computeProjectionMatrix(c[0] != 0, c[1], c[2], c[3], c[4], p);
    EXPECT_EQ(std::make_pair(p[0], p[5]), std::make_pair(c[5], c[6])) << c[0];
    // Depth in clip space: z = -near maps to -1, z = -far to +1.
    auto ndcZ = [&](float z) { return (p[10] * z + p[14]) / (p[11] * z + p[15]); };
    EXPECT_NEAR(ndcZ(-c[3]), -1.0f, 1e-4) << c[0];
    EXPECT_NEAR(ndcZ(-c[4]), 1.0f, 1e-4) << c[0];
  }
}
