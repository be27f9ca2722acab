#include "render/sample_grid.h"

#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <set>

namespace {

// An element at given points.
class PointElement : public coreNeighborable {
 public:
  explicit PointElement(std::vector<Vec3f> points = {}) : m_points(std::move(points)) {}
  void getPoints(std::vector<Vec3f>& points) const override {
    points.insert(points.end(), m_points.begin(), m_points.end());
  }
  std::vector<Vec3f> m_points;
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
  EGrider grid;
};

TEST_F(SampleGridTest, StaleAndForeignElementsAreRefused) {
  PointElement a({Vec3f(1.5f, 1.5f, 1.5f)}), b({Vec3f(2.5f, 2.5f, 2.5f)});
  ASSERT_TRUE(grid.addElement(&a));
  ASSERT_TRUE(grid.addElement(&b));
  ASSERT_TRUE(grid.removeElement(&b));  // the last: dropped
  PointElement c({Vec3f(4.5f, 4.5f, 4.5f)});
  ASSERT_TRUE(grid.addElement(&c));  // takes b's old index

  std::unique_ptr<coreNeighborable> copy(a.clone());  // same index, another object
  PointElement beyond({Vec3f(3.5f, 3.5f, 3.5f)}), negative({Vec3f(1.0f, 1.0f, 1.0f)});
  beyond.m_gridIndex = 40;
  negative.m_gridIndex = -3;
  for (coreNeighborable* e : {static_cast<coreNeighborable*>(&b), copy.get(),
                              static_cast<coreNeighborable*>(&beyond),
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

  grid.reset();  // every element's index is stale now
  testing::internal::CaptureStdout();
  EXPECT_FALSE(grid.removeElement(&a) || grid.updateElement(&c));
  testing::internal::GetCapturedStdout();
  EXPECT_FALSE(grid.removeElement(nullptr) || grid.updateElement(nullptr));
}

// Hair-like strokes of ring points, some removed (holes) and some moved, queried around random
// points: the candidates are exactly the elements filed in the cells of the range, each once,
// with every element that has a point inside the grid within r; the exact query gives just those.
TEST_F(SampleGridTest, QueriesMatchBruteForceOnRandomStrokes) {
  std::mt19937 rng(2024);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  auto jitter = [&] { return Vec3f(unit(rng) - 0.5f, unit(rng) - 0.5f, unit(rng) - 0.5f); };
  std::vector<std::unique_ptr<PointElement>> elements;
  for (int s = 0; s < 60; ++s) {
    Vec3f p(1.0f + 8.0f * unit(rng), 1.0f + 8.0f * unit(rng), 1.0f + 8.0f * unit(rng));
    Vec3f dir = normalized(jitter());
    for (int i = 0; i < 20; ++i) {
      std::vector<Vec3f> ring;
      for (int q = 0; q < 4; ++q)
        ring.push_back(p + Vec3f(q % 2 ? 0.05f : -0.05f, q < 2 ? 0.05f : -0.05f, 0.0f));
      elements.emplace_back(new PointElement(ring));
      ASSERT_TRUE(grid.addElement(elements.back().get()));
      dir = normalized(dir + jitter() * 0.3f);
      p += dir * 0.3f;
    }
  }
  for (size_t i = 0; i < elements.size(); i += 7) ASSERT_TRUE(grid.removeElement(elements[i].get()));
  for (size_t i = 3; i < elements.size(); i += 11) {
    if (i % 7 == 0) continue;  // removed above
    for (Vec3f& q : elements[i]->m_points) q += jitter() * 4.0f;  // some leave the grid
    ASSERT_TRUE(grid.updateElement(elements[i].get()));
  }

  for (int t = 0; t < 200; ++t) {
    const Vec3f p(11.0f * unit(rng) - 0.5f, 11.0f * unit(rng) - 0.5f, 11.0f * unit(rng) - 0.5f);
    const float r = 0.1f + 1.5f * unit(rng);
    const int32_t n = t % 4 == 0 ? 1 + t % 3 : 0;
    const CellRange range = n > 0 ? grid.cellRangeByCells(p, n) : grid.cellRangeByRadius(p, r);
    std::set<coreNeighborable*> expected, near;
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
    std::vector<coreNeighborable*> got;
    grid.queryNeighbors(p, n, r, got);
    for (coreNeighborable* e : got) e->setSelected(false);
    const std::set<coreNeighborable*> gotSet(got.begin(), got.end());
    EXPECT_EQ(gotSet.size(), got.size()) << "listed twice";
    EXPECT_EQ(gotSet, expected);
    if (n == 0) {
      for (coreNeighborable* e : near) EXPECT_TRUE(gotSet.count(e)) << "missed one within r";
    }
    std::vector<coreNeighborable*> exact;
    grid.queryRadius(p, r, exact);
    EXPECT_EQ(std::set<coreNeighborable*>(exact.begin(), exact.end()).size(), exact.size());
    EXPECT_EQ(std::set<coreNeighborable*>(exact.begin(), exact.end()), near);
  }
}

// An element whose distance to every other is given.
class MeasuredElement : public PointElement {
 public:
  explicit MeasuredElement(float distance) : m_distance(distance) {}
  float distanceTo(const coreNeighborable&, const NeighborOptions& options, int32_t mode) const override {
    return options.weight == 1.0f && options.flags == 0 && mode == 2 ? m_distance : -1.0f;
  }
  float m_distance;
};

TEST_F(SampleGridTest, NeighboursComeFromTheGridEachOnceWithTheirMarksCleared) {
  PointElement a({Vec3f(1.5f, 1.5f, 1.5f), Vec3f(1.6f, 1.5f, 1.5f)}), b({Vec3f(2.5f, 1.5f, 1.5f)}),
      c({Vec3f(1.5f, 1.5f, 4.5f)}), held;
  for (PointElement* e : {&a, &b, &c}) ASSERT_TRUE(grid.addElement(e));

  PointElement query({Vec3f(1.5f, 1.5f, 1.5f), Vec3f(2.4f, 1.5f, 1.5f)});
  struct Case {
    float q0, q1;
    std::vector<coreNeighborable*> found;
  };
  const Case cases[] = {
      {-1, 0, {}},          // neither cells nor radius
      {0, 0.5f, {&a, &b}},  // within 0.5 of one of the points
      {-1, 0.05f, {&a}},
      {1, 0, {&a, &b}},     // the cells next to the points' cells
      {3, 0, {&a, &b, &c}},
  };
  for (const Case& k : cases) {
    held.setSelected(true);
    std::vector<coreNeighborable*> out{&held};
    const float q[2] = {k.q0, k.q1};
    query.findNeighbors(&grid, q, nullptr, out);
    std::vector<coreNeighborable*> expected{&held};
    expected.insert(expected.end(), k.found.begin(), k.found.end());
    EXPECT_EQ(std::set<coreNeighborable*>(out.begin(), out.end()),
              std::set<coreNeighborable*>(expected.begin(), expected.end())) << k.q0 << " " << k.q1;
    EXPECT_EQ(out.size(), expected.size()) << "listed twice";
    // Cleared afterwards, also on what out held before, unless nothing was asked.
    const bool asked = !(k.q0 < 0 && k.q1 <= 0);
    for (coreNeighborable* e : out) EXPECT_EQ(e->isSelected(), !asked && e == &held);
  }
  coreGrider notSampleGrid("box");
  std::vector<coreNeighborable*> out;
  const float q[2] = {3, 1};
  query.findNeighbors(&notSampleGrid, q, nullptr, out);
  EXPECT_TRUE(out.empty());
}

TEST(Neighbors, NearestKeepsTheFirstKWithinTheDistance) {
  MeasuredElement near(0.5f), mid(0.5f), far(2.0f);
  const std::vector<coreNeighborable*> candidates{&far, &near, &mid};
  coreNeighborable base;
  PointElement held;
  struct Case {
    const coreNeighborable* from;
    float q0, q1;
    std::vector<coreNeighborable*> found;
    std::vector<float> distances;
  };
  const Case cases[] = {
      {&base, 1, 3, {}, {}},  // every base distance is 1e9: none kept, the distances emptied
      {&base, 1e9f, 2, {&far, &near}, {1e9f, 1e9f}},          // all equal: the first k in order
      {&near, 1, 5, {&far, &near, &mid}, {0.5f, 0.5f, 0.5f}},  // the distance is the asker's
      {&far, 1, 5, {}, {}},
      {&base, 0, 5, {}, {7}},                                  // nothing asked: untouched
  };
  for (const Case& k : cases) {
    std::vector<coreNeighborable*> out{&held};
    std::vector<float> distances{7};
    const float q[2] = {k.q0, k.q1};
    const_cast<coreNeighborable*>(k.from)->findNearest(candidates, q, nullptr, out, &distances);
    std::vector<coreNeighborable*> expected{&held};
    expected.insert(expected.end(), k.found.begin(), k.found.end());
    EXPECT_EQ(out, expected) << k.q0 << " " << k.q1;
    EXPECT_EQ(distances, k.distances) << k.q0;
  }
}

}  // namespace
