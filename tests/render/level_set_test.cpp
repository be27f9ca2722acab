#include "render/level_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <queue>
#include <random>
#include <string>

#include "core/obj_reader.h"
#include "render/head_model.h"
#include "render/render_gl_fixture.h"
#include "support/shipped_head.h"
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
class DenseSphere : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    s_grid = new GLGrider("levelsetGrider");
    s_grid->setGrid(Vec3f(-1.5f), Vec3f(1.5f), Vec<3, int16_t>(60, 60, 60));
    Eigen::MatrixXd V, N;
    sphereMesh(40000, 1.0, V, N);
    s_grid->pushStream(V, N);
    s_output = build(*s_grid);
  }
  static void TearDownTestSuite() { delete s_grid; }
  static GLGrider* s_grid;
  static std::string s_output;
};
GLGrider* DenseSphere::s_grid = nullptr;
std::string DenseSphere::s_output;

TEST_F(DenseSphere, SignedDistanceMatchesTheSphere) {
  EXPECT_EQ(s_output, "begin calculating levelset\nfinish levelset\n");
  EXPECT_NEAR(s_grid->levelsetValue(Vec3f(0.0f)), -1.0f, 0.03f);
  std::mt19937 rng(7);
  // Away from the surface the marched normals wander where fronts from different sides meet:
  // a few per cent on average, under a tenth everywhere.
  for (float r : {0.3f, 0.55f, 0.8f, 1.25f, 1.4f}) {
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < 400; ++i) {
      const Vec3f p = randomDirection(rng) * r;
      if (!s_grid->contains(p, false)) continue;
      const float error = std::fabs(s_grid->levelsetValue(p) - (r - 1.0f));
      EXPECT_LT(error, 0.1f * std::fabs(r - 1.0f)) << "r " << r;
      sum += error;
      ++count;
    }
    EXPECT_LT(sum / count, 0.03 * std::fabs(r - 1.0f)) << "r " << r;
  }
  // Near it, where strokes are attached, within a small fraction of a cell (0.05).
  for (int i = 0; i < 500; ++i) {
    const float r = 0.95f + 0.1f * static_cast<float>(i) / 500.0f;
    const Vec3f p = randomDirection(rng) * r;
    Vec3f n;
    EXPECT_NEAR(s_grid->levelsetValue(p, &n), r - 1.0f, 0.002f);
    EXPECT_GT(dot(n, normalized(p)), 0.99f);
  }
  // Outside the grid: no value, the normal untouched.
  Vec3f n(7.0f, 7.0f, 7.0f);
  EXPECT_FLOAT_EQ(s_grid->levelsetValue(Vec3f(0.0f, 1.5f, 0.0f), &n), 1e9f);
  EXPECT_EQ(n, Vec3f(7.0f, 7.0f, 7.0f));
}

TEST_F(DenseSphere, AttachingPutsPointsOnTheLevelAndPushesInsidePointsOut) {
  std::mt19937 rng(11);
  for (int i = 0; i < 200; ++i) {
    const Vec3f u = randomDirection(rng);
    const float target = i % 2 ? 0.0f : 0.1f;
    Vec3f p = u * (0.85f + 0.4f * static_cast<float>(i) / 200.0f);
    Vec3f dir = normalized(u + Vec3f(0.3f, -0.2f, 0.5f)), n;
    s_grid->levelsetValue(p, &n);
    ASSERT_TRUE(s_grid->attachToLevelset(p, &dir, target));
    EXPECT_NEAR(length(p), 1.0 + target, 0.005);
    // The direction keeps only its part along the surface, as a unit vector.
    EXPECT_NEAR(dot(dir, n), 0.0f, 1e-5f);
    EXPECT_NEAR(length(dir), 1.0, 1e-5);
  }
  Vec3f outside(2.0f, 0.0f, 0.0f);
  EXPECT_FALSE(s_grid->attachToLevelset(outside, nullptr, 0.0f));
  EXPECT_EQ(outside, Vec3f(2.0f, 0.0f, 0.0f));
  for (float r : {0.2f, 0.7f, 1.0f}) {
    Vec3f p = randomDirection(rng) * r;
    ASSERT_TRUE(s_grid->pushOutOfLevelset(p, 0.05f));
    EXPECT_NEAR(length(p), 1.05, 0.01);
  }
  Vec3f above(0.0f, 0.0f, 1.2f);  // already above the level: left where it is
  EXPECT_FALSE(s_grid->pushOutOfLevelset(above, 0.05f));
  EXPECT_EQ(above, Vec3f(0.0f, 0.0f, 1.2f));
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
  EXPECT_TRUE(grid.m_vertices.empty());
  build(grid);
  Vec3f p(0.0f, 0.0f, 1.2f);
  EXPECT_GT(grid.levelsetValue(p), 5e8f);
  EXPECT_FALSE(grid.attachToLevelset(p, nullptr, 0.0f) || grid.pushOutOfLevelset(p, 0.1f));
  EXPECT_EQ(p, Vec3f(0.0f, 0.0f, 1.2f));
}

// The foot-point walks may run beside the march: they must see exactly what they would see
// after it. A lumpy sphere in a box that is not a cube, against the phases one after another.
TEST(LevelSet, WalkingBesideTheMarchChangesNothing) {
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
  std::vector<GridCell> accepted;
  fastMarch(phased.m_distanceGrid, phased.m_normalGrid, phased.m_counts, accepted,
            (double(phased.m_cellSize[0]) + phased.m_cellSize[1] + phased.m_cellSize[2]) / 3.0);
  EXPECT_EQ(accepted.size(), phased.cellCount());
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

// ---- the shipped head, loaded as the program loads it ----

// The march as a plain priority queue over a cube of n cells a side, keyed by minus the
// distance in double precision (the greatest key on top; among equal keys the lower cell index),
// stale entries skipped: what the fast heap must reproduce cell for cell.
std::vector<GridCell> plainMarch(std::vector<double>& dist, std::vector<Vec3f>& normals, int n,
                                 double h) {
  enum { kFar, kTrial, kAccepted };
  auto at = [n](int i, int j, int k) { return (static_cast<size_t>(i) * n + j) * n + k; };
  auto inside = [n](int i, int j, int k) {
    return i >= 0 && j >= 0 && k >= 0 && i < n && j < n && k < n;
  };
  struct Entry {
    double key;
    size_t u;
    int c[3];
  };
  auto lower = [](const Entry& a, const Entry& b) {
    return a.key < b.key || (a.key == b.key && a.u > b.u);
  };
  std::priority_queue<Entry, std::vector<Entry>, decltype(lower)> heap(lower);
  std::vector<int> state(dist.size(), kFar);
  std::vector<GridCell> accepted;
  const int step[6][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}, {-1, 0, 0}, {0, -1, 0}, {0, 0, -1}};

  auto update = [&](const int* c, const int* from) {
    const size_t u = at(c[0], c[1], c[2]), f = at(from[0], from[1], from[2]);
    const double a = dist[f];
    const double s = a > 0 ? 1.0 : -1.0;
    const double a1 = s * a;
    double value[2];
    Vec3f normal[2];
    int used = 0;
    for (int axis = 0; axis < 3; ++axis) {
      if (c[axis] != from[axis]) continue;  // the axis joining the two cells
      double v[2];
      int side[2][3];
      for (int e = 0; e < 2; ++e) {
        for (int x = 0; x < 3; ++x) side[e][x] = c[x];
        side[e][axis] += e == 0 ? -1 : 1;
        const bool in = inside(side[e][0], side[e][1], side[e][2]);
        const size_t w = in ? at(side[e][0], side[e][1], side[e][2]) : 0;
        v[e] = in && state[w] != kFar ? s * dist[w] : 1e9;
        if (v[e] < 0) v[e] = 1e9;
      }
      const int e = v[0] < v[1] ? 0 : 1;
      value[used] = v[e];
      normal[used] = inside(side[e][0], side[e][1], side[e][2])
                         ? normals[at(side[e][0], side[e][1], side[e][2])]
                         : Vec3f();
      ++used;
    }
    const double b = value[0], cc = value[1];
    double t = a1 + h;
    if (t >= b && t >= cc && b > a1 && cc > a1)
      t = (a1 + b + cc +
           std::sqrt((a1 + b + cc) * (a1 + b + cc) - 3 * (a1 * a1 + b * b + cc * cc) + 3 * h * h)) /
          3;
    const Vec3f newNormal = normalized(normals[f] + normal[0] + normal[1]);
    if (state[u] == kFar || (state[u] == kTrial && std::fabs(dist[u]) > t)) {
      dist[u] = s * t;
      normals[u] = newNormal;
      state[u] = kTrial;
      heap.push({-t, u, {c[0], c[1], c[2]}});
    }
  };
  auto accept = [&](const int* c) {
    state[at(c[0], c[1], c[2])] = kAccepted;
    accepted.push_back(GridCell(static_cast<int16_t>(c[0]), static_cast<int16_t>(c[1]),
                                static_cast<int16_t>(c[2])));
    for (const int* d : step) {
      const int nb[3] = {c[0] + d[0], c[1] + d[1], c[2] + d[2]};
      if (inside(nb[0], nb[1], nb[2]) && state[at(nb[0], nb[1], nb[2])] != kAccepted)
        update(nb, c);
    }
  };
  for (size_t u = 0; u < dist.size(); ++u)
    if (dist[u] <= 5e8) state[u] = kAccepted;
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j)
      for (int k = 0; k < n; ++k)
        if (state[at(i, j, k)] == kAccepted) {
          const int c[3] = {i, j, k};
          accept(c);
        }
  while (!heap.empty()) {
    const Entry top = heap.top();
    heap.pop();
    if (state[top.u] != kAccepted) accept(top.c);
  }
  return accepted;
}

TEST(LevelSet, TheMarchTakesCellsInThePlainOrderOnTheShippedHead) {
  Eigen::MatrixXd V, N;
  Vec3f gridMin, gridMax;
  ASSERT_TRUE(readShippedHeadLevelset(V, N, gridMin, gridMax));
  GLGrider grid("levelsetGrider");
  grid.setGrid(gridMin, gridMax, Vec<3, int16_t>(60, 60, 60));
  ASSERT_TRUE(grid.pushStream(V, N));
  grid.computeDirectValues();
  const double h =
      (static_cast<double>(grid.m_cellSize[0]) + grid.m_cellSize[1] + grid.m_cellSize[2]) / 3.0;

  std::vector<double> plainDist = grid.m_distanceGrid, fastDist = grid.m_distanceGrid;
  std::vector<Vec3f> plainNormals = grid.m_normalGrid, fastNormals = grid.m_normalGrid;
  const std::vector<GridCell> plain = plainMarch(plainDist, plainNormals, 60, h);
  std::vector<GridCell> fast;
  fastMarch(fastDist, fastNormals, grid.m_counts, fast, h);

  ASSERT_EQ(fast.size(), plain.size());
  size_t firstOrder = fast.size(), firstValue = fastDist.size();
  for (size_t i = 0; i < fast.size() && firstOrder == fast.size(); ++i)
    if (!(fast[i] == plain[i])) firstOrder = i;
  for (size_t u = 0; u < fastDist.size() && firstValue == fastDist.size(); ++u)
    if (!(fastDist[u] == plainDist[u]) || !(fastNormals[u] == plainNormals[u])) firstValue = u;
  EXPECT_EQ(firstOrder, fast.size()) << "first cell taken out of order";
  EXPECT_EQ(firstValue, fastDist.size()) << "first cell with another value";
}

class ShippedHeadGLTest : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    copyAsset("models/defaultHead");
  }
};

TEST_F(ShippedHeadGLTest, LevelSetBuildsAndAttaches) {
  const std::string path = rootPath("models/defaultHead/head.txt");
  HeadModel head(path);
  testing::internal::CaptureStdout();
  ASSERT_TRUE(head.load(path, 41));
  testing::internal::GetCapturedStdout();
  ASSERT_TRUE(head.m_levelsetGrider && head.m_levelsetGrider->hasLevelset());
  const GLGrider& grid = *head.m_levelsetGrider;

  // Points off the surface along its normals, in the head's own coordinates, measured against
  // the tangent plane of the nearest mesh vertex (sampled every 3 mm, finer than the 8 mm cells).
  Eigen::MatrixXd V, N;
  Eigen::MatrixXi F;
  ASSERT_TRUE(igl::readOBJ(rootPath("models/defaultHead/head_levelset.obj"), V, N, F));
  auto surfaceDistance = [&](const Vec3f& p) {
    const Eigen::RowVector3d q(p[0], p[1], p[2]);
    Eigen::Index nearest = 0;
    (V.rowwise() - q).rowwise().squaredNorm().minCoeff(&nearest);
    return (q - V.row(nearest)).dot(N.row(nearest).normalized());
  };
  int checked = 0;
  double worst = 0.0, sum = 0.0;
  for (Eigen::Index r = 0; r < V.rows(); r += 97) {
    const Vec3f v(float(V(r, 0)), float(V(r, 1)), float(V(r, 2)));
    const Vec3f n = normalized(Vec3f(float(N(r, 0)), float(N(r, 1)), float(N(r, 2))));
    if (v[1] < -0.1f) continue;  // the cranium and face, where hair is drawn
    Vec3f outside = v + n * 0.015f;
    ASSERT_TRUE(grid.attachToLevelset(outside, nullptr, 0.004f)) << r;
    const double error = std::fabs(surfaceDistance(outside) - 0.004);
    worst = std::max(worst, error);
    sum += error;
    ++checked;
  }
  EXPECT_GT(checked, 100);
  EXPECT_LT(worst, 0.0025);
  EXPECT_LT(sum / checked, 0.0005);
}

}  // namespace
