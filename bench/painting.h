#pragma once
// A full painting as a user's work sizes it, for the benchmarks that rebuild or draw one.
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "strokes/operatable.h"

constexpr int kPaintingStrokes = 5000;
constexpr int kPaintingPoints = 200;

// The 47 cross-section profiles and a default light curve of 30 ones, as start-up makes them.
inline void buildProfiles() {
  g_curveProfiles.assign(47, {});
  g_curveProfileNormals.assign(47, {});
  for (int c = -23; c <= 23; ++c)
    buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
  for (int i = 0; i < 30; ++i) g_defaultLightCurve.add_v(1.0f);
}

// Hanging, gently waving strands of the hair textures, curls 0 to 6 as a user mostly draws: from
// a 20 cm square about the origin downwards, 1.2 cm between points, facing +z.
inline std::vector<std::unique_ptr<Operatable>> makePainting() {
  std::mt19937 random(7);
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  std::vector<std::unique_ptr<Operatable>> strokes;
  for (int s = 0; s < kPaintingStrokes; ++s) {
    auto* op = new quillax::Operation;
    op->set_texture(1 + s % 3);
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
