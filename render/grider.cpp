#include "render/grider.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

// The 12 edges of the cube [-1, 1]^3, two end points each: the edges along z, then along y,
// then along x.
const float kCubeEdges[72] = {
    -1, -1, -1, -1, -1, 1,  -1, 1, -1, -1, 1, 1,  1, -1, -1, 1, -1, 1,  1, 1, -1, 1, 1, 1,
    -1, -1, -1, -1, 1, -1,  -1, -1, 1, -1, 1, 1,  1, -1, -1, 1, 1, -1,  1, -1, 1, 1, 1, 1,
    -1, -1, -1, 1, -1, -1,  -1, 1, -1, 1, 1, -1,  -1, -1, 1, 1, -1, 1,  -1, 1, 1, 1, 1, 1,
};

int16_t clampToInt16(int32_t v) {
  return static_cast<int16_t>(std::clamp<int32_t>(v, std::numeric_limits<int16_t>::min(),
                                                  std::numeric_limits<int16_t>::max()));
}

}  // namespace

// ---- BoundingBox ----

BoundingBox::BoundingBox(const std::string& name) : ModelElement(name) {}

Vec3f BoundingBox::center(bool world) const {
  if (world) return m_worldCenter;
  return Vec3f((m_min[0] + m_max[0]) * 0.5f, (m_min[1] + m_max[1]) * 0.5f,
               (m_min[2] + m_max[2]) * 0.5f);
}

bool BoundingBox::contains(const Vec3f& point, bool world) const {
  const Vec3f p = world ? transformPoint(m_inverseMatrix, point) : point;
  for (int a = 0; a < 3; ++a)
    if (!(m_min[a] <= p[a] && p[a] < m_max[a])) return false;
  return true;
}

void BoundingBox::widen(const Vec3f& p) {
  for (int a = 0; a < 3; ++a) {
    m_min[a] = std::min(m_min[a], p[a]);
    m_max[a] = std::max(m_max[a], p[a]);
  }
}

std::vector<float> BoundingBox::wireCubeVertices() const {
  std::vector<float> vertices(72);
  for (int i = 0; i < 72; ++i) {
    const int a = i % 3;
    const double extent = static_cast<double>(m_max[a]) - m_min[a];
    vertices[i] = static_cast<float>((kCubeEdges[i] + 1.0) * extent * 0.5 + m_min[a]);
  }
  return vertices;
}

void BoundingBox::buildGeometry() {
  for (int a = 0; a < 3; ++a)
    if (!(m_max[a] - m_min[a] > 0.0f)) return;  // empty or flat: keep what was built
  setColor(Vec4f(0.6f, 0.6f, 0.6f, 0.3f));
  const std::vector<float> vertices = wireCubeVertices();
  if (m_vao == 0)
    uploadGeometry(vertices, 0, GL_LINES);
  else
    updateGeometry(vertices);
}

void BoundingBox::updateTransform() {
  ModelElement::updateTransform();
  // Without a determinant threshold: a box placed at a small scale (a head in millimetres, a
  // grabbed light or camera) must still contain what lies inside it.
  m_inverseMatrix = Matrix4();
  invertAffineMatrix4ByLU(m_modelMatrix, m_inverseMatrix);
  m_worldCenter = transformPoint(m_modelMatrix, center(false));
}

// ---- coreGrider ----

coreGrider::coreGrider(const std::string& name) : BoundingBox(name) {}

void coreGrider::setGrid(const Vec3f& min, const Vec3f& max, const Vec<3, int16_t>& counts) {
  m_min = min;
  m_max = max;
  m_counts = counts;
  for (int a = 0; a < 3; ++a)
    if (counts[a] <= 0) return;
  for (int a = 0; a < 3; ++a)
    if (!(min[a] < max[a])) return;
  for (int a = 0; a < 3; ++a)
    m_cellSize[a] = static_cast<float>((static_cast<double>(max[a]) - min[a]) / counts[a]);
}

bool coreGrider::hasCells() const {
  if (cellCount() == 0) return false;
  for (int a = 0; a < 3; ++a)
    if (!(m_cellSize[a] > 0.0f)) return false;
  return true;
}

size_t coreGrider::cellCount() const {
  for (int a = 0; a < 3; ++a)
    if (m_counts[a] <= 0) return 0;
  return static_cast<size_t>(m_counts[0]) * static_cast<size_t>(m_counts[1]) *
         static_cast<size_t>(m_counts[2]);
}

Vec3f coreGrider::cellCenter(const GridCell& cell) const {
  Vec3f c;
  for (int a = 0; a < 3; ++a)
    c[a] = static_cast<float>(m_min[a] + (cell[a] + 0.5) * static_cast<double>(m_cellSize[a]));
  return c;
}

int32_t coreGrider::axisIndex(double offset, int axis) const {
  const double q = offset / static_cast<double>(m_cellSize[axis]);
  if (std::isnan(q)) return -1;
  // Clamped before the conversion: far points and zero cell sizes must not overflow it.
  const double bounded = std::clamp(q, -40000.0, 40000.0);
  return static_cast<int32_t>(bounded);  // truncation toward zero
}

GridCell coreGrider::cellOf(const Vec3f& p) const {
  const GridCell none(-1, -1, -1);
  if (!hasCells() || !contains(p, false)) return none;
  GridCell cell;
  for (int a = 0; a < 3; ++a) {
    // A point a rounding error below the maximum face may divide out to the count itself.
    const int32_t index = axisIndex(static_cast<double>(p[a]) - m_min[a], a);
    cell[a] = static_cast<int16_t>(std::clamp<int32_t>(index, 0, m_counts[a] - 1));
  }
  return cell;
}

CellRange coreGrider::cellRangeByRadius(const Vec3f& p, float r) const {
  CellRange range;
  for (int a = 0; a < 3; ++a) {
    if (std::isnan(p[a]) || std::isnan(r)) {
      range[a] = {0, -1};
      continue;
    }
    const int32_t low = axisIndex(static_cast<double>(p[a]) - r - m_min[a], a);
    const int32_t high = axisIndex(static_cast<double>(p[a]) + r - m_min[a], a);
    range[a][0] = clampToInt16(std::max(low, 0));
    range[a][1] = clampToInt16(std::min<int32_t>(high, m_counts[a] - 1));
  }
  return range;
}

CellRange coreGrider::cellRangeByCells(const Vec3f& p, int32_t n) const {
  CellRange range;
  for (int a = 0; a < 3; ++a) {
    if (std::isnan(p[a])) {
      range[a] = {0, -1};
      continue;
    }
    const int64_t c = axisIndex(static_cast<double>(p[a]) - m_min[a], a);
    range[a][0] = clampToInt16(static_cast<int32_t>(std::clamp<int64_t>(c - n, 0, INT32_MAX)));
    range[a][1] = clampToInt16(static_cast<int32_t>(
        std::clamp<int64_t>(c + n, INT32_MIN, static_cast<int64_t>(m_counts[a]) - 1)));
  }
  return range;
}
