#pragma once
// What several benchmarks share: a GL context for the stroke buffers, a hair brush state, and
// strokes shaped like a user's.
#include <GL/glew.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "core/geometry.h"
#include "core/settings.h"
#include "platform/window.h"
#include "quillax.pb.h"
#include "strokes/operatable.h"

// A hidden window with a 4.5 context, made once per program; false without a display.
inline bool ensureBenchContext() {
  static platform::NativeWindow window;
  static platform::GLContext context;
  static const bool ready = [] {
    if (!window.open(0, 0, 64, 64, "tresslet_bench") || !context.create(window)) return false;
    glewExperimental = GL_TRUE;
    if (glewInit() != GLEW_OK) return false;
    while (glGetError() != GL_NO_ERROR) {
    }
    return true;
  }();
  return ready;
}

// The brush state of a hair stroke of curvature 0 (ribbons of two vertices per point).
inline void setBrushState() {
  g_hairTexture = HAIR_TEXTURE_DENSE;
  g_brushShape = BRUSH_SHAPE_DEFAULT;
  g_curvature = 0;
  g_brushWidth = 0.01f;
  g_flags.assign(FLAG_COUNT, false);
  g_modeState.assign(STATE_COUNT, 0);
  g_curveProfiles.assign(47, {});
  g_curveProfileNormals.assign(47, {});
  for (int c = -23; c <= 23; ++c)
    buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
  g_defaultLightCurve.Clear();
  for (int i = 0; i < 30; ++i) g_defaultLightCurve.add_v(1.0f);
  g_parameters.set_sampling_distance(0.012f);
}

// Hand-drawn-like strokes: `points` points 1.2 cm apart wandering down around a head, as stored.
inline std::vector<quillax::Operation> paintedStrokes(int count, int points) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<quillax::Operation> out(count);
  for (quillax::Operation& op : out) {
    op.set_texture(HAIR_TEXTURE_DENSE);
    op.set_curvature(0);
    op.set_width(0.01f);
    *op.mutable_lightcurve() = g_defaultLightCurve;
    Vec3f p(unit(rng) * 0.1f, 1.7f + unit(rng) * 0.05f, unit(rng) * 0.1f);
    Vec3f dir = normalized(Vec3f(unit(rng) * 0.3f, -1.0f, unit(rng) * 0.3f));
    for (int i = 0; i < points; ++i) {
      auto* point = op.add_points();
      point->set_x(p[0]);
      point->set_y(p[1]);
      point->set_z(p[2]);
      const Vec3f side = normalized(cross(dir, Vec3f(0.0f, 0.0f, 1.0f)));
      auto* pitch = op.add_pitches();
      pitch->set_x(side[0]);
      pitch->set_y(side[1]);
      pitch->set_z(side[2]);
      const Vec3f normal = cross(side, dir);
      auto* n = op.add_normals();
      n->set_x(normal[0]);
      n->set_y(normal[1]);
      n->set_z(normal[2]);
      dir = normalized(dir + Vec3f(unit(rng), unit(rng), unit(rng)) * 0.1f);
      p += dir * 0.012f;
    }
  }
  return out;
}

// A full painting as a user's work sizes it, for the benchmarks that rebuild or draw one.
constexpr int kPaintingStrokes = 5000;
constexpr int kPaintingPoints = 200;

// Hanging, gently waving strands of the hair textures, curls 0 to 6 as a user mostly draws: from
// a 20 cm square about the origin downwards, 1.2 cm between points, facing +z.
inline std::vector<std::unique_ptr<Operatable>> makePainting() {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<std::unique_ptr<Operatable>> strokes;
  for (int s = 0; s < kPaintingStrokes; ++s) {
    auto* op = new quillax::Operation;
    op->set_texture(HAIR_TEXTURE_DENSE + s % 3);
    op->set_curvature(s % 7);
    op->set_width(0.02f);
    *op->mutable_lightcurve() = g_defaultLightCurve;
    const float x0 = 0.1f * unit(random), z0 = 0.1f * unit(random), phase = unit(random);
    for (int i = 0; i < kPaintingPoints; ++i) {
      auto* p = op->add_points();
      p->set_x(x0 + 0.01f * std::sin(0.1f * i + phase));
      p->set_y(-0.012f * i);
      p->set_z(z0);
      auto* t = op->add_pitches();
      t->set_x(1.0f);
      auto* n = op->add_normals();
      n->set_z(1.0f);
    }
    strokes.emplace_back(new Operatable(op));
  }
  return strokes;
}
