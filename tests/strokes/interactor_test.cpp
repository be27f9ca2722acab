#include "strokes/interactor.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "strokes/stroke_geometry.h"
#include "strokes/stroke_test_support.h"

namespace {

using Ints = std::vector<int>;

const StrokeBufferFormat kRibbonFormat(g_renderRows[1]);

// Hides a stroke when it begins and shows it again when detached; counts its deletion.
class HidingOp : public Operatable {
 public:
  HidingOp(Operatable* target, int beginResult, int* deleted)
      : Operatable(1), m_target(target), m_beginResult(beginResult), m_deleted(deleted) {}
  ~HidingOp() override { ++*m_deleted; }
  int begin(const float* values, int count, const float* other, int otherCount) override {
    m_otherX = otherCount == 12 ? other[0] : -1.0f;
    m_target->setRemoved(true);
    addPoint(values, count);
    return m_beginResult;
  }
  void detach() override { m_target->setRemoved(false); }
  Operatable* m_target;
  float m_otherX = -1.0f;  // the other hand's position as begin saw it
  int m_beginResult;
  int* m_deleted;
};

// A tool that hands out the operations queued in `next` before asking the factory.
class ScriptedTool : public Interactor {
 public:
  explicit ScriptedTool(int32_t opType) : Interactor(opType) {
    createBuffer(kRibbonFormat, 800000);
  }
  Operatable* newOperation() override {
    if (next.empty()) return Interactor::newOperation();
    Operatable* op = next.back();
    next.pop_back();
    return op;
  }
  std::vector<Operatable*> next;
};

class InteractorTest : public BrushStateTest {
 protected:
  const std::vector<float> m_pose = handFrame(0.0f, 0.0f);
  const float* pose = m_pose.data();
};

}  // namespace

TEST_F(InteractorTest, PressDragReleaseCommitsOneStroke) {
  ScriptedTool tool(1);
  EXPECT_FALSE(tool.release(pose, 12, pose, 12));  // no press before it
  ASSERT_TRUE(drag(tool, 0.5f, 0.0f, 3));
  ASSERT_TRUE(tool.press(pose, 12, pose, 12));
  Operatable* op = tool.m_currentOp;
  EXPECT_FALSE(tool.press(pose, 12, pose, 12));  // already engaged
  EXPECT_FALSE(tool.move(pose, 12, pose, 12));   // not a spacing away yet
  EXPECT_TRUE(tool.move(handFrame(0.0f, 0.025f).data(), 12, pose, 12));
  EXPECT_EQ(tool.m_buffer->m_vertexCounts[1], 6u);
  EXPECT_FALSE(tool.undo());  // refused during the drag, with a stroke to undo
  EXPECT_TRUE(tool.release(pose, 12, pose, 12));
  EXPECT_EQ(tool.size(), 2);
  EXPECT_TRUE(tool.m_history[1] == op && tool.m_currentOp == op);

  // A single point is not a stroke: nothing of it stays.
  EXPECT_FALSE(drag(tool, 0.5f, 0.0f, 0));
  EXPECT_EQ((Ints{tool.size(), tool.m_buffer->size(), tool.engaged()}), (Ints{2, 2, false}));
  EXPECT_EQ(tool.m_currentOp, nullptr);
}

TEST_F(InteractorTest, EveryPressWithAnOperationCutsTheRedoTail) {
  ScriptedTool tool(1);
  ASSERT_TRUE(drag(tool, 0.0f, 0.0f, 5));
  ASSERT_TRUE(drag(tool, 0.2f, 0.0f, 5));
  Operatable* first = tool.m_history[0];
  ASSERT_TRUE(tool.undo());

  // An operation that takes a stroke and then does not begin gives it back before it goes.
  int deleted = 0;
  tool.next.push_back(new HidingOp(first, 0, &deleted));
  // The undone stroke is gone all the same.
  EXPECT_EQ((Ints{tool.press(pose, 12, pose, 12), deleted, first->isRemoved(), tool.engaged(),
                  tool.size(), tool.m_buffer->size(), tool.redo()}),
            (Ints{false, 1, false, false, 1, 1, false}));

  // A tool whose type makes no operation cuts nothing, and keeps nothing current.
  ScriptedTool select(2);
  select.next.push_back(new Operatable(1));
  ASSERT_TRUE(drag(select, 0.0f, 0.0f, 3));
  select.undo();
  EXPECT_FALSE(select.press(pose, 12, pose, 12));
  EXPECT_EQ(select.size(), 1);
  EXPECT_EQ(select.m_currentOp, nullptr);
}

TEST_F(InteractorTest, ResetAndDestructionDropTheOperationBeingBuilt) {
  int deleted = 0;
  std::unique_ptr<Operatable> target(makeStroke(1, 0, 3));
  {
    ScriptedTool tool(1);
    tool.next = {new HidingOp(target.get(), 1, &deleted), new HidingOp(target.get(), 1, &deleted)};
    HidingOp* op = static_cast<HidingOp*>(tool.next.back());
    ASSERT_TRUE(tool.press(pose, 12, handFrame(0.25f, 0.0f).data(), 12));
    EXPECT_TRUE(target->isRemoved());
    EXPECT_EQ(op->m_otherX, 0.25f);  // both hands reach the operation
    tool.reset();
    EXPECT_EQ((Ints{target->isRemoved(), deleted, tool.engaged(), tool.m_buffer->size()}),
              (Ints{false, 1, false, 0}));
    EXPECT_EQ(tool.m_currentOp, nullptr);
    ASSERT_TRUE(tool.press(pose, 12, pose, 12));
  }
  EXPECT_EQ(deleted, 2);
}
