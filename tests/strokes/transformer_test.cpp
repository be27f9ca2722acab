#include "strokes/transformer.h"

#include <gtest/gtest.h>

#include <cmath>

#include "core/settings.h"
#include "render/modeler.h"
#include "strokes/operatable.h"
#include "strokes/stroke_buffer.h"
#include "strokes/stroke_test_support.h"

namespace {

Matrix4 scaleAndLift(float s, float y) {
  Matrix4 m;
  m[0] = m[5] = m[10] = s;
  m[13] = y;
  return m;
}

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
  const std::vector<float> savedUiValues = g_uiValues;
  g_uiValues.assign(13, 0.0f);
  Transformer tool;
  setTransformer(&tool);
  const Matrix4 H = scaleAndLift(2.0f, 1.0f), T = scaleAndLift(1.0f, 0.5f);
  tool.pushTransform(H);
  EXPECT_FLOAT_EQ(g_uiValues[0], std::sqrt(0.25f + 0.01f));
  Operatable before(1);
  tool.pushTransform(T);
  Operatable after(1);

  Matrix4 Hinv = scaleAndLift(0.5f, -0.5f), THinv = scaleAndLift(0.5f, -0.75f);
  ASSERT_EQ(tool.m_levelDraw.size(), 2u);
  EXPECT_TRUE(same(tool.m_levelDraw[0], product(T, H)) && same(tool.m_levelDraw[1], T));
  EXPECT_TRUE(same(tool.m_levelForward[0], H) && same(tool.m_levelForward[1], product(T, H)));
  EXPECT_TRUE(same(tool.m_levelInverse[0], Hinv) && same(tool.m_levelInverse[1], THinv));
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

  EXPECT_TRUE(tool.undo() && tool.redo());
  EXPECT_EQ(tool.m_levelDraw.size(), 2u);
  tool.reset();
  EXPECT_TRUE(tool.m_levelDraw.empty() && tool.m_levelForward.empty() && tool.m_levelInverse.empty());
  EXPECT_EQ(transformLevelCount(), 0);
  setTransformer(nullptr);
  g_uiValues = savedUiValues;
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

}  // namespace
