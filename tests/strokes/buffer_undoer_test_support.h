#pragma once
#include <gtest/gtest.h>

#include <vector>

#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "strokes/operatable.h"

// Sets a known brush state and the cross-section profiles that ribbon geometry needs, and puts
// the process-wide state back on restore.
class KnownBrushState {
 public:
  void set() {
    m_parameters = g_parameters;
    m_flags = g_flags;
    m_modeState = g_modeState;
    m_uiValues = g_uiValues;
    m_profiles = g_curveProfiles;
    m_normals = g_curveProfileNormals;
    m_color = g_currentColor;
    m_texture = g_hairTexture;
    m_shape = g_brushShape;
    m_curvature = g_curvature;
    m_width = g_brushWidth;

    g_parameters.set_sampling_distance(0.01f);
    g_parameters.set_debug_visual(0);
    g_flags.assign(9, false);
    g_flags[FLAG_COLLISION] = true;
    g_modeState.assign(11, 0);
    g_uiValues.assign(13, 1.0f);
    g_curveProfiles.assign(47, {});
    g_curveProfileNormals.assign(47, {});
    for (int c = -23; c <= 23; ++c)
      buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
    g_hairTexture = 1;
    g_brushShape = 0;
    g_curvature = 0;
    g_brushWidth = 0.2f;
    g_currentColor.set_red(1.0f);
    g_currentColor.set_green(0.0f);
    g_currentColor.set_blue(0.0f);
    g_currentColor.set_alpha(1.0f);
    g_currentColor.set_lightness(1.0f);
  }
  void restore() {
    g_parameters = m_parameters;
    g_flags = m_flags;
    g_modeState = m_modeState;
    g_uiValues = m_uiValues;
    g_curveProfiles = m_profiles;
    g_curveProfileNormals = m_normals;
    g_currentColor = m_color;
    g_hairTexture = m_texture;
    g_brushShape = m_shape;
    g_curvature = m_curvature;
    g_brushWidth = m_width;
  }

 private:
  quillax::Parameters m_parameters;
  std::vector<bool> m_flags;
  std::vector<int32_t> m_modeState;
  std::vector<float> m_uiValues;
  std::vector<std::vector<float>> m_profiles, m_normals;
  quillax::Color m_color;
  int32_t m_texture = 0, m_shape = 0, m_curvature = 0;
  float m_width = 0.0f;
};

class BrushStateTest : public ::testing::Test {
 protected:
  void SetUp() override { m_state.set(); }
  void TearDown() override { m_state.restore(); }

 private:
  KnownBrushState m_state;
};

// Appends one point (with pitch +x and normal +z) regardless of the sampling distance.
inline void addPoint(Operatable* stroke, float x, float y) {
  quillax::Operation* op = stroke->m_operation;
  quillax::Operation_Point* p = op->add_points();
  p->set_x(x);
  p->set_y(y);
  p->set_z(0.0f);
  quillax::Operation_Point* t = op->add_pitches();
  t->set_x(1.0f);
  t->set_y(0.0f);
  t->set_z(0.0f);
  quillax::Operation_Point* n = op->add_normals();
  n->set_x(0.0f);
  n->set_y(0.0f);
  n->set_z(1.0f);
}

// A straight stroke of `points` points 1 cm apart along +y from (x, y0, 0), pitch +x, normal
// +z, 0.2 wide, in the current colour.
inline Operatable* makeStroke(int texture, int curvature, int points, float x = 0.0f,
                              float y0 = 0.0f) {
  auto* op = new quillax::Operation;
  op->set_texture(texture);
  op->set_curvature(curvature);
  op->set_width(0.2f);
  *op->mutable_color() = g_currentColor;
  for (int i = 0; i < 30; ++i) op->mutable_lightcurve()->add_v(1.0f);
  auto* stroke = new Operatable(op);
  for (int i = 0; i < points; ++i) addPoint(stroke, x, y0 + 0.01f * i);
  return stroke;
}

inline void growBy(Operatable* stroke, int points) {
  const int n = stroke->pointCount();
  const Vec3f last = stroke->pointAt(static_cast<float>(n - 1));
  for (int i = 1; i <= points; ++i) addPoint(stroke, last[0], last[1] + 0.01f * i);
}

// A hand frame at (x, y, 0): position, then the x axis (+x, the pitch), the y axis (+z, the
// normal) and the z axis.
inline std::vector<float> handFrame(float x, float y) {
  return {x, y, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, -1.0f, 0.0f};
}
