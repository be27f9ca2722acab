#pragma once
// The shipped head's meshes and placement for the benchmarks, read once from the repo's assets.
#include <algorithm>
#include <string>

#include "core/matrix.h"
#include "core/obj_reader.h"
#include "core/text_file.h"
#include "quillax.pb.h"
#include "render/head_model.h"

struct ShippedHead {
  Eigen::MatrixXd V, N;  // the level-set mesh
  Vec3f gridMin, gridMax;
  Matrix4 placement;  // from headTransform.txt
  bool ok = false;
};

// From the source tree's path given at build time (__FILE__ may be relative under ccache).
inline std::string shippedHeadFolder() { return TRESSLET_SOURCE_DIR "/assets/models/defaultHead/"; }

inline const ShippedHead& shippedHead() {
  static ShippedHead* data = [] {
    ShippedHead* d = new ShippedHead;
    Eigen::MatrixXd headV, headN;
    Eigen::MatrixXi F;
    const std::string folder = shippedHeadFolder();
    if (!igl::readOBJ(folder + "head.obj", headV, headN, F) ||
        !igl::readOBJ(folder + "head_levelset.obj", d->V, d->N, F) || headV.rows() == 0)
      return d;
    Vec3f lo(1e9f), hi(-1e9f);
    for (Eigen::Index r = 0; r < headV.rows(); ++r)
      for (int a = 0; a < 3; ++a) {
        lo[a] = std::min(lo[a], static_cast<float>(headV(r, a)));
        hi[a] = std::max(hi[a], static_cast<float>(headV(r, a)));
      }
    headGridBox(lo, hi, d->gridMin, d->gridMax);
    quillax::Model stored;
    if (ReadProtoFromTextFile((folder + "headTransform.txt").c_str(), &stored))
      floatListToMatrix(stored.transforms(), d->placement);
    d->ok = true;
    return d;
  }();
  return *data;
}
