#include "render/head_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "core/text_file.h"
#include "render/grider.h"
#include "support/asset_root.h"

namespace {

TEST(HeadPlacement, DefaultScalesToADiagonalOf07AndCentresAtHeadHeight) {
  // Extents (1.2, 0.4, 0.6): a diagonal of 1.4, centred at (10.6, 20.2, 30.3).
  const Matrix4 m = defaultHeadPlacement(Vec3f(10, 20, 30), Vec3f(11.2f, 20.4f, 30.6f));
  for (int a = 0; a < 3; ++a) EXPECT_NEAR(m.at(a, a), 0.5f, 1e-6) << a;
  const Vec3f centre = transformPoint(m, Vec3f(10.6f, 20.2f, 30.3f));
  for (int a = 0; a < 3; ++a) EXPECT_NEAR(centre[a], a == 1 ? 1.0f : 0.0f, 1e-4) << a;

  // Boxes without a usable diagonal keep a scale of 1 and never give inf or NaN.
  const float inf = std::numeric_limits<float>::infinity();
  const Vec3f bad[][2] = {{Vec3f(2, 3, 4), Vec3f(2, 3, 4)},    // a point
                          {Vec3f(1e9f), Vec3f(-1e9f)},         // empty
                          {Vec3f(0, 0, 0), Vec3f(inf, 1, 1)},  // not finite
                          {Vec3f(0, 0, 0), Vec3f(1e-30f, 0, 0)}};
  for (const auto& box : bad) {
    const Matrix4 p = defaultHeadPlacement(box[0], box[1]);
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(std::isfinite(p[i])) << i;
  }
  EXPECT_FLOAT_EQ(defaultHeadPlacement(bad[0][0], bad[0][1]).at(0, 0), 1.0f);
}

TEST(HeadGridBox, ACubeOneAndAHalfTimesTheLargestExtentRaisedAFifth) {
  Vec3f lo, hi;
  headGridBox(Vec3f(0, 0, 0), Vec3f(1, 2, 1), lo, hi);  // side 3
  EXPECT_EQ(lo, Vec3f(-1.0f, -0.5f + 0.6f, -1.0f));
  EXPECT_EQ(hi, Vec3f(2.0f, 2.5f + 0.6f, 2.0f));
}

TEST(Mirrow, ReflectingTwiceGivesTheFrameBack) {
  Mirrow mirror("m");
  mirror.m_localNormal = Vec3f(2, 0, 0);  // normalised by the transform update
  Matrix4 m;
  m.at(0, 3) = 1.0f;  // the plane x = 1
  mirror.setTransform(m);
  const float frame[9] = {3, 2, 1, 1, 0, 0, 0, 1, 0};
  float once[9];
  mirror.reflect(frame, once);
  // The point mirrored, the first axis mirrored then reversed, the second kept.
  EXPECT_EQ(std::vector<float>(once, once + 9), (std::vector<float>{-1, 2, 1, 1, 0, 0, 0, 1, 0}));

  mirror.m_localNormal = Vec3f(1, 2, -0.5f);  // a slanted plane, reflected in place
  mirror.updateTransform();
  float twice[9] = {0.3f, -1.2f, 2.5f, 0.6f, 0.8f, 0.0f, -0.8f, 0.6f, 0.0f};
  const std::vector<float> start(twice, twice + 9);
  mirror.reflect(twice, twice);
  mirror.reflect(twice, twice);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(twice[i], start[i], 1e-5) << i;
}

using HeadPlacementFileTest = AssetRootTest;

TEST_F(HeadPlacementFileTest, DefaultIsWrittenOnlyWhereNoFileIsAndReadBack) {
  // Heads with a mesh box only: enough for the placement, no GL.
  auto headWithBox = [](const Vec3f& min, const Vec3f& max) {
    std::unique_ptr<HeadModel> head(new HeadModel("head.txt"));
    BoundingBox* box = new BoundingBox("box");
    box->widen(min);
    box->widen(max);
    head->setAttached(box);
    return head;
  };
  const std::string path = rootPath("headTransform.txt");
  std::unique_ptr<HeadModel> head = headWithBox(Vec3f(-0.6f, -0.2f, -0.3f), Vec3f(0.6f, 0.2f, 0.3f));
  Matrix4 placement, again;
  EXPECT_TRUE(head->loadPlacement(placement, path));
  EXPECT_NEAR(placement.at(0, 0), 0.5f, 1e-6);
  // Another head (another box) from the same folder lands where the file says.
  EXPECT_TRUE(headWithBox(Vec3f(0, 0, 0), Vec3f(5, 5, 5))->loadPlacement(again, path));
  for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(again[i], placement[i]) << i;

  // A file that reads but holds no usable placement keeps every byte: the default is used and said.
  for (const char* text : {"obj_name: \"kept\"\ntransforms { v: 1 v: 0 v: 0 }\n",
                           "transforms { v: 1 v: 0 v: 0 v: 0 v: 0 v: 1 v: 0 v: 0 v: 0 v: 0 v: 1 v: 0 v: nan v: 0 "
                           "v: 0 v: 1 }\n"}) {
    SCOPED_TRACE(text);
    writeFile("headTransform.txt", text);
    testing::internal::CaptureStdout();
    EXPECT_TRUE(head->loadPlacement(placement, path));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "loadPlacement: " + path + " does not hold 16 finite values; using the default placement and "
              "leaving the file as it is\n");
    EXPECT_NEAR(placement.at(0, 0), 0.5f, 1e-6);
    EXPECT_EQ(readFile("headTransform.txt"), text);
  }
}

}  // namespace
