#pragma once
// A reference hairstyle made in memory, for the suggestion's tests and benchmark: strands
// growing out of a sphere, each a base shape and K variations, every third a key strand.
#include <algorithm>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "core/vec.h"
#include "quillax.pb.h"
#include "strokes/buffer_undoer.h"
#include "strokes/hair_blender.h"
#include "strokes/operatable.h"

struct SyntheticHairstyle {
  std::vector<StrandRecord> strands;
  std::vector<std::vector<float>> affinity;
  std::unique_ptr<BufferUndoer> model;  // strand j as entry j
  std::vector<Vec3f> roots;
};

// Control points of the variation kinds, zero at the root: bend one way, curl, lengthen, bend
// the other way, curl the other way, droop. t runs 0 to 1 from root to tip.
inline Vec3f syntheticVariation(int k, float t, const Vec3f& dir, const Vec3f& side1,
                                const Vec3f& side2) {
  const float wave = std::sin(6.2831853f * t);
  switch ((k - 1) % 6) {
    case 0:
      return side1 * (0.1f * t * t);
    case 1:
      return side2 * (0.05f * wave);
    case 2:
      return dir * (0.1f * t);
    case 3:
      return side2 * (0.1f * t * t);
    case 4:
      return side1 * (0.05f * wave);
    default:
      return Vec3f(0.0f, -0.1f * t * t, 0.0f);
  }
}

// A stroke through the given control points (3 floats each) of texture 1 and the given shape.
inline Operatable* strokeThrough(const std::vector<float>& control, int shape) {
  auto* op = new quillax::Operation;
  op->set_texture(1);
  op->set_shape(shape);
  op->set_width(0.01f);
  op->set_curvature(0);
  for (size_t i = 0; i + 2 < control.size(); i += 3) {
    quillax::Operation_Point* p = op->add_points();
    p->set_x(control[i]);
    p->set_y(control[i + 1]);
    p->set_z(control[i + 2]);
    op->add_pitches()->set_x(1.0f);
    op->add_normals()->set_z(1.0f);
  }
  return new Operatable(op);
}

// `count` strands of `points` control points, 25 cm long, rooted on a sphere of 10 cm about
// (0, 1, 0), with K variations each; strokes of `points` points along the base shapes, pushed
// into `model` (a history without buffers when none is given).
inline SyntheticHairstyle makeSyntheticHairstyle(int count, int points, int K,
                                                 std::unique_ptr<BufferUndoer> model = nullptr) {
  SyntheticHairstyle h;
  h.model = model ? std::move(model) : std::make_unique<BufferUndoer>();
  std::vector<Operatable*> strokes;
  const float golden = 3.14159265f * (3.0f - std::sqrt(5.0f));
  for (int j = 0; j < count; ++j) {
    const float y = 1.0f - 2.0f * (static_cast<float>(j) + 0.5f) / static_cast<float>(count);
    const float ring = std::sqrt(std::max(0.0f, 1.0f - y * y));
    const Vec3f dir(ring * std::cos(golden * j), y, ring * std::sin(golden * j));
    const Vec3f root = Vec3f(0.0f, 1.0f, 0.0f) + dir * 0.1f;
    Vec3f side1 = cross(dir, Vec3f(0.0f, 1.0f, 0.0f));
    if (squaredLength(side1) < 1e-4f) side1 = cross(dir, Vec3f(1.0f, 0.0f, 0.0f));
    side1 = normalized(side1);
    const Vec3f side2 = cross(dir, side1);

    StrandRecord record;
    record.m_variationCount = K;
    record.m_size = 3 * points;
    record.m_vectors.assign(static_cast<size_t>(K) + 1, std::vector<float>());
    for (int i = 0; i < points; ++i) {
      const float t = static_cast<float>(i) / static_cast<float>(points - 1);
      const Vec3f p = root + dir * (0.25f * t);
      for (int a = 0; a < 3; ++a) record.m_vectors[0].push_back(p[a]);
      for (int k = 1; k <= K; ++k) {
        const Vec3f v = syntheticVariation(k, t, dir, side1, side2);
        for (int a = 0; a < 3; ++a) record.m_vectors[static_cast<size_t>(k)].push_back(v[a]);
      }
    }
    Operatable* stroke = strokeThrough(record.m_vectors[0], 0);
    if (j % 3 == 0)
      stroke->m_flags = static_cast<uint16_t>(stroke->m_flags | (1u << kKeyStrandBit));
    strokes.push_back(stroke);
    h.strands.push_back(std::move(record));
    h.roots.push_back(root);
  }
  for (int i = 0; i < count; ++i) {
    std::vector<float> row;
    for (int j = 0; j < count; ++j)
      row.push_back(0.95f * std::exp(-static_cast<float>(length(h.roots[i] - h.roots[j])) / 0.05f));
    h.affinity.push_back(std::move(row));
  }
  h.model->pushList(strokes, false);
  return h;
}

// The control vector base + sum of w_k V_k of one strand.
inline std::vector<float> blendedControl(const StrandRecord& strand, const std::vector<float>& w) {
  std::vector<float> u = strand.m_vectors[0];
  for (size_t k = 1; k < strand.m_vectors.size() && k <= w.size(); ++k)
    for (size_t i = 0; i < u.size(); ++i) u[i] += w[k - 1] * strand.m_vectors[k][i];
  return u;
}

// A hint stroke (shape 4) drawn along those control points, holding them as its control vector.
inline Operatable* makeHintStroke(const std::vector<float>& control) {
  Operatable* hint = strokeThrough(control, 4);
  hint->m_control = control;
  hint->m_target = control;
  return hint;
}

// Hands a synthetic hairstyle to the blender under `name`; its model, null when refused.
inline BufferUndoer* addSyntheticHairstyle(HairBlender& blender, const std::string& name, int count,
                                           int K, std::unique_ptr<BufferUndoer> model = nullptr) {
  SyntheticHairstyle h = makeSyntheticHairstyle(count, 20, K, std::move(model));
  BufferUndoer* held = h.model.get();
  return blender.addReferenceHairstyle(name, std::move(h.model), std::move(h.strands),
                                       std::move(h.affinity))
             ? held
             : nullptr;
}
