#include "core/geometry.h"

#include <algorithm>
#include <cmath>

#include "quillax.pb.h"

int buildQuadVertices(std::vector<float>& out, const Vec4f& rect, const Vec4f& textureRect) {
  const float x = rect[0], y = rect[1], w = rect[2], h = rect[3];
  const float u = textureRect[0], v = textureRect[1], tw = textureRect[2], th = textureRect[3];
  const bool textured = tw > 0.0f && th > 0.0f;
  const float corners[6][4] = {{x, y + h, u, v + th},      {x, y, u, v},
                               {x + w, y, u + tw, v},      {x + w, y, u + tw, v},
                               {x + w, y + h, u + tw, v + th}, {x, y + h, u, v + th}};
  for (const auto& c : corners) {
    out.insert(out.end(), {c[0], c[1], 0.0f});
    if (textured) out.insert(out.end(), {c[2], c[3]});
  }
  return 6;
}

void buildRingMesh(std::vector<float>& points, int32_t n, std::vector<float>* normals) {
  const int m = std::abs(n) + 1;
  const double stepAngle = 0.2617994;  // 15 degrees
  const float r = static_cast<float>(1.0 / (m * std::sin(stepAngle)));
  const float c = static_cast<float>(std::cos(0.1308997));
  const float sigma = n >= 0 ? 1.0f : -1.0f;
  const float start = static_cast<float>(((n < 0 ? 1.5 : 0.5) - m / 24.0) * 3.1415926);
  // The arc lies on a circle of radius r about the origin. Shifting it by c r (which puts the ends
  // of the n = 0 profile on y = 0) keeps the ribbon at its stroke: down for n >= 0, up for n < 0,
  // so each negative profile mirrors its positive one. From 17 steps on the arc nearly closes
  // round the stroke and stays centred.
  float shift = 0.0f;
  if (m < 18) shift = n >= 0 ? -c * r : c * r;
  for (int i = 0; i <= m; ++i) {
    const double a = i * stepAngle + start;
    if (normals) normals->insert(normals->end(), {static_cast<float>(-std::cos(a)), static_cast<float>(sigma * std::sin(a))});
    const float x = static_cast<float>(-sigma * std::cos(a) * r);
    const float y = static_cast<float>(std::sin(a) * r);
    points.insert(points.end(), {x, y + shift});
  }
}

int intersectRayTriangle(const float* origin, const float* direction, const float* p0, const float* p1,
                         const float* p2, float& distance, float& u, float& v) {
  using Vec3d = Vec<3, double>;
  // Differences taken in float, as the points come, then carried on in double.
  auto from = [](const float* a, const float* b) {
    return Vec3d(a[0] - b[0], a[1] - b[1], a[2] - b[2]);
  };
  const Vec3d e1 = from(p1, p0), e2 = from(p2, p0), t = from(origin, p0);
  const Vec3d d(direction[0], direction[1], direction[2]);

  const Vec3d p = cross(d, e2);
  const double det = dot(e1, p);
  if (det > -1e-6 && det < 1e-6) return 0;
  const double du = dot(t, p) / det;
  u = static_cast<float>(du);
  if (du < 0.0 || du > 1.0) return 0;
  const Vec3d q = cross(t, e1);
  const double dv = dot(d, q) / det;
  v = static_cast<float>(dv);
  if (dv < 0.0 || dv > 1.0) return 0;
  distance = static_cast<float>(dot(e2, q) / det);
  return 1;
}

Vec3f toVec3(const quillax::Operation_Point& p) { return Vec3f(p.x(), p.y(), p.z()); }

void setPoint(quillax::Operation_Point* p, const Vec3f& v) {
  p->set_x(v[0]);
  p->set_y(v[1]);
  p->set_z(v[2]);
}

std::vector<Vec3f> toVec3List(const StoredPoints& list) {
  std::vector<Vec3f> out;
  out.reserve(static_cast<size_t>(list.size()));
  for (const quillax::Operation_Point& p : list) out.push_back(toVec3(p));
  return out;
}

void assignPoints(StoredPoints* list, const std::vector<Vec3f>& values) {
  list->Clear();
  list->Reserve(static_cast<int>(values.size()));
  for (const Vec3f& v : values) setPoint(list->Add(), v);
}

namespace {

using Point = quillax::Operation::Point;

void movePoint(Point& p, const Matrix4& m) { setPoint(&p, transformPoint(m, toVec3(p))); }

void turnDirection(Point& p, const Matrix4& m) {
  setPoint(&p, normalized(transformDirection(m, toVec3(p))));
}

}  // namespace

void transformOperationPoints(quillax::Operation& operation, const Matrix4& m) {
  for (Point& p : *operation.mutable_points()) movePoint(p, m);
  for (Point& p : *operation.mutable_pitches()) turnDirection(p, m);
  for (Point& p : *operation.mutable_normals()) turnDirection(p, m);
  if (operation.has_meshes()) {
    auto* mesh = operation.mutable_meshes();
    for (Point& p : *mesh->mutable_vpoints()) movePoint(p, m);
    for (Point& p : *mesh->mutable_vnormals()) turnDirection(p, m);
  }
}

void toNormalizedWeights(const std::vector<float>& x, std::vector<float>& out, bool scaleByMax) {
  if (x.empty()) return;
  if (out.size() != x.size()) out.assign(x.size(), 0.0f);
  float sum = 0.0f, largest = 0.0f;
  for (size_t i = 0; i < x.size(); ++i) {
    const double xi = x[i];
    out[i] = static_cast<float>(xi * xi / ((1.0 - xi) + 1e-7));
    sum += out[i];
    largest = std::max(largest, x[i]);
  }
  float k = 1.0f / (std::fabs(sum) + 1e-7f);
  if (scaleByMax) k *= largest;
  for (float& w : out) w *= k;
}

float distanceL1(const std::vector<float>& a, const std::vector<float>& b, const std::vector<float>* offset) {
  // A short b or offset list would be read past its end: only the values all lists hold count.
  size_t n = std::min(a.size(), b.size());
  if (offset) n = std::min(n, offset->size());
  float sum = 0.0f;
  for (size_t i = 0; i < n; ++i) sum += std::fabs(b[i] + (offset ? (*offset)[i] : 0.0f) - a[i]);
  return sum * (1.0f / static_cast<float>(n));
}

void smallestIndices(const std::vector<float>& values, int32_t k, std::vector<int32_t>& out) {
  if (k <= 0) return;
  std::vector<float> work = values;
  std::vector<int32_t> index(values.size());
  for (size_t i = 0; i < index.size(); ++i) index[i] = static_cast<int32_t>(i);
  int32_t taken = 0;
  for (size_t i = 0; i < work.size() && taken < k; ++i, ++taken) {
    size_t best = i;
    for (size_t j = i + 1; j < work.size(); ++j)
      if (work[j] < work[best]) best = j;
    std::swap(work[i], work[best]);
    std::swap(index[i], index[best]);
    out.push_back(index[i]);
  }
}

void addScaled(std::vector<float>& a, const std::vector<float>& b, float s) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) a[i] += s * b[i];
}

Vec3f rotateAroundAxis(const Vec3f& v, const Vec3f& k, float angle) {
  const float c = std::cos(angle), s = std::sin(angle);
  return v * c + cross(k, v) * s + k * (dot(k, v) * (1.0f - c));
}
