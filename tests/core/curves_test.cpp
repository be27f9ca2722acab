#include "core/curves.h"

#include <gtest/gtest.h>

namespace {

void expectNear(const Vec3f& a, const Vec3f& b, float tolerance = 1e-6f) {
  for (int i = 0; i < 3; ++i) EXPECT_NEAR(a[i], b[i], tolerance) << "component " << i;
}

// A straight polyline along x of total length 1 made of ten 0.1 pieces: the float lengths
// add up to slightly more or less than 1, as in real strokes.
std::vector<Vec3f> straightTenth() {
  std::vector<Vec3f> line;
  for (int i = 0; i <= 10; ++i) line.emplace_back(0.1f * i, 0.0f, 0.0f);
  return line;
}

}  // namespace

TEST(CatmullRom, PassesThroughItsControlPoints) {
  CatmullRom<Vec3f> curve;
  const Vec3f p0(0, 0, 0), p1(1, 2, 0), p2(3, 1, 1), p3(4, 4, 2);
  expectNear(curve.interpolate(0.0, p0, p1, p2, p3), p1);
  expectNear(curve.interpolate(1.0, p0, p1, p2, p3), p2);
  // Collinear, evenly spaced: linear in t.
  expectNear(curve.interpolate(0.3, Vec3f(0, 0, 0), Vec3f(1, 1, 0), Vec3f(2, 2, 0), Vec3f(3, 3, 0)),
             Vec3f(1.3f, 1.3f, 0), 1e-6f);

  CatmullRom<float> scalar;
  EXPECT_FLOAT_EQ(scalar.interpolate(0.0, 5, 1, 2, 7), 1.0f);
  EXPECT_FLOAT_EQ(scalar.interpolate(1.0, 5, 1, 2, 7), 2.0f);
  // Midpoint: (p1 + p2) / 2 + (p1 + p2 - p0 - p3) / 16.
  EXPECT_FLOAT_EQ(scalar.interpolate(0.5, 0, 1, 3, 4), 2.0f);
  EXPECT_FLOAT_EQ(scalar.interpolate(0.5, 0, 1, 1, 0), 1.125f);

  // The base curve repeats p0.
  CatmullRom<Vec2f> spline;
  EXPECT_EQ(spline.Curve<Vec2f>::interpolate(0.7, Vec2f(9, 8), Vec2f(1, 1), Vec2f(2, 2), Vec2f(3, 3)),
            Vec2f(9, 8));
}

TEST(CatmullRom, SampleExtendsTheNewestSegment) {
  CatmullRom<float> curve;
  curve.m_controlPoints = {0, 1, 3};
  curve.sample();
  EXPECT_TRUE(curve.m_samples.empty());
  curve.m_controlPoints.push_back(4);
  curve.sample();
  EXPECT_EQ(curve.m_samples, (std::vector<float>{1, 2, 3}));
  curve.m_controlPoints.push_back(4);
  curve.sample();
  // The joint (3) appears twice.
  ASSERT_EQ(curve.m_samples.size(), 6u);
  EXPECT_EQ(curve.m_samples[3], 3.0f);
  EXPECT_EQ(curve.m_samples[5], 4.0f);
  curve.m_steps = 0;
  curve.sample();
  EXPECT_EQ(curve.m_samples.size(), 6u);
}

TEST(CatmullRom, ResampleByParameterKeepsEndsAndSpacesEvenly) {
  CatmullRom<Vec3f> curve;
  curve.m_controlPoints.emplace_back(7, 7, 7);
  curve.resample({Vec3f(0, 0, 0), Vec3f(4, 0, 0)}, 5);
  EXPECT_TRUE(curve.m_controlPoints.empty());
  ASSERT_EQ(curve.m_samples.size(), 5u);
  // Repeated end points as neighbours: the spline eases in and out but stays symmetric.
  expectNear(curve.m_samples[0], Vec3f(0, 0, 0));
  expectNear(curve.m_samples[2], Vec3f(2, 0, 0));
  expectNear(curve.m_samples[4], Vec3f(4, 0, 0));
  EXPECT_NEAR(curve.m_samples[1][0] + curve.m_samples[3][0], 4.0f, 1e-6f);

  std::vector<Vec3f> wiggle = {Vec3f(0, 0, 0), Vec3f(1, 1, 0), Vec3f(2, 0, 1), Vec3f(3, 1, 0)};
  curve.resample(wiggle, 7);
  ASSERT_EQ(curve.m_samples.size(), 7u);
  // Every second sample lands on an input point (t = 0, 1, 2, 3).
  for (int i = 0; i < 4; ++i) expectNear(curve.m_samples[2 * i], wiggle[i]);

  // Degenerate requests give short, well-defined results instead of dividing by zero.
  curve.resample(wiggle, 1);
  ASSERT_EQ(curve.m_samples.size(), 1u);
  expectNear(curve.m_samples[0], wiggle[0]);
  curve.resample(wiggle, 0);
  EXPECT_TRUE(curve.m_samples.empty());
  curve.resample({}, 5);
  EXPECT_TRUE(curve.m_samples.empty());
  curve.resample({Vec3f(1, 2, 3)}, 3);
  ASSERT_EQ(curve.m_samples.size(), 3u);
  expectNear(curve.m_samples[2], Vec3f(1, 2, 3));
}

TEST(ResampleByArcLength, CountAndSpacing) {
  std::vector<Vec3f> out;
  resampleByArcLength(straightTenth(), out, 5, -1.0f);
  ASSERT_EQ(out.size(), 5u);
  for (int i = 0; i < 5; ++i) expectNear(out[i], Vec3f(0.25f * i, 0, 0), 1e-6f);

  // trunc(1 / 0.3) = 3 pieces of 1/3.
  resampleByArcLength(straightTenth(), out, 0, 0.3f);
  ASSERT_EQ(out.size(), 4u);
  for (int i = 0; i < 4; ++i) expectNear(out[i], Vec3f(i / 3.0f, 0, 0), 1e-6f);

  // Over 2-D points too, and in place.
  std::vector<Vec2f> flat = {Vec2f(0, 0), Vec2f(0, 2)};
  resampleByArcLength(flat, flat, 3, -1.0f);
  ASSERT_EQ(flat.size(), 3u);
  EXPECT_EQ(flat[1], Vec2f(0, 1));
}

TEST(ResampleByArcLength, PointWithinFivePercentOfAStepStaysOnItsSegment) {
  std::vector<Vec3f> out;
  // Step 0.5; the first corner comes at 0.49, 2 % short of a step: the point is extrapolated
  // along the first segment to (0.5, 0), not bent round the corner.
  resampleByArcLength({Vec3f(0, 0, 0), Vec3f(0.49f, 0, 0), Vec3f(0.49f, 0.51f, 0)}, out, 3, -1.0f);
  ASSERT_EQ(out.size(), 3u);
  expectNear(out[1], Vec3f(0.5f, 0, 0), 1e-6f);
  expectNear(out[2], Vec3f(0.49f, 0.51f, 0), 1e-6f);

  // 6 % short: the point goes round the corner.
  resampleByArcLength({Vec3f(0, 0, 0), Vec3f(0.47f, 0, 0), Vec3f(0.47f, 0.53f, 0)}, out, 3, -1.0f);
  ASSERT_EQ(out.size(), 3u);
  expectNear(out[1], Vec3f(0.47f, 0.03f, 0), 1e-6f);
}

TEST(ResampleByArcLength, DegenerateInputIsWellDefined) {
  std::vector<Vec3f> out = {Vec3f(9, 9, 9)};
  resampleByArcLength(std::vector<Vec3f>{}, out, 5, -1.0f);
  EXPECT_TRUE(out.empty());
  resampleByArcLength({Vec3f(1, 2, 3)}, out, 5, -1.0f);
  ASSERT_EQ(out.size(), 1u);
  expectNear(out[0], Vec3f(1, 2, 3));

  const std::vector<Vec3f> two = {Vec3f(0, 0, 0), Vec3f(1, 0, 0)};
  for (int count : {0, 1}) {
    resampleByArcLength(two, out, count, -1.0f);
    ASSERT_EQ(out.size(), 1u) << count;
  }
  // Shorter than one spacing: no whole piece, the first point alone.
  resampleByArcLength(two, out, 0, 2.0f);
  ASSERT_EQ(out.size(), 1u);

  // All points the same: no length.
  resampleByArcLength({Vec3f(1, 1, 1), Vec3f(1, 1, 1), Vec3f(1, 1, 1)}, out, 4, -1.0f);
  ASSERT_EQ(out.size(), 1u);

  // Repeated points inside a stroke are stepped over; every output is finite.
  resampleByArcLength({Vec3f(0, 0, 0), Vec3f(0.5f, 0, 0), Vec3f(0.5f, 0, 0), Vec3f(1, 0, 0)}, out, 3, -1.0f);
  ASSERT_EQ(out.size(), 3u);
  expectNear(out[1], Vec3f(0.5f, 0, 0));
  expectNear(out[2], Vec3f(1, 0, 0));
}
