#include "strokes/hair_brusher.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "strokes/hair_blender.h"
#include "strokes/operation_test_support.h"
#include "support/synthetic_hairstyle.h"

namespace {

using Ints = std::vector<int>;

// The tool set's hair brush with its buffers, and a head whose mirror is the plane x = 0, shown.
class HairBrusherGL : public MirroredBrushGL {
 protected:
  void SetUp() override {
    MirroredBrushGL::SetUp();
    m_brush = dynamic_cast<hairBrusher*>(&brush());
    ASSERT_NE(m_brush, nullptr);
  }
  std::vector<Vec3f> points(const Operatable* op) const {
    std::vector<Vec3f> out;
    for (int i = 0; i < op->pointCount(); ++i) out.push_back(op->pointAt(static_cast<float>(i)));
    return out;
  }

  hairBrusher* m_brush = nullptr;
  const std::vector<float> m_pose = handFrame(0.5f, 0.0f);
  const float* pose = m_pose.data();
};

}  // namespace

TEST_F(HairBrusherGL, TheMirroredTwinIsPreviewedThenCommittedWithTheStroke) {
  ASSERT_TRUE(m_brush->press(pose, 12, pose, 12));
  ASSERT_TRUE(m_brush->move(handFrame(0.5f, 0.05f).data(), 12, pose, 12));
  EXPECT_EQ(m_brush->m_previewBuffer->size(), 1);  // the twin is drawn during the drag
  EXPECT_EQ(m_brush->m_previewBuffer->m_vertexCounts[0], 12u);
  EXPECT_FALSE(m_brush->undo());
  ASSERT_TRUE(m_brush->release(pose, 12, pose, 12));

  // The stroke, then its twin; the preview is empty again. (Chaining and undo in pairs: the
  // brush trace.)
  ASSERT_EQ(m_brush->size(), 2);
  Operatable* stroke = m_brush->m_history[0];
  Operatable* twin = m_brush->m_history[1];
  EXPECT_EQ((Ints{m_brush->m_previewBuffer->size(), m_brush->m_buffer->size()}), (Ints{0, 2}));
  // Far from any level set and without smoothing the points stay as drawn: the twin's are the
  // stroke's mirrored.
  std::vector<Vec3f> mirrored = points(stroke);
  for (Vec3f& p : mirrored) p[0] = -p[0];
  ASSERT_EQ(points(twin).size(), 6u);
  EXPECT_EQ(points(twin), mirrored);

  // What the tool committed is the stroke's own geometry, drawn with its mirror image.
  std::vector<float> geometry;
  geometry.resize(static_cast<size_t>(stroke->buildStrandGeometry(geometry, 0, ~0u, g_shaderTable[7].flags)));
  EXPECT_EQ(readBack<float>(m_brush->m_buffer->m_vertexArrays[1], 0, geometry.size()), geometry);
  EXPECT_TRUE(redAt(*m_brush, 48) && redAt(*m_brush, 16));  // x = 0.5 and its mirror image
}

TEST_F(HairBrusherGL, OnlyStrokesOfTwoPointsAreKept) {
  // A one-point drag commits nothing, twin included.
  ASSERT_TRUE(m_brush->press(pose, 12, pose, 12));
  EXPECT_FALSE(m_brush->release(pose, 12, pose, 12));
  EXPECT_EQ((Ints{m_brush->size(), m_brush->m_buffer->size(), m_brush->m_previewBuffer->size()}),
            (Ints{0, 0, 0}));
  EXPECT_TRUE(m_brush->m_currentOp == nullptr && m_brush->m_mirrorOp == nullptr);

  // Hidden during the drag, the mirror still takes the twin along: both are kept.
  ASSERT_TRUE(m_brush->press(pose, 12, pose, 12));
  m_mirror->setRenderable(false);
  ASSERT_TRUE(m_brush->move(handFrame(0.5f, 0.05f).data(), 12, pose, 12));
  EXPECT_TRUE(m_brush->release(pose, 12, pose, 12));
  EXPECT_EQ(m_brush->size(), 2);

  // Hidden from the start: no twin, and the preview stays empty.
  ASSERT_TRUE(drag(*m_brush, -0.5f, 0.0f, 4));
  EXPECT_EQ((Ints{m_brush->size(), m_brush->m_previewBuffer->size()}), (Ints{3, 0}));
  EXPECT_FALSE(m_brush->m_history[2]->getFlag7());

  // The head (and its mirror) gone during the drag: the twin keeps its one point and is dropped
  // alone.
  m_mirror->setRenderable(true);
  ASSERT_TRUE(m_brush->press(pose, 12, pose, 12));
  delete m_modeler.m_models[0];
  m_modeler.m_models.clear();
  ASSERT_TRUE(m_brush->move(handFrame(0.5f, 0.05f).data(), 12, pose, 12));
  EXPECT_TRUE(m_brush->release(pose, 12, pose, 12));
  EXPECT_EQ(m_brush->size(), 4);
  EXPECT_EQ(m_brush->m_mirrorOp, nullptr);
}

TEST_F(HairBrusherGL, AResetDuringADragDropsTheStrokeAndItsTwin) {
  ASSERT_TRUE(m_brush->press(pose, 12, pose, 12));
  ASSERT_TRUE(m_brush->move(handFrame(0.5f, 0.05f).data(), 12, pose, 12));
  m_brush->reset();
  EXPECT_EQ((Ints{m_brush->size(), m_brush->m_buffer->size(), m_brush->m_previewBuffer->size(),
                  m_brush->engaged()}),
            (Ints{0, 0, 0, 0}));
  EXPECT_TRUE(m_brush->m_currentOp == nullptr && m_brush->m_mirrorOp == nullptr);
  EXPECT_FALSE(m_brush->release(pose, 12, pose, 12));

  // Deleted during a drag, the tool takes the stroke and the twin with it.
  auto* other = new hairBrusher(1);
  other->createBuffer(StrokeBufferFormat(g_renderRows[1]), 800000);
  ASSERT_TRUE(other->press(pose, 12, pose, 12));
  ASSERT_NE(other->m_mirrorOp, nullptr);
  delete other;
}

TEST_F(HairBrusherGL, StrokesFollowAWholeSceneGrabWhileItLasts) {
  m_mirror->setRenderable(false);
  ASSERT_TRUE(drag(*m_brush, -0.5f, -0.2f, 30));
  Transformer transformer;
  m_modeler.m_transformTool = &transformer;
  transformer.m_transform.at(0, 3) = 1.0f;  // one to the right
  EXPECT_TRUE(redAt(*m_brush, 16) && !redAt(*m_brush, 48));  // not grabbing
  transformer.setSelected(true);
  EXPECT_TRUE(!redAt(*m_brush, 16) && redAt(*m_brush, 48));
  m_modeler.m_transformTool = nullptr;
}

namespace {

// The hair brush with its buffers and a suggestion component holding the synthetic hairstyle
// "h" (60 strands, K = 3, buffered too) as its only prediction; no head.
class HairSuggestionGL : public BrushStateGLTest {
 protected:
  void SetUp() override {
    BrushStateGLTest::SetUp();
    m_brush.createBuffer(StrokeBufferFormat(g_renderRows[1]), 800000);
    m_brush.m_suggestion = new HairBlender;
    m_brush.m_suggestion->m_predictions = {"h"};
    std::unique_ptr<BufferUndoer> model(new BufferUndoer);
    model->createBuffer(StrokeBufferFormat(g_renderRows[1]), 800000);
    m_model = addSyntheticHairstyle(*m_brush.m_suggestion, "h", 60, 3, std::move(model));
    ASSERT_NE(m_model, nullptr);
  }
  Operatable* stroke(int shape) {
    Operatable* op = makeStroke(1, 0, 3);
    op->m_operation->set_shape(shape);
    return op;
  }
  // Pixels of the suggestion colour after drawing it, the view moved down by 1 so that the
  // strands around (0, 1, 0) are in sight.
  int suggestedPixels() {
    struct Suggestion {
      hairBrusher& brush;
      void draw(const Matrix4&, const Matrix4&) {
        Matrix4 down;
        down.at(1, 3) = -1.0f;
        brush.drawSuggestion(down);
      }
    } suggestion{m_brush};
    redAt(suggestion, 0);
    m_target->bindAndClear(0, 0, 0, 1);
    suggestion.draw(Matrix4(), Matrix4());
    const std::vector<uint8_t> rgba = m_target->readPixels();
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    int count = 0;
    for (size_t i = 0; i + 3 < rgba.size(); i += 4) count += rgba[i + 1] > 200 && rgba[i] < 200;
    return count;
  }

  hairBrusher m_brush{1};
  BufferUndoer* m_model = nullptr;
};

}  // namespace

TEST_F(HairSuggestionGL, TheTrailingHintStrokesGoToTheComponentOldestFirst) {
  std::vector<Operatable*> pushed = {stroke(4), stroke(0), stroke(4), stroke(4), stroke(4)};
  for (Operatable* op : pushed) m_brush.push(op, false);
  pushed[3]->setVisible(false);  // a hidden one ends the run too
  testing::internal::CaptureStdout();
  m_brush.refreshSuggestion();
  EXPECT_EQ(m_brush.m_suggestion->m_strokes, (std::vector<Operatable*>{pushed[4]}));
  pushed[3]->setVisible(true);
  m_brush.refreshSuggestion();
  EXPECT_EQ(m_brush.m_suggestion->m_strokes,
            (std::vector<Operatable*>{pushed[2], pushed[3], pushed[4]}));
  m_brush.undo();  // undo refreshes with what is left
  EXPECT_EQ(m_brush.m_suggestion->m_strokes, (std::vector<Operatable*>{pushed[2], pushed[3]}));
  testing::internal::GetCapturedStdout();
}

TEST_F(HairSuggestionGL, AcceptingTakesTheSelectedStrandsInPlaceOfTheHintStrokes) {
  Operatable* plain = stroke(0);
  m_brush.push(plain, false);
  m_brush.push(stroke(4), false);
  m_brush.push(stroke(4), false);
  HairBlender& blender = *m_brush.m_suggestion;
  blender.m_hairstyleName = "h";
  m_model->m_history[2]->setSelected(true);
  m_model->m_history[59]->setSelected(true);  // the cursor entry counts too
  g_currentColor.set_blue(0.25f);
  const std::vector<float> hand = handFrame(0.0f, 0.0f);
  ASSERT_TRUE(m_brush.press(hand.data(), 12, hand.data(), 12));
  m_brush.acceptSuggestion(false);  // not during a drag
  EXPECT_EQ((Ints{m_brush.size(), blender.currentModel() != nullptr}), (Ints{3, 1}));
  m_brush.release(hand.data(), 12, hand.data(), 12);  // one point: nothing kept

  m_brush.acceptSuggestion(false);
  ASSERT_EQ(m_brush.size(), 3);
  EXPECT_EQ(m_brush.m_history[0], plain);
  std::vector<Ints> accepted;
  for (int i = 1; i < 3; ++i) {
    const Operatable* op = m_brush.m_history[i];
    accepted.push_back({op->getFlag7(), op->isSelected(), (op->m_flags >> 15) & 1,
                        op->m_operation->color().blue() == 0.25f, op->pointCount()});
  }
  EXPECT_EQ(accepted, (std::vector<Ints>{{0, 0, 0, 1, 20}, {1, 0, 0, 1, 20}}));
  EXPECT_FALSE(m_model->m_history[2]->isSelected() || m_model->m_history[59]->isSelected());
  EXPECT_EQ(blender.currentModel(), nullptr);
  EXPECT_TRUE(m_brush.undo());
  EXPECT_EQ(m_brush.m_cursor, 0);  // the accepted strands are one group
}

TEST_F(HairSuggestionGL, AHintStrokeCallsUpStrandsThatAreDrawnAndAcceptedAsOneGroup) {
  g_brushShape = 4;
  const std::string printed = printedBy([&] { EXPECT_TRUE(drag(m_brush, 0.0f, 1.1f, 19)); });
  HairBlender& blender = *m_brush.m_suggestion;
  ASSERT_EQ(blender.m_hairstyleName, "h") << printed;
  EXPECT_EQ(blender.m_matches.size(), 1u);
  EXPECT_GT(suggestedPixels(), 20);
  g_brushShape = 0;
  EXPECT_EQ(suggestedPixels(), 0);

  m_brush.acceptSuggestion(true);
  EXPECT_EQ((Ints{m_brush.size(), m_brush.m_cursor, m_brush.m_buffer->size()}), (Ints{60, 59, 60}));
  EXPECT_EQ(blender.currentModel(), nullptr);
  EXPECT_TRUE(m_brush.undo());
  EXPECT_EQ(m_brush.m_cursor, -1);
}
