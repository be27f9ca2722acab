#include "strokes/transformer.h"

#include <cmath>

#include "core/settings.h"
#include "render/model_element.h"

Transformer* g_transformer = nullptr;

void setTransformer(Transformer* tool) {
  g_transformer = tool;
  if (g_modeler) g_modeler->m_transformTool = tool;
}

Transformer::Transformer() : Interactor(TOOL_MOVE) {}

Transformer::~Transformer() {
  if (g_transformer == this) g_transformer = nullptr;
  if (g_modeler && g_modeler->m_transformTool == this) g_modeler->m_transformTool = nullptr;
  m_levelDraw.clear();
  m_levelForward.clear();
  m_levelInverse.clear();
}

void Transformer::reset() {
  Interactor::reset();
  m_levelDraw.clear();
  m_levelForward.clear();
  m_levelInverse.clear();
  setSelected(false);
}

bool Transformer::undo(Operatable* /*op*/) { return true; }

bool Transformer::press(const float* pose, int n, const float* otherPose, int m) {
  if (engaged()) return false;
  setSelected(true);
  if (m_picked) m_pickedStart = m_picked->m_modelMatrix;
  if (m_picked && m_picked->m_transformFlags) {
    const std::array<uint8_t, 4>& allowed = *m_picked->m_transformFlags;
    m_twoHand = allowed[0] != 0;
    m_noUniformScale = allowed[1] != 0;
    m_fullRotation = allowed[2] != 0;
    m_fourth = allowed[3] != 0;
  } else {
    m_twoHand = m_noUniformScale = m_fullRotation = m_fourth = true;
  }
  const bool otherHeld = flagOn(FLAG_OTHER_TRIGGER);
  m_mode = otherHeld ? 2 : 1;
  grab(pose, n, otherPose, m);
  return true;
}

bool Transformer::move(const float* pose, int /*n*/, const float* otherPose, int /*m*/) {
  if (!engaged()) return false;
  deltaTransform(pose, nullptr, otherPose);
  if (m_picked) {
    Matrix4 placed;
    m_picked->setTransform(multiplyMatrix4(m_transform, placed, m_pickedStart));
  }
  return true;
}

bool Transformer::release(const float* /*pose*/, int /*n*/, const float* /*otherPose*/, int /*m*/) {
  if (!engaged()) return false;
  setSelected(false);
  if (!m_picked) {
    pushTransform(m_transform);
    if (g_modeler) g_modeler->applyTransform(m_transform);
    m_transform = Matrix4();
    return true;
  }
  Matrix4 placed;
  m_picked->setTransform(multiplyMatrix4(m_transform, placed, m_pickedStart));
  m_picked = nullptr;
  return true;
}

void Transformer::pushTransform(const Matrix4& transform) {
  for (Matrix4& draw : m_levelDraw) multiplyMatrix4(transform, draw, draw);
  m_levelDraw.push_back(transform);
  const Matrix4& whole = m_levelDraw.front();
  m_levelForward.push_back(whole);
  // In double precision without a determinant threshold: a head placed at a small scale (a mesh
  // in millimetres) still inverts, where a threshold would store its strokes unplaced.
  Matrix4 inverse;
  invertAffineMatrix4ByLU(whole, inverse);
  m_levelInverse.push_back(inverse);
  const double a = inverse.at(0, 0), b = inverse.at(1, 0), c = inverse.at(2, 0);
  setUiValueAt(VALUE_TRANSFORM_SCALE, static_cast<float>(std::sqrt(a * a + b * b + c * c + 0.01)));
}
