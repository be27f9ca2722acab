#pragma once
#include <vector>

#include "core/hand_frames.h"
#include "core/matrix.h"
#include "core/settings.h"
#include "render/framebuffer.h"
#include "render/head_model.h"
#include "render/light.h"
#include "render/modeler.h"

// A fresh registry (g_modeler) with its light manager (g_lightManager) and an eye render size of
// `eyeSize` a side (so a shadow map 5 x that), for tests that copied the assets they load. Puts
// the UI values and the headset position back and deletes the registry when it goes.
class LitScene {
 public:
  explicit LitScene(float eyeSize) : m_savedUiValues(g_uiValues) {
    setEyeSize(eyeSize, eyeSize);
    g_modeler = new Modeler();
    g_lightManager = g_modeler->m_lightManager;
  }
  ~LitScene() {
    delete g_modeler;
    g_modeler = nullptr;
    g_lightManager = nullptr;
    g_uiValues = m_savedUiValues;
    for (int i = 0; i < 3; ++i) g_headMatrix[i] = 0.0f;
  }
  LitScene(const LitScene&) = delete;
  LitScene& operator=(const LitScene&) = delete;

  static void setEyeSize(float width, float height) {
    g_uiValues.assign(12, 0.0f);
    g_uiValues[4] = width;
    g_uiValues[5] = height;
  }

 private:
  std::vector<float> m_savedUiValues;
};

// Looking straight down from 3 m above onto a square reaching `halfWidth` to each side of the y
// axis, +x to the right and -z up; the headset position goes there too, for the lighting.
inline Matrix4 topViewProjection(float halfWidth) {
  Matrix4 view, projection, viewProjection;
  view.at(1, 1) = 0, view.at(1, 2) = -1, view.at(2, 1) = 1, view.at(2, 2) = 0, view.at(2, 3) = -3.0f;
  computeProjectionMatrix(false, 2 * halfWidth, 2 * halfWidth, 0.1f, 10.0f, projection.data());
  g_headMatrix[0] = 0.0f, g_headMatrix[1] = 3.0f, g_headMatrix[2] = 0.0f;
  return multiplyMatrix4(projection, viewProjection, view);
}
