#pragma once
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/core_object.h"
#include "core/matrix.h"
#include "render/framebuffer.h"
#include "render/model_element.h"
#include "render/texture.h"

// A directional light: a mesh that can be seen and grabbed like any model, shining along its
// local -Y, with a depth-only shadow target drawn once per frame from its point of view.
class LightModel : public ModelElement {
 public:
  explicit LightModel(const std::string& name);
  ~LightModel() override;

  // Stores the colour and sends its red, green and blue as "m_lightColor" + the light index.
  void setColor(const Vec<4, float>& color) override;
  // Also sends the direction towards the light (its +Y) and the light-space matrix
  // (projection x view, the view looking down the light's -Y from its position).
  void updateTransform() override;

  // A depth-only target of the eye render size (VALUE_EYE_WIDTH and VALUE_EYE_HEIGHT) times 5. False, with no
  // target, when either side would be below 10 texels or the driver refuses the target.
  bool createShadowMap();
  // One shadow pass: the tools' strokes and the registry's models into the depth target with
  // the shadow program. Does nothing without a target or while another program is chosen.
  void renderShadowMap();

  // The depth texture the shaders sample; 0 without a target.
  GLuint shadowTexture() const { return m_shadowTarget ? m_shadowTarget->m_depth : 0; }

  int32_t m_lightIndex = 0;
  int32_t m_shadowProgram = 10;
  int32_t m_shadowMapWidth = 0;
  int32_t m_shadowMapHeight = 0;
  std::unique_ptr<FramebufferDesc> m_shadowTarget;  // null when there is none
  Matrix4 m_projection;
  Matrix4 m_lightSpaceMatrix;
};

// The scene's lights and their shadow textures, numbered "_Shadow_Map" + 0, 1, ... in the order
// the lights were added.
class LightManager : public coreObject {
 public:
  LightManager() = default;
  ~LightManager() override;
  LightManager(const LightManager&) = delete;
  LightManager& operator=(const LightManager&) = delete;

  // Takes ownership and files its shadow texture (0 when it has none, so that the sampler's
  // "is" flag reads 0).
  void addLight(LightModel* light);

  std::vector<LightModel*> m_lights;
  TextureSlots m_textures;
  // Draws every tool's stroke buffers with the given view-projection matrix. The tools live in
  // a higher layer: start-up installs it.
  std::function<void(const Matrix4& viewProjection)> m_drawStrokes;
};

// "dirLight": the asset path's "models/geos/dirlight_tri.obj", white, 1.5 above the origin and
// shining straight down, with an orthographic 2 x 2 x 40 shadow volume, added to g_lightManager.
// Null (nothing made) without a light manager.
LightModel* createDefaultLight();
