#include "strokes/deformable.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "strokes/operation_test_support.h"
#include "strokes/sample.h"
#include "strokes/select_ops.h"

namespace {

using Ints = std::vector<int>;
using Floats = std::vector<float>;

// Control points per stroke is 20 while the settings file gives none.
class DeformableTest : public BrushStateTest {
 protected:
  void SetUp() override {
    BrushStateTest::SetUp();
    g_parameters.clear_control_sample_size();
    g_parameters.set_sampling_space(3);
    g_uiValues.assign(13, 0.0f);
  }
  // A sampled stroke of `points` points 1 cm apart up +y from x, pitch +x, normal +z.
  Operatable* sampled(int points, float x = 0.0f) {
    Operatable* stroke = own(makeStroke(1, 0, points, x));
    stroke->buildSamples();
    return stroke;
  }
  // A stroke stored with the given midaxis values and 5 points.
  Operatable* loaded(const Floats& midaxis) {
    auto* op = new quillax::Operation;
    op->set_width(0.2f);
    for (int i = 0; i < 5; ++i) {
      quillax::Operation_Point* p = op->add_points();
      p->set_y(0.01f * static_cast<float>(i));
      op->add_pitches()->set_x(1.0f);
    }
    for (float v : midaxis) op->mutable_midaxis()->add_v(v);
    return own(new Operatable(op));
  }

  StrokeStore own;
};

Floats firstPoint(const Floats& control) { return Floats(control.begin(), control.begin() + 3); }
Floats lastPoint(const Floats& control) { return Floats(control.end() - 3, control.end()); }

float tangentDot(const quillax::Operation& op, int i) {
  const int n = op.points_size();
  const Vec3f t =
      normalized(toVec3(op.points(std::min(i + 1, n - 1))) - toVec3(op.points(std::max(i - 1, 0))));
  return dot(t, toVec3(op.pitches(i)));
}

}  // namespace

TEST_F(DeformableTest, DistanceIsTheMeanControlDifferenceWidenedByThePointCounts) {
  Operatable* a = sampled(30);
  Operatable* b = sampled(30, 0.1f);
  Operatable* shortOne = sampled(10, 0.1f);
  for (Operatable* s : {a, b, shortOne}) s->rebuildControl();
  EXPECT_FLOAT_EQ(a->distanceTo(b), 0.1f / 3.0f);  // x differs by 0.1, y and z agree
  b->m_control = a->m_control;
  EXPECT_EQ(a->distanceTo(b), 0.0f);
  shortOne->m_control = a->m_control;
  for (float& v : shortOne->m_control) v += 0.1f;
  EXPECT_NEAR(shortOne->distanceTo(a), 0.25f, 1e-6f);
  // Nothing to compare: never the nearest, and never NaN.
  shortOne->m_control.pop_back();
  EXPECT_EQ(shortOne->distanceTo(a), 1e9f * 2.5f);
  a->m_control.clear();
  b->m_control.clear();
  EXPECT_EQ(a->distanceTo(b), 1e9f);
}

TEST_F(DeformableTest, ControlPointsComeFromAWholeMidaxisElseFromTheStroke) {
  const float nan = std::numeric_limits<float>::quiet_NaN();
  Floats whole;
  for (int i = 0; i < 60; ++i) whole.push_back(0.5f + static_cast<float>(i));
  // 3c values stay as they are; 2 whole points and a partial one are refitted to c points.
  EXPECT_EQ(loaded(whole)->m_control, whole);
  Operatable* refitted = loaded({0, 0, 0, 0, 1, 0, 7});
  EXPECT_EQ(refitted->m_control.size(), 60u);
  EXPECT_THAT(firstPoint(refitted->m_control), floatsAre({0, 0, 0}));
  EXPECT_THAT(lastPoint(refitted->m_control), floatsAre({0, 1, 0}));
  // One whole point, or values that are not numbers, count as none: c points along the stroke.
  for (const Floats& midaxis :
       {Floats{1, 2, 3, 4}, Floats{0, 0, nan, 0, 1, 0}, Floats{0, 0, -3e38f, 0, 0, 3e38f}}) {
    Operatable* stroke = loaded(midaxis);
    EXPECT_EQ(stroke->m_control.size(), 60u);
    EXPECT_THAT(lastPoint(stroke->m_control), floatsAre({0, 0.04f, 0}));
    EXPECT_EQ(stroke->m_operation->midaxis().v_size(), 60);
    EXPECT_EQ(stroke->m_target, stroke->m_control);
  }
  g_parameters.set_control_sample_size(1);
  EXPECT_EQ(sampled(10)->rebuildControl(), 0);
}

TEST_F(DeformableTest, DeformRightAfterRebuildingPutsEverySampleBackAtItsOrigin) {
  Operatable* stroke = sampled(10);
  const Vec3f tip = stroke->pointAt(9.0f);
  stroke->rebuildControl();
  for (Sample* s : stroke->m_samples) s->m_position += Vec3f(0.0f, 0.0f, 0.05f);
  stroke->deform();
  for (const Sample* s : stroke->m_samples) EXPECT_EQ(s->m_position, s->m_origin);
  EXPECT_EQ(stroke->pointAt(9.0f), tip);
  EXPECT_TRUE(stroke->getFlag10());

  // Control vectors of unequal length, or holding no whole point, move nothing.
  const std::vector<std::pair<Floats, Floats>> unusable = {{Floats(60, 1.0f), Floats(57, 0.0f)},
                                                           {Floats(), Floats()},
                                                           {Floats(4, 1.0f), Floats(4, 0.0f)}};
  const int midaxis = stroke->m_operation->midaxis().v_size();
  for (const auto& [control, target] : unusable) {
    stroke->m_control = control;
    stroke->m_target = target;
    stroke->deform();
    EXPECT_EQ(stroke->pointAt(9.0f), tip);
    EXPECT_EQ(stroke->m_operation->midaxis().v_size(), midaxis);
  }
}

TEST_F(DeformableTest, SpinKeepsItsEndsAndDoublesThePoints) {
  Operatable* stroke = sampled(20);
  g_modeState[8] = 5;
  spinStroke(stroke, 0.01f, 0.5f);
  const quillax::Operation& op = *stroke->m_operation;
  EXPECT_EQ((Ints{op.points_size(), op.pitches_size(), op.normals_size(), g_modeState[8]}),
            (Ints{40, 40, 0, -1}));
  EXPECT_FLOAT_EQ(g_uiValues[10], 5.0f / 19.0f);
  EXPECT_EQ(stroke->pointAt(0.0f), Vec3f(0.0f, 0.0f, 0.0f));
  EXPECT_NEAR(length(stroke->pointAt(39.0f) - Vec3f(0.0f, 0.19f, 0.0f)), 0.0, 1e-4);
  EXPECT_GT(std::fabs(stroke->pointAt(20.0f)[2]) + std::fabs(stroke->pointAt(20.0f)[0]), 0.001f);
}

TEST_F(DeformableTest, ExtraStrokesAreBraidStrandsApartInPhaseOrOverlays) {
  // A straight stroke up +y with pitch +x: the braid moves its root by
  // 0.384 w (0.7 sin 2p, 0, -sin p) for the strand of phase p radians.
  Operatable* stroke = sampled(20);
  stroke->m_operation->set_shape(3);
  g_flags[FLAG_OVERLAY] = true;
  // Too short to braid: it stays as drawn.
  Operatable* tooShort = sampled(9);
  tooShort->m_operation->set_shape(3);
  std::vector<Operatable*> strands;
  const std::string printed = printedBy([&] {
    makeExtraStrokes(stroke, strands);
    applyShape(stroke, {});
    applyShape(tooShort, {});
  });
  // Strands, overlays (8% wider), the stroke itself, then the short one.
  const std::string plain = "size: 0.384 0.06\n", wide = "size: 0.384 0.0648\n";
  EXPECT_EQ(printed, plain + plain + wide + wide + wide + plain + plain);
  EXPECT_EQ(tooShort->pointCount(), 9);
  for (Operatable* e : strands) own(e);
  strands.insert(strands.begin(), stroke);
  // {phase, width factor, texture} of the stroke, its two strands and the three overlays.
  const std::vector<std::vector<float>> expected = {{0, 1, 1}, {2, 1, 1},    {4, 1, 1},
                                                    {0, 1.08f, 3}, {2, 1.08f, 3}, {4, 1.08f, 3}};
  ASSERT_EQ(strands.size(), expected.size());
  for (size_t i = 0; i < strands.size(); ++i) {
    const float p = expected[i][0], r = 0.384f * 0.2f * expected[i][1];
    const Vec3f root = strands[i]->pointAt(0.0f);
    EXPECT_NEAR(length(root - Vec3f(0.7f * r * std::sin(2 * p), 0.0f, -r * std::sin(p))), 0.0f, 1e-5f)
        << i;
    const quillax::Operation& op = *strands[i]->m_operation;
    EXPECT_EQ((Ints{op.texture(), op.points_size(), op.pitches_size(), op.normals_size()}),
              (Ints{static_cast<int>(expected[i][2]), 50, 50, 50}))
        << i;
    for (int k = 0; k < 50; ++k) EXPECT_NEAR(tangentDot(op, k), 0.0f, 1e-5f) << i << " " << k;
    EXPECT_GE(strands[i]->m_samples.size(), 2u);
  }

  // The overlay of a flat stroke is lifted along its normals; a curled one is widened instead.
  Operatable* flat = sampled(12);
  std::vector<Operatable*> extra;
  makeExtraStrokes(flat, extra);
  ASSERT_EQ(extra.size(), 1u);
  own(extra[0]);
  EXPECT_EQ((Ints{extra[0]->m_operation->texture(), extra[0]->getFlag10()}), (Ints{3, 1}));
  EXPECT_NEAR(extra[0]->pointAt(4.0f)[2], -0.003f, 1e-6f);  // normal = tangent x pitch = -z
  flat->m_operation->set_curvature(18);
  extra.clear();
  makeExtraStrokes(flat, extra);
  own(extra[0]);
  EXPECT_FLOAT_EQ(extra[0]->m_operation->width(), 0.2f * 1.1f);
  EXPECT_EQ(extra[0]->pointAt(4.0f)[2], 0.0f);
  // A connection brings none.
  flat->m_operation->set_op_id(OP_CONNECT);
  extra.clear();
  makeExtraStrokes(flat, extra);
  EXPECT_TRUE(extra.empty());
}

TEST_F(MirroredBrushGL, ABraidReleaseWithItsTwinIsOneUndoGroup) {
  g_brushShape = 3;
  printedBy([&] { EXPECT_TRUE(drag(brush(), 0.5f, 0.0f, 12)); });
  // The stroke and its two strands, then the twin and its two.
  ASSERT_EQ(brush().size(), 6);
  Ints chained;
  for (const Operatable* op : brush().m_history) chained.push_back(op->getFlag7());
  EXPECT_EQ(chained, (Ints{0, 1, 1, 1, 1, 1}));
  EXPECT_LT(brush().m_history[3]->pointAt(0.0f)[0], 0.0f);
  EXPECT_TRUE(brush().undo());
  EXPECT_EQ(brush().m_cursor, -1);
  EXPECT_TRUE(brush().redo());
  EXPECT_EQ(brush().m_cursor, 5);
}
