#include "render/light.h"

#include <array>

#include "core/settings.h"
#include "render/modeler.h"
#include "render/shader.h"

namespace {

constexpr int kShadowMapTextureType = 14;
constexpr int kShadowMapScale = 5;
constexpr int32_t kMinShadowMapSide = 10;
constexpr unsigned kLightImportFlags = 8;  // triangulate
constexpr int32_t kNoForcedProgram = -2;

}  // namespace

LightModel::LightModel(const std::string& name) : ModelElement(name) {
  m_transformFlags = std::make_unique<std::array<uint8_t, 4>>(std::array<uint8_t, 4>{0, 1, 1, 1});
}

LightModel::~LightModel() = default;

void LightModel::setColor(const Vec<4, float>& color) {
  ModelElement::setColor(color);
  if (!g_shaderManager) return;
  const float rgb[3] = {color[0], color[1], color[2]};
  g_shaderManager->setLightColor(m_lightIndex, rgb);
}

void LightModel::updateTransform() {
  ModelElement::updateTransform();
  const Matrix4& m = m_modelMatrix;
  const Vec3f x = normalized(Vec3f(m[0], m[1], m[2]));
  const Vec3f y = normalized(Vec3f(m[4], m[5], m[6]));
  const Vec3f z = normalized(Vec3f(m[8], m[9], m[10]));
  const Vec3f t(m[12], m[13], m[14]);
  // Rows X, Z, Y: the light's own Y becomes the depth axis, so it looks down its -Y.
  Matrix4 view;
  const Vec3f rows[3] = {x, z, y};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) view.at(r, c) = rows[r][c];
    view.at(r, 3) = -dot(rows[r], t);
  }
  multiplyMatrix4(m_projection, m_lightSpaceMatrix, view);
  if (g_shaderManager) g_shaderManager->setLight(m_lightIndex, y.data(), m_lightSpaceMatrix.data());
}

bool LightModel::createShadowMap() {
  m_shadowTarget.reset();
  const float eyeWidth = uiValueAt(VALUE_EYE_WIDTH, 0.0f);
  const float eyeHeight = uiValueAt(VALUE_EYE_HEIGHT, 0.0f);
  m_shadowMapWidth = static_cast<int32_t>(eyeWidth * kShadowMapScale);
  m_shadowMapHeight = static_cast<int32_t>(eyeHeight * kShadowMapScale);
  if (m_shadowMapWidth < kMinShadowMapSide || m_shadowMapHeight < kMinShadowMapSide) return false;

  auto target = std::make_unique<FramebufferDesc>();
  target->m_depthAsRenderbuffer = false;
  const bool made = target->init(static_cast<uint32_t>(m_shadowMapWidth),
                                 static_cast<uint32_t>(m_shadowMapHeight), 0);
  // A refused target is left bound by init; nothing may draw into it, nor into what was bound.
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  if (made) {
    // The context may allow less than five eyes' width: the pass draws what was made.
    m_shadowMapWidth = static_cast<int32_t>(target->m_width);
    m_shadowMapHeight = static_cast<int32_t>(target->m_height);
    m_shadowTarget = std::move(target);
  }
  return made;
}

void LightModel::renderShadowMap() {
  if (m_shadowProgram != 10 || !m_shadowTarget || !g_shaderManager) return;
  glBindFramebuffer(GL_FRAMEBUFFER, m_shadowTarget->m_framebuffer);
  glViewport(0, 0, m_shadowMapWidth, m_shadowMapHeight);
  glDepthMask(GL_TRUE);
  glClear(GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);

  // The pass's uniforms go out as light 0, whatever this light's own index.
  const int32_t ownIndex = m_lightIndex;
  m_lightIndex = 0;
  updateTransform();
  g_shaderManager->m_forced = m_shadowProgram;
  // The view's rows X, Z, Y mirror the map, which reverses every triangle's winding: flipped
  // here too, culling still drops the faces turned away from the light.
  glFrontFace(GL_CW);
  if (g_lightManager && g_lightManager->m_drawStrokes) g_lightManager->m_drawStrokes(m_lightSpaceMatrix);
  if (g_modeler) g_modeler->renderModels(m_lightSpaceMatrix);
  glFrontFace(GL_CCW);
  g_shaderManager->m_forced = kNoForcedProgram;
  m_lightIndex = ownIndex;
  updateTransform();
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

LightManager::~LightManager() {
  for (LightModel* light : m_lights) delete light;
  m_lights.clear();
}

void LightManager::addLight(LightModel* light) {
  if (!light) return;
  m_lights.push_back(light);
  const std::string type = g_textureManager ? g_textureManager->typeName(kShadowMapTextureType) : "";
  m_textures.addTexture(light->shadowTexture(), type.empty() ? "_Shadow_Map" : type);
}

LightModel* createDefaultLight() {
  if (!g_lightManager) return nullptr;
  LightModel* light = new LightModel("dirLight");
  // Without its mesh the light is invisible but still lights and casts shadows.
  light->load(g_parameters.asset_path() + "models/geos/dirlight_tri.obj", kLightImportFlags);
  light->setColor(Vec<4, float>(1.0f, 1.0f, 1.0f, 1.0f));
  computeProjectionMatrix(false, 2.0f, 2.0f, -20.0f, 20.0f, light->m_projection.data());
  light->createShadowMap();
  const float scale[3] = {0.8f, 0.8f, 0.8f}, offset[3] = {0.0f, 1.5f, 0.0f},
              angles[3] = {0.0f, 0.0f, 0.0f};
  transformMatrix4(light->m_modelMatrix, scale, offset, angles);
  light->updateTransform();
  g_lightManager->addLight(light);
  return light;
}
