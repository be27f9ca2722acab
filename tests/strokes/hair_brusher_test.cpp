#include "strokes/hair_brusher.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "render/head_model.h"
#include "render/modeler.h"
#include "strokes/stroke_geometry.h"
#include "strokes/stroke_test_support.h"
#include "strokes/transformer.h"

namespace {

using Ints = std::vector<int>;

// The hair brush with GL buffers, and a head (no mesh, no level set) whose mirror is the plane
// x = 0, shown.
class HairBrusherGL : public BrushStateGLTest {
 protected:
  void SetUp() override {
    BrushStateGLTest::SetUp();
    m_brush.createBuffer(StrokeBufferFormat(g_renderRows[1]), 800000);
    m_modeler.reset(new Modeler());
    g_modeler = m_modeler.get();
    HeadModel* head = new HeadModel("head");
    head->m_mirror = new Mirrow("mirror");
    head->m_mirror->m_localNormal = Vec3f(1.0f, 0.0f, 0.0f);
    head->m_mirror->updateTransform();
    head->m_mirror->setRenderable(true);
    m_modeler->m_models[0] = head;
    m_mirror = head->m_mirror;
  }
  void TearDown() override {
    g_modeler = nullptr;
    BrushStateGLTest::TearDown();
  }
  std::vector<Vec3f> points(const Operatable* op) const {
    std::vector<Vec3f> out;
    for (int i = 0; i < op->pointCount(); ++i) out.push_back(op->pointAt(static_cast<float>(i)));
    return out;
  }

  hairBrusher m_brush{1};
  std::unique_ptr<Modeler> m_modeler;
  Mirrow* m_mirror = nullptr;
  const std::vector<float> m_pose = handFrame(0.5f, 0.0f);
  const float* pose = m_pose.data();
};

}  // namespace

TEST_F(HairBrusherGL, TheMirroredTwinCommitsWithTheStrokeAndUndoesWithIt) {
  ASSERT_TRUE(m_brush.press(pose, 12, pose, 12));
  ASSERT_TRUE(m_brush.move(handFrame(0.5f, 0.05f).data(), 12, pose, 12));
  EXPECT_EQ(m_brush.m_previewBuffer->size(), 1);  // the twin is drawn during the drag
  EXPECT_EQ(m_brush.m_previewBuffer->m_vertexCounts[0], 12u);
  EXPECT_FALSE(m_brush.undo());
  ASSERT_TRUE(m_brush.release(pose, 12, pose, 12));

  // The stroke, then its twin chained to it; the preview is empty again.
  ASSERT_EQ(m_brush.size(), 2);
  Operatable* stroke = m_brush.m_history[0];
  Operatable* twin = m_brush.m_history[1];
  EXPECT_EQ(twin, m_brush.m_mirrorOp);
  EXPECT_EQ((Ints{stroke->getFlag7(), twin->getFlag7(), m_brush.m_previewBuffer->size(),
                  m_brush.m_buffer->size()}),
            (Ints{0, 1, 0, 2}));
  // Far from any level set and without smoothing the points stay as drawn: the twin's are the
  // stroke's mirrored.
  std::vector<Vec3f> mirrored = points(stroke);
  for (Vec3f& p : mirrored) p[0] = -p[0];
  ASSERT_EQ(points(twin).size(), 6u);
  EXPECT_EQ(points(twin), mirrored);

  EXPECT_TRUE(m_brush.undo());
  EXPECT_EQ((Ints{m_brush.m_cursor, stroke->isRenderable(), twin->isRenderable()}), (Ints{-1, 0, 0}));
  EXPECT_TRUE(m_brush.redo());
  EXPECT_EQ((Ints{m_brush.m_cursor, stroke->isRenderable(), twin->isRenderable()}), (Ints{1, 1, 1}));
  EXPECT_TRUE(redAt(m_brush, 48) && redAt(m_brush, 16));  // x = 0.5 and its mirror image
}

TEST_F(HairBrusherGL, OnlyStrokesOfTwoPointsAreKept) {
  // A one-point drag commits nothing, twin included.
  ASSERT_TRUE(m_brush.press(pose, 12, pose, 12));
  EXPECT_FALSE(m_brush.release(pose, 12, pose, 12));
  EXPECT_EQ((Ints{m_brush.size(), m_brush.m_buffer->size(), m_brush.m_previewBuffer->size()}),
            (Ints{0, 0, 0}));
  EXPECT_TRUE(m_brush.m_currentOp == nullptr && m_brush.m_mirrorOp == nullptr);

  // The mirror hidden during the drag: the twin keeps its one point and is dropped alone.
  ASSERT_TRUE(m_brush.press(pose, 12, pose, 12));
  m_mirror->setRenderable(false);
  m_brush.move(handFrame(0.5f, 0.05f).data(), 12, pose, 12);
  EXPECT_TRUE(m_brush.release(pose, 12, pose, 12));
  EXPECT_EQ(m_brush.size(), 1);
  EXPECT_EQ(m_brush.m_mirrorOp, nullptr);

  // With the mirror hidden from the start there is no twin and the preview stays empty.
  ASSERT_TRUE(drag(m_brush, -0.5f, 0.0f, 4));
  EXPECT_EQ((Ints{m_brush.size(), m_brush.m_previewBuffer->size()}), (Ints{2, 0}));
  EXPECT_FALSE(m_brush.m_history[1]->getFlag7());
}

TEST_F(HairBrusherGL, AResetDuringADragDropsTheStrokeAndItsTwin) {
  ASSERT_TRUE(m_brush.press(pose, 12, pose, 12));
  ASSERT_TRUE(m_brush.move(handFrame(0.5f, 0.05f).data(), 12, pose, 12));
  m_brush.reset();
  EXPECT_EQ((Ints{m_brush.size(), m_brush.m_buffer->size(), m_brush.m_previewBuffer->size(),
                  m_brush.engaged()}),
            (Ints{0, 0, 0, 0}));
  EXPECT_TRUE(m_brush.m_currentOp == nullptr && m_brush.m_mirrorOp == nullptr);
  EXPECT_FALSE(redAt(m_brush, 16));
  EXPECT_FALSE(m_brush.release(pose, 12, pose, 12));
}

TEST_F(HairBrusherGL, StrokesFollowAWholeSceneGrabWhileItLasts) {
  m_mirror->setRenderable(false);
  ASSERT_TRUE(drag(m_brush, -0.5f, -0.2f, 30));
  Transformer transformer;
  m_modeler->m_transformTool = &transformer;
  transformer.m_grab.at(0, 3) = 1.0f;  // one to the right
  EXPECT_TRUE(redAt(m_brush, 16) && !redAt(m_brush, 48));  // not grabbing
  transformer.setSelected(true);
  EXPECT_TRUE(!redAt(m_brush, 16) && redAt(m_brush, 48));
  m_modeler->m_transformTool = nullptr;
}
