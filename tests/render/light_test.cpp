#include "render/light.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "render/lit_scene.h"
#include "render/render_gl_fixture.h"

namespace {

// The shipped light mesh and shaders in a lit scene with an eye render size of 20 x 20 (a
// 100 x 100 map) unless a test sets another.
class LightGLTest : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    if (HasFatalFailure()) return;
    m_savedParameters = g_parameters;
    g_parameters.set_asset_path(root());
    copyAsset("models/geos");
    m_scene = std::make_unique<LitScene>(20.0f);
  }
  void TearDown() override {
    m_scene.reset();
    g_parameters = m_savedParameters;
    RenderGLTest::TearDown();
  }
  quillax::Parameters m_savedParameters;
  std::unique_ptr<LitScene> m_scene;
};

std::vector<float> rounded(std::vector<float> values) {
  for (float& v : values) v = std::round(v * 1e4f) / 1e4f + 0.0f;  // + 0 turns -0 into 0
  return values;
}

}  // namespace

TEST_F(LightGLTest, TheShadowMapIsFiveTimesTheEyeSizeOrThereIsNoneAndNoPass) {
  GLint maxSize = 0;
  glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxSize);
  struct Case {
    float width, height;
    int32_t mapWidth, mapHeight;
    bool made;
  };
  const int32_t largest = std::min(maxSize, 16384);
  const float tooWide = static_cast<float>(largest / 5 + 1);  // brought down to what GL takes
  const Case cases[] = {
      {1512, 1680, 7560, 8400, true},
      {1, 1, 5, 5, false},
      {1.9f, 1000, 9, 5000, false},
      {tooWide, 20, largest, 100, true},
  };
  TestRenderTarget screen(8, 8);
  ASSERT_TRUE(screen.complete());
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.width) + " x " + std::to_string(c.height));
    LitScene::setEyeSize(c.width, c.height);
    LightModel light("light");
    testing::internal::CaptureStdout();
    EXPECT_EQ(light.createShadowMap(), c.made);
    testing::internal::GetCapturedStdout();
    drainGLErrors();
    EXPECT_EQ(std::vector<int32_t>({light.m_shadowMapWidth, light.m_shadowMapHeight}),
              std::vector<int32_t>({c.mapWidth, c.mapHeight}));
    EXPECT_EQ(light.shadowTexture() != 0, c.made);
    if (c.made) continue;
    // Without a target the pass leaves what is bound alone.
    screen.bindAndClear(1, 0, 0, 1);
    GLint bound = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &bound);
    light.renderShadowMap();
    GLint after = 0;
    glGetIntegerv(GL_FRAMEBUFFER_BINDING, &after);
    EXPECT_EQ(after, bound);
    EXPECT_EQ(screen.pixel(4, 4), (std::vector<uint8_t>{255, 0, 0, 255}));
  }
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

TEST_F(LightGLTest, TheDefaultLightSendsItsDirectionColourAndLightSpaceMatrix) {
  loadShaders();
  LightModel* light = createDefaultLight();
  ASSERT_NE(light, nullptr);
  EXPECT_EQ(g_lightManager->m_lights, std::vector<LightModel*>{light});
  EXPECT_NE(light->m_vao, 0u) << "the shipped mesh";
  EXPECT_EQ(g_lightManager->m_textures.names, std::vector<std::string>{"_Shadow_Map0"});

  const GLuint hair = g_shaderManager->programId(7), face = g_shaderManager->programId(8);
  EXPECT_EQ(uniformFloats(face, "m_lightPos0", 3), (std::vector<float>{0, 1, 0}));
  EXPECT_EQ(uniformFloats(hair, "m_lightColor0", 3), (std::vector<float>{1, 1, 1}));
  EXPECT_EQ(rounded({light->m_modelMatrix[12], light->m_modelMatrix[13], light->m_modelMatrix[14]}),
            (std::vector<float>{0, 1.5f, 0}));
  // Orthographic 2 x 2 x 40 after the view with rows X, Z, Y about (0, 1.5, 0): x stays x, z
  // becomes the map's y, and depth grows downwards, 0.05 per metre, 0 at the light.
  EXPECT_EQ(rounded(uniformFloats(hair, "m_lightSpaceMatrix0", 16)),
            (std::vector<float>{1, 0, 0, 0, 0, 0, -0.05f, 0, 0, 1, 0, 0, 0, 0, 0.075f, 1}));

  // Turned 90 degrees about x: its +Y now points along +z, so it shines along -z.
  Matrix4 turned;
  turned.at(1, 1) = 0, turned.at(2, 1) = 1, turned.at(1, 2) = -1, turned.at(2, 2) = 0;
  turned.at(1, 3) = 1.5f;
  ASSERT_TRUE(g_shaderManager->useProgram(2));
  light->setTransform(turned);
  GLint bound = 0;  // sent to every program, the current one bound again for the draws that follow
  glGetIntegerv(GL_CURRENT_PROGRAM, &bound);
  EXPECT_EQ(static_cast<GLuint>(bound), g_shaderManager->programId(2));
  EXPECT_EQ(rounded(uniformFloats(face, "m_lightPos0", 3)), (std::vector<float>{0, 0, 1}));
  // Depth in the light's (orthographic) view: the clip z of a world point.
  auto depth = [&](const Vec3f& p) { return transformPoint(light->m_lightSpaceMatrix, p)[2]; };
  const Vec3f at(0, 1.5f, 0);
  EXPECT_GT(depth(at + Vec3f(0, 0, -1)), depth(at) + 0.04f);
  EXPECT_FLOAT_EQ(depth(at + Vec3f(0.5f, 0.5f, 0)), depth(at));
}

// The shipped head seen from above, lit through a map made with and without its back faces.
TEST_F(LightGLTest, CullingTheHeadsBackFacesKeepsItsImage) {
  copyAsset("models/defaultHead");
  LitScene::setEyeSize(200, 200);  // a 1000 x 1000 map, 2 mm a texel
  loadShaders();
  testing::internal::CaptureStdout();
  HeadModel* head = g_modeler->loadHead(rootPath("models/defaultHead/head.txt"));
  LightModel* light = createDefaultLight();
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(head && light);
  auto topView = [&] {
    light->renderShadowMap();
    TestRenderTarget eye(128, 128);
    eye.bindAndClear(0, 0, 0, 1);
    glEnable(GL_DEPTH_TEST);
    g_modeler->renderModels(topViewProjection(0.3f));
    std::vector<uint8_t> pixels = eye.readPixels();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return pixels;
  };
  const std::vector<uint8_t> culled = topView();
  head->m_cullBackFaces = false;
  const std::vector<uint8_t> twoSided = topView();
  int differing = 0;
  for (size_t i = 0; i < culled.size(); ++i) differing += std::abs(culled[i] - twoSided[i]) > 2;
  EXPECT_EQ(differing, 0);
  EXPECT_GT(std::count_if(culled.begin(), culled.end(), [](uint8_t v) { return v > 0; }), 10000);
}
