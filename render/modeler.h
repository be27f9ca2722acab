#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/core_object.h"
#include "core/hand_frames.h"
#include "core/matrix.h"
#include "core/vec.h"
#include "render/model_element.h"

namespace quillax {
class Scene;
}
class HeadModel;
class LightManager;
class CameraManager;

// What the registry needs from the transform tool (tool 6), which lives in a higher layer: the
// tool is registered in Modeler::m_transformTool when it becomes the process-wide one.
class TransformToolView {
 public:
  virtual ~TransformToolView() = default;
  // The tool's trigger is held (its isSelected flag).
  virtual bool grabEngaged() const = 0;
  // The accumulated grab transform of the move in progress.
  virtual const Matrix4& grabMatrix() const = 0;
  // The element the tool moves instead of the whole scene, or null.
  virtual ModelElement* pickedElement() const = 0;
  virtual void setPickedElement(ModelElement* element) = 0;
  // Adds a whole-scene transform level (the head's placement is the first).
  virtual void pushTransform(const Matrix4& transform) = 0;
};

// The registry of the scene's models: key 0 is the head. Draws them for every view, moves them
// with whole-scene transforms, stores them in the scene message, and picks the element nearest
// to the drawing hand for the transform tool.
class Modeler : public coreObject {
 public:
  Modeler();
  ~Modeler() override;
  Modeler(const Modeler&) = delete;
  Modeler& operator=(const Modeler&) = delete;

  // The head of a description file at key 0, loaded and placed (from "headTransform.txt" beside
  // it, written with the default placement when missing). The same path again only shows the
  // current head; another path replaces it. Null when the head does not load: no head then.
  HeadModel* loadHead(const std::string& descriptionPath);
  // Every model's matrix becomes T x its matrix, carried to its companions.
  void applyTransform(const Matrix4& transform);
  // Draws every renderable model under sceneGrabMatrix.
  void renderModels(const Matrix4& viewProjection);
  // The transform tool's grab while it moves the whole scene (engaged, nothing picked), else
  // the identity: what the scene's models (and the head's mirror) are drawn under.
  Matrix4 sceneGrabMatrix() const;
  // While the transform tool is current and idle, selects the element whose box holds the
  // drawing hand and whose centre is nearest to it, and gives it to the tool. Elements without
  // transform flags are never picked. The first form reads the hand from g_drawingHandMatrix.
  void grabNearest();
  void grabNearest(const Vec3f& hand);
  // One quillax.Model per model, in key order.
  void toScene(quillax::Scene* scene) const;

  // Owned; null values are skipped.
  std::map<int32_t, ModelElement*> m_models;
  // The scene's lights and capture cameras (owned, made with the registry; g_lightManager and
  // g_cameraManager point at them).
  LightManager* m_lightManager = nullptr;
  CameraManager* m_cameraManager = nullptr;
  // Not owned; null until the tools exist.
  TransformToolView* m_transformTool = nullptr;
};

extern Modeler* g_modeler;

// The model at key 0 when it is a head; null otherwise. Adds nothing to the registry.
HeadModel* findHeadModel(const Modeler* modeler);
// The same through g_modeler (null without one).
HeadModel* findHeadModel();

