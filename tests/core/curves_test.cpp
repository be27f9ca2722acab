#include "core/curves.h"

#include <gtest/gtest.h>

namespace {

void expectNear(const Vec3f& a, const Vec3f& b) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], 1e-6f) << "component " << i;
}

// Straight along x, ten float pieces of 0.1: their lengths do not add up to exactly 1.
std::vector<Vec3f> straightTenth() {
  std::vector<Vec3f> line;
  for (int i = 0; i <= 10; ++i) line.emplace_back(0.1f * i, 0.0f, 0.0f);
  return line;
}

}  // namespace

TEST(CatmullRom, PassesThroughItsControlPointsAndSamplesTheNewestSegment) {
  CatmullRom<Vec3f> curve;
  const Vec3f p0(0, 0, 0), p1(1, 2, 0), p2(3, 1, 1), p3(4, 4, 2);
  expectNear(curve.interpolate(0.0, p0, p1, p2, p3), p1);
  expectNear(curve.interpolate(1.0, p0, p1, p2, p3), p2);

  CatmullRom<float> scalar;
  EXPECT_FLOAT_EQ(scalar.interpolate(0.5, 0, 1, 1, 0), 1.125f);
  scalar.m_controlPoints = {0, 1, 3};
  scalar.sample();
  EXPECT_TRUE(scalar.m_samples.empty());
  scalar.m_controlPoints.push_back(4);
  scalar.sample();
  scalar.m_controlPoints.push_back(4);
  scalar.sample();  // the joint appears twice
  EXPECT_EQ(scalar.m_samples, (std::vector<float>{1, 2, 3, 3, 3.625f, 4}));

  // Resampled by parameter: count 7 over 4 points lands on each of them; no division by zero.
  const std::vector<Vec3f> wiggle = {Vec3f(0, 0, 0), Vec3f(1, 1, 0), Vec3f(2, 0, 1), Vec3f(3, 1, 0)};
  curve.m_controlPoints.emplace_back(7, 7, 7);
  curve.resample(wiggle, 7);
  EXPECT_TRUE(curve.m_controlPoints.empty());
  ASSERT_EQ(curve.m_samples.size(), 7u);
  for (int i = 0; i < 4; ++i) expectNear(curve.m_samples[2 * i], wiggle[i]);
  curve.resample(wiggle, 1);
  ASSERT_EQ(curve.m_samples.size(), 1u);
  expectNear(curve.m_samples[0], wiggle[0]);
  curve.resample(wiggle, 0);
  EXPECT_TRUE(curve.m_samples.empty());
  curve.resample({}, 5);
  EXPECT_TRUE(curve.m_samples.empty());
}

TEST(ResampleByArcLength, CountSpacingAndTheFivePercentRule) {
  std::vector<Vec3f> out;
  resampleByArcLength(straightTenth(), out, 5, -1.0f);
  ASSERT_EQ(out.size(), 5u);
  for (int i = 0; i < 5; ++i) expectNear(out[i], Vec3f(0.25f * i, 0, 0));
  resampleByArcLength(straightTenth(), out, 0, 0.3f);  // trunc(1 / 0.3) = 3 pieces
  ASSERT_EQ(out.size(), 4u);
  for (int i = 0; i < 4; ++i) expectNear(out[i], Vec3f(i / 3.0f, 0, 0));

  // Step 0.5, corner 2 % short of it: the point stays on the first segment, extrapolated;
  // 6 % short: it goes round the corner.
  resampleByArcLength({Vec3f(0, 0, 0), Vec3f(0.49f, 0, 0), Vec3f(0.49f, 0.51f, 0)}, out, 3, -1.0f);
  ASSERT_EQ(out.size(), 3u);
  expectNear(out[1], Vec3f(0.5f, 0, 0));
  resampleByArcLength({Vec3f(0, 0, 0), Vec3f(0.47f, 0, 0), Vec3f(0.47f, 0.53f, 0)}, out, 3, -1.0f);
  ASSERT_EQ(out.size(), 3u);
  expectNear(out[1], Vec3f(0.47f, 0.03f, 0));

  std::vector<Vec2f> flat = {Vec2f(0, 0), Vec2f(0, 2)};
  resampleByArcLength(flat, flat, 3, -1.0f);  // in place
  EXPECT_EQ(flat, (std::vector<Vec2f>{Vec2f(0, 0), Vec2f(0, 1), Vec2f(0, 2)}));

  // Repeated points inside a stroke are stepped over.
  resampleByArcLength({Vec3f(0, 0, 0), Vec3f(0.5f, 0, 0), Vec3f(0.5f, 0, 0), Vec3f(1, 0, 0)}, out, 3, -1.0f);
  ASSERT_EQ(out.size(), 3u);
  expectNear(out[1], Vec3f(0.5f, 0, 0));
}

TEST(ResampleByArcLength, DegenerateInputIsWellDefined) {
  auto sizeOf = [](const std::vector<Vec3f>& in, int count, float spacing) {
    std::vector<Vec3f> out = {Vec3f(9, 9, 9)};
    resampleByArcLength(in, out, count, spacing);
    return out.size();
  };
  // Fewer than two points are copied; else count <= 1, a length shorter than one spacing, or no
  // length at all keep the first point alone.
  const std::vector<Vec3f> two = {Vec3f(0, 0, 0), Vec3f(1, 0, 0)};
  EXPECT_EQ(sizeOf({}, 5, -1.0f), 0u);
  EXPECT_EQ(sizeOf({Vec3f(1, 2, 3)}, 5, -1.0f), 1u);
  EXPECT_EQ(sizeOf(two, 0, -1.0f), 1u);
  EXPECT_EQ(sizeOf(two, 1, -1.0f), 1u);
  EXPECT_EQ(sizeOf(two, 0, 2.0f), 1u);
  EXPECT_EQ(sizeOf({Vec3f(1, 1, 1), Vec3f(1, 1, 1)}, 4, -1.0f), 1u);
}
