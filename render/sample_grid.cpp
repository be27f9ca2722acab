#include "render/sample_grid.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <unordered_set>

#include "core/geometry.h"

namespace {

// Above this many points an element's cells are deduplicated through a hash set; below it a
// scan of the few cells found so far is cheaper.
constexpr size_t kHashedPoints = 64;

uint64_t cellKey(const GridCell& c) {
  return (static_cast<uint64_t>(static_cast<uint16_t>(c[0])) << 32) |
         (static_cast<uint64_t>(static_cast<uint16_t>(c[1])) << 16) |
         static_cast<uint64_t>(static_cast<uint16_t>(c[2]));
}

int32_t truncToInt32(float v) {
  if (std::isnan(v)) return -1;
  return static_cast<int32_t>(std::clamp(static_cast<double>(v), -2147483648.0, 2147483647.0));
}

}  // namespace

// ---- coreNeighborable ----

void coreNeighborable::findNeighbors(coreGrider* grid, const float query[2], void* reserved,
                                     std::vector<coreNeighborable*>& out) {
  (void)reserved;
  const int32_t cells = truncToInt32(query[0]);
  const float radius = query[1];
  if (cells < 0 && !(radius > 0.0f)) return;
  EGrider* samples = dynamic_cast<EGrider*>(grid);
  if (!samples) return;
  std::vector<Vec3f> points;
  getPoints(points);
  // From the grid's packed points: no element is read or marked on the way.
  if (cells > 0)
    samples->queryCells(points, cells, out);
  else
    samples->queryRadius(points, radius, out);
  for (coreNeighborable* e : out)
    if (e) e->setSelected(false);
}

void coreNeighborable::findNearest(const std::vector<coreNeighborable*>& candidates,
                                   const float query[2], void* reserved,
                                   std::vector<coreNeighborable*>& out,
                                   std::vector<float>* distances) {
  (void)reserved;
  const float maxDistance = query[0];
  const int32_t k = truncToInt32(query[1]);
  if (!(maxDistance > 0.0f) || candidates.empty()) return;
  const NeighborOptions options;
  std::vector<coreNeighborable*> kept;
  std::vector<float> keptDistances;
  for (coreNeighborable* c : candidates) {
    if (!c) continue;
    const float d = distanceTo(*c, options, 2);
    if (d <= maxDistance) {
      kept.push_back(c);
      keptDistances.push_back(d);
    }
  }
  std::vector<int32_t> order;
  smallestIndices(keptDistances, k, order);
  if (distances) distances->clear();
  for (int32_t i : order) {
    out.push_back(kept[static_cast<size_t>(i)]);
    if (distances) distances->push_back(keptDistances[static_cast<size_t>(i)]);
  }
}

// ---- EGrider ----

EGrider::EGrider(const std::string& name) : coreGrider(name) {}

void EGrider::reset() {
  ++m_resetCount;
  m_elements.clear();
  m_elementCells.clear();
  m_cellElements.assign(cellCount(), std::vector<uint32_t>());
  m_elementPoints.clear();
  m_packed = false;
  m_stamps.clear();
  m_queryStamp = 0;
}

void EGrider::setGrid(const Vec3f& min, const Vec3f& max, const Vec<3, int16_t>& counts) {
  coreGrider::setGrid(min, max, counts);
  reset();
}

void EGrider::buildGeometry() {
  const size_t total = cellCount();
  if (total == 0) return;
  std::vector<float> vertices;
  vertices.reserve(total * 6);
  GridCell c;
  for (c[0] = 0; c[0] < m_counts[0]; ++c[0])
    for (c[1] = 0; c[1] < m_counts[1]; ++c[1])
      for (c[2] = 0; c[2] < m_counts[2]; ++c[2]) {
        const Vec3f centre = cellCenter(c);
        vertices.insert(vertices.end(), {centre[0], centre[1], centre[2], 1.0f, 1.0f, 1.0f});
      }
  setColor(Vec4f(0.6f, 0.6f, 0.6f, 0.3f));
  if (m_vao == 0)
    uploadGeometry(vertices, 1, GL_POINTS);
  else
    updateGeometry(vertices);
}

bool EGrider::isFiled(const coreNeighborable* element) const {
  const int32_t idx = element->m_gridIndex;
  return idx >= 0 && static_cast<size_t>(idx) < m_elements.size() &&
         m_elements[static_cast<size_t>(idx)] == element;
}

void EGrider::reportRemoveFailure() const { std::cout << "grider_remove_element fail!/n"; }

void EGrider::fileElement(uint32_t idx, std::vector<GridCell>& cells) {
  cells.clear();
  const bool lists = m_cellElements.size() == cellCount();
  std::vector<FiledPoint>& filed = m_elementPoints[idx];
  filed.clear();
  m_packed = false;
  const bool dedupe = m_points.size() >= 2;
  std::unordered_set<uint64_t> seen;
  const bool hashed = m_points.size() > kHashedPoints;
  for (const Vec3f& p : m_points) {
    const GridCell c = cellOf(p);
    if (isNoCell(c) || !lists) continue;
    filed.push_back({p, static_cast<uint32_t>(cellIndex(c))});
    if (dedupe) {
      if (hashed) {
        if (!seen.insert(cellKey(c)).second) continue;
      } else if (std::find(cells.begin(), cells.end(), c) != cells.end()) {
        continue;
      }
    }
    m_cellElements[cellIndex(c)].push_back(idx);
    cells.push_back(c);
  }
}

void EGrider::unfileElement(uint32_t idx, const std::vector<GridCell>& cells) {
  for (const GridCell& c : cells) {
    // Cells come from this lattice, but a list that no longer matches it is never written.
    if (isNoCell(c) || c[0] >= m_counts[0] || c[1] >= m_counts[1] || c[2] >= m_counts[2])
      continue;
    const size_t u = cellIndex(c);
    if (u >= m_cellElements.size()) continue;
    std::vector<uint32_t>& list = m_cellElements[u];
    for (size_t i = list.size(); i-- > 0;)
      if (list[i] == idx) {
        list.erase(list.begin() + static_cast<std::ptrdiff_t>(i));
        break;
      }
  }
  if (idx < m_elementPoints.size()) m_elementPoints[idx].clear();
  m_packed = false;
}

bool EGrider::addElement(coreNeighborable* element) {
  if (!element) return false;
  m_points.clear();
  element->getPoints(m_points);
  if (m_points.empty()) return false;
  if (isFiled(element)) {
    // Filing it a second time would leave an entry that outlives its removal.
    const uint32_t idx = static_cast<uint32_t>(element->m_gridIndex);
    unfileElement(idx, m_elementCells[idx]);
    fileElement(idx, m_elementCells[idx]);
    return true;
  }
  if (m_elements.size() >= static_cast<size_t>(std::numeric_limits<int32_t>::max())) return false;
  const uint32_t idx = static_cast<uint32_t>(m_elements.size());
  element->m_gridIndex = static_cast<int32_t>(idx);
  m_stamps.push_back(0);
  m_elementPoints.emplace_back();
  std::vector<GridCell> cells;
  fileElement(idx, cells);
  m_elements.push_back(element);
  m_elementCells.push_back(std::move(cells));
  return true;
}

bool EGrider::removeElement(coreNeighborable* element) {
  if (!element) return false;
  if (!isFiled(element)) {
    reportRemoveFailure();
    return false;
  }
  const size_t idx = static_cast<size_t>(element->m_gridIndex);
  unfileElement(static_cast<uint32_t>(idx), m_elementCells[idx]);
  if (idx + 1 < m_elements.size()) {
    m_elements[idx] = nullptr;
    m_elementCells[idx].clear();
  } else {
    m_elements.pop_back();
    m_elementCells.pop_back();
    m_elementPoints.pop_back();
    m_stamps.pop_back();
  }
  return true;
}

bool EGrider::updateElement(coreNeighborable* element) {
  if (!element) return false;
  if (!isFiled(element)) {
    reportRemoveFailure();
    return false;
  }
  const uint32_t idx = static_cast<uint32_t>(element->m_gridIndex);
  unfileElement(idx, m_elementCells[idx]);
  m_points.clear();
  element->getPoints(m_points);
  fileElement(idx, m_elementCells[idx]);
  return true;
}

float EGrider::cellOccupancy(const GridCell& cell) const {
  if (isNoCell(cell) || cell[0] >= m_counts[0] || cell[1] >= m_counts[1] ||
      cell[2] >= m_counts[2] || m_cellElements.size() != cellCount())
    return 0.0f;
  if (!m_cellElements[cellIndex(cell)].empty()) return 1.0f;
  float best = 0.0f;
  GridCell c;
  for (int di = -1; di <= 1; ++di)
    for (int dj = -1; dj <= 1; ++dj)
      for (int dk = -1; dk <= 1; ++dk) {
        const int i = cell[0] + di, j = cell[1] + dj, k = cell[2] + dk;
        if (i < 0 || j < 0 || k < 0 || i >= m_counts[0] || j >= m_counts[1] || k >= m_counts[2])
          continue;
        c = GridCell(static_cast<int16_t>(i), static_cast<int16_t>(j), static_cast<int16_t>(k));
        if (m_cellElements[cellIndex(c)].empty()) continue;
        best = std::max(best, static_cast<float>(std::exp(
                                  -1.2 * std::sqrt(static_cast<double>(di * di + dj * dj + dk * dk)))));
      }
  return best;
}

void EGrider::queryNeighbors(const Vec3f& p, int32_t n, float r,
                             std::vector<coreNeighborable*>& out) {
  if (m_cellElements.empty() || m_cellElements.size() != cellCount()) return;
  const CellRange range = n > 0 ? cellRangeByCells(p, n) : cellRangeByRadius(p, r);
  const size_t ny = static_cast<size_t>(m_counts[1]), nz = static_cast<size_t>(m_counts[2]);
  for (int32_t i = range[0][0]; i <= range[0][1]; ++i)
    for (int32_t j = range[1][0]; j <= range[1][1]; ++j) {
      const size_t row = (static_cast<size_t>(i) * ny + static_cast<size_t>(j)) * nz;
      for (int32_t k = range[2][0]; k <= range[2][1]; ++k)
        for (uint32_t idx : m_cellElements[row + static_cast<size_t>(k)]) {
          coreNeighborable* e = m_elements[idx];
          if (!e || e->isSelected()) continue;
          out.push_back(e);
          e->setSelected(true);
        }
    }
}

void EGrider::packPoints() {
  const size_t cells = cellCount();
  m_packedStart.assign(cells + 1, 0);
  size_t total = 0;
  for (const std::vector<FiledPoint>& filed : m_elementPoints) {
    total += filed.size();
    for (const FiledPoint& f : filed) ++m_packedStart[f.cell + 1];
  }
  for (size_t u = 0; u < cells; ++u) m_packedStart[u + 1] += m_packedStart[u];
  m_packedPoints.resize(total);
  std::vector<uint32_t> next(m_packedStart.begin(), m_packedStart.end() - 1);
  for (size_t e = 0; e < m_elementPoints.size(); ++e) {
    const uint32_t index =
        static_cast<uint32_t>(e) | (m_elementCells[e].size() > 1 ? kSpansCells : 0u);
    for (const FiledPoint& f : m_elementPoints[e])
      m_packedPoints[next[f.cell]++] = {f.point, index, m_elements[e]};
  }
  m_packed = true;
}

bool EGrider::beginQuery() {
  if (m_cellElements.size() != cellCount() || cellCount() == 0) return false;
  if (!m_packed) packPoints();
  if (++m_queryStamp == 0) {  // wrapped: old numbers could match again
    std::fill(m_stamps.begin(), m_stamps.end(), 0u);
    m_queryStamp = 1;
  }
  return true;
}

void EGrider::queryRadius(const Vec3f& p, float r, std::vector<coreNeighborable*>& out) {
  if (!(r >= 0.0f) || !beginQuery()) return;
  scanRadius<false>(p, r, out);
}

void EGrider::queryRadius(const std::vector<Vec3f>& points, float r,
                          std::vector<coreNeighborable*>& out) {
  if (!(r >= 0.0f) || points.empty() || !beginQuery()) return;
  for (const Vec3f& p : points) scanRadius<true>(p, r, out);
}

void EGrider::queryCells(const std::vector<Vec3f>& points, int32_t n,
                         std::vector<coreNeighborable*>& out) {
  if (n < 1 || points.empty() || !beginQuery()) return;
  const size_t ny = static_cast<size_t>(m_counts[1]), nz = static_cast<size_t>(m_counts[2]);
  for (const Vec3f& p : points) {
    const CellRange range = cellRangeByCells(p, n);
    for (int32_t i = range[0][0]; i <= range[0][1]; ++i)
      for (int32_t j = range[1][0]; j <= range[1][1]; ++j) {
        const size_t row = (static_cast<size_t>(i) * ny + static_cast<size_t>(j)) * nz;
        const PackedPoint* f =
            m_packedPoints.data() + m_packedStart[row + static_cast<size_t>(range[2][0])];
        const PackedPoint* end =
            m_packedPoints.data() + m_packedStart[row + static_cast<size_t>(range[2][1]) + 1];
        for (; f != end; ++f) {
          uint32_t& stamp = m_stamps[f->index & ~kSpansCells];
          if (stamp == m_queryStamp) continue;
          stamp = m_queryStamp;
          out.push_back(f->element);
        }
      }
  }
}

template <bool stampAll>
void EGrider::scanRadius(const Vec3f& p, float r, std::vector<coreNeighborable*>& out) {
  const CellRange range = cellRangeByRadius(p, r);
  const float r2 = r * r;
  const size_t ny = static_cast<size_t>(m_counts[1]), nz = static_cast<size_t>(m_counts[2]);
  // Squared distance from p to the slab of lattice index c along an axis, the slab widened a
  // little so that a point filed there after rounding is never culled.
  auto gap2 = [&](int a, int32_t c) {
    const float slack = 1e-3f * m_cellSize[a];
    const float low = m_min[a] + static_cast<float>(c) * m_cellSize[a] - slack;
    const float high = low + m_cellSize[a] + 2.0f * slack;
    const float d = p[a] < low ? low - p[a] : std::max(p[a] - high, 0.0f);
    return d * d;
  };
  const Vec3f q = p;  // a local copy: out's writes cannot alias it
  for (int32_t i = range[0][0]; i <= range[0][1]; ++i) {
    const float gi = gap2(0, i);
    if (gi > r2) continue;
    for (int32_t j = range[1][0]; j <= range[1][1]; ++j) {
      const float gij = gi + gap2(1, j);
      if (gij > r2) continue;
      // The cells of this row that the ball reaches are one run of packed points.
      int32_t k0 = range[2][0], k1 = range[2][1];
      while (k0 <= k1 && gij + gap2(2, k0) > r2) ++k0;
      while (k1 >= k0 && gij + gap2(2, k1) > r2) --k1;
      if (k0 > k1) continue;
      const size_t row = (static_cast<size_t>(i) * ny + static_cast<size_t>(j)) * nz;
      const PackedPoint* f = m_packedPoints.data() + m_packedStart[row + static_cast<size_t>(k0)];
      const PackedPoint* end =
          m_packedPoints.data() + m_packedStart[row + static_cast<size_t>(k1) + 1];
      // Written without branches on the distance test, which goes either way at random:
      // every element is stored and the count moves on only for a new one within r.
      const size_t base = out.size();
      out.resize(base + static_cast<size_t>(end - f));
      coreNeighborable** write = out.data() + base;
      size_t found = 0;
      const coreNeighborable* last = nullptr;
      for (; f != end; ++f) {
        const float dx = f->point[0] - q[0], dy = f->point[1] - q[1], dz = f->point[2] - q[2];
        bool take = dx * dx + dy * dy + dz * dz <= r2 && (stampAll || f->element != last);
        if (take && (stampAll || (f->index & kSpansCells))) {
          uint32_t& stamp = m_stamps[f->index & ~kSpansCells];
          take = stamp != m_queryStamp;
          stamp = m_queryStamp;
        }
        write[found] = f->element;
        last = take ? f->element : last;
        found += take ? 1 : 0;
      }
      out.resize(base + found);
    }
  }
}
