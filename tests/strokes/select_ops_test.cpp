#include "strokes/select_ops.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "strokes/operation_test_support.h"

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
