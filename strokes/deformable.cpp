// Control points of a stroke and the brush shapes that reshape finished strokes.
#include "strokes/deformable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "core/curves.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "strokes/operatable.h"
#include "strokes/sample.h"
#include "strokes/select_ops.h"

namespace {

constexpr int kDefaultControlSize = 20;
constexpr float kBraidRadius = 0.384f;  // of the stroke's width
constexpr int kBraidLeastPoints = 10;
constexpr float kBraidThird = 2.0f * 3.14159265358979f / 3.0f;
constexpr float kOverlayBraidWidth = 1.08f;
constexpr float kOverlayCurledWidth = 1.1f;  // curvature 18 and above
constexpr int kOverlayCurled = 18;
constexpr float kOverlayLift = 0.003f;  // metres along the normals
constexpr float kLeastTurn = 0.01f;     // tangent turns below this are not carried

std::vector<Vec3f> tangents(const std::vector<Vec3f>& points) {
  const size_t n = points.size();
  std::vector<Vec3f> out(n);
  for (size_t i = 0; i < n; ++i)
    out[i] = normalized(points[i + 1 < n ? i + 1 : i] - points[i > 0 ? i - 1 : i]);
  return out;
}

// Carries the given directions along the stroke: from each point to the next they turn as the
// tangent turns (small turns are not carried). dirs[0] holds the start; the rest are written.
void carryAlong(const std::vector<Vec3f>& t, std::vector<std::vector<Vec3f>*> dirs) {
  for (size_t i = 0; i + 1 < t.size(); ++i) {
    const Vec3f axis = cross(t[i], t[i + 1]);
    const bool turn = length(axis) >= kLeastTurn;
    const float angle = std::acos(std::clamp(dot(t[i], t[i + 1]), -1.0f, 1.0f));
    for (std::vector<Vec3f>* d : dirs)
      (*d)[i + 1] = turn ? rotateAroundAxis((*d)[i], normalized(axis), angle) : (*d)[i];
  }
}

std::vector<Vec3f> toPoints(const std::vector<float>& flat) {
  std::vector<Vec3f> out(flat.size() / 3);
  for (size_t k = 0; k < out.size(); ++k)
    out[k] = Vec3f(flat[3 * k], flat[3 * k + 1], flat[3 * k + 2]);
  return out;
}

std::vector<float> flatten(const std::vector<Vec3f>& points) {
  std::vector<float> out;
  out.reserve(3 * points.size());
  for (const Vec3f& p : points) out.insert(out.end(), {p[0], p[1], p[2]});
  return out;
}

bool allFinite(const std::vector<float>& values) {
  return std::all_of(values.begin(), values.end(), [](float x) { return std::isfinite(x); });
}

// The control points a stored midaxis gives: unchanged with c whole points, refitted to c from
// at least 2 whole points (a partial point dropped), none otherwise or when a value is not a
// number (also after the refit, which huge values overflow).
std::vector<float> controlFromMidaxis(const quillax::Operation& op, int c) {
  if (!op.has_midaxis()) return {};
  const auto& v = op.midaxis().v();
  std::vector<float> values(v.begin(), v.end());
  if (!allFinite(values)) return {};
  if (values.size() == static_cast<size_t>(3 * c)) return values;
  if (values.size() / 3 < 2) return {};
  values = flatten(refitByArcLength(toPoints(values), c));
  return allFinite(values) ? values : std::vector<float>();
}

}  // namespace

void coreDeformable::transformControl(const Matrix4& t) {
  for (std::vector<float>* points : {&m_control, &m_target}) {
    std::vector<float>& v = *points;
    for (size_t k = 0; k + 2 < v.size(); k += 3) {
      const Vec3f p = transformPoint(t, Vec3f(v[k], v[k + 1], v[k + 2]));
      for (size_t c = 0; c < 3; ++c) v[k + c] = p[static_cast<int>(c)];
    }
  }
}

int controlSampleSize() {
  return g_parameters.has_control_sample_size() ? g_parameters.control_sample_size()
                                                : kDefaultControlSize;
}

int Operatable::rebuildControl() {
  quillax::Operation& op = *m_operation;
  const int c = controlSampleSize();
  m_control.clear();
  m_target.clear();
  if (c < 2) return 0;

  std::vector<float> axis = controlFromMidaxis(op, c);
  if (axis.empty()) {
    std::vector<Vec3f> points;
    const size_t samples = m_samples.size();
    const int n = pointCount();
    if (samples > 0) {
      for (int k = 0; k < c; ++k)
        points.push_back(samplePositionAt(static_cast<float>(k) * (samples - 1) / (c - 1)));
    } else if (n > 0) {
      const Matrix4* inverse = levelInverse(m_transformLevel);
      for (int k = 0; k < c; ++k) {
        const Vec3f p = pointAt(static_cast<float>(k) * (n - 1) / (c - 1));
        points.push_back(inverse ? transformPoint(*inverse, p) : p);
      }
    }
    axis = flatten(points);
  }
  if (axis.empty()) return 0;
  quillax::FloatList* midaxis = op.mutable_midaxis();
  midaxis->mutable_v()->Assign(axis.begin(), axis.end());
  m_control = axis;
  m_target = axis;
  return static_cast<int>(m_control.size());
}

float Operatable::distanceTo(const coreDeformable* other) const {
  const float base = coreDeformable::distanceTo(other);
  const auto* stroke = dynamic_cast<const Operatable*>(other);
  if (!stroke) return base;
  const float p = static_cast<float>(pointCount());
  const float q = static_cast<float>(stroke->pointCount());
  if (p + q <= 0.0f) return base;
  return base * (3.0f * std::fabs(p - q) / (p + q) + 1.0f);
}

void Operatable::deform() {
  // Resampling differences of no whole point would read past them.
  if (m_control.size() != m_target.size() || m_control.empty() || m_control.size() % 3 != 0) return;
  const size_t c = m_control.size() / 3;
  std::vector<Vec3f> moves(c);
  for (size_t k = 0; k < c; ++k)
    for (int a = 0; a < 3; ++a) moves[k][a] = m_control[3 * k + a] - m_target[3 * k + a];
  if (!m_samples.empty()) {
    resampleLinear(moves, moves, static_cast<int>(m_samples.size()));
    for (size_t s = 0; s < m_samples.size(); ++s)
      m_samples[s]->m_position = m_samples[s]->m_origin + moves[std::min(s, moves.size() - 1)];
    postProcess();
    updateSampleBounds();  // also where post-processing left the samples alone
  }
  m_operation->mutable_midaxis()->mutable_v()->Assign(m_control.begin(), m_control.end());
}

void applyShape(Operatable* stroke, const std::vector<float>& params) {
  stroke->rebuildControl();
  const quillax::Operation& op = *stroke->m_operation;
  if (op.shape() == BRUSH_SPIN) {
    spinStroke(stroke, g_splinerRadius, g_splinerLength);
  } else if (op.shape() == BRUSH_BRAID) {
    const int phase = params.empty() ? 0 : static_cast<int>(params[0]);
    braidStroke(stroke, kBraidRadius * op.width(), g_splinerLength, phase);
  }
}

void spinStroke(Operatable* stroke, float r, float a) {
  if (r < 0.001f) return;
  quillax::Operation& op = *stroke->m_operation;
  const int n = op.points_size();
  // The side direction and the pitches are carried from the first frame.
  if (n < 2 || op.pitches_size() != n) return;

  // The spin start: set by the tool geometry as a point index (-1 none), kept as a fraction
  // of the stroke for the strokes after it.
  int k = 0;
  int32_t* startIndex = modeStateSlot(STATE_SPIN_START);
  float* startFraction = uiValueSlot(VALUE_SPIN_START_FRACTION);
  if (startIndex && startFraction) {
    if (*startIndex >= 0) {
      k = *startIndex;
      *startFraction = static_cast<float>(k) / static_cast<float>(n - 1);
    } else {
      k = static_cast<int>((n - 1) * *startFraction);
    }
    *startIndex = -1;
  }
  if (k < 0 || k >= n) k = 0;

  std::vector<Vec3f> points = toVec3List(op.points());
  std::vector<Vec3f> pitches = toVec3List(op.pitches());
  const std::vector<Vec3f> t = tangents(points);
  std::vector<Vec3f> side(static_cast<size_t>(n)), carried(static_cast<size_t>(n));
  side[0] = op.normals_size() == n ? -toVec3(op.normals(0)) : -normalized(cross(t[0], pitches[0]));
  carried[0] = pitches[0];
  carryAlong(t, {&side, &carried});

  for (int i = 1; i + 1 < n; ++i) {
    const size_t u = static_cast<size_t>(i);
    const float w =
        i < k ? 0.0f : 1.0f - std::exp(-0.1f * static_cast<float>(std::min(i - k, n - 1 - i)));
    points[u] += r * w * rotateAroundAxis(side[u], t[u], static_cast<float>(i) * a);
    pitches[u] = normalized((1.0f - w) * pitches[u] + w * carried[u]);
  }
  std::vector<Vec3f> spunPitches;
  resampleLinear(pitches, spunPitches, 2 * n);
  assignPoints(op.mutable_points(), refitByArcLength(points, 2 * n));
  assignPoints(op.mutable_pitches(), spunPitches);
  op.clear_normals();
}

void braidStroke(Operatable* stroke, float r, float length, int phase) {
  quillax::Operation& op = *stroke->m_operation;
  std::printf("size: %g %g\n", r / op.width(), length * op.width());
  const int n = op.points_size();
  if (r < 0.001f || n < kBraidLeastPoints || op.pitches_size() != n) return;

  const int m = static_cast<int>(2.5 * n);
  std::vector<Vec3f> points = toVec3List(op.points());
  const std::vector<Vec3f> t = tangents(points);
  std::vector<Vec3f> b(static_cast<size_t>(n)), a(static_cast<size_t>(n));
  b[0] = normalized(cross(t[0], toVec3(op.pitches(0))));
  a[0] = normalized(cross(b[0], t[0]));
  carryAlong(t, {&a, &b});

  const float fade = 1.0f - std::exp(-0.01f * static_cast<float>(m));
  for (int i = 0; i + 1 < n; ++i) {
    const size_t u = static_cast<size_t>(i);
    const float taper =
        1.0f - std::pow(static_cast<float>(i) / static_cast<float>(n - 1), 5.0f) * fade;
    const float x = length * static_cast<float>(i) + static_cast<float>(phase);
    points[u] += r * taper * taper * (std::sin(x) * b[u] + 0.7f * std::sin(2.0f * x) * a[u]);
  }
  // One pitch per new point, then each turned across its new tangent, so the frames stand.
  std::vector<Vec3f> pitches;
  resampleLinear(toVec3List(op.pitches()), pitches, m);
  assignPoints(op.mutable_points(), refitByArcLength(points, m));
  assignPoints(op.mutable_pitches(), pitches);
  stroke->computeFrames(true, true);
}

void makeExtraStrokes(Operatable* stroke, std::vector<Operatable*>& out) {
  const quillax::Operation& op = *stroke->m_operation;
  if (op.op_id() == OP_CONNECT) return;
  const bool overlay = flagOn(FLAG_OVERLAY);
  // A copy of the unshaped stroke, adjusted before or after its shaping, framed and sampled.
  auto extra = [&](float param, auto before, auto after) {
    auto* copy = new Operatable(*stroke);
    before(*copy->m_operation);
    applyShape(copy, {param});
    after(copy);
    copy->computeFrames(false, true);
    copy->buildSamples();
    out.push_back(copy);
  };
  auto nothing = [](auto&&) {};

  if (op.shape() == BRUSH_BRAID) {
    for (int s = 1; s <= 2; ++s) extra(s * kBraidThird, nothing, nothing);
    if (op.texture() == HAIR_TEXTURE_DENSE && overlay) {
      for (int s = 0; s <= 2; ++s) {
        extra(
            s * kBraidThird,
            [](quillax::Operation& copy) {
              copy.set_width(copy.width() * kOverlayBraidWidth);
              copy.set_texture(HAIR_TEXTURE_SPARSE);
            },
            nothing);
      }
    }
    return;
  }
  if ((op.texture() == HAIR_TEXTURE_DENSE || op.texture() == HAIR_TEXTURE_MIDDLE) && overlay) {
    extra(0.0f, nothing, [](Operatable* copy) {
      quillax::Operation& o = *copy->m_operation;
      o.set_texture(HAIR_TEXTURE_SPARSE);
      if (o.curvature() >= kOverlayCurled)
        o.set_width(o.width() * kOverlayCurledWidth);
      else
        offsetAlongNormals(copy, kOverlayLift);
    });
  }
}

void offsetAlongNormals(Operatable* stroke, float d) {
  stroke->computeFrames(false, true);
  quillax::Operation& op = *stroke->m_operation;
  const int moved = std::min(op.points_size(), op.normals_size());
  for (int i = 0; i < moved; ++i)
    setPoint(op.mutable_points(i), toVec3(op.points(i)) + d * toVec3(op.normals(i)));
  stroke->setFlag10(true);
}
