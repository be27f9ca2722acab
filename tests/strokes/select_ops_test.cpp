#include "strokes/select_ops.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "render/sample_grid.h"
#include "strokes/edit_ops.h"
#include "strokes/operation_test_support.h"
#include "strokes/sample.h"

namespace {

using Ints = std::vector<int>;
using SelectTest = OperationsTest;

std::vector<Operatable*> targets(Interactor* tool) {
  auto* op = dynamic_cast<SelectOp*>(tool->m_history.at(static_cast<size_t>(tool->m_cursor)));
  return op ? op->m_selected : std::vector<Operatable*>{};
}

}  // namespace

TEST_F(SelectTest, APathTakesTheStrokesItPassesAndOnlyThose) {
  Operatable* a = addStroke(0.0f);
  Operatable* b = addStroke(0.05f);
  Operatable* c = addStroke(0.1f);
  // Far from every sample: nothing taken, nothing kept.
  EXPECT_FALSE(sweep(2, 0.5f));
  EXPECT_EQ(tool(2)->size(), 0);

  // Removed and hidden strokes are never taken; the others on the way once each.
  b->setRemoved(true);
  c->setVisible(false);
  EXPECT_FALSE(sweep(2, 0.06f));
  EXPECT_FALSE(sweep(2, 0.095f));
  EXPECT_TRUE(sweep(2, 0.01f));
  b->setRemoved(false);
  c->setVisible(true);
  ASSERT_TRUE(sweep(2, 0.095f));
  EXPECT_EQ(targets(tool(2)), (std::vector<Operatable*>{c}));
  EXPECT_EQ((Ints{a->isSelected(), b->isSelected(), c->isSelected()}), (Ints{1, 0, 1}));
  EXPECT_EQ(c->m_selectRefs.size(), 1u);

  // A selected stroke is no candidate for another selection.
  EXPECT_FALSE(sweep(2, 0.0f));

  // Undo unmarks, redo marks.
  EXPECT_TRUE(tool(2)->undo());
  EXPECT_EQ((Ints{a->isSelected(), c->isSelected()}), (Ints{1, 0}));
  EXPECT_TRUE(tool(2)->redo());
  EXPECT_EQ((Ints{a->isSelected(), c->isSelected()}), (Ints{1, 1}));

  // A stroke leaving its history withdraws from the selection that holds it.
  tool(1)->reset();
  EXPECT_TRUE(targets(tool(2)).empty());
}

TEST_F(SelectTest, TheNearestSelectionHoldsOneTargetAndTakesTheNewerAtEqualDistances) {
  Operatable* left = addStroke(-0.01f);
  Operatable* right = addStroke(0.01f);
  g_flags[FLAG_OTHER_TRIGGER] = true;
  ASSERT_TRUE(sweep(2, 0.0f));
  EXPECT_EQ(targets(tool(2)), (std::vector<Operatable*>{right}));
  EXPECT_EQ((Ints{left->isSelected(), right->isSelected()}), (Ints{0, 1}));

  // Moving from one stroke to another lets go of the first.
  NearestSelectOp op(tool(1));
  const float near[3] = {-0.008f, 0.0f, 0.0f};
  const float far[3] = {0.01f, 0.03f, 0.0f};
  right->setSelected(false);
  EXPECT_EQ(op.select(near, 0.02f), 1);
  EXPECT_EQ(op.select(far, 0.02f), 1);
  EXPECT_EQ(op.m_selected, (std::vector<Operatable*>{right}));
  EXPECT_EQ((Ints{left->isSelected(), static_cast<int>(left->m_selectRefs.size())}), (Ints{0, 0}));
  op.detach();
}

TEST_F(SelectTest, TheDeformSelectionTakesOnlySelectedStrokesAndMarksThemWithFlag2) {
  Operatable* plain = addStroke(0.0f);
  Operatable* selected = addStroke(0.02f);
  Operatable* attached = addStroke(0.01f);
  selected->setSelected(true);
  attached->setSelected(true);
  attached->m_operation->set_shape(1);
  const float hand[3] = {0.0f, 0.0f, 0.0f};
  DeformSelectOp op(tool(1));
  EXPECT_EQ(op.countCandidates(), 1);
  EXPECT_EQ(op.select(hand, 0.05f), 1);
  EXPECT_EQ(op.m_selected, (std::vector<Operatable*>{selected}));
  EXPECT_EQ((Ints{plain->getFlag2(), selected->getFlag2(), selected->isSelected()}),
            (Ints{0, 1, 1}));
  op.detach();
  EXPECT_FALSE(selected->getFlag2());
}

// Selections find their candidates through the brush's sample grid: over strokes at several
// transform levels, partly beyond the grid's box, moved, undone, removed and hidden, the strokes
// chosen are those a scan of every sample chooses.
TEST_F(SelectTest, SelectionsThroughTheSampleGridChooseWhatTheFullScan) {
  Transformer* levels = dynamic_cast<Transformer*>(tool(6));
  ASSERT_NE(levels, nullptr);
  for (const float scale : {1.0f, 0.5f}) {
    Matrix4 forward, inverse;
    forward.m[0] = forward.m[5] = forward.m[10] = scale;
    forward.m[12] = 0.1f, forward.m[13] = -0.05f;
    invertAffineMatrix4ByLU(forward, inverse);
    levels->m_levelForward.push_back(forward);
    levels->m_levelInverse.push_back(inverse);
  }
  EGrider grid("hairGrider");
  grid.setGrid(Vec3f(-0.3f, -0.3f, -0.3f), Vec3f(0.3f, 0.3f, 0.3f), Vec<3, int16_t>(30, 30, 30));
  tool(1)->attachSampleGrid(&grid);

  std::mt19937 rng(26);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  auto randomPoint = [&] { return Vec3f(unit(rng), unit(rng), unit(rng)) * 0.45f; };
  std::vector<Operatable*> strokes;
  for (int s = 0; s < 2000; ++s) {
    Operatable* stroke = makeStroke(1, 0, 12);
    stroke->m_transformLevel = s % 3;
    Vec3f p = randomPoint();
    for (quillax::Operation_Point& point : *stroke->m_operation->mutable_points()) {
      setPoint(&point, p);
      p += Vec3f(unit(rng), unit(rng), unit(rng)) * 0.02f;
    }
    stroke->computeFrames(false, true);
    stroke->buildSamples();
    tool(1)->push(stroke, false);
    strokes.push_back(stroke);
  }
  for (int s = 0; s < 2000; s += 37) strokes[static_cast<size_t>(s)]->setRemoved(true);
  for (int s = 5; s < 2000; s += 41) strokes[static_cast<size_t>(s)]->setVisible(false);
  for (int s = 0; s < 20; ++s) tool(1)->undo();

  // The exact test, over every applied stroke: the distance to its nearest sample.
  auto nearest = [](const Operatable* stroke, const Vec3f& p) {
    float best = 1e9f;
    for (const Sample* sample : stroke->m_samples)
      best = std::min(best, std::sqrt(squaredLength(sample->m_position - p)));
    return best;
  };
  // What a scan of the applied strokes takes: every acceptable one within r, and the nearest.
  auto scan = [&](SelectOp& op, const Vec3f& p, float r, bool nearestOnly) {
    std::vector<Operatable*> within;
    float best = 1e9f;
    for (int s = 0; s <= tool(1)->m_cursor; ++s) {
      Operatable* stroke = tool(1)->m_history[static_cast<size_t>(s)];
      const float d = nearest(stroke, p);
      if (!op.canSelect(stroke) || d > r) continue;
      if (nearestOnly && d <= best) within.assign(1, stroke), best = d;
      if (!nearestOnly) within.push_back(stroke);
    }
    return within;
  };
  auto compare = [&](int round) {
    SelectOp select(tool(1));
    DeleteOp erase(tool(1));
    NearestSelectOp pick(tool(1));
    for (int q = 0; q < 150; ++q) {
      const Vec3f p = randomPoint();
      const float r = std::vector<float>{0.004f, 0.02f, 0.07f}[static_cast<size_t>(q % 3)];
      for (SelectOp* op : {&select, static_cast<SelectOp*>(&erase), static_cast<SelectOp*>(&pick)}) {
        const std::vector<Operatable*> expected = scan(*op, p, r, op == &pick);
        op->select(&p[0], r);
        EXPECT_EQ(op->m_selected, expected) << "round " << round << " query " << q;
        op->releaseTargets();
      }
    }
  };
  compare(0);
  // Strokes moved after filing are found where they are now.
  for (int s = 1; s < 2000; s += 7) {
    Operatable* stroke = strokes[static_cast<size_t>(s)];
    for (quillax::Operation_Point& point : *stroke->m_operation->mutable_points())
      setPoint(&point, toVec3(point) + Vec3f(0.15f, -0.1f, 0.05f));
    stroke->syncSamples(true);
    stroke->setFlag10(true);
    tool(1)->refreshOperation(stroke);
  }
  compare(1);
  tool(1)->attachSampleGrid(nullptr);
}
