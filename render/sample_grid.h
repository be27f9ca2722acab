#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "core/vec.h"
#include "render/grider.h"

// What findNearest hands to distanceTo.
struct NeighborOptions {
  float weight = 1.0f;
  int32_t flags = 0;
};

// Anything the sample grid can file (stroke samples in practice): a flag word whose bit 1 is
// the grid's collected mark, and the element's index in the grid. Not a coreObject: samples are
// many and small. It sits here, below the strokes, because the grid must know it.
class coreNeighborable {
 public:
  virtual ~coreNeighborable() = default;

  // A new object with both fields copied (the collected mark and the grid index included).
  virtual coreNeighborable* clone() const { return new coreNeighborable(*this); }
  virtual bool isVisible() const { return (m_flags & 1u) != 0; }
  virtual void setVisible(bool on) { setBit(0, on); }
  // The grid's collected mark.
  virtual bool isSelected() const { return (m_flags & 2u) != 0; }
  virtual void setSelected(bool on) { setBit(1, on); }
  // Appends the positions the element covers (grid box coordinates); none here.
  virtual void getPoints(std::vector<Vec3f>& points) const { (void)points; }
  virtual bool getOption6() const { return true; }
  virtual bool getOption7() const { return true; }
  virtual float distanceTo(const coreNeighborable& other, const NeighborOptions& options,
                           int32_t mode) const {
    (void)other, (void)options, (void)mode;
    return 1e9f;
  }
  virtual float getDistance9() const { return 1e9f; }
  virtual float getDistance10() const { return 1e9f; }
  // Appends to `out` the elements around this element's points: with query[0] (truncated) n >= 1
  // those filed in the cells within n cells (a candidate set), else those with a filed point
  // within query[1] of one of the points (exact). Each element enters once; every mark in `out`
  // is clear afterwards. Nothing unless `grid` is an EGrider, or for n < 0 and query[1] <= 0.
  virtual void findNeighbors(coreGrider* grid, const float query[2], void* reserved,
                             std::vector<coreNeighborable*>& out);
  // Appends the up to trunc(query[1]) candidates nearest by distanceTo, at most query[0] away,
  // nearest first (ties in candidate order); `distances`, when given, is replaced by theirs.
  virtual void findNearest(const std::vector<coreNeighborable*>& candidates, const float query[2],
                           void* reserved, std::vector<coreNeighborable*>& out,
                           std::vector<float>* distances);
  virtual float getValue13() const { return 0.0f; }
  virtual void hook14() {}

  uint32_t m_flags = 0;
  int32_t m_gridIndex = -1;

 private:
  void setBit(int bit, bool on) {
    if (on)
      m_flags |= 1u << bit;
    else
      m_flags &= ~(1u << bit);
  }
};

// A uniform bucket grid of elements over the space around the head: each element is filed in
// every cell one of its points falls in. Points are in the grid's box coordinates.
class EGrider : public coreGrider {
 public:
  explicit EGrider(const std::string& name);

  // Forgets every element (they keep their stale grid index); one empty list per cell.
  void reset() override;
  // Changes at every reset: a filer that saw another number knows its elements were forgotten.
  uint64_t resetCount() const { return m_resetCount; }
  // One point per cell centre, white, drawn as points.
  void buildGeometry() override;
  // The base set-up, then reset.
  void setGrid(const Vec3f& min, const Vec3f& max, const Vec<3, int16_t>& counts) override;

  // Files the element under the next index in every cell its points fall in (points outside
  // are skipped). False for null or an element without points. An element already filed here
  // is filed again in place rather than twice.
  bool addElement(coreNeighborable* element);
  // Takes the element out of its cells. Its entry becomes a hole unless it is the last, which
  // is dropped. False, with "grider_remove_element fail!/n", when the element is not filed at
  // its index.
  bool removeElement(coreNeighborable* element);
  // Files a moved element again under its index. False, with the same message as removal, when
  // it is not filed at its index.
  bool updateElement(coreNeighborable* element);
  // 1 for a cell with elements, else exp(-1.2 x index distance) to the nearest filled cell of
  // its 3x3x3 block, else 0; 0 for a cell outside the lattice.
  float cellOccupancy(const GridCell& cell) const;
  // Appends the unmarked elements of the cells within n cells of p (n > 0), else within r of
  // it, and marks them; the caller clears the marks. A candidate set.
  void queryNeighbors(const Vec3f& p, int32_t n, float r, std::vector<coreNeighborable*>& out);
  // Appends the elements with a filed point within r of p, each once, in cell order. Exact,
  // unlike queryNeighbors, and it reads no element and leaves the marks alone. The first query
  // after a change packs the filed points by cell (linear in their number).
  void queryRadius(const Vec3f& p, float r, std::vector<coreNeighborable*>& out);
  // The same around several points: each element within r of any of them once, in the order
  // found.
  void queryRadius(const std::vector<Vec3f>& points, float r, std::vector<coreNeighborable*>& out);
  // Appends the elements filed in the cells within n >= 1 cells of any of the points, each once,
  // in the order found: queryNeighbors' candidates, without reading or marking the elements.
  void queryCells(const std::vector<Vec3f>& points, int32_t n, std::vector<coreNeighborable*>& out);

  // Position = grid index; null for a removed element that was not the last.
  std::vector<coreNeighborable*> m_elements;
  // Per element, the cells it is filed in, in order of first filing.
  std::vector<std::vector<GridCell>> m_elementCells;
  // Per cell (coreGrider::cellIndex), the indices of the elements filed in it.
  std::vector<std::vector<uint32_t>> m_cellElements;
  // Per element, every filed point with its cell (coreGrider::cellIndex).
  struct FiledPoint {
    Vec3f point;
    uint32_t cell;
  };
  std::vector<std::vector<FiledPoint>> m_elementPoints;

 private:
  bool isFiled(const coreNeighborable* element) const;
  // Files the points gathered in m_points under idx; `cells` (emptied first) receives the
  // cells, each once.
  void fileElement(uint32_t idx, std::vector<GridCell>& cells);
  // Takes idx out of every cell of `cells`, searching each cell's list from the back.
  void unfileElement(uint32_t idx, const std::vector<GridCell>& cells);
  void reportRemoveFailure() const;

  void packPoints();
  // Packs when needed and starts a new query number; false when there is nothing to query.
  bool beginQuery();
  // One point of a radius query. With stampAll every element is listed once per query number;
  // else only within this point's cells (one query point).
  template <bool stampAll>
  void scanRadius(const Vec3f& p, float r, std::vector<coreNeighborable*>& out);

  std::vector<Vec3f> m_points;  // scratch for getPoints
  // The filed points ordered by cell, cell u's from m_packedStart[u] to m_packedStart[u + 1]:
  // a query reads a row of cells as one run of memory. An element's points in one cell are
  // adjacent; only an element filed in several cells needs its stamp to be listed once.
  struct PackedPoint {
    Vec3f point;
    uint32_t index;  // the element's index; kSpansCells set when it is filed in several cells
    coreNeighborable* element;
  };
  static constexpr uint32_t kSpansCells = 0x80000000u;
  std::vector<PackedPoint> m_packedPoints;
  std::vector<uint32_t> m_packedStart;
  bool m_packed = false;
  // Per element, the number of the last queryRadius that listed it.
  std::vector<uint32_t> m_stamps;
  uint32_t m_queryStamp = 0;
  uint64_t m_resetCount = 0;
};
