#include "strokes/interactor.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "render/render_gl_fixture.h"
#include "strokes/buffer_undoer_test_support.h"
#include "strokes/operation_factory.h"
#include "strokes/stroke_geometry.h"
#include "support/gl_context.h"

namespace {

const StrokeBufferFormat kRibbonFormat(g_renderRows[1]);

// An operation that hides a stroke when it begins, shows it again when it is detached, and
// counts its own deletion.
class HidingOp : public Operatable {
 public:
  HidingOp(Operatable* target, int beginResult, int* deleted)
      : Operatable(1), m_target(target), m_beginResult(beginResult), m_deleted(deleted) {}
  ~HidingOp() override { ++*m_deleted; }
  int begin(const float* values, int count) override {
    m_target->setRemoved(true);
    addPoint(values, count);
    return m_beginResult;
  }
  void detach() override {
    m_target->setRemoved(false);
    Operatable::detach();
  }
  Operatable* m_target;
  int m_beginResult;
  int* m_deleted;
};

class ScriptedTool : public Interactor {
 public:
  using Interactor::Interactor;
  Operatable* newOperation() override {
    if (next.empty()) return Interactor::newOperation();
    Operatable* op = next.front();
    next.erase(next.begin());
    return op;
  }
  std::vector<Operatable*> next;
};

class InteractorTest : public BrushStateTest {
 protected:
  // One drag along +y from y0, a frame every 1.3 cm.
  static bool drag(Interactor& tool, float x, float y0, int frames) {
    const std::vector<float> other = handFrame(0.0f, 0.0f);
    if (!tool.press(handFrame(x, y0).data(), 12, other.data(), 12)) return false;
    for (int i = 1; i <= frames; ++i)
      tool.move(handFrame(x, y0 + 0.013f * i).data(), 12, other.data(), 12);
    return tool.release(handFrame(x, y0 + 0.013f * frames).data(), 12, other.data(), 12);
  }
};

TEST_F(InteractorTest, PressDragReleaseCommitsOneStroke) {
  Interactor tool(1);
  EXPECT_FALSE(tool.isRenderable());
  tool.createBuffer(kRibbonFormat, 800000);
  EXPECT_TRUE(tool.isRenderable());
  const std::vector<float> pose = handFrame(0.0f, 0.0f);

  EXPECT_FALSE(tool.release(pose.data(), 12, pose.data(), 12));  // no press before it
  EXPECT_FALSE(tool.move(pose.data(), 12, pose.data(), 12));
  ASSERT_TRUE(tool.press(pose.data(), 12, pose.data(), 12));
  EXPECT_TRUE(tool.engaged());
  Operatable* op = tool.m_currentOp;
  EXPECT_EQ(op->m_bufferIndex, 0);
  EXPECT_FALSE(tool.press(pose.data(), 12, pose.data(), 12));
  EXPECT_EQ(tool.m_currentOp, op);
  EXPECT_FALSE(tool.move(pose.data(), 12, pose.data(), 12));  // has not moved a spacing yet
  EXPECT_TRUE(tool.move(handFrame(0.0f, 0.025f).data(), 12, pose.data(), 12));
  EXPECT_EQ(tool.m_buffer->m_vertexCounts[0], 6u);  // three points of two vertices
  EXPECT_FALSE(tool.undo());
  EXPECT_FALSE(tool.redo());

  EXPECT_TRUE(tool.release(pose.data(), 12, pose.data(), 12));
  EXPECT_FALSE(tool.engaged());
  EXPECT_EQ(tool.size(), 1);
  EXPECT_EQ(tool.m_history[0], op);
  EXPECT_EQ(tool.m_currentOp, op);
  EXPECT_EQ(op->m_operation->texture(), 1);
  EXPECT_TRUE(tool.undo());
  EXPECT_EQ(tool.m_buffer->m_cursor, -1);
  EXPECT_TRUE(tool.redo());
  EXPECT_EQ(tool.m_buffer->m_cursor, 0);
}

TEST_F(InteractorTest, ReleaseWithoutAResultLeavesNoTrace) {
  Interactor tool(1);
  tool.createBuffer(kRibbonFormat, 800000);
  EXPECT_TRUE(drag(tool, 0.0f, 0.0f, 5));
  EXPECT_FALSE(drag(tool, 0.5f, 0.0f, 0));  // a single point is not a stroke
  EXPECT_EQ(tool.size(), 1);
  EXPECT_EQ(tool.m_buffer->size(), 1);
  EXPECT_EQ(tool.m_currentOp, nullptr);
  EXPECT_FALSE(tool.engaged());
}

TEST_F(InteractorTest, EveryPressWithAnOperationCutsTheRedoTail) {
  ScriptedTool tool(1);
  tool.createBuffer(kRibbonFormat, 800000);
  ASSERT_TRUE(drag(tool, 0.0f, 0.0f, 5));
  ASSERT_TRUE(drag(tool, 0.2f, 0.0f, 5));
  Operatable* first = tool.m_history[0];
  ASSERT_TRUE(tool.undo());

  // An operation that takes a stroke and then does not begin gives it back before it goes.
  int deleted = 0;
  tool.next.push_back(new HidingOp(first, 0, &deleted));
  const std::vector<float> pose = handFrame(0.0f, 0.0f);
  EXPECT_FALSE(tool.press(pose.data(), 12, pose.data(), 12));
  EXPECT_EQ(deleted, 1);
  EXPECT_FALSE(first->isRemoved());
  EXPECT_EQ(tool.m_currentOp, nullptr);
  EXPECT_FALSE(tool.engaged());
  EXPECT_EQ(tool.size(), 1);  // the undone stroke is gone all the same
  EXPECT_EQ(tool.m_buffer->size(), 1);
  EXPECT_FALSE(tool.redo());

  // A tool whose type makes no operation cuts nothing.
  Interactor select(2);
  select.push(makeStroke(1, 0, 3), false);
  select.undo();
  EXPECT_FALSE(select.press(pose.data(), 12, pose.data(), 12));
  EXPECT_EQ(select.size(), 1);
}

TEST_F(InteractorTest, ResetAndDestructionDropTheOperationBeingBuilt) {
  int deleted = 0;
  {
    ScriptedTool tool(1);
    tool.createBuffer(kRibbonFormat, 800000);
    Operatable* target = makeStroke(1, 0, 3);
    tool.push(target, false);
    tool.next.push_back(new HidingOp(target, 1, &deleted));
    const std::vector<float> pose = handFrame(0.0f, 0.0f);
    ASSERT_TRUE(tool.press(pose.data(), 12, pose.data(), 12));
    EXPECT_TRUE(target->isRemoved());
    tool.reset();
    EXPECT_EQ(deleted, 1);
    EXPECT_EQ(tool.m_currentOp, nullptr);
    EXPECT_FALSE(tool.engaged());
    EXPECT_EQ(tool.m_buffer->size(), 0);

    Operatable* kept = makeStroke(1, 0, 3);
    tool.push(kept, false);
    tool.next.push_back(new HidingOp(kept, 1, &deleted));
    ASSERT_TRUE(tool.press(pose.data(), 12, pose.data(), 12));
  }
  EXPECT_EQ(deleted, 2);
}

TEST_F(InteractorTest, FactoryMakesStrokesForThePenBrushAndDeformTools) {
  g_hairTexture = 2;
  for (int tool : {0, 1}) {
    std::unique_ptr<Operatable> op(createOperation(tool));
    ASSERT_NE(op, nullptr) << tool;
    EXPECT_EQ(op->m_operation->texture(), 2);
    EXPECT_EQ(op->m_operation->op_id(), 0);
  }
  g_brushShape = 2;
  g_flags[FLAG_OTHER_TRIGGER] = true;  // spin shape: still a plain stroke
  std::unique_ptr<Operatable> spin(createOperation(1));
  ASSERT_NE(spin, nullptr);
  EXPECT_EQ(spin->m_operation->shape(), 2);

  std::unique_ptr<Operatable> guide(createOperation(7));
  ASSERT_NE(guide, nullptr);
  EXPECT_EQ(guide->m_operation->texture(), 0);
  for (int tool : {-1, 6, 9, 10}) EXPECT_EQ(createOperation(tool), nullptr) << tool;
}

// ---- with a GL context ----

class InteractorGL : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    m_state.set();
  }
  void TearDown() override {
    m_state.restore();
    RenderGLTest::TearDown();
  }
  KnownBrushState m_state;
};

TEST_F(InteractorGL, BrushToolDrawsAStrokeFromHandFrames) {
  loadShaders();
  g_shaderManager->m_forced = 0;
  TestRenderTarget target(64, 64);
  ASSERT_TRUE(target.complete());

  Interactor tool(1);
  tool.createBuffer(StrokeBufferFormat(g_renderRows[1]), 80000000);
  const std::vector<float> other = handFrame(0.0f, 0.0f);
  ASSERT_TRUE(tool.press(handFrame(-0.5f, -0.6f).data(), 12, other.data(), 12));
  for (int i = 1; i <= 90; ++i)
    tool.move(handFrame(-0.5f, -0.6f + 0.013f * i).data(), 12, other.data(), 12);
  ASSERT_TRUE(tool.release(handFrame(-0.5f, 0.6f).data(), 12, other.data(), 12));

  ASSERT_EQ(tool.size(), 1);
  Operatable* op = tool.m_history[0];
  const uint32_t vertices = 2u * static_cast<uint32_t>(op->pointCount());
  EXPECT_NEAR(op->pointCount(), 118, 1);  // 1.17 m at 1 cm spacing
  EXPECT_EQ(tool.m_buffer->m_vertexCounts[0], vertices);
  std::vector<float> expected;
  expected.resize(static_cast<size_t>(op->buildStrandGeometry(expected, 0, ~0u, g_shaderTable[7].flags)));
  std::vector<float> stored(expected.size());
  glBindBuffer(GL_ARRAY_BUFFER, tool.m_buffer->m_vertexArrays[1]);
  glGetBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(stored.size() * 4), stored.data());
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  EXPECT_EQ(stored, expected);

  target.bindAndClear(0, 0, 0, 1);
  tool.draw(Matrix4(), Matrix4());
  EXPECT_GT(target.pixel(16, 32)[0], 200);
  EXPECT_LT(target.pixel(48, 32)[0], 50);
  EXPECT_TRUE(tool.undo());
  target.bindAndClear(0, 0, 0, 1);
  tool.draw(Matrix4(), Matrix4());
  EXPECT_LT(target.pixel(16, 32)[0], 50);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  EXPECT_EQ(drainGLErrors(), static_cast<unsigned>(GL_NO_ERROR));
}

}  // namespace
