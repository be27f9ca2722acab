#include "core/matrix.h"

#include "platform/vr_runtime.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <random>

namespace {

Eigen::Matrix4d toEigen(const Matrix4& m) {
  Eigen::Matrix4d e;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) e(r, c) = m.at(r, c);
  return e;
}

void expectNear(const Matrix4& m, const Eigen::Matrix4d& e, double tolerance) {
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) EXPECT_NEAR(m.at(r, c), e(r, c), tolerance) << "(" << r << ", " << c << ")";
}

void expectIdentityLinear(const Matrix4& m, float tolerance = 1e-6f) {
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(m.at(r, c), r == c ? 1.0f : 0.0f, tolerance);
}

// A well-conditioned matrix: a rotation times scales in [0.5, 2], plus a translation.
Matrix4 randomAffine(std::mt19937& rng) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0), scale(0.5, 2.0);
  const Eigen::Quaterniond q = Eigen::Quaterniond(unit(rng), unit(rng), unit(rng), unit(rng)).normalized();
  const Eigen::Matrix3d linear = q.toRotationMatrix() * Eigen::Vector3d(scale(rng), scale(rng), scale(rng)).asDiagonal();
  Matrix4 m;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) m.at(r, c) = static_cast<float>(linear(r, c));
    m.at(r, 3) = static_cast<float>(unit(rng) * 5.0);
  }
  return m;
}

Matrix4 diagonal(float a, float b, float c, float d) {
  Matrix4 m;
  m[0] = a, m[5] = b, m[10] = c, m[15] = d;
  return m;
}

}  // namespace

TEST(Matrix4Product, ComposesLikeEigenAndToleratesAliasing) {
  std::mt19937 rng(7);
  const Matrix4 a = randomAffine(rng), b = randomAffine(rng);
  Matrix4 out;
  multiplyMatrix4(a, out, b);
  expectNear(out, toEigen(a) * toEigen(b), 1e-5);

  Matrix4 same;
  multiplyMatrix4(Matrix4(), same, a);
  expectNear(same, toEigen(a), 0.0);

  // p' = a (b p).
  const Vec3f p(0.3f, -1.0f, 2.0f);
  const Vec3f viaProduct = transformPoint(out, p), viaSteps = transformPoint(a, transformPoint(b, p));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(viaProduct[i], viaSteps[i], 1e-5f);

  Matrix4 alias = a;
  multiplyMatrix4(alias, alias, b);
  expectNear(alias, toEigen(out), 0.0);

  float a3[9] = {1, 2, 3, 4, 5, 6, 7, 8, 10}, b3[9] = {0, 1, 0, -1, 0, 0, 0, 0, 2}, o3[9];
  multiplyMatrix3(a3, o3, b3);
  // Column 0 of the product is a times column 0 of b, i.e. a's column 1.
  EXPECT_FLOAT_EQ(o3[0], 4);
  EXPECT_FLOAT_EQ(o3[1], 5);
  EXPECT_FLOAT_EQ(o3[2], 6);
  EXPECT_FLOAT_EQ(o3[6], 14);
}

TEST(Matrix4Inverse, AllInversesMatchEigenOnWellConditionedMatrices) {
  std::mt19937 rng(12345);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int trial = 0; trial < 50; ++trial) {
    SCOPED_TRACE(trial);
    const Matrix4 affine = randomAffine(rng);
    const Eigen::Matrix4d expected = toEigen(affine).inverse();

    Matrix4 general = affine;
    // Give the general inverse a projective row as well.
    general[3] = static_cast<float>(unit(rng) * 0.2), general[7] = static_cast<float>(unit(rng) * 0.2);
    const Eigen::Matrix4d expectedGeneral = toEigen(general).inverse();
    invertMatrix4(general);
    expectNear(general, expectedGeneral, 1e-3);

    Matrix4 inPlace = affine;
    invertAffineMatrix4(inPlace);
    expectNear(inPlace, expected, 1e-4);

    Matrix4 byLU;
    invertAffineMatrix4ByLU(affine, byLU);
    expectNear(byLU, expected, 1e-5);

    float m3[9];
    for (int c = 0; c < 3; ++c)
      for (int r = 0; r < 3; ++r) m3[c * 3 + r] = affine.at(r, c);
    invertMatrix3(m3);
    for (int c = 0; c < 3; ++c)
      for (int r = 0; r < 3; ++r) EXPECT_NEAR(m3[c * 3 + r], expected(r, c), 1e-4);
  }
}

TEST(Matrix4Inverse, DeterminantAtMostOneHundredThousandthIsSingular) {
  Matrix4 edge = diagonal(1e-5f, 1, 1, 1);
  edge[12] = 3;
  invertMatrix4(edge);
  expectNear(edge, Eigen::Matrix4d::Identity(), 0.0);

  Matrix4 above = diagonal(2e-5f, 1, 1, 1);
  invertMatrix4(above);
  EXPECT_FLOAT_EQ(above[0], 50000.0f);

  float m3[9] = {1e-5f, 0, 0, 0, 1, 0, 0, 0, 1};
  invertMatrix3(m3);
  EXPECT_FLOAT_EQ(m3[0], 1.0f);
  float n3[9] = {-2e-5f, 0, 0, 0, 1, 0, 0, 0, 1};
  invertMatrix3(n3);
  EXPECT_FLOAT_EQ(n3[0], -50000.0f);

  // The affine inverse: singular linear part becomes the identity, translation negated.
  Matrix4 flat = diagonal(1e-5f, 1, 1, 1);
  flat[12] = 1, flat[13] = 2, flat[14] = 3;
  invertAffineMatrix4(flat);
  expectIdentityLinear(flat, 0.0f);
  EXPECT_EQ(flat[12], -1); EXPECT_EQ(flat[13], -2); EXPECT_EQ(flat[14], -3);
}

TEST(Matrix4Inverse, AffineInverseLeavesRowThreeAlone) {
  Matrix4 m;
  m[12] = 1, m[13] = -2, m[14] = 3;
  m[3] = 0.5f, m[7] = 0.25f, m[15] = 2;
  invertAffineMatrix4(m);
  expectIdentityLinear(m, 0.0f);
  EXPECT_EQ(m[12], -1); EXPECT_EQ(m[13], 2); EXPECT_EQ(m[14], -3);
  EXPECT_EQ(m[3], 0.5f); EXPECT_EQ(m[7], 0.25f); EXPECT_EQ(m[11], 0.0f); EXPECT_EQ(m[15], 2.0f);
}

TEST(Matrix4Inverse, LUInvertsTinyScalesAndFallsBackOnlyWhenSingular) {
  // A head authored in millimetres, placed at k = 0.002 with a turn and an offset.
  Matrix4 placement;
  const float k = 0.002f;
  const float angle[3] = {0, 0.7f, 0}, unit[3] = {k, k, k}, offset[3] = {0.1f, 1.6f, -0.3f};
  transformMatrix4(placement, unit, offset, angle);
  Matrix4 inverse;
  invertAffineMatrix4ByLU(placement, inverse);
  Matrix4 product;
  multiplyMatrix4(placement, product, inverse);
  expectNear(product, Eigen::Matrix4d::Identity(), 1e-5);
  const Vec3f millimetres(120.0f, -40.0f, 15.0f);
  const Vec3f back = transformPoint(inverse, transformPoint(placement, millimetres));
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(back[i], millimetres[i], 1e-2f);

  // Same input and output; row 3 of out is not written.
  Matrix4 self = placement;
  self[15] = 7;
  invertAffineMatrix4ByLU(self, self);
  EXPECT_NEAR(self[0], inverse[0], 1e-3f);
  EXPECT_EQ(self[15], 7);

  Matrix4 singular = diagonal(1, 0, 1, 1);
  singular[12] = 4, singular[13] = 5, singular[14] = 6;
  Matrix4 out;
  invertAffineMatrix4ByLU(singular, out);
  expectIdentityLinear(out, 0.0f);
  EXPECT_EQ(out[12], -4); EXPECT_EQ(out[13], -5); EXPECT_EQ(out[14], -6);
}

TEST(TransformMatrix4, RotationLayoutsThresholdsAndScale) {
  const float unitScale[3] = {1, 1, 1}, none[3] = {0, 0, 0};
  const float c = std::cos(0.5f), s = std::sin(0.5f);

  Matrix4 x;
  const float aroundX[3] = {0.5f, 0, 0};
  transformMatrix4(x, unitScale, none, aroundX);
  EXPECT_FLOAT_EQ(x[5], c); EXPECT_FLOAT_EQ(x[6], -s); EXPECT_FLOAT_EQ(x[9], s); EXPECT_FLOAT_EQ(x[10], c);
  EXPECT_EQ(x[0], 1);

  Matrix4 z;
  const float aroundZ[3] = {0, 0, 0.5f};
  transformMatrix4(z, unitScale, none, aroundZ);
  EXPECT_FLOAT_EQ(z[0], c); EXPECT_FLOAT_EQ(z[1], -s); EXPECT_FLOAT_EQ(z[4], s); EXPECT_FLOAT_EQ(z[5], c);
  EXPECT_EQ(z[10], 1);

  Matrix4 y;
  const float aroundY[3] = {0, 0.5f, 0};
  transformMatrix4(y, unitScale, none, aroundY);
  EXPECT_FLOAT_EQ(y[0], c); EXPECT_FLOAT_EQ(y[2], -s); EXPECT_FLOAT_EQ(y[8], s); EXPECT_FLOAT_EQ(y[10], c);

  // Below the squared-angle threshold only the translation changes; it adds to the old one.
  Matrix4 tiny;
  tiny[12] = 1;
  const float small[3] = {0.0005f, 0, 0}, move[3] = {1, 2, 3};
  transformMatrix4(tiny, unitScale, move, small);
  expectIdentityLinear(tiny, 0.0f);
  EXPECT_EQ(tiny[12], 2); EXPECT_EQ(tiny[13], 2); EXPECT_EQ(tiny[14], 3);

  // Only X is above 0.001.
  Matrix4 onlyX;
  const float mixed[3] = {0.01f, 0, 0.0005f};
  transformMatrix4(onlyX, unitScale, none, mixed);
  EXPECT_EQ(onlyX[1], 0.0f); EXPECT_EQ(onlyX[4], 0.0f);
  EXPECT_FLOAT_EQ(onlyX[6], -std::sin(0.01f));

  Matrix4 nearOne;
  const float almost[3] = {1.000005f, 1, 1};
  transformMatrix4(nearOne, almost, none, none);
  EXPECT_EQ(nearOne[0], 1.0f);

  Matrix4 scaled;
  scaled[3] = 1;  // row 3 is never scaled
  const float factors[3] = {2, 3, 4};
  transformMatrix4(scaled, factors, none, none);
  EXPECT_EQ(scaled[0], 2); EXPECT_EQ(scaled[5], 3); EXPECT_EQ(scaled[10], 4); EXPECT_EQ(scaled[3], 1);
}

TEST(AlignSegmentTransform, CarriesSegmentOntoSegment) {
  const float p0[3] = {0, 0, 0}, p1[3] = {1, 0, 0};
  Matrix4 self;
  alignSegmentTransform(self, p0, p0, p1, p1, false);
  expectNear(self, Eigen::Matrix4d::Identity(), 1e-6);

  // Double length about the midpoint, or rigid.
  const float q0[3] = {-0.5f, 0, 0}, q1[3] = {1.5f, 0, 0};
  Matrix4 doubled;
  alignSegmentTransform(doubled, p0, q0, p1, q1, false);
  EXPECT_FLOAT_EQ(doubled[0], 2); EXPECT_FLOAT_EQ(doubled[5], 2); EXPECT_FLOAT_EQ(doubled[10], 2);
  EXPECT_NEAR(transformPoint(doubled, Vec3f(0.5f, 0, 0))[0], 0.5f, 1e-6f);
  Matrix4 rigid;
  alignSegmentTransform(rigid, p0, q0, p1, q1, true);
  expectNear(rigid, Eigen::Matrix4d::Identity(), 1e-6);

  // A turned, moved and stretched target: both ends land.
  const float r0[3] = {1, 1, 1}, r1[3] = {1, 3, 1};
  Matrix4 turned;
  alignSegmentTransform(turned, p0, r0, p1, r1, false);
  const Vec3f a = transformPoint(turned, Vec3f(0, 0, 0)), b = transformPoint(turned, Vec3f(1, 0, 0));
  for (int i = 0; i < 3; ++i) {
    EXPECT_NEAR(a[i], r0[i], 1e-5f);
    EXPECT_NEAR(b[i], r1[i], 1e-5f);
  }
}

TEST(AlignSegmentTransform, ReversedAndZeroLengthSegmentsGetNoRotation) {
  const float p0[3] = {0, 0, 0}, p1[3] = {1, 0, 0}, q0[3] = {3, 0, 0}, q1[3] = {1, 0, 0};
  Matrix4 reversed;
  alignSegmentTransform(reversed, p0, q0, p1, q1, false);
  // c = -1: K is zero, so only the length ratio (2) and the midpoint shift remain.
  EXPECT_FLOAT_EQ(reversed[0], 2); EXPECT_FLOAT_EQ(reversed[5], 2); EXPECT_FLOAT_EQ(reversed[10], 2);
  EXPECT_EQ(reversed[1], 0); EXPECT_EQ(reversed[4], 0);
  EXPECT_NEAR(transformPoint(reversed, Vec3f(0.5f, 0, 0))[0], 2.0f, 1e-6f);

  const float r0[3] = {0, 0, 0}, r1[3] = {0, 0.5f, 0};
  Matrix4 zero;
  alignSegmentTransform(zero, p0, r0, p0, r1, false);
  EXPECT_FLOAT_EQ(zero[0], 50); EXPECT_FLOAT_EQ(zero[5], 50); EXPECT_FLOAT_EQ(zero[10], 50);
  EXPECT_EQ(zero[1], 0); EXPECT_EQ(zero[4], 0);
  EXPECT_FLOAT_EQ(zero[13], 0.25f);
}

TEST(PoseTransforms, RelativePoseAndRuntimeMatrix) {
  // Pose a: turned 90 degrees about z, at (1, 2, 3); b: unturned, at (0, 0, 1).
  const RigidPose a = {{1, 2, 3}, {0, 1, 0, -1, 0, 0, 0, 0, 1}};
  const RigidPose b = {{0, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1}};
  Matrix4 self;
  multiplyTransform3x4(self, a, a);
  expectNear(self, Eigen::Matrix4d::Identity(), 1e-6);

  Matrix4 carry;
  multiplyTransform3x4(carry, a, b);
  // The frame of a (its origin and x axis) lands on that of b.
  const Vec3f origin = transformPoint(carry, Vec3f(1, 2, 3)), axis = transformDirection(carry, Vec3f(0, 1, 0));
  EXPECT_NEAR(origin[0], 0, 1e-6f); EXPECT_NEAR(origin[1], 0, 1e-6f); EXPECT_NEAR(origin[2], 1, 1e-6f);
  EXPECT_NEAR(axis[0], 1, 1e-6f); EXPECT_NEAR(axis[1], 0, 1e-6f);
  EXPECT_EQ(carry[3], 0); EXPECT_EQ(carry[15], 1);

  const TrackingPose34 pose = {{{1, 2, 3, 10}, {4, 5, 6, 11}, {7, 8, 9, 12}}};
  const Matrix4 m = toMatrix4(pose);
  EXPECT_EQ(m[1], 4); EXPECT_EQ(m[4], 2); EXPECT_EQ(m[12], 10); EXPECT_EQ(m[14], 12);
  EXPECT_EQ(m[3], 0); EXPECT_EQ(m[7], 0); EXPECT_EQ(m[11], 0); EXPECT_EQ(m[15], 1);

  vr::Matrix34 runtime;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) runtime.m[r][c] = pose.m[r][c];
  const Matrix4 same = toMatrix4(runtime);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(same[i], m[i]);
}
