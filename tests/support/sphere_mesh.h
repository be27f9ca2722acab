#pragma once
#include <Eigen/Core>
#include <cmath>

// A sphere of radius r about the origin sampled by n points of a Fibonacci spiral, with outward
// unit normals: a level-set mesh whose distances are known.
inline void sphereMesh(int n, double r, Eigen::MatrixXd& V, Eigen::MatrixXd& N) {
  V.resize(n, 3);
  N.resize(n, 3);
  const double golden = M_PI * (3.0 - std::sqrt(5.0));
  for (int i = 0; i < n; ++i) {
    const double y = 1.0 - 2.0 * (i + 0.5) / n;
    const double ring = std::sqrt(1.0 - y * y);
    N.row(i) << ring * std::cos(golden * i), y, ring * std::sin(golden * i);
    V.row(i) = N.row(i) * r;
  }
}
