#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "strokes/operatable.h"

// A known brush state (hair texture 1, 1 cm sampling, red, 0.2 wide) with the cross-section profiles that
// ribbons need; restore() puts the process-wide state back.
class KnownBrushState {
 public:
  void set() {
    m_saved = {g_parameters, g_flags, g_modeState, g_curveProfiles, g_curveProfileNormals,
               g_currentColor, g_hairTexture, g_brushShape, g_brushWidth};
    g_parameters.set_sampling_distance(0.01f);
    g_parameters.set_debug_visual(0);
    g_flags.assign(9, false);
    g_flags[FLAG_COLLISION] = true;
    g_modeState.assign(11, 0);
    g_curveProfiles.assign(47, {});
    g_curveProfileNormals.assign(47, {});
    for (int c = -23; c <= 23; ++c)
      buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
    g_hairTexture = 1;
    g_brushShape = 0;
    g_brushWidth = 0.2f;
    g_currentColor.set_red(1.0f);
    g_currentColor.set_alpha(1.0f);
    g_currentColor.set_lightness(1.0f);
  }
  void restore() {
    g_parameters = m_saved.parameters;
    g_flags = m_saved.flags;
    g_modeState = m_saved.modeState;
    g_curveProfiles = m_saved.profiles;
    g_curveProfileNormals = m_saved.normals;
    g_currentColor = m_saved.color;
    g_hairTexture = m_saved.texture;
    g_brushShape = m_saved.shape;
    g_brushWidth = m_saved.width;
  }

 private:
  struct {
    quillax::Parameters parameters;
    std::vector<bool> flags;
    std::vector<int32_t> modeState;
    std::vector<std::vector<float>> profiles, normals;
    quillax::Color color;
    int32_t texture, shape;
    float width;
  } m_saved;
};

class BrushStateTest : public ::testing::Test {
 protected:
  void SetUp() override { m_state.set(); }
  void TearDown() override { m_state.restore(); }
  KnownBrushState m_state;
};

// Appends a point at (x, y, 0) with pitch +x and normal +z, whatever the sampling distance.
inline void addPoint(Operatable* stroke, float x, float y) {
  quillax::Operation* op = stroke->m_operation;
  quillax::Operation_Point* p = op->add_points();
  p->set_x(x);
  p->set_y(y);
  op->add_pitches()->set_x(1.0f);
  op->add_normals()->set_z(1.0f);
}

inline void growBy(Operatable* stroke, int points) {
  const Vec3f last = stroke->pointAt(1e9f);
  for (int i = 1; i <= points; ++i) addPoint(stroke, last[0], last[1] + 0.01f * i);
}

// A straight stroke 0.2 wide of `points` points 1 cm apart up +y from (x, y0), in the brush
// colour.
inline Operatable* makeStroke(int texture, int curvature, int points, float x = 0.0f,
                              float y0 = 0.0f) {
  auto* op = new quillax::Operation;
  op->set_texture(texture);
  op->set_curvature(curvature);
  op->set_width(0.2f);
  *op->mutable_color() = g_currentColor;
  for (int i = 0; i < 30; ++i) op->mutable_lightcurve()->add_v(1.0f);
  auto* stroke = new Operatable(op);
  if (points > 0) addPoint(stroke, x, y0);
  growBy(stroke, points - 1);
  return stroke;
}

// A hand frame at (x, y, 0): position, then the x axis (+x, the pitch), the y axis (+z, the
// normal) and the z axis.
inline std::vector<float> handFrame(float x, float y) {
  return {x, y, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, -1.0f, 0.0f};
}
