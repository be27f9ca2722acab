#include "strokes/stroke_geometry.h"

#include <cmath>
#include <cstdlib>

#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "strokes/operatable.h"
#include "strokes/sample.h"

namespace {

constexpr int kProfileOffset = 23;  // profile index = curvature + 23
// Float counts of the attribute slots a0 to a6 (position, uv, normal, tangent, bitangent,
// colour, scalar).
constexpr int kSlotFloats[7] = {3, 2, 3, 3, 3, 3, 1};

struct TextureRect {
  float u0 = 0.0f, u1 = 1.0f, v0 = 0.0f, v1 = 1.0f;
};

// Texture t >= 1 takes entry t - 1 of the atlas rectangles; the circle rectangles serve curls of
// 23 and more only when the two lists match. A missing entry (no maps loaded, a short list)
// gives the whole texture rather than a read past the list.
TextureRect textureRect(int texture, int curvature) {
  TextureRect rect;
  const quillax::HairTextureMaps& maps = g_hairTextureMaps;
  const bool circle = curvature >= 23 && maps.circle_coords_size() == maps.default_coords_size();
  const auto& list = circle ? maps.circle_coords() : maps.default_coords();
  const int index = texture - 1;
  if (index < 0 || index >= list.size()) return rect;
  const quillax::HairTextureMaps_Coords& c = list.Get(index);
  rect.u0 = c.u0();
  rect.u1 = c.u1();
  rect.v0 = c.v0();
  rect.v1 = c.v1();
  return rect;
}

uint32_t floatsPerVertex(const bool* flags) {
  uint32_t n = 0;
  for (int a = 0; a < 7; ++a)
    if (flags[a]) n += kSlotFloats[a];
  return n;
}

Vec3f pointOf(const google::protobuf::RepeatedPtrField<quillax::Operation_Point>& list, int i) {
  if (i < 0 || i >= list.size()) return Vec3f();
  return toVec3(list.Get(i));
}

// Writes one vertex at out[at] in slot order; attributes the stroke does not supply are zero so
// that every vertex takes the full stride of its flags.
struct VertexWriter {
  float* out;
  const bool* flags;
  size_t at = 0;

  void put(int slot, const float* values) {
    if (!flags[slot]) return;
    for (int k = 0; k < kSlotFloats[slot]; ++k) out[at++] = values ? values[k] : 0.0f;
  }
  void vertex(const Vec3f* position, const float* uv, const Vec3f* normal, const Vec3f* second,
              float light, float lightAlpha) {
    put(0, position ? position->data() : nullptr);
    put(1, uv);
    put(2, normal ? normal->data() : nullptr);
    put(3, second ? second->data() : nullptr);
    put(4, nullptr);
    const float shade[3] = {lightAlpha, lightAlpha, lightAlpha};
    put(5, shade);
    put(6, &light);
  }
};

float pointLight(const quillax::Operation& op, int i) {
  return lightValueAt(op.lightcurve().v().data(), op.lightcurve().v_size(), i, op.points_size());
}

// The pen: one vertex per point, its position and light.
void writePenVertices(const quillax::Operation& op, uint32_t first, uint32_t end, float alpha,
                      VertexWriter& writer) {
  for (uint32_t ui = first; ui < end; ++ui) {
    const int i = static_cast<int>(ui);
    const Vec3f p = pointOf(op.points(), i);
    const float light = pointLight(op, i);
    writer.vertex(&p, nullptr, nullptr, nullptr, light, light * alpha);
  }
}

// u across the ring at vertex j of m: straight across the rectangle for open profiles; for
// curls of 23 and more it runs U0, U1, U0, U1, U0 so the texture wraps the tube twice.
float ringU(const TextureRect& rect, int curvature, int j, int m) {
  const float t = m < 2 ? 0.0f : static_cast<float>(j) / static_cast<float>(m - 1);
  if (curvature < 23) return (1.0f - t) * rect.u0 + t * rect.u1;
  const float tt = t > 0.5f ? t - 0.5f : t;
  return rect.u1 - std::fabs(tt - 0.25f) * 4.0f * (rect.u1 - rect.u0);
}

// A ribbon: per point a ring of m vertices across the curvature's profile, tapered toward the
// tip, or the stored mesh when it holds every ring vertex. False without a profile for the
// curvature.
bool writeRibbonVertices(const quillax::Operation& op, uint32_t first, uint32_t end, int m,
                         float alpha, VertexWriter& writer) {
  const int n = op.points_size();
  const int curvature = op.curvature();
  const int profileIndex = curvature + kProfileOffset;
  if (profileIndex < 0 || profileIndex >= static_cast<int>(g_curveProfiles.size()) ||
      profileIndex >= static_cast<int>(g_curveProfileNormals.size()))
    return false;
  const std::vector<float>& profile = g_curveProfiles[profileIndex];
  const std::vector<float>& profileNormals = g_curveProfileNormals[profileIndex];
  if (profile.size() < static_cast<size_t>(2 * m) || profileNormals.size() < static_cast<size_t>(2 * m))
    return false;

  const TextureRect rect = textureRect(op.texture(), curvature);
  const float w = op.width();
  const float tipKeep = 1.0f - std::exp(-0.01f * n);
  const double tanOne = std::tan(1.0);
  // A stored mesh is used only when it holds a vertex for every ring vertex.
  const quillax::Operation_Mesh& mesh = op.meshes();
  const int meshVertices = n * m;
  const bool useMesh = op.has_meshes() && mesh.vpoints_size() >= meshVertices &&
                       mesh.vnormals_size() >= meshVertices;
  const bool meshUv = useMesh && mesh.vtextures_size() == mesh.vpoints_size();

  for (uint32_t ui = first; ui < end; ++ui) {
    const int i = static_cast<int>(ui);
    const Vec3f P = pointOf(op.points(), i);
    const Vec3f T = pointOf(op.pitches(), i);
    const Vec3f N = pointOf(op.normals(), i);  // zero when the stroke has none
    const float along = static_cast<float>(i) / static_cast<float>(n - 1);
    const float wi = w * (1.0f - std::pow(along, 5.0f) * tipKeep);
    const float v = static_cast<float>(std::tan(2.0 * i / (n - 1) - 1.0) / tanOne *
                                           (rect.v1 - rect.v0) / 2.0 +
                                       (rect.v1 + rect.v0) / 2.0);
    const float light = pointLight(op, i);
    const float lightAlpha = light * alpha;
    const Vec3f side = cross(T, N);

    for (int j = 0; j < m; ++j) {
      float uv[2] = {ringU(rect, curvature, j, m), v};
      if (useMesh) {
        const int k = i * m + j;
        const Vec3f position = pointOf(mesh.vpoints(), k);
        const Vec3f normal = pointOf(mesh.vnormals(), k);
        const Vec3f second = cross(normal, side);
        if (meshUv) {
          uv[0] = mesh.vtextures(k).u();
          uv[1] = mesh.vtextures(k).v();
        }
        writer.vertex(&position, uv, &normal, &second, light, lightAlpha);
        continue;
      }
      const float px = profile[2 * j], py = profile[2 * j + 1];
      const float qx = profileNormals[2 * j], qy = profileNormals[2 * j + 1];
      const Vec3f position = P + (px * wi) * T + (py * wi) * N;
      const Vec3f normal = qx * T + qy * N;
      const Vec3f second = qy * T - qx * N;
      writer.vertex(&position, uv, &normal, &second, light, lightAlpha);
    }
  }
  return true;
}

}  // namespace

float lightValueAt(const float* curve, int c, int i, int n) {
  if (c <= 0 || !curve) return 1.0f;
  if (c == 1 || n < 2) return curve[0];
  const double x = static_cast<double>(i) * (c - 1) / (n - 1);
  int k = static_cast<int>(x);
  if (k < 0) k = 0;
  if (k >= c - 1) return curve[c - 1];
  const double f = x - k;
  return static_cast<float>((1.0 - f) * curve[k] + f * curve[k + 1]);
}

int Operatable::verticesPerPoint() const {
  const int texture = m_operation->texture();
  if (texture < 0) return 0;
  if (texture == HAIR_TEXTURE_PEN) return 1;
  return std::abs(m_operation->curvature()) + 2;
}

int Operatable::buildStrandGeometry(std::vector<float>& out, uint32_t first, uint32_t end,
                                    const bool* flags) const {
  const quillax::Operation& op = *m_operation;
  const int n = op.points_size();
  const int texture = op.texture();
  const int m = verticesPerPoint();
  if (n < 2 || m == 0 || !renderRow(texture) || !flags) return 0;
  if (end > static_cast<uint32_t>(n)) end = static_cast<uint32_t>(n);
  if (first >= end) return 0;

  const size_t total = static_cast<size_t>(end - first) * m * floatsPerVertex(flags);
  if (out.size() < total) out.resize(total);
  VertexWriter writer{out.data(), flags};
  const float alpha = currentColor().alpha();
  if (!isRibbonTexture(texture)) {
    writePenVertices(op, first, end, alpha, writer);
    return static_cast<int>(writer.at);
  }
  if (!writeRibbonVertices(op, first, end, m, alpha, writer)) return 0;
  return static_cast<int>(writer.at);
}

int Operatable::fillIndexBuffer(std::vector<uint32_t>& out, uint32_t first, uint32_t end,
                                uint32_t base, bool quads) const {
  if (!isRibbonTexture(m_operation->texture())) return 0;
  const uint32_t n = static_cast<uint32_t>(pointCount());
  const uint32_t m = static_cast<uint32_t>(verticesPerPoint());
  if (m < 2) return 0;
  if (end > n) end = n;  // also ~0u and ~1u
  if (first == 0) {
    first = 1;
    base += m;
  }
  if (first >= end) return 0;

  const uint32_t perSegment = quads ? 4 : 6;
  const size_t total = static_cast<size_t>(m - 1) * (end - first) * perSegment;
  if (out.size() < total) out.resize(total);
  size_t at = 0;
  for (uint32_t i = first; i < end; ++i) {
    const uint32_t previousRing = base - m + (i - first) * m;
    for (uint32_t j = 0; j + 1 < m; ++j) {
      const uint32_t a = previousRing + j;
      const uint32_t b = a + m;
      if (quads) {
        out[at++] = a;
        out[at++] = b;
        out[at++] = b + 1;
        out[at++] = a + 1;
      } else {
        out[at++] = a;
        out[at++] = b;
        out[at++] = b + 1;
        out[at++] = a;
        out[at++] = b + 1;
        out[at++] = a + 1;
      }
    }
  }
  return static_cast<int>(at);
}

int Operatable::fillPointBuffer(std::vector<float>& out, int first, int end, const bool* flags) const {
  const quillax::Operation& op = *m_operation;
  const int n = op.points_size();
  if (end < 0 || end > n) end = n;
  if (first < 0) first = 0;
  if (first >= end || !flags) return 0;
  const int perPoint = 3 * ((flags[0] ? 1 : 0) + (flags[2] ? 1 : 0) + (flags[3] ? 1 : 0));
  const size_t total = static_cast<size_t>(end - first) * perPoint;
  if (out.size() < total) out.resize(total);
  size_t at = 0;
  auto put = [&](const Vec3f& v) {
    for (int c = 0; c < 3; ++c) out[at++] = v[c];
  };
  for (int i = first; i < end; ++i) {
    if (flags[0]) put(pointOf(op.points(), i));
    if (flags[2]) put(pointOf(op.normals(), i));
    if (flags[3]) put(pointOf(op.pitches(), i));
  }
  return static_cast<int>(at);
}

int Operatable::fillSampleBuffer(std::vector<float>& out) const {
  const size_t total = m_samples.size() * 3;
  if (out.size() < total) out.resize(total);
  size_t at = 0;
  for (const Sample* sample : m_samples)
    for (int c = 0; c < 3; ++c) out[at++] = sample->m_localPosition[c];
  return static_cast<int>(at);
}

int Operatable::fillControlBuffer(std::vector<float>& out) const {
  const size_t total = m_control.size() / 3 * 3;
  if (out.size() < total) out.resize(total);
  const Matrix4* forward = levelForward(m_transformLevel);
  for (size_t k = 0; k < total; k += 3) {
    Vec3f p(m_control[k], m_control[k + 1], m_control[k + 2]);
    if (forward) p = transformPoint(*forward, p);
    for (int c = 0; c < 3; ++c) out[k + c] = p[c];
  }
  return static_cast<int>(total);
}
