#include "render/grider.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace {

void expectVec(const Vec3f& v, float x, float y, float z) {
  EXPECT_FLOAT_EQ(v[0], x);
  EXPECT_FLOAT_EQ(v[1], y);
  EXPECT_FLOAT_EQ(v[2], z);
}

void expectRange(const CellRange& r, int axis, int low, int high) {
  EXPECT_EQ(r[axis][0], low) << "axis " << axis;
  EXPECT_EQ(r[axis][1], high) << "axis " << axis;
}

TEST(BoundingBox, ContainsIsHalfOpenInLocalAndWorldCoordinates) {
  BoundingBox fresh("fresh");
  EXPECT_FALSE(fresh.contains(Vec3f(0, 0, 0), false));
  fresh.buildGeometry();  // an empty box builds nothing (and so needs no GL here)
  EXPECT_EQ(fresh.m_vao, 0u);
  EXPECT_EQ(fresh.m_count, 0);

  BoundingBox box("box");
  box.widen(Vec3f(0, 0, 0));
  box.widen(Vec3f(2, 4, 6));
  expectVec(box.center(false), 1, 2, 3);
  EXPECT_TRUE(box.contains(Vec3f(0, 0, 0), false));  // the minimum face is inside
  EXPECT_FALSE(box.contains(Vec3f(2, 1, 1), false));  // the maximum face is not
  EXPECT_TRUE(box.contains(Vec3f(1.999f, 3.999f, 5.999f), false));

  // Moved by 10 along x and scaled by 2: world points are carried back into the box.
  Matrix4 m;
  m.at(0, 0) = m.at(1, 1) = m.at(2, 2) = 2.0f;
  m.at(0, 3) = 10.0f;
  box.setTransform(m);
  expectVec(box.center(true), 12, 4, 6);
  expectVec(box.center(false), 1, 2, 3);
  EXPECT_TRUE(box.contains(Vec3f(13, 7, 11), true));
  EXPECT_FALSE(box.contains(Vec3f(1, 1, 1), true));
  EXPECT_FALSE(box.contains(Vec3f(14, 1, 1), true));
}

TEST(BoundingBox, WireCubeMapsTheUnitCubeEdgesOntoTheBox) {
  BoundingBox box("box");
  box.widen(Vec3f(1, 2, 3));
  box.widen(Vec3f(3, 6, 11));
  const std::vector<float> v = box.wireCubeVertices();
  ASSERT_EQ(v.size(), 72u);
  // The first edge runs along z at the (min x, min y) corner.
  EXPECT_FLOAT_EQ(v[0], 1);
  EXPECT_FLOAT_EQ(v[1], 2);
  EXPECT_FLOAT_EQ(v[2], 3);
  EXPECT_FLOAT_EQ(v[3], 1);
  EXPECT_FLOAT_EQ(v[4], 2);
  EXPECT_FLOAT_EQ(v[5], 11);
  // The last edge runs along x at the (max y, max z) corner.
  EXPECT_FLOAT_EQ(v[66], 1);
  EXPECT_FLOAT_EQ(v[69], 3);
  EXPECT_FLOAT_EQ(v[70], 6);
  EXPECT_FLOAT_EQ(v[71], 11);
  for (size_t i = 0; i < v.size(); ++i) {
    const int a = static_cast<int>(i % 3);
    EXPECT_TRUE(v[i] == box.m_min[a] || v[i] == box.m_max[a]) << i;
  }
}

class GriderTest : public ::testing::Test {
 protected:
  void SetUp() override { grid.setGrid(Vec3f(0, 0, 0), Vec3f(1, 2, 4), Vec<3, int16_t>(10, 10, 10)); }
  coreGrider grid{"grid"};
};

TEST_F(GriderTest, SetGridTakesCellSizesOnlyForAValidLattice) {
  expectVec(grid.m_cellSize, 0.1f, 0.2f, 0.4f);
  EXPECT_TRUE(grid.hasCells());
  EXPECT_EQ(grid.cellCount(), 1000u);

  // A flat box or a zero count keeps the old cell sizes, with box and counts stored.
  grid.setGrid(Vec3f(0, 0, 0), Vec3f(1, 0, 1), Vec<3, int16_t>(5, 5, 5));
  expectVec(grid.m_cellSize, 0.1f, 0.2f, 0.4f);
  EXPECT_EQ(grid.m_counts[0], 5);
  grid.setGrid(Vec3f(0, 0, 0), Vec3f(1, 1, 1), Vec<3, int16_t>(5, 0, 5));
  expectVec(grid.m_cellSize, 0.1f, 0.2f, 0.4f);
  EXPECT_EQ(grid.cellCount(), 0u);
  EXPECT_FALSE(grid.hasCells());
  EXPECT_TRUE(isNoCell(grid.cellOf(Vec3f(0.5f, 0.5f, 0.5f))));

  coreGrider fresh("fresh");
  EXPECT_TRUE(isNoCell(fresh.cellOf(Vec3f(0, 0, 0))));
}

TEST_F(GriderTest, CellOfAndCellCenter) {
  const GridCell first = grid.cellOf(Vec3f(0, 0, 0));
  EXPECT_EQ(first, GridCell(0, 0, 0));
  expectVec(grid.cellCenter(first), 0.05f, 0.1f, 0.2f);
  EXPECT_EQ(grid.cellOf(Vec3f(0.55f, 1.1f, 3.99f)), GridCell(5, 5, 9));
  expectVec(grid.cellCenter(GridCell(9, 9, 9)), 0.95f, 1.9f, 3.8f);

  EXPECT_EQ(grid.cellOf(Vec3f(1, 1, 1)), GridCell(-1, -1, -1));  // on the maximum face
  EXPECT_EQ(grid.cellOf(Vec3f(-0.001f, 1, 1)), GridCell(-1, -1, -1));
  // The largest float below the maximum stays in the last cell, whatever the rounding.
  const float justBelow = std::nextafter(1.0f, 0.0f);
  EXPECT_EQ(grid.cellOf(Vec3f(justBelow, 0, 0))[0], 9);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  EXPECT_TRUE(isNoCell(grid.cellOf(Vec3f(nan, 0, 0))));
}

TEST_F(GriderTest, CellRangesClampToTheLattice) {
  const CellRange all = grid.cellRangeByRadius(Vec3f(0.5f, 1, 2), 100.0f);
  for (int a = 0; a < 3; ++a) expectRange(all, a, 0, 9);

  const CellRange near = grid.cellRangeByRadius(Vec3f(0.55f, 1.05f, 2.05f), 0.04f);
  expectRange(near, 0, 5, 5);
  expectRange(near, 1, 5, 5);
  expectRange(near, 2, 5, 5);

  // Half a cell below the box still truncates to cell 0; a whole cell below covers nothing.
  expectRange(grid.cellRangeByRadius(Vec3f(-0.1f, 1, 2), 0.05f), 0, 0, 0);
  const CellRange below = grid.cellRangeByRadius(Vec3f(-0.5f, 1, 2), 0.05f);
  EXPECT_LT(below[0][1], below[0][0]);
  EXPECT_LT(below[0][1], 0);

  const CellRange cells = grid.cellRangeByCells(Vec3f(0.05f, 1.05f, 3.95f), 2);
  expectRange(cells, 0, 0, 2);
  expectRange(cells, 1, 3, 7);
  expectRange(cells, 2, 7, 9);

  // Points far outside or not numbers give empty or clamped ranges, never wrapped indices.
  const CellRange far = grid.cellRangeByRadius(Vec3f(1e30f, -1e30f, 2), 0.1f);
  EXPECT_LT(far[0][1], far[0][0]);
  EXPECT_LT(far[1][1], far[1][0]);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const CellRange none = grid.cellRangeByCells(Vec3f(nan, 1, 2), 1);
  EXPECT_LT(none[0][1], none[0][0]);
}

TEST(VGrider, VertexCellsFollowTheCounts) {
  VGrider<Vec3f> grid("v");
  grid.setGrid(Vec3f(0, 0, 0), Vec3f(1, 1, 1), Vec<3, int16_t>(2, 3, 4));
  grid.resetVertexCells();
  ASSERT_EQ(grid.m_cellVertices.size(), 24u);
  grid.m_vertices.push_back(Vec3f(1, 2, 2));
  grid.cellVertices(GridCell(1, 2, 3)).push_back(0);
  EXPECT_EQ(grid.m_cellVertices.back().size(), 1u);  // x outermost, z innermost
  EXPECT_FLOAT_EQ(grid.squaredDistance(0, Vec3f(0, 0, 0)), 9.0f);
  grid.resetVertexCells();
  EXPECT_TRUE(grid.m_vertices.empty());
  EXPECT_TRUE(grid.m_cellVertices.back().empty());
}

}  // namespace
