#pragma once
#include "core/vec.h"

namespace vr {
struct Matrix34;
}

// A 4x4 transform: 16 floats, column-major, element (row r, column c) at index c * 4 + r.
// Columns 0 to 2 are the linear part, indices 12 to 14 the translation; points are column
// vectors multiplied on the right (p' = M p). Default-constructed as the identity.
struct Matrix4 {
  float m[16];

  Matrix4() : m{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1} {}
  // From 16 column-major values (a stored FloatList transform, a GL uniform).
  explicit Matrix4(const float* values) {
    for (int i = 0; i < 16; ++i) m[i] = values[i];
  }
  static Matrix4 identity() { return Matrix4(); }

  float& operator[](int i) { return m[i]; }
  const float& operator[](int i) const { return m[i]; }
  float& at(int row, int col) { return m[col * 4 + row]; }
  const float& at(int row, int col) const { return m[col * 4 + row]; }
  float* data() { return m; }
  const float* data() const { return m; }
};

// A rigid pose: translation (3 floats) then a 3x3 rotation (9 floats, column-major).
struct RigidPose {
  float translation[3];
  float rotation[9];
};

// out = a b, returned. Computed through a local so out may also be a or b.
Matrix4& multiplyMatrix4(const Matrix4& a, Matrix4& out, const Matrix4& b);
// 3x3 column-major (element (r, c) at c * 3 + r): out = a b, returned; out may alias a or b.
float* multiplyMatrix3(const float* a, float* out, const float* b);

// In place. |det| <= 1e-5 counts as singular and gives the identity.
void invertMatrix3(float* m);
// In place, for an affine m: the linear part through invertMatrix3 (identity when singular),
// translation -(R' t); row 3 left as it was.
void invertAffineMatrix4(Matrix4& m);
// In place, general 4x4 by cofactors; |det| <= 1e-5 gives the identity.
void invertMatrix4(Matrix4& m);
// Affine inverse in double precision (LU with partial pivoting), no singularity threshold, so
// tiny scales (a head placed in millimetres) invert. A singular linear part (non-finite result)
// gives the identity linear part, translation -t. Row 3 of out is not written: pass an out whose
// row 3 is (0, 0, 0, 1). in and out may be the same matrix.
void invertAffineMatrix4ByLU(const Matrix4& in, Matrix4& out);

// Edits m: translation set aside; rotations about X, Y, Z (radians, each only above 0.001, all
// skipped when their squares sum to 1e-5 or less) right-multiplied; columns 0-2 scaled unless
// every scale is within 1e-5 of 1; translation restored plus the given one.
void transformMatrix4(Matrix4& m, const float* scale, const float* translation, const float* angles);

// The transform carrying segment p0-p1 onto q0-q1: rotation of the direction, scaled by the
// length ratio (each length clamped to 0.01) unless rigid, midpoint onto midpoint. A reversed
// segment gets no rotation; a zero-length one no rotation.
void alignSegmentTransform(Matrix4& out, const float* p0, const float* q0, const float* p1,
                           const float* q1, bool rigid);

// The transform carrying pose a onto pose b: rotation Rb Ra^T, translation tb - C ta.
void multiplyTransform3x4(Matrix4& out, const RigidPose& a, const RigidPose& b);

// The runtime's 3x4 tracking matrix as a column-major 4x4 with row 3 (0, 0, 0, 1).
Matrix4 toMatrix4(const vr::Matrix34& pose);

// p' = M (p, 1) and the linear part applied to a direction (translation ignored).
Vec3f transformPoint(const Matrix4& m, const Vec3f& p);
Vec3f transformDirection(const Matrix4& m, const Vec3f& d);
