#include "render/sample_grid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <random>
#include <set>
#include <string>

namespace {

// An element at given points; its distance to another is that of their first points.
class PointElement : public coreNeighborable {
 public:
  explicit PointElement(std::vector<Vec3f> points = {}) : m_points(std::move(points)) {}
  void getPoints(std::vector<Vec3f>& points) const override {
    points.insert(points.end(), m_points.begin(), m_points.end());
  }
  std::vector<Vec3f> m_points;
};

class MeasuredElement : public PointElement {
 public:
  using PointElement::PointElement;
  float distanceTo(const coreNeighborable& other, const NeighborOptions&, int32_t) const override {
    const auto& o = static_cast<const PointElement&>(other);
    return static_cast<float>(length(o.m_points[0] - m_points[0]));
  }
};

// A 10-cell cube of side 10 from the origin: cell (i, j, k) spans [i, i + 1) on x and so on.
class SampleGridTest : public testing::Test {
 protected:
  SampleGridTest() : grid("hairGrider") {
    grid.setGrid(Vec3f(0.0f), Vec3f(10.0f), Vec<3, int16_t>(10, 10, 10));
  }
  const std::vector<uint32_t>& cell(int i, int j, int k) const {
    return grid.m_cellElements[grid.cellIndex(
        GridCell(static_cast<int16_t>(i), static_cast<int16_t>(j), static_cast<int16_t>(k)))];
  }
  std::vector<coreNeighborable*> query(const Vec3f& p, int32_t n, float r) {
    std::vector<coreNeighborable*> out;
    grid.queryNeighbors(p, n, r, out);
    for (coreNeighborable* e : out) e->setSelected(false);
    return out;
  }
  EGrider grid;
};

TEST_F(SampleGridTest, AddingFilesEachCellOnce) {
  PointElement one({Vec3f(0.5f, 0.5f, 0.5f)});
  PointElement many({Vec3f(2.1f, 2.1f, 2.1f), Vec3f(2.9f, 2.2f, 2.5f), Vec3f(3.5f, 2.5f, 2.5f),
                     Vec3f(2.2f, 2.8f, 2.0f), Vec3f(50.0f, 0.0f, 0.0f)});
  PointElement outside({Vec3f(-1.0f, 0.0f, 0.0f), Vec3f(10.0f, 5.0f, 5.0f)});
  PointElement none;
  EXPECT_FALSE(grid.addElement(nullptr));
  EXPECT_FALSE(grid.addElement(&none));
  EXPECT_EQ(none.m_gridIndex, -1);
  ASSERT_TRUE(grid.addElement(&one));
  ASSERT_TRUE(grid.addElement(&many));
  ASSERT_TRUE(grid.addElement(&outside));  // filed, in no cell
  EXPECT_EQ(one.m_gridIndex, 0);
  EXPECT_EQ(many.m_gridIndex, 1);
  EXPECT_EQ(outside.m_gridIndex, 2);
  EXPECT_EQ(cell(0, 0, 0), std::vector<uint32_t>{0});
  EXPECT_EQ(cell(2, 2, 2), std::vector<uint32_t>{1});
  EXPECT_EQ(cell(3, 2, 2), std::vector<uint32_t>{1});
  EXPECT_EQ(grid.m_elementCells[1], (std::vector<GridCell>{GridCell(2, 2, 2), GridCell(3, 2, 2)}));
  EXPECT_TRUE(grid.m_elementCells[2].empty());

  // Adding an element that is already filed files it again in place, not twice.
  many.m_points[2] = Vec3f(7.5f, 7.5f, 7.5f);
  ASSERT_TRUE(grid.addElement(&many));
  EXPECT_EQ(many.m_gridIndex, 1);
  EXPECT_EQ(grid.m_elements.size(), 3u);
  EXPECT_TRUE(cell(3, 2, 2).empty());
  EXPECT_EQ(cell(7, 7, 7), std::vector<uint32_t>{1});

  // An element with many points in many cells: each cell once, in order of first filing.
  std::vector<Vec3f> dense;
  for (int i = 0; i < 300; ++i) dense.push_back(Vec3f(0.1f + 0.03f * i, 5.5f, 5.5f));
  PointElement line(dense);
  ASSERT_TRUE(grid.addElement(&line));
  ASSERT_EQ(grid.m_elementCells[3].size(), 10u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(grid.m_elementCells[3][static_cast<size_t>(i)], GridCell(static_cast<int16_t>(i), 5, 5));
    EXPECT_EQ(cell(i, 5, 5), std::vector<uint32_t>{3});
  }

  // A new lattice forgets everything.
  grid.setGrid(Vec3f(0.0f), Vec3f(10.0f), Vec<3, int16_t>(5, 5, 5));
  EXPECT_TRUE(grid.m_elements.empty());
  EXPECT_EQ(grid.m_cellElements.size(), 125u);
}

TEST_F(SampleGridTest, RemovingLeavesHolesExceptAtTheEnd) {
  PointElement a({Vec3f(1.5f, 1.5f, 1.5f)}), b({Vec3f(1.6f, 1.5f, 1.5f)}),
      c({Vec3f(1.7f, 1.5f, 1.5f), Vec3f(2.5f, 1.5f, 1.5f)});
  for (PointElement* e : {&a, &b, &c}) ASSERT_TRUE(grid.addElement(e));
  ASSERT_TRUE(grid.removeElement(&b));
  EXPECT_EQ(grid.m_elements.size(), 3u);
  EXPECT_EQ(grid.m_elements[1], nullptr);
  EXPECT_TRUE(grid.m_elementCells[1].empty());
  EXPECT_EQ(cell(1, 1, 1), (std::vector<uint32_t>{0, 2}));
  EXPECT_EQ(b.m_gridIndex, 1);  // left as it was
  EXPECT_EQ(query(Vec3f(1.5f, 1.5f, 1.5f), 1, 0.0f), (std::vector<coreNeighborable*>{&a, &c}));

  ASSERT_TRUE(grid.removeElement(&c));
  EXPECT_EQ(grid.m_elements.size(), 2u);
  EXPECT_EQ(cell(1, 1, 1), std::vector<uint32_t>{0});
  EXPECT_TRUE(cell(2, 1, 1).empty());

  // The removed slot is not reused; the new element takes the next index.
  PointElement d({Vec3f(1.5f, 1.5f, 1.5f)});
  ASSERT_TRUE(grid.addElement(&d));
  EXPECT_EQ(d.m_gridIndex, 2);
}

TEST_F(SampleGridTest, StaleAndForeignElementsAreRefused) {
  PointElement a({Vec3f(1.5f, 1.5f, 1.5f)}), b({Vec3f(2.5f, 2.5f, 2.5f)});
  PointElement never({Vec3f(3.5f, 3.5f, 3.5f)});
  ASSERT_TRUE(grid.addElement(&a));
  ASSERT_TRUE(grid.addElement(&b));
  ASSERT_TRUE(grid.removeElement(&b));  // the last: dropped
  PointElement c({Vec3f(4.5f, 4.5f, 4.5f)});
  ASSERT_TRUE(grid.addElement(&c));  // takes b's old index

  std::unique_ptr<coreNeighborable> copy(a.clone());  // same index, another object
  EXPECT_EQ(copy->m_gridIndex, 0);
  never.m_gridIndex = 40;  // beyond the elements
  PointElement negative({Vec3f(1.0f, 1.0f, 1.0f)});
  negative.m_gridIndex = -3;
  for (coreNeighborable* e : {static_cast<coreNeighborable*>(&b), copy.get(),
                              static_cast<coreNeighborable*>(&never),
                              static_cast<coreNeighborable*>(&negative)}) {
    testing::internal::CaptureStdout();
    EXPECT_FALSE(grid.removeElement(e));
    EXPECT_FALSE(grid.updateElement(e));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "grider_remove_element fail!/ngrider_remove_element fail!/n");
  }
  EXPECT_EQ(grid.m_elements, (std::vector<coreNeighborable*>{&a, &c}));
  EXPECT_EQ(cell(1, 1, 1), std::vector<uint32_t>{0});
  EXPECT_EQ(cell(4, 4, 4), std::vector<uint32_t>{1});

  // After a reset every element's index is stale.
  grid.reset();
  testing::internal::CaptureStdout();
  EXPECT_FALSE(grid.removeElement(&a));
  EXPECT_FALSE(grid.updateElement(&c));
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(grid.removeElement(nullptr));
  EXPECT_FALSE(grid.updateElement(nullptr));
}

TEST_F(SampleGridTest, UpdatingFollowsAMove) {
  PointElement a({Vec3f(1.5f, 1.5f, 1.5f), Vec3f(1.7f, 1.5f, 1.5f)});
  PointElement b({Vec3f(1.5f, 1.6f, 1.5f)});
  ASSERT_TRUE(grid.addElement(&a));
  ASSERT_TRUE(grid.addElement(&b));
  a.m_points = {Vec3f(8.5f, 8.5f, 8.5f), Vec3f(-5.0f, 0.0f, 0.0f), Vec3f(8.6f, 8.5f, 9.5f)};
  ASSERT_TRUE(grid.updateElement(&a));
  EXPECT_EQ(a.m_gridIndex, 0);
  EXPECT_EQ(cell(1, 1, 1), std::vector<uint32_t>{1});
  EXPECT_EQ(grid.m_elementCells[0], (std::vector<GridCell>{GridCell(8, 8, 8), GridCell(8, 8, 9)}));
  EXPECT_EQ(query(Vec3f(1.5f, 1.5f, 1.5f), 0, 0.2f), std::vector<coreNeighborable*>{&b});
  EXPECT_EQ(query(Vec3f(8.5f, 8.5f, 8.9f), 0, 0.2f), std::vector<coreNeighborable*>{&a});
  std::vector<coreNeighborable*> exact;
  grid.queryRadius(Vec3f(1.6f, 1.5f, 1.5f), 0.5f, exact);
  EXPECT_EQ(exact, std::vector<coreNeighborable*>{&b});
  exact.clear();
  grid.queryRadius(Vec3f(8.55f, 8.5f, 9.0f), 0.6f, exact);  // both of a's points, two cells
  EXPECT_EQ(exact, std::vector<coreNeighborable*>{&a});
  // Moved wholly outside: still filed, in no cell.
  a.m_points = {Vec3f(20.0f, 0.0f, 0.0f)};
  ASSERT_TRUE(grid.updateElement(&a));
  EXPECT_TRUE(grid.m_elementCells[0].empty());
  EXPECT_TRUE(grid.removeElement(&a));
}

// Hair-like strokes of ring points, queried around random points: the grid's candidates are
// exactly the elements filed in the cells of the range, and hold every element with a point
// inside the grid within r; the exact query gives just those.
TEST_F(SampleGridTest, QueriesMatchBruteForceOnRandomStrokes) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::vector<std::unique_ptr<PointElement>> elements;
  for (int s = 0; s < 60; ++s) {
    Vec3f p(1.0f + 8.0f * unit(rng), 1.0f + 8.0f * unit(rng), 1.0f + 8.0f * unit(rng));
    Vec3f dir = normalized(Vec3f(unit(rng) - 0.5f, unit(rng) - 0.5f, unit(rng) - 0.5f));
    for (int i = 0; i < 20; ++i) {
      std::vector<Vec3f> ring;
      for (int q = 0; q < 4; ++q)
        ring.push_back(p + Vec3f(q % 2 ? 0.05f : -0.05f, q < 2 ? 0.05f : -0.05f, 0.0f));
      elements.emplace_back(new PointElement(ring));
      ASSERT_TRUE(grid.addElement(elements.back().get()));
      dir = normalized(dir + Vec3f(unit(rng) - 0.5f, unit(rng) - 0.5f, unit(rng) - 0.5f) * 0.3f);
      p += dir * 0.3f;
    }
  }
  // Some holes.
  for (size_t i = 0; i < elements.size(); i += 7) ASSERT_TRUE(grid.removeElement(elements[i].get()));

  for (int t = 0; t < 200; ++t) {
    const Vec3f p(11.0f * unit(rng) - 0.5f, 11.0f * unit(rng) - 0.5f, 11.0f * unit(rng) - 0.5f);
    const float r = 0.1f + 1.5f * unit(rng);
    const int32_t n = t % 4 == 0 ? 1 + t % 3 : 0;
    const CellRange range = n > 0 ? grid.cellRangeByCells(p, n) : grid.cellRangeByRadius(p, r);
    std::set<coreNeighborable*> expected;
    std::set<coreNeighborable*> near;
    for (size_t i = 0; i < grid.m_elements.size(); ++i) {
      if (!grid.m_elements[i]) continue;
      for (const GridCell& c : grid.m_elementCells[i]) {
        bool in = true;
        for (int a = 0; a < 3; ++a) in = in && range[a][0] <= c[a] && c[a] <= range[a][1];
        if (in) expected.insert(grid.m_elements[i]);
      }
      for (const Vec3f& q : static_cast<PointElement*>(grid.m_elements[i])->m_points)
        if (grid.contains(q, false) && length(q - p) <= r) near.insert(grid.m_elements[i]);
    }
    const std::vector<coreNeighborable*> got = query(p, n, r);
    const std::set<coreNeighborable*> gotSet(got.begin(), got.end());
    EXPECT_EQ(gotSet.size(), got.size()) << "listed twice";
    EXPECT_EQ(gotSet, expected);
    if (n == 0) {
      for (coreNeighborable* e : near) EXPECT_TRUE(gotSet.count(e)) << "missed one within r";
    }
    // The exact query: precisely the elements with a filed point within r, each once.
    std::vector<coreNeighborable*> exact;
    grid.queryRadius(p, r, exact);
    EXPECT_EQ(std::set<coreNeighborable*>(exact.begin(), exact.end()).size(), exact.size());
    EXPECT_EQ(std::set<coreNeighborable*>(exact.begin(), exact.end()), near);
  }
  for (const auto& e : elements) EXPECT_FALSE(e->isSelected());
}

TEST_F(SampleGridTest, FindNeighborsCollectsOnceAndClearsMarks) {
  PointElement a({Vec3f(1.5f, 1.5f, 1.5f), Vec3f(2.5f, 1.5f, 1.5f)});
  PointElement b({Vec3f(1.6f, 1.5f, 1.5f), Vec3f(2.6f, 1.5f, 1.5f)});
  PointElement far({Vec3f(8.5f, 8.5f, 8.5f)});
  for (PointElement* e : {&a, &b, &far}) ASSERT_TRUE(grid.addElement(e));
  std::vector<coreNeighborable*> out;
  const float byRadius[2] = {0.0f, 0.5f};
  a.findNeighbors(&grid, byRadius, nullptr, out);
  EXPECT_EQ(out, (std::vector<coreNeighborable*>{&a, &b}));
  for (coreNeighborable* e : out) EXPECT_FALSE(e->isSelected());

  out.clear();
  const float nothing[2] = {-1.0f, 0.0f};
  a.findNeighbors(&grid, nothing, nullptr, out);
  EXPECT_TRUE(out.empty());
  coreGrider plain("plain");
  plain.setGrid(Vec3f(0.0f), Vec3f(10.0f), Vec<3, int16_t>(10, 10, 10));
  a.findNeighbors(&plain, byRadius, nullptr, out);
  EXPECT_TRUE(out.empty());
  const float byCells[2] = {7.0f, 0.0f};
  a.findNeighbors(&grid, byCells, nullptr, out);
  EXPECT_EQ(out.size(), 3u);
}

TEST(NeighborQueries, FindNearestKeepsTheKNearestWithinReach) {
  MeasuredElement self({Vec3f(0.0f)});
  PointElement p3({Vec3f(3.0f, 0.0f, 0.0f)}), p1({Vec3f(0.0f, 1.0f, 0.0f)}),
      p2({Vec3f(0.0f, 0.0f, 2.0f)}), p1b({Vec3f(-1.0f, 0.0f, 0.0f)});
  const std::vector<coreNeighborable*> candidates = {&p3, &p1, &p2, &p1b};
  std::vector<coreNeighborable*> out = {&self};
  std::vector<float> distances = {42.0f};
  const float query[2] = {2.5f, 3.0f};
  self.findNearest(candidates, query, nullptr, out, &distances);
  EXPECT_EQ(out, (std::vector<coreNeighborable*>{&self, &p1, &p1b, &p2}));  // appended
  EXPECT_EQ(distances, (std::vector<float>{1.0f, 1.0f, 2.0f}));             // replaced

  // The base distance is the far value: nothing within 1, everything within 1e9, in order.
  coreNeighborable base;
  out.clear();
  const float within1[2] = {1.0f, 10.0f}, within1e9[2] = {1e9f, 2.0f}, none[2] = {0.0f, 5.0f};
  base.findNearest(candidates, within1, nullptr, out, nullptr);
  EXPECT_TRUE(out.empty());
  base.findNearest(candidates, within1e9, nullptr, out, nullptr);
  EXPECT_EQ(out, (std::vector<coreNeighborable*>{&p3, &p1}));
  distances = {7.0f};
  base.findNearest(candidates, none, nullptr, out, &distances);
  EXPECT_EQ(out.size(), 2u);
  EXPECT_EQ(distances, std::vector<float>{7.0f});
}

TEST_F(SampleGridTest, OccupancyFallsOffWithTheNearestFilledCell) {
  PointElement e({Vec3f(5.5f, 5.5f, 5.5f)});
  ASSERT_TRUE(grid.addElement(&e));
  EXPECT_FLOAT_EQ(grid.cellOccupancy(GridCell(5, 5, 5)), 1.0f);
  EXPECT_NEAR(grid.cellOccupancy(GridCell(6, 5, 5)), std::exp(-1.2), 1e-6);
  EXPECT_NEAR(grid.cellOccupancy(GridCell(6, 4, 5)), std::exp(-1.2 * std::sqrt(2.0)), 1e-6);
  EXPECT_NEAR(grid.cellOccupancy(GridCell(4, 4, 6)), std::exp(-1.2 * std::sqrt(3.0)), 1e-6);
  EXPECT_EQ(grid.cellOccupancy(GridCell(7, 5, 5)), 0.0f);
  EXPECT_EQ(grid.cellOccupancy(GridCell(-1, 5, 5)), 0.0f);
  EXPECT_EQ(grid.cellOccupancy(GridCell(10, 5, 5)), 0.0f);  // beyond the lattice
}

}  // namespace
