#pragma once
#include <cmath>
#include <cstddef>
#include <type_traits>

// A plain value of N contiguous elements: points, directions, colours, rectangles.
template <int N, typename T>
struct Vec {
  T v[N];

  Vec() : v{} {}
  // Fills every element with one value.
  explicit Vec(T fill) {
    for (int i = 0; i < N; ++i) v[i] = fill;
  }
  // One value per element, in order (x, y, z, w).
  template <typename... A, typename = std::enable_if_t<(sizeof...(A) == N && N >= 2)>>
  Vec(A... values) : v{static_cast<T>(values)...} {}

  T& operator[](int i) { return v[i]; }
  const T& operator[](int i) const { return v[i]; }
  T* data() { return v; }
  const T* data() const { return v; }
  static constexpr int size() { return N; }

  Vec& operator+=(const Vec& o) {
    for (int i = 0; i < N; ++i) v[i] += o.v[i];
    return *this;
  }
  Vec& operator-=(const Vec& o) {
    for (int i = 0; i < N; ++i) v[i] -= o.v[i];
    return *this;
  }
  Vec& operator*=(T s) {
    for (int i = 0; i < N; ++i) v[i] *= s;
    return *this;
  }
  Vec& operator/=(T s) {
    for (int i = 0; i < N; ++i) v[i] /= s;
    return *this;
  }
};

template <int N, typename T>
Vec<N, T> operator+(Vec<N, T> a, const Vec<N, T>& b) { return a += b; }
template <int N, typename T>
Vec<N, T> operator-(Vec<N, T> a, const Vec<N, T>& b) { return a -= b; }
template <int N, typename T>
Vec<N, T> operator-(Vec<N, T> a) {
  for (int i = 0; i < N; ++i) a.v[i] = -a.v[i];
  return a;
}
template <int N, typename T>
Vec<N, T> operator*(Vec<N, T> a, T s) { return a *= s; }
template <int N, typename T>
Vec<N, T> operator*(T s, Vec<N, T> a) { return a *= s; }
template <int N, typename T>
Vec<N, T> operator/(Vec<N, T> a, T s) { return a /= s; }
template <int N, typename T>
bool operator==(const Vec<N, T>& a, const Vec<N, T>& b) {
  for (int i = 0; i < N; ++i)
    if (!(a.v[i] == b.v[i])) return false;
  return true;
}
template <int N, typename T>
bool operator!=(const Vec<N, T>& a, const Vec<N, T>& b) { return !(a == b); }

template <int N, typename T>
T dot(const Vec<N, T>& a, const Vec<N, T>& b) {
  T s = T(0);
  for (int i = 0; i < N; ++i) s += a.v[i] * b.v[i];
  return s;
}
template <typename T>
Vec<3, T> cross(const Vec<3, T>& a, const Vec<3, T>& b) {
  return Vec<3, T>(a[1] * b[2] - a[2] * b[1], a[2] * b[0] - a[0] * b[2], a[0] * b[1] - a[1] * b[0]);
}
template <int N, typename T>
T squaredLength(const Vec<N, T>& a) { return dot(a, a); }
// Squares summed in T, the root taken in double.
template <int N, typename T>
double length(const Vec<N, T>& a) { return std::sqrt(static_cast<double>(squaredLength(a))); }
// Unit vector along a; a zero vector stays zero.
template <int N, typename T>
Vec<N, T> normalized(Vec<N, T> a) {
  const double l = length(a);
  if (l > 0.0)
    for (int i = 0; i < N; ++i) a.v[i] = static_cast<T>(a.v[i] / l);
  return a;
}

using Vec2f = Vec<2, float>;
using Vec3f = Vec<3, float>;
using Vec4f = Vec<4, float>;

// In place: x, y and z divided by the length; a zero vector is left as it is.
inline void normalizeVec3(Vec3f& v) { v = normalized(v); }
