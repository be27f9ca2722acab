#include "render/head_model.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "core/text_file.h"
#include "render/grider.h"
#include "render/sample_grid.h"
#include "support/asset_root.h"

namespace {

Vec3f apply(const Matrix4& m, const Vec3f& p) { return transformPoint(m, p); }

TEST(HeadPlacement, DefaultScalesToADiagonalOf07AndCentresAtHeadHeight) {
  // Extents (1.2, 0.4, 0.6): a diagonal of 1.4.
  const Matrix4 m = defaultHeadPlacement(Vec3f(-0.6f, -0.2f, -0.3f), Vec3f(0.6f, 0.2f, 0.3f));
  EXPECT_NEAR(m.at(0, 0), 0.5f, 1e-6);
  EXPECT_NEAR(m.at(1, 1), 0.5f, 1e-6);
  EXPECT_NEAR(m.at(2, 2), 0.5f, 1e-6);
  const Vec3f centre = apply(m, Vec3f(0, 0, 0));
  EXPECT_NEAR(centre[0], 0.0f, 1e-6);
  EXPECT_NEAR(centre[1], 1.0f, 1e-6);
  EXPECT_NEAR(centre[2], 0.0f, 1e-6);

  // An off-centre box lands with its own centre at (0, 1, 0).
  const Matrix4 off = defaultHeadPlacement(Vec3f(10, 20, 30), Vec3f(11.2f, 20.4f, 30.6f));
  const Vec3f moved = apply(off, Vec3f(10.6f, 20.2f, 30.3f));
  EXPECT_NEAR(moved[0], 0.0f, 1e-4);
  EXPECT_NEAR(moved[1], 1.0f, 1e-4);
  EXPECT_NEAR(moved[2], 0.0f, 1e-4);
}

TEST(HeadPlacement, DegenerateBoxesKeepAScaleOfOneAndStayFinite) {
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const struct {
    Vec3f min, max;
  } boxes[] = {
      {Vec3f(2, 3, 4), Vec3f(2, 3, 4)},            // a single point
      {Vec3f(1e9f), Vec3f(-1e9f)},                 // empty
      {Vec3f(0, 0, 0), Vec3f(inf, 1, 1)},          // not finite
      {Vec3f(0, nan, 0), Vec3f(1, 1, 1)},
      {Vec3f(0, 0, 0), Vec3f(1e-30f, 0, 0)},       // a scale that would overflow
  };
  for (const auto& box : boxes) {
    const Matrix4 m = defaultHeadPlacement(box.min, box.max);
    for (int i = 0; i < 16; ++i) ASSERT_TRUE(std::isfinite(m[i])) << i;
  }
  const Matrix4 point = defaultHeadPlacement(Vec3f(2, 3, 4), Vec3f(2, 3, 4));
  EXPECT_FLOAT_EQ(point.at(0, 0), 1.0f);
  const Vec3f centre = apply(point, Vec3f(2, 3, 4));
  EXPECT_FLOAT_EQ(centre[1], 1.0f);
}

TEST(HeadPlacement, FloatListToMatrixNeedsExactly16Values) {
  quillax::FloatList list;
  for (int i = 0; i < 15; ++i) list.add_v(static_cast<float>(i));
  Matrix4 m;
  EXPECT_FALSE(floatListToMatrix(list, m));
  EXPECT_EQ(m[0], 1.0f);
  list.add_v(15.0f);
  ASSERT_TRUE(floatListToMatrix(list, m));
  EXPECT_EQ(m[12], 12.0f);  // column-major: the translation's x
  list.add_v(16.0f);
  EXPECT_FALSE(floatListToMatrix(list, m));
}

TEST(HeadGridBox, ACubeOneAndAHalfTimesTheLargestExtentRaisedAFifth) {
  Vec3f lo, hi;
  headGridBox(Vec3f(0, 0, 0), Vec3f(1, 2, 1), lo, hi);
  // Side 3: x and z gain 1 on each side; y gains 0.5 and rises 0.6.
  EXPECT_FLOAT_EQ(lo[0], -1.0f);
  EXPECT_FLOAT_EQ(hi[0], 2.0f);
  EXPECT_FLOAT_EQ(lo[1], -0.5f + 0.6f);
  EXPECT_FLOAT_EQ(hi[1], 2.5f + 0.6f);
  EXPECT_FLOAT_EQ(lo[2], -1.0f);
  EXPECT_FLOAT_EQ(hi[2], 2.0f);
}

TEST(HeadFolder, BareFileNamesLiveInTheWorkingFolder) {
  EXPECT_EQ(folderWithSlash("head.txt"), "./");
  EXPECT_EQ(folderWithSlash("models/defaultHead/head.txt"), "models/defaultHead/");
  EXPECT_EQ(folderOf("head.obj"), ".");
  EXPECT_EQ(folderOf("/a/b/head.obj"), "/a/b");
}

TEST(Mirrow, ReflectMirrorsThePointAndKeepsTheFrameRightHanded) {
  Mirrow mirror("m");
  mirror.m_localPoint = Vec3f(0, 0, 0);
  mirror.m_localNormal = Vec3f(2, 0, 0);  // normalised by the transform update
  Matrix4 m;
  m.at(0, 3) = 1.0f;  // the plane x = 1
  mirror.setTransform(m);
  EXPECT_FLOAT_EQ(mirror.m_worldPoint[0], 1.0f);
  EXPECT_FLOAT_EQ(mirror.m_worldNormal[0], 1.0f);

  const float frame[9] = {3, 2, 1, 1, 0, 0, 0, 1, 0};
  float once[9];
  mirror.reflect(frame, once);
  EXPECT_FLOAT_EQ(once[0], -1.0f);
  EXPECT_FLOAT_EQ(once[1], 2.0f);
  EXPECT_FLOAT_EQ(once[3], 1.0f);  // mirrored to -x, then reversed
  EXPECT_FLOAT_EQ(once[7], 1.0f);

  // Reflecting twice gives the frame back, also for a slanted plane; in place works.
  mirror.m_localNormal = Vec3f(1, 2, -0.5f);
  mirror.updateTransform();
  float frame2[9] = {0.3f, -1.2f, 2.5f, 0.6f, 0.8f, 0.0f, -0.8f, 0.6f, 0.0f};
  float twice[9];
  for (int i = 0; i < 9; ++i) twice[i] = frame2[i];
  mirror.reflect(twice, twice);
  mirror.reflect(twice, twice);
  for (int i = 0; i < 9; ++i) EXPECT_NEAR(twice[i], frame2[i], 1e-5) << i;
}

class HeadPlacementFileTest : public AssetRootTest {
 protected:
  // A head with a mesh box only, no geometry: enough for the placement.
  HeadModel* headWithBox(const Vec3f& min, const Vec3f& max) {
    HeadModel* head = new HeadModel(rootPath("head/head.txt"));
    BoundingBox* box = new BoundingBox("box");
    box->widen(min);
    box->widen(max);
    head->setAttached(box);
    return head;
  }
};

TEST_F(HeadPlacementFileTest, DefaultIsWrittenThenReadBack) {
  std::unique_ptr<HeadModel> head(headWithBox(Vec3f(-0.6f, -0.2f, -0.3f), Vec3f(0.6f, 0.2f, 0.3f)));
  const std::string path = rootPath("headTransform.txt");
  Matrix4 placement;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(head->loadPlacement(placement, path));
  testing::internal::GetCapturedStdout();
  EXPECT_NEAR(placement.at(0, 0), 0.5f, 1e-6);

  quillax::Model stored;
  ASSERT_TRUE(ReadProtoFromTextFile(path.c_str(), &stored));
  ASSERT_EQ(stored.transforms().v_size(), 16);

  // Another head (another box) from the same folder lands where the file says.
  std::unique_ptr<HeadModel> other(headWithBox(Vec3f(0, 0, 0), Vec3f(5, 5, 5)));
  Matrix4 again;
  EXPECT_TRUE(other->loadPlacement(again, path));
  for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(again[i], placement[i]) << i;
}

TEST_F(HeadPlacementFileTest, UnusableStoredPlacementsAreReplacedKeepingTheRestOfTheFile) {
  std::unique_ptr<HeadModel> head(headWithBox(Vec3f(-0.6f, -0.2f, -0.3f), Vec3f(0.6f, 0.2f, 0.3f)));
  const std::string path = rootPath("headTransform.txt");
  const char* stored[] = {
      "obj_name: \"kept\"\ntransforms { v: 1 v: 0 v: 0 }\n",
      "obj_name: \"kept\"\ntransforms { v: 1 v: 0 v: 0 v: 0 v: 0 v: 1 v: 0 v: 0 v: 0 v: 0 v: 1"
      " v: 0 v: nan v: 0 v: 0 v: 1 }\n",
      "obj_name: \"kept\"\ntransforms { v: inf v: 0 v: 0 v: 0 v: 0 v: 1 v: 0 v: 0 v: 0 v: 0 v: 1"
      " v: 0 v: 0 v: 0 v: 0 v: 1 }\n",
  };
  for (const char* text : stored) {
    writeFile("headTransform.txt", text);
    Matrix4 placement;
    EXPECT_TRUE(head->loadPlacement(placement, path));
    EXPECT_NEAR(placement.at(0, 0), 0.5f, 1e-6) << text;
    quillax::Model rewritten;
    ASSERT_TRUE(ReadProtoFromTextFile(path.c_str(), &rewritten));
    EXPECT_EQ(rewritten.obj_name(), "kept");
    ASSERT_EQ(rewritten.transforms().v_size(), 16);
    for (float v : rewritten.transforms().v()) EXPECT_TRUE(std::isfinite(v));
  }

  // A file that does not parse is replaced by the placement alone.
  writeFile("headTransform.txt", "obj_name: \"half\"\nnot a field\n");
  Matrix4 placement;
  testing::internal::CaptureStdout();
  EXPECT_TRUE(head->loadPlacement(placement, path));
  testing::internal::GetCapturedStdout();
  quillax::Model rewritten;
  ASSERT_TRUE(ReadProtoFromTextFile(path.c_str(), &rewritten));
  EXPECT_FALSE(rewritten.has_obj_name());
}

TEST(GridRelease, ListenersHearOfEveryGridBeforeItIsFreed) {
  std::vector<coreGrider*> released;
  const int handle = addGridReleaseListener([&](coreGrider* grid) {
    released.push_back(grid);
    EXPECT_EQ(grid->m_name, "hairGrider");  // still whole while being told
  });
  HeadModel* head = new HeadModel("head.txt");
  EGrider* grid = new EGrider("hairGrider");
  head->m_hairGrider = grid;
  delete head;
  ASSERT_EQ(released.size(), 1u);
  EXPECT_EQ(released[0], grid);

  removeGridReleaseListener(handle);
  head = new HeadModel("head.txt");
  head->m_hairGrider = new EGrider("hairGrider");
  delete head;
  EXPECT_EQ(released.size(), 1u);
}

}  // namespace
