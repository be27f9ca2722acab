#pragma once
#include <Eigen/Core>
#include <cstdint>
#include <string>
#include <vector>

#include "core/vec.h"
#include "render/grider.h"

// The far value of the level set, and the bound above which a distance counts as "no value".
constexpr double kLevelsetFar = 1e9;
constexpr double kLevelsetNoValue = 5e8;

// Fast marching of a signed distance over a lattice of `counts` cells of size h (distances in
// the units of h). Both grids are flat, x outermost and z innermost (coreGrider::cellIndex).
// Cells with a distance at most 5e8 are the known front; every cell reachable from it gets a
// distance of the sign of the cell it was reached from, and a unit normal summed from its
// upwind neighbours. `accepted` receives every accepted cell in order of acceptance. The march
// is bounded per axis, so a lattice need not be a cube.
void fastMarch(std::vector<double>& distances, std::vector<Vec3f>& normals,
               const Vec<3, int16_t>& counts, std::vector<GridCell>& accepted, double h);

struct MarchProgress;
// fastMarch reporting each accepted cell to `progress` (when not null) as it goes. `accepted`
// must have room for every cell beforehand when another thread reads it along.
void fastMarchReporting(std::vector<double>& distances, std::vector<Vec3f>& normals,
                        const Vec<3, int16_t>& counts, std::vector<GridCell>& accepted,
                        double h, MarchProgress* progress);

// The signed distance field of the head surface on a lattice, built once from the vertices and
// normals of the head's level-set mesh. Points are in the grid's own box coordinates (the head
// mesh's); the model matrix is not applied to them.
class GLGrider : public VGrider<Vec3f> {
 public:
  explicit GLGrider(const std::string& name);

  // Drops the vertices and all three grids; one empty vertex list per cell.
  void reset() override;
  // The base set-up, then reset.
  void setGrid(const Vec3f& min, const Vec3f& max, const Vec<3, int16_t>& counts) override;

  // V and N: one row of three coordinates per vertex (positions and normals as read from an
  // OBJ). Bins every vertex whose cell lies in the lattice (up to one cell below the minimum
  // counts as cell 0) with its normal made unit; a vertex whose normal is zero or not finite is
  // left out. False, nothing binned, when the row counts
  // differ or a matrix has fewer than three columns.
  bool pushStream(const Eigen::MatrixXd& V, const Eigen::MatrixXd& N);
  // Fills the distance, normal and foot grids: direct values, fast march, foot refinement. With
  // a second core the foot-point walks run beside the march, to the same result.
  void computeLevelset();

  // The phases of computeLevelset, public for measuring them apart.
  // Allocates the grids (no value everywhere) and gives every cell with a vertex in its 3x3x3
  // block the plane distance of its nearest vertex there.
  void computeDirectValues();
  // Walks the foot point of each accepted cell, in order, onto the surface; each walk sees the
  // foot points of the cells before it as walked. Cells outside the lattice are skipped.
  void refineFootPoints(const std::vector<GridCell>& accepted);
  // The walk of one cell: from its centre along its normal, across the tangent planes of empty
  // cells, onto the tangent plane of the nearest vertex. Stops after a few steps when the walk
  // does not settle (a sparse or odd mesh may send it round in circles).
  void refineFootPoint(const GridCell& cell);

  // Signed distance of p off the surface: (p - foot) . normal of p's cell. 1e9 outside the grid
  // or before the level set is computed (normal not written); the stored value (above 5e8) for a
  // cell without one. `normal`, when given, receives the cell's normal.
  float levelsetValue(const Vec3f& p, Vec3f* normal = nullptr) const;
  // Moves p along its cell's normal onto the level `target`; a given direction loses its
  // component along that normal and is made unit. False, p and direction untouched, where the
  // level set has no value.
  bool attachToLevelset(Vec3f& p, Vec3f* direction, float target) const;
  // Moves p outward onto the level `level` when it lies below it (inside the head, or too close
  // to it). True when p moved.
  bool pushOutOfLevelset(Vec3f& p, float level) const;
  // Where a ray first meets the surface (level 0): the distance along `direction` (unit, grid
  // coordinates) from `origin`; -1 when it does not within `reach` or there is no level set;
  // where the ray starts, or comes into the lattice, when it is inside there. Sphere-traces the
  // distances (steps of the distance, at most a cell, at least a tenth of one; cells without a
  // value are crossed a cell at a time), then halves the last step down to a hundredth of a
  // cell: at most ten lookups per cell crossed.
  float rayHit(const Vec3f& origin, const Vec3f& direction, float reach) const;

  // Whether computeLevelset has filled the grids for the current lattice.
  bool hasLevelset() const { return !m_distanceGrid.empty() && m_distanceGrid.size() == cellCount(); }

  // One unit normal per vertex position.
  std::vector<Vec3f> m_vertexNormals;
  // Per cell (coreGrider::cellIndex): signed distance of the centre (1e9 = no value), unit
  // surface normal and surface point.
  std::vector<double> m_distanceGrid;
  std::vector<Vec3f> m_normalGrid;
  std::vector<Vec3f> m_footGrid;

 private:
  struct PackedVertices;
  struct Lattice;
  // False when the lists do not fit the lattice or the vertices.
  bool packVertices(PackedVertices& packed) const;
  void computeDirectValues(const PackedVertices* packed);
  void refineFootPoints(const std::vector<GridCell>& accepted, const PackedVertices& packed);
  void walkWhileMarching(const GridCell* accepted, MarchProgress& progress,
                         const PackedVertices& packed);
  template <typename FootOf>
  bool walkFoot(const Lattice& lattice, const PackedVertices& packed, size_t u,
                const FootOf& footOf, Vec3f& foot) const;
};
