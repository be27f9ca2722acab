#include "render/model_element.h"

#include <assimp/scene.h>

#include <assimp/Importer.hpp>
#include <cctype>
#include <cmath>
#include <exception>
#include <iostream>

#include "core/cout_line.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/grider.h"
#include "render/texture.h"

namespace {

// Holds an importer (which owns the scene) and the meshes of the file in node order, each with
// the material its index names.
struct ImportedMeshes {
  Assimp::Importer importer;
  std::vector<std::pair<const aiMesh*, const aiMaterial*>> meshes;
};

void collectMeshes(const aiScene* scene, const aiNode* node, ImportedMeshes& out) {
  for (unsigned i = 0; i < node->mNumMeshes; ++i) {
    const unsigned meshIndex = node->mMeshes[i];
    if (meshIndex >= scene->mNumMeshes || !scene->mMeshes[meshIndex]) continue;
    const aiMesh* mesh = scene->mMeshes[meshIndex];
    const aiMaterial* material =
        mesh->mMaterialIndex < scene->mNumMaterials ? scene->mMaterials[mesh->mMaterialIndex]
                                                    : nullptr;
    out.meshes.emplace_back(mesh, material);
  }
  for (unsigned i = 0; i < node->mNumChildren; ++i)
    if (node->mChildren[i]) collectMeshes(scene, node->mChildren[i], out);
}

bool hasObjEnding(const std::string& path) {
  if (path.size() < 4) return false;
  std::string ending = path.substr(path.size() - 4);
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return ending == ".obj";
}

// Every mesh the program draws is OBJ, whose size follows the file's. Other formats are refused
// before the importer sees them: some trust counts in their headers and allocate whatever a
// damaged file claims.
bool isObjMesh(const std::string& path) {
  if (hasObjEnding(path)) return true;
  coutLine("error: ", path, " is not an OBJ mesh; only OBJ meshes are read");
  return false;
}

// A non-finite coordinate hides the mesh and poisons its box and everything placed from it.
bool hasFiniteVertices(const aiMesh* mesh, const std::string& path) {
  for (unsigned i = 0; i < mesh->mNumVertices; ++i) {
    const aiVector3D& p = mesh->mVertices[i];
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) {
      coutLine("error: ", path, " has a vertex that is not finite");
      return false;
    }
  }
  return true;
}

// Reads the file; false (with the importer's reason) when it gives no usable scene.
bool importMeshes(const std::string& path, unsigned flags, ImportedMeshes& out) {
  if (!isObjMesh(path)) return false;
  const aiScene* scene = nullptr;
  std::string error;
  try {
    scene = out.importer.ReadFile(path, flags);
    if (!scene) error = out.importer.GetErrorString();
  } catch (const std::exception& e) {
    scene = nullptr;
    error = e.what();
  } catch (...) {
    scene = nullptr;
    error = "unknown exception";
  }
  if (!scene || (scene->mFlags & AI_SCENE_FLAGS_INCOMPLETE) || !scene->mRootNode) {
    if (scene && error.empty()) error = out.importer.GetErrorString();
    coutLine("ERROR::ASSIMP::", error);
    return false;
  }
  collectMeshes(scene, scene->mRootNode, out);
  return true;
}

}  // namespace

std::string folderOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  // Texture names are joined as folder + "/" + name; a bare file name lives in ".".
  return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

std::string folderWithSlash(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

MeshLayout meshLayout(bool hasTexCoords, bool hasNormals, bool hasTangents, bool hasBitangents) {
  MeshLayout layout;
  if (hasTangents && hasBitangents && hasTexCoords && hasNormals) {
    // Tangent frames only with the coordinates and normals of the face program's layout.
    layout.texCoords = layout.normals = layout.tangents = true;
    layout.shaderIndex = 8;
  } else if (hasNormals && hasTexCoords) {
    layout.texCoords = layout.normals = true;
    layout.shaderIndex = 5;
  } else if (hasNormals) {
    layout.normals = true;
    layout.shaderIndex = 4;
  } else if (hasTexCoords) {
    layout.texCoords = true;
    layout.shaderIndex = 2;
  }
  layout.floatsPerVertex = 3 + (layout.texCoords ? 2 : 0) + (layout.normals ? 3 : 0) +
                           (layout.tangents ? 6 : 0);
  return layout;
}

// ---- ModelElement ----

ModelElement::ModelElement(const std::string& name) : ModelRender(name) {}

ModelElement::~ModelElement() = default;

void ModelElement::reset() {
  resetTransform();
  if (m_attached) m_attached->reset();
}

void ModelElement::render(const Matrix4& parent, const Matrix4& viewProjection) {
  setFlag2(true);
  Matrix4 model;
  multiplyMatrix4(parent, model, m_modelMatrix);
  ModelRender::render(model, viewProjection);
  // The box carries this element's matrix as its own, so it is drawn under the parent only.
  if (isSelected() && m_attached) m_attached->render(parent, viewProjection);
}

void ModelElement::updateTransform() {
  if (ModelElement* child = dynamic_cast<ModelElement*>(m_attached.get())) {
    child->m_modelMatrix = m_modelMatrix;
    child->updateTransform();
  }
}

void ModelElement::setTransform(const Matrix4& transform) {
  m_modelMatrix = transform;
  updateTransform();
}

void ModelElement::resetTransform() {
  m_modelMatrix = Matrix4::identity();
  updateTransform();
}

void ModelElement::toProto(quillax::Model* model) const {
  model->set_obj_name(m_name);
  quillax::FloatList* transforms = model->mutable_transforms();
  transforms->clear_v();
  for (int i = 0; i < 16; ++i) transforms->add_v(m_modelMatrix[i]);
  *model->mutable_color() = toColorMessage(m_color);
}

BoundingBox* ModelElement::box() const { return dynamic_cast<BoundingBox*>(m_attached.get()); }

void ModelElement::setAttached(ModelRender* child) { m_attached.reset(child); }

bool ModelElement::load(const std::string& path, unsigned flags) {
  ImportedMeshes imported;
  if (!importMeshes(path, flags, imported)) return false;
  if (imported.meshes.empty()) return false;
  if (!hasFiniteVertices(imported.meshes[0].first, path)) return false;
  return buildFromMesh(imported.meshes[0].first, imported.meshes[0].second, folderOf(path));
}

bool ModelElement::buildFromMesh(const aiMesh* mesh, const aiMaterial* material,
                                 const std::string& folder) {
  BoundingBox* box = new BoundingBox(m_name);
  const MeshLayout layout =
      meshLayout(mesh->HasTextureCoords(0), mesh->HasNormals(),
                 mesh->mTangents != nullptr, mesh->mBitangents != nullptr);
  std::vector<float> vertices;
  vertices.reserve(static_cast<size_t>(mesh->mNumVertices) * layout.floatsPerVertex);
  for (unsigned i = 0; i < mesh->mNumVertices; ++i) {
    const aiVector3D& p = mesh->mVertices[i];
    vertices.insert(vertices.end(), {p.x, p.y, p.z});
    box->widen(Vec3f(p.x, p.y, p.z));
    if (layout.texCoords) {
      const aiVector3D& t = mesh->mTextureCoords[0][i];
      vertices.insert(vertices.end(), {t.x, t.y});
    }
    if (layout.normals) {
      const aiVector3D& n = mesh->mNormals[i];
      vertices.insert(vertices.end(), {n.x, n.y, n.z});
    }
    if (layout.tangents) {
      const aiVector3D& t = mesh->mTangents[i];
      const aiVector3D& b = mesh->mBitangents[i];
      vertices.insert(vertices.end(), {t.x, t.y, t.z, b.x, b.y, b.z});
    }
  }
  std::vector<uint32_t> indices;
  indices.reserve(static_cast<size_t>(mesh->mNumFaces) * 3);
  for (unsigned f = 0; f < mesh->mNumFaces; ++f) {
    const aiFace& face = mesh->mFaces[f];
    indices.insert(indices.end(), face.mIndices, face.mIndices + face.mNumIndices);
  }

  TextureSlots textures;
  if (g_textureManager && material)
    g_textureManager->loadMaterialTextures(material, folder, textures);

  const bool uploaded = uploadGeometry(vertices, layout.shaderIndex, GL_TRIANGLES, &indices);
  m_textures = textures;
  m_color = Vec4f(0.8f, 0.3f, 0.3f, 1.0f);
  box->buildGeometry();
  box->m_modelMatrix = m_modelMatrix;  // the new box lands where the element stands
  box->updateTransform();
  setAttached(box);
  return uploaded;
}

// ---- ModelContainer ----

ModelContainer::ModelContainer(const std::string& name) : ModelElement(name) {}

ModelContainer::~ModelContainer() = default;

void ModelContainer::reset() {
  for (auto& child : m_children) child->reset();
}

void ModelContainer::setSelected(bool on) {
  ModelElement::setSelected(on);
  for (auto& child : m_children) child->setSelected(on);
}

void ModelContainer::render(const Matrix4& parent, const Matrix4& viewProjection) {
  ModelElement::render(parent, viewProjection);
  Matrix4 model;
  multiplyMatrix4(parent, model, m_modelMatrix);
  for (auto& child : m_children)
    if (child->isRenderable()) child->render(model, viewProjection);
}

bool ModelContainer::load(const std::string& path, unsigned flags) {
  ImportedMeshes imported;
  if (!importMeshes(path, flags, imported)) return false;
  const std::string folder = folderOf(path);
  bool built = false;
  for (size_t i = 0; i < imported.meshes.size(); ++i) {
    if (!hasFiniteVertices(imported.meshes[i].first, path)) continue;
    ModelElement* child = new ModelElement(m_name + "_" + std::to_string(i));
    built = child->buildFromMesh(imported.meshes[i].first, imported.meshes[i].second, folder) ||
            built;
    addChild(child);
  }
  return built;
}

void ModelContainer::addChild(ModelRender* child) { m_children.emplace_back(child); }
