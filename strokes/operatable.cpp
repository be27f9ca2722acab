#include "strokes/operatable.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "strokes/deformer.h"
#include "strokes/sample.h"
#include "strokes/select_ops.h"
#include "strokes/transformer.h"

namespace {

constexpr int kMaxCurvature = 23;
constexpr int kDefaultLightCurveSize = 30;
// loadParameters raises a smaller sampling distance to this; a stroke never steps by less, so a
// long move cannot turn into an endless fill.

// Curl angles of the height formula, radians.
constexpr double kHalfStep = 0.1308997;  // 7.5 degrees
constexpr double kStep = 0.2617994;      // 15 degrees

// The flag word of a freshly reset coreObject, which stored messages without flags take.
uint16_t defaultFlagWord() {
  static const uint16_t word = coreObject().m_flags;
  return word;
}

// How a stored stroke names itself in messages: by the id it was saved with.
void report(const quillax::Operation& op, const std::string& what) {
  std::printf("stroke %lld: %s\n", static_cast<long long>(op.unique_id()), what.c_str());
}

// Replaces non-finite components of each point of a list; returns how many were replaced.
// Positions take the previous point (the stroke keeps its shape), directions zero.
int repairPoints(google::protobuf::RepeatedPtrField<quillax::Operation_Point>* points,
                 bool positions) {
  int fixed = 0;
  Vec3f previous;
  for (int i = 0; i < points->size(); ++i) {
    quillax::Operation_Point* p = points->Mutable(i);
    Vec3f v = toVec3(*p);
    bool changed = false;
    for (int c = 0; c < 3; ++c) {
      if (!std::isfinite(v[c])) {
        v[c] = positions ? previous[c] : 0.0f;
        changed = true;
        ++fixed;
      }
    }
    if (changed) setPoint(p, v);
    previous = v;
  }
  return fixed;
}

float repairScalar(const quillax::Operation& op, const char* name, float value, float fallback) {
  if (std::isfinite(value)) return value;
  report(op, std::string(name) + " is not a number, set to " + std::to_string(fallback));
  return fallback;
}

// Brings the values of a stored stroke that the geometry and the buffers index by, or that
// would spread NaN through them, into range.
void repairStoredOperation(quillax::Operation* op) {
  if (op->texture() < 0 || op->texture() > HAIR_TEXTURE_LAST) {
    const int fixed = std::clamp<int>(op->texture(), HAIR_TEXTURE_PEN, HAIR_TEXTURE_LAST);
    report(*op, "texture " + std::to_string(op->texture()) + " is outside 0 to 3, set to " +
                    std::to_string(fixed));
    op->set_texture(fixed);
  }
  if (op->curvature() < -kMaxCurvature || op->curvature() > kMaxCurvature) {
    const int fixed = std::clamp(op->curvature(), -kMaxCurvature, kMaxCurvature);
    report(*op, "curvature " + std::to_string(op->curvature()) + " is outside -23 to 23, set to " +
                    std::to_string(fixed));
    op->set_curvature(fixed);
  }
  if (op->points_size() > kMaxStrokePoints) {
    report(*op, std::to_string(op->points_size()) + " points, only the first 65535 are kept");
    op->mutable_points()->DeleteSubrange(kMaxStrokePoints, op->points_size() - kMaxStrokePoints);
  }
  // Pitches and normals are per point; extra entries would only be carried along.
  if (op->pitches_size() > kMaxStrokePoints)
    op->mutable_pitches()->DeleteSubrange(kMaxStrokePoints, op->pitches_size() - kMaxStrokePoints);
  if (op->normals_size() > kMaxStrokePoints)
    op->mutable_normals()->DeleteSubrange(kMaxStrokePoints, op->normals_size() - kMaxStrokePoints);

  op->set_width(repairScalar(*op, "width", op->width(), 0.02f));
  op->set_height(repairScalar(*op, "height", op->height(), 0.0f));

  if (int n = repairPoints(op->mutable_points(), true))
    report(*op, std::to_string(n) + " point coordinates are not numbers, replaced");
  if (int n = repairPoints(op->mutable_pitches(), false))
    report(*op, std::to_string(n) + " pitch coordinates are not numbers, set to 0");
  if (int n = repairPoints(op->mutable_normals(), false))
    report(*op, std::to_string(n) + " normal coordinates are not numbers, set to 0");

  quillax::FloatList* curve = op->mutable_lightcurve();
  if (curve->v_size() == 0) {
    report(*op, "empty light curve, the default one is used");
    *curve = g_defaultLightCurve;
    if (curve->v_size() == 0)
      for (int i = 0; i < kDefaultLightCurveSize; ++i) curve->add_v(1.0f);
  }
  int badLight = 0;
  for (int i = 0; i < curve->v_size(); ++i) {
    if (!std::isfinite(curve->v(i))) {
      curve->set_v(i, 1.0f);
      ++badLight;
    }
  }
  if (badLight) report(*op, std::to_string(badLight) + " light values are not numbers, set to 1");

  if (op->has_color()) {
    quillax::Color* color = op->mutable_color();
    const float rgbal[5] = {color->red(), color->green(), color->blue(), color->alpha(),
                            color->lightness()};
    if (!std::all_of(rgbal, rgbal + 5, [](float v) { return std::isfinite(v); })) {
      report(*op, "colour is not a number, set to white");
      color->set_red(1.0f);
      color->set_green(1.0f);
      color->set_blue(1.0f);
      color->set_alpha(1.0f);
      color->set_lightness(1.0f);
    }
  }
}

}  // namespace

// ---- transform levels ----

int transformLevelCount() {
  return g_transformer ? static_cast<int>(g_transformer->m_levelForward.size()) : 0;
}

const Matrix4* levelInverse(int level) {
  if (!g_transformer || level < 1 || level > static_cast<int>(g_transformer->m_levelInverse.size()))
    return nullptr;
  return &g_transformer->m_levelInverse[static_cast<size_t>(level - 1)];
}

float levelInverseScale(int level) {
  const Matrix4* inverse = levelInverse(level);
  if (!inverse) return 1.0f;
  return static_cast<float>(length(Vec3f(inverse->at(0, 0), inverse->at(1, 0), inverse->at(2, 0))));
}

const Matrix4* levelForward(int level) {
  if (!g_transformer || level < 1 || level > static_cast<int>(g_transformer->m_levelForward.size()))
    return nullptr;
  return &g_transformer->m_levelForward[static_cast<size_t>(level - 1)];
}

// ---- construction ----

Operatable::Operatable(int texture) : m_operation(new quillax::Operation) {
  quillax::Operation& op = *m_operation;
  op.set_op_id(0);
  op.set_unique_id(static_cast<int64_t>(m_id));
  op.set_texture(texture < 0 ? g_hairTexture : texture);
  op.set_width(g_brushWidth);
  *op.mutable_color() = g_currentColor;
  op.set_shape(g_brushShape);
  op.set_curvature(g_brushShape == BRUSH_ATTACH ? 2 : g_brushShape == BRUSH_BRAID ? 23 : g_curvature);
  *op.mutable_lightcurve() = g_defaultLightCurve;

  // Collision counts as on until the settings have sized the flags.
  const bool collision = flagOn(FLAG_COLLISION, true);
  setBit(kStrokeNoCollisionBit, !collision);
  op.set_flags(m_flags);

  m_transformLevel = static_cast<int16_t>(transformLevelCount());

  const float w = op.width() * levelInverseScale(m_transformLevel);
  const int n = std::abs(op.curvature()) + 1;
  op.set_height(static_cast<float>((std::cos(kHalfStep) - std::cos(n * kHalfStep)) * w /
                                   (std::sin(kStep) * n)));
  setFlag10(false);
}

Operatable::Operatable(const Operatable& other)
    : coreObject(), coreDeformable(), m_operation(new quillax::Operation(*other.m_operation)) {
  m_tag = other.m_tag;
  m_operation->set_op_id(0);
  m_flags = m_operation->has_flags() ? static_cast<uint16_t>(m_operation->flags()) : other.m_flags;
  m_transformLevel = other.m_transformLevel;
  m_sampleLow = other.m_sampleLow;
  m_sampleHigh = other.m_sampleHigh;
  m_sampleBoundsKnown = other.m_sampleBoundsKnown;
  m_sampleIndices = other.m_sampleIndices;
  m_samples.reserve(other.m_samples.size());
  for (const Sample* sample : other.m_samples) {
    Sample* copy = new Sample(*sample);
    copy->m_stroke = this;
    m_samples.push_back(copy);
  }
}

Operatable::Operatable(quillax::Operation* operation)
    : m_operation(operation ? operation : new quillax::Operation) {
  fillOperationDefaults(m_operation);
  m_flags = static_cast<uint16_t>(m_operation->flags());
  m_transformLevel = 0;
  rebuildControl();
  computeFrames(false, true);
  buildSamples();
}

Operatable::~Operatable() {
  m_sampleIndices.clear();
  for (auto it = m_samples.rbegin(); it != m_samples.rend(); ++it) delete *it;
  m_samples.clear();
  delete m_operation;
}

void Operatable::fillOperationDefaults(quillax::Operation* op) {
  if (!op) return;
  if (!op->has_flags()) op->set_flags(defaultFlagWord());
  if (!op->has_curvature()) op->set_curvature(0);
  if (!op->has_op_id()) op->set_op_id(0);
  if (!op->has_texture()) op->set_texture(HAIR_TEXTURE_MIDDLE);
  if (!op->has_shape()) op->set_shape(BRUSH_SHAPE_DEFAULT);
  if (!op->has_width()) op->set_width(op->stroke_width());
  if (!op->has_height()) op->set_height(op->anchor_surface());
  if (!op->has_lightcurve()) *op->mutable_lightcurve() = g_defaultLightCurve;
  if (op->has_meshes()) op->clear_meshes();  // mesh data is never loaded
  repairStoredOperation(op);
}

// ---- operations ----

void Operatable::detach() {
  // Each operation that holds this stroke lets go of it (unmarking it where its mark is on the
  // stroke), so none keeps a target that is about to be deleted.
  for (std::vector<Operatable*>* refs : {&m_selectRefs, &m_recolorRefs, &m_transRefs}) {
    for (auto it = refs->rbegin(); it != refs->rend(); ++it)
      if (auto* op = dynamic_cast<SelectOp*>(*it)) op->targetLeaving(this);
    refs->clear();
  }
  if (g_deformer) g_deformer->removeOperation(this);
}

int Operatable::begin(const float* values, int count, const float* /*other*/, int /*otherCount*/) {
  return addPoint(values, count);
}

int Operatable::step(const float* values, int count, const float* /*other*/, int /*otherCount*/) {
  return addPoint(values, count);
}

int Operatable::finish() {
  if (!m_operation || m_operation->texture() < 0 || m_operation->points_size() < 2) return 0;
  return m_operation->points_size();
}

void Operatable::revert() { setRenderable(false); }

void Operatable::apply() { setRenderable(true); }

int Operatable::pointCount() const { return m_operation ? m_operation->points_size() : 0; }

int Operatable::addPoint(const float* values, int count) {
  if (!m_operation || !values || count < 3) return 0;
  const int used = count >= 9 ? 9 : count >= 6 ? 6 : 3;
  for (int i = 0; i < used; ++i)
    if (!std::isfinite(values[i])) return 0;

  quillax::Operation& op = *m_operation;
  const Vec3f position(values[0], values[1], values[2]);
  if (op.points_size() == 0) {
    setPoint(op.add_points(), position);
    if (count >= 6) setPoint(op.add_pitches(), Vec3f(values[3], values[4], values[5]));
    if (count >= 9) setPoint(op.add_normals(), Vec3f(values[6], values[7], values[8]));
    return 1;
  }

  float s = g_parameters.sampling_distance();
  if (!(s >= kMinSamplingDistance)) s = kMinSamplingDistance;  // also catches NaN
  const int last = op.points_size() - 1;
  const Vec3f from = toVec3(op.points(last));
  const Vec3f move = position - from;
  const double d = length(move);
  if (s * 1.0001 > d) return 0;

  const bool withPitch = count >= 6 && op.pitches_size() == op.points_size();
  const bool withNormal = count >= 9 && op.normals_size() == op.points_size();
  const Vec3f lastPitch = withPitch ? toVec3(op.pitches(last)) : Vec3f();
  const Vec3f handPitch = count >= 6 ? Vec3f(values[3], values[4], values[5]) : Vec3f();

  int added = 0;
  // t = k s, counted rather than summed so that a long fill does not drift.
  for (int k = 1; static_cast<double>(k) * s <= d; ++k) {
    if (op.points_size() >= kMaxStrokePoints) break;
    const float a = static_cast<float>(k * static_cast<double>(s) / d);
    setPoint(op.add_points(), from + a * move);
    Vec3f pitch = handPitch;
    if (withPitch) {
      pitch = (1.0f - a) * lastPitch + a * handPitch;
      setPoint(op.add_pitches(), pitch);
    }
    if (withNormal) {
      setPoint(op.add_normals(), normalized(cross(move, pitch)));
      if (op.normals_size() == 2) *op.mutable_normals(0) = op.normals(1);
    }
    ++added;
  }
  return added;
}

void Operatable::toProto(quillax::Operation* out) const {
  if (!out) return;
  if (out == m_operation) {
    // The stroke's own message stays in its own frame and keeps its own colour: baking a
    // level transform or a recolour into it would move or recolour the stroke for good.
    m_operation->set_flags(m_flags);
    return;
  }
  out->Clear();
  out->MergeFrom(*m_operation);
  out->set_flags(m_flags);
  *out->mutable_color() = currentColor();
  if (const Matrix4* inverse = levelInverse(m_transformLevel)) {
    out->set_width(m_operation->width() * levelInverseScale(m_transformLevel));
    transformOperationPoints(*out, *inverse);
  }
}

void Operatable::registerOp(Operatable* op) {
  if (!op || !op->m_operation) return;
  switch (op->m_operation->op_id()) {
    case 2: case 3: case 4: case 6: case 7: case 8:
      m_selectRefs.push_back(op);
      break;
    case 5:
      m_recolorRefs.push_back(op);
      break;
    case 9:
      m_transRefs.push_back(op);
      break;
    default:
      break;
  }
}

bool Operatable::unregisterOp(Operatable* op) {
  if (!op || !op->m_operation) return false;
  const int id = op->m_operation->op_id();
  if (id < 2 || id > 9) return true;
  std::vector<Operatable*>& refs = id == 5 ? m_recolorRefs : id == 9 ? m_transRefs : m_selectRefs;
  const auto it = std::find(refs.rbegin(), refs.rend(), op);
  if (it == refs.rend()) return false;
  refs.erase(std::next(it).base());
  return true;
}

const quillax::Color& Operatable::currentColor() const {
  for (auto it = m_recolorRefs.rbegin(); it != m_recolorRefs.rend(); ++it) {
    if ((*it)->isVisible() && (*it)->m_operation) return (*it)->m_operation->color();
  }
  return m_operation->color();
}

Vec3f Operatable::pointAt(float t) const {
  const int n = pointCount();
  if (n == 0) return Vec3f();
  if (t < 0.0f) return toVec3(m_operation->points(0));
  if (t < static_cast<float>(n - 1)) {
    const int k = static_cast<int>(std::floor(t));
    const float f = t - static_cast<float>(k);
    const Vec3f a = toVec3(m_operation->points(k));
    const Vec3f b = toVec3(m_operation->points(k + 1));
    return a + f * (b - a);
  }
  return toVec3(m_operation->points(n - 1));
}
