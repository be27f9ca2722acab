// Stroke frames, samples and the post-processing of a finished stroke against the head.
#include <algorithm>
#include <cmath>

#include "core/curves.h"
#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/head_model.h"
#include "render/level_set.h"
#include "render/modeler.h"
#include "strokes/operatable.h"
#include "strokes/sample.h"

namespace {

constexpr size_t kAttachClimb = 5;  // samples over which an attached stroke leaves the head
constexpr size_t kPushClimb = 3;    // the same for a pushed-off stroke
constexpr size_t kRootTurn = 6;     // samples over which the root pitch turn fades

void setPointList(google::protobuf::RepeatedPtrField<quillax::Operation_Point>* list,
                  const std::vector<Vec3f>& values) {
  for (size_t i = 0; i < values.size() && i < static_cast<size_t>(list->size()); ++i)
    setPoint(list->Mutable(static_cast<int>(i)), values[i]);
}

// Normalised difference of the neighbours of entry i, clamped at the ends.
template <typename At>
Vec3f tangentAt(size_t i, size_t n, const At& at) {
  const size_t next = i + 1 < n ? i + 1 : i;
  const size_t previous = i > 0 ? i - 1 : i;
  return normalized(at(next) - at(previous));
}

// The head's level set, when it has been computed.
const GLGrider* headLevelset() {
  const HeadModel* head = findHeadModel();
  if (!head || !head->m_levelsetGrider || !head->m_levelsetGrider->hasLevelset()) return nullptr;
  return head->m_levelsetGrider;
}

}  // namespace

void Operatable::computeFrames(bool pitches, bool normals) {
  quillax::Operation& op = *m_operation;
  const int n = op.points_size();
  if (op.pitches_size() != n) return;
  if (normals && op.normals_size() != n) {
    op.clear_normals();
    for (int i = 0; i < n; ++i) setPoint(op.add_normals(), Vec3f());
  }
  const std::vector<Vec3f> points = toVec3List(op.points());
  for (int i = 0; i < n; ++i) {
    const Vec3f t = tangentAt(static_cast<size_t>(i), points.size(),
                              [&](size_t k) { return points[k]; });
    const Vec3f pitch = toVec3(op.pitches(i));
    const Vec3f b = normalized(cross(t, pitch));
    // A tangent along the pitch (or none) gives no binormal: the pitch is kept as it is.
    if (pitches && squaredLength(b) > 0.0f) setPoint(op.mutable_pitches(i), normalized(cross(b, t)));
    if (normals) setPoint(op.mutable_normals(i), b);
  }
}

int Operatable::buildSamples() {
  const quillax::Operation& op = *m_operation;
  const int n = op.points_size();
  // The settings file may ask for less than one point per sample; one is the least there is.
  double k = std::max(g_parameters.sampling_space(), 1);
  if (op.has_meshes() && n >= 2) {
    double total = 0.0;
    for (int i = 1; i < n; ++i) total += length(toVec3(op.points(i)) - toVec3(op.points(i - 1)));
    const double perSample =
        (n - 1) * static_cast<double>(g_parameters.sampling_distance()) *
            g_parameters.sampling_space() / total + 0.3;
    k = std::isfinite(perSample) ? std::max(std::trunc(perSample), 1.0) : 1.0;
  }

  m_sampleIndices.clear();
  for (auto it = m_samples.rbegin(); it != m_samples.rend(); ++it) delete *it;
  m_samples.clear();
  if (n < 2) return 0;

  const int count = std::max(static_cast<int>((n - 1) / k + 0.5), 1);
  const double step = static_cast<double>(n - 1) / count;
  m_sampleIndices.reserve(static_cast<size_t>(count) + 1);
  m_samples.reserve(static_cast<size_t>(count) + 1);
  for (int s = 0; s <= count; ++s) {
    const uint16_t index = static_cast<uint16_t>(static_cast<int>(s * step + 0.5));
    m_sampleIndices.push_back(index);
    m_samples.push_back(new Sample(this, index, static_cast<uint16_t>(s)));
  }
  if (const Matrix4* inverse = levelInverse(m_transformLevel)) {
    for (Sample* sample : m_samples) {
      sample->transformPosition(*inverse, true);
      sample->transformPitch(*inverse, true);
      sample->m_origin = sample->m_position;
    }
  }
  buildSampleFrames();
  updateSampleBounds();
  return static_cast<int>(m_samples.size());
}

void Operatable::buildSampleFrames() {
  const size_t n = m_samples.size();
  for (size_t s = 0; s < n; ++s) {
    Sample& sample = *m_samples[s];
    const Vec3f t = tangentAt(s, n, [&](size_t k) { return m_samples[k]->m_position; });
    const Vec3f p = sample.m_pitch;
    const Vec3f b = normalized(cross(t, p));
    const Vec3f q = normalized(cross(b, t));
    Sample::FrameRecord record;
    const Vec3f axes[4] = {t, p, b, q};
    for (int a = 0; a < 4; ++a)
      for (int c = 0; c < 3; ++c) record[static_cast<size_t>(3 * a + c)] = axes[a][c];
    sample.m_frames.push_back(record);
  }
}

void Operatable::syncSamples(bool fromPoints) {
  const quillax::Operation& op = *m_operation;
  const bool withPitches = op.pitches_size() == op.points_size();
  if (fromPoints) {
    const Matrix4* inverse = levelInverse(m_transformLevel);
    for (size_t s = 0; s < m_samples.size() && s < m_sampleIndices.size(); ++s) {
      Sample& sample = *m_samples[s];
      const int i = m_sampleIndices[s];
      if (i >= op.points_size()) continue;
      sample.m_localPosition = toVec3(op.points(i));
      if (withPitches) sample.m_localPitch = toVec3(op.pitches(i));
      if (inverse) {
        sample.transformPosition(*inverse, true);
        sample.transformPitch(*inverse, true);
      } else {
        sample.m_position = sample.m_localPosition;
        sample.m_pitch = normalized(sample.m_localPitch);
      }
    }
    updateSampleBounds();
    return;
  }
  const Matrix4* forward = levelForward(m_transformLevel);
  for (Sample* sample : m_samples) {
    if (forward) {
      sample->transformPosition(*forward, false);
      sample->transformPitch(*forward, false);
    } else {
      sample->m_localPosition = sample->m_position;
      sample->m_localPitch = sample->m_pitch;
    }
  }
}

Vec3f Operatable::samplePositionAt(float t) const {
  if (m_samples.empty()) return Vec3f();
  const float last = static_cast<float>(m_samples.size() - 1);
  if (!(t > 0.0f)) return m_samples.front()->m_position;
  if (t >= last) return m_samples.back()->m_position;
  const size_t k = static_cast<size_t>(std::floor(t));
  const float f = t - static_cast<float>(k);
  const Vec3f& a = m_samples[k]->m_position;
  if (f < 0.01f) return a;
  return a + f * (m_samples[k + 1]->m_position - a);
}

float Operatable::nearestSampleDistance(const Vec3f& p) const {
  float best = 1e9f;
  for (const Sample* sample : m_samples) best = std::min(best, squaredLength(sample->m_position - p));
  return std::sqrt(best);
}

bool Operatable::samplesMayReach(const Vec3f& p, float r) const {
  if (!m_sampleBoundsKnown) return true;
  for (int a = 0; a < 3; ++a)
    if (p[a] < m_sampleLow[a] - r || p[a] > m_sampleHigh[a] + r) return false;
  return true;
}

void Operatable::updateSampleBounds() {
  m_sampleBoundsKnown = !m_samples.empty();
  if (!m_sampleBoundsKnown) return;
  m_sampleLow = m_sampleHigh = m_samples.front()->m_position;
  for (const Sample* sample : m_samples)
    for (int a = 0; a < 3; ++a) {
      m_sampleLow[a] = std::min(m_sampleLow[a], sample->m_position[a]);
      m_sampleHigh[a] = std::max(m_sampleHigh[a], sample->m_position[a]);
    }
}

int Operatable::postProcess() {
  const int count = static_cast<int>(m_samples.size());
  if (count < 2) return count;
  if (findHeadModel()) {
    if (m_operation->shape() == BRUSH_ATTACH) {
      attachToHead();
    } else if (!getBit(kStrokeNoCollisionBit)) {
      pushOffHead();
      alignAlongStroke();
    }
  }
  syncSamples(false);
  const bool smooth = flagOn(FLAG_SMOOTHING);
  refitFromSamples(smooth, true, true);
  syncSamples(true);
  setFlag10(true);
  return count;
}

void Operatable::attachToHead() {
  const GLGrider* grid = headLevelset();
  if (!grid) return;
  const float w = m_operation->width() * levelInverseScale(m_transformLevel);
  const float nearLevel = 0.05f * w;
  const float farLevel = nearLevel + m_operation->height();
  for (size_t s = 0; s < m_samples.size(); ++s) {
    const float a = 0.2f * static_cast<float>(s);
    const float target = s < kAttachClimb ? (1.0f - a) * nearLevel + a * farLevel : farLevel;
    grid->attachToLevelset(m_samples[s]->m_position, &m_samples[s]->m_pitch, target);
  }
}

void Operatable::pushOffHead() {
  const GLGrider* grid = headLevelset();
  if (!grid) return;
  const float h = m_operation->height();
  const float low = 0.2f * h, high = 1.1f * h;
  // The correction of sample s at p; false (no correction) outside the level set.
  auto correction = [&](size_t s, const Vec3f& p, Vec3f& out) {
    Vec3f normal;
    const float d = grid->levelsetValue(p, &normal);
    out = Vec3f();
    if (!(d <= kLevelsetNoValue)) return false;
    const float a = 0.3f * static_cast<float>(s);
    const float target = s < kPushClimb ? (1.0f - a) * low + a * high : high;
    if (s == 0 || target - d > 0.0f) out = normal * (target - d);
    return true;
  };

  const size_t n = m_samples.size();
  // One entry per sample, zero outside the grid, so that each correction stays with its sample.
  std::vector<Vec3f> displacements(n);
  size_t inside = 0;
  for (size_t s = 0; s < n; ++s)
    if (correction(s, m_samples[s]->m_position, displacements[s])) ++inside;
  if (inside < 2) return;

  std::vector<Vec3f> smoothed;
  resampleLinear(displacements, smoothed, static_cast<int>(2 * n));
  resampleSmooth(smoothed, smoothed, static_cast<int>(n));
  std::vector<Vec3f> corrected(n);
  for (size_t s = 0; s < n; ++s) {
    corrected[s] = m_samples[s]->m_position + smoothed[s];
    Vec3f again;
    correction(s, corrected[s], again);
    corrected[s] += again;
  }
  std::vector<Vec3f> spaced;
  resampleByArcLength(corrected, spaced, static_cast<int>(n), -1.0f);
  if (spaced.size() != n) spaced = corrected;
  for (size_t s = 0; s < n; ++s) m_samples[s]->m_position = spaced[s];
}

void Operatable::alignAlongStroke() {
  const quillax::Operation& op = *m_operation;
  if (op.pitches_size() != op.points_size() || m_samples.empty()) return;
  const size_t n = m_samples.size();
  auto position = [&](size_t k) { return m_samples[k]->m_position; };
  auto firstAxis = [](const Sample& sample, int axis) {
    const float* r = sample.m_frames.front().data();
    return Vec3f(r[3 * axis], r[3 * axis + 1], r[3 * axis + 2]);
  };
  for (size_t s = 0; s < n; ++s) {
    Sample& sample = *m_samples[s];
    if (sample.m_frames.empty()) continue;
    // The root takes its own first pitch; each later sample its first pitch turned as the frame
    // before it turned, so the ribbon follows the bends the corrections made.
    Vec3f pitch = firstAxis(sample, 1);
    Vec3f t;
    if (s == 0) {
      t = n > 1 ? normalized(position(1) - position(0)) : firstAxis(sample, 0);
    } else {
      const FloatGrid& r = m_samples[s - 1]->m_rotation;
      Vec3f turned;
      for (int row = 0; row < 3; ++row)
        turned[row] = r[row][0] * pitch[0] + r[row][1] * pitch[1] + r[row][2] * pitch[2];
      pitch = turned;
      t = tangentAt(s, n, position);
    }
    const Vec3f b = normalized(cross(t, pitch));
    const Vec3f q = normalized(cross(b, t));
    sample.setFrame(t, q, b);
    if (s > 0) sample.m_pitch = q;
  }
  if (!op.has_meshes()) alignRootToHead();
}

void Operatable::alignRootToHead() {
  const GLGrider* grid = headLevelset();
  const quillax::Operation& op = *m_operation;
  if (!grid || op.pitches_size() != op.points_size() || m_samples.size() < 2) return;
  const Vec3f p0 = m_samples[0]->m_pitch;
  Vec3f p1 = p0;
  Vec3f root = m_samples[0]->m_position;
  if (!grid->attachToLevelset(root, &p1, 0.0f)) return;
  const Vec3f axis = cross(p0, p1);
  if (length(axis) < 0.1) return;
  float angle = static_cast<float>(std::acos(std::clamp(dot(p0, p1), -1.0f, 1.0f)));
  if (dot(axis, m_samples[1]->m_position - m_samples[0]->m_position) < 0.0f) angle = -angle;
  const size_t n = m_samples.size();
  for (size_t s = 0; s < n && s < kRootTurn; ++s) {
    const Vec3f t = tangentAt(s, n, [&](size_t k) { return m_samples[k]->m_position; });
    const float share = 1.0f - static_cast<float>(s) / static_cast<float>(kRootTurn);
    m_samples[s]->m_pitch = rotateAroundAxis(m_samples[s]->m_pitch, t, share * angle);
  }
}

void Operatable::refitFromSamples(bool smooth, bool positions, bool pitches) {
  quillax::Operation& op = *m_operation;
  const int n = op.points_size();
  const size_t count = m_samples.size();
  if (n < 2 || count == 0 || m_sampleIndices.size() != count) return;
  const bool fit = smooth && count >= 3;

  // The samples' local values of one kind, and their differences from the stroke's own.
  auto refit = [&](google::protobuf::RepeatedPtrField<quillax::Operation_Point>* list,
                   Vec3f Sample::*value, bool unit) {
    std::vector<Vec3f> through(count);
    for (size_t s = 0; s < count; ++s) through[s] = m_samples[s]->*value;
    std::vector<Vec3f> result;
    if (fit) {
      result = refitByArcLength(through, n);
    } else {
      std::vector<Vec3f> moves(count);
      for (size_t s = 0; s < count; ++s) {
        const int i = std::min<int>(m_sampleIndices[s], n - 1);
        moves[s] = through[s] - toVec3(list->Get(i));
      }
      resampleLinear(moves, moves, n);
      result = toVec3List(*list);
      for (int i = 0; i < n; ++i) result[static_cast<size_t>(i)] += moves[static_cast<size_t>(i)];
    }
    if (unit)
      for (Vec3f& v : result) v = normalized(v);
    setPointList(list, result);
  };
  if (positions) refit(op.mutable_points(), &Sample::m_localPosition, false);
  if (pitches && op.pitches_size() == n) refit(op.mutable_pitches(), &Sample::m_localPitch, true);
  computeFrames(false, true);
}
