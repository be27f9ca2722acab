#include "core/geometry.h"

#include <google/protobuf/text_format.h>
#include <google/protobuf/util/message_differencer.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "quillax.pb.h"

using google::protobuf::TextFormat;

namespace {

struct Profile { std::vector<float> points, normals; };

Profile ring(int n) {
  Profile p;
  buildRingMesh(p.points, n, &p.normals);
  return p;
}

void expectAllNear(const std::vector<float>& a, const std::vector<float>& b, float tolerance) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) EXPECT_NEAR(a[i], b[i], tolerance) << "at " << i;
}

std::vector<float> mirroredInY(std::vector<float> xy) {
  for (size_t i = 1; i < xy.size(); i += 2) xy[i] = -xy[i];
  return xy;
}

float radius(int n) { return static_cast<float>(1.0 / ((std::abs(n) + 1) * std::sin(0.2617994))); }

}  // namespace

TEST(BuildQuadVertices, TexturedAndPlain) {
  std::vector<float> out = {42}, plain;
  EXPECT_EQ(buildQuadVertices(out, Vec4f(1, 2, 3, 4), Vec4f(0.5f, 0.25f, 0.5f, 0.75f)), 6);
  ASSERT_EQ(out.size(), 31u);
  EXPECT_EQ(std::vector<float>(out.begin() + 1, out.begin() + 11),
            (std::vector<float>{1, 6, 0, 0.5f, 1.0f, 1, 2, 0, 0.5f, 0.25f}));
  buildQuadVertices(plain, Vec4f(1, 2, 3, 4), Vec4f(0, 0, 0, 1));
  EXPECT_EQ(plain, (std::vector<float>{1, 6, 0, 1, 2, 0, 4, 2, 0, 4, 2, 0, 4, 6, 0, 1, 6, 0}));
}

TEST(BuildRingMesh, StraightOnTheStrokeLoweredBelowSeventeenMirroredForNegative) {
  // n = 0: two points whose ends sit on y = 0.
  const float s = std::sin(0.1308997f), c = std::cos(0.1308997f);
  expectAllNear(ring(0).points, {-s * radius(0), 0, s * radius(0), 0}, 1e-6f);
  expectAllNear(ring(0).normals, {-s, c, s, c}, 1e-6f);

  // 16 is lowered by c r, 17 (a whole turn and more) is not.
  auto startAngle = [](int n) { return ((n < 0 ? 1.5 : 0.5) - (std::abs(n) + 1) / 24.0) * 3.1415926; };
  EXPECT_NEAR(ring(16).points[1], std::sin(startAngle(16)) * radius(16) - c * radius(16), 1e-5f);
  EXPECT_NEAR(ring(17).points[1], std::sin(startAngle(17)) * radius(17), 1e-5f);

  // -n is n mirrored in y, for the lowered range and beyond it, so a negative profile below 17
  // stays at its stroke instead of about 2r below it.
  for (int n : {1, 5, 16, 17, 23}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(ring(n).points.size(), 2u * (n + 2));
    expectAllNear(ring(-n).points, mirroredInY(ring(n).points), 1e-5f);
  }
  // The middle normal points to +y whichever way the arc bends.
  EXPECT_NEAR(ring(3).normals[5] + ring(-3).normals[5], 2.0f, 1e-6f);  // unit normals: each is 1
}

TEST(IntersectRayTriangle, HitsTheWholeParallelogram) {
  const float p0[3] = {0, 0, 0}, p1[3] = {1, 0, 0}, p2[3] = {0, 1, 0};
  struct Case { float origin[3], direction[3]; int hit; float t, u, v; };
  const Case cases[] = {
      {{0.2f, 0.3f, 2}, {0, 0, -1}, 1, 2, 0.2f, 0.3f},
      {{0.8f, 0.8f, 1}, {0, 0, -1}, 1, 1, 0.8f, 0.8f},    // outside the triangle, in the parallelogram
      {{1, 1, 1}, {0, 0, -1}, 1, 1, 1, 1},                // the far corner is inside
      {{0.5f, 0.5f, -3}, {0, 0, -2}, 1, -1.5f, 0.5f, 0.5f},  // behind: the sign is not tested
      {{1.01f, 0.5f, 1}, {0, 0, -1}, 0, 0, 0, 0},
      {{0.5f, -0.01f, 1}, {0, 0, -1}, 0, 0, 0, 0},
      {{-1, 0.5f, 1}, {1, 0, 0}, 0, 0, 0, 0},  // parallel to it
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.origin[0] << ", " << k.origin[1] << ", " << k.origin[2]);
    float t = -9, u = -9, v = -9;
    ASSERT_EQ(intersectRayTriangle(k.origin, k.direction, p0, p1, p2, t, u, v), k.hit);
    if (!k.hit) continue;
    EXPECT_LE(std::max({std::abs(t - k.t), std::abs(u - k.u), std::abs(v - k.v)}), 1e-6f) << t << " " << u << " " << v;
  }
}

TEST(TransformOperationPoints, MovesPointsTurnsDirections) {
  // y and z of the second point are absent; the zero normal must not become NaN.
  const char* stroke =
      "points { x: 1 y: 2 z: 3 } points { x: 1 } pitches { z: 2 } normals { x: 0 y: 0 z: 0 } "
      "textures { u: 0.5 } meshes { vpoints { x: 0 y: 0 z: 0 } vnormals { x: 3 y: 0 z: 0 } }";
  quillax::Operation op, expected;
  ASSERT_TRUE(TextFormat::ParseFromString(stroke, &op));
  // A quarter turn about z with a scale of 2, moved by (10, 20, 30); directions ignore the
  // translation and are renormalised.
  const float columns[16] = {0, 2, 0, 0, -2, 0, 0, 0, 0, 0, 2, 0, 10, 20, 30, 1};
  transformOperationPoints(op, Matrix4(columns));
  ASSERT_TRUE(TextFormat::ParseFromString(
      "points { x: 6 y: 22 z: 36 } points { x: 10 y: 22 z: 30 } pitches { x: 0 y: 0 z: 1 } "
      "normals { x: 0 y: 0 z: 0 } textures { u: 0.5 } "
      "meshes { vpoints { x: 10 y: 20 z: 30 } vnormals { x: 0 y: 1 z: 0 } }", &expected));
  EXPECT_TRUE(google::protobuf::util::MessageDifferencer::Equals(op, expected)) << op.DebugString();
}

TEST(NumericFunctions, WeightsDistancesAndSmallestIndices) {
  std::vector<float> out = {9};
  toNormalizedWeights({}, out, false);
  EXPECT_EQ(out, std::vector<float>{9});
  toNormalizedWeights({0.9f, 0.5f}, out, false);  // 8.1 against 0.5 before normalising
  expectAllNear(out, {8.1f / 8.6f, 0.5f / 8.6f}, 1e-5f);
  toNormalizedWeights({0.5f, 0.5f}, out, true);
  expectAllNear(out, {0.25f, 0.25f}, 1e-6f);

  const std::vector<float> offset = {-1, -2};
  EXPECT_FLOAT_EQ(distanceL1({1, 2}, {2, 4}), 1.5f);
  EXPECT_FLOAT_EQ(distanceL1({1, 2}, {2, 4}, &offset), 0.0f);
  EXPECT_TRUE(std::isnan(distanceL1({}, {1})));
  // Short lists are not read past their end.
  EXPECT_FLOAT_EQ(distanceL1({1, 2, 3}, {2}), 1.0f);
  std::vector<float> a = {1, 2, 3};
  addScaled(a, {1, 1}, 2.0f);
  EXPECT_EQ(a, (std::vector<float>{3, 4, 3}));

  // Appended in order of value, at most the list; on ties the first met in the working order
  // wins: after the 0 at index 3 is swapped to the front, the 1 from index 0 sits behind the 1
  // from index 2, so 2 comes before 0.
  std::vector<int32_t> indices = {7};
  smallestIndices({3, 1, 2}, 5, indices);
  smallestIndices({1, 5, 1, 0}, 4, indices);
  smallestIndices({2, 2, 2}, 2, indices);
  smallestIndices({3, 1, 2}, 0, indices);
  EXPECT_EQ(indices, (std::vector<int32_t>{7, 1, 2, 0, 3, 2, 0, 1, 0, 1}));
}

TEST(RotateAroundAxis, TurnsCounterClockwiseAboutTheAxis) {
  const Vec3f turned = rotateAroundAxis(Vec3f(1, 0, 0), Vec3f(0, 0, 1), static_cast<float>(M_PI / 2));
  EXPECT_NEAR(turned[0], 0.0f, 1e-6f);
  EXPECT_NEAR(turned[1], 1.0f, 1e-6f);
  EXPECT_EQ(rotateAroundAxis(Vec3f(0, 0, 2), Vec3f(0, 0, 1), 1.0f), Vec3f(0, 0, 2));  // along k
}
