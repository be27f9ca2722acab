#pragma once
#include <Eigen/Core>
#include <string>

// Wavefront OBJ reading for the head's level-set and mirror meshes, with the semantics of the
// igl function of the same name (that library is not packaged here, so this is our own).
namespace igl {

// Reads the "v", "vn" and "f" lines of an OBJ file. V: one row (x, y, z) per "v" line (a fourth
// coordinate is dropped); N: one row per "vn" line, in file order, not matched to vertices;
// F: triangles of zero-based vertex indices, polygons fan-triangulated from their first corner.
// Face corners may be "v", "v/vt", "v//vn" or "v/vt/vn"; negative indices count from the end.
// False, with a message, when the file cannot be opened or a line is malformed (too few
// coordinates, a face index outside the vertices read so far); the outputs are then empty.
bool readOBJ(const std::string& path, Eigen::MatrixXd& V, Eigen::MatrixXd& N, Eigen::MatrixXi& F);

}  // namespace igl
