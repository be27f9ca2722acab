#include "core/obj_reader.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <vector>

#include "core/cout_line.h"

namespace igl {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

const char* skipSpaces(const char* s) {
  while (*s && isSpace(*s)) ++s;
  return s;
}

// Up to `wanted` finite numbers after the keyword; returns how many were read.
int readNumbers(const char* s, double* out, int wanted) {
  int count = 0;
  while (count < wanted) {
    s = skipSpaces(s);
    if (!*s) break;
    char* end = nullptr;
    const double value = std::strtod(s, &end);
    if (end == s || !std::isfinite(value)) return -1;
    out[count++] = value;
    s = end;
  }
  return count;
}

// The vertex index of one face corner ("7", "7/2", "7//3", "7/2/3"), zero-based; negative
// indices count back from the vertices read so far. False when it is not a valid vertex.
bool readCorner(const char*& s, long vertexCount, int& index) {
  char* end = nullptr;
  errno = 0;
  const long raw = std::strtol(s, &end, 10);
  if (end == s || errno == ERANGE) return false;
  s = end;
  while (*s && !isSpace(*s)) ++s;  // texture and normal indices are not kept
  const long zeroBased = raw > 0 ? raw - 1 : vertexCount + raw;
  if (raw == 0 || zeroBased < 0 || zeroBased >= vertexCount) return false;
  index = static_cast<int>(zeroBased);
  return true;
}

}  // namespace

bool readOBJ(const std::string& path, Eigen::MatrixXd& V, Eigen::MatrixXd& N, Eigen::MatrixXi& F) {
  V.resize(0, 3);
  N.resize(0, 3);
  F.resize(0, 3);
  std::ifstream file(path);
  std::error_code error;
  // A folder opens as a stream that reads nothing; it would pass for an empty mesh.
  if (!file || std::filesystem::is_directory(path, error)) {
    coutLine("readOBJ: could not open ", path);
    return false;
  }
  std::vector<double> vertices;
  std::vector<double> normals;
  std::vector<int> triangles;
  std::vector<int> corners;
  std::string line;
  long lineNumber = 0;
  auto fail = [&](const char* what) {
    coutLine("readOBJ: ", what, " on line ", lineNumber, " of ", path);
    return false;
  };
  while (std::getline(file, line)) {
    ++lineNumber;
    const char* s = skipSpaces(line.c_str());
    if (s[0] == 'v' && isSpace(s[1])) {
      double xyz[3];
      if (readNumbers(s + 1, xyz, 3) != 3) return fail("a vertex needs three finite coordinates");
      vertices.insert(vertices.end(), xyz, xyz + 3);
    } else if (s[0] == 'v' && s[1] == 'n' && isSpace(s[2])) {
      double xyz[3];
      if (readNumbers(s + 2, xyz, 3) != 3) return fail("a normal needs three finite coordinates");
      normals.insert(normals.end(), xyz, xyz + 3);
    } else if (s[0] == 'f' && isSpace(s[1])) {
      corners.clear();
      const long vertexCount = static_cast<long>(vertices.size() / 3);
      s = skipSpaces(s + 1);
      while (*s) {
        int index = 0;
        if (!readCorner(s, vertexCount, index)) return fail("a face corner names no vertex");
        corners.push_back(index);
        s = skipSpaces(s);
      }
      // Points and lines written as faces have no area to draw or test against.
      for (size_t k = 2; k < corners.size(); ++k) {
        triangles.push_back(corners[0]);
        triangles.push_back(corners[k - 1]);
        triangles.push_back(corners[k]);
      }
    }
  }
  const Eigen::Index vertexRows = static_cast<Eigen::Index>(vertices.size() / 3);
  const Eigen::Index normalRows = static_cast<Eigen::Index>(normals.size() / 3);
  const Eigen::Index faceRows = static_cast<Eigen::Index>(triangles.size() / 3);
  V.resize(vertexRows, 3);
  for (Eigen::Index r = 0; r < vertexRows; ++r)
    for (int c = 0; c < 3; ++c) V(r, c) = vertices[static_cast<size_t>(r * 3 + c)];
  N.resize(normalRows, 3);
  for (Eigen::Index r = 0; r < normalRows; ++r)
    for (int c = 0; c < 3; ++c) N(r, c) = normals[static_cast<size_t>(r * 3 + c)];
  F.resize(faceRows, 3);
  for (Eigen::Index r = 0; r < faceRows; ++r)
    for (int c = 0; c < 3; ++c) F(r, c) = triangles[static_cast<size_t>(r * 3 + c)];
  return true;
}

}  // namespace igl
