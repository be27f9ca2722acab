#include "support/shipped_head.h"

#include "core/obj_reader.h"
#include "render/head_model.h"
#include "support/asset_root.h"

bool readShippedHeadLevelset(Eigen::MatrixXd& V, Eigen::MatrixXd& N, Vec3f& gridMin, Vec3f& gridMax) {
  Eigen::MatrixXd headV, headN;
  Eigen::MatrixXi F;
  if (!igl::readOBJ(repoAssetPath("models/defaultHead/head.obj"), headV, headN, F) || headV.rows() == 0 ||
      !igl::readOBJ(repoAssetPath("models/defaultHead/head_levelset.obj"), V, N, F))
    return false;
  const Eigen::RowVector3d lo = headV.colwise().minCoeff(), hi = headV.colwise().maxCoeff();
  headGridBox(Vec3f(float(lo(0)), float(lo(1)), float(lo(2))), Vec3f(float(hi(0)), float(hi(1)), float(hi(2))),
              gridMin, gridMax);
  return true;
}
