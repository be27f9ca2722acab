#include "render/level_set.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iostream>

namespace {

enum : uint8_t { kFar = 0, kTrial = 1, kAccepted = 2 };

// A walk that has not reached a cell with vertices after this many planes is going round.
constexpr int kMaxFootSteps = 16;

// The trial cells, nearest first. Every key pushed during the march is at least the key last
// taken (a cell is always farther than the cell it was reached from), so a radix heap serves:
// pushing is constant time and an entry moves down a bucket only when the minimum passes it.
// Keys are |distance| as float bits, whose order as unsigned integers is that of the
// non-negative floats. Stale entries of improved cells stay and are skipped when taken.
class RadixHeap {
 public:
  struct Entry {
    uint32_t key;
    int32_t index;
  };

  bool empty() const { return m_size == 0; }
  void push(float distance, int32_t index) {
    uint32_t key;
    std::memcpy(&key, &distance, sizeof(key));
    m_buckets[bucketOf(key)].push_back({key, index});
    ++m_size;
  }
  int32_t pop() {
    if (m_buckets[0].empty()) {
      size_t b = 1;
      while (m_buckets[b].empty()) ++b;
      uint32_t least = m_buckets[b][0].key;
      for (const Entry& e : m_buckets[b]) least = std::min(least, e.key);
      m_last = least;
      for (const Entry& e : m_buckets[b]) m_buckets[bucketOf(e.key)].push_back(e);
      m_buckets[b].clear();
    }
    const int32_t index = m_buckets[0].back().index;
    m_buckets[0].pop_back();
    --m_size;
    return index;
  }

 private:
  // 0 for the key last taken; else one more than the highest bit in which they differ.
  size_t bucketOf(uint32_t key) const {
    const uint32_t diff = key ^ m_last;
    return diff == 0 ? 0 : static_cast<size_t>(32 - __builtin_clz(diff));
  }
  std::vector<Entry> m_buckets[33];
  uint32_t m_last = 0;
  size_t m_size = 0;
};

// What the march reads of every neighbour, side by side in sixteen bytes; the normals, read
// only for the neighbour an update takes, stay in their own grid.
struct MarchCell {
  double dist;
  uint8_t state;
};

// The march's working state; strides follow coreGrider::cellIndex.
struct Marcher {
  std::vector<MarchCell> cells;
  std::vector<Vec3f>& normals;
  std::vector<GridCell>& accepted;
  int32_t n[3];
  int32_t stride[3];
  double h;
  RadixHeap heap;

  GridCell cellAt(int32_t index) const {
    const int32_t i = index / stride[0];
    const int32_t j = (index / stride[1]) % n[1];
    const int32_t k = index % n[2];
    return GridCell(static_cast<int16_t>(i), static_cast<int16_t>(j), static_cast<int16_t>(k));
  }

  void accept(int32_t index, const int32_t ijk[3]) {
    cells[static_cast<size_t>(index)].state = kAccepted;
    accepted.push_back(
        GridCell(static_cast<int16_t>(ijk[0]), static_cast<int16_t>(ijk[1]),
                 static_cast<int16_t>(ijk[2])));
    // +x, +y, +z, then -x, -y, -z.
    for (int side = 0; side < 2; ++side)
      for (int axis = 0; axis < 3; ++axis) {
        const int32_t c = ijk[axis] + (side == 0 ? 1 : -1);
        if (c < 0 || c >= n[axis]) continue;
        const int32_t nb = index + (side == 0 ? stride[axis] : -stride[axis]);
        if (cells[static_cast<size_t>(nb)].state == kAccepted) continue;
        int32_t nbIjk[3] = {ijk[0], ijk[1], ijk[2]};
        nbIjk[axis] = c;
        update(nb, nbIjk, index, axis);
      }
  }

  // The smaller sign-corrected value of a cell's two neighbours along `axis` (1e9 for a
  // neighbour outside, far or of the other sign), and the normal of the side it came from.
  double lowerNeighbour(int32_t index, const int32_t ijk[3], int axis, double s,
                        Vec3f& normal) const {
    double values[2] = {kLevelsetFar, kLevelsetFar};
    const bool inside[2] = {ijk[axis] - 1 >= 0, ijk[axis] + 1 < n[axis]};
    const int32_t nbs[2] = {index - stride[axis], index + stride[axis]};
    for (int side = 0; side < 2; ++side) {
      if (!inside[side]) continue;
      const MarchCell& m = cells[static_cast<size_t>(nbs[side])];
      if (m.state == kFar) continue;
      const double v = s * m.dist;
      values[side] = v < 0.0 ? kLevelsetFar : v;
    }
    const int side = values[0] < values[1] ? 0 : 1;
    normal = inside[side] ? normals[static_cast<size_t>(nbs[side])] : Vec3f();
    return values[side];
  }

  void update(int32_t index, const int32_t ijk[3], int32_t from, int fromAxis) {
    const MarchCell& f = cells[static_cast<size_t>(from)];
    const double a = f.dist;
    const double s = a > 0.0 ? 1.0 : -1.0;
    const double a1 = s * a;
    Vec3f nb, nc;
    const int axisB = fromAxis == 0 ? 1 : 0;
    const int axisC = fromAxis == 2 ? 1 : 2;
    const double b = lowerNeighbour(index, ijk, axisB, s, nb);
    const double c = lowerNeighbour(index, ijk, axisC, s, nc);
    double t = a1 + h;
    if (t >= b && t >= c && b > a1 && c > a1) {
      const double sum = a1 + b + c;
      const double disc = sum * sum - 3.0 * (a1 * a1 + b * b + c * c) + 3.0 * h * h;
      // Never negative with b and c within h above a1; kept safe from rounding.
      t = (sum + std::sqrt(std::max(disc, 0.0))) / 3.0;
    }
    MarchCell& m = cells[static_cast<size_t>(index)];
    if (m.state == kFar || (m.state == kTrial && std::fabs(m.dist) > t)) {
      m.dist = s * t;
      normals[static_cast<size_t>(index)] =
          normalized(normals[static_cast<size_t>(from)] + nb + nc);
      m.state = kTrial;
      heap.push(static_cast<float>(t), index);
    }
  }
};

}  // namespace

void fastMarch(std::vector<double>& distances, std::vector<Vec3f>& normals,
               const Vec<3, int16_t>& counts, std::vector<GridCell>& accepted, double h) {
  accepted.clear();
  for (int a = 0; a < 3; ++a)
    if (counts[a] <= 0) return;
  const size_t total = static_cast<size_t>(counts[0]) * static_cast<size_t>(counts[1]) *
                       static_cast<size_t>(counts[2]);
  if (distances.size() != total || normals.size() != total) return;

  Marcher m{{}, normals, accepted, {counts[0], counts[1], counts[2]},
            {static_cast<int32_t>(counts[1]) * counts[2], counts[2], 1}, h, {}};
  m.cells.resize(total);
  for (size_t u = 0; u < total; ++u)
    m.cells[u] = {distances[u], distances[u] <= kLevelsetNoValue ? kAccepted : kFar};
  accepted.reserve(total);

  int32_t ijk[3];
  int32_t index = 0;
  for (ijk[0] = 0; ijk[0] < m.n[0]; ++ijk[0])
    for (ijk[1] = 0; ijk[1] < m.n[1]; ++ijk[1])
      for (ijk[2] = 0; ijk[2] < m.n[2]; ++ijk[2], ++index)
        if (m.cells[static_cast<size_t>(index)].state == kAccepted) m.accept(index, ijk);

  while (!m.heap.empty()) {
    const int32_t top = m.heap.pop();
    if (m.cells[static_cast<size_t>(top)].state == kAccepted) continue;  // a stale entry
    const GridCell c = m.cellAt(top);
    const int32_t topIjk[3] = {c[0], c[1], c[2]};
    m.accept(top, topIjk);
  }

  for (size_t u = 0; u < total; ++u) distances[u] = m.cells[u].dist;
}

// ---- GLGrider ----

GLGrider::GLGrider(const std::string& name) : VGrider<Vec3f>(name) {}

void GLGrider::reset() {
  resetVertexCells();
  m_vertexNormals.clear();
  m_distanceGrid.clear();
  m_normalGrid.clear();
  m_footGrid.clear();
}

void GLGrider::setGrid(const Vec3f& min, const Vec3f& max, const Vec<3, int16_t>& counts) {
  coreGrider::setGrid(min, max, counts);
  reset();
}

bool GLGrider::pushStream(const Eigen::MatrixXd& V, const Eigen::MatrixXd& N) {
  if (V.rows() != N.rows()) {
    std::cout << "fail: glGrider push stream, normal size not equal vertice size." << std::endl;
    return false;
  }
  if (V.rows() > 0 && (V.cols() < 3 || N.cols() < 3)) {
    std::cout << "fail: glGrider push stream, vertices and normals need three coordinates."
              << std::endl;
    return false;
  }
  // Lists exist only for a lattice with cells; without them every vertex falls outside.
  const bool binnable = hasCells() && m_cellVertices.size() == cellCount();
  for (Eigen::Index r = 0; binnable && r < V.rows(); ++r) {
    GridCell cell;
    bool inside = true;
    for (int a = 0; a < 3 && inside; ++a) {
      const double index = std::trunc((V(r, a) - m_min[a]) / static_cast<double>(m_cellSize[a]));
      inside = index >= 0.0 && index < m_counts[a];  // false for NaN
      if (inside) cell[a] = static_cast<int16_t>(index);
    }
    if (!inside) continue;
    const Vec3f normal(static_cast<float>(N(r, 0)), static_cast<float>(N(r, 1)),
                       static_cast<float>(N(r, 2)));
    if (!std::isfinite(normal[0]) || !std::isfinite(normal[1]) || !std::isfinite(normal[2]))
      continue;  // a corrupt normal would spread NaN through the march
    cellVertices(cell).push_back(static_cast<int32_t>(m_vertices.size()));
    m_vertices.emplace_back(static_cast<float>(V(r, 0)), static_cast<float>(V(r, 1)),
                            static_cast<float>(V(r, 2)));
    m_vertexNormals.push_back(normalized(normal));
  }
  return true;
}

int32_t GLGrider::nearestVertex(const std::vector<int32_t>& list, const Vec3f& p,
                                float& best) const {
  int32_t nearest = -1;
  for (int32_t v : list) {
    // squaredDistance without the virtual call: this grid does not change it.
    const float d2 = squaredLength(m_vertices[static_cast<size_t>(v)] - p);
    if (d2 < best) {
      best = d2;
      nearest = v;
    }
  }
  return nearest;
}

void GLGrider::computeDirectValues() {
  const size_t total = hasCells() ? cellCount() : 0;
  m_distanceGrid.assign(total, kLevelsetFar);
  m_normalGrid.assign(total, Vec3f());
  m_footGrid.assign(total, Vec3f());
  if (total == 0 || m_cellVertices.size() != total) return;

  const int32_t nx = m_counts[0], ny = m_counts[1], nz = m_counts[2];
  size_t u = 0;
  for (int32_t i = 0; i < nx; ++i)
    for (int32_t j = 0; j < ny; ++j)
      for (int32_t k = 0; k < nz; ++k, ++u) {
        const GridCell cell(static_cast<int16_t>(i), static_cast<int16_t>(j),
                            static_cast<int16_t>(k));
        const Vec3f c = cellCenter(cell);
        float best = 1e9f;
        int32_t nearest = -1;
        if (!m_cellVertices[u].empty()) {
          nearest = nearestVertex(m_cellVertices[u], c, best);
        } else {
          for (int32_t bi = std::max(i - 1, 0); bi <= std::min(i + 1, nx - 1); ++bi)
            for (int32_t bj = std::max(j - 1, 0); bj <= std::min(j + 1, ny - 1); ++bj)
              for (int32_t bk = std::max(k - 1, 0); bk <= std::min(k + 1, nz - 1); ++bk) {
                const std::vector<int32_t>& list =
                    m_cellVertices[(static_cast<size_t>(bi) * ny + bj) * nz + bk];
                if (list.empty()) continue;
                const int32_t v = nearestVertex(list, c, best);
                if (v >= 0) nearest = v;
              }
        }
        if (nearest < 0) continue;
        const Vec3f& n = m_vertexNormals[static_cast<size_t>(nearest)];
        const float d = dot(c - m_vertices[static_cast<size_t>(nearest)], n);
        m_distanceGrid[u] = d;
        m_normalGrid[u] = n;
        m_footGrid[u] = c - n * d;
      }
}

void GLGrider::refineFootPoint(const GridCell& cell) {
  const size_t u = cellIndex(cell);
  Vec3f q = cellCenter(cell) - m_normalGrid[u] * static_cast<float>(m_distanceGrid[u]);
  // A marched cell has no foot point of its own yet: start it where its plane puts it.
  m_footGrid[u] = q;
  GridCell previous(-1, -1, -1);
  GridCell c2;
  bool settled = false;
  for (int step = 0; step < kMaxFootSteps; ++step) {
    c2 = cellOf(q);
    if (isNoCell(c2)) return;
    if (c2 == previous || !cellVertices(c2).empty()) {
      settled = true;
      break;
    }
    previous = c2;
    const size_t w = cellIndex(c2);
    const Vec3f& m = m_normalGrid[w];
    q = q - m * dot(q - m_footGrid[w], m);
    m_footGrid[u] = q;
  }
  if (!settled) return;
  float best = 1e9f;
  const int32_t v = nearestVertex(cellVertices(c2), q, best);
  if (v < 0) return;
  const Vec3f& n = m_vertexNormals[static_cast<size_t>(v)];
  q = q - n * dot(q - m_vertices[static_cast<size_t>(v)], n);
  m_footGrid[u] = q;
}

void GLGrider::refineFootPoints(const std::vector<GridCell>& accepted) {
  if (!hasLevelset() || m_cellVertices.size() != cellCount()) return;
  for (const GridCell& cell : accepted) refineFootPoint(cell);
}

void GLGrider::computeLevelset() {
  std::cout << "begin calculating levelset" << std::endl;
  computeDirectValues();
  std::vector<GridCell> accepted;
  const double h =
      (static_cast<double>(m_cellSize[0]) + m_cellSize[1] + m_cellSize[2]) / 3.0;
  fastMarch(m_distanceGrid, m_normalGrid, m_counts, accepted, h);
  refineFootPoints(accepted);
  std::cout << "finish levelset" << std::endl;
}

float GLGrider::levelsetValue(const Vec3f& p, Vec3f* normal) const {
  if (!hasLevelset()) return static_cast<float>(kLevelsetFar);
  const GridCell c = cellOf(p);
  if (isNoCell(c)) return static_cast<float>(kLevelsetFar);
  const size_t u = cellIndex(c);
  const Vec3f& n = m_normalGrid[u];
  if (normal) *normal = n;
  const float d = static_cast<float>(m_distanceGrid[u]);
  if (d > kLevelsetNoValue) return d;
  return dot(p - m_footGrid[u], n);
}

bool GLGrider::attachToLevelset(Vec3f& p, Vec3f* direction, float target) const {
  Vec3f n;
  const float d = levelsetValue(p, &n);
  if (d > kLevelsetNoValue) return false;
  p += n * (target - d);
  if (direction) *direction = normalized(*direction - n * dot(*direction, n));
  return true;
}

bool GLGrider::pushOutOfLevelset(Vec3f& p, float level) const {
  Vec3f n;
  const float d = levelsetValue(p, &n);
  if (d > kLevelsetNoValue || !(d < level)) return false;
  p += n * (level - d);
  return true;
}
