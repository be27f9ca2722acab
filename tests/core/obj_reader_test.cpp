#include "core/obj_reader.h"

#include <gtest/gtest.h>

#include "support/asset_root.h"

namespace {

class ObjReaderTest : public AssetRootTest {
 protected:
  bool read(const std::string& text) {
    writeFile("mesh.obj", text);
    return igl::readOBJ(rootPath("mesh.obj"), V, N, F);
  }
  Eigen::MatrixXd V, N;
  Eigen::MatrixXi F;
};

TEST_F(ObjReaderTest, NormalsInFileOrderAndPolygonsFanTriangulated) {
  ASSERT_TRUE(read("# comment\nv 0 0 0\nv 1 0 0 1.0\nvn 0 0 1\nv 1 1 0\r\nvt 0.5 0.5\n"
                   "vn 0 1 0\nv 0 1 0\nv -1 1 0\n"
                   "f 1/1/2 2//1 3 4/4 5\n"  // a pentagon: three triangles from corner 1
                   "f -1 -2 -3\n"            // negative indices count from the end
                   "f 1 2\n"));              // no area: dropped
  ASSERT_EQ(V.rows(), 5);
  EXPECT_DOUBLE_EQ(V(1, 0), 1.0);
  ASSERT_EQ(N.rows(), 2);  // the vn lines as written, not matched to vertices
  EXPECT_DOUBLE_EQ(N(1, 1), 1.0);
  Eigen::MatrixXi expected(4, 3);
  expected << 0, 1, 2, 0, 2, 3, 0, 3, 4, 4, 3, 2;
  EXPECT_EQ(F, expected);

  ASSERT_TRUE(read("v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n"));
  EXPECT_EQ(N.rows(), 0);
  EXPECT_EQ(F.rows(), 1);
}

TEST_F(ObjReaderTest, BadFilesFailWithAMessageAndEmptyOutputs) {
  const char* malformed[] = {
      "v 0 0 0\nv 1 0 0\nf 1 2 3\n",          // a corner beyond the vertices read
      "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 0 1 2\n",  // indices start at 1
      "v 0 0\n",                               // too few coordinates
      "v 0 nan 0\n",                           // not finite
  };
  for (const char* text : malformed) {
    SCOPED_TRACE(text);
    testing::internal::CaptureStdout();
    EXPECT_FALSE(read(text));
    EXPECT_NE(testing::internal::GetCapturedStdout().find("readOBJ"), std::string::npos);
    EXPECT_EQ(V.rows() + N.rows() + F.rows(), 0);
  }
  testing::internal::CaptureStdout();
  EXPECT_FALSE(igl::readOBJ(rootPath("missing.obj"), V, N, F));
  EXPECT_FALSE(igl::readOBJ(root(), V, N, F));  // a folder is not an empty mesh
  EXPECT_NE(testing::internal::GetCapturedStdout().find("missing.obj"), std::string::npos);
}

}  // namespace
