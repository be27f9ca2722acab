#include "core/geometry.h"

#include <gtest/gtest.h>

#include <cmath>

#include "quillax.pb.h"

namespace {

const double kStep = 0.2617994;

struct Profile {
  std::vector<float> points, normals;
};

Profile ring(int n) {
  Profile p;
  buildRingMesh(p.points, n, &p.normals);
  return p;
}

float radius(int n) { return static_cast<float>(1.0 / ((std::abs(n) + 1) * std::sin(kStep))); }

}  // namespace

TEST(BuildQuadVertices, TexturedAndPlain) {
  std::vector<float> out = {42};
  EXPECT_EQ(buildQuadVertices(out, Vec4f(1, 2, 3, 4), Vec4f(0.5f, 0.25f, 0.5f, 0.75f)), 6);
  ASSERT_EQ(out.size(), 31u);
  const std::vector<float> first(out.begin() + 1, out.begin() + 11);
  EXPECT_EQ(first, (std::vector<float>{1, 6, 0, 0.5f, 1.0f, 1, 2, 0, 0.5f, 0.25f}));
  const std::vector<float> fifth(out.begin() + 21, out.begin() + 26);
  EXPECT_EQ(fifth, (std::vector<float>{4, 6, 0, 1.0f, 1.0f}));

  std::vector<float> plain;
  EXPECT_EQ(buildQuadVertices(plain, Vec4f(1, 2, 3, 4), Vec4f(0, 0, 0, 1)), 6);
  ASSERT_EQ(plain.size(), 18u);
  EXPECT_EQ(std::vector<float>(plain.begin() + 6, plain.begin() + 9), (std::vector<float>{4, 2, 0}));
}

TEST(BuildRingMesh, StraightestProfileSitsOnTheStroke) {
  const Profile p = ring(0);
  ASSERT_EQ(p.points.size(), 4u);
  ASSERT_EQ(p.normals.size(), 4u);
  const float s = std::sin(0.1308997f), c = std::cos(0.1308997f), r = radius(0);
  EXPECT_NEAR(p.points[0], -s * r, 1e-6f);
  EXPECT_NEAR(p.points[1], 0.0f, 1e-6f);
  EXPECT_NEAR(p.points[2], s * r, 1e-6f);
  EXPECT_NEAR(p.points[3], 0.0f, 1e-6f);
  EXPECT_NEAR(p.normals[0], -s, 1e-6f);
  EXPECT_NEAR(p.normals[1], c, 1e-6f);
  EXPECT_NEAR(p.normals[2], s, 1e-6f);
  EXPECT_NEAR(p.normals[3], c, 1e-6f);

  std::vector<float> alone;
  buildRingMesh(alone, 3, nullptr);
  EXPECT_EQ(alone.size(), 10u);
}

TEST(BuildRingMesh, LoweredBelowSeventeenStepsMirroredForNegative) {
  const float c = std::cos(0.1308997f);
  auto startAngle = [](int n) { return ((n < 0 ? 1.5 : 0.5) - (std::abs(n) + 1) / 24.0) * 3.1415926; };
  // 16 is lowered by c r, 17 (a whole turn and more) is not.
  const Profile p16 = ring(16), p17 = ring(17);
  EXPECT_NEAR(p16.points[1], std::sin(startAngle(16)) * radius(16) - c * radius(16), 1e-5f);
  EXPECT_NEAR(p17.points[1], std::sin(startAngle(17)) * radius(17), 1e-5f);

  // -n is n mirrored in y: same x, y negated, for the lowered range and beyond it.
  for (int n : {1, 5, 16, 17, 23}) {
    SCOPED_TRACE(n);
    const Profile pos = ring(n), neg = ring(-n);
    ASSERT_EQ(pos.points.size(), neg.points.size());
    ASSERT_EQ(pos.points.size(), 2u * (n + 2));
    for (size_t i = 0; i < pos.points.size(); i += 2) {
      EXPECT_NEAR(neg.points[i], pos.points[i], 1e-5f);
      EXPECT_NEAR(neg.points[i + 1], -pos.points[i + 1], 1e-5f);
    }
  }
  // So a negative profile below 17 stays at its stroke, not about 2r below it.
  const Profile n5 = ring(-5);
  for (size_t i = 1; i < n5.points.size(); i += 2) EXPECT_LT(std::fabs(n5.points[i]), 0.5f * radius(5));
  // The middle normal points to +y whichever way the arc bends.
  EXPECT_NEAR(ring(3).normals[5], 1.0f, 1e-6f);
  EXPECT_NEAR(ring(-3).normals[5], 1.0f, 1e-6f);
  EXPECT_NEAR(ring(-3).normals[4], 0.0f, 1e-6f);
}

TEST(IntersectRayTriangle, HitsTheWholeParallelogram) {
  const float p0[3] = {0, 0, 0}, p1[3] = {1, 0, 0}, p2[3] = {0, 1, 0};
  const float down[3] = {0, 0, -1};
  float t = -1, u = -1, v = -1;

  const float inTriangle[3] = {0.2f, 0.3f, 2};
  EXPECT_EQ(intersectRayTriangle(inTriangle, down, p0, p1, p2, t, u, v), 1);
  EXPECT_NEAR(u, 0.2f, 1e-6f);
  EXPECT_NEAR(v, 0.3f, 1e-6f);
  EXPECT_NEAR(t, 2.0f, 1e-6f);

  // u + v = 1.6: outside the triangle, inside the parallelogram.
  const float corner[3] = {0.8f, 0.8f, 1};
  EXPECT_EQ(intersectRayTriangle(corner, down, p0, p1, p2, t, u, v), 1);
  EXPECT_NEAR(u, 0.8f, 1e-6f);
  EXPECT_NEAR(v, 0.8f, 1e-6f);

  // Edges are inside; just beyond them is not.
  const float onEdge[3] = {1, 1, 1}, beyondU[3] = {1.01f, 0.5f, 1}, beyondV[3] = {0.5f, -0.01f, 1};
  EXPECT_EQ(intersectRayTriangle(onEdge, down, p0, p1, p2, t, u, v), 1);
  EXPECT_EQ(intersectRayTriangle(beyondU, down, p0, p1, p2, t, u, v), 0);
  EXPECT_EQ(intersectRayTriangle(beyondV, down, p0, p1, p2, t, u, v), 0);

  // Behind the origin still counts (the sign is not tested), in direction-length units.
  const float below[3] = {0.5f, 0.5f, -3}, longDown[3] = {0, 0, -2};
  EXPECT_EQ(intersectRayTriangle(below, longDown, p0, p1, p2, t, u, v), 1);
  EXPECT_NEAR(t, -1.5f, 1e-6f);

  // Parallel to the plane, or lying in it: a miss.
  const float along[3] = {1, 0, 0}, inPlane[3] = {-1, 0.5f, 0}, above[3] = {-1, 0.5f, 1};
  EXPECT_EQ(intersectRayTriangle(inPlane, along, p0, p1, p2, t, u, v), 0);
  EXPECT_EQ(intersectRayTriangle(above, along, p0, p1, p2, t, u, v), 0);
}

TEST(TransformOperationPoints, MovesPointsTurnsDirections) {
  quillax::Operation op;
  auto addPoint = [](quillax::Operation::Point* p, float x, float y, float z) {
    p->set_x(x);
    p->set_y(y);
    p->set_z(z);
  };
  addPoint(op.add_points(), 1, 2, 3);
  op.add_points()->set_x(1);  // y and z absent
  addPoint(op.add_pitches(), 0, 0, 2);
  addPoint(op.add_normals(), 0, 0, 0);
  op.add_textures()->set_u(0.5f);
  addPoint(op.mutable_meshes()->add_vpoints(), 0, 0, 0);
  addPoint(op.mutable_meshes()->add_vnormals(), 3, 0, 0);

  Matrix4 shift;
  shift[12] = 10, shift[13] = 20, shift[14] = 30;
  transformOperationPoints(op, shift);
  EXPECT_EQ(op.points(0).x(), 11);
  EXPECT_EQ(op.points(0).z(), 33);
  EXPECT_TRUE(op.points(1).has_y() && op.points(1).has_z());
  EXPECT_EQ(op.points(1).y(), 20);
  EXPECT_EQ(op.meshes().vpoints(0).y(), 20);
  // Directions ignore the translation; they are only normalised (a zero one stays zero).
  EXPECT_EQ(op.pitches(0).z(), 1);
  EXPECT_EQ(op.normals(0).x(), 0);
  EXPECT_EQ(op.normals(0).z(), 0);
  EXPECT_EQ(op.meshes().vnormals(0).x(), 1);
  EXPECT_EQ(op.textures(0).u(), 0.5f);

  // A quarter turn about z with a scale of 2 turns and renormalises directions.
  Matrix4 turn;
  turn[0] = 0, turn[1] = 2, turn[4] = -2, turn[5] = 0, turn[10] = 2;
  transformOperationPoints(op, turn);
  EXPECT_NEAR(op.meshes().vnormals(0).y(), 1.0f, 1e-6f);
  EXPECT_NEAR(op.pitches(0).z(), 1.0f, 1e-6f);
  EXPECT_NEAR(op.points(0).x(), -44.0f, 1e-5f);  // -2 y of (11, 22, 33)
}

TEST(NumericFunctions, WeightsAndDistances) {
  std::vector<float> out = {9};
  toNormalizedWeights({}, out, false);
  EXPECT_EQ(out, std::vector<float>{9});
  toNormalizedWeights({0.5f, 0.5f}, out, false);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_NEAR(out[0], 0.5f, 1e-6f);
  toNormalizedWeights({0.5f, 0.5f}, out, true);
  EXPECT_NEAR(out[1], 0.25f, 1e-6f);
  // Closer values weigh far more: 0.9 against 0.5 is 8.1 to 0.5.
  toNormalizedWeights({0.9f, 0.5f}, out, false);
  EXPECT_NEAR(out[0] / out[1], 16.2f, 1e-3f);

  EXPECT_FLOAT_EQ(distanceL1({1, 2}, {2, 4}), 1.5f);
  const std::vector<float> offset = {-1, -2};
  EXPECT_FLOAT_EQ(distanceL1({1, 2}, {2, 4}, &offset), 0.0f);
  EXPECT_TRUE(std::isnan(distanceL1({}, {1})));
  // A short b is not read past its end.
  EXPECT_FLOAT_EQ(distanceL1({1, 2, 3}, {2}), 1.0f);

  std::vector<float> a = {1, 2, 3};
  addScaled(a, {1, 1}, 2.0f);
  EXPECT_EQ(a, (std::vector<float>{3, 4, 3}));
}

TEST(NumericFunctions, SmallestIndicesInOrderOfValue) {
  std::vector<int32_t> out;
  smallestIndices({3, 1, 2}, 2, out);
  EXPECT_EQ(out, (std::vector<int32_t>{1, 2}));
  out.clear();
  smallestIndices({3, 1, 2}, 5, out);
  EXPECT_EQ(out, (std::vector<int32_t>{1, 2, 0}));
  smallestIndices({3, 1, 2}, 0, out);
  EXPECT_EQ(out.size(), 3u);

  // Ties: the first met in the working order wins. After the 0 at index 3 is swapped to the
  // front, the 1 from index 0 sits behind the 1 from index 2, so 2 comes before 0.
  out.clear();
  smallestIndices({1, 5, 1, 0}, 4, out);
  EXPECT_EQ(out, (std::vector<int32_t>{3, 2, 0, 1}));
  out.clear();
  smallestIndices({2, 2, 2}, 3, out);
  EXPECT_EQ(out, (std::vector<int32_t>{0, 1, 2}));
}
