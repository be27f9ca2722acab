#pragma once
#include <cmath>
#include <type_traits>
#include <vector>

#include "core/vec.h"

// A curve through control points, over float, Vec2f (spline editor) and Vec3f (strokes).
// The base interpolates nothing (it repeats p0); CatmullRom gives the uniform spline.
template <typename T>
class Curve {
 public:
  virtual ~Curve() = default;

  // Appends the samples of the newest segment.
  virtual void sample() = 0;
  // The point at t in [0, 1] between p1 and p2, with p0 and p3 as outer neighbours.
  virtual T interpolate(double t, const T& p0, const T& p1, const T& p2, const T& p3) const {
    (void)t, (void)p1, (void)p2, (void)p3;
    return p0;
  }

  // Refits points with count samples evenly spaced in parameter (first and last point kept),
  // into m_samples; control points and samples are emptied first. No points or count <= 0 give
  // no samples; count 1 gives the first point alone.
  void resample(const std::vector<T>& points, int count);

  std::vector<T> m_controlPoints;
  std::vector<T> m_samples;
  int m_steps = 2;  // samples per segment for sample()
};

template <typename T>
class CatmullRom : public Curve<T> {
 public:
  // Fewer than four control points, or steps <= 0, append nothing. Each call appends steps + 1
  // samples of the last segment, so the joint between two segments appears twice.
  void sample() override;
  T interpolate(double t, const T& p0, const T& p1, const T& p2, const T& p3) const override;
};

template <typename T>
void Curve<T>::resample(const std::vector<T>& points, int count) {
  m_controlPoints.clear();
  m_samples.clear();
  if (points.empty() || count <= 0) return;
  if (count == 1) {
    m_samples.push_back(points.front());
    return;
  }
  const int last = static_cast<int>(points.size()) - 1;
  m_samples.reserve(count);
  for (int i = 0; i < count; ++i) {
    const double t = static_cast<double>(i) * last / (count - 1);
    int k = static_cast<int>(t);
    if (k > last) k = last;
    const double f = t - k;
    const T& a = points[k > 0 ? k - 1 : 0];
    const T& b = points[k];
    const T& c = points[k + 1 < last ? k + 1 : last];
    const T& d = k < last - 1 ? points[k + 2] : c;
    m_samples.push_back(this->interpolate(f, a, b, c, d));
  }
}

template <typename T>
void CatmullRom<T>::sample() {
  const auto& p = this->m_controlPoints;
  const size_t n = p.size();
  const int steps = this->m_steps;
  if (n < 4 || steps <= 0) return;
  for (int i = 0; i <= steps; ++i)
    this->m_samples.push_back(
        interpolate(static_cast<double>(i) / steps, p[n - 4], p[n - 3], p[n - 2], p[n - 1]));
}

template <typename T>
T CatmullRom<T>::interpolate(double t, const T& p0, const T& p1, const T& p2, const T& p3) const {
  if constexpr (std::is_same_v<T, float>) {
    const double t2 = t * t, t3 = t2 * t;
    return static_cast<float>(p1 + 0.5 * (p2 - p0) * t + 0.5 * (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3) * t2 +
                              0.5 * (-p0 + 3.0 * p1 - 3.0 * p2 + p3) * t3);
  } else {
    const float s = static_cast<float>(t), s2 = s * s, s3 = s2 * s;
    T out;
    for (int i = 0; i < T::size(); ++i)
      out[i] = p1[i] + 0.5f * (p2[i] - p0[i]) * s +
               0.5f * (2.0f * p0[i] - 5.0f * p1[i] + 4.0f * p2[i] - p3[i]) * s2 +
               0.5f * (-p0[i] + 3.0f * p1[i] - 3.0f * p2[i] + p3[i]) * s3;
    return out;
  }
}

// Spaces the points of a polyline evenly by arc length, into out (which may be the polyline).
// With spacing > 0 the step is the length over the whole number of pieces of at most about
// spacing; otherwise count points are wanted. The first point is always kept; a point that falls
// within 5 % of a step past a vertex is placed on that vertex's segment (extrapolated), which
// catches the end point despite rounding. Degenerate input gives a copy of a polyline of fewer
// than two points, else the first point alone: no length, a length shorter than one spacing, or
// count <= 1. Segments of zero length (repeated points) are stepped over.
template <typename T>
void resampleByArcLength(const std::vector<T>& polyline, std::vector<T>& out, int count, float spacing) {
  const size_t n = polyline.size();
  if (n < 2) {
    if (&out != &polyline) out = polyline;
    return;
  }
  std::vector<double> lengths(n, 0.0);
  double total = 0.0;
  for (size_t k = 1; k < n; ++k) {
    lengths[k] = length(polyline[k] - polyline[k - 1]);
    total += lengths[k];
  }
  double step = 0.0;
  if (spacing > 0.0f) {
    const double pieces = std::trunc(total / spacing);
    if (pieces >= 1.0) step = total / pieces;
  } else if (count > 1) {
    step = total / (count - 1);
  }

  std::vector<T> result;
  result.push_back(polyline[0]);
  if (step > 0.0 && std::isfinite(step)) {
    const double threshold = 0.95 * step;
    double acc = 0.0;
    for (size_t k = 1; k < n; ++k) {
      if (lengths[k] <= 0.0) continue;
      acc += lengths[k];
      while (acc >= threshold) {
        acc -= step;
        const float f = static_cast<float>((lengths[k] - acc) / lengths[k]);
        result.push_back(polyline[k] * f + polyline[k - 1] * (1.0f - f));
      }
    }
  }
  out.swap(result);
}

// The n-entry refit of a polyline: a Catmull-Rom curve through it resampled to n points, then
// spaced by arc length to n points. A polyline without length (repeated points) has no arc-length
// spacing: the curve's entries stand then, so the result always has n entries (none for n <= 0).
template <typename T>
std::vector<T> refitByArcLength(const std::vector<T>& points, int n);

// count entries linearly interpolated at evenly spaced parameters over the list, first and last
// entries kept; a count below 3 gives the first and last entries. An empty list gives none.
template <typename T>
void resampleLinear(const std::vector<T>& list, std::vector<T>& out, int count) {
  std::vector<T> result;
  const size_t k = list.size();
  if (k > 0) {
    result.push_back(list.front());
    if (count >= 3) {
      for (int i = 1; i <= count - 2; ++i) {
        const double t = static_cast<double>(i) * static_cast<double>(k - 1) / (count - 1);
        size_t a = static_cast<size_t>(t);
        if (a >= k - 1) a = k - 1;
        const size_t b = a + 1 < k ? a + 1 : a;
        const float f = static_cast<float>(t - static_cast<double>(a));
        result.push_back(list[a] * (1.0f - f) + list[b] * f);
      }
    }
    result.push_back(list.back());
  }
  out.swap(result);
}

// count entries of the quadratic uniform B-spline blend of the list at evenly spaced parameters,
// each the weighted mean of the (at most three) entries whose basis is non-zero there, so the
// result stays in the entries' convex hull. The parameters run from where only the first entry
// counts to where only the last does: first and last entries kept. Two entries, or count 2,
// give resampleLinear.
template <typename T>
void resampleSmooth(const std::vector<T>& list, std::vector<T>& out, int count) {
  const int k = static_cast<int>(list.size());
  if (k == 2 || count == 2 || k == 0 || count < 2) {
    resampleLinear(list, out, count);
    return;
  }
  // Entry i's basis covers [i, i + 3): u^2 / 2, (-2u^2 + 6u - 3) / 2, (3 - u)^2 / 2 on its thirds.
  auto basis = [](double u) {
    if (u < 0.0 || u >= 3.0) return 0.0;
    if (u < 1.0) return 0.5 * u * u;
    if (u < 2.0) return 0.5 * (-2.0 * u * u + 6.0 * u - 3.0);
    return 0.5 * (3.0 - u) * (3.0 - u);
  };
  std::vector<T> result;
  result.reserve(static_cast<size_t>(count));
  for (int j = 0; j < count; ++j) {
    const double t = 1.0 + static_cast<double>(j) * k / (count - 1);
    const int top = static_cast<int>(t);
    T sum{};
    double weight = 0.0;
    for (int i = top - 2; i <= top; ++i) {
      if (i < 0 || i >= k) continue;
      const double b = basis(t - i);
      if (b <= 0.0) continue;
      sum += list[static_cast<size_t>(i)] * static_cast<float>(b);
      weight += b;
    }
    result.push_back(weight > 0.0 ? sum / static_cast<float>(weight)
                                  : list[j == 0 ? 0 : static_cast<size_t>(k - 1)]);
  }
  result.front() = list.front();
  result.back() = list.back();
  out.swap(result);
}

template <typename T>
std::vector<T> refitByArcLength(const std::vector<T>& points, int n) {
  CatmullRom<T> curve;
  curve.resample(points, n);
  std::vector<T> spaced;
  resampleByArcLength(curve.m_samples, spaced, n, -1.0f);
  if (spaced.size() != static_cast<size_t>(n)) return curve.m_samples;
  return spaced;
}
