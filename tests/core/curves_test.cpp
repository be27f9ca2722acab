#include "core/curves.h"

#include <gtest/gtest.h>

namespace {

void expectNear(const std::vector<Vec3f>& a, const std::vector<Vec3f>& b) {
  ASSERT_EQ(a.size(), b.size());
  for (size_t i = 0; i < a.size(); ++i) {
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(a[i][k], b[i][k], 1e-6f) << "point " << i << " component " << k;
  }
}

// count points along x, step apart: 11 at 0.1 make ten float pieces that do not add up to exactly 1.
std::vector<Vec3f> along(int count, float step) {
  std::vector<Vec3f> line;
  for (int i = 0; i < count; ++i) line.emplace_back(step * i, 0.0f, 0.0f);
  return line;
}

std::vector<Vec3f> resampled(const std::vector<Vec3f>& in, int count, float spacing = -1.0f) {
  std::vector<Vec3f> out = {Vec3f(9, 9, 9)};
  resampleByArcLength(in, out, count, spacing);
  return out;
}

}  // namespace

TEST(CatmullRom, PassesThroughItsControlPointsAndSamplesTheNewestSegment) {
  // The samples pass through the control points; 3.625 is the middle of the newest segment.
  CatmullRom<float> scalar;
  scalar.m_controlPoints = {0, 1, 3};
  scalar.sample();  // too few points: nothing
  scalar.m_controlPoints.push_back(4);
  scalar.sample();
  scalar.m_controlPoints.push_back(4);
  scalar.sample();  // the joint appears twice
  EXPECT_EQ(scalar.m_samples, (std::vector<float>{1, 2, 3, 3, 3.625f, 4}));

  // Resampled by parameter: count 7 over 4 points lands on each of them; no division by zero.
  const std::vector<Vec3f> wiggle = {Vec3f(0, 0, 0), Vec3f(1, 1, 0), Vec3f(2, 0, 1), Vec3f(3, 1, 0)};
  CatmullRom<Vec3f> curve;
  curve.m_controlPoints.emplace_back(7, 7, 7);
  curve.resample(wiggle, 7);
  EXPECT_TRUE(curve.m_controlPoints.empty());
  ASSERT_EQ(curve.m_samples.size(), 7u);
  expectNear({curve.m_samples[0], curve.m_samples[2], curve.m_samples[4], curve.m_samples[6]}, wiggle);
  curve.resample(wiggle, 1);
  expectNear(curve.m_samples, {wiggle[0]});
  curve.resample(wiggle, 0);
  EXPECT_TRUE(curve.m_samples.empty());
  curve.resample({}, 5);
  EXPECT_TRUE(curve.m_samples.empty());
}

TEST(ResampleByArcLength, CountSpacingAndTheFivePercentRule) {
  expectNear(resampled(along(11, 0.1f), 5), along(5, 0.25f));
  expectNear(resampled(along(11, 0.1f), 0, 0.3f), along(4, 1 / 3.0f));  // trunc(1 / 0.3) = 3 pieces

  // Step 0.5, corner 2 % short of it: the point stays on the first segment, extrapolated;
  // 6 % short: it goes round the corner.
  const Vec3f o(0, 0, 0), end2(0.49f, 0.51f, 0), end6(0.47f, 0.53f, 0);
  expectNear(resampled({o, Vec3f(0.49f, 0, 0), end2}, 3), {o, Vec3f(0.5f, 0, 0), end2});
  expectNear(resampled({o, Vec3f(0.47f, 0, 0), end6}, 3), {o, Vec3f(0.47f, 0.03f, 0), end6});
  // Repeated points inside a stroke are stepped over.
  expectNear(resampled({o, Vec3f(0.5f, 0, 0), Vec3f(0.5f, 0, 0), Vec3f(1, 0, 0)}, 3), along(3, 0.5f));

  std::vector<Vec2f> flat = {Vec2f(0, 0), Vec2f(0, 2)};
  resampleByArcLength(flat, flat, 3, -1.0f);  // in place
  EXPECT_EQ(flat, (std::vector<Vec2f>{Vec2f(0, 0), Vec2f(0, 1), Vec2f(0, 2)}));
}

TEST(ResampleByArcLength, DegenerateInputIsWellDefined) {
  // Fewer than two points are copied; else count <= 1, a length shorter than one spacing, or no
  // length at all keep the first point alone.
  const std::vector<Vec3f> two = {Vec3f(0, 0, 0), Vec3f(1, 0, 0)}, one = {Vec3f(1, 2, 3)};
  EXPECT_TRUE(resampled({}, 5).empty());
  expectNear(resampled(one, 5), one);
  for (const auto& [count, spacing] : {std::pair{0, -1.0f}, {1, -1.0f}, {0, 2.0f}}) {
    SCOPED_TRACE(testing::Message() << count << " " << spacing);
    expectNear(resampled(two, count, spacing), {two[0]});
  }
  expectNear(resampled({Vec3f(1, 1, 1), Vec3f(1, 1, 1)}, 4), {Vec3f(1, 1, 1)});
}

TEST(ResampleLists, LinearKeepsTheEndsAndSmoothStaysInTheHull) {
  const std::vector<float> values{0.0f, 4.0f, 2.0f, 8.0f};
  std::vector<float> out;
  for (int count : {0, 1, 2}) {
    resampleLinear(values, out, count);
    EXPECT_EQ(out, (std::vector<float>{0.0f, 8.0f})) << count;
  }
  resampleLinear(values, out, 7);  // every half entry
  EXPECT_EQ(out, (std::vector<float>{0.0f, 2.0f, 4.0f, 3.0f, 2.0f, 5.0f, 8.0f}));

  for (int count : {2, 3, 9, 40}) {
    resampleSmooth(values, out, count);
    ASSERT_EQ(out.size(), size_t(count));
    EXPECT_EQ(out.front(), 0.0f);
    EXPECT_EQ(out.back(), 8.0f);
    for (float v : out) EXPECT_TRUE(v >= 0.0f && v <= 8.0f) << v;
  }
  // A constant list stays constant; two entries go linearly.
  resampleSmooth(std::vector<float>(5, 3.0f), out, 11);
  for (float v : out) EXPECT_FLOAT_EQ(v, 3.0f);
  resampleSmooth(std::vector<float>{1.0f, 3.0f}, out, 3);
  EXPECT_EQ(out, (std::vector<float>{1.0f, 2.0f, 3.0f}));
}
