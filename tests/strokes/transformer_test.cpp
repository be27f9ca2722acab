#include "strokes/transformer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/settings.h"
#include "render/model_element.h"
#include "render/modeler.h"
#include "strokes/operatable.h"
#include "strokes/stroke_buffer.h"
#include "strokes/stroke_test_support.h"

namespace {

Matrix4 product(const Matrix4& a, const Matrix4& b) {
  Matrix4 out;
  return multiplyMatrix4(a, out, b);
}

bool same(const Matrix4& a, const Matrix4& b) {
  for (int i = 0; i < 16; ++i)
    if (std::fabs(a[i] - b[i]) > 1e-5f) return false;
  return true;
}

using TransformLevels = BrushStateTest;

// A head placed by H, then one whole-scene move T: two levels, strokes of the first drawn with T,
// strokes of the second with nothing, both stored in the head's frame.
TEST_F(TransformLevels, APlacementAndOneMoveGiveTwoLevels) {
  g_uiValues.assign(13, 0.0f);
  Transformer tool;
  setTransformer(&tool);
  const Matrix4 H = scaleAndLift(2.0f, 1.0f), T = scaleAndLift(1.0f, 0.5f);
  tool.pushTransform(H);
  EXPECT_FLOAT_EQ(g_uiValues[0], std::sqrt(0.25f + 0.01f));
  Operatable before(1);
  tool.pushTransform(T);
  Operatable after(1);

  ASSERT_EQ(tool.m_levelDraw.size(), 2u);
  EXPECT_TRUE(same(tool.m_levelDraw[0], product(T, H)) && same(tool.m_levelDraw[1], T));
  EXPECT_EQ(before.m_transformLevel, 1);
  EXPECT_EQ(after.m_transformLevel, 2);
  ASSERT_NE(levelDrawMatrix(1), nullptr);
  EXPECT_TRUE(same(*levelDrawMatrix(1), T));
  EXPECT_EQ(levelDrawMatrix(2), nullptr);

  // The same scene point, drawn before and after the move, is stored as the same head point.
  setPoint(before.m_operation->add_points(), Vec3f(0, 2, 0));
  setPoint(after.m_operation->add_points(), Vec3f(0, 2.5f, 0));
  quillax::Operation a, b;
  before.toProto(&a);
  after.toProto(&b);
  EXPECT_EQ(toVec3(a.points(0)), Vec3f(0, 0.5f, 0));
  EXPECT_EQ(toVec3(b.points(0)), Vec3f(0, 0.5f, 0));
  EXPECT_FLOAT_EQ(b.width(), 0.1f);  // brush width 0.2 in a frame scaled by 2
}

// The registry hands a loaded head's placement to the tool it was given; a tool going away
// leaves neither pointer behind.
TEST_F(TransformLevels, TheToolIsTheRegistrysWhileItLives) {
  Modeler modeler;
  g_modeler = &modeler;
  {
    Transformer tool;
    setTransformer(&tool);
    EXPECT_EQ(modeler.m_transformTool, &tool);
    EXPECT_EQ(g_transformer, &tool);
  }
  EXPECT_EQ(modeler.m_transformTool, nullptr);
  EXPECT_EQ(g_transformer, nullptr);
  g_modeler = nullptr;
}

// A hand frame at p with the world axes.
std::vector<float> handAt(float x, float y, float z) { return {x, y, z, 1, 0, 0, 0, 1, 0, 0, 0, 1}; }

// Whole-scene grabs: a press and a release still add a level; the scene follows only in drawing
// until the release; a press while engaged, and a move or release while idle, change nothing.
// (The level a real grab adds and the head following it: the transform trace.)
TEST_F(TransformLevels, AWholeSceneGrabIsDrawnUntilItsReleaseAddsALevel) {
  g_uiValues.assign(13, 0.0f);
  Modeler modeler;
  g_modeler = &modeler;
  auto* model = new ModelElement("model");
  modeler.m_models[1] = model;
  Transformer tool;
  setTransformer(&tool);
  const std::vector<float> start = handAt(0, 1, 0), other = handAt(0.5f, 1, 0);
  EXPECT_FALSE(tool.move(start.data(), 12, other.data(), 12));
  EXPECT_FALSE(tool.release(start.data(), 12, other.data(), 12));

  ASSERT_TRUE(tool.press(start.data(), 12, other.data(), 12));
  EXPECT_FALSE(tool.press(start.data(), 12, other.data(), 12));
  ASSERT_TRUE(tool.release(start.data(), 12, other.data(), 12));
  ASSERT_EQ(tool.m_levelDraw.size(), 1u);
  EXPECT_TRUE(same(tool.m_levelForward[0], Matrix4()));

  ASSERT_TRUE(tool.press(start.data(), 12, other.data(), 12));
  const std::vector<float> moved = handAt(0.1f, 1, 0);
  ASSERT_TRUE(tool.move(moved.data(), 12, other.data(), 12));
  EXPECT_TRUE(same(modeler.sceneGrabMatrix(), tool.m_transform));
  EXPECT_TRUE(same(model->m_modelMatrix, Matrix4()));
  ASSERT_TRUE(tool.release(moved.data(), 12, other.data(), 12));
  EXPECT_EQ(tool.m_levelDraw.size(), 2u);
  EXPECT_TRUE(same(modeler.sceneGrabMatrix(), Matrix4()));
  g_modeler = nullptr;
}

// A picked element moves by G from where it was at the press, its permission bytes switching the
// transforms; the levels stay as they are and the element is let go at the release.
TEST_F(TransformLevels, APickedElementMovesAloneWithinItsPermissions) {
  Modeler modeler;
  g_modeler = &modeler;
  Transformer tool;
  setTransformer(&tool);
  ModelElement light("light");
  light.m_transformFlags = std::make_unique<std::array<uint8_t, 4>>(std::array<uint8_t, 4>{0, 1, 1, 1});
  light.m_modelMatrix[13] = 1.5f;
  const Matrix4 placed = light.m_modelMatrix;
  tool.setPickedElement(&light);

  // The other hand's trigger asks for a two-hand move, which the light does not allow.
  g_flags[FLAG_OTHER_TRIGGER] = true;
  const std::vector<float> start = handAt(0, 1, 0), other = handAt(0.5f, 1, 0);
  ASSERT_TRUE(tool.press(start.data(), 12, other.data(), 12));
  EXPECT_EQ(tool.m_mode, 2);
  EXPECT_FALSE(tool.m_twoHand);
  const std::vector<float> apart = handAt(-0.5f, 1, 0);
  tool.move(start.data(), 12, apart.data(), 12);
  EXPECT_TRUE(same(light.m_modelMatrix, placed));
  ASSERT_TRUE(tool.release(start.data(), 12, apart.data(), 12));

  g_flags[FLAG_OTHER_TRIGGER] = false;
  tool.setPickedElement(&light);
  ASSERT_TRUE(tool.press(start.data(), 12, other.data(), 12));
  const std::vector<float> moved = handAt(0, 1.2f, 0);
  tool.move(moved.data(), 12, other.data(), 12);
  // Only the picked element follows: the scene is drawn as it is. (No level added: the trace.)
  EXPECT_TRUE(same(modeler.sceneGrabMatrix(), Matrix4()));
  ASSERT_TRUE(tool.release(moved.data(), 12, other.data(), 12));
  EXPECT_FLOAT_EQ(light.m_modelMatrix[13], 1.7f);
  EXPECT_EQ(tool.m_picked, nullptr);
  g_modeler = nullptr;
}

}  // namespace
