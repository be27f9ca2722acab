#include "core/matrix.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <random>

#include "platform/vr_runtime.h"

namespace {

Eigen::Matrix4d toEigen(const Matrix4& m) { return Eigen::Map<const Eigen::Matrix4f>(m.m).cast<double>(); }

void expectNear(const Matrix4& m, const Eigen::Matrix4d& e, double tolerance) {
  EXPECT_LE((toEigen(m) - e).cwiseAbs().maxCoeff(), tolerance) << toEigen(m) << "\nexpected\n" << e;
}

// Uniform scale s, then translation t.
Eigen::Matrix4d scaleAndShift(double s, double tx, double ty, double tz) {
  Eigen::Matrix4d e = Eigen::Vector4d(s, s, s, 1).asDiagonal();
  e.col(3).head<3>() << tx, ty, tz;
  return e;
}

// m with element 0 set to a and translation (t, 2 t, 3 t).
Matrix4 diagonal(float a, float t = 0) {
  Matrix4 m;
  m[0] = a, m[12] = t, m[13] = 2 * t, m[14] = 3 * t;
  return m;
}

Matrix4 transformed(Vec3f scale, Vec3f translation, Vec3f angles, Matrix4 m = Matrix4()) {
  transformMatrix4(m, scale.data(), translation.data(), angles.data());
  return m;
}

Matrix4 aligned(Vec3f p0, Vec3f q0, Vec3f p1, Vec3f q1, bool rigid = false) {
  Matrix4 out;
  alignSegmentTransform(out, p0.data(), q0.data(), p1.data(), q1.data(), rigid);
  return out;
}

}  // namespace

TEST(Matrix4Inverse, ProductAndAllInversesMatchEigenOnWellConditionedMatrices) {
  // Well conditioned: a rotation times scales in [0.5, 2], plus a translation.
  std::mt19937 rng(12345);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f), scale(0.5f, 2.0f);
  auto randomAffine = [&] {
    const Vec3f s{scale(rng), scale(rng), scale(rng)}, t{unit(rng), unit(rng), unit(rng)};
    return transformed(s, t, Vec3f{unit(rng), unit(rng), unit(rng)} * 3.0f);
  };
  const Matrix4 a = randomAffine(), b = randomAffine();
  Matrix4 product = a;
  expectNear(multiplyMatrix4(product, product, b), toEigen(a) * toEigen(b), 1e-5);  // out may be an operand
  for (int trial = 0; trial < 50; ++trial) {
    SCOPED_TRACE(trial);
    const Matrix4 affine = randomAffine();
    Matrix4 general = affine, inPlace = affine, byLU;
    general[3] = 0.1f, general[7] = -0.2f;  // a projective row for the general inverse
    const Eigen::Matrix4d expectedGeneral = toEigen(general).inverse(), expected = toEigen(affine).inverse();
    invertMatrix4(general);
    invertAffineMatrix4(inPlace);
    invertAffineMatrix4ByLU(affine, byLU);
    expectNear(general, expectedGeneral, 1e-3);
    expectNear(inPlace, expected, 1e-4);
    expectNear(byLU, expected, 1e-5);
  }
}

TEST(Matrix4Inverse, DeterminantAtMostOneHundredThousandthIsSingular) {
  Matrix4 edge = diagonal(1e-5f, 1), above = diagonal(2e-5f), affineAbove = diagonal(-2e-5f);
  Matrix4 flat = diagonal(-1e-5f, 1);
  flat[3] = 0.5f, flat[15] = 2;
  invertMatrix4(edge);
  invertMatrix4(above);
  invertAffineMatrix4(affineAbove);
  invertAffineMatrix4(flat);
  expectNear(edge, Eigen::Matrix4d::Identity(), 0.0);
  EXPECT_FLOAT_EQ(above[0], 50000.0f);
  EXPECT_FLOAT_EQ(affineAbove[0], -50000.0f);
  // Affine: a singular linear part becomes the identity, the translation is negated, row 3 kept.
  Eigen::Matrix4d expected = scaleAndShift(1, -1, -2, -3);
  expected.row(3) << 0.5, 0, 0, 2;
  expectNear(flat, expected, 0.0);
}

TEST(Matrix4Inverse, LUInvertsTinyScalesInPlaceAndFallsBackOnlyWhenSingular) {
  // A head authored in millimetres, placed at 0.002 with a turn and an offset (det 8e-9).
  const Matrix4 placement = transformed(Vec3f(0.002f), Vec3f(0.1f, 1.6f, -0.3f), Vec3f(0, 0.7f, 0));
  Matrix4 inverse = placement, product;
  invertAffineMatrix4ByLU(inverse, inverse);
  expectNear(multiplyMatrix4(placement, product, inverse), Eigen::Matrix4d::Identity(), 1e-5);
  // Singular: the identity linear part, the translation negated; row 3 of out is not written.
  inverse[15] = 7;
  invertAffineMatrix4ByLU(diagonal(0.0f, 4), inverse);
  Eigen::Matrix4d expected = scaleAndShift(1, -4, -8, -12);
  expected(3, 3) = 7;
  expectNear(inverse, expected, 0.0);
}

TEST(TransformMatrix4, RotationLayoutsThresholdsAndScale) {
  const float c = std::cos(0.5f), s = std::sin(0.5f);
  const Vec3f one(1.0f), none(0.0f);
  const Matrix4 x = transformed(one, none, Vec3f(0.5f, 0, 0)), z = transformed(one, none, Vec3f(0, 0, 0.5f));
  EXPECT_EQ(std::vector<float>({x[5], x[6], x[9], x[10], z[0], z[1], z[4], z[5]}),
            std::vector<float>({c, -s, s, c, c, -s, s, c}));

  // A small turn still turns.
  EXPECT_FLOAT_EQ(transformed(one, none, Vec3f(0.01f, 0, 0))[6], -std::sin(0.01f));

  // The translation adds to the old one; row 3 is never scaled.
  Matrix4 row3 = diagonal(1, 1);
  row3[3] = 1;
  const Matrix4 scaled = transformed(Vec3f(2, 3, 4), one, none, row3);
  EXPECT_EQ(std::vector<float>({scaled[0], scaled[5], scaled[10], scaled[3], scaled[13]}),
            std::vector<float>({2, 3, 4, 1, 3}));
}

TEST(AlignSegmentTransform, CarriesSegmentOntoSegmentReversedAndZeroLengthUnturned) {
  const Vec3f o(0, 0, 0), x1(1, 0, 0), left(-0.5f, 0, 0), right(1.5f, 0, 0);
  // Double length: scaled by 2 about the midpoint (0.5 stays put), or rigid: unchanged.
  expectNear(aligned(o, left, x1, right, true), Eigen::Matrix4d::Identity(), 1e-6);
  expectNear(aligned(o, left, x1, right), scaleAndShift(2, -0.5, 0, 0), 1e-6);
  // Reversed (c = -1): no rotation, only the length ratio 2 and the midpoint shift remain.
  expectNear(aligned(o, Vec3f(3, 0, 0), x1, x1), scaleAndShift(2, 1, 0, 0), 1e-6);
  // From zero length: scale l1 / 0.01, no rotation, midpoint onto midpoint.
  expectNear(aligned(o, o, o, Vec3f(0, 0.5f, 0)), scaleAndShift(50, 0, 0.25, 0), 1e-5);

  // Turned, moved and stretched: both ends land.
  const Vec3f q0(1, 1, 1), q1(1, 3, 1);
  const Matrix4 turned = aligned(o, q0, x1, q1);
  EXPECT_NEAR(length(transformPoint(turned, o) - q0) + length(transformPoint(turned, x1) - q1), 0.0, 1e-5);
}

TEST(PoseTransforms, RelativePoseAndRuntimeMatrix) {
  // a: turned 90 degrees about z (x axis along +y), at (1, 2, 3); b: unturned at (0, 0, 1).
  const RigidPose a = {{1, 2, 3}, {0, 1, 0, -1, 0, 0, 0, 0, 1}};
  const RigidPose b = {{0, 0, 1}, {1, 0, 0, 0, 1, 0, 0, 0, 1}};
  Matrix4 carry;
  multiplyTransform3x4(carry, a, b);
  Eigen::Matrix4d expected = scaleAndShift(1, -2, 1, -2);  // tb - C ta
  expected.topLeftCorner<2, 2>() << 0, 1, -1, 0;
  expectNear(carry, expected, 1e-6);

  // The runtime's row-major 3x4 to column-major 4x4.
  const vr::Matrix34 runtime = {{{1, 2, 3, 10}, {4, 5, 6, 11}, {7, 8, 9, 12}}};
  const float columnMajor[16] = {1, 4, 7, 0, 2, 5, 8, 0, 3, 6, 9, 0, 10, 11, 12, 1};
  expectNear(toMatrix4(runtime), toEigen(Matrix4(columnMajor)), 0.0);
}
