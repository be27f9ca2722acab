#pragma once
#include <functional>
#include <string>

#include "core/matrix.h"
#include "core/vec.h"
#include "quillax.pb.h"
#include "render/model_element.h"

class coreGrider;
class GLGrider;
class EGrider;

// The plane strokes are mirrored across: a quad mesh whose plane point and normal follow the
// element's transform.
class Mirrow : public ModelElement {
 public:
  explicit Mirrow(const std::string& name);

  // Also carries the plane into world coordinates (unit normal).
  void updateTransform() override;
  // Mirrors a frame of nine floats (a point, then two axis vectors) across the world plane. The
  // first axis is reversed after mirroring so the frame keeps its handedness for strokes.
  // in and out may be the same array.
  void reflect(const float* in, float* out) const;

  Vec3f m_localPoint;
  Vec3f m_localNormal;
  Vec3f m_worldPoint;
  Vec3f m_worldNormal;
};

// The head hair is drawn on: its mesh and textures, the level set of its surface, the grid of
// stroke samples and the mirror plane, all built from files beside its description file.
class HeadModel : public ModelElement {
 public:
  // Named by the path of its description file.
  explicit HeadModel(const std::string& descriptionPath);
  ~HeadModel() override;

  // The element reset, then the hair grid's (its sample registrations are dropped).
  void reset() override;
  // Reads the description (a quillax.FaceTextureMaps) and the head mesh; false when either
  // cannot be read or the description names no head_model. Textures, mirror and level set are optional: their absence is reported and
  // the load is still true.
  bool load(const std::string& descriptionPath, unsigned flags) override;
  // Carries the head's transform to the level set, the hair grid and the mirror.
  void updateTransform() override;

  // The five maps of the description into the head's texture set; a named map that does not
  // load is reported with its path. False when the diffuse albedo map did not load.
  bool loadTextures(const std::string& folder);
  // folder + "mirror.obj": a quad of exactly four finite vertices whose first normal is finite
  // and not zero. False (old mirror kept) when there is none.
  bool loadMirror(const std::string& folder);
  // The level set (60 cells a side) and the hair grid (50) over the head's grid box, from the
  // description's level-set mesh. False, and no grids, when that mesh cannot be read or none of
  // its vertices (with a usable normal) lies in the grid.
  bool loadLevelset(const std::string& folder);
  // The placement stored in `path` (a quillax.Model with 16 finite transform values), else the
  // default placement. The default is written to `path` only when nothing is there; a file that
  // does not read or holds no usable transform is reported and left as it is. Always true.
  bool loadPlacement(Matrix4& transform, const std::string& path);
  // Where a ray (metres, the space `parent` places the head in) first meets the level-set
  // surface of the head drawn under parent x its transform: the distance along `direction`
  // (unit), or -1 when it does not within `reach` or the head has no level set.
  float rayHit(const Matrix4& parent, const Vec3f& origin, const Vec3f& direction,
               float reach) const;

  GLGrider* m_levelsetGrider = nullptr;
  EGrider* m_hairGrider = nullptr;
  Mirrow* m_mirror = nullptr;
  quillax::FaceTextureMaps m_description;

 private:
  // Tells the grid listeners, then frees both grids.
  void releaseGrids();
};

// False unless the list holds exactly 16 values; then the matrix is those values, column-major.
bool floatListToMatrix(const quillax::FloatList& list, Matrix4& matrix);

// A head box scaled to a diagonal of 0.7 with its centre moved to (0, 1, 0). A box without a
// usable diagonal (flat to a point, empty, not finite) keeps a scale of 1.
Matrix4 defaultHeadPlacement(const Vec3f& min, const Vec3f& max);

// The grids' box around a head box: a cube of side 1.5 x its largest extent, centred on it and
// raised along y by a fifth of that side.
void headGridBox(const Vec3f& min, const Vec3f& max, Vec3f& gridMin, Vec3f& gridMax);

// Code that keeps pointers to a head's grids (the brush tool's history keeps the hair grid)
// registers here. A listener is called with each grid just before it is freed (a new head, a
// reload, the registry's end) while the grid is still whole, and must let go of it.
using GridReleaseListener = std::function<void(coreGrider* grid)>;
// Returns a handle for removeGridReleaseListener.
int addGridReleaseListener(GridReleaseListener listener);
void removeGridReleaseListener(int handle);
void notifyGridRelease(coreGrider* grid);
