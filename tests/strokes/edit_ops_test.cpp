#include "strokes/edit_ops.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "render/grider.h"
#include "strokes/hair_blender.h"
#include "strokes/hair_brusher.h"
#include "strokes/operation_factory.h"
#include "strokes/operation_test_support.h"
#include "strokes/painting_files.h"
#include "support/synthetic_hairstyle.h"

namespace {

using Ints = std::vector<int>;
using EditTest = OperationsTest;

std::string stored(const Operatable* stroke) {
  quillax::Operation out;
  stroke->toProto(&out);
  return out.DebugString();
}

quillax::Color colour(float r, float g, float b) {
  quillax::Color c;
  c.set_red(r);
  c.set_green(g);
  c.set_blue(b);
  c.set_alpha(1.0f);
  c.set_lightness(1.0f);
  return c;
}

Vec3f rgb(const quillax::Color& c) { return Vec3f(c.red(), c.green(), c.blue()); }

// The points as stored (in the frame before every level).
std::vector<Vec3f> storedPoints(const Operatable* stroke) {
  quillax::Operation out;
  stroke->toProto(&out);
  std::vector<Vec3f> points;
  for (const auto& p : out.points()) points.push_back(toVec3(p));
  return points;
}

Matrix4 turnAboutZ(float radians) {
  Matrix4 m;
  m.at(0, 0) = m.at(1, 1) = std::cos(radians);
  m.at(1, 0) = std::sin(radians);
  m.at(0, 1) = -std::sin(radians);
  return m;
}

}  // namespace

TEST_F(EditTest, FactoryBranchesByToolModeShapeAndTheOtherTrigger) {
  // The op_id of what a press of each tool records; -1 for nothing.
  auto made = [](int id) {
    std::unique_ptr<Operatable> op(createOperation(id));
    return op ? op->m_operation->op_id() : -1;
  };
  auto all = [&] {
    Ints out;
    for (int id = -1; id <= 10; ++id) out.push_back(made(id));
    return out;
  };
  g_modeState[2] = 1;
  EXPECT_EQ(all(), (Ints{-1, 0, 0, 2, 4, 5, 6, -1, 0, 9, -1, -1}));
  g_flags[FLAG_OTHER_TRIGGER] = true;
  EXPECT_EQ(all(), (Ints{-1, 7, 7, 3, 4, 5, 6, -1, 0, 9, -1, -1}));
  // The spin shape with the other trigger held still draws a plain stroke; the select tool
  // records nothing in the hint mode.
  g_brushShape = 2;
  g_modeState[2] = 0;
  EXPECT_EQ(all(), (Ints{-1, 0, 0, -1, 4, 5, 6, -1, 0, 9, -1, -1}));
  // The pen and the brush draw in the hair texture; the deform guide is a pen line.
  g_hairTexture = 2;
  Ints textures;
  for (int id : {0, 1, 7})
    textures.push_back(std::unique_ptr<Operatable>(createOperation(id))->m_operation->texture());
  EXPECT_EQ(textures, (Ints{2, 2, 0}));
}

TEST_F(EditTest, TheHintModeSelectsAmongTheShownSuggestion) {
  hairBrusher* brush = dynamic_cast<hairBrusher*>(tool(1));
  ASSERT_NE(brush, nullptr);
  g_hairBrusher = brush;
  g_modeState[2] = 0;
  EXPECT_EQ(createOperation(2), nullptr);  // no component
  brush->m_suggestion = new HairBlender;
  BufferUndoer* model = addSyntheticHairstyle(*brush->m_suggestion, "h", 6, 1);
  ASSERT_NE(model, nullptr);
  EXPECT_EQ(createOperation(2), nullptr);  // nothing shown
  brush->m_suggestion->m_hairstyleName = "h";
  std::unique_ptr<Operatable> op(createOperation(2));
  auto* select = dynamic_cast<SelectOp*>(op.get());
  ASSERT_NE(select, nullptr);
  EXPECT_EQ(select->m_source, model);
  EXPECT_EQ(select->m_operation->op_id(), 2);
  g_hairBrusher = nullptr;
}

TEST_F(EditTest, DeletionHidesAsRemovedAndUndoRestoresTheStrokeUnchanged) {
  Operatable* a = addStroke(0.0f);
  Operatable* b = addStroke(0.05f);
  const std::string before = stored(a);
  ASSERT_TRUE(sweep(3, 0.01f));
  EXPECT_TRUE(a->isRemoved());
  EXPECT_FALSE(sweep(2, 0.01f));  // a deleted stroke is no candidate
  EXPECT_FALSE(sweep(4, 0.01f));
  EXPECT_TRUE(tool(3)->undo());
  EXPECT_EQ(stored(a), before);

  // In the brush history a removed stroke is chained to the one before it.
  ASSERT_TRUE(sweep(3, 0.05f));
  EXPECT_TRUE(b->isRemoved());
  EXPECT_TRUE(tool(1)->undo());
  EXPECT_EQ(tool(1)->m_cursor, -1);
}

TEST_F(EditTest, RecoloursStackAndUndoToTheColourBefore) {
  Operatable* a = addStroke(0.0f);
  const Vec3f red = rgb(a->currentColor());
  setCurrentColor(colour(0.0f, 1.0f, 0.0f));
  ASSERT_TRUE(sweep(4, 0.01f));
  setCurrentColor(colour(0.0f, 0.0f, 1.0f));
  ASSERT_TRUE(sweep(4, 0.01f));
  EXPECT_EQ(rgb(a->currentColor()), Vec3f(0.0f, 0.0f, 1.0f));
  EXPECT_TRUE(tool(4)->undo());
  EXPECT_EQ(rgb(a->currentColor()), Vec3f(0.0f, 1.0f, 0.0f));
  // Within 0.01 of the newest recolour in every channel: left out (the undone one is cut first).
  setCurrentColor(colour(0.005f, 0.995f, 0.0f));
  EXPECT_FALSE(sweep(4, 0.01f));
  EXPECT_TRUE(tool(4)->undo());
  EXPECT_EQ(rgb(a->currentColor()), red);

  // A model whose box the hand passes through takes the colour for good.
  Modeler modeler;
  g_modeler = &modeler;
  auto* model = new ModelElement("model");
  auto* box = new BoundingBox("box");
  box->widen(Vec3f(-0.1f, -0.1f, -0.1f));
  box->widen(Vec3f(0.1f, 0.2f, 0.1f));
  box->updateTransform();
  model->setAttached(box);
  modeler.m_models[1] = model;
  setCurrentColor(colour(0.0f, 0.5f, 1.0f));
  g_currentColor.set_alpha(0.5f);
  g_currentColor.set_lightness(0.8f);
  ASSERT_TRUE(sweep(4, 0.01f));
  EXPECT_TRUE(tool(4)->undo());
  EXPECT_EQ(model->m_color, Vec4f(0.0f, 0.25f, 0.5f, 0.8f));
  g_modeler = nullptr;

  // One operation passing twice over a stroke takes it once.
  setCurrentColor(colour(1.0f, 1.0f, 0.0f));
  RecolorOp op(tool(1));
  const float hand[3] = {0.0f, 0.0f, 0.0f};
  EXPECT_EQ(op.select(hand, 0.02f) + op.select(hand, 0.02f), 1);
  op.detach();
}

// A colour pick sets the brush colour and its undo restores it; a stroke leaving its history
// leaves the colours of the others alone.
TEST_F(EditTest, ColourPicksAndRecoloursOutliveAStrokeLeavingItsHistory) {
  Operatable* a = addStroke(0.0f);
  Operatable* b = addStroke(0.01f);
  *b->m_operation->mutable_color() = colour(0.0f, 1.0f, 0.0f);
  const Vec3f brush = rgb(g_currentColor);
  ASSERT_TRUE(sweep(5, 0.01f));  // the brush colour picked from b
  EXPECT_EQ(rgb(g_currentColor), Vec3f(0.0f, 1.0f, 0.0f));
  EXPECT_TRUE(tool(5)->undo());
  EXPECT_EQ(rgb(g_currentColor), brush);
  EXPECT_TRUE(tool(5)->redo());
  setCurrentColor(colour(0.0f, 0.0f, 1.0f));
  ASSERT_TRUE(sweep(4, 0.005f));  // both recoloured blue by one operation
  ASSERT_EQ(a->m_recolorRefs.size() + b->m_recolorRefs.size(), 2u);
  setCurrentColor(colour(1.0f, 1.0f, 0.0f));
  // b undone, then cut away by the next stroke: deleted.
  EXPECT_TRUE(tool(1)->undo());
  addStroke(0.5f);
  EXPECT_EQ(rgb(a->currentColor()), Vec3f(0.0f, 0.0f, 1.0f));
  EXPECT_EQ(rgb(g_currentColor), Vec3f(1.0f, 1.0f, 0.0f));
  // The colour pick no longer holds the deleted stroke: its undo and redo read nothing of it.
  EXPECT_TRUE(tool(5)->undo() && tool(5)->redo());
  EXPECT_TRUE(dynamic_cast<SetColorOp*>(tool(5)->m_history[0])->m_selected.empty());
}

TEST_F(EditTest, AConnectionContinuesOnlyFromTheTipHalfOfAStrokeOfItsShader) {
  g_flags[FLAG_OTHER_TRIGGER] = true;
  Operatable* target = addStroke(0.0f, 60);
  Interactor& brush = *tool(1);

  // Nearest to the root half: nothing starts, the target stays as it was, unreferenced.
  const std::string before = stored(target);
  EXPECT_FALSE(drag(brush, 0.01f, 0.1f, 1));
  EXPECT_EQ((Ints{brush.size(), static_cast<int>(target->m_selectRefs.size())}), (Ints{1, 0}));
  EXPECT_EQ(stored(target), before);
  // A pen does not connect to hair.
  g_hairTexture = 0;
  EXPECT_FALSE(drag(*tool(0), 0.01f, 0.45f, 1));
  g_hairTexture = 1;

  // At the tip half: cut at the nearest point (45), bent over 24 points to meet the hand.
  std::vector<Vec3f> original;
  for (int i = 0; i < 60; ++i) original.push_back(target->pointAt(static_cast<float>(i)));
  ASSERT_TRUE(drag(brush, 0.01f, 0.45f, 1));
  ASSERT_EQ(brush.size(), 2);
  const auto* op = dynamic_cast<ConnectOp*>(brush.m_history[1]);
  ASSERT_NE(op, nullptr);
  EXPECT_TRUE(target->isRemoved());
  EXPECT_EQ(op->m_operation->op_id(), OP_CONNECT);
  EXPECT_EQ(op->pointAt(44.0f), Vec3f(0.01f, 0.45f, 0.0f));
  EXPECT_NE(op->pointAt(21.0f), original[21]);
  EXPECT_EQ(op->pointAt(20.0f), original[20]);
  EXPECT_GT(op->pointCount(), 45);  // drawing went on from the hand
  EXPECT_TRUE(brush.undo());
  EXPECT_FALSE(target->isRemoved());
}

TEST_F(EditTest, AConnectionCutAtHalfOfAShortStrokeBendsBackOnlyToItsRoot) {
  Operatable* target = addStroke(0.0f, 30);
  ConnectOp op(tool(1));
  const std::vector<float> hand = handFrame(0.01f, 0.15f);
  ASSERT_EQ(op.begin(hand.data(), 12, nullptr, 0), 1);
  const quillax::Operation& m = *op.m_operation;
  EXPECT_EQ((Ints{m.points_size(), m.pitches_size(), m.normals_size()}), (Ints{15, 15, 15}));
  EXPECT_EQ(op.pointAt(14.0f), Vec3f(0.01f, 0.15f, 0.0f));
  EXPECT_NEAR(op.pointAt(0.0f)[0], 0.01f * std::exp(-1.4f), 1e-6f);
  EXPECT_TRUE(target->isRemoved());
  op.detach();
  EXPECT_FALSE(target->isRemoved());
}

// A red stroke recoloured blue, continued while the brush is green: the continuation is blue as
// shown, in its own message and in the painting, where it stands in for the removed target.
TEST_F(EditTest, AContinuedRecolouredStrokeKeepsTheColourItWasShownIn) {
  addStroke(0.0f, 60);
  const Vec3f blue(0.0f, 0.0f, 1.0f);
  setCurrentColor(colour(0.0f, 0.0f, 1.0f));
  ASSERT_TRUE(sweep(4, 0.01f));
  setCurrentColor(colour(0.0f, 1.0f, 0.0f));
  g_flags[FLAG_OTHER_TRIGGER] = true;
  Interactor& brush = *tool(1);
  ASSERT_TRUE(drag(brush, 0.01f, 0.45f, 1));
  const Operatable* continued = brush.m_history.back();
  ASSERT_EQ(continued->m_operation->op_id(), OP_CONNECT);
  quillax::Painting painting;
  storeOperations(brush, &painting);
  ASSERT_EQ(painting.operations_size(), 1);
  EXPECT_EQ(
      (std::vector<Vec3f>{rgb(continued->currentColor()), rgb(continued->m_operation->color()),
                          rgb(painting.operations(0).color())}),
      std::vector<Vec3f>(3, blue));
}

TEST_F(EditTest, AMoveShowsTheStrokesUnderItsTransformAndAppliesItInTheStoredFrame) {
  Operatable* a = addStroke(0.0f);
  EXPECT_FALSE(sweep(8, 0.0f));  // nothing selected: not kept

  // The scene shown at twice its stored size: a hand move of 0.1 is 0.05 in the stored frame.
  const Matrix4 placement = scaleAndLift(2.0f, 0.0f);
  g_transformer->pushTransform(placement);
  a->setSelected(true);
  const std::vector<float> control = a->m_control;
  const float width = a->m_operation->width();
  const std::vector<float> other = handFrame(0.0f, 0.0f);
  Interactor& move = *tool(8);
  ASSERT_TRUE(move.press(handFrame(0.0f, 0.0f).data(), 12, other.data(), 12));
  ASSERT_TRUE(move.move(handFrame(0.0f, 0.1f).data(), 12, other.data(), 12));
  const Matrix4* shown = heldTransform(a);
  ASSERT_NE(shown, nullptr);
  EXPECT_FLOAT_EQ(shown->at(1, 3), 0.1f);
  ASSERT_TRUE(move.release(other.data(), 12, other.data(), 12));

  EXPECT_EQ(heldTransform(a), nullptr);
  ASSERT_EQ(a->m_control.size(), control.size());
  for (size_t k = 0; k < control.size(); ++k)
    EXPECT_NEAR(a->m_control[k], control[k] + (k % 3 == 1 ? 0.05f : 0.0f), 1e-6f) << k;
  EXPECT_NEAR(a->pointAt(0.0f)[1], 0.05f, 1e-5f);
  // Searches skip the stroke by the box around its samples where they are now.
  EXPECT_EQ((Ints{a->samplesMayReach(Vec3f(0.0f, 0.0f, 0.0f), 0.01f),
                  a->samplesMayReach(Vec3f(0.0f, 0.14f, 0.0f), 0.0f)}),
            (Ints{0, 1}));
  EXPECT_EQ(a->m_operation->width(), width);
  // The move is in the stroke: undo and redo of it change nothing.
  const std::string after = stored(a);
  EXPECT_TRUE(move.undo());
  EXPECT_TRUE(move.redo());
  EXPECT_EQ(stored(a), after);
}

// A stroke loaded before the head's placement (level 0) continued under it, then both strokes
// turned by moves of unit scale: they stay rigid and keep their widths.
TEST_F(EditTest, AContinuedStrokeKeepsItsWidthAndTakesControlPointsOfItsOwn) {
  g_flags[FLAG_OTHER_TRIGGER] = true;
  Operatable* plain = addStroke(0.3f, 60);
  addStroke(0.0f, 60);
  const Matrix4 placement = scaleAndLift(2.0f, 0.0f);
  g_transformer->pushTransform(placement);
  Interactor& brush = *tool(1);
  ASSERT_TRUE(drag(brush, 0.0f, 0.9f, 1));
  ASSERT_EQ(brush.size(), 3);
  Operatable* continued = brush.m_history[2];
  quillax::Operation out;
  continued->toProto(&out);
  EXPECT_EQ((std::vector<float>{continued->m_operation->width(), out.width()}),
            (std::vector<float>{0.4f, 0.2f}));
  // Control points along the continued stroke, which ends 45.6 cm up, not at the cut-off tip.
  const std::vector<float>& control = continued->m_control;
  ASSERT_EQ(control.size(), 60u);
  const Vec3f tip = storedPoints(continued).back();
  EXPECT_LT(length(Vec3f(control[57], control[58], control[59]) - tip), 2e-3f);
  EXPECT_NEAR(tip[1], 0.4565f, 2e-3f);
  EXPECT_EQ(std::vector<float>(out.midaxis().v().begin(), out.midaxis().v().end()), control);

  // Ten turns of 36 degrees: every stored point goes round with the move.
  plain->setSelected(true);
  continued->setSelected(true);
  const std::vector<Vec3f> plainStart = storedPoints(plain), continuedStart = storedPoints(continued);
  for (int k = 1; k <= 10; ++k) {
    moveSelected(brush, turnAboutZ(0.2f * 3.14159265f));
    const Matrix4 turned = turnAboutZ(0.2f * 3.14159265f * k);
    for (const auto& [stroke, start] : {std::pair{plain, plainStart}, std::pair{continued, continuedStart}}) {
      const std::vector<Vec3f> now = storedPoints(stroke);
      ASSERT_EQ(now.size(), start.size());
      float worst = 0.0f;
      for (size_t i = 0; i < now.size(); ++i)
        worst = std::max(worst, static_cast<float>(length(now[i] - transformPoint(turned, start[i]))));
      EXPECT_LT(worst, 0.01f) << "turn " << k << (stroke == plain ? " plain" : " continued");
    }
  }
  EXPECT_EQ((std::vector<float>{plain->m_operation->width(), continued->m_operation->width()}),
            (std::vector<float>{0.2f, 0.4f}));
  // A move that scales does scale the width.
  plain->setSelected(true);
  continued->setSelected(false);
  moveSelected(brush, placement);
  EXPECT_FLOAT_EQ(plain->m_operation->width(), 0.4f);
}

TEST_F(EditTest, AStrokeDeletedDuringAMoveLeavesTheMove) {
  addStroke(0.0f)->setSelected(true);
  const std::vector<float> hand = handFrame(0.0f, 0.0f);
  ASSERT_TRUE(tool(8)->press(hand.data(), 12, hand.data(), 12));
  auto* op = dynamic_cast<TransOp*>(tool(8)->m_currentOp);
  ASSERT_NE(op, nullptr);
  ASSERT_EQ(op->m_selected.size(), 1u);
  tool(1)->reset();
  EXPECT_TRUE(op->m_selected.empty());
  tool(8)->reset();
}

TEST_F(MirroredBrushGL, AMirroredConnectionThatDoesNotStartIsDropped) {
  g_flags[FLAG_OTHER_TRIGGER] = true;
  Operatable* right = addStroke(0.5f, 0.0f, 0.01f);
  // Mirrored to x = -0.5 the hand meets this stroke's root half.
  Operatable* left = addStroke(-0.5f, 0.59f, -0.01f);
  ASSERT_TRUE(drag(brush(), 0.5f, 0.45f, 1));
  EXPECT_EQ(brush().size(), 3);  // the two strokes and the connection, no twin
  EXPECT_EQ(
      (Ints{right->isRemoved(), left->isRemoved(), static_cast<int>(left->m_selectRefs.size())}),
      (Ints{1, 0, 0}));
  EXPECT_EQ(dynamic_cast<hairBrusher&>(brush()).m_mirrorOp, nullptr);
}

TEST_F(MirroredBrushGL, AStrokeHeldByAMoveIsDrawnUnderItsTransform) {
  Operatable* stroke = addStroke(-0.5f, -0.3f, 0.01f);
  stroke->setSelected(true);
  TransOp move(&brush());
  const std::vector<float> hand = handFrame(0.0f, 0.0f);
  ASSERT_EQ(move.begin(hand.data(), 12, hand.data(), 12), 1);
  stroke->setSelected(false);  // drawn in its own red, not in the selection's blue
  EXPECT_TRUE(redAt(brush(), 16) && !redAt(brush(), 48));
  move.m_transform.at(0, 3) = 1.0f;  // one to the right
  EXPECT_TRUE(!redAt(brush(), 16) && redAt(brush(), 48));
  move.detach();
  EXPECT_TRUE(redAt(brush(), 16) && !redAt(brush(), 48));
}
