#include "render/level_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>

#include "support/sphere_mesh.h"

namespace {

Vec3f randomDirection(std::mt19937& rng) {
  std::normal_distribution<float> g;
  return normalized(Vec3f(g(rng), g(rng), g(rng)));
}

// Builds quietly; the two messages are returned.
std::string build(GLGrider& grid) {
  testing::internal::CaptureStdout();
  grid.computeLevelset();
  return testing::internal::GetCapturedStdout();
}

// A unit sphere densely sampled in a 60-cell cube of side 3, as the head's grid is built.
TEST(LevelSet, SignedDistanceMatchesADenseSphere) {
  GLGrider grid("levelsetGrider");
  grid.setGrid(Vec3f(-1.5f), Vec3f(1.5f), Vec<3, int16_t>(60, 60, 60));
  Eigen::MatrixXd V, N;
  sphereMesh(40000, 1.0, V, N);
  grid.pushStream(V, N);
  const std::string output = build(grid);
  EXPECT_EQ(output, "begin calculating levelset\nfinish levelset\n");
  EXPECT_NEAR(grid.levelsetValue(Vec3f(0.0f)), -1.0f, 0.03f);
  std::mt19937 rng(7);
  // Away from the surface the marched normals wander where fronts from different sides meet:
  // a few per cent on average, under a tenth everywhere.
  for (float r : {0.3f, 0.55f, 0.8f, 1.25f, 1.4f}) {
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < 400; ++i) {
      const Vec3f p = randomDirection(rng) * r;
      if (!grid.contains(p, false)) continue;
      const float error = std::fabs(grid.levelsetValue(p) - (r - 1.0f));
      EXPECT_LT(error, 0.1f * std::fabs(r - 1.0f)) << "r " << r;
      sum += error;
      ++count;
    }
    EXPECT_LT(sum / count, 0.03 * std::fabs(r - 1.0f)) << "r " << r;
  }
  // Outside the grid: no value, the normal untouched.
  Vec3f n(7.0f, 7.0f, 7.0f);
  EXPECT_FLOAT_EQ(grid.levelsetValue(Vec3f(0.0f, 1.5f, 0.0f), &n), 1e9f);
  EXPECT_EQ(n, Vec3f(7.0f, 7.0f, 7.0f));
}

TEST(LevelSet, MismatchedNormalsLeaveAnEmptyLevelSet) {
  GLGrider grid("levelsetGrider");
  grid.setGrid(Vec3f(-1.5f), Vec3f(1.5f), Vec<3, int16_t>(20, 20, 20));
  Eigen::MatrixXd V, N;
  sphereMesh(500, 1.0, V, N);
  testing::internal::CaptureStdout();
  EXPECT_FALSE(grid.pushStream(V, N.topRows(499)));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "fail: glGrider push stream, normal size not equal vertice size.\n");
  build(grid);
  Vec3f p(0.0f, 0.0f, 1.2f);
  EXPECT_GT(grid.levelsetValue(p), 5e8f);
  EXPECT_FALSE(grid.attachToLevelset(p, nullptr, 0.0f) || grid.pushOutOfLevelset(p, 0.1f));
  EXPECT_EQ(p, Vec3f(0.0f, 0.0f, 1.2f));
}

// The foot-point walks may run beside the march: they must see exactly what they would see
// after it. A lumpy sphere in a box that is not a cube, against the phases one after another.
// Past the known front the march takes the nearest trial cell first, the lower index among equal
// distances, so the order of taking cells (and every value built from it) is fixed. A key that
// rounding put below the last one taken is taken at once, a step back of a few ulps.
TEST(LevelSet, TheMarchTakesTheNearestCellFirstAndWalkingBesideItChangesNothing) {
  Eigen::MatrixXd V, N;
  sphereMesh(6000, 1.0, V, N);
  for (Eigen::Index r = 0; r < V.rows(); ++r)
    V.row(r) *= 1.0 + 0.08 * std::sin(7.0 * V(r, 0)) * std::cos(5.0 * V(r, 1));
  GLGrider built("built"), phased("phased");
  for (GLGrider* g : {&built, &phased}) {
    g->setGrid(Vec3f(-1.3f, -1.6f, -1.2f), Vec3f(1.4f, 1.5f, 1.7f), Vec<3, int16_t>(34, 41, 37));
    ASSERT_TRUE(g->pushStream(V, N));
  }
  build(built);
  phased.computeDirectValues();
  size_t front = 0;
  for (double d : phased.m_distanceGrid) front += d <= kLevelsetNoValue;
  std::vector<GridCell> accepted;
  fastMarch(phased.m_distanceGrid, phased.m_normalGrid, phased.m_counts, accepted,
            (double(phased.m_cellSize[0]) + phased.m_cellSize[1] + phased.m_cellSize[2]) / 3.0);
  ASSERT_EQ(accepted.size(), phased.cellCount());
  size_t outOfOrder = 0, ties = 0;
  for (size_t i = front + 1; i < accepted.size(); ++i) {
    const size_t u = phased.cellIndex(accepted[i]), before = phased.cellIndex(accepted[i - 1]);
    const double d = std::fabs(phased.m_distanceGrid[u]), last = std::fabs(phased.m_distanceGrid[before]);
    ties += d == last;
    if (d < last ? last - d > 1e-12 * last : d == last && u < before) ++outOfOrder;
  }
  EXPECT_EQ(outOfOrder, 0u);
  EXPECT_GT(ties, 0u) << "the tie rule was not exercised";
  phased.refineFootPoints(accepted);
  EXPECT_EQ(built.m_distanceGrid, phased.m_distanceGrid);
  EXPECT_EQ(built.m_normalGrid, phased.m_normalGrid);
  EXPECT_EQ(built.m_footGrid, phased.m_footGrid);
}

TEST(LevelSet, AWalkGoingRoundEnds) {
  // Two empty cells whose planes send the walk to and fro between them.
  GLGrider loop("loop");
  loop.setGrid(Vec3f(0.0f), Vec3f(4.0f), Vec<3, int16_t>(4, 4, 4));
  loop.pushStream(Eigen::RowVector3d(3.5, 3.5, 3.5), Eigen::RowVector3d(0.0, 0.0, 1.0));
  loop.computeDirectValues();
  const size_t a = loop.cellIndex(GridCell(1, 1, 1)), b = loop.cellIndex(GridCell(2, 1, 1));
  loop.m_normalGrid[a] = loop.m_normalGrid[b] = Vec3f(1.0f, 0.0f, 0.0f);
  loop.m_footGrid[a] = Vec3f(2.5f, 1.5f, 1.5f);  // a's plane lies in b
  loop.m_footGrid[b] = Vec3f(1.5f, 1.5f, 1.5f);  // b's plane lies in a
  // A third cell whose own plane sends its walk into a.
  const GridCell c(1, 1, 2);
  const size_t u = loop.cellIndex(c);
  loop.m_normalGrid[u] = Vec3f(0.0f, 0.0f, 1.0f);
  loop.m_distanceGrid[u] = 1.0;
  loop.refineFootPoint(c);
  EXPECT_TRUE(loop.m_footGrid[u][0] == 1.5f || loop.m_footGrid[u][0] == 2.5f);
}

}  // namespace
