// Hair strokes arched over the shipped head under the default light: their strands, cut by the
// hair alpha map, cast striped shadows on the head. A three-quarter view is also written as a PNG
// beside the test program, for a look by eye.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "core/hand_frames.h"
#include "render/grider.h"
#include "render/lit_scene.h"
#include "strokes/stroke_buffer.h"
#include "strokes/stroke_geometry.h"
#include "strokes/stroke_test_support.h"

namespace {

constexpr int kTop = 128;         // top view, pixels a side
constexpr float kHalfTop = 0.2f;  // metres from its middle to each edge
constexpr float kWidth = 0.04f;   // ribbon width
const float kStrandX[] = {-0.1f, 0.0f, 0.1f};

// A view-projection matrix looking from `eye` at `target` with +y up, perspective, seeing
// `halfWidth` to each side at distance 1.
Matrix4 lookAt(const Vec3f& eye, const Vec3f& target, float halfWidth) {
  const Vec3f back = normalized(eye - target);
  const Vec3f right = normalized(cross(Vec3f(0, 1, 0), back));
  const Vec3f up = cross(back, right);
  Matrix4 view;
  const Vec3f rows[3] = {right, up, back};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) view.at(r, c) = rows[r][c];
    view.at(r, 3) = -dot(rows[r], eye);
  }
  Matrix4 projection, viewProjection;
  computeProjectionMatrix(true, 0.2f * halfWidth, 0.2f * halfWidth, 0.1f, 20.0f, projection.data());
  return multiplyMatrix4(projection, viewProjection, view);
}

class StrokeShadowGL : public HairMapsGLTest {
 protected:
  void SetUp() override {
    HairMapsGLTest::SetUp();
    if (HasFatalFailure()) return;
    for (const char* asset : {"models/defaultHead", "models/geos"}) copyAsset(asset);
    m_scene = std::make_unique<LitScene>(400.0f);  // a 2000 x 2000 map, 1 mm a texel
    testing::internal::CaptureStdout();
    m_head = g_modeler->loadHead(rootPath("models/defaultHead/head.txt"));
    m_light = createDefaultLight();
    testing::internal::GetCapturedStdout();
    ASSERT_TRUE(m_head && m_light);
  }
  void TearDown() override {
    m_scene.reset();
    HairMapsGLTest::TearDown();
  }

  // A strand arched over the top of the head from the forehead to the back, 2 cm above the
  // skull's highest point, facing outwards.
  Operatable* archedStrand(float x) {
    const float radius = 0.16f;  // about the skull's
    const Vec3f centre(0.0f, topOfHead() + 0.02f - radius, -0.03f);
    Operatable* strand = m_store(makeStroke(2, 0, 0));
    strand->m_operation->set_width(kWidth);
    for (int i = 0; i <= 40; ++i) {
      const float angle = (70.0f - 170.0f * i / 40.0f) * 3.14159265f / 180.0f;  // from the front
      const Vec3f out(0.0f, std::cos(angle), std::sin(angle));
      quillax::Operation_Point* p = strand->m_operation->add_points();
      p->set_x(x);
      p->set_y(centre[1] + radius * out[1]);
      p->set_z(centre[2] + radius * out[2]);
      strand->m_operation->add_pitches()->set_x(1.0f);
      quillax::Operation_Point* n = strand->m_operation->add_normals();
      n->set_y(out[1]);
      n->set_z(out[2]);
    }
    return strand;
  }
  float topOfHead() const {
    const BoundingBox* box = m_head->box();
    float top = -1e9f;
    for (int corner = 0; corner < 8; ++corner) {
      const Vec3f local(corner & 1 ? box->m_max[0] : box->m_min[0], corner & 2 ? box->m_max[1] : box->m_min[1],
                        corner & 4 ? box->m_max[2] : box->m_min[2]);
      top = std::max(top, transformPoint(m_head->m_modelMatrix, local)[1]);
    }
    return top;
  }

  // The scene drawn into a square target from a view; RGBA rows from the bottom.
  std::vector<uint8_t> draw(int size, const Matrix4& viewProjection, StrokeBufferRender* strokes) {
    TestRenderTarget eye(size, size);
    EXPECT_TRUE(eye.complete());
    eye.bindAndClear(0.15f, 0.15f, 0.18f, 1);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    if (strokes) strokes->draw(Matrix4(), viewProjection);
    g_modeler->renderModels(viewProjection);
    std::vector<uint8_t> pixels = eye.readPixels();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return pixels;
  }

  StrokeStore m_store;
  std::unique_ptr<LitScene> m_scene;
  HeadModel* m_head = nullptr;
  LightModel* m_light = nullptr;
};

}  // namespace

TEST_F(StrokeShadowGL, StrandsArchedOverTheHeadCastStripedShadowsOnIt) {
  g_currentColor.set_red(0.9f);
  g_currentColor.set_green(0.68f);
  g_currentColor.set_blue(0.42f);
  StrokeBufferRender strands(StrokeBufferFormat(g_renderRows[1]), 8000000);
  for (float x : kStrandX) {
    Operatable* strand = archedStrand(x);
    strands.pushOperation(strand);
    strands.writeOperation(strand, true);
  }

  // From above, the head alone: first lit whole, then with the strands casting only.
  const Matrix4 topView = topViewProjection(kHalfTop);
  m_light->renderShadowMap();
  const std::vector<uint8_t> lit = draw(kTop, topView, nullptr);
  g_lightManager->m_drawStrokes = [&](const Matrix4& viewProjection) { strands.draw(Matrix4(), viewProjection); };
  m_light->renderShadowMap();
  const std::vector<uint8_t> shaded = draw(kTop, topView, nullptr);
  ASSERT_EQ(drainGLErrors(), 0u);

  // Under the middle of each ribbon part of the head darkens (the strands) and part stays lit
  // (the gaps the alpha map cuts); between the ribbons nothing changes.
  for (float x : kStrandX) {
    SCOPED_TRACE("strand at x " + std::to_string(x));
    int head = 0, darkened = 0;
    for (int column = 0; column < kTop; ++column) {
      const float worldX = ((column + 0.5f) / kTop * 2.0f - 1.0f) * kHalfTop;
      if (std::fabs(worldX - x) > 0.3f * kWidth) continue;
      for (int row = 0; row < kTop; ++row) {
        const uint8_t* before = &lit[4 * (row * kTop + column)];
        const uint8_t* after = &shaded[4 * (row * kTop + column)];
        const int b = before[0] + before[1] + before[2], a = after[0] + after[1] + after[2];
        if (b < 150) continue;  // background or already dark
        ++head;
        darkened += a < 0.85f * b;
      }
    }
    ASSERT_GT(head, 100);
    EXPECT_GT(darkened, head / 5);
    EXPECT_LT(darkened, head * 9 / 10);
  }
  for (int column = 0; column < kTop; ++column) {
    const float worldX = ((column + 0.5f) / kTop * 2.0f - 1.0f) * kHalfTop;
    if (std::fabs(worldX + 0.05f) > 0.01f && std::fabs(worldX - 0.05f) > 0.01f) continue;
    for (int row = 0; row < kTop; ++row)
      for (int c = 0; c < 3; ++c)
        ASSERT_NEAR(lit[4 * (row * kTop + column) + c], shaded[4 * (row * kTop + column) + c], 3);
  }

  // The picture: strands and head from the front right, above the eyes.
  const int size = 512;
  const Vec3f centre = m_head->box()->center(true);
  const Vec3f eye = centre + Vec3f(0.45f, 0.35f, 0.55f);
  g_headMatrix[0] = eye[0], g_headMatrix[1] = eye[1], g_headMatrix[2] = eye[2];
  std::vector<uint8_t> pixels = draw(size, lookAt(eye, centre + Vec3f(0, 0.08f, 0), 0.38f), &strands);
  ASSERT_NE(writePicture(pixels, size, size, "stroke_shadow_gl.png"), "");
}
