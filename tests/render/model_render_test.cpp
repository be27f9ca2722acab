#include "render/model_render.h"

#include <gtest/gtest.h>

#include <limits>
#include <memory>

#include "core/settings.h"
#include "platform/vr_runtime.h"
#include "render/render_gl_fixture.h"

namespace {

using Pixel = std::vector<uint8_t>;
const Pixel kBlack = {0, 0, 0, 255};
const Pixel kRed = {255, 0, 0, 255};

TEST(ModelRenderBlink, PhaseRunsDownAndUpOverFiveHundredDrawsAndTheCounterWraps) {
  const std::pair<int32_t, float> phases[] = {{250, 0.0f}, {0, 1.0f}, {500, 1.0f},
                                              {125, 0.5f}, {-1, 0.996f}};
  for (const auto& p : phases) EXPECT_NEAR(blinkPhase(p.first), p.second, 1e-6) << p.first;
  // The counter starts at -1 and may have wrapped: the phase stays within 0 to 1.
  for (int32_t c : {std::numeric_limits<int32_t>::min(), -251, std::numeric_limits<int32_t>::max()})
    EXPECT_TRUE(blinkPhase(c) >= 0.0f && blinkPhase(c) <= 1.0f) << c;

  const std::vector<int32_t> saved = g_modeState;
  g_modeState.assign(11, -1);
  EXPECT_EQ(advanceDrawCounter(), -1);
  EXPECT_EQ(advanceDrawCounter(), 0);
  g_modeState[6] = std::numeric_limits<int32_t>::max();
  EXPECT_EQ(advanceDrawCounter(), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(g_modeState[6], 0);
  g_modeState.clear();  // before the settings are loaded nothing is touched
  EXPECT_EQ(advanceDrawCounter(), 0);
  g_modeState = saved;
}

TEST(ModelRenderColour, SelectionBrushColourAndOwnColour) {
  ModelRender model("colour");
  model.setColor(Vec4f(0.1f, 0.2f, 0.3f, 0.4f));
  EXPECT_EQ(model.drawColor(0.3f), Vec4f(0.1f, 0.2f, 0.3f, 0.4f));
  // An alpha below -0.01 asks for the brush colour, scaled by its lightness.
  const quillax::Color savedColour = g_currentColor;
  g_currentColor.set_red(0.5f);
  g_currentColor.set_green(0.25f);
  g_currentColor.set_blue(1.0f);
  g_currentColor.set_lightness(0.5f);
  model.setColor(Vec4f(0.2f, 0.2f, 0.2f, -1.0f));
  EXPECT_EQ(model.drawColor(0.0f), Vec4f(0.25f, 0.125f, 0.5f, 1.0f));
  g_currentColor = savedColour;
  model.setSelected(true);
  for (float blink : {0.0f, 0.5f, 1.0f})
    EXPECT_EQ(model.drawColor(blink), Vec4f(1.0f, 1.0f, 1.0f - blink, 1.0f)) << blink;
}

// Two triangles covering the whole target at depth 0, positions only (shader row 0).
std::vector<float> fullScreenQuad() {
  return {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, -1, 0, 1, 1, 0, -1, 1, 0};
}

class ModelRenderGL : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    if (HasFatalFailure()) return;
    m_savedModeState = g_modeState;
    g_modeState.assign(11, -1);
    loadShaders();
    m_target.reset(new TestRenderTarget(8, 8));
  }
  void TearDown() override {
    EXPECT_EQ(drainGLErrors(), 0u);
    m_target.reset();
    g_modeState = m_savedModeState;
    RenderGLTest::TearDown();
  }
  // Clears the 8 x 8 target to black and draws the model untransformed.
  void draw(ModelRender& model) {
    m_target->bindAndClear(0, 0, 0, 1);
    model.render(m_identity, m_identity);
  }
  Pixel px(int x, int y) const { return m_target->pixel(x, y); }

  std::unique_ptr<TestRenderTarget> m_target;
  std::vector<int32_t> m_savedModeState;
  Matrix4 m_identity;
};

TEST_F(ModelRenderGL, MeshIsDrawnInItsColourAndUpdatedInPlace) {
  ModelRender model("quad");
  ASSERT_TRUE(model.uploadGeometry(fullScreenQuad(), 0, GL_TRIANGLES));
  model.setColor(Vec4f(1.0f, 0.0f, 0.0f, 1.0f));
  draw(model);
  EXPECT_EQ(px(4, 4), kRed);

  // A shorter update keeps the buffer: only the first triangle (lower right) is drawn.
  const std::vector<float> quad = fullScreenQuad();
  model.updateGeometry(std::vector<float>(quad.begin(), quad.begin() + 9));
  draw(model);
  EXPECT_EQ(px(6, 1), kRed);
  EXPECT_EQ(px(1, 6), kBlack);
  // Growing back to the capacity uploads again.
  model.updateGeometry(quad);
  draw(model);
  EXPECT_EQ(px(1, 6), kRed);
  model.setRenderable(false);  // hidden: nothing drawn
  draw(model);
  EXPECT_EQ(px(4, 4), kBlack);
}

TEST_F(ModelRenderGL, IndexedMeshesAndTheirGuards) {
  const std::vector<float> corners = {-1, -1, 0, 1, -1, 0, 1, 1, 0, -1, 1, 0};
  ModelRender model("indexed");
  const std::vector<uint32_t> indices = {0, 1, 2, 0, 2, 3};
  ASSERT_TRUE(model.uploadGeometry(corners, 0, GL_TRIANGLES, &indices));
  model.setColor(Vec4f(0.0f, 1.0f, 0.0f, 1.0f));
  draw(model);
  EXPECT_EQ(px(1, 6), (Pixel{0, 255, 0, 255}));
  // An indexed mesh ignores an update of another length.
  model.updateGeometry(std::vector<float>(9, 0.0f));
  draw(model);
  EXPECT_EQ(px(1, 6), (Pixel{0, 255, 0, 255}));

  // Two indices are not a mesh: drawn without an index buffer.
  ModelRender pair("pair");
  const std::vector<uint32_t> two = {0, 1};
  ASSERT_TRUE(pair.uploadGeometry(corners, 0, GL_LINES, &two));
  EXPECT_EQ(pair.m_ebo, 0u);
  EXPECT_EQ(pair.m_count, 4);

  // Indices beyond the vertices, an unknown shader and an empty layout are refused.
  ModelRender bad("bad");
  const std::vector<uint32_t> beyond = {0, 1, 4};
  const int locations[1] = {0};
  const uint32_t sizes[1] = {0};
  testing::internal::CaptureStdout();
  EXPECT_FALSE(bad.uploadGeometry(corners, 0, GL_TRIANGLES, &beyond));
  EXPECT_FALSE(bad.uploadGeometry(corners, 12, GL_TRIANGLES));
  EXPECT_FALSE(bad.uploadGeometry(corners, 0, GL_TRIANGLES, nullptr, locations, sizes, 1));
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("index 4 beyond the 4 vertices"), std::string::npos) << out;
  EXPECT_EQ(bad.m_vao, 0u);
  bad.render(m_identity, m_identity);  // nothing to draw, nothing happens
}

TEST_F(ModelRenderGL, CallerLayoutAndForcedPasses) {
  // Position then a blue colour at location 5, drawn by the per-vertex colour program (row 1).
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
  model.setColor(Vec4f(1.0f, 1.0f, 1.0f, 1.0f));
  draw(model);
  const Pixel own = px(4, 4);
  EXPECT_GT(own[2], 0) << "the blue vertex colour reaches the target";

  // A pass forcing program 0 skips objects without the pass flag and draws the others with it
  // (flat white); a pass of -1 keeps each object's own program.
  auto pass = [&](int forced, bool flag) {
    g_shaderManager->m_forced = forced;
    model.m_forcedPass = flag;
    draw(model);
    return px(4, 4);
  };
  EXPECT_EQ(pass(0, false), kBlack);
  EXPECT_EQ(pass(0, true), (Pixel{255, 255, 255, 255}));
  EXPECT_EQ(pass(-1, true), own);
}

TEST_F(ModelRenderGL, RuntimeRenderModelIsDrawnWithItsTexture) {
  // A full-screen quad of runtime vertices spanning a 2 x 2 texture: red, green (first row),
  // blue, white.
  const vr::RenderModelVertex vertices[4] = {{{{-1, -1, 0}}, {{0, 0, 1}}, {0, 0}},
                                             {{{1, -1, 0}}, {{0, 0, 1}}, {1, 0}},
                                             {{{1, 1, 0}}, {{0, 0, 1}}, {1, 1}},
                                             {{{-1, 1, 0}}, {{0, 0, 1}}, {0, 1}}};
  const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
  vr::RenderModel runtimeModel{vertices, 4, indices, 2};
  const uint8_t pixels[16] = {255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255, 255, 255, 255};
  const vr::RenderModelTexture texture{2, 2, pixels};

  ModelRender controller("controller");
  ASSERT_TRUE(controller.setupRenderModel(runtimeModel, texture));
  draw(controller);
  // Each corner shows its own texel, so positions and coordinates come from their own bytes.
  EXPECT_EQ((std::vector<Pixel>{px(1, 1), px(6, 1), px(1, 6), px(6, 6)}),
            (std::vector<Pixel>{kRed, {0, 255, 0, 255}, {0, 0, 255, 255}, {255, 255, 255, 255}}));

  // A model whose indices point past its vertices is refused.
  const uint16_t wrong[3] = {0, 1, 9};
  runtimeModel.m_indexData = wrong;
  runtimeModel.m_triangleCount = 1;
  ModelRender broken("broken");
  testing::internal::CaptureStdout();
  EXPECT_FALSE(broken.setupRenderModel(runtimeModel, texture));
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(broken.m_vao, 0u);
}

}  // namespace
