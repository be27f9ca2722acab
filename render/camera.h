#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "core/core_object.h"
#include "core/matrix.h"
#include "core/vec.h"
#include "render/framebuffer.h"
#include "render/model_element.h"
#include "render/texture.h"

namespace quillax {
class Camera;
}

// A capture camera: renders the scene into its own multisampled target, shows the picture on a
// small quad at its place ("cameraPalyer"), draws its view volume ("cameraFrame") while
// selected, and can be saved as an image. Its transform's columns are right, up and the given
// direction; the view looks along its local -z from the near plane.
class CameraModel : public ModelContainer {
 public:
  // The defaults: perspective, no picture yet, background (0.25, 0.25, 0.28).
  explicit CameraModel(const std::string& name);
  // Built from a stored camera. Sizes and distances that would make no usable projection are
  // replaced (with a line naming the camera and the field): the image size from the capture
  // settings, near and far from the camera tool's values, the width 0.2.
  explicit CameraModel(const quillax::Camera& message);
  ~CameraModel() override;

  // The box always; the frame while selected; the picture always.
  void render(const Matrix4& parent, const Matrix4& viewProjection) override;
  // Children follow; the view (and, for the manager's current camera, the shaders' visibility
  // matrix) follows the transform.
  void updateTransform() override;
  // A "screen" quad over rect (x, y, w, h) showing the picture; an earlier one is freed.
  virtual void renderScreen(const Vec4f& rect);

  using ModelElement::toProto;
  // Position then third axis as the six transforms, background with lightness 1.
  void toProto(quillax::Camera* message) const;
  // Projection and view volume; the picture quad and the box keep the size of the first call.
  void createFrameGeometry(int projectionMode, float width, float nearZ, float farZ);
  // Columns right, up, direction (normalised) and position. A vertical direction takes (1, 0, 0)
  // as its right axis.
  void lookAt(const Vec3f& position, const Vec3f& direction);
  // The multisampled target of the image size; false (no picture) when the driver refuses it.
  // The image size becomes what the context could make.
  bool initTarget(int32_t imageWidth, int32_t imageHeight, int32_t samples);
  // Renders the tools' strokes and the models into the target. forced >= -1 is the pass's
  // program (-1: every object's own), else the camera's render mode.
  void renderCapture(int32_t forced);
  // The view from the drawing hand (g_drawingHandMatrix): the camera tool's live preview.
  void followDrawingHand();

  ModelElement* frame() const;
  ModelElement* player() const;

  int32_t m_index = 0;
  int32_t m_renderMode = -1;
  FramebufferMultiDesc m_target;
  bool m_targetReady = false;
  int32_t m_projectionMode = 1;
  float m_near = 0.1f;
  float m_far = 2.0f;
  float m_width = 0.2f;
  float m_height = 0.2f;
  int32_t m_imageWidth = 0;
  int32_t m_imageHeight = 0;
  Vec3f m_background{0.25f, 0.25f, 0.28f};
  int32_t m_samples = 0;
  Matrix4 m_view;
  Matrix4 m_projection;
  Matrix4 m_viewProjection;
  std::unique_ptr<ModelElement> m_screen;

 private:
  // A stored image size in 1..16384; below, the setting's, above, 16384, each with a line.
  int32_t imageSizeInRange(const char* field, int32_t size, int32_t setting) const;
};

// The capture cameras, the current one, and its depth image for the shaders ("_Visible_Map0").
class CameraManager : public coreObject {
 public:
  CameraManager() = default;
  ~CameraManager() override;
  CameraManager(const CameraManager&) = delete;
  CameraManager& operator=(const CameraManager&) = delete;

  // Deletes every camera; no current camera, no image.
  void reset() override { clear(); }
  void clear();

  // Reads a cameras file and adds its cameras, then selects camera 0. A missing file leaves the
  // list empty; a file that exists but does not read also turns saving off for the run, so the
  // autosave never writes an empty list over it. Returns the number of cameras.
  int loadCameras(const std::string& path);
  // Every camera into asset_path + "cameras.txt"; false when saving is off or the write fails.
  bool saveCameras();
  // A new camera "camera" + count at eye looking along forward, with the capture settings and
  // the camera tool's near and far.
  CameraModel* createCamera(const Vec3f& eye, const Vec3f& forward);
  void addCamera(CameraModel* camera);
  // Only a valid index other than the current one changes anything.
  void selectCamera(int32_t index);
  // The current camera with program 0, then every renderable camera with its own mode, each
  // saved as prefix + "_" + name + ".png" when prefix is not empty.
  void captureAll(const std::string& prefix);

  CameraModel* current() const;

  std::vector<CameraModel*> m_cameras;  // owned
  int32_t m_current = -1;
  TextureSlots m_textures;
  bool m_savingEnabled = true;
  // The camera tool's own camera (the tool geometry's; not owned, not in the list), null when
  // there is none.
  CameraModel* m_toolCamera = nullptr;
  // Draws every tool's stroke buffers with a view-projection matrix; installed by the tools'
  // owner, empty until then.
  std::function<void(const Matrix4& viewProjection)> m_drawStrokes;
};

// The message createCamera builds its camera from: "camera" + index, perspective, width 0.2,
// the capture size and samples of the settings, the camera tool's near and far.
void fillNewCameraMessage(quillax::Camera* message, int32_t index, const Vec3f& eye,
                          const Vec3f& forward);
