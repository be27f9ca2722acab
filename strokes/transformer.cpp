#include "strokes/transformer.h"

#include <cmath>

#include "core/settings.h"

Transformer* g_transformer = nullptr;

namespace {
constexpr int32_t kTransformTool = 6;
}  // namespace

void setTransformer(Transformer* tool) {
  g_transformer = tool;
  if (g_modeler) g_modeler->m_transformTool = tool;
}

Transformer::Transformer() : Interactor(kTransformTool) {}

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
  if (!g_uiValues.empty()) {
    const double a = inverse.at(0, 0), b = inverse.at(1, 0), c = inverse.at(2, 0);
    g_uiValues[0] = static_cast<float>(std::sqrt(a * a + b * b + c * c + 0.01));
  }
}
