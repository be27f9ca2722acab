#include "core/matrix.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <random>

#include "platform/vr_runtime.h"

namespace {

Eigen::Matrix4d toEigen(const Matrix4& m) { return Eigen::Map<const Eigen::Matrix4f>(m.m).cast<double>(); }

void expectNear(const Matrix4& m, const Eigen::Matrix4d& e, double tolerance) {
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(m[i], e.data()[i], tolerance) << "index " << i;
}
const Eigen::Matrix4d kIdentity = Eigen::Matrix4d::Identity();

// Well conditioned: a rotation times scales in [0.5, 2], plus a translation.
Matrix4 randomAffine(std::mt19937& rng) {
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f), scale(0.5f, 2.0f);
  const float s[3] = {scale(rng), scale(rng), scale(rng)}, t[3] = {unit(rng), unit(rng), unit(rng)};
  const float angles[3] = {unit(rng) * 3, unit(rng) * 3, unit(rng) * 3};
  Matrix4 m;
  transformMatrix4(m, s, t, angles);
  return m;
}

Matrix4 diagonal(float a, float t = 0) {
  Matrix4 m;
  m[0] = a;
  m[12] = t, m[13] = 2 * t, m[14] = 3 * t;
  return m;
}

}  // namespace

TEST(Matrix4Product, ComposesLikeEigenAndToleratesAliasing) {
  std::mt19937 rng(7);
  const Matrix4 a = randomAffine(rng), b = randomAffine(rng);
  Matrix4 out;
  multiplyMatrix4(a, out, b);
  expectNear(out, toEigen(a) * toEigen(b), 1e-5);
  Matrix4 alias = a;
  multiplyMatrix4(alias, alias, b);
  expectNear(alias, toEigen(out), 0.0);
}

TEST(Matrix4Inverse, AllInversesMatchEigenOnWellConditionedMatrices) {
  std::mt19937 rng(12345);
  for (int trial = 0; trial < 50; ++trial) {
    SCOPED_TRACE(trial);
    const Matrix4 affine = randomAffine(rng);
    const Eigen::Matrix4d expected = toEigen(affine).inverse();
    Matrix4 general = affine;
    general[3] = 0.1f, general[7] = -0.2f;  // a projective row for the general inverse
    const Eigen::Matrix4d expectedGeneral = toEigen(general).inverse();
    invertMatrix4(general);
    expectNear(general, expectedGeneral, 1e-3);
    Matrix4 inPlace = affine, byLU;
    invertAffineMatrix4(inPlace);
    expectNear(inPlace, expected, 1e-4);
    invertAffineMatrix4ByLU(affine, byLU);
    expectNear(byLU, expected, 1e-5);
  }
}

TEST(Matrix4Inverse, DeterminantAtMostOneHundredThousandthIsSingular) {
  Matrix4 edge = diagonal(1e-5f, 1), above = diagonal(2e-5f);
  invertMatrix4(edge);
  expectNear(edge, kIdentity, 0.0);
  invertMatrix4(above);
  EXPECT_FLOAT_EQ(above[0], 50000.0f);
  float m3[9] = {-1e-5f, 0, 0, 0, 1, 0, 0, 0, 1}, n3[9] = {-2e-5f, 0, 0, 0, 1, 0, 0, 0, 1};
  invertMatrix3(m3);
  invertMatrix3(n3);
  EXPECT_EQ(m3[0], 1.0f);
  EXPECT_FLOAT_EQ(n3[0], -50000.0f);

  // Affine: a singular linear part becomes the identity, the translation is negated, row 3 kept.
  Matrix4 flat = diagonal(1e-5f, 1);
  flat[3] = 0.5f, flat[15] = 2;
  invertAffineMatrix4(flat);
  Eigen::Matrix4d expected = kIdentity;
  expected.col(3) << -1, -2, -3, 2;
  expected(3, 0) = 0.5;
  expectNear(flat, expected, 0.0);
}

TEST(Matrix4Inverse, LUInvertsTinyScalesAndFallsBackOnlyWhenSingular) {
  // A head authored in millimetres, placed at k = 0.002 with a turn and an offset (det 8e-9).
  const float k[3] = {0.002f, 0.002f, 0.002f}, offset[3] = {0.1f, 1.6f, -0.3f}, turn[3] = {0, 0.7f, 0};
  Matrix4 placement, inverse, product;
  transformMatrix4(placement, k, offset, turn);
  invertAffineMatrix4ByLU(placement, inverse);
  multiplyMatrix4(placement, product, inverse);
  expectNear(product, kIdentity, 1e-5);

  // In place, and row 3 of out is not written.
  Matrix4 self = placement;
  self[15] = 7;
  invertAffineMatrix4ByLU(self, self);
  EXPECT_FLOAT_EQ(self[0], inverse[0]);
  EXPECT_EQ(self[15], 7);

  Matrix4 out;
  invertAffineMatrix4ByLU(diagonal(0.0f, 4), out);
  Eigen::Matrix4d expected = kIdentity;
  expected.col(3) << -4, -8, -12, 1;
  expectNear(out, expected, 0.0);
}

TEST(TransformMatrix4, RotationLayoutsThresholdsAndScale) {
  const float one[3] = {1, 1, 1}, none[3] = {0, 0, 0}, c = std::cos(0.5f), s = std::sin(0.5f);
  Matrix4 x, z;
  const float aroundX[3] = {0.5f, 0, 0}, aroundZ[3] = {0, 0, 0.5f};
  transformMatrix4(x, one, none, aroundX);
  transformMatrix4(z, one, none, aroundZ);
  EXPECT_FLOAT_EQ(x[5], c); EXPECT_FLOAT_EQ(x[6], -s);
  EXPECT_FLOAT_EQ(x[9], s); EXPECT_FLOAT_EQ(x[10], c);
  EXPECT_FLOAT_EQ(z[0], c); EXPECT_FLOAT_EQ(z[1], -s);
  EXPECT_FLOAT_EQ(z[4], s); EXPECT_FLOAT_EQ(z[5], c);

  // Angles below the thresholds are skipped; the translation adds to the old one.
  Matrix4 tiny = diagonal(1, 1), onlyX;
  const float small[3] = {0.0005f, 0, 0}, mixed[3] = {0.01f, 0, 0.0005f};
  transformMatrix4(tiny, one, one, small);
  EXPECT_EQ(tiny[6], 0.0f);
  EXPECT_EQ(tiny[13], 3.0f);
  transformMatrix4(onlyX, one, none, mixed);
  EXPECT_EQ(onlyX[1], 0.0f);
  EXPECT_FLOAT_EQ(onlyX[6], -std::sin(0.01f));

  // Scale within 1e-5 of 1 is skipped; row 3 is never scaled.
  Matrix4 nearOne, scaled;
  const float almost[3] = {1.000005f, 1, 1}, factors[3] = {2, 3, 4};
  transformMatrix4(nearOne, almost, none, none);
  EXPECT_EQ(nearOne[0], 1.0f);
  scaled[3] = 1;
  transformMatrix4(scaled, factors, none, none);
  EXPECT_EQ(scaled[0], 2); EXPECT_EQ(scaled[5], 3); EXPECT_EQ(scaled[10], 4); EXPECT_EQ(scaled[3], 1);
}

TEST(AlignSegmentTransform, CarriesSegmentOntoSegment) {
  const float p0[3] = {0, 0, 0}, p1[3] = {1, 0, 0}, q0[3] = {-0.5f, 0, 0}, q1[3] = {1.5f, 0, 0};
  // Double length: scaled by 2 about the midpoint (0.5 stays put), or rigid: unchanged.
  Matrix4 doubled, rigid;
  alignSegmentTransform(doubled, p0, q0, p1, q1, false);
  Eigen::Matrix4d expected = Eigen::Vector4d(2, 2, 2, 1).asDiagonal();
  expected(0, 3) = -0.5;
  expectNear(doubled, expected, 1e-6);
  alignSegmentTransform(rigid, p0, q0, p1, q1, true);
  expectNear(rigid, kIdentity, 1e-6);

  // Turned, moved and stretched: both ends land.
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
  // Reversed (c = -1): K is zero, so only the length ratio 2 and the midpoint shift remain.
  const float p0[3] = {0, 0, 0}, p1[3] = {1, 0, 0}, q0[3] = {3, 0, 0}, q1[3] = {1, 0, 0};
  Matrix4 reversed;
  alignSegmentTransform(reversed, p0, q0, p1, q1, false);
  Eigen::Matrix4d expected = Eigen::Vector4d(2, 2, 2, 1).asDiagonal();
  expected(0, 3) = 1;
  expectNear(reversed, expected, 1e-6);

  // From zero length: scale l1 / 0.01, no rotation, midpoint onto midpoint.
  const float r1[3] = {0, 0.5f, 0};
  Matrix4 zero;
  alignSegmentTransform(zero, p0, p0, p0, r1, false);
  expected = Eigen::Vector4d(50, 50, 50, 1).asDiagonal();
  expected(1, 3) = 0.25;
  expectNear(zero, expected, 1e-5);
}

TEST(PoseTransforms, RelativePoseAndRuntimeMatrix) {
  // a: turned 90 degrees about z (x axis along +y), at (1, 2, 3); b: unturned at (0, 0, 1).
  const RigidPose a = {{1, 2, 3}, {0, 1, 0, -1, 0, 0, 0, 0, 1}};
  const RigidPose b = {{0, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1}};
  Matrix4 self, carry;
  multiplyTransform3x4(self, a, a);
  expectNear(self, kIdentity, 1e-6);
  multiplyTransform3x4(carry, a, b);
  Eigen::Matrix4d expected = kIdentity;
  expected.topLeftCorner<2, 2>() << 0, 1, -1, 0;
  expected.col(3) << -2, 1, -2, 1;  // tb - C ta
  expectNear(carry, expected, 1e-6);

  // Row-major 3x4 to column-major 4x4, from our struct or the runtime's.
  const TrackingPose34 pose = {{{1, 2, 3, 10}, {4, 5, 6, 11}, {7, 8, 9, 12}}};
  vr::Matrix34 runtime;
  std::copy(&pose.m[0][0], &pose.m[0][0] + 12, &runtime.m[0][0]);
  const float columnMajor[16] = {1, 4, 7, 0, 2, 5, 8, 0, 3, 6, 9, 0, 10, 11, 12, 1};
  expectNear(toMatrix4(pose), toEigen(Matrix4(columnMajor)), 0.0);
  expectNear(toMatrix4(runtime), toEigen(Matrix4(columnMajor)), 0.0);
}
