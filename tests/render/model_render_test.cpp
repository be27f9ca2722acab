#include "render/model_render.h"

#include <gtest/gtest.h>

#include <limits>

#include "core/settings.h"
#include "platform/vr_runtime.h"
#include "render/render_gl_fixture.h"

TEST(ModelRenderBlink, PhaseRunsDownAndUpOverFiveHundredDraws) {
  EXPECT_FLOAT_EQ(blinkPhase(250), 0.0f);
  EXPECT_FLOAT_EQ(blinkPhase(0), 1.0f);
  EXPECT_FLOAT_EQ(blinkPhase(500), 1.0f);
  EXPECT_FLOAT_EQ(blinkPhase(125), 0.5f);
  // The counter starts at -1 and may have wrapped: the phase stays within 0 to 1.
  EXPECT_NEAR(blinkPhase(-1), 0.996f, 1e-6);
  for (int32_t c : {std::numeric_limits<int32_t>::min(), -251, std::numeric_limits<int32_t>::max()}) {
    EXPECT_GE(blinkPhase(c), 0.0f) << c;
    EXPECT_LE(blinkPhase(c), 1.0f) << c;
  }
}

TEST(ModelRenderBlink, DrawCounterAdvancesAndWraps) {
  const std::vector<int32_t> saved = g_modeState;
  g_modeState.assign(11, -1);
  EXPECT_EQ(advanceDrawCounter(), -1);
  EXPECT_EQ(advanceDrawCounter(), 0);
  EXPECT_EQ(g_modeState[6], 1);
  g_modeState[6] = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(advanceDrawCounter(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(g_modeState[6], 0);
  g_modeState.clear();  // before the settings are loaded nothing is touched
  EXPECT_EQ(advanceDrawCounter(), 0);
  g_modeState = saved;
}

TEST(ModelRenderColour, SelectionBrushColourAndOwnColour) {
  ModelRender model("colour");
  model.setColor(Vec<4, float>(0.1f, 0.2f, 0.3f, 0.4f));
  EXPECT_EQ(model.drawColor(0.3f), (Vec<4, float>(0.1f, 0.2f, 0.3f, 0.4f)));

  const quillax::Color savedColour = g_currentColor;
  g_currentColor.set_red(0.5f);
  g_currentColor.set_green(0.25f);
  g_currentColor.set_blue(1.0f);
  g_currentColor.set_lightness(0.5f);
  model.setColor(Vec<4, float>(0.2f, 0.2f, 0.2f, -1.0f));
  EXPECT_EQ(model.drawColor(0.0f), (Vec<4, float>(0.25f, 0.125f, 0.5f, 1.0f)));
  g_currentColor = savedColour;

  model.setSelected(true);
  EXPECT_EQ(model.drawColor(blinkPhase(250)), (Vec<4, float>(1.0f, 1.0f, 1.0f, 1.0f)));
  EXPECT_EQ(model.drawColor(blinkPhase(500)), (Vec<4, float>(1.0f, 1.0f, 0.0f, 1.0f)));
  EXPECT_EQ(model.drawColor(blinkPhase(125)), (Vec<4, float>(1.0f, 1.0f, 0.5f, 1.0f)));
}

namespace {

// Two triangles covering the whole target at depth 0, positions only (shader row 0).
std::vector<float> fullScreenQuad() {
  return {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, -1, 0, 1, 1, 0, -1, 1, 0};
}

}  // namespace

class ModelRenderGL : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    if (HasFatalFailure()) return;
    m_savedModeState = g_modeState;
    g_modeState.assign(11, -1);
    loadShaders();
  }
  void TearDown() override {
    g_modeState = m_savedModeState;
    RenderGLTest::TearDown();
  }

  std::vector<int32_t> m_savedModeState;
  Matrix4 m_identity;
};

TEST_F(ModelRenderGL, MeshIsDrawnInItsColourAndUpdatedInPlace) {
  TestRenderTarget target(8, 8);
  ASSERT_TRUE(target.complete());
  ModelRender model("quad");
  ASSERT_TRUE(model.uploadGeometry(fullScreenQuad(), 0, GL_TRIANGLES));
  EXPECT_EQ(model.m_count, 6);
  EXPECT_EQ(model.m_floatCount, 18u);
  EXPECT_EQ(model.m_ebo, 0u);
  model.setColor(Vec<4, float>(1.0f, 0.0f, 0.0f, 1.0f));

  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  EXPECT_EQ(target.pixel(4, 4), (std::vector<uint8_t>{255, 0, 0, 255}));
  EXPECT_EQ(g_modeState[6], 0) << "one draw moved the counter on from -1";

  // A shorter update keeps the buffer: only the first triangle (lower right) is drawn.
  const GLuint vbo = model.m_vbo;
  const std::vector<float> quad = fullScreenQuad();
  const std::vector<float> firstTriangle(quad.begin(), quad.begin() + 9);
  model.updateGeometry(firstTriangle);
  EXPECT_EQ(model.m_vbo, vbo);
  EXPECT_EQ(model.m_count, 3);
  EXPECT_EQ(model.m_floatCount, 18u);
  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  EXPECT_EQ(target.pixel(6, 1), (std::vector<uint8_t>{255, 0, 0, 255}));
  EXPECT_EQ(target.pixel(1, 6), (std::vector<uint8_t>{0, 0, 0, 255}));

  // Growing back to the capacity uploads again.
  model.updateGeometry(fullScreenQuad());
  EXPECT_EQ(model.m_count, 6);
  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  EXPECT_EQ(target.pixel(1, 6), (std::vector<uint8_t>{255, 0, 0, 255}));

  // Hidden objects do not draw.
  model.setRenderable(false);
  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  EXPECT_EQ(target.pixel(4, 4), (std::vector<uint8_t>{0, 0, 0, 255}));
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(ModelRenderGL, IndexedMeshesAndTheirGuards) {
  TestRenderTarget target(8, 8);
  const std::vector<float> corners = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
  ModelRender model("indexed");
  const std::vector<uint32_t> indices = {0, 1, 2, 0, 2, 3};
  ASSERT_TRUE(model.uploadGeometry(corners, 0, GL_TRIANGLES, &indices));
  EXPECT_NE(model.m_ebo, 0u);
  EXPECT_EQ(model.m_count, 6);
  model.setColor(Vec<4, float>(0.0f, 1.0f, 0.0f, 1.0f));
  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  EXPECT_EQ(target.pixel(1, 6), (std::vector<uint8_t>{0, 255, 0, 255}));

  // An indexed mesh ignores an update of another length.
  model.updateGeometry(std::vector<float>(9, 0.0f));
  EXPECT_EQ(model.m_count, 6);
  EXPECT_EQ(model.m_floatCount, 12u);

  // Two indices are not a mesh: drawn without an index buffer.
  ModelRender pair("pair");
  const std::vector<uint32_t> two = {0, 1};
  ASSERT_TRUE(pair.uploadGeometry(corners, 0, GL_LINES, &two));
  EXPECT_EQ(pair.m_ebo, 0u);
  EXPECT_EQ(pair.m_count, 4);

  // Indices beyond the vertices, an unknown shader and an empty layout are refused.
  ModelRender bad("bad");
  const std::vector<uint32_t> beyond = {0, 1, 4};
  testing::internal::CaptureStdout();
  EXPECT_FALSE(bad.uploadGeometry(corners, 0, GL_TRIANGLES, &beyond));
  EXPECT_FALSE(bad.uploadGeometry(corners, 12, GL_TRIANGLES));
  const int locations[1] = {0};
  const uint32_t sizes[1] = {0};
  EXPECT_FALSE(bad.uploadGeometry(corners, 0, GL_TRIANGLES, nullptr, locations, sizes, 1));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("index 4 beyond the 4 vertices"), std::string::npos) << out;
  EXPECT_EQ(bad.m_vao, 0u);
  bad.render(m_identity, m_identity);  // nothing to draw, nothing happens
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(ModelRenderGL, CallerLayoutAndForcedPasses) {
  TestRenderTarget target(8, 8);
  // Position then a colour at location 5, drawn by the per-vertex colour program (row 1).
  const std::vector<float> quad = fullScreenQuad();
  std::vector<float> vertices;
  for (size_t i = 0; i < quad.size(); i += 3) {
    vertices.insert(vertices.end(), quad.begin() + i, quad.begin() + i + 3);
    vertices.insert(vertices.end(), {0.0f, 0.0f, 1.0f});
  }
  ModelRender model("layout");
  const int locations[2] = {0, 5};
  const uint32_t sizes[2] = {3, 3};
  ASSERT_TRUE(model.uploadGeometry(vertices, 1, GL_TRIANGLES, nullptr, locations, sizes, 2));
  EXPECT_EQ(model.m_floatsPerVertex, 6u);
  EXPECT_EQ(model.m_count, 6);
  model.setColor(Vec<4, float>(1.0f, 1.0f, 1.0f, 1.0f));

  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  const std::vector<uint8_t> drawn = target.pixel(4, 4);
  EXPECT_GT(drawn[2], 0) << "the blue vertex colour reaches the target";

  // A pass forcing program 0: objects without the pass flag draw nothing.
  g_shaderManager->m_forced = 0;
  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  EXPECT_EQ(target.pixel(4, 4), (std::vector<uint8_t>{0, 0, 0, 255}));
  EXPECT_EQ(g_shaderManager->m_current, 0u);

  // With the flag set they draw with the forced program (flat colour, here white).
  model.m_forcedPass = true;
  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  EXPECT_EQ(target.pixel(4, 4), (std::vector<uint8_t>{255, 255, 255, 255}));

  // A pass keeping each object's own program.
  g_shaderManager->m_forced = -1;
  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  EXPECT_EQ(g_shaderManager->m_current, 1u);
  EXPECT_EQ(target.pixel(4, 4), drawn);
  g_shaderManager->m_forced = -2;
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(ModelRenderGL, ProgramThatFailedToBuildDrawsNothing) {
  delete g_shaderManager;
  writeFile("shaders/simple_color_out.fs", "#version 410 core\nvoid main() { broken }\n");
  loadShaders();
  TestRenderTarget target(8, 8);
  ModelRender model("quad");
  ASSERT_TRUE(model.uploadGeometry(fullScreenQuad(), 0, GL_TRIANGLES));
  model.setColor(Vec<4, float>(1.0f, 0.0f, 0.0f, 1.0f));
  target.bindAndClear(0, 0, 0, 1);
  model.render(m_identity, m_identity);
  EXPECT_EQ(target.pixel(4, 4), (std::vector<uint8_t>{0, 0, 0, 255}));
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(ModelRenderGL, RuntimeRenderModelIsDrawnWithItsTexture) {
  TestRenderTarget target(8, 8);
  vr::RenderModelVertex vertices[4];
  const float corners[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
  for (int i = 0; i < 4; ++i) {
    vertices[i].m_position = {{corners[i][0], corners[i][1], 0.0f}};
    vertices[i].m_normal = {{0.0f, 0.0f, 1.0f}};
    vertices[i].m_textureCoord[0] = (corners[i][0] + 1) / 2;
    vertices[i].m_textureCoord[1] = (corners[i][1] + 1) / 2;
  }
  const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
  vr::RenderModel runtimeModel;
  runtimeModel.m_vertexData = vertices;
  runtimeModel.m_vertexCount = 4;
  runtimeModel.m_indexData = indices;
  runtimeModel.m_triangleCount = 2;
  std::vector<uint8_t> pixels(4 * 4 * 4);
  for (size_t i = 0; i < pixels.size(); i += 4) {
    pixels[i] = 200;
    pixels[i + 1] = 100;
    pixels[i + 2] = 50;
    pixels[i + 3] = 255;
  }
  vr::RenderModelTexture texture;
  texture.m_width = 4;
  texture.m_height = 4;
  texture.m_data = pixels.data();

  ModelRender controller("controller");
  ASSERT_TRUE(controller.setupRenderModel(runtimeModel, texture));
  EXPECT_EQ(controller.m_shaderIndex, 2u);
  EXPECT_EQ(controller.m_indexType, static_cast<GLenum>(GL_UNSIGNED_SHORT));
  EXPECT_EQ(controller.m_count, 6);
  EXPECT_EQ(controller.m_textures.names, (std::vector<std::string>{"_Diffuse_Map0"}));
  target.bindAndClear(0, 0, 0, 1);
  controller.render(m_identity, m_identity);
  const std::vector<uint8_t> centre = target.pixel(4, 4);
  EXPECT_NEAR(centre[0], 200, 2);
  EXPECT_NEAR(centre[1], 100, 2);
  EXPECT_NEAR(centre[2], 50, 2);

  // A model whose indices point past its vertices is refused.
  const uint16_t wrong[3] = {0, 1, 9};
  runtimeModel.m_indexData = wrong;
  runtimeModel.m_triangleCount = 1;
  ModelRender broken("broken");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(broken.setupRenderModel(runtimeModel, texture));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(broken.m_vao, 0u);
  EXPECT_EQ(drainGLErrors(), 0u);
}
