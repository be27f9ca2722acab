#pragma once
#include <Eigen/Core>

#include "core/vec.h"

// The shipped head's level-set mesh (one row per vertex: V positions, N normals) and the grids'
// box around its head mesh, read from the repo's assets without GL. False when a mesh cannot be
// read.
bool readShippedHeadLevelset(Eigen::MatrixXd& V, Eigen::MatrixXd& N, Vec3f& gridMin, Vec3f& gridMax);
