#include "render/head_model.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <map>

#include "core/cout_line.h"
#include "core/obj_reader.h"
#include "core/text_file.h"
#include "render/grider.h"
#include "render/level_set.h"
#include "render/sample_grid.h"
#include "render/texture.h"

namespace {

const unsigned kTriangulate = 8;  // aiProcess_Triangulate
const int16_t kLevelsetCells = 60;
const int16_t kHairGridCells = 50;

std::map<int, GridReleaseListener>& gridListeners() {
  static std::map<int, GridReleaseListener> listeners;
  return listeners;
}

bool allFinite(const Matrix4& m) {
  for (int i = 0; i < 16; ++i)
    if (!std::isfinite(m[i])) return false;
  return true;
}

void followHead(ModelElement* companion, const Matrix4& head) {
  if (!companion) return;
  companion->m_modelMatrix = head;
  companion->updateTransform();
}

}  // namespace

// ---- grid release listeners ----

int addGridReleaseListener(GridReleaseListener listener) {
  static int nextHandle = 1;
  const int handle = nextHandle++;
  gridListeners()[handle] = std::move(listener);
  return handle;
}

void removeGridReleaseListener(int handle) { gridListeners().erase(handle); }

void notifyGridRelease(coreGrider* grid) {
  if (!grid) return;
  // A listener may unregister itself while being told.
  const std::map<int, GridReleaseListener> listeners = gridListeners();
  for (const auto& entry : listeners)
    if (entry.second) entry.second(grid);
}

// ---- placement helpers ----

bool floatListToMatrix(const quillax::FloatList& list, Matrix4& matrix) {
  if (list.v_size() != 16) return false;
  for (int i = 0; i < 16; ++i) matrix[i] = list.v(i);
  return true;
}

Matrix4 defaultHeadPlacement(const Vec3f& min, const Vec3f& max) {
  bool usable = true;
  for (int a = 0; a < 3; ++a)
    usable = usable && std::isfinite(min[a]) && std::isfinite(max[a]) && min[a] <= max[a];
  double scale = 1.0;
  double centre[3] = {0.0, 0.0, 0.0};
  if (usable) {
    double squared = 0.0;
    for (int a = 0; a < 3; ++a) {
      const double extent = static_cast<double>(max[a]) - min[a];
      squared += extent * extent;
      centre[a] = (static_cast<double>(min[a]) + max[a]) * 0.5;
    }
    const double diagonal = std::sqrt(squared);
    if (diagonal > 0.0 && std::isfinite(0.7 / diagonal)) scale = 0.7 / diagonal;
  }
  const double target[3] = {0.0, 1.0, 0.0};
  auto build = [&](double k) {
    Matrix4 m;
    for (int a = 0; a < 3; ++a) {
      m.at(a, a) = static_cast<float>(k);
      m.at(a, 3) = static_cast<float>(target[a] - k * centre[a]);
    }
    return m;
  };
  Matrix4 placement = build(scale);
  // A scale that blows the translation up would store inf or NaN in "headTransform.txt".
  if (!allFinite(placement)) placement = build(1.0);
  return placement;
}

void headGridBox(const Vec3f& min, const Vec3f& max, Vec3f& gridMin, Vec3f& gridMax) {
  Vec3f extent = max - min;
  const float side = 1.5f * std::max({extent[0], extent[1], extent[2]});
  for (int a = 0; a < 3; ++a) {
    const float margin = (side - extent[a]) * 0.5f;
    const float raise = a == 1 ? 0.2f * side : 0.0f;
    gridMin[a] = min[a] - margin + raise;
    gridMax[a] = max[a] + margin + raise;
  }
}

// ---- Mirrow ----

Mirrow::Mirrow(const std::string& name) : ModelElement(name) {}

void Mirrow::updateTransform() {
  ModelElement::updateTransform();
  m_worldPoint = transformPoint(m_modelMatrix, m_localPoint);
  m_worldNormal = normalized(transformDirection(m_modelMatrix, m_localNormal));
}

void Mirrow::reflect(const float* in, float* out) const {
  const Vec3f& q = m_worldPoint;
  const Vec3f& m = m_worldNormal;
  const Vec3f p(in[0], in[1], in[2]);
  const Vec3f a(in[3], in[4], in[5]);
  const Vec3f b(in[6], in[7], in[8]);
  const Vec3f p2 = p - m * (2.0f * dot(p - q, m));
  const Vec3f a2 = -(a - m * (2.0f * dot(a, m)));
  const Vec3f b2 = b - m * (2.0f * dot(b, m));
  for (int i = 0; i < 3; ++i) {
    out[i] = p2[i];
    out[3 + i] = a2[i];
    out[6 + i] = b2[i];
  }
}

// ---- HeadModel ----

HeadModel::HeadModel(const std::string& descriptionPath) : ModelElement(descriptionPath) {
  m_forcedPass = true;     // the head also casts shadows
  m_cullBackFaces = true;  // a closed mesh: its back faces are never seen
}

HeadModel::~HeadModel() {
  releaseGrids();
  delete m_mirror;
}

void HeadModel::releaseGrids() {
  notifyGridRelease(m_levelsetGrider);
  notifyGridRelease(m_hairGrider);
  delete m_levelsetGrider;
  delete m_hairGrider;
  m_levelsetGrider = nullptr;
  m_hairGrider = nullptr;
}

void HeadModel::reset() {
  ModelElement::reset();
  if (m_hairGrider) m_hairGrider->reset();
}

void HeadModel::updateTransform() {
  ModelElement::updateTransform();
  followHead(m_levelsetGrider, m_modelMatrix);
  followHead(m_hairGrider, m_modelMatrix);
  followHead(m_mirror, m_modelMatrix);
}

float HeadModel::rayHit(const Matrix4& parent, const Vec3f& origin, const Vec3f& direction,
                        float reach) const {
  if (!m_levelsetGrider) return -1.0f;
  Matrix4 placed, inverse;
  multiplyMatrix4(parent, placed, m_modelMatrix);
  invertAffineMatrix4ByLU(placed, inverse);
  // The level set lies in the mesh's own units: march there and scale the distance back.
  const Vec3f along = transformDirection(inverse, direction);
  const float scale = length(along);
  if (!(scale > 0.0f) || !std::isfinite(scale)) return -1.0f;
  const float t =
      m_levelsetGrider->rayHit(transformPoint(inverse, origin), along / scale, reach * scale);
  return t < 0.0f ? -1.0f : t / scale;
}

bool HeadModel::load(const std::string& descriptionPath, unsigned flags) {
  m_description.Clear();
  if (!ReadProtoFromTextFile(descriptionPath.c_str(), &m_description)) {
    coutLine("error: fail to load textfile ", descriptionPath, ".");
    return false;
  }
  // Without it the mesh path would be the folder, and the failure would blame the folder.
  if (m_description.head_model().empty()) {
    coutLine("error: the head description ", descriptionPath, " names no head_model");
    return false;
  }
  const std::string folder = folderWithSlash(descriptionPath);
  const std::string meshPath = folder + m_description.head_model();
  if (!ModelElement::load(meshPath, flags)) {
    coutLine("error: reading ", meshPath);
    return false;
  }
  if (!loadTextures(folder))
    coutLine("error: there much be at least a diffuse texture map for the head model");
  if (!loadMirror(folder)) coutLine("no mirror for head found!");
  if (!loadLevelset(folder))
    coutLine("load levelset model fail, the attach feature will be disabled!");
  return true;
}

bool HeadModel::loadTextures(const std::string& folder) {
  struct Map {
    const std::string& file;
    int type;
  };
  const Map maps[] = {
      {m_description.diff_albedo_map(), 1},  {m_description.diff_rednormal_map(), 6},
      {m_description.spec_albedo_map(), 1},  {m_description.spec_normal_map(), 6},
      {m_description.disp_map(), 9},
  };
  TextureSlots slots;
  bool diffuseLoaded = false;
  for (size_t i = 0; i < sizeof(maps) / sizeof(maps[0]) && g_textureManager; ++i) {
    const Texture* texture = g_textureManager->loadTexture(folder + maps[i].file, maps[i].type);
    if (!texture) continue;
    if (!maps[i].file.empty()) reportUnloadedImage(*texture, "head texture map");
    // A texture that did not read keeps its place with id 0, so later maps keep their sampler
    // numbers and the program sees that map as absent.
    slots.addTexture(texture->m_id, texture->m_typeName);
    if (i == 0) diffuseLoaded = texture->m_id != 0;
  }
  m_textures = slots;
  return diffuseLoaded;
}

bool HeadModel::loadMirror(const std::string& folder) {
  const std::string path = folder + "mirror.obj";
  Eigen::MatrixXd V, N;
  Eigen::MatrixXi F;
  if (!igl::readOBJ(path, V, N, F) || V.rows() != 4 || N.rows() < 1) return false;
  // A plane without a direction, or off at infinity, reflects strokes into NaN.
  if (!V.allFinite() || !N.row(0).allFinite() || N.row(0).squaredNorm() == 0.0) return false;

  delete m_mirror;
  m_mirror = new Mirrow("headMirrow");
  m_mirror->load(path, kTriangulate);
  m_mirror->m_color = Vec4f(0.8f, 0.8f, 0.8f, 1.0f);
  m_mirror->m_opacity = 0.3f;
  Vec3f point;
  for (int r = 0; r < 4; ++r)
    for (int a = 0; a < 3; ++a) point[a] += static_cast<float>(V(r, a) / 4.0);
  const Vec3f normal(static_cast<float>(N(0, 0)), static_cast<float>(N(0, 1)),
                     static_cast<float>(N(0, 2)));
  m_mirror->m_localPoint = m_mirror->m_worldPoint = point;
  m_mirror->m_localNormal = m_mirror->m_worldNormal = normal;
  m_mirror->setTransform(m_modelMatrix);
  m_mirror->setRenderable(false);
  return true;
}

bool HeadModel::loadLevelset(const std::string& folder) {
  releaseGrids();
  // An absent field would name the folder itself.
  if (m_description.head_levelset_model().empty()) return false;
  Eigen::MatrixXd V, N;
  Eigen::MatrixXi F;
  if (!igl::readOBJ(folder + m_description.head_levelset_model(), V, N, F)) return false;
  const BoundingBox* headBox = box();
  if (!headBox) return false;

  Vec3f gridMin, gridMax;
  headGridBox(headBox->m_min, headBox->m_max, gridMin, gridMax);
  m_levelsetGrider = new GLGrider("levelsetGrider");
  m_levelsetGrider->setGrid(gridMin, gridMax,
                            Vec<3, int16_t>(kLevelsetCells, kLevelsetCells, kLevelsetCells));
  m_levelsetGrider->pushStream(V, N);
  if (m_levelsetGrider->m_vertices.empty()) {
    // Nothing to march from: an empty level set would only look like one.
    releaseGrids();
    return false;
  }
  m_levelsetGrider->computeLevelset();
  m_levelsetGrider->buildGeometry();
  m_hairGrider = new EGrider("hairGrider");
  m_hairGrider->setGrid(gridMin, gridMax,
                        Vec<3, int16_t>(kHairGridCells, kHairGridCells, kHairGridCells));
  // Grids built after the head was placed start where the head stands.
  followHead(m_levelsetGrider, m_modelMatrix);
  followHead(m_hairGrider, m_modelMatrix);
  return true;
}

bool HeadModel::loadPlacement(Matrix4& transform, const std::string& path) {
  quillax::Model stored;
  const OwnFileRead read = readOwnTextFile(path, &stored);
  if (read == OwnFileRead::Read) {
    Matrix4 placement;
    if (floatListToMatrix(stored.transforms(), placement) && allFinite(placement)) {
      transform = placement;
      return true;
    }
  }
  const BoundingBox* headBox = box();
  transform = headBox ? defaultHeadPlacement(headBox->m_min, headBox->m_max)
                      : defaultHeadPlacement(Vec3f(1e9f), Vec3f(-1e9f));
  // Only a missing file is written: one that is there holds what the user last placed or wrote.
  if (read == OwnFileRead::Kept) {
    reportKeptFile("loadPlacement", path, "default placement");
    return true;
  }
  if (read == OwnFileRead::Read) {
    coutLine("loadPlacement: ", path,
             " does not hold 16 finite values; using the default placement and leaving the file as "
             "it is");
    return true;
  }
  quillax::FloatList* values = stored.mutable_transforms();
  values->clear_v();
  for (int i = 0; i < 16; ++i) values->add_v(transform[i]);
  WriteProtoToTextFile(stored, path.c_str());
  return true;
}
