#pragma once
#include <cstdint>
#include <vector>

#include "core/matrix.h"
#include "core/vec.h"

namespace quillax {
class Operation;
class Operation_Point;
}
namespace google::protobuf {
template <typename Element>
class RepeatedPtrField;
}

// A stored point as a vector, and back.
Vec3f toVec3(const quillax::Operation_Point& p);
void setPoint(quillax::Operation_Point* p, const Vec3f& v);
// A stored list (points, pitches, normals) as vectors, and the list replaced by vectors.
using StoredPoints = google::protobuf::RepeatedPtrField<quillax::Operation_Point>;
std::vector<Vec3f> toVec3List(const StoredPoints& list);
void assignPoints(StoredPoints* list, const std::vector<Vec3f>& values);

// Appends a quad of two triangles (six vertices, corners in the plane z = 0) to out: five floats
// each (x, y, 0, u, v) when the texture rect (u, v, width, height) has positive width and height,
// else three (x, y, 0). rect is (x, y, width, height). Returns 6.
int buildQuadVertices(std::vector<float>& out, const Vec4f& rect, const Vec4f& textureRect);

// Appends one curvature profile as 2-D points (x, y pairs) to points, and 2-D normals to normals
// when given: an arc of |n| + 1 steps of 15 degrees, polyline length close to 1, bending one way
// for n >= 0 and the other for n < 0. Below 17 steps of curl the arc is shifted in y by cos(7.5 deg)
// times its radius so that it stays at the stroke (ends of n = 0 on y = 0); for every n the
// profile of -n is the mirror image in y of that of n. Normals point to +y at the arc's middle.
void buildRingMesh(std::vector<float>& points, int32_t n, std::vector<float>* normals);

// Ray against the parallelogram p0 + u (p1 - p0) + v (p2 - p0), u and v in [0, 1] (the whole
// parallelogram, not just the triangle). Returns 1 on a hit with distance along the ray in units
// of direction's length (sign not tested); u and v may be written on a miss too. Double precision.
int intersectRayTriangle(const float* origin, const float* direction, const float* p0, const float* p1,
                         const float* p2, float& distance, float& u, float& v);

// Applies m to a stored stroke in place: points (and mesh vpoints) as points, pitches, normals
// (and mesh vnormals) through the linear part and renormalised. Texture coordinates untouched.
void transformOperationPoints(quillax::Operation& operation, const Matrix4& m);

// Closeness values in [0, 1) to weights summing to 1 (to the largest x with scaleByMax), growing
// sharply towards 1. An empty x leaves out untouched.
void toNormalizedWeights(const std::vector<float>& x, std::vector<float>& out, bool scaleByMax);

// Mean absolute difference |b_i (+ offset_i) - a_i| over the values all lists hold; NaN when none.
float distanceL1(const std::vector<float>& a, const std::vector<float>& b,
                 const std::vector<float>* offset = nullptr);

// Appends the indices of the k smallest values, ascending by value; among equal values the one
// met first in the working order wins (a selection sort, so not always the lower index).
void smallestIndices(const std::vector<float>& values, int32_t k, std::vector<int32_t>& out);

// v rotated about the unit axis k by angle radians (Rodrigues), counter-clockwise looking down k.
Vec3f rotateAroundAxis(const Vec3f& v, const Vec3f& k, float angle);

// a_i += s b_i over the values both lists hold.
void addScaled(std::vector<float>& a, const std::vector<float>& b, float s);
