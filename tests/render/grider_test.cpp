#include "render/grider.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

using Pair = std::array<int16_t, 2>;

TEST(BoundingBox, HalfOpenInLocalAndWorldCoordinates) {
  BoundingBox box("box");
  EXPECT_FALSE(box.contains(Vec3f(0, 0, 0), false));  // a fresh box is empty
  box.buildGeometry();                                 // and builds nothing (no GL needed)
  EXPECT_EQ(box.m_vao, 0u);

  box.widen(Vec3f(0, 0, 0));
  box.widen(Vec3f(2, 4, 6));
  EXPECT_TRUE(box.contains(Vec3f(0, 0, 0), false));
  EXPECT_FALSE(box.contains(Vec3f(2, 1, 1), false));  // the maximum face is outside

  Matrix4 m;  // scaled by 2, moved 10 along x
  m.at(0, 0) = m.at(1, 1) = m.at(2, 2) = 2.0f;
  m.at(0, 3) = 10.0f;
  box.setTransform(m);
  EXPECT_EQ(box.center(true), Vec3f(12, 4, 6));
  EXPECT_TRUE(box.contains(Vec3f(13, 7, 11), true));
  EXPECT_FALSE(box.contains(Vec3f(1, 1, 1), true));

  // The wire cube: first edge along z at (min x, min y), last along x at (max y, max z).
  const std::vector<float> v = box.wireCubeVertices();
  ASSERT_EQ(v.size(), 72u);
  EXPECT_EQ(std::vector<float>(v.begin(), v.begin() + 6), (std::vector<float>{0, 0, 0, 0, 0, 6}));
  EXPECT_EQ(std::vector<float>(v.end() - 6, v.end()), (std::vector<float>{0, 4, 6, 2, 4, 6}));
}

class GriderTest : public ::testing::Test {
 protected:
  void SetUp() override { grid.setGrid(Vec3f(0, 0, 0), Vec3f(1, 2, 4), Vec<3, int16_t>(10, 10, 10)); }
  coreGrider grid{"grid"};
};

TEST_F(GriderTest, CellSizesOnlyFromAValidLatticeAndCellsOnlyInsideIt) {
  const Vec3f cellSize(0.1f, 0.2f, 0.4f);
  EXPECT_EQ(grid.m_cellSize, cellSize);
  EXPECT_EQ(grid.cellCenter(GridCell(0, 0, 0)), Vec3f(0.05f, 0.1f, 0.2f));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  // {point, cell}: the maximum face is outside; the largest float below it stays in the last
  // cell whatever the rounding.
  const std::pair<Vec3f, GridCell> cells[] = {
      {Vec3f(0, 0, 0), GridCell(0, 0, 0)},
      {Vec3f(0.55f, 1.1f, 3.99f), GridCell(5, 5, 9)},
      {Vec3f(std::nextafter(1.0f, 0.0f), 0, 0), GridCell(9, 0, 0)},
      {Vec3f(1, 1, 1), GridCell(-1, -1, -1)},
      {Vec3f(nan, 0, 0), GridCell(-1, -1, -1)}};
  for (const auto& c : cells) EXPECT_EQ(grid.cellOf(c.first), c.second) << c.first[0];

  // A flat box or no cells: the lattice is refused and the old cell size kept.
  grid.setGrid(Vec3f(0, 0, 0), Vec3f(1, 0, 1), Vec<3, int16_t>(5, 5, 5));
  grid.setGrid(Vec3f(0, 0, 0), Vec3f(1, 1, 1), Vec<3, int16_t>(5, 0, 5));
  EXPECT_EQ(grid.m_cellSize, cellSize);
  EXPECT_TRUE(isNoCell(grid.cellOf(Vec3f(0.5f, 0.5f, 0.5f))));
  EXPECT_TRUE(isNoCell(coreGrider("fresh").cellOf(Vec3f(0, 0, 0))));
}

TEST_F(GriderTest, CellRangesClampToTheLattice) {
  const CellRange all = grid.cellRangeByRadius(Vec3f(0.5f, 1, 2), 100.0f);
  for (int a = 0; a < 3; ++a) EXPECT_EQ(all[a], (Pair{0, 9}));
  // Half a cell below the box still truncates to cell 0; a whole cell below covers nothing.
  EXPECT_EQ(grid.cellRangeByRadius(Vec3f(-0.1f, 1, 2), 0.05f)[0], (Pair{0, 0}));
  EXPECT_EQ(grid.cellRangeByRadius(Vec3f(-0.5f, 1, 2), 0.05f)[0], (Pair{0, -4}));
  EXPECT_EQ(grid.cellRangeByCells(Vec3f(0.05f, 1.05f, 3.95f), 2),
            (CellRange{Pair{0, 2}, Pair{3, 7}, Pair{7, 9}}));

  // Far points and non-numbers give empty ranges, never wrapped 16-bit indices.
  const CellRange far = grid.cellRangeByRadius(Vec3f(1e30f, -1e30f, 2), 0.1f);
  EXPECT_LT(far[0][1], far[0][0]);
  EXPECT_LT(far[1][1], far[1][0]);
  const CellRange none = grid.cellRangeByCells(Vec3f(std::nanf(""), 1, 2), 1);
  EXPECT_LT(none[0][1], none[0][0]);
}

}  // namespace
