#pragma once
#include <Eigen/Core>
#include <string>
#include <vector>

// Wavefront OBJ reading for the head's level-set and mirror meshes, with the semantics of the
// igl functions of the same names (that library is not packaged here, so these are our own).
namespace igl {

// Reads the "v", "vn" and "f" lines of an OBJ file. V: one row (x, y, z) per "v" line (a fourth
// coordinate is dropped); N: one row per "vn" line, in file order, not matched to vertices;
// F: triangles of zero-based vertex indices, polygons fan-triangulated from their first corner.
// Face corners may be "v", "v/vt", "v//vn" or "v/vt/vn"; negative indices count from the end.
// False, with a message, when the file cannot be opened or a line is malformed (too few
// coordinates, a face index outside the vertices read so far); the outputs are then empty.
bool readOBJ(const std::string& path, Eigen::MatrixXd& V, Eigen::MatrixXd& N, Eigen::MatrixXi& F);

// Rows of equal length into a matrix. False when the rows differ in length (M left alone);
// an empty list gives a 0 x 0 matrix.
template <typename T, typename Derived>
bool list_to_matrix(const std::vector<std::vector<T>>& rows, Eigen::PlainObjectBase<Derived>& M) {
  if (rows.empty()) {
    M.resize(0, 0);
    return true;
  }
  const size_t columns = rows.front().size();
  for (const std::vector<T>& row : rows)
    if (row.size() != columns) return false;
  M.resize(static_cast<Eigen::Index>(rows.size()), static_cast<Eigen::Index>(columns));
  for (size_t i = 0; i < rows.size(); ++i)
    for (size_t j = 0; j < columns; ++j)
      M(static_cast<Eigen::Index>(i), static_cast<Eigen::Index>(j)) =
          static_cast<typename Derived::Scalar>(rows[i][j]);
  return true;
}

}  // namespace igl
