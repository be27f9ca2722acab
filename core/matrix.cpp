#include "core/matrix.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>

#include "core/dense_matrix.h"
#include "core/float_grid.h"
#include "platform/vr_runtime.h"

namespace {

constexpr float kSingular = 1e-5f;

void setIdentity3(float* m) {
  for (int i = 0; i < 9; ++i) m[i] = (i % 4 == 0) ? 1.0f : 0.0f;
}

}  // namespace

Matrix4& multiplyMatrix4(const Matrix4& a, Matrix4& out, const Matrix4& b) {
  float r[16];
  for (int c = 0; c < 4; ++c)
    for (int row = 0; row < 4; ++row)
      r[c * 4 + row] = a.m[row] * b.m[c * 4] + a.m[4 + row] * b.m[c * 4 + 1] +
                       a.m[8 + row] * b.m[c * 4 + 2] + a.m[12 + row] * b.m[c * 4 + 3];
  for (int i = 0; i < 16; ++i) out.m[i] = r[i];
  return out;
}

float* multiplyMatrix3(const float* a, float* out, const float* b) {
  float r[9];
  for (int c = 0; c < 3; ++c)
    for (int row = 0; row < 3; ++row)
      r[c * 3 + row] = a[row] * b[c * 3] + a[3 + row] * b[c * 3 + 1] + a[6 + row] * b[c * 3 + 2];
  for (int i = 0; i < 9; ++i) out[i] = r[i];
  return out;
}

void invertMatrix3(float* m) {
  // Cofactor C(r, c) of element (r, c); element (r, c) is m[c * 3 + r].
  auto e = [m](int r, int c) { return m[c * 3 + r]; };
  float cof[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) {
      const int r0 = (r + 1) % 3, r1 = (r + 2) % 3, c0 = (c + 1) % 3, c1 = (c + 2) % 3;
      // Cyclic minors carry their own sign.
      cof[c * 3 + r] = e(r0, c0) * e(r1, c1) - e(r0, c1) * e(r1, c0);
    }
  const float det = e(0, 0) * cof[0] + e(1, 0) * cof[1] + e(2, 0) * cof[2];
  if (std::fabs(det) <= kSingular) {
    setIdentity3(m);
    return;
  }
  const float inv = 1.0f / det;
  // inverse(r, c) = C(c, r) / det.
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m[c * 3 + r] = cof[r * 3 + c] * inv;
}

void invertAffineMatrix4(Matrix4& m) {
  float r[9] = {m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]};
  invertMatrix3(r);
  const float t[3] = {m[12], m[13], m[14]};
  for (int c = 0; c < 3; ++c)
    for (int row = 0; row < 3; ++row) m[c * 4 + row] = r[c * 3 + row];
  for (int row = 0; row < 3; ++row) m[12 + row] = -(r[row] * t[0] + r[3 + row] * t[1] + r[6 + row] * t[2]);
}

void invertMatrix4(Matrix4& mat) {
  const float* m = mat.m;
  float inv[16];
  inv[0] = m[5] * m[10] * m[15] - m[5] * m[11] * m[14] - m[9] * m[6] * m[15] + m[9] * m[7] * m[14] +
           m[13] * m[6] * m[11] - m[13] * m[7] * m[10];
  inv[4] = -m[4] * m[10] * m[15] + m[4] * m[11] * m[14] + m[8] * m[6] * m[15] - m[8] * m[7] * m[14] -
           m[12] * m[6] * m[11] + m[12] * m[7] * m[10];
  inv[8] = m[4] * m[9] * m[15] - m[4] * m[11] * m[13] - m[8] * m[5] * m[15] + m[8] * m[7] * m[13] +
           m[12] * m[5] * m[11] - m[12] * m[7] * m[9];
  inv[12] = -m[4] * m[9] * m[14] + m[4] * m[10] * m[13] + m[8] * m[5] * m[14] - m[8] * m[6] * m[13] -
            m[12] * m[5] * m[10] + m[12] * m[6] * m[9];
  inv[1] = -m[1] * m[10] * m[15] + m[1] * m[11] * m[14] + m[9] * m[2] * m[15] - m[9] * m[3] * m[14] -
           m[13] * m[2] * m[11] + m[13] * m[3] * m[10];
  inv[5] = m[0] * m[10] * m[15] - m[0] * m[11] * m[14] - m[8] * m[2] * m[15] + m[8] * m[3] * m[14] +
           m[12] * m[2] * m[11] - m[12] * m[3] * m[10];
  inv[9] = -m[0] * m[9] * m[15] + m[0] * m[11] * m[13] + m[8] * m[1] * m[15] - m[8] * m[3] * m[13] -
           m[12] * m[1] * m[11] + m[12] * m[3] * m[9];
  inv[13] = m[0] * m[9] * m[14] - m[0] * m[10] * m[13] - m[8] * m[1] * m[14] + m[8] * m[2] * m[13] +
            m[12] * m[1] * m[10] - m[12] * m[2] * m[9];
  inv[2] = m[1] * m[6] * m[15] - m[1] * m[7] * m[14] - m[5] * m[2] * m[15] + m[5] * m[3] * m[14] +
           m[13] * m[2] * m[7] - m[13] * m[3] * m[6];
  inv[6] = -m[0] * m[6] * m[15] + m[0] * m[7] * m[14] + m[4] * m[2] * m[15] - m[4] * m[3] * m[14] -
           m[12] * m[2] * m[7] + m[12] * m[3] * m[6];
  inv[10] = m[0] * m[5] * m[15] - m[0] * m[7] * m[13] - m[4] * m[1] * m[15] + m[4] * m[3] * m[13] +
            m[12] * m[1] * m[7] - m[12] * m[3] * m[5];
  inv[14] = -m[0] * m[5] * m[14] + m[0] * m[6] * m[13] + m[4] * m[1] * m[14] - m[4] * m[2] * m[13] -
            m[12] * m[1] * m[6] + m[12] * m[2] * m[5];
  inv[3] = -m[1] * m[6] * m[11] + m[1] * m[7] * m[10] + m[5] * m[2] * m[11] - m[5] * m[3] * m[10] -
           m[9] * m[2] * m[7] + m[9] * m[3] * m[6];
  inv[7] = m[0] * m[6] * m[11] - m[0] * m[7] * m[10] - m[4] * m[2] * m[11] + m[4] * m[3] * m[10] +
           m[8] * m[2] * m[7] - m[8] * m[3] * m[6];
  inv[11] = -m[0] * m[5] * m[11] + m[0] * m[7] * m[9] + m[4] * m[1] * m[11] - m[4] * m[3] * m[9] -
            m[8] * m[1] * m[7] + m[8] * m[3] * m[5];
  inv[15] = m[0] * m[5] * m[10] - m[0] * m[6] * m[9] - m[4] * m[1] * m[10] + m[4] * m[2] * m[9] +
            m[8] * m[1] * m[6] - m[8] * m[2] * m[5];
  const float det = m[0] * inv[0] + m[1] * inv[4] + m[2] * inv[8] + m[3] * inv[12];
  if (std::fabs(det) <= kSingular) {
    mat = Matrix4();
    return;
  }
  const float s = 1.0f / det;
  for (int i = 0; i < 16; ++i) mat.m[i] = inv[i] * s;
}

void invertAffineMatrix4ByLU(const Matrix4& in, Matrix4& out) {
  DenseMatrix linear;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) linear(r, c) = in.at(r, c);
  const double t[3] = {in[12], in[13], in[14]};
  const Eigen::Matrix3d inverse =
      Eigen::Matrix3d(Eigen::Map<const Eigen::Matrix<double, 3, 3, Eigen::RowMajor>>(linear.data()))
          .partialPivLu()
          .inverse();
  bool finite = true;
  for (int i = 0; i < 9; ++i) finite = finite && std::isfinite(inverse.data()[i]);
  // Only a singular linear part (a zero pivot) or overflow gives non-finite values, which would
  // poison every point drawn through the result.
  for (int r = 0; r < 3; ++r) {
    double tr = 0.0;
    for (int c = 0; c < 3; ++c) {
      const double v = finite ? inverse(r, c) : (r == c ? 1.0 : 0.0);
      out.at(r, c) = static_cast<float>(v);
      tr += v * t[c];
    }
    out[12 + r] = static_cast<float>(-tr);
  }
}

void transformMatrix4(Matrix4& m, const float* scale, const float* translation, const float* angles) {
  const float saved[3] = {m[12], m[13], m[14]};
  m[12] = m[13] = m[14] = 0.0f;

  const float ax = angles[0], ay = angles[1], az = angles[2];
  if (ax * ax + ay * ay + az * az > 1e-5f) {
    // Element layouts as the rest of the system expects them (each is the transpose of the
    // textbook column-vector rotation).
    auto rotate = [&m](float angle, int c0, int s0, int s1, int c1) {
      if (std::fabs(angle) <= 0.001f) return;
      Matrix4 r;
      const float c = std::cos(angle), s = std::sin(angle);
      r[c0] = c;
      r[s0] = -s;
      r[s1] = s;
      r[c1] = c;
      Matrix4 result;
      multiplyMatrix4(m, result, r);
      m = result;
    };
    rotate(ax, 5, 6, 9, 10);
    rotate(ay, 0, 2, 8, 10);
    rotate(az, 0, 1, 4, 5);
  }

  const float sx = scale[0], sy = scale[1], sz = scale[2];
  if (std::fabs(sx - 1.0f) > 1e-5f || std::fabs(sy - 1.0f) > 1e-5f || std::fabs(sz - 1.0f) > 1e-5f) {
    for (int row = 0; row < 3; ++row) {
      m[row] *= sx;
      m[4 + row] *= sy;
      m[8 + row] *= sz;
    }
  }

  for (int i = 0; i < 3; ++i) m[12 + i] = saved[i] + translation[i];
}

void alignSegmentTransform(Matrix4& out, const float* p0, const float* q0, const float* p1,
                           const float* q1, bool rigid) {
  Vec3f d0(p1[0] - p0[0], p1[1] - p0[1], p1[2] - p0[2]);
  Vec3f d1(q1[0] - q0[0], q1[1] - q0[1], q1[2] - q0[2]);
  const float l0 = static_cast<float>(length(d0));
  const float l1 = static_cast<float>(length(d1));
  const float scale = std::max(l1, 0.01f) / std::max(l0, 0.01f);
  if (l0 != 0.0f) d0 /= l0;
  if (l1 != 0.0f) d1 /= l1;
  const Vec3f w = cross(d0, d1);
  const float c = dot(d0, d1);

  FloatGrid k(3, 3, 0.0f);
  k[0][1] = -w[2];
  k[0][2] = w[1];
  k[1][0] = w[2];
  k[1][2] = -w[0];
  k[2][0] = -w[1];
  k[2][1] = w[0];

  FloatGrid kk;
  FloatGrid::multiply(k, kk, k);
  // A reversed segment (1 + c == 0) keeps K K undivided; with w = 0 that is no rotation.
  if (1.0f + c != 0.0f) FloatGrid::divide(kk, kk, 1.0f + c);
  FloatGrid r;
  FloatGrid::add(FloatGrid::identity(), r, k);
  FloatGrid::add(r, r, kk);
  if (!rigid) FloatGrid::scale(r, r, scale);

  float mid0[3], mid1[3];
  for (int i = 0; i < 3; ++i) {
    mid0[i] = (p0[i] + p1[i]) * 0.5f;
    mid1[i] = (q0[i] + q1[i]) * 0.5f;
  }

  FloatGrid rt;
  FloatGrid::transpose(r, rt);
  out = Matrix4();
  for (int col = 0; col < 3; ++col)
    for (int row = 0; row < 3; ++row) out[col * 4 + row] = rt[col][row];
  for (int i = 0; i < 3; ++i)
    out[12 + i] = mid1[i] - (r[i][0] * mid0[0] + r[i][1] * mid0[1] + r[i][2] * mid0[2]);
}

void multiplyTransform3x4(Matrix4& out, const RigidPose& a, const RigidPose& b) {
  // Ra^T in place of its inverse: both are rotations.
  float raT[9];
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) raT[c * 3 + r] = a.rotation[r * 3 + c];
  float cm[9];
  multiplyMatrix3(b.rotation, cm, raT);
  out = Matrix4();
  for (int c = 0; c < 3; ++c)
    for (int r = 0; r < 3; ++r) out[c * 4 + r] = cm[c * 3 + r];
  for (int r = 0; r < 3; ++r)
    out[12 + r] = b.translation[r] -
                  (cm[r] * a.translation[0] + cm[3 + r] * a.translation[1] + cm[6 + r] * a.translation[2]);
}

Matrix4 toMatrix4(const vr::Matrix34& pose) {
  Matrix4 out;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) out.at(r, c) = pose.m[r][c];
  return out;
}

Vec3f transformPoint(const Matrix4& m, const Vec3f& p) {
  Vec3f out;
  for (int r = 0; r < 3; ++r) out[r] = m.at(r, 0) * p[0] + m.at(r, 1) * p[1] + m.at(r, 2) * p[2] + m.at(r, 3);
  return out;
}

Vec3f transformDirection(const Matrix4& m, const Vec3f& d) {
  Vec3f out;
  for (int r = 0; r < 3; ++r) out[r] = m.at(r, 0) * d[0] + m.at(r, 1) * d[1] + m.at(r, 2) * d[2];
  return out;
}
