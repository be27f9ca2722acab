#pragma once
#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/matrix.h"
#include "render/model_render.h"

struct aiMesh;
struct aiMaterial;
namespace quillax {
class Model;
}
class BoundingBox;

// A render object placed by a model matrix, built from a mesh file through Assimp with its
// material's textures, carrying a box child that is drawn while the element is selected.
class ModelElement : public ModelRender {
 public:
  explicit ModelElement(const std::string& name);
  ~ModelElement() override;

  // Identity transform, then the attached child's reset. Flags are left alone.
  void reset() override;
  // Draws with parent matrix P as P x m_modelMatrix, and the box while selected.
  void render(const Matrix4& parent, const Matrix4& viewProjection) override;
  // Builds this element from the first mesh of an OBJ file. False, with "ERROR::ASSIMP::" and
  // the importer's reason, when the file does not import; with a line of its own when the path
  // is not an OBJ file or the mesh has a coordinate that is not finite; silently when the file
  // has no mesh.
  // `flags` are Assimp post-processing flags.
  virtual bool load(const std::string& path, unsigned flags);
  // Carries the model matrix to the attached child. Subclasses extend it.
  virtual void updateTransform();

  void setTransform(const Matrix4& transform);
  void resetTransform();
  // Name, the 16 model-matrix values and the colour (lightness from the fourth component).
  void toProto(quillax::Model* model) const;

  // The attached child as a box, null when there is none (or it is something else).
  BoundingBox* box() const;
  void setAttached(ModelRender* child);

  // Builds this element's geometry, textures and box from one imported mesh. Texture files are
  // relative to `folder`. False when the upload fails.
  bool buildFromMesh(const aiMesh* mesh, const aiMaterial* material, const std::string& folder);

  Matrix4 m_modelMatrix;
  std::unique_ptr<ModelRender> m_attached;
  // What the transform tool may change (bytes read by that tool); elements without them are
  // never picked by the registry.
  std::unique_ptr<std::array<uint8_t, 4>> m_transformFlags;
};

// One child element per mesh of a file, or any children added to it.
class ModelContainer : public ModelElement {
 public:
  explicit ModelContainer(const std::string& name);
  ~ModelContainer() override;

  // Resets every child; the container's own transform is left.
  void reset() override;
  // Selecting a container selects every child.
  void setSelected(bool on) override;
  // The element drawing, then every renderable child under P x m_modelMatrix.
  void render(const Matrix4& parent, const Matrix4& viewProjection) override;
  // A child named name + "_" + i per mesh i. False when the file does not import or no child
  // could be built.
  bool load(const std::string& path, unsigned flags) override;

  void addChild(ModelRender* child);

  std::vector<std::unique_ptr<ModelRender>> m_children;
};

// The folder of a file path without the final "/"; "." for a bare file name.
std::string folderOf(const std::string& path);
// The folder of a file path with its final "/"; "./" for a bare file name.
std::string folderWithSlash(const std::string& path);

// The vertex layout a mesh gets: which parts it carries and the shader row that draws them.
struct MeshLayout {
  bool texCoords = false;
  bool normals = false;
  bool tangents = false;  // tangents and bitangents, only with coordinates and normals
  uint32_t shaderIndex = 0;
  uint32_t floatsPerVertex = 3;
};
MeshLayout meshLayout(bool hasTexCoords, bool hasNormals, bool hasTangents, bool hasBitangents);
