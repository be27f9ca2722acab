#include "strokes/operator.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "core/events.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "strokes/stroke_test_support.h"
#include "strokes/transformer.h"

namespace {

using Ints = std::vector<int>;

// A tool controller whose tools have no buffers, the brush mode with a hair texture current.
class OperatorTest : public BrushStateTest {
 protected:
  void SetUp() override {
    BrushStateTest::SetUp();
    clearEvents();
    m_operator.createTools(false);
    setTransformer(dynamic_cast<Transformer*>(m_operator.getTool(6)));
  }
  void TearDown() override {
    m_operator.reset();  // its destructor would save the work once the test's state is gone
    setTransformer(nullptr);
    clearEvents();
    BrushStateTest::TearDown();
  }
  // Press, `moves` moves 1.3 cm apart up +y, release, at x through the controller.
  bool stroke(float x, int moves) {
    const std::vector<float> other = handFrame(0.0f, 0.0f);
    m_operator.press(handFrame(x, 0.0f).data(), other.data());
    for (int i = 1; i <= moves; ++i) m_operator.move(handFrame(x, 0.013f * i).data(), other.data());
    return m_operator.release(other.data(), other.data());
  }
  Interactor* tool(int id) { return m_operator.getTool(id); }

  Operator m_operator;
  const std::vector<float> m_pose = handFrame(0.0f, 0.0f);
  const float* pose = m_pose.data();
};

std::vector<std::string> drainEvents() {
  std::vector<std::string> out;
  while (EventRecord* e = popEvent()) {
    out.push_back(std::to_string(e->m_type) + " " + std::to_string(e->m_id));
    delete e;
  }
  return out;
}

}  // namespace

TEST_F(OperatorTest, OnlyThePenTheBrushAndTheDeformGuideDraw) {
  Operator withBuffers;
  withBuffers.createTools();
  std::vector<Ints> buffers;  // tool, shader, drawn
  for (int id = 0; id < 10; ++id) {
    const Interactor* t = withBuffers.getTool(id);
    ASSERT_NE(t, nullptr) << id;
    if (t->m_buffer) buffers.push_back({id, static_cast<int>(t->m_buffer->m_shaderIndex), t->isRenderable()});
  }
  EXPECT_EQ(buffers, (std::vector<Ints>{{0, 0, 1}, {1, 7, 1}, {7, 0, 1}}));
  EXPECT_EQ(withBuffers.getTool(10), nullptr);
  EXPECT_FALSE(tool(1)->isRenderable());  // without buffers nothing draws
}

TEST_F(OperatorTest, ADragStaysWithTheToolItsPressWentTo) {
  ASSERT_TRUE(m_operator.press(pose, pose));
  EXPECT_EQ(m_operator.m_currentTool, 1);
  Operatable* op = tool(1)->m_currentOp;
  EXPECT_FALSE(m_operator.press(handFrame(0.5f, 0.0f).data(), pose));  // reaches no tool
  EXPECT_EQ(tool(1)->m_currentOp, op);
  EXPECT_EQ(op->pointCount(), 1);
  EXPECT_FALSE(m_operator.undo());  // refused during the drag

  g_modeState[2] = 1;  // the select mode: the drag goes on with the brush
  EXPECT_TRUE(m_operator.move(handFrame(0.0f, 0.05f).data(), pose));
  EXPECT_TRUE(m_operator.release(pose, pose));
  EXPECT_EQ((Ints{tool(1)->size(), tool(2)->size(), m_operator.engaged()}), (Ints{1, 0, 0}));
  EXPECT_FALSE(m_operator.release(pose, pose));
  EXPECT_FALSE(m_operator.move(pose, pose));

  // A mode without a tool: the press reaches nothing, the release ends the engaged state.
  g_modeState[2] = 9;
  EXPECT_FALSE(m_operator.press(pose, pose));
  EXPECT_TRUE(m_operator.engaged());
  EXPECT_FALSE(m_operator.release(pose, pose));
  EXPECT_FALSE(m_operator.engaged());
}

TEST_F(OperatorTest, UndoAndRedoGoToTheToolOfTheMode) {
  ASSERT_TRUE(stroke(0.0f, 4));
  ASSERT_TRUE(stroke(0.3f, 4));
  g_modeState[2] = 9;  // no tool: nothing to do, and nothing refused
  EXPECT_TRUE(m_operator.undo());
  EXPECT_TRUE(m_operator.redo());
  EXPECT_EQ(tool(1)->m_cursor, 1);
  g_modeState[2] = 3;  // the transform tool: true, nothing changes
  EXPECT_TRUE(m_operator.undo());
  g_modeState[2] = 0;
  EXPECT_TRUE(m_operator.undo());
  EXPECT_TRUE(m_operator.undo());
  EXPECT_FALSE(m_operator.undo());
  EXPECT_TRUE(m_operator.redo());
  EXPECT_EQ(tool(1)->m_cursor, 0);
}

TEST_F(OperatorTest, ResetLeavesTheHeadsPlacementAsTheOnlyLevel) {
  ASSERT_TRUE(stroke(0.0f, 4));
  Transformer* transformer = g_transformer;
  transformer->pushTransform(Matrix4());
  transformer->pushTransform(Matrix4());
  m_operator.press(pose, pose);

  // Without a head: no level at all.
  m_operator.reset();
  EXPECT_EQ((Ints{tool(1)->size(), static_cast<int>(transformer->m_levelInverse.size()),
                  m_operator.engaged(), tool(1)->engaged(), m_operator.m_currentTool}),
            (Ints{0, 0, 0, 0, -1}));

  std::unique_ptr<Modeler> modeler(new Modeler());
  g_modeler = modeler.get();
  HeadModel* head = new HeadModel("head");
  head->m_modelMatrix.at(1, 3) = 1.0f;
  head->m_modelMatrix.at(0, 0) = 0.5f;
  modeler->m_models[0] = head;
  m_operator.reset();
  ASSERT_EQ(transformer->m_levelForward.size(), 1u);
  EXPECT_EQ(std::vector<float>(transformer->m_levelForward[0].m, transformer->m_levelForward[0].m + 16),
            std::vector<float>(head->m_modelMatrix.m, head->m_modelMatrix.m + 16));
  g_modeler = nullptr;
}

TEST_F(OperatorTest, KeysStepFilesAndHairIdsAndPostSaveAndKeyEvents) {
  m_operator.m_files = {"a.txt", "b.txt", "c.txt"};
  // key, file index, other hand's trigger -> the file loaded (-1 none).
  const struct {
    char key;
    int index;
    bool trigger;
    int loads;
  } cases[] = {{'.', -1, false, 0}, {'.', 1, false, 2}, {'.', 2, false, -1}, {',', 0, false, -1},
               {',', 1, false, 0},  {',', 3, false, 2}, {',', 4, false, -1}, {'<', 2, true, 1},
               {'>', 0, true, 1},   {'<', 2, false, -1}, {'u', 0, false, -1}};
  for (const auto& c : cases) {
    m_operator.m_fileIndex = c.index;
    g_flags[FLAG_OTHER_TRIGGER] = c.trigger;
    EXPECT_EQ(m_operator.fileIndexForKey(c.key), c.loads) << c.key << " at " << c.index;
  }

  // Without the other trigger '<' and '>' step the hair id; with it they leave it alone.
  g_flags[FLAG_OTHER_TRIGGER] = false;
  g_modeState[3] = 0;
  testing::internal::CaptureStdout();
  m_operator.onKey('<');
  m_operator.onKey('<');
  m_operator.onKey('>');
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "hairId: -1\nhairId: -2\nhairId: -1\n");
  g_flags[FLAG_OTHER_TRIGGER] = true;
  m_operator.onKey('>');
  EXPECT_EQ(g_modeState[3], -1);

  for (char key : {'S', 'b', 'B', 's', '+', 'v', 'x'}) m_operator.onKey(key);
  EXPECT_EQ(drainEvents(), (std::vector<std::string>{"6 -1", "12 98", "12 66", "6 -1"}));

  // 'U' and 'R' undo and redo in the current mode.
  g_flags[FLAG_OTHER_TRIGGER] = false;
  ASSERT_TRUE(stroke(0.0f, 4));
  m_operator.onKey('U');
  EXPECT_EQ(tool(1)->m_cursor, -1);
  m_operator.onKey('r');
  EXPECT_EQ(tool(1)->m_cursor, 0);
}
