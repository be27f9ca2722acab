#include "render/modeler.h"

#include "core/settings.h"
#include "quillax.pb.h"
#include "render/camera.h"
#include "render/grider.h"
#include "render/head_model.h"
#include "render/light.h"

Modeler* g_modeler = nullptr;

namespace {

const unsigned kHeadImportFlags = 41;  // calculate tangent space, triangulate, generate normals

}  // namespace

HeadModel* findHeadModel(const Modeler* modeler) {
  if (!modeler) return nullptr;
  const auto it = modeler->m_models.find(0);
  if (it == modeler->m_models.end()) return nullptr;
  return dynamic_cast<HeadModel*>(it->second);
}

HeadModel* findHeadModel() { return findHeadModel(g_modeler); }

Modeler::Modeler() : m_lightManager(new LightManager()), m_cameraManager(new CameraManager()) {}

Modeler::~Modeler() {
  for (auto& entry : m_models) delete entry.second;
  m_models.clear();
  m_cameraManager->clear();
  delete m_cameraManager;
  m_cameraManager = nullptr;
  delete m_lightManager;
  m_lightManager = nullptr;
}

HeadModel* Modeler::loadHead(const std::string& descriptionPath) {
  const auto existing = m_models.find(0);
  if (existing != m_models.end()) {
    HeadModel* head = dynamic_cast<HeadModel*>(existing->second);
    if (head && head->m_name == descriptionPath) {
      head->setRenderable(true);
      return head;
    }
    delete existing->second;  // a head frees its grids after telling their users
    m_models.erase(existing);
  }

  HeadModel* head = new HeadModel(descriptionPath);
  if (!head->load(descriptionPath, kHeadImportFlags)) {
    delete head;
    return nullptr;
  }
  head->setRenderable(true);
  m_models[0] = head;

  Matrix4 placement;
  head->loadPlacement(placement, folderWithSlash(descriptionPath) + "headTransform.txt");
  if (m_transformTool) m_transformTool->pushTransform(placement);
  applyTransform(placement);
  return head;
}

void Modeler::applyTransform(const Matrix4& transform) {
  for (auto& entry : m_models) {
    ModelElement* model = entry.second;
    if (!model) continue;
    multiplyMatrix4(transform, model->m_modelMatrix, model->m_modelMatrix);
    model->updateTransform();
  }
}

Matrix4 Modeler::sceneGrabMatrix() const {
  if (m_transformTool && m_transformTool->grabEngaged() && !m_transformTool->pickedElement())
    return m_transformTool->grabMatrix();
  return Matrix4::identity();
}

void Modeler::renderModels(const Matrix4& viewProjection) {
  const Matrix4 parent = sceneGrabMatrix();
  for (auto& entry : m_models) {
    ModelElement* model = entry.second;
    if (model && model->isRenderable()) model->render(parent, viewProjection);
  }
}

void Modeler::grabNearest() {
  grabNearest(Vec3f(g_drawingHandMatrix[0], g_drawingHandMatrix[1], g_drawingHandMatrix[2]));
}

void Modeler::grabNearest(const Vec3f& hand) {
  if (updateCurrentToolId() != TOOL_MOVE) return;
  if (m_transformTool && m_transformTool->grabEngaged()) return;

  // Models in key order, then the lights, then the cameras.
  std::vector<ModelElement*> candidates;
  for (auto& entry : m_models)
    if (entry.second) candidates.push_back(entry.second);
  if (m_lightManager)
    candidates.insert(candidates.end(), m_lightManager->m_lights.begin(), m_lightManager->m_lights.end());
  if (m_cameraManager)
    candidates.insert(candidates.end(), m_cameraManager->m_cameras.begin(), m_cameraManager->m_cameras.end());

  ModelElement* nearest = nullptr;
  double best = 1e9;
  for (ModelElement* candidate : candidates) {
    if (!candidate->m_transformFlags) continue;
    candidate->setSelected(false);
    const BoundingBox* box = candidate->box();
    if (!box || !box->contains(hand, true)) continue;
    const double distance = length(hand - box->center(true));
    if (distance < best) {
      best = distance;
      nearest = candidate;
    }
  }
  if (nearest) nearest->setSelected(true);
  if (m_transformTool) m_transformTool->setPickedElement(nearest);
}

void Modeler::toScene(quillax::Scene* scene) const {
  for (const auto& entry : m_models) {
    if (!entry.second) continue;
    entry.second->toProto(scene->add_models());
  }
}
