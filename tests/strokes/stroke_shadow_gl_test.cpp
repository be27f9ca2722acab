// Hair strokes arched over the shipped head under the default light cast soft, continuous shadows
// on it, and show their own colour lit and in the head's shadow. A three-quarter view is also written as a PNG
// beside the test program, for a look by eye.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "core/hand_frames.h"
#include "render/grider.h"
#include "render/lit_scene.h"
#include "strokes/stroke_buffer.h"
#include "strokes/stroke_geometry.h"
#include "strokes/stroke_test_support.h"

namespace {

constexpr int kTop = 256;         // top view, pixels a side (1.6 mm)
constexpr int kCoarse = 96;       // the same seen coarsely (4.2 mm), where strand shadows go dotted
constexpr float kHalfTop = 0.2f;  // metres from its middle to each edge
constexpr float kWidth = 0.02f;   // ribbon width, the brush's first
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
    m_scene = std::make_unique<LitScene>(1000.0f);  // the map start-up makes: 5000 a side
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
      setPoint(strand->m_operation->add_points(), Vec3f(x, centre[1], centre[2]) + out * radius);
      strand->m_operation->add_pitches()->set_x(1.0f);
      setPoint(strand->m_operation->add_normals(), out);
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

  // A dense strand through `points`, every point with the ribbon normal `normal`, pitch their
  // cross product with the strand direction so the ribbon lies flat across it.
  Operatable* strandThrough(const std::vector<Vec3f>& points, const Vec3f& normal, float width) {
    Operatable* strand = m_store(makeStroke(1, 0, 0));
    strand->m_operation->set_width(width);
    for (size_t i = 0; i < points.size(); ++i) {
      const Vec3f along = normalized(points[std::min(i + 1, points.size() - 1)] - points[i ? i - 1 : 0]);
      const Vec3f pitch = normalized(cross(along, normal));
      setPoint(strand->m_operation->add_points(), points[i]);
      setPoint(strand->m_operation->add_pitches(), pitch);
      setPoint(strand->m_operation->add_normals(), normal);
    }
    return strand;
  }

  StrokeStore m_store;
  std::unique_ptr<LitScene> m_scene;
  HeadModel* m_head = nullptr;
  LightModel* m_light = nullptr;
};

}  // namespace

TEST_F(StrokeShadowGL, StrandsArchedOverTheHeadCastSoftContinuousShadowsOnIt) {
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
  const std::vector<uint8_t> lit = draw(kTop, topView, nullptr), coarseLit = draw(kCoarse, topView, nullptr);
  g_lightManager->m_drawStrokes = [&](const Matrix4& viewProjection) { strands.draw(Matrix4(), viewProjection); };
  m_light->renderShadowMap();
  const std::vector<uint8_t> shaded = draw(kTop, topView, nullptr), coarseShaded = draw(kCoarse, topView, nullptr);
  ASSERT_EQ(drainGLErrors(), 0u);

  // Under the middle of each ribbon the head darkens all along, not strand by strand, and softly:
  // light passes the gaps the alpha map cuts. Between the ribbons nothing changes.
  for (float x : kStrandX) {
    SCOPED_TRACE("strand at x " + std::to_string(x));
    int head = 0, darkened = 0, black = 0;
    for (int column = 0; column < kTop; ++column) {
      const float worldX = ((column + 0.5f) / kTop * 2.0f - 1.0f) * kHalfTop;
      if (std::fabs(worldX - x) > 0.3f * kWidth) continue;
      for (int row = 0; row < kTop; ++row) {
        // Only where the arch passes over the skull, clear of its ends.
        const float worldZ = -((row + 0.5f) / kTop * 2.0f - 1.0f) * kHalfTop;
        if (worldZ < -0.12f || worldZ > 0.09f) continue;
        const uint8_t* before = &lit[4 * (row * kTop + column)];
        const uint8_t* after = &shaded[4 * (row * kTop + column)];
        const int b = before[0] + before[1] + before[2], a = after[0] + after[1] + after[2];
        if (b < 150) continue;  // background or already dark
        ++head;
        darkened += a < 0.9f * b;
        black += a < 0.2f * b;
      }
    }
    ASSERT_GT(head, 100);
    EXPECT_GT(darkened, head * 9 / 10);
    EXPECT_EQ(black, 0);

    // Seen coarsely, each row across the band darkens over more than one pixel with no lit pixel
    // between darkened ones: a filter narrower than a pixel leaves lit holes between strand shadows.
    int rows = 0, holed = 0, thin = 0;
    for (int row = 0; row < kCoarse; ++row) {
      const float worldZ = -((row + 0.5f) / kCoarse * 2.0f - 1.0f) * kHalfTop;
      if (worldZ < -0.12f || worldZ > 0.09f) continue;
      std::string across;  // 'x' darkened, '.' not
      for (int column = 0; column < kCoarse; ++column) {
        const float worldX = ((column + 0.5f) / kCoarse * 2.0f - 1.0f) * kHalfTop;
        if (std::fabs(worldX - x) > 0.75f * kWidth) continue;
        const uint8_t* before = &coarseLit[4 * (row * kCoarse + column)];
        const uint8_t* after = &coarseShaded[4 * (row * kCoarse + column)];
        const int b = before[0] + before[1] + before[2], a = after[0] + after[1] + after[2];
        across += a < 0.9f * b ? 'x' : '.';
      }
      const size_t first = across.find('x'), last = across.rfind('x');
      ++rows;
      thin += first == last;
      holed += first != std::string::npos && across.find('.', first) < last;
    }
    ASSERT_GT(rows, 20);
    EXPECT_EQ(thin, 0);
    EXPECT_LE(holed, rows / 20);
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

namespace {

// Median colour of the pixels where `with` differs from `without` (the strand's own pixels).
Vec3f medianWhereChanged(const std::vector<uint8_t>& with, const std::vector<uint8_t>& without) {
  std::vector<float> channel[3];
  for (size_t i = 0; i < with.size(); i += 4) {
    int change = 0;
    for (int c = 0; c < 3; ++c) change += std::abs(with[i + c] - without[i + c]);
    if (change < 6) continue;
    for (int c = 0; c < 3; ++c) channel[c].push_back(with[i + c] / 255.0f);
  }
  Vec3f median(0, 0, 0);
  for (int c = 0; c < 3 && !channel[c].empty(); ++c) {
    std::nth_element(channel[c].begin(), channel[c].begin() + channel[c].size() / 2, channel[c].end());
    median[c] = channel[c][channel[c].size() / 2];
  }
  return median;
}

float luma(const Vec3f& c) { return 0.2126f * c[0] + 0.7152f * c[1] + 0.0722f * c[2]; }

}  // namespace

TEST_F(StrokeShadowGL, HairShowsItsColourInLightAndShadowWithAHighlightThatFollowsTheView) {
  const Vec3f centre = m_head->box()->center(true);
  const int size = 256;
  // The scene seen from `eye` with and without `strands`, which also cast shadows; their median.
  auto strandColour = [&](Operatable* strand, const Vec3f& eye, const Vec3f& target) {
    StrokeBufferRender strands(StrokeBufferFormat(g_renderRows[1]), 8000000);
    strands.pushOperation(strand);
    strands.writeOperation(strand, true);
    g_lightManager->m_drawStrokes = [&](const Matrix4& vp) { strands.draw(Matrix4(), vp); };
    m_light->renderShadowMap();
    g_headMatrix[0] = eye[0], g_headMatrix[1] = eye[1], g_headMatrix[2] = eye[2];
    const Matrix4 view = lookAt(eye, target, 0.3f);
    const std::vector<uint8_t> without = draw(size, view, nullptr);
    std::vector<uint8_t> with = draw(size, view, &strands);
    g_lightManager->m_drawStrokes = nullptr;
    return std::make_pair(medianWhereChanged(with, without), with);
  };
  // Hanging down at `x` beside the face, facing out and forwards.
  auto hanging = [&](float x, float top) {
    std::vector<Vec3f> points;
    for (int i = 0; i <= 30; ++i) points.emplace_back(x, top - 0.0066f * i, 0.06f);
    return strandThrough(points, normalized(Vec3f(1, 0, 1)), 0.02f);
  };

  const Vec3f blond(0.92f, 0.92f, 0.71f), red(0.85f, 0.12f, 0.1f);
  for (const Vec3f& colour : {blond, red}) {
    SCOPED_TRACE(colour == blond ? "blond" : "red");
    g_currentColor.set_red(colour[0]), g_currentColor.set_green(colour[1]), g_currentColor.set_blue(colour[2]);
    // Across the crown in full light, and hanging beside the cheek under the overhead light.
    auto crown = strandColour(archedStrand(0.0f), centre + Vec3f(0, 0.6f, 0.25f), centre + Vec3f(0, 0.1f, 0));
    auto cheek = strandColour(hanging(0.15f, 1.07f), centre + Vec3f(0, 0, 0.6f), centre);
    // The same strand below the jaw, in the head's shadow, and clear of the head, seen alike.
    const Vec3f under(0.09f, 0.84f, 0.06f), clear(0.4f, 0.84f, 0.06f), away(0.0f, 0.0f, 0.5f);
    const auto shaded = strandColour(hanging(under[0], under[1]), under + away, under);
    const auto lit = strandColour(hanging(clear[0], clear[1]), clear + away, clear);
    if (colour == blond) {
      ASSERT_NE(writePicture(crown.second, size, size, "hair_colour_crown_gl.png"), "");
      ASSERT_NE(writePicture(cheek.second, size, size, "hair_colour_cheek_gl.png"), "");
    }
    EXPECT_GE(luma(crown.first), 0.5f * luma(colour));
    EXPECT_GE(luma(cheek.first), 0.4f * luma(colour));
    EXPECT_LT(luma(shaded.first), 0.9f * luma(lit.first));
    EXPECT_GT(luma(shaded.first), 0.2f * luma(colour));
    // Hue: green and blue stand to red as in the colour.
    for (const Vec3f& seen : {crown.first, cheek.first, shaded.first}) {
      EXPECT_NEAR(seen[1] / seen[0], colour[1] / colour[0], 0.12f);
      EXPECT_NEAR(seen[2] / seen[0], colour[2] / colour[0], 0.12f);
    }
  }

  // From straight above, the brightest part of the arch moves from its back towards its front
  // as the viewer moves from behind the head to in front of it.
  g_currentColor.set_red(0.5f), g_currentColor.set_green(0.35f), g_currentColor.set_blue(0.2f);
  StrokeBufferRender arch(StrokeBufferFormat(g_renderRows[1]), 8000000);
  Operatable* strand = archedStrand(0.0f);
  arch.pushOperation(strand);
  arch.writeOperation(strand, true);
  const Matrix4 topView = topViewProjection(kHalfTop);
  int brightestRow[2];
  for (int side = 0; side < 2; ++side) {
    const Vec3f eye = centre + Vec3f(0.0f, 0.5f, side ? 0.6f : -0.6f);
    g_headMatrix[0] = eye[0], g_headMatrix[1] = eye[1], g_headMatrix[2] = eye[2];
    const std::vector<uint8_t> pixels = draw(kTop, topView, &arch);
    // Each row's brightness over the middle columns, summed over five rows.
    std::vector<int> rows(kTop, 0);
    for (int row = 0; row < kTop; ++row)
      for (int column = kTop / 2 - 3; column <= kTop / 2 + 3; ++column)
        for (int c = 0; c < 3; ++c) rows[row] += pixels[4 * (row * kTop + column) + c];
    int best = 0, bestSum = -1;
    for (int row = 2; row < kTop - 2; ++row) {
      const int sum = rows[row - 2] + rows[row - 1] + rows[row] + rows[row + 1] + rows[row + 2];
      if (sum > bestSum) best = row, bestSum = sum;
    }
    brightestRow[side] = best;
  }
  // Rows count from the bottom, which is +z (the face) in the top view.
  EXPECT_GT(brightestRow[0] - brightestRow[1], kTop / 10);
}
