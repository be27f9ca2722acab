#include "render/level_set.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <iostream>
#include <limits>
#include <memory>
#include <system_error>
#include <thread>

#include "core/cout_line.h"

namespace {

enum : uint8_t { kFar = 0, kTrial = 1, kAccepted = 2 };

// A walk that has not reached a cell with vertices after this many planes is going round.
constexpr int kMaxFootSteps = 16;

// The trial cells, nearest first, keyed by |distance| in double precision; among equal keys the
// lower cell index first, so the order of taking cells is fixed. Every key pushed during the
// march is at least the key last taken (a cell is always farther than the cell it was reached
// from), so a radix heap serves: pushing is constant time and an entry moves down a bucket only
// when the minimum passes it. The bits of a non-negative double order as unsigned integers do,
// and their top bit is clear, so 64 buckets hold every key. A key that rounding put below the
// last one taken goes to bucket 0, which is searched for its least entry. Stale entries of
// improved cells stay and are skipped when taken.
class RadixHeap {
 public:
  struct Entry {
    uint64_t key;
    int32_t index;
  };

  bool empty() const { return m_filled == 0; }
  void push(double distance, int32_t index) {
    uint64_t key;
    std::memcpy(&key, &distance, sizeof(key));
    const unsigned b = key <= m_last ? 0u : bucketOf(key);
    m_buckets[b].push_back({key, index});
    m_filled |= uint64_t{1} << b;
  }
  int32_t pop() {
    if (!(m_filled & 1u)) {
      const unsigned b = static_cast<unsigned>(__builtin_ctzll(m_filled));
      std::vector<Entry>& from = m_buckets[b];
      uint64_t least = from[0].key;
      for (const Entry& e : from) least = std::min(least, e.key);
      m_last = least;
      m_filled &= ~(uint64_t{1} << b);
      for (const Entry& e : from) {
        const unsigned to = bucketOf(e.key);
        m_buckets[to].push_back(e);
        m_filled |= uint64_t{1} << to;
      }
      from.clear();
    }
    std::vector<Entry>& top = m_buckets[0];
    size_t best = 0;
    for (size_t i = 1; i < top.size(); ++i)
      if (top[i].key < top[best].key ||
          (top[i].key == top[best].key && top[i].index < top[best].index))
        best = i;
    const int32_t index = top[best].index;
    top[best] = top.back();
    top.pop_back();
    if (top.empty()) m_filled &= ~uint64_t{1};
    return index;
  }

 private:
  // 0 for the key last taken; else one more than the highest bit in which they differ.
  unsigned bucketOf(uint64_t key) const {
    const uint64_t diff = key ^ m_last;
    return diff == 0 ? 0 : 64u - static_cast<unsigned>(__builtin_clzll(diff));
  }
  std::vector<Entry> m_buckets[64];
  uint64_t m_last = 0;
  uint64_t m_filled = 0;  // bit b: bucket b holds entries
};

// Per cell of the march: its state in the low two bits, and one bit per neighbour that lies in
// the lattice (kHas + direction: +x, +y, +z, -x, -y, -z), so no step works out bounds.
constexpr uint8_t kStateBits = 3;
constexpr int kHas = 2;

}  // namespace

// How far the march has come, for a reader on another thread: the first `published` cells of
// the accepted list are final (distance and normal), and position[u] is one more than u's place
// in that list once u is accepted (0 before).
struct MarchProgress {
  static constexpr size_t kPublishEvery = 256;
  static constexpr size_t kLag = 16384;
  explicit MarchProgress(size_t cells) : position(new std::atomic<int32_t>[cells]()) {}
  std::atomic<size_t> published{0};
  std::atomic<bool> finished{false};
  std::unique_ptr<std::atomic<int32_t>[]> position;
};

namespace {

// The march works in place on the caller's grids; only the state bytes and the heap are its own.
struct Marcher {
  double* dist;
  Vec3f* normals;
  std::vector<uint8_t> cell;
  std::vector<GridCell>* accepted;
  MarchProgress* progress;  // null when nobody reads along
  int32_t strideX, strideY;
  // Reciprocals of the x and y strides for turning an index back into (i, j, k).
  double perX, perY;
  double h;
  RadixHeap heap;

  template <int Axis>
  int32_t stride() const {
    return Axis == 0 ? strideX : Axis == 1 ? strideY : 1;
  }
  static constexpr uint8_t has(int dir) { return static_cast<uint8_t>(1u << (kHas + dir)); }

  GridCell cellAt(int32_t index) const {
    // (index + 0.5) / stride lies at least 0.5 / stride off any integer, far beyond rounding.
    const int32_t i = static_cast<int32_t>((index + 0.5) * perX);
    const int32_t rest = index - i * strideX;
    const int32_t j = static_cast<int32_t>((rest + 0.5) * perY);
    return GridCell(static_cast<int16_t>(i), static_cast<int16_t>(j),
                    static_cast<int16_t>(rest - j * strideY));
  }

  void accept(int32_t index) {
    uint8_t& c = cell[static_cast<size_t>(index)];
    c = static_cast<uint8_t>((c & ~kStateBits) | kAccepted);
    accepted->push_back(cellAt(index));
    if (progress) {
      const size_t count = accepted->size();
      progress->position[static_cast<size_t>(index)].store(static_cast<int32_t>(count),
                                                           std::memory_order_relaxed);
      // The cell's distance and normal are final from here on. Published in batches: a store
      // the reader is polling costs the march a cache miss.
      if (count % MarchProgress::kPublishEvery == 0)
        progress->published.store(count, std::memory_order_release);
    }
    const double a = dist[index];
    const double s = a > 0.0 ? 1.0 : -1.0;
    const double a1 = s * a;
    const uint8_t around = c;
    // +x, +y, +z, then -x, -y, -z.
    visit<0>(around & has(0), index + strideX, index, s, a1);
    visit<1>(around & has(1), index + strideY, index, s, a1);
    visit<2>(around & has(2), index + 1, index, s, a1);
    visit<0>(around & has(3), index - strideX, index, s, a1);
    visit<1>(around & has(4), index - strideY, index, s, a1);
    visit<2>(around & has(5), index - 1, index, s, a1);
  }

  template <int Axis>
  void visit(bool inside, int32_t nb, int32_t from, double s, double a1) {
    if (inside && (cell[static_cast<size_t>(nb)] & kStateBits) != kAccepted)
      update<Axis>(nb, from, s, a1);
  }

  // A neighbour's value for the sign s: the far value when it is outside, far or of the other
  // sign.
  double valueAt(bool inside, int32_t nb, double s) const {
    if (!inside || (cell[static_cast<size_t>(nb)] & kStateBits) == kFar) return kLevelsetFar;
    const double v = s * dist[nb];
    return v < 0.0 ? kLevelsetFar : v;
  }

  // The smaller value of a cell's two neighbours along Axis and the neighbour it came from (-1
  // outside): the minus side only when strictly smaller.
  template <int Axis>
  double lowerNeighbour(int32_t index, uint8_t c, double s, int32_t& side) const {
    const bool hasMinus = c & has(3 + Axis), hasPlus = c & has(Axis);
    const int32_t minus = index - stride<Axis>(), plus = index + stride<Axis>();
    const double vlo = valueAt(hasMinus, minus, s), vhi = valueAt(hasPlus, plus, s);
    if (vlo < vhi) {
      side = hasMinus ? minus : -1;
      return vlo;
    }
    side = hasPlus ? plus : -1;
    return vhi;
  }

  template <int FromAxis>
  void update(int32_t index, int32_t from, double s, double a1) {
    constexpr int kB = FromAxis == 0 ? 1 : 0, kC = FromAxis == 2 ? 1 : 2;
    uint8_t& c = cell[static_cast<size_t>(index)];
    int32_t sideB, sideC;
    const double b = lowerNeighbour<kB>(index, c, s, sideB);
    const double cc = lowerNeighbour<kC>(index, c, s, sideC);
    double t = a1 + h;
    if (t >= b && t >= cc && b > a1 && cc > a1) {
      const double sum = a1 + b + cc;
      const double disc = sum * sum - 3.0 * (a1 * a1 + b * b + cc * cc) + 3.0 * h * h;
      // Never negative with b and c within h above a1; kept safe from rounding.
      t = (sum + std::sqrt(std::max(disc, 0.0))) / 3.0;
    }
    const uint8_t state = c & kStateBits;
    if (state == kFar || (state == kTrial && std::fabs(dist[index]) > t)) {
      static const Vec3f kNone;
      dist[index] = s * t;
      c = static_cast<uint8_t>((c & ~kStateBits) | kTrial);
      normals[index] = normalized(normals[from] + (sideB >= 0 ? normals[sideB] : kNone) +
                                  (sideC >= 0 ? normals[sideC] : kNone));
      heap.push(t, index);
    }
  }
};

// Threads worth starting for `work` independent items: none below a few thousand, at most four.
unsigned workerCount(size_t work) {
  if (work < 8192) return 1;
  const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
  return std::min<unsigned>({cores, 4u, static_cast<unsigned>(work / 4096)});
}

// Runs body(worker, begin, end) over [0, n) split in `workers` contiguous ranges, the first on
// this thread. Each range writes only its own items, so the result does not depend on the split.
template <typename Body>
void splitRange(size_t n, unsigned workers, const Body& body) {
  if (workers <= 1) {
    body(0u, size_t{0}, n);
    return;
  }
  std::vector<std::thread> threads;
  threads.reserve(workers - 1);
  for (unsigned w = 1; w < workers; ++w) {
    const size_t begin = n * w / workers, end = n * (w + 1) / workers;
    try {
      threads.emplace_back([&body, w, begin, end] { body(w, begin, end); });
    } catch (const std::system_error&) {
      body(w, begin, end);  // no thread to be had: this one does the range
    }
  }
  body(0u, size_t{0}, n / workers);
  for (std::thread& t : threads) t.join();
}

}  // namespace

void fastMarch(std::vector<double>& distances, std::vector<Vec3f>& normals,
               const Vec<3, int16_t>& counts, std::vector<GridCell>& accepted, double h) {
  fastMarchReporting(distances, normals, counts, accepted, h, nullptr);
}

void fastMarchReporting(std::vector<double>& distances, std::vector<Vec3f>& normals,
                        const Vec<3, int16_t>& counts, std::vector<GridCell>& accepted,
                        double h, MarchProgress* progress) {
  accepted.clear();
  for (int a = 0; a < 3; ++a)
    if (counts[a] <= 0) return;
  const int32_t n[3] = {counts[0], counts[1], counts[2]};
  const size_t total = static_cast<size_t>(n[0]) * n[1] * n[2];
  if (distances.size() != total || normals.size() != total) return;

  Marcher m;
  m.dist = distances.data();
  m.normals = normals.data();
  m.accepted = &accepted;
  m.progress = progress;
  m.strideX = n[1] * n[2];
  m.strideY = n[2];
  m.perX = 1.0 / m.strideX;
  m.perY = 1.0 / m.strideY;
  m.h = h;
  m.cell.resize(total);
  accepted.reserve(total);
  size_t u = 0;
  for (int32_t i = 0; i < n[0]; ++i)
    for (int32_t j = 0; j < n[1]; ++j) {
      const uint32_t row = (i + 1 < n[0] ? Marcher::has(0) : 0u) |
                           (j + 1 < n[1] ? Marcher::has(1) : 0u) |
                           (i > 0 ? Marcher::has(3) : 0u) | (j > 0 ? Marcher::has(4) : 0u);
      for (int32_t k = 0; k < n[2]; ++k, ++u) {
        const uint32_t along =
            (k + 1 < n[2] ? Marcher::has(2) : 0u) | (k > 0 ? Marcher::has(5) : 0u);
        const uint8_t state = distances[u] <= kLevelsetNoValue ? kAccepted : kFar;
        m.cell[u] = static_cast<uint8_t>(row | along | state);
      }
    }

  // The known front first, in lattice order; then outward, nearest first.
  for (u = 0; u < total; ++u)
    if ((m.cell[u] & kStateBits) == kAccepted) m.accept(static_cast<int32_t>(u));
  while (!m.heap.empty()) {
    const int32_t top = m.heap.pop();
    if ((m.cell[static_cast<size_t>(top)] & kStateBits) != kAccepted) m.accept(top);  // else stale
  }
}

// ---- GLGrider ----

namespace {

typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Int4 __attribute__((vector_size(16)));

// Padding slots of the packed lists: so far off that their squared distance is infinite.
constexpr float kNowhere = 1e30f;

}  // namespace

// The vertex lists copied flat for a build, cell by cell in lattice order, each list padded to
// whole groups of four so that four squared distances are taken at once. Cell u's slots are
// [start[u], start[u + 1]); slot s holds the list's s - start[u]-th vertex.
struct GLGrider::PackedVertices {
  std::vector<uint32_t> start;
  std::vector<Float4> x, y, z;  // one group of four slots each
  std::vector<Vec3f> normals;   // per slot

  bool empty(size_t cell) const { return start[cell] == start[cell + 1]; }
  Vec3f position(uint32_t slot) const {
    const uint32_t g = slot / 4, lane = slot % 4;
    return Vec3f(x[g][lane], y[g][lane], z[g][lane]);
  }
  // Whether the cell's list has a vertex nearer to q than `best`: the first of the nearest in
  // list order, exactly as a scan that replaces on strictly smaller would find it.
  bool nearest(size_t cell, const Vec3f& q, float& best, uint32_t& found) const {
    const uint32_t first = start[cell] / 4, end = start[cell + 1] / 4;
    if (first == end) return false;
    const Float4 qx = {q[0], q[0], q[0], q[0]}, qy = {q[1], q[1], q[1], q[1]},
                 qz = {q[2], q[2], q[2], q[2]};
    const float inf = std::numeric_limits<float>::infinity();
    Float4 least = {inf, inf, inf, inf};
    Int4 group = {0, 0, 0, 0};
    for (uint32_t g = first; g < end; ++g) {
      const Float4 dx = x[g] - qx, dy = y[g] - qy, dz = z[g] - qz;
      // Summed in the order of squaredLength, so the values are the same to the bit.
      const Float4 d2 = dx * dx + dy * dy + dz * dz;
      const Int4 better = d2 < least;
      least = better ? d2 : least;
      const int32_t gi = static_cast<int32_t>(g);
      group = better ? Int4{gi, gi, gi, gi} : group;
    }
    float m = least[0];
    uint32_t slot = static_cast<uint32_t>(group[0]) * 4;
    for (uint32_t lane = 1; lane < 4; ++lane) {
      const uint32_t s = static_cast<uint32_t>(group[lane]) * 4 + lane;
      if (least[lane] < m || (least[lane] == m && s < slot)) {
        m = least[lane];
        slot = s;
      }
    }
    if (!(m < best)) return false;
    best = m;
    found = slot;
    return true;
  }
};

// Lattice arithmetic of the build without virtual calls, giving exactly what cellCenter and
// cellOf give.
struct GLGrider::Lattice {
  int32_t n[3];
  float min[3], max[3];
  double size[3];
  // Reciprocals of the x and y strides for turning an index back into (i, j, k).
  double perX, perY;
  std::vector<float> centers[3];

  explicit Lattice(const GLGrider& g) {
    for (int a = 0; a < 3; ++a) {
      n[a] = g.m_counts[a];
      min[a] = g.m_min[a];
      max[a] = g.m_max[a];
      size[a] = static_cast<double>(g.m_cellSize[a]);
      centers[a].resize(static_cast<size_t>(std::max(n[a], 0)));
      for (int32_t i = 0; i < n[a]; ++i)
        centers[a][static_cast<size_t>(i)] = static_cast<float>(min[a] + (i + 0.5) * size[a]);
    }
    perX = 1.0 / (static_cast<double>(n[1]) * n[2]);
    perY = 1.0 / n[2];
  }
  size_t index(int32_t i, int32_t j, int32_t k) const {
    return (static_cast<size_t>(i) * n[1] + j) * n[2] + k;
  }
  Vec3f center(size_t u) const {
    // (u + 0.5) / stride lies at least 0.5 / stride off any integer, far beyond rounding.
    const size_t i = static_cast<size_t>((u + 0.5) * perX);
    const size_t rest = u - i * n[1] * n[2];
    const size_t j = static_cast<size_t>((rest + 0.5) * perY);
    return Vec3f(centers[0][i], centers[1][j], centers[2][rest - j * n[2]]);
  }
  // The cell of p, or -1 outside the half-open box.
  int64_t cellOf(const Vec3f& p) const {
    if (!(min[0] <= p[0] && p[0] < max[0] && min[1] <= p[1] && p[1] < max[1] &&
          min[2] <= p[2] && p[2] < max[2]))
      return -1;
    return static_cast<int64_t>(index(axisCell(p, 0), axisCell(p, 1), axisCell(p, 2)));
  }
  // Capped: a rounding error below the maximum face.
  int32_t axisCell(const Vec3f& p, int a) const {
    return std::min(static_cast<int32_t>((static_cast<double>(p[a]) - min[a]) / size[a]), n[a] - 1);
  }
};

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
    coutLine("fail: glGrider push stream, normal size not equal vertice size.");
    return false;
  }
  if (V.rows() > 0 && (V.cols() < 3 || N.cols() < 3)) {
    coutLine("fail: glGrider push stream, vertices and normals need three coordinates.");
    return false;
  }
  // Lists exist only for a lattice with cells; without them every vertex falls outside.
  if (!hasCells() || m_cellVertices.size() != cellCount()) return true;
  m_vertices.reserve(m_vertices.size() + static_cast<size_t>(V.rows()));
  m_vertexNormals.reserve(m_vertexNormals.size() + static_cast<size_t>(V.rows()));
  const double size[3] = {m_cellSize[0], m_cellSize[1], m_cellSize[2]};
  for (Eigen::Index r = 0; r < V.rows(); ++r) {
    int32_t cell[3];
    bool inside = true;
    for (int a = 0; a < 3 && inside; ++a) {
      const double index = std::trunc((V(r, a) - m_min[a]) / size[a]);
      inside = index >= 0.0 && index < m_counts[a];  // false for NaN
      if (inside) cell[a] = static_cast<int32_t>(index);
    }
    if (!inside) continue;
    const Vec3f normal(static_cast<float>(N(r, 0)), static_cast<float>(N(r, 1)),
                       static_cast<float>(N(r, 2)));
    // A corrupt normal would spread NaN through the march; a zero one gives no plane.
    if (!std::isfinite(normal[0]) || !std::isfinite(normal[1]) || !std::isfinite(normal[2]) ||
        squaredLength(normal) == 0.0f)
      continue;
    const size_t u =
        (static_cast<size_t>(cell[0]) * m_counts[1] + cell[1]) * m_counts[2] + cell[2];
    m_cellVertices[u].push_back(static_cast<int32_t>(m_vertices.size()));
    m_vertices.emplace_back(static_cast<float>(V(r, 0)), static_cast<float>(V(r, 1)),
                            static_cast<float>(V(r, 2)));
    m_vertexNormals.push_back(normalized(normal));
  }
  return true;
}

bool GLGrider::packVertices(PackedVertices& packed) const {
  const size_t total = hasCells() ? cellCount() : 0;
  if (total == 0 || m_cellVertices.size() != total || m_vertexNormals.size() != m_vertices.size())
    return false;
  packed.start.resize(total + 1);
  uint32_t at = 0;
  for (size_t u = 0; u < total; ++u) {
    packed.start[u] = at;
    at += (static_cast<uint32_t>(m_cellVertices[u].size()) + 3) & ~3u;
  }
  packed.start[total] = at;
  const Float4 nowhere = {kNowhere, kNowhere, kNowhere, kNowhere};
  packed.x.assign(at / 4, nowhere);
  packed.y.assign(at / 4, nowhere);
  packed.z.assign(at / 4, nowhere);
  packed.normals.assign(at, Vec3f());
  for (size_t u = 0; u < total; ++u) {
    uint32_t slot = packed.start[u];
    for (int32_t id : m_cellVertices[u]) {
      if (id < 0 || static_cast<size_t>(id) >= m_vertices.size()) return false;
      const Vec3f& p = m_vertices[static_cast<size_t>(id)];
      packed.x[slot / 4][slot % 4] = p[0];
      packed.y[slot / 4][slot % 4] = p[1];
      packed.z[slot / 4][slot % 4] = p[2];
      packed.normals[slot] = m_vertexNormals[static_cast<size_t>(id)];
      ++slot;
    }
  }
  return true;
}

void GLGrider::computeDirectValues() {
  PackedVertices packed;
  const bool ok = packVertices(packed);
  computeDirectValues(ok ? &packed : nullptr);
}

void GLGrider::computeDirectValues(const PackedVertices* packed) {
  const size_t total = hasCells() ? cellCount() : 0;
  m_distanceGrid.assign(total, kLevelsetFar);
  m_normalGrid.assign(total, Vec3f());
  m_footGrid.assign(total, Vec3f());
  if (total == 0 || !packed) return;

  const Lattice lattice(*this);
  const int32_t nx = lattice.n[0], ny = lattice.n[1], nz = lattice.n[2];
  // Only cells with a vertex in their 3x3x3 block get a value; the rest stay far.
  std::vector<uint8_t> near(total, 0);
  for (int32_t i = 0; i < nx; ++i)
    for (int32_t j = 0; j < ny; ++j)
      for (int32_t k = 0; k < nz; ++k) {
        if (packed->empty(lattice.index(i, j, k))) continue;
        for (int32_t bi = std::max(i - 1, 0); bi <= std::min(i + 1, nx - 1); ++bi)
          for (int32_t bj = std::max(j - 1, 0); bj <= std::min(j + 1, ny - 1); ++bj)
            for (int32_t bk = std::max(k - 1, 0); bk <= std::min(k + 1, nz - 1); ++bk)
              near[lattice.index(bi, bj, bk)] = 1;
      }

  auto fillSlab = [&](unsigned, size_t iBegin, size_t iEnd) {
    for (int32_t i = static_cast<int32_t>(iBegin); i < static_cast<int32_t>(iEnd); ++i)
      for (int32_t j = 0; j < ny; ++j)
        for (int32_t k = 0; k < nz; ++k) {
          const size_t u = lattice.index(i, j, k);
          if (!near[u]) continue;
          const Vec3f c(lattice.centers[0][static_cast<size_t>(i)],
                        lattice.centers[1][static_cast<size_t>(j)],
                        lattice.centers[2][static_cast<size_t>(k)]);
          float best = 1e9f;
          uint32_t nearest = 0;
          bool found = false;
          if (!packed->empty(u)) {
            found = packed->nearest(u, c, best, nearest);
          } else {
            for (int32_t bi = std::max(i - 1, 0); bi <= std::min(i + 1, nx - 1); ++bi)
              for (int32_t bj = std::max(j - 1, 0); bj <= std::min(j + 1, ny - 1); ++bj)
                for (int32_t bk = std::max(k - 1, 0); bk <= std::min(k + 1, nz - 1); ++bk)
                  found |= packed->nearest(lattice.index(bi, bj, bk), c, best, nearest);
          }
          if (!found) continue;
          const Vec3f& n = packed->normals[nearest];
          const float d = dot(c - packed->position(nearest), n);
          m_distanceGrid[u] = d;
          m_normalGrid[u] = n;
          m_footGrid[u] = c - n * d;
        }
  };
  splitRange(static_cast<size_t>(nx), workerCount(packed->normals.size()), fillSlab);
}

// One cell's walk. `footOf(w)` gives the foot point the walk is to see for another cell w, or
// null when it is not known yet; the cell's own foot point is the walk's latest point. False,
// `foot` unset, when the walk met an unknown foot point; else `foot` is the new foot point.
template <typename FootOf>
bool GLGrider::walkFoot(const Lattice& lattice, const PackedVertices& packed, size_t u,
                        const FootOf& footOf, Vec3f& foot) const {
  Vec3f q = lattice.center(u) - m_normalGrid[u] * static_cast<float>(m_distanceGrid[u]);
  int64_t previous = -1, c2 = -1;
  bool settled = false;
  for (int step = 0; step < kMaxFootSteps; ++step) {
    c2 = lattice.cellOf(q);
    if (c2 < 0) break;
    if (c2 == previous || !packed.empty(static_cast<size_t>(c2))) {
      settled = true;
      break;
    }
    previous = c2;
    const size_t w = static_cast<size_t>(c2);
    const Vec3f* g = w == u ? &q : footOf(w);
    if (!g) return false;
    const Vec3f& m = m_normalGrid[w];
    q = q - m * dot(q - *g, m);
  }
  float best = 1e9f;
  uint32_t v = 0;
  if (settled && packed.nearest(static_cast<size_t>(c2), q, best, v)) {
    const Vec3f& n = packed.normals[v];
    q = q - n * dot(q - packed.position(v), n);
  }
  foot = q;
  return true;
}

void GLGrider::refineFootPoint(const GridCell& cell) {
  if (!hasLevelset() || isNoCell(cell)) return;
  for (int a = 0; a < 3; ++a)
    if (cell[a] >= m_counts[a]) return;
  PackedVertices packed;
  if (!packVertices(packed)) return;
  const Lattice lattice(*this);
  const size_t u = cellIndex(cell);
  walkFoot(lattice, packed, u, [this](size_t w) { return &m_footGrid[w]; }, m_footGrid[u]);
}

void GLGrider::refineFootPoints(const std::vector<GridCell>& accepted) {
  PackedVertices packed;
  if (packVertices(packed)) refineFootPoints(accepted, packed);
}

void GLGrider::refineFootPoints(const std::vector<GridCell>& accepted,
                                const PackedVertices& packed) {
  if (!hasLevelset()) return;
  const Lattice lattice(*this);
  for (const GridCell& c : accepted) {
    if (isNoCell(c) || c[0] >= m_counts[0] || c[1] >= m_counts[1] || c[2] >= m_counts[2])
      continue;
    const size_t u = cellIndex(c);
    walkFoot(lattice, packed, u, [this](size_t w) { return &m_footGrid[w]; }, m_footGrid[u]);
  }
}

// The walks of refineFootPoints, in the same order, run while the march is still going: a walk
// starts once its cell is accepted and reads a cell's normal only once that cell is accepted
// (or the march is over), so it sees what it would see after the march.
void GLGrider::walkWhileMarching(const GridCell* accepted, MarchProgress& progress,
                                 const PackedVertices& packed) {
  const Lattice lattice(*this);
  size_t published = 0;
  bool over = false;
  // Waits until the march has published more cells or finished; false when it has finished.
  auto wait = [&] {
    if (over) return false;
    const size_t before = published;
    while ((published = progress.published.load(std::memory_order_acquire)) == before) {
      if (progress.finished.load(std::memory_order_acquire)) {
        published = progress.published.load(std::memory_order_acquire);
        over = true;
        return published != before;
      }
      // Asleep rather than spinning: a busy machine would give the spin the march's core.
      std::this_thread::sleep_for(std::chrono::microseconds(100));
    }
    return true;
  };
  auto settled = [&](size_t w) {
    for (;;) {
      const int32_t at = progress.position[w].load(std::memory_order_relaxed);
      if ((at != 0 && static_cast<size_t>(at) <= published) || over) return &m_footGrid[w];
      wait();
    }
  };
  for (size_t p = 0;; ++p) {
    // Kept well behind the front: the march is still writing the cells around it, and sharing
    // their cache lines would slow both.
    while (p + (over ? 0 : MarchProgress::kLag) >= published)
      if (!wait() && p >= published) return;
    const size_t u = cellIndex(accepted[p]);
    walkFoot(lattice, packed, u, settled, m_footGrid[u]);
  }
}

void GLGrider::computeLevelset() {
  coutLine("begin calculating levelset");
  PackedVertices packed;
  const bool ok = packVertices(packed);
  computeDirectValues(ok ? &packed : nullptr);
  std::vector<GridCell> accepted;
  const double h =
      (static_cast<double>(m_cellSize[0]) + m_cellSize[1] + m_cellSize[2]) / 3.0;
  const size_t total = m_distanceGrid.size();
  std::thread walker;
  std::unique_ptr<MarchProgress> progress;
  if (ok && total >= 8192 && std::thread::hardware_concurrency() > 1) {
    // The walks take about as long as the march: on a second core they cost nothing.
    progress.reset(new MarchProgress(total));
    accepted.reserve(total);
    const GridCell* list = accepted.data();  // the march appends without moving it
    try {
      walker = std::thread([this, list, &progress, &packed] {
        walkWhileMarching(list, *progress, packed);
      });
    } catch (const std::system_error&) {
      progress.reset();  // walked afterwards instead
    }
  }
  fastMarchReporting(m_distanceGrid, m_normalGrid, m_counts, accepted, h, progress.get());
  if (walker.joinable()) {
    progress->published.store(accepted.size(), std::memory_order_release);
    progress->finished.store(true, std::memory_order_release);
    walker.join();
  } else if (ok) {
    refineFootPoints(accepted, packed);
  }
  coutLine("finish levelset");
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

float GLGrider::rayHit(const Vec3f& origin, const Vec3f& direction, float reach) const {
  if (!hasLevelset() || !(reach >= 0.0f)) return -1.0f;
  // The part of the ray inside the lattice's box.
  float from = 0.0f, to = reach;
  for (int a = 0; a < 3; ++a) {
    if (std::fabs(direction[a]) < 1e-12f) {
      if (origin[a] < m_min[a] || origin[a] >= m_max[a]) return -1.0f;
      continue;
    }
    float t0 = (m_min[a] - origin[a]) / direction[a], t1 = (m_max[a] - origin[a]) / direction[a];
    if (t0 > t1) std::swap(t0, t1);
    from = std::max(from, t0);
    to = std::min(to, t1);
  }
  if (!(from <= to)) return -1.0f;

  const float cell = std::min({m_cellSize[0], m_cellSize[1], m_cellSize[2]});
  const float shortest = 0.1f * cell;
  // Level values along the ray; cells without one (and the box's far faces) count as outside.
  auto level = [&](float t, bool& known) {
    const float d = levelsetValue(origin + direction * t);
    known = d <= kLevelsetNoValue;
    return d;
  };
  float outside = -1.0f;  // the last point seen outside, -1 before any
  for (float t = from;;) {
    bool known = false;
    const float d = level(t, known);
    if (known && d <= 0.0f) {
      if (outside < 0.0f) return t;  // inside where the ray starts or comes into the box
      float lo = outside, hi = t;
      while (hi - lo > 0.01f * cell) {
        const float mid = 0.5f * (lo + hi);
        bool midKnown = false;
        const float m = level(mid, midKnown);
        (midKnown && m <= 0.0f ? hi : lo) = mid;
      }
      return hi;
    }
    if (t >= to) return -1.0f;
    outside = t;
    const float next = std::min(to, t + (known ? std::min(std::max(d, shortest), cell) : cell));
    if (!(next > t)) return -1.0f;  // a step lost to rounding far out on the ray
    t = next;
  }
}
