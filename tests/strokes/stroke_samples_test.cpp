#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <set>
#include <vector>

#include "core/text_file.h"
#include "render/head_model.h"
#include "render/level_set.h"
#include "render/modeler.h"
#include "render/sample_grid.h"
#include "strokes/buffer_undoer.h"
#include "strokes/sample.h"
#include "strokes/stroke_test_support.h"
#include "strokes/transformer.h"
#include "support/asset_root.h"
#include "support/shipped_head.h"
#include "support/sphere_mesh.h"

namespace {

// A stroke through `points`, one pitch for all, 2 cm wide, curvature 0 and the given height.
Operatable* strokeThrough(const std::vector<Vec3f>& points, const Vec3f& pitch, int shape = 0,
                          float height = 0.02f) {
  auto* op = new quillax::Operation;
  op->set_texture(1);
  op->set_width(0.02f);
  op->set_height(height);
  op->set_shape(shape);
  for (const Vec3f& p : points) {
    setPoint(op->add_points(), p);
    setPoint(op->add_pitches(), pitch);
  }
  return new Operatable(op);
}

// n points on the circle of radius r about `centre` in the xy plane, from angle a0 to a1 (degrees).
std::vector<Vec3f> arc(int n, float r, float a0, float a1, const Vec3f& centre = Vec3f()) {
  std::vector<Vec3f> out;
  for (int i = 0; i < n; ++i) {
    const double a = (a0 + (a1 - a0) * i / (n - 1)) * M_PI / 180.0;
    out.push_back(centre + Vec3f(float(r * std::cos(a)), float(r * std::sin(a)), 0.0f));
  }
  return out;
}

std::vector<Vec3f> line(int n, const Vec3f& from, const Vec3f& step) {
  std::vector<Vec3f> out;
  for (int i = 0; i < n; ++i) out.push_back(from + step * float(i));
  return out;
}

bool finite(const Vec3f& v) {
  return std::isfinite(v[0]) && std::isfinite(v[1]) && std::isfinite(v[2]);
}

bool near(const Vec3f& a, const Vec3f& b, double tolerance = 1e-5) {
  return length(a - b) <= tolerance;
}

Vec3f axis(const Sample::FrameRecord& r, int a) { return Vec3f(r[3 * a], r[3 * a + 1], r[3 * a + 2]); }

// A right-handed orthonormal frame.
bool rightHanded(const Vec3f& x, const Vec3f& y, const Vec3f& z) {
  return std::fabs(length(x) - 1) < 1e-5 && std::fabs(length(y) - 1) < 1e-5 &&
         std::fabs(dot(x, y)) < 1e-5 && near(cross(x, y), z);
}

// A level-set grid over the box with 60 cells a side, computed from the mesh (V, N) without its
// progress lines.
GLGrider* levelsetOf(const Eigen::MatrixXd& V, const Eigen::MatrixXd& N, const Vec3f& min, const Vec3f& max) {
  auto* grid = new GLGrider("levelsetGrider");
  grid->setGrid(min, max, Vec<3, int16_t>(60, 60, 60));
  grid->pushStream(V, N);
  printedBy([&] { grid->computeLevelset(); });
  return grid;
}

using StrokeSamples = BrushStateTest;

TEST_F(StrokeSamples, SamplesTakeEvenlySpacedPointsWithBothEnds) {
  struct Case {
    int points, space;
    std::vector<uint16_t> indices;
  };
  const Case cases[] = {
      {10, 3, {0, 3, 6, 9}},
      {2, 3, {0, 1}},
      {5, 3, {0, 4}},
      {1, 3, {}},
      {4, 0, {0, 1, 2, 3}},  // a space below 1 counts as 1
  };
  for (const Case& c : cases) {
    g_parameters.set_sampling_space(c.space);
    std::unique_ptr<Operatable> stroke(strokeThrough(line(c.points, Vec3f(), Vec3f(0, 0.01f, 0)), Vec3f(1, 0, 0)));
    EXPECT_EQ(stroke->m_sampleIndices, c.indices) << c.points << " points, space " << c.space;
    EXPECT_EQ(stroke->m_samples.size(), c.indices.size());
  }
}

TEST_F(StrokeSamples, FramesAreRightHandedAlongTheStroke) {
  // No frames without one pitch per point.
  std::unique_ptr<Operatable> partial(strokeThrough(line(4, Vec3f(), Vec3f(0, 0.01f, 0)), Vec3f(1, 1, 0)));
  partial->m_operation->mutable_pitches()->RemoveLast();
  partial->m_operation->clear_normals();
  partial->computeFrames(true, true);
  EXPECT_EQ(partial->m_operation->normals_size(), 0);

  std::unique_ptr<Operatable> stroke(strokeThrough(arc(31, 0.2f, 0, 90), Vec3f(0.3f, 0.2f, 1)));
  const quillax::Operation& op = *stroke->m_operation;
  ASSERT_EQ(op.normals_size(), 31);
  const size_t n = stroke->m_samples.size();
  for (size_t s = 0; s < n; ++s) {
    const Sample& sample = *stroke->m_samples[s];
    ASSERT_EQ(sample.m_frames.size(), 1u);
    const Vec3f t = axis(sample.m_frames[0], 0);
    EXPECT_TRUE(rightHanded(t, axis(sample.m_frames[0], 3), axis(sample.m_frames[0], 2))) << s;
    const Vec3f along = stroke->m_samples[std::min(s + 1, n - 1)]->m_position -
                        stroke->m_samples[s ? s - 1 : 0]->m_position;
    EXPECT_GT(dot(t, along), 0.0f) << s;
  }

  // Bend the samples and carry the frames along: each new frame is right-handed with its
  // tangent along the bent stroke, and its rotation a proper one.
  for (size_t s = 0; s < n; ++s) stroke->m_samples[s]->m_position += Vec3f(0, 0, 0.002f * s * s);
  stroke->alignAlongStroke();
  for (size_t s = 1; s < n; ++s) {
    const Sample& sample = *stroke->m_samples[s];
    const FloatGrid& r = sample.m_rotation;
    const Vec3f t0 = axis(sample.m_frames[0], 0);
    Vec3f t;
    for (int row = 0; row < 3; ++row) t[row] = r[row][0] * t0[0] + r[row][1] * t0[1] + r[row][2] * t0[2];
    const Vec3f along = stroke->m_samples[std::min(s + 1, n - 1)]->m_position -
                        stroke->m_samples[s - 1]->m_position;
    EXPECT_TRUE(near(t, normalized(along), 1e-4)) << s;
    EXPECT_TRUE(rightHanded(t, sample.m_pitch, normalized(cross(t, sample.m_pitch)))) << s;
  }
}

TEST_F(StrokeSamples, PositionsBetweenSamplesAndTheNearestDistance) {
  std::unique_ptr<Operatable> stroke(strokeThrough(line(7, Vec3f(), Vec3f(0.01f, 0, 0)), Vec3f(0, 1, 0)));
  ASSERT_EQ(stroke->m_samples.size(), 3u);  // points 0, 3 and 6
  EXPECT_EQ(stroke->samplePositionAt(1.005f), stroke->m_samples[1]->m_position);
  EXPECT_TRUE(near(stroke->samplePositionAt(1.5f), Vec3f(0.045f, 0, 0)));
  EXPECT_FLOAT_EQ(stroke->nearestSampleDistance(Vec3f(0.03f, 0.04f, 0)), 0.04f);
  std::unique_ptr<Operatable> empty(strokeThrough({}, Vec3f()));
  EXPECT_FLOAT_EQ(empty->nearestSampleDistance(Vec3f()), std::sqrt(1e9f));
}

// A head that is a sphere of radius 0.1 about the origin, its level set on 60 cells of 5 mm.
class SphereHead : public BrushStateTest {
 protected:
  static void SetUpTestSuite() {
    Eigen::MatrixXd V, N;
    sphereMesh(20000, 0.1, V, N);
    s_grid = levelsetOf(V, N, Vec3f(-0.15f), Vec3f(0.15f));
  }
  static void TearDownTestSuite() { delete s_grid; }
  void SetUp() override {
    BrushStateTest::SetUp();
    g_modeler = new Modeler();
    m_head = new HeadModel("sphere");
    m_head->m_levelsetGrider = s_grid;
    g_modeler->m_models[0] = m_head;
  }
  void TearDown() override {
    m_head->m_levelsetGrider = nullptr;  // shared by the suite
    delete g_modeler;
    g_modeler = nullptr;
    BrushStateTest::TearDown();
  }
  static float level(const Vec3f& p) { return s_grid->levelsetValue(p); }
  static GLGrider* s_grid;
  HeadModel* m_head = nullptr;
};
GLGrider* SphereHead::s_grid = nullptr;

TEST_F(SphereHead, PushingOffPlacesTheRootAndMovesOthersOnlyOutward) {
  const float h = 0.02f;
  // Drawn inside the head, then with its root above the root level.
  for (float rootLevel : {-0.01f, 0.015f}) {
    std::vector<Vec3f> points = line(31, Vec3f(0, 0.1f + rootLevel, 0), Vec3f(0.003f, -0.0006f, 0));
    std::unique_ptr<Operatable> stroke(strokeThrough(points, Vec3f(0, 0, 1), 0, h));
    std::vector<float> before;
    for (const Sample* s : stroke->m_samples) before.push_back(level(s->m_position));
    stroke->postProcess();
    EXPECT_NEAR(level(stroke->m_samples[0]->m_position), 0.2f * h, 5e-4) << rootLevel;
    if (rootLevel > 0) continue;  // smoothing may carry some of the root's pull inward along
    // (The levels the others reach: the shipped head's push-off.)
    for (size_t s = 1; s < stroke->m_samples.size(); ++s)
      EXPECT_GE(level(stroke->m_samples[s]->m_position), before[s]) << s;
  }
}

TEST_F(SphereHead, TheRootPitchTurnsOntoTheHeadOnlyWhenFarOffIt) {
  for (float tilt : {5.0f, 30.0f}) {  // sin 5 deg < 0.1 <= sin 30 deg
    const float a = tilt * float(M_PI) / 180;
    const Vec3f pitch(0, std::sin(a), std::cos(a));
    std::unique_ptr<Operatable> stroke(
        strokeThrough(line(19, Vec3f(0, 0.104f, 0), Vec3f(0.002f, 0, 0)), pitch));
    stroke->alignRootToHead();
    const Vec3f root = stroke->m_samples[0]->m_pitch;
    if (tilt < 10) {
      EXPECT_TRUE(near(root, pitch)) << "a small tilt is left alone";
    } else {
      EXPECT_TRUE(near(root, Vec3f(0, 0, 1), 0.05)) << root[1] << " " << root[2];
      const Vec3f sixth = stroke->m_samples[5]->m_pitch;  // turned by a sixth
      EXPECT_NEAR(std::asin(sixth[1]), a * 5 / 6, 0.02);
      EXPECT_TRUE(near(stroke->m_samples[6]->m_pitch, pitch));
    }
  }
}

TEST_F(SphereHead, StrokesThatSkipThePushComeBackUnchanged) {
  // Inside the head with the no-collision mark; far from the head; smoothing off.
  std::unique_ptr<Operatable> marked(
      strokeThrough(line(10, Vec3f(0, 0.05f, 0), Vec3f(0.005f, 0, 0)), Vec3f(0, 0, 1)));
  marked->m_flags = static_cast<uint16_t>(marked->m_flags | 1u << kStrokeNoCollisionBit);
  std::unique_ptr<Operatable> away(
      strokeThrough(line(10, Vec3f(0.5f, 0.5f, 0), Vec3f(0.005f, 0.001f, 0)), Vec3f(0, 0, 1)));
  for (Operatable* stroke : {marked.get(), away.get()}) {
    const quillax::Operation before = *stroke->m_operation;
    stroke->postProcess();
    for (int i = 0; i < before.points_size(); ++i)
      EXPECT_TRUE(near(toVec3(stroke->m_operation->points(i)), toVec3(before.points(i)), 1e-6)) << i;
  }
}

TEST_F(SphereHead, FaultyStrokesKeepOneFiniteEntryPerPoint) {
  g_flags[FLAG_SMOOTHING] = true;
  // Constant pitches (no arc length to space them by); half outside the grid; a tangent along
  // the pitch.
  std::unique_ptr<Operatable> constant(
      strokeThrough(arc(25, 0.11f, 60, 100), Vec3f(0, 0, 1)));
  std::unique_ptr<Operatable> halfOut(
      strokeThrough(line(61, Vec3f(0, 0.05f, 0), Vec3f(0.005f, 0, 0)), Vec3f(0, 0, 1)));
  std::unique_ptr<Operatable> along(
      strokeThrough(line(12, Vec3f(0, 0.12f, 0), Vec3f(0.005f, 0, 0)), Vec3f(1, 0, 0)));
  for (Operatable* stroke : {constant.get(), halfOut.get(), along.get()}) {
    stroke->postProcess();
    const quillax::Operation& op = *stroke->m_operation;
    EXPECT_EQ(op.pitches_size(), op.points_size());
    EXPECT_EQ(op.normals_size(), op.points_size());
    for (int i = 0; i < op.points_size(); ++i)
      EXPECT_TRUE(finite(toVec3(op.points(i))) && finite(toVec3(op.pitches(i))) &&
                  finite(toVec3(op.normals(i))))
          << i;
    for (const Sample* s : stroke->m_samples) EXPECT_TRUE(finite(s->m_pitch));
  }
  // The corrections inside the grid do not slide onto the samples outside it, which stay on
  // their line (they may only move along it).
  for (const Sample* s : halfOut->m_samples)
    if (s->m_position[0] > 0.2f) {
      EXPECT_NEAR(s->m_position[1], 0.05f, 1e-4) << s->m_index;
    }
}

TEST_F(SphereHead, TheBrushHistoryFilesSamplesByTheirRingsUntilTruncated) {
  EGrider grid("hairGrider");
  grid.setGrid(Vec3f(-0.15f), Vec3f(0.15f), Vec<3, int16_t>(50, 50, 50));
  BufferUndoer history;
  history.attachSampleGrid(&grid);
  Operatable* stroke = strokeThrough(arc(31, 0.11f, 30, 150), Vec3f(0, 0, 1));
  stroke->postProcess();
  history.push(stroke, false);
  for (const Sample* sample : stroke->m_samples) {
    ASSERT_GE(sample->m_gridIndex, 0);
    std::vector<Vec3f> ring;
    sample->getPoints(ring);
    EXPECT_EQ(ring.size(), 2u);  // curvature 0: two vertices a ring
    std::set<size_t> expected, filed;
    for (const Vec3f& p : ring) expected.insert(grid.cellIndex(grid.cellOf(p)));
    for (const GridCell& c : grid.m_elementCells[size_t(sample->m_gridIndex)]) filed.insert(grid.cellIndex(c));
    EXPECT_EQ(filed, expected) << sample->m_index;
  }
  history.undo();
  history.truncateRedo();
  for (const std::vector<uint32_t>& cell : grid.m_cellElements) ASSERT_TRUE(cell.empty());

  // Freed with its head, the grid is let go: nothing reaches it any more.
  notifyGridRelease(&grid);
  EXPECT_EQ(history.m_sampleGrid, nullptr);
  history.push(strokeThrough(arc(7, 0.11f, 30, 150), Vec3f(0, 0, 1)), false);
  EXPECT_TRUE(grid.m_elements.empty());
}

// The shipped head's level set, read from its OBJ, with the shipped placement as level 1: strokes
// drawn in the scene are attached and pushed off in the head's own frame.
class ShippedHeadStrokes : public BrushStateTest {
 protected:
  void SetUp() override {
    BrushStateTest::SetUp();
    Eigen::MatrixXd V, N;
    Vec3f gridMin, gridMax;
    ASSERT_TRUE(readShippedHeadLevelset(V, N, gridMin, gridMax));
    g_modeler = new Modeler();
    m_head = new HeadModel("head");
    g_modeler->m_models[0] = m_head;
    m_head->m_levelsetGrider = levelsetOf(V, N, gridMin, gridMax);
    quillax::Model stored;
    ASSERT_TRUE(ReadProtoFromTextFile(repoAssetPath("models/defaultHead/headTransform.txt").c_str(), &stored));
    ASSERT_TRUE(floatListToMatrix(stored.transforms(), m_placement));
    m_tool.reset(new Transformer);
    setTransformer(m_tool.get());
    m_tool->pushTransform(m_placement);
    m_cell = m_head->m_levelsetGrider->m_cellSize[0];
    // Crown points of the level-set mesh with their normals, in the head's frame.
    for (Eigen::Index r = 0; r < V.rows(); ++r)
      if (N(r, 1) > 0.95 * N.row(r).norm()) m_crown.push_back(Vec3f(float(V(r, 0)), float(V(r, 1)), float(V(r, 2))));
    ASSERT_FALSE(m_crown.empty());
  }
  void TearDown() override {
    m_tool.reset();
    delete g_modeler;
    g_modeler = nullptr;
    BrushStateTest::TearDown();
  }
  // A brush stroke through points given in the head's frame, drawn in the scene.
  Operatable* drawn(const std::vector<Vec3f>& headPoints) {
    auto* stroke = new Operatable(1);
    for (const Vec3f& p : headPoints) {
      setPoint(stroke->m_operation->add_points(), transformPoint(m_placement, p));
      setPoint(stroke->m_operation->add_pitches(), Vec3f(0, 0, 1));
    }
    stroke->computeFrames(false, true);
    stroke->buildSamples();
    return stroke;
  }
  float level(const Vec3f& headPoint) const { return m_head->m_levelsetGrider->levelsetValue(headPoint); }
  // The direction the level grows in at a head point.
  Vec3f outward(const Vec3f& headPoint) const {
    Vec3f g;
    for (int k = 0; k < 3; ++k) {
      Vec3f step;
      step[k] = m_cell;
      g[k] = level(headPoint + step) - level(headPoint - step);
    }
    return normalized(g);
  }

  HeadModel* m_head = nullptr;
  std::unique_ptr<Transformer> m_tool;
  Matrix4 m_placement;
  float m_cell = 0;
  std::vector<Vec3f> m_crown;
};

TEST_F(ShippedHeadStrokes, AttachAndPushOffHappenInTheHeadsFrame) {
  const Vec3f top = m_crown.front();
  g_brushWidth = 0.02f;
  g_curvature = 2;
  g_brushShape = 1;
  std::unique_ptr<Operatable> attached(drawn(line(31, top + Vec3f(-0.03f, 0.004f, 0), Vec3f(0.002f, 0, 0))));
  g_brushShape = 0;
  std::unique_ptr<Operatable> pushed(drawn(line(31, top + Vec3f(-0.03f, -0.01f, 0), Vec3f(0.002f, 0, 0))));
  ASSERT_EQ(attached->m_transformLevel, 1);
  // Samples sit in the head's frame with unit pitches; the drawn points stay in the scene.
  const Sample& tip = *attached->m_samples.back();
  EXPECT_TRUE(near(tip.m_position, top + Vec3f(0.03f, 0.004f, 0), 1e-5));
  EXPECT_EQ(tip.m_localPosition, attached->pointAt(30));
  EXPECT_NEAR(length(tip.m_pitch), 1.0f, 1e-5);
  const float scale = 1.0f / m_placement[0];
  attached->postProcess();
  pushed->postProcess();

  const float width = g_brushWidth * scale, nearLevel = 0.05f * width;
  const float farLevel = nearLevel + attached->m_operation->height();
  for (size_t s = 0; s < attached->m_samples.size(); ++s) {
    const Sample& sample = *attached->m_samples[s];
    const float a = 0.2f * std::min<float>(s, 5);
    EXPECT_NEAR(level(sample.m_position), (1 - a) * nearLevel + a * farLevel, m_cell / 2) << s;
    EXPECT_NEAR(dot(sample.m_pitch, outward(sample.m_position)), 0, 0.05) << "pitch along the head at " << s;
  }
  EXPECT_TRUE(attached->getFlag10());
  const float h = pushed->m_operation->height();
  EXPECT_NEAR(level(pushed->m_samples[0]->m_position), 0.2f * h, m_cell / 2);
  for (size_t s = 3; s < pushed->m_samples.size(); ++s)
    EXPECT_NEAR(level(pushed->m_samples[s]->m_position), 1.1f * h, m_cell / 2) << s;

  // Stored in the head's frame: the stored points are the samples' world positions.
  quillax::Operation stored;
  attached->toProto(&stored);
  EXPECT_TRUE(near(toVec3(stored.points(30)), attached->m_samples.back()->m_position, 1e-5));
}

}  // namespace
