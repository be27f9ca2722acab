#pragma once
#include <Eigen/Core>
#include <string>

#include "core/vec.h"
#include "render/grider.h"

// The signed distance field of the head surface on a lattice. Placeholder until the level set is
// built: it bins nothing and computes nothing, so every query finds no value.
class GLGrider : public VGrider<Vec3f> {
 public:
  explicit GLGrider(const std::string& name) : VGrider<Vec3f>(name) {}

  // Vertex positions and normals, one row of three coordinates each (as read from an OBJ).
  bool pushStream(const Eigen::MatrixXd& V, const Eigen::MatrixXd& N) {
    (void)V;
    (void)N;
    return false;
  }
  void computeLevelset() {}
};
