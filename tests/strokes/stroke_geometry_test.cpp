#include "strokes/stroke_geometry.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>

#include "render/shader.h"
#include "strokes/stroke_test_support.h"

namespace {

constexpr bool kPenFlags[7] = {true, false, false, false, false, true, true};   // a0 a5 a6
const bool* const kHairFlags = g_shaderTable[7].flags;
constexpr int kHairStride = 12;
using testing::Pointwise;
using Ints = std::vector<int>;
using Floats = std::vector<float>;

// Atlas rectangles (circle ones distinct) and a half-transparent brush colour.
class StrokeGeometry : public BrushStateTest {
 protected:
  void SetUp() override {
    BrushStateTest::SetUp();
    g_hairTextureMaps.Clear();
    for (int t = 0; t < 4; ++t) {
      setRect(g_hairTextureMaps.add_default_coords(), 0.25f * t, 0.25f * t + 0.2f, 0.1f, 0.9f);
      setRect(g_hairTextureMaps.add_circle_coords(), 0.5f, 0.75f, 0.0f, 1.0f);
    }
    g_currentColor.set_alpha(0.5f);
  }
  static void setRect(quillax::HairTextureMaps_Coords* c, float u0, float u1, float v0, float v1) {
    c->set_u0(u0);
    c->set_u1(u1);
    c->set_v0(v0);
    c->set_v1(v1);
  }
  // A straight stroke along +y with pitch +x and normal +z, spaced 1 cm, 0.2 wide.
  static std::unique_ptr<Operatable> stroke(int texture, int curvature, int points) {
    return std::unique_ptr<Operatable>(makeStroke(texture, curvature, points));
  }
  static Vec3f at(const std::vector<float>& v, size_t vertex, int offset) {
    const size_t k = vertex * kHairStride + offset;
    return Vec3f(v[k], v[k + 1], v[k + 2]);
  }
};

}  // namespace

TEST(StrokeLight, CurveIsStretchedOverTheStrand) {
  const float curve[2] = {0.2f, 0.6f};
  for (int i = 0; i < 3; ++i) EXPECT_FLOAT_EQ(lightValueAt(curve, 2, i, 3), 0.2f + 0.2f * i);
  EXPECT_FLOAT_EQ(lightValueAt(curve, 0, 1, 3), 1.0f);  // an empty curve lights fully
  EXPECT_FLOAT_EQ(lightValueAt(curve, 1, 5, 9), 0.2f);
}

TEST_F(StrokeGeometry, PenStrokeIsALineStripWithoutIndices) {
  auto pen = stroke(0, 0, 10);
  pen->m_operation->mutable_lightcurve()->set_v(0, 0.0f);
  std::vector<float> out;
  EXPECT_EQ(pen->buildStrandGeometry(out, 0, ~0u, kPenFlags), 70);
  // Vertex 9: the point, light x alpha three times, light; then the light at the root.
  EXPECT_THAT((Floats{out[63 + 1], out[63 + 3], out[63 + 6], out[6]}),
              floatsAre({0.09f, 0.5f, 1, 0}));
  std::vector<uint32_t> indices;
  // No indices. With the pen program's own layout (position only), 3 floats per point.
  EXPECT_EQ((Ints{pen->fillIndexBuffer(indices, 0, ~0u, 0, false),
                  pen->buildStrandGeometry(out, 4, ~0u, g_shaderTable[0].flags)}),
            (Ints{0, 18}));
  EXPECT_FLOAT_EQ(out[1], 0.04f);
}

TEST_F(StrokeGeometry, FlatRibbonSpansTheWidthAndTheTextureRectangle) {
  auto flat = stroke(1, 0, 5);
  std::vector<float> out;
  ASSERT_EQ(flat->buildStrandGeometry(out, 0, ~0u, kHairFlags), 5 * 2 * kHairStride);

  // The root ring: the profile of curvature 0 lies on y = 0 at +-sin 7.5 deg / sin 15 deg,
  // so the ribbon spans about one width across the pitch, in the stroke's plane.
  const Vec3f left = at(out, 0, 0), right = at(out, 1, 0);
  EXPECT_NEAR(right[0] - left[0], 0.2f * 2 * std::sin(0.1309) / std::sin(0.2618), 1e-6);
  EXPECT_TRUE(std::abs(left[2]) < 1e-7 && std::abs(right[2]) < 1e-7);
  // Texture coordinates: u across (U0, U1 of entry 0), v from V0 at the root through the
  // middle to V1 at the tip.
  const struct { int vertex, slot; float value; } uvs[] = {
      {0, 3, 0.0f}, {1, 3, 0.2f}, {0, 4, 0.1f}, {4, 4, 0.5f}, {8, 4, 0.9f}};
  for (const auto& c : uvs) EXPECT_NEAR(out[c.vertex * kHairStride + c.slot], c.value, 1e-6);
  // The tip is narrower: it keeps e^(-0.01 n) of the width.
  const float tipWidth = at(out, 9, 0)[0] - at(out, 8, 0)[0];
  EXPECT_NEAR(tipWidth / (right[0] - left[0]), std::exp(-0.05f), 1e-5);

  // (n - 1) x 2 triangles.
  std::vector<uint32_t> indices;
  ASSERT_EQ(flat->fillIndexBuffer(indices, 0, ~0u, 0, false), 4 * 6);
  EXPECT_EQ((std::vector<uint32_t>(indices.begin(), indices.begin() + 6)),
            (std::vector<uint32_t>{0, 2, 3, 0, 3, 1}));
  EXPECT_EQ(indices[23], 7u);
  // Quads, from a later point and a base: rings start at base for point `first`.
  ASSERT_EQ(flat->fillIndexBuffer(indices, 3, ~1u, 100, true), 2 * 4);
  EXPECT_EQ((std::vector<uint32_t>(indices.begin(), indices.begin() + 8)),
            (std::vector<uint32_t>{98, 100, 101, 99, 100, 102, 103, 101}));
}

TEST_F(StrokeGeometry, RibbonNormalsFitEveryCurvatureProfile) {
  for (int c = -23; c <= 23; ++c) {
    auto curl = stroke(2, c, 3);
    const int m = curl->verticesPerPoint();
    ASSERT_EQ(m, std::abs(c) + 2);
    std::vector<float> out;
    ASSERT_EQ(curl->buildStrandGeometry(out, 0, ~0u, kHairFlags), 3 * m * kHairStride) << c;
    for (int j = 0; j < m; ++j) {
      const Vec3f normal = at(out, j, 5), second = at(out, j, 8);
      EXPECT_NEAR(length(normal), 1.0, 1e-5) << c << " " << j;
      EXPECT_NEAR(dot(normal, second), 0.0f, 1e-5) << c << " " << j;
      // The normal stays in the ring's plane (across the strand) ...
      EXPECT_NEAR(normal[1], 0.0f, 1e-6);
      // ... and is perpendicular to the ring where it is measured.
      if (j > 0 && j + 1 < m) {
        const Vec3f chord = at(out, j + 1, 0) - at(out, j - 1, 0);
        EXPECT_NEAR(dot(normal, normalized(chord)), 0.0f, 1e-4) << c << " " << j;
      }
    }
    // Every ring lies across the stroke at its own point.
    EXPECT_NEAR(at(out, 2 * m, 0)[1], 0.02f, 1e-7);
  }
}

TEST_F(StrokeGeometry, BraidUsesTheCircleRectangles) {
  auto braid = stroke(1, 23, 3);
  std::vector<float> out;
  ASSERT_EQ(braid->buildStrandGeometry(out, 0, ~0u, kHairFlags), 3 * 25 * kHairStride);
  // u runs U0, U1, U0, U1, U0 around the ring (t = 0, 0.25, 0.5, 0.75, 1).
  Floats u;
  for (int q = 0; q < 5; ++q) u.push_back(out[q * 6 * kHairStride + 3]);
  EXPECT_THAT(u, Pointwise(testing::FloatNear(1e-6), Floats{0.5f, 0.75f, 0.5f, 0.75f, 0.5f}));
  EXPECT_FLOAT_EQ(out[4], 0.0f);  // circle V0

  // Curvature 22 still takes the default rectangle of its texture.
  auto curl = stroke(1, 22, 3);
  ASSERT_GT(curl->buildStrandGeometry(out, 0, ~0u, kHairFlags), 0);
  EXPECT_THAT((Floats{out[3], out[23 * kHairStride + 3], out[4]}), floatsAre({0, 0.2f, 0.1f}));

  // Lists of different lengths: the default rectangles serve the braid too.
  g_hairTextureMaps.mutable_circle_coords()->RemoveLast();
  ASSERT_GT(braid->buildStrandGeometry(out, 0, ~0u, kHairFlags), 0);
  EXPECT_THAT((Floats{out[3], out[4]}), floatsAre({0, 0.1f}));
}

TEST_F(StrokeGeometry, MissingInputsGiveNoGeometryRatherThanStrayReads) {
  std::vector<float> out;
  std::vector<uint32_t> indices;
  // One point, or none; a range past the end, or empty.
  auto single = stroke(1, 0, 1), empty = stroke(1, 0, 0), ok = stroke(1, 0, 4);
  EXPECT_EQ((Ints{single->buildStrandGeometry(out, 0, ~0u, kHairFlags),
                  single->fillIndexBuffer(indices, 0, ~0u, 0, false),
                  empty->buildStrandGeometry(out, 0, ~0u, kHairFlags),
                  empty->fillPointBuffer(out, 0, -1, kHairFlags),
                  ok->buildStrandGeometry(out, 4, 9, kHairFlags),
                  ok->buildStrandGeometry(out, 2, 99, kHairFlags)}),
            (Ints{0, 0, 0, 0, 0, 2 * 2 * kHairStride}));
  // A texture without an atlas rectangle takes the whole texture.
  g_hairTextureMaps.Clear();
  ASSERT_GT(ok->buildStrandGeometry(out, 0, ~0u, kHairFlags), 0);
  EXPECT_FLOAT_EQ(out[kHairStride + 3], 1.0f);
  // A curvature the stroke code never makes (set behind the checks), or no profiles yet; a
  // negative texture has no vertices at all.
  ok->m_operation->set_curvature(30);
  EXPECT_EQ(ok->buildStrandGeometry(out, 0, ~0u, kHairFlags), 0);
  ok->m_operation->set_curvature(0);
  g_curveProfiles.clear();
  EXPECT_EQ(ok->buildStrandGeometry(out, 0, ~0u, kHairFlags), 0);
  ok->m_operation->set_texture(-1);
  EXPECT_EQ(ok->verticesPerPoint() + ok->buildStrandGeometry(out, 0, ~0u, kPenFlags), 0);
}

TEST_F(StrokeGeometry, StrokeWithoutNormalsStillGivesAFlatRibbon) {
  auto bare = stroke(3, 0, 3);
  bare->m_operation->clear_normals();
  bare->m_operation->mutable_pitches()->RemoveLast();  // one pitch short
  std::vector<float> out;
  ASSERT_EQ(bare->buildStrandGeometry(out, 0, ~0u, kHairFlags), 3 * 2 * kHairStride);
  for (float v : out) EXPECT_TRUE(std::isfinite(v));
  // Without a pitch the last ring collapses onto its point.
  EXPECT_EQ(at(out, 4, 0), at(out, 5, 0));
}

TEST_F(StrokeGeometry, PointAndControlStreams) {
  auto s = stroke(1, 0, 4);
  const bool all[7] = {true, false, true, true, false, false, false};
  std::vector<float> out;
  EXPECT_EQ(s->fillPointBuffer(out, 1, -1, all), 27);
  // The normal before the pitch.
  EXPECT_THAT((Floats{out[1], out[5], out[6]}), floatsAre({0.01f, 1, 1}));
  s->m_control = {1, 2, 3, 4, 5, 6, 7};  // a trailing partial point is not drawn
  EXPECT_EQ(s->fillControlBuffer(out), 6);
  EXPECT_FLOAT_EQ(out[5], 6.0f);
}
