#include "strokes/deformer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "strokes/operation_test_support.h"
#include "strokes/painting_files.h"
#include "strokes/sample.h"
#include "strokes/select_ops.h"

namespace {

using Floats = std::vector<float>;

// The tool set's deform tool as g_deformer over two selected strokes of 10 points, 0.24 apart in
// x: their control points differ by 0.24 in x alone, a distance of 0.08.
class DeformerTest : public OperationsTest {
 protected:
  void SetUp() override {
    OperationsTest::SetUp();
    g_parameters.clear_control_sample_size();
    g_parameters.clear_deform_strength();
    m_deformer = dynamic_cast<Deformer*>(tool(7));
    ASSERT_NE(m_deformer, nullptr);
    g_deformer = m_deformer;
    m_a = addStroke(0.0f);
    m_b = addStroke(0.24f);
    m_a->setSelected(true);
    m_b->setSelected(true);
  }
  void TearDown() override {
    g_flags[FLAG_OTHER_TRIGGER] = false;
    OperationsTest::TearDown();
  }
  // Phase 1 at stroke x with the other trigger held, then a guide whose control points are the
  // target's as shown moved by `offset`, pushed as a committed guide.
  void deformWith(float x, const Vec3f& offset) {
    g_flags[FLAG_OTHER_TRIGGER] = true;
    ASSERT_TRUE(drag(*m_deformer, x, 0.0f, 3));
    g_flags[FLAG_OTHER_TRIGGER] = false;
    ASSERT_NE(m_deformer->m_selectOp, nullptr);
    const Operatable* target = m_deformer->m_strokes[static_cast<size_t>(m_deformer->m_targetIndex)];
    Operatable* guide = makeStroke(0, 0, 5, x);
    const std::vector<float>& shown = target->m_control;
    for (size_t i = 0; i < shown.size(); ++i)
      guide->m_operation->mutable_midaxis()->add_v(shown[i] + offset[static_cast<int>(i % 3)]);
    m_deformer->push(guide, false);
  }
  static Floats tipOf(const Operatable* stroke) {
    const Vec3f tip = stroke->pointAt(1e9f);
    return {tip[0], tip[1], tip[2]};
  }

  // Where both strokes are: their points, samples and control points, in the stored frame.
  std::vector<Vec3f> place() const {
    std::vector<Vec3f> out;
    for (const Operatable* stroke : {m_a, m_b}) {
      for (const auto& p : stroke->m_operation->points()) out.push_back(toVec3(p));
      for (const Sample* sample : stroke->m_samples) out.push_back(sample->m_position);
      const std::vector<float>& c = stroke->m_control;
      for (size_t k = 0; k + 2 < c.size(); k += 3) out.emplace_back(c[k], c[k + 1], c[k + 2]);
    }
    return out;
  }
  // How far `now` lies from `before` carried by d at worst; 1e9 when they differ in length.
  static float offBy(const std::vector<Vec3f>& now, const std::vector<Vec3f>& before,
                     const Vec3f& d) {
    if (now.size() != before.size()) return 1e9f;
    float worst = 0.0f;
    for (size_t i = 0; i < now.size(); ++i)
      worst = std::max(worst, static_cast<float>(length(now[i] - before[i] - d)));
    return worst;
  }

  Deformer* m_deformer = nullptr;
  Operatable* m_a = nullptr;
  Operatable* m_b = nullptr;
};

TEST_F(DeformerTest, ActivationCollectsTheSelectedStrokesAndWeighsThem) {
  addStroke(0.5f);  // not selected
  Operatable* attached = addStroke(0.7f);
  attached->m_operation->set_shape(1);
  attached->setSelected(true);
  Operatable* removed = addStroke(0.9f);
  removed->setSelected(true);
  removed->setRemoved(true);
  m_deformer->activate();
  ASSERT_EQ(m_deformer->m_strokes, (std::vector<Operatable*>{m_a, m_b}));
  EXPECT_NEAR(m_deformer->weight(0, 1), 0.3683f, 1e-4f);
  EXPECT_EQ(m_deformer->weight(1, 0), m_deformer->weight(0, 1));
  EXPECT_EQ(m_deformer->weight(1, 1), 1.0f);

  // Nothing selected: an empty matrix, and a phase-1 press still runs a selection that its
  // release discards.
  m_a->setSelected(false);
  m_b->setSelected(false);
  m_deformer->activate();
  EXPECT_TRUE(m_deformer->m_strokes.empty());
  EXPECT_EQ(m_deformer->m_weightRows, 0);
  g_flags[FLAG_OTHER_TRIGGER] = true;
  const std::vector<float> hand = handFrame(0.0f, 0.0f);
  EXPECT_FALSE(drag(*m_deformer, 0.0f, 0.0f, 3));
  EXPECT_TRUE(m_deformer->engaged());
  EXPECT_FALSE(m_deformer->release(hand.data(), 12, hand.data(), 12));
  EXPECT_EQ(m_deformer->m_selectOp, nullptr);
  EXPECT_FALSE(m_deformer->engaged());
}

TEST_F(DeformerTest, APhaseOnePressNeedsTheOtherTrigger) {
  m_deformer->activate();
  const std::vector<float> hand = handFrame(0.0f, 0.0f);
  EXPECT_FALSE(m_deformer->press(hand.data(), 12, hand.data(), 12));
  EXPECT_FALSE(m_deformer->engaged());
  EXPECT_EQ(m_deformer->m_currentOp, nullptr);

  // Leaving the tool between the two gestures drops the chosen target.
  g_flags[FLAG_OTHER_TRIGGER] = true;
  ASSERT_TRUE(drag(*m_deformer, 0.0f, 0.0f, 3));
  EXPECT_EQ(m_deformer->m_targetIndex, 0);
  EXPECT_TRUE(m_a->getFlag2());
  m_deformer->deactivate();
  EXPECT_EQ(m_deformer->m_selectOp, nullptr);
  EXPECT_FALSE(m_a->getFlag2());
}

TEST_F(DeformerTest, AGuideBendsItsTargetAndItsNeighboursByWeightAndUndoTakesItBack) {
  m_deformer->activate();
  const Floats restA = tipOf(m_a), restB = tipOf(m_b);
  const Floats targetA = m_a->m_target;

  // A guide identical to its target moves nothing (checked after the undo below).
  deformWith(0.0f, Vec3f(0, 0, 0));
  EXPECT_EQ(m_deformer->m_guideTargets, std::vector<int>({0}));
  // Lifted by 5 cm: the root stays pinned and the tip follows. The two guides share their
  // target, each weighing half of its weight (1 on the target, 0.3683 on its neighbour).
  deformWith(0.0f, Vec3f(0, 0, 0.05f));
  const size_t K = m_a->m_target.size();
  const float lift = 0.05f * (1.0f - std::exp(-0.3f * 19));
  EXPECT_FLOAT_EQ(m_a->m_control[2], targetA[2]);
  EXPECT_NEAR(m_a->m_control[K - 1] - targetA[K - 1], 0.5f * lift, 1e-6f);
  EXPECT_NEAR(m_b->m_control[K - 1] - m_b->m_target[K - 1], 0.5f * 0.3683f * lift, 1e-5f);
  EXPECT_GT(tipOf(m_a)[2], restA[2] + 0.02f);
  EXPECT_GT(tipOf(m_b)[2], restB[2] + 0.008f);

  // Undo the lift: back to the first, motionless guide; undo that: the rest shapes.
  ASSERT_TRUE(m_deformer->undo());
  EXPECT_EQ(m_a->m_control, targetA);
  EXPECT_EQ(tipOf(m_a), restA);
  ASSERT_TRUE(m_deformer->undo());
  EXPECT_EQ(tipOf(m_b), restB);
  ASSERT_TRUE(m_deformer->redo() && m_deformer->redo());
  EXPECT_GT(tipOf(m_a)[2], restA[2] + 0.02f);

  // A new guide after an undo cuts the undone one off, with its target.
  ASSERT_TRUE(m_deformer->undo());
  deformWith(0.24f, Vec3f(0, 0, 0.05f));
  EXPECT_EQ(m_deformer->size(), 2);
  EXPECT_EQ(m_deformer->m_guideTargets, std::vector<int>({0, 1}));
}

// The deform steps after a move start from where the move put the strokes, whether the guides
// come after it or before it.
TEST_F(DeformerTest, AMoveOutlivesTheDeformStepsAfterIt) {
  m_deformer->activate();
  const std::vector<Vec3f> start = place();
  Matrix4 shift;
  shift.at(0, 3) = 0.1f;
  const Vec3f d(0.1f, 0.0f, 0.0f);
  moveSelected(*tool(1), shift);
  m_deformer->activate();  // back in the tool: the same strokes
  ASSERT_LT(offBy(place(), start, d), 1e-5f);

  // A guide identical to the moved stroke moves nothing, nor does its undo.
  deformWith(0.1f, Vec3f(0, 0, 0));
  EXPECT_LT(offBy(place(), start, d), 1e-5f);
  ASSERT_TRUE(m_deformer->undo());
  EXPECT_LT(offBy(place(), start, d), 1e-5f);
  quillax::Painting painting;
  storeOperations(*tool(1), &painting);
  ASSERT_EQ(painting.operations_size(), 2);
  EXPECT_NEAR(painting.operations(0).points(0).x(), 0.1f, 1e-6f);
  EXPECT_NEAR(painting.operations(1).points(0).x(), 0.34f, 1e-6f);

  // Guides made before a move go with the strokes they are aimed at: undo and redo after it
  // give the rest and the bent shapes where the move put them.
  ASSERT_TRUE(m_deformer->redo());
  deformWith(0.34f, Vec3f(0, 0, 0.05f));
  const std::vector<Vec3f> bent = place();
  moveSelected(*tool(1), shift);
  m_deformer->activate();
  EXPECT_LT(offBy(place(), bent, d), 1e-5f);
  ASSERT_TRUE(m_deformer->undo());
  EXPECT_LT(offBy(place(), start, 2.0f * d), 1e-5f);
  ASSERT_TRUE(m_deformer->redo());
  EXPECT_LT(offBy(place(), bent, d), 1e-5f);
}

TEST_F(DeformerTest, AChangedSelectionRetargetsOrRemovesGuides) {
  m_deformer->activate();
  deformWith(0.0f, Vec3f(0, 0, 0.05f));
  Operatable* guide = m_deformer->m_history.back();

  // The target keeps its index: the guide keeps it.
  m_b->setSelected(false);
  m_deformer->activate();
  EXPECT_EQ(m_deformer->m_guideTargets, std::vector<int>({0}));
  EXPECT_FALSE(guide->isRemoved());

  // Another stroke at the target's index: the guide loses its target and takes no part.
  m_a->setSelected(false);
  m_b->setSelected(true);
  m_deformer->activate();
  EXPECT_EQ(m_deformer->m_guideTargets, std::vector<int>({-1}));
  EXPECT_TRUE(guide->isRemoved());
  m_deformer->deformStep();
  EXPECT_EQ(m_b->m_control, m_b->m_target);
}

TEST_F(DeformerTest, ADeletedStrokeLeavesTheListAndTheMatrixSquare) {
  Operatable* c = addStroke(0.48f);
  c->setSelected(true);
  m_deformer->activate();
  deformWith(0.48f, Vec3f(0, 0, 0.05f));
  ASSERT_EQ(m_deformer->m_guideTargets, std::vector<int>({2}));

  // The middle stroke goes (its detach, as when it is deleted): the guide follows its target
  // down one index and the step reads within the matrix.
  m_b->detach();
  EXPECT_EQ(m_deformer->m_strokes, (std::vector<Operatable*>{m_a, c}));
  EXPECT_EQ((std::vector<size_t>{size_t(m_deformer->m_weightRows), size_t(m_deformer->m_weightColumns),
                                 m_deformer->m_weights.size(), m_deformer->m_weights[1].size()}),
            (std::vector<size_t>(4, 2)));
  EXPECT_EQ(m_deformer->m_guideTargets, std::vector<int>({1}));
  m_deformer->deformStep();
  EXPECT_NE(c->m_control, c->m_target);

  // The target itself deleted (undone, then cut off by a new stroke): the guide has none.
  tool(1)->undo();
  addStroke(1.0f);
  EXPECT_EQ(m_deformer->m_strokes, (std::vector<Operatable*>{m_a}));
  EXPECT_EQ(m_deformer->m_guideTargets, std::vector<int>({-1}));
  m_deformer->deformStep();
  EXPECT_EQ(m_a->m_control, m_a->m_target);

  // Control vectors of another count take no part rather than be read past their end.
  m_a->m_target.resize(9);
  m_deformer->deformStep();
  EXPECT_EQ(m_a->m_target.size(), 9u);
}

}  // namespace
