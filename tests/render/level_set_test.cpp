#include "render/level_set.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>

#include "core/obj_reader.h"
#include "render/head_model.h"
#include "render/render_gl_fixture.h"
#include "render/sample_grid.h"

namespace {

// A sphere of radius r about the origin sampled by n points of a Fibonacci spiral, with outward
// unit normals.
void sphereMesh(int n, double r, Eigen::MatrixXd& V, Eigen::MatrixXd& N) {
  V.resize(n, 3);
  N.resize(n, 3);
  const double golden = M_PI * (3.0 - std::sqrt(5.0));
  for (int i = 0; i < n; ++i) {
    const double y = 1.0 - 2.0 * (i + 0.5) / n;
    const double ring = std::sqrt(1.0 - y * y);
    const double phi = golden * i;
    N.row(i) << ring * std::cos(phi), y, ring * std::sin(phi);
    V.row(i) = N.row(i) * r;
  }
}

Vec3f randomDirection(std::mt19937& rng) {
  std::normal_distribution<float> g;
  return normalized(Vec3f(g(rng), g(rng), g(rng)));
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
    testing::internal::CaptureStdout();
    s_grid->computeLevelset();
    s_output = testing::internal::GetCapturedStdout();
  }
  static void TearDownTestSuite() {
    delete s_grid;
    s_grid = nullptr;
  }
  static GLGrider* s_grid;
  static std::string s_output;
};
GLGrider* DenseSphere::s_grid = nullptr;
std::string DenseSphere::s_output;

TEST_F(DenseSphere, ReportsStartAndEnd) {
  EXPECT_EQ(s_output, "begin calculating levelset\nfinish levelset\n");
}

TEST_F(DenseSphere, SignedDistanceMatchesTheSphere) {
  EXPECT_NEAR(s_grid->levelsetValue(Vec3f(0.0f)), -1.0f, 0.03f);
  std::mt19937 rng(7);
  // Away from the surface the marched normals wander where fronts from different sides meet:
  // a few per cent on average, under a tenth everywhere.
  for (float r : {0.3f, 0.55f, 0.8f, 1.25f, 1.4f}) {
    const float exact = r - 1.0f;
    double sum = 0.0;
    int count = 0;
    for (int i = 0; i < 400; ++i) {
      const Vec3f p = randomDirection(rng) * r;
      if (!s_grid->contains(p, false)) continue;
      const float error = std::fabs(s_grid->levelsetValue(p) - exact);
      EXPECT_LT(error, 0.1f * std::fabs(exact)) << "r " << r;
      sum += error;
      ++count;
    }
    EXPECT_LT(sum / count, 0.03 * std::fabs(exact)) << "r " << r;
  }
  // Near it, where strokes are attached, within a small fraction of a cell (0.05).
  for (int i = 0; i < 500; ++i) {
    const float r = 0.95f + 0.1f * static_cast<float>(i) / 500.0f;
    const Vec3f p = randomDirection(rng) * r;
    Vec3f n;
    EXPECT_NEAR(s_grid->levelsetValue(p, &n), r - 1.0f, 0.002f);
    EXPECT_GT(dot(n, normalized(p)), 0.99f);
  }
}

TEST_F(DenseSphere, OutsideTheGridThereIsNoValue) {
  Vec3f n(7.0f, 7.0f, 7.0f);
  EXPECT_FLOAT_EQ(s_grid->levelsetValue(Vec3f(0.0f, 1.5f, 0.0f), &n), 1e9f);
  EXPECT_EQ(n, Vec3f(7.0f, 7.0f, 7.0f));
  Vec3f p(2.0f, 0.0f, 0.0f), dir(0.0f, 1.0f, 0.0f);
  EXPECT_FALSE(s_grid->attachToLevelset(p, &dir, 0.0f));
  EXPECT_EQ(p, Vec3f(2.0f, 0.0f, 0.0f));
}

TEST_F(DenseSphere, AttachingPutsPointsOnTheLevel) {
  std::mt19937 rng(11);
  for (int i = 0; i < 200; ++i) {
    const Vec3f u = randomDirection(rng);
    const float target = i % 2 ? 0.0f : 0.1f;
    Vec3f p = u * (0.85f + 0.4f * static_cast<float>(i) / 200.0f);
    Vec3f dir = normalized(u + Vec3f(0.3f, -0.2f, 0.5f));
    Vec3f n;
    s_grid->levelsetValue(p, &n);
    ASSERT_TRUE(s_grid->attachToLevelset(p, &dir, target));
    EXPECT_NEAR(length(p), 1.0 + target, 0.005);
    // The direction keeps only its part along the surface, as a unit vector.
    EXPECT_NEAR(dot(dir, n), 0.0f, 1e-5f);
    EXPECT_NEAR(length(dir), 1.0, 1e-5);
  }
  // Within a cell the value is a plane distance: a step along the normal adds exactly itself.
  Vec3f p(0.0f, 0.0f, 1.02f), n;
  const float d = s_grid->levelsetValue(p, &n);
  EXPECT_NEAR(s_grid->levelsetValue(p + n * 0.01f), d + 0.01f, 1e-5f);
}

TEST_F(DenseSphere, PointsInsideArePushedOut) {
  std::mt19937 rng(13);
  for (float r : {0.2f, 0.7f, 1.0f}) {
    Vec3f p = randomDirection(rng) * r;
    ASSERT_TRUE(s_grid->pushOutOfLevelset(p, 0.05f));
    EXPECT_NEAR(length(p), 1.05, 0.01);
  }
  // Already above the level: left where it is.
  Vec3f above(0.0f, 0.0f, 1.2f);
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
  // Before the level set is computed, and after computing it with nothing binned: no value.
  EXPECT_GT(grid.levelsetValue(Vec3f(0.0f)), 5e8f);
  testing::internal::CaptureStdout();
  grid.computeLevelset();
  testing::internal::GetCapturedStdout();
  Vec3f p(0.0f, 0.0f, 1.2f);
  EXPECT_GT(grid.levelsetValue(p), 5e8f);
  EXPECT_FALSE(grid.attachToLevelset(p, nullptr, 0.0f));
  EXPECT_FALSE(grid.pushOutOfLevelset(p, 0.1f));
  EXPECT_EQ(p, Vec3f(0.0f, 0.0f, 1.2f));
}

TEST(LevelSet, BinsVerticesByCellWithUnitNormals) {
  GLGrider grid("g");
  grid.setGrid(Vec3f(0.0f), Vec3f(4.0f), Vec<3, int16_t>(4, 4, 4));
  Eigen::MatrixXd V(5, 3), N(5, 3);
  V << 0.5, 0.5, 0.5,   // cell 0
      -0.5, 3.5, 0.5,   // less than a cell below: still cell 0 along x
      -1.5, 0.5, 0.5,   // a whole cell below: dropped
      4.0, 0.5, 0.5,    // on the maximum face: dropped
      NAN, 1.0, 1.0;    // not a point: dropped
  N << 0, 0, 2, 0, 3, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0;
  ASSERT_TRUE(grid.pushStream(V, N));
  ASSERT_EQ(grid.m_vertices.size(), 2u);
  EXPECT_EQ(grid.cellVertices(GridCell(0, 0, 0)), std::vector<int32_t>{0});
  EXPECT_EQ(grid.cellVertices(GridCell(0, 3, 0)), std::vector<int32_t>{1});
  EXPECT_EQ(grid.m_vertexNormals[0], Vec3f(0.0f, 0.0f, 1.0f));
  EXPECT_EQ(grid.m_vertexNormals[1], Vec3f(0.0f, 1.0f, 0.0f));
  // A new lattice forgets them.
  grid.setGrid(Vec3f(0.0f), Vec3f(4.0f), Vec<3, int16_t>(2, 2, 2));
  EXPECT_TRUE(grid.m_vertices.empty());
  EXPECT_EQ(grid.m_cellVertices.size(), 8u);
}

// A flat front on a box that is not a cube: every cell is accepted once, nearest first, and a
// front parallel to an axis marches its exact distance.
TEST(FastMarch, MarchesAFlatFrontOverEveryCell) {
  const Vec<3, int16_t> counts(5, 7, 11);
  const size_t total = 5 * 7 * 11;
  std::vector<double> dist(total, 1e9);
  std::vector<Vec3f> normals(total);
  const double h = 0.5;
  // Known values on the layer k = 3: the surface lies 0.1 below it, normal +z.
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 7; ++j) {
      const size_t u = (static_cast<size_t>(i) * 7 + j) * 11 + 3;
      dist[u] = 0.1;
      normals[u] = Vec3f(0.0f, 0.0f, 1.0f);
    }
  std::vector<GridCell> accepted;
  fastMarch(dist, normals, counts, accepted, h);
  ASSERT_EQ(accepted.size(), total);
  std::set<size_t> seen;
  double last = 0.0;
  for (const GridCell& c : accepted) {
    const size_t u = (static_cast<size_t>(c[0]) * 7 + c[1]) * 11 + c[2];
    EXPECT_TRUE(seen.insert(u).second);
    EXPECT_GE(std::fabs(dist[u]), last - 1e-12);
    last = std::fabs(dist[u]);
    // Everything is reached from the positive layer, so it carries that layer's sign.
    EXPECT_NEAR(dist[u], 0.1 + std::abs(c[2] - 3) * h, 1e-9);
    EXPECT_EQ(normals[u], Vec3f(0.0f, 0.0f, 1.0f));
  }
}

TEST(FastMarch, ThreeSidedUpdateOnlyWithBothOtherAxesJustAbove) {
  // From a known corner a front grows one cell at a time: a lower neighbour on one other axis
  // alone (or one equal to the cell it came from) gives no better value than a' + h.
  const Vec<3, int16_t> counts(3, 3, 3);
  std::vector<double> dist(27, 1e9);
  std::vector<Vec3f> normals(27);
  dist[0] = -0.2;
  normals[0] = Vec3f(1.0f, 0.0f, 0.0f);
  std::vector<GridCell> accepted;
  fastMarch(dist, normals, counts, accepted, 1.0);
  EXPECT_EQ(accepted.size(), 27u);
  EXPECT_DOUBLE_EQ(dist[1], -1.2);   // (0, 0, 1)
  EXPECT_DOUBLE_EQ(dist[4], -2.2);   // (0, 1, 1)
  EXPECT_DOUBLE_EQ(dist[13], -3.2);  // (1, 1, 1)
  EXPECT_DOUBLE_EQ(dist[26], -6.2);  // (2, 2, 2)
  for (const Vec3f& n : normals) EXPECT_EQ(n, Vec3f(1.0f, 0.0f, 0.0f));

  // Lower neighbours on both other axes, within h above the cell it came from: the
  // three-sided solution.
  std::vector<double> three(27, 1e9);
  three[4] = 0.5;   // (0, 1, 1), the cell the update comes from
  three[10] = 0.8;  // (1, 0, 1)
  three[12] = 0.9;  // (1, 1, 0)
  fastMarch(three, normals, counts, accepted, 1.0);
  EXPECT_NEAR(three[13], (2.2 + std::sqrt(2.74)) / 3.0, 1e-12);

  // Nothing known: nothing accepted, nothing changed.
  std::vector<double> none(27, 1e9);
  fastMarch(none, normals, counts, accepted, 1.0);
  EXPECT_TRUE(accepted.empty());
  for (double d : none) EXPECT_EQ(d, 1e9);
}

TEST(LevelSet, SparseSurfacesEnd) {
  // Eight vertices for a whole sphere on a fine lattice: most walks cross many empty cells.
  GLGrider grid("levelsetGrider");
  grid.setGrid(Vec3f(-1.5f), Vec3f(1.5f), Vec<3, int16_t>(40, 40, 40));
  Eigen::MatrixXd V, N;
  sphereMesh(8, 1.0, V, N);
  ASSERT_TRUE(grid.pushStream(V, N));
  testing::internal::CaptureStdout();
  grid.computeLevelset();
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "begin calculating levelset\nfinish levelset\n");
  for (const Vec3f& f : grid.m_footGrid)
    ASSERT_TRUE(std::isfinite(f[0]) && std::isfinite(f[1]) && std::isfinite(f[2]));

  // Two empty cells whose planes send the walk to and fro between them: it stops.
  GLGrider loop("loop");
  loop.setGrid(Vec3f(0.0f), Vec3f(4.0f), Vec<3, int16_t>(4, 4, 4));
  Eigen::MatrixXd far(1, 3), up(1, 3);
  far << 3.5, 3.5, 3.5;
  up << 0, 0, 1;
  loop.pushStream(far, up);
  loop.computeDirectValues();
  const GridCell a(1, 1, 1), b(2, 1, 1);
  const size_t ua = loop.cellIndex(a), ub = loop.cellIndex(b);
  loop.m_normalGrid[ua] = loop.m_normalGrid[ub] = Vec3f(1.0f, 0.0f, 0.0f);
  loop.m_footGrid[ua] = Vec3f(2.5f, 1.5f, 1.5f);  // a's plane lies in b
  loop.m_footGrid[ub] = Vec3f(1.5f, 1.5f, 1.5f);  // b's plane lies in a
  // A third cell whose own plane sends its walk into a.
  const GridCell c(1, 1, 2);
  const size_t uc = loop.cellIndex(c);
  loop.m_normalGrid[uc] = Vec3f(0.0f, 0.0f, 1.0f);
  loop.m_distanceGrid[uc] = 1.0;
  loop.refineFootPoint(c);
  const Vec3f foot = loop.m_footGrid[uc];
  EXPECT_TRUE(foot[0] == 1.5f || foot[0] == 2.5f);
}

// ---- the shipped head, loaded as the program loads it ----

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
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_NE(out.find("begin calculating levelset\nfinish levelset\n"), std::string::npos) << out;
  ASSERT_NE(head.m_levelsetGrider, nullptr);
  ASSERT_NE(head.m_hairGrider, nullptr);
  const GLGrider& grid = *head.m_levelsetGrider;
  ASSERT_TRUE(grid.hasLevelset());
  EXPECT_GT(grid.m_vertices.size(), 10000u);
  EXPECT_EQ(head.m_hairGrider->m_cellElements.size(), 50u * 50u * 50u);

  // Points off the surface along its normals, in the head's own coordinates.
  Eigen::MatrixXd V, N;
  Eigen::MatrixXi F;
  ASSERT_TRUE(igl::readOBJ(rootPath("models/defaultHead/head_levelset.obj"), V, N, F));
  // The distance of p to the surface, from its nearest mesh vertex's tangent plane (the mesh
  // is sampled every 3 mm, finer than the 8 mm cells).
  auto surfaceDistance = [&](const Vec3f& p) {
    double best = 1e9;
    Eigen::Index nearest = 0;
    for (Eigen::Index r = 0; r < V.rows(); ++r) {
      const double d2 = (V.row(r) - Eigen::RowVector3d(p[0], p[1], p[2])).squaredNorm();
      if (d2 < best) best = d2, nearest = r;
    }
    return (Eigen::RowVector3d(p[0], p[1], p[2]) - V.row(nearest)).dot(N.row(nearest).normalized());
  };
  int checked = 0;
  double worst = 0.0, sum = 0.0;
  for (Eigen::Index r = 0; r < V.rows(); r += 97) {
    const Vec3f v(static_cast<float>(V(r, 0)), static_cast<float>(V(r, 1)),
                  static_cast<float>(V(r, 2)));
    const Vec3f n = normalized(Vec3f(static_cast<float>(N(r, 0)), static_cast<float>(N(r, 1)),
                                     static_cast<float>(N(r, 2))));
    // The cranium and face, where hair is drawn; the neck runs out of the grid.
    if (v[1] < -0.1f) continue;
    Vec3f outside = v + n * 0.015f;
    ASSERT_TRUE(grid.attachToLevelset(outside, nullptr, 0.004f)) << r;
    const double error = std::fabs(surfaceDistance(outside) - 0.004);
    worst = std::max(worst, error);
    sum += error;
    // Just under the skin (lips are thin): out onto the level.
    Vec3f inside = v - n * 0.003f;
    EXPECT_TRUE(grid.pushOutOfLevelset(inside, 0.003f)) << "vertex " << r;
    EXPECT_NEAR(surfaceDistance(inside), 0.003, 0.0025) << "vertex " << r;
    ++checked;
  }
  EXPECT_GT(checked, 100);
  EXPECT_LT(worst, 0.0025);
  EXPECT_LT(sum / checked, 0.0005);
}

}  // namespace
