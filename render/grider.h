#pragma once
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/matrix.h"
#include "core/vec.h"
#include "render/model_element.h"

// An axis-aligned box in the element's own coordinates that follows its model matrix. Fresh
// boxes are empty: every minimum above every maximum.
class BoundingBox : public ModelElement {
 public:
  explicit BoundingBox(const std::string& name);

  // The wire cube of the box (72 floats, GL_LINES); nothing for an empty or flat box.
  void buildGeometry() override;
  // Follows the model matrix: inverse matrix and world centre are recomputed.
  void updateTransform() override;

  // The world centre (world) or the local centre (min + max) / 2.
  Vec3f center(bool world) const;
  // min <= p < max on every axis (half-open); a world point is first carried into the box's
  // local coordinates by the inverse matrix.
  bool contains(const Vec3f& point, bool world) const;
  // Grows the box to hold p.
  void widen(const Vec3f& p);
  // The 24 end points of the cube's 12 edges (x, y, z each), mapped onto the box.
  std::vector<float> wireCubeVertices() const;

  Vec3f m_worldCenter;
  Matrix4 m_inverseMatrix;
  Vec3f m_min{1e9f, 1e9f, 1e9f};
  Vec3f m_max{-1e9f, -1e9f, -1e9f};
};

// A lattice cell (i, j, k); (-1, -1, -1) is no cell.
using GridCell = Vec<3, int16_t>;
// Per axis x, y, z an inclusive (low, high) pair; high below low covers no cell.
using CellRange = std::array<std::array<int16_t, 2>, 3>;

inline bool isNoCell(const GridCell& c) { return c[0] < 0 || c[1] < 0 || c[2] < 0; }

// A box divided into a regular lattice of cells.
class coreGrider : public BoundingBox {
 public:
  explicit coreGrider(const std::string& name);

  // Stores the box and the counts; the cell size (extent / count) is taken only when every
  // count is positive and every axis has min < max, else the old cell size stays.
  virtual void setGrid(const Vec3f& min, const Vec3f& max, const Vec<3, int16_t>& counts);
  // min + (index + 0.5) x cell size per axis.
  virtual Vec3f cellCenter(const GridCell& cell) const;
  // The cell holding p (local coordinates), or (-1, -1, -1) outside the half-open box or on a
  // lattice without cells.
  virtual GridCell cellOf(const Vec3f& p) const;
  // The cells within r of p per axis, clamped to the lattice. p may lie outside the box.
  virtual CellRange cellRangeByRadius(const Vec3f& p, float r) const;
  // The cells within n cells of p's cell per axis, clamped to the lattice. In both ranges a
  // coordinate that is not a number gives an empty pair.
  virtual CellRange cellRangeByCells(const Vec3f& p, int32_t n) const;

  // Whether the lattice has cells: positive counts and cell sizes.
  bool hasCells() const;
  // Cells in the lattice (0 unless every count is positive), and a cell's position in
  // x-outermost, z-innermost order.
  size_t cellCount() const;
  size_t cellIndex(const GridCell& c) const {
    return (static_cast<size_t>(c[0]) * static_cast<size_t>(m_counts[1]) +
            static_cast<size_t>(c[1])) * static_cast<size_t>(m_counts[2]) +
           static_cast<size_t>(c[2]);
  }

  Vec<3, int16_t> m_counts;
  Vec3f m_cellSize;

 protected:
  // Lattice index along an axis for a coordinate offset (p - min) / cell size, truncated
  // toward zero and kept within int16 (NaN gives -1).
  int32_t axisIndex(double offset, int axis) const;
};

// A lattice whose cells list the vertices that fall into them.
template <typename T>
class VGrider : public coreGrider {
 public:
  using coreGrider::coreGrider;

  // |position_i - p| squared.
  virtual float squaredDistance(int32_t i, const T& p) const {
    return static_cast<float>(squaredLength(m_vertices[static_cast<size_t>(i)] - p));
  }

  // Drops the vertices and makes one empty list per cell for the current counts.
  void resetVertexCells() {
    m_vertices.clear();
    m_cellVertices.assign(cellCount(), std::vector<int32_t>());
  }
  const std::vector<int32_t>& cellVertices(const GridCell& c) const {
    return m_cellVertices[cellIndex(c)];
  }
  std::vector<int32_t>& cellVertices(const GridCell& c) { return m_cellVertices[cellIndex(c)]; }

  std::vector<T> m_vertices;
  // count_x x count_y x count_z lists, x outermost (see cellIndex).
  std::vector<std::vector<int32_t>> m_cellVertices;
};
