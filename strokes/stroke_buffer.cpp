#include "strokes/stroke_buffer.h"

#include <algorithm>
#include <cstdio>

#include "core/settings.h"
#include "quillax.pb.h"
#include "render/model_render.h"
#include "render/shader.h"
#include "strokes/edit_ops.h"
#include "strokes/operatable.h"
#include "strokes/stroke_geometry.h"
#include "strokes/transformer.h"

namespace {

// Length of the debug tick drawn along a point's pitch, metres.
constexpr float kTickLength = 0.03f;

// Grows buffer `name` from `reserved` to `next` units of 4 bytes, keeping its contents. The
// buffer keeps its name, so the vertex array that refers to it stays valid.
void reallocateKeeping(GLuint name, uint32_t reserved, uint32_t next) {
  const GLsizeiptr oldBytes = static_cast<GLsizeiptr>(reserved) * 4;
  const GLsizeiptr newBytes = static_cast<GLsizeiptr>(next) * 4;
  GLuint temp = 0;
  if (oldBytes > 0) {
    glGenBuffers(1, &temp);
    glBindBuffer(GL_COPY_READ_BUFFER, name);
    glBindBuffer(GL_COPY_WRITE_BUFFER, temp);
    glBufferData(GL_COPY_WRITE_BUFFER, oldBytes, nullptr, GL_STREAM_COPY);
    glCopyBufferSubData(GL_COPY_READ_BUFFER, GL_COPY_WRITE_BUFFER, 0, 0, oldBytes);
  }
  glBindBuffer(GL_COPY_WRITE_BUFFER, name);
  glBufferData(GL_COPY_WRITE_BUFFER, newBytes, nullptr, GL_DYNAMIC_DRAW);
  if (temp) {
    glBindBuffer(GL_COPY_READ_BUFFER, temp);
    glCopyBufferSubData(GL_COPY_READ_BUFFER, GL_COPY_WRITE_BUFFER, 0, 0, oldBytes);
    glDeleteBuffers(1, &temp);
  }
  glBindBuffer(GL_COPY_READ_BUFFER, 0);
  glBindBuffer(GL_COPY_WRITE_BUFFER, 0);
}

// Makes room for `needed` units; false when that is beyond the capacity.
bool reserveUnits(GLuint name, uint32_t& reserved, uint64_t needed, uint32_t capacity) {
  if (needed <= reserved) return true;
  if (needed > capacity) return false;
  const uint32_t next = grownReservation(reserved, needed, capacity);
  reallocateKeeping(name, reserved, next);
  reserved = next;
  return true;
}

void upload(GLuint name, uint64_t unitOffset, const void* data, size_t units) {
  if (units == 0) return;
  glBindBuffer(GL_ARRAY_BUFFER, name);
  glBufferSubData(GL_ARRAY_BUFFER, static_cast<GLintptr>(unitOffset * 4),
                  static_cast<GLsizeiptr>(units * 4), data);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
}

// The slot of op in a buffer's history: its own slot when that holds it, else the newest entry
// when that is op; -1 when op is not buffered there.
int slotOf(const std::vector<Operatable*>& history, const Operatable* op) {
  const int s = op->m_bufferSlot;
  if (s >= 0 && s < static_cast<int>(history.size()) && history[s] == op) return s;
  if (!history.empty() && history.back() == op) return static_cast<int>(history.size()) - 1;
  return -1;
}

bool drawable(const Operatable* op) {
  return !op->isRemoved() && op->isVisible() && op->isRenderable();
}

// The stroke's model matrix: model, then the transform operation moving it, then its level.
Matrix4 strokeModel(const Matrix4& model, const Operatable* op) {
  Matrix4 m = model;
  if (const Matrix4* t = heldTransform(op)) multiplyMatrix4(m, m, *t);
  if (const Matrix4* level = levelDrawMatrix(op->m_transformLevel)) multiplyMatrix4(m, m, *level);
  return m;
}

}  // namespace

bool strokeBuffersHaveGL() { return glGenVertexArrays != nullptr && glBufferSubData != nullptr; }

uint32_t grownReservation(uint32_t reserved, uint64_t needed, uint32_t capacity) {
  if (needed >= capacity) return capacity;
  uint64_t next = std::max<uint64_t>(reserved, std::min(kInitialBufferReserve, capacity));
  while (next < needed) next *= 2;
  return static_cast<uint32_t>(std::min<uint64_t>(next, capacity));
}

const Matrix4* levelDrawMatrix(int level) {
  if (!g_transformer || level < 0 ||
      level >= static_cast<int>(g_transformer->m_levelDraw.size()))
    return nullptr;
  return &g_transformer->m_levelDraw[static_cast<size_t>(level)];
}

// ---- StrokeBufferRender ----

StrokeBufferRender::StrokeBufferRender(const StrokeBufferFormat& format, uint32_t capacity)
    : coreBufferRender<Operatable*>(capacity),
      m_writeMode(format.writeMode),
      m_shaderIndex(format.shaderIndex),
      m_primitive(format.primitive) {
  int locations[kAttributeSlots];
  uint32_t sizes[kAttributeSlots];
  m_floatsPerVertex = shaderRowLayout(m_shaderIndex, locations, sizes);
  m_indexed = m_primitive == GL_TRIANGLES || m_primitive == GL_TRIANGLE_STRIP;
  createBuffers();
}

StrokeBufferRender::~StrokeBufferRender() { delete m_flagBuffer; }

void StrokeBufferRender::createBuffers() {
  // Ribbon buffers draw with the hair material; missing maps give empty slots.
  if (m_indexed) m_textures = hairTextureSlots();
  if (!strokeBuffersHaveGL() || m_floatsPerVertex == 0) return;

  int locations[kAttributeSlots];
  uint32_t sizes[kAttributeSlots];
  shaderRowLayout(m_shaderIndex, locations, sizes);
  GLuint& vao = m_vertexArrays[0];
  GLuint& vbo = m_vertexArrays[1];
  GLuint& ebo = m_vertexArrays[2];
  if (!createVertexArray(vao, vbo, m_indexed ? &ebo : nullptr, kAttributeSlots, locations, sizes)) {
    std::printf("stroke buffer: no vertex array could be made; its strokes are not drawn\n");
    releaseGLObjects();
    return;
  }
  m_reservedFloats = 0;
  m_reservedIndices = 0;
  reserveUnits(vbo, m_reservedFloats, std::min(kInitialBufferReserve, m_capacity), m_capacity);
  if (m_indexed)
    reserveUnits(ebo, m_reservedIndices, std::min(kInitialBufferReserve, m_capacity), m_capacity);

  delete m_flagBuffer;
  m_flagBuffer = nullptr;
  if (g_parameters.debug_visual() >= 1 && m_primitive == GL_TRIANGLES) {
    m_flagBuffer = new FlagBufferRender(m_capacity, static_cast<uint32_t>(g_parameters.debug_visual()));
    m_flagBuffer->createBuffers();
  }
}

int StrokeBufferRender::truncateRedo() {
  if (m_flagBuffer) m_flagBuffer->truncateRedo();
  for (size_t i = static_cast<size_t>(m_cursor + 1); i < m_history.size(); ++i)
    if (m_history[i]) m_history[i]->m_bufferSlot = -1;
  return coreBufferRender::truncateRedo();
}

bool StrokeBufferRender::redo() {
  if (m_flagBuffer) m_flagBuffer->redo();
  return coreBufferRender::redo();
}

bool StrokeBufferRender::undo() {
  if (m_flagBuffer) m_flagBuffer->undo();
  return coreBufferRender::undo();
}

void StrokeBufferRender::clearBuffers() {
  if (m_flagBuffer) m_flagBuffer->clearBuffers();
  for (Operatable* op : m_history)
    if (op) op->m_bufferSlot = -1;
  coreBufferRender::clearBuffers();
}

void StrokeBufferRender::popOperation() {
  if (m_flagBuffer) m_flagBuffer->popOperation();
  if (m_history.empty()) return;
  if (m_history.back()) m_history.back()->m_bufferSlot = -1;
  coreBufferRender::popOperation();
}

void StrokeBufferRender::pushOperation(Operatable* op) {
  coreBufferRender::pushOperation(op);
  if (op) op->m_bufferSlot = static_cast<int16_t>(m_history.size() - 1);
  if (m_flagBuffer) m_flagBuffer->pushOperation(op);
}

bool StrokeBufferRender::exceedsCapacity(const Operatable* op) const {
  const uint64_t need = static_cast<uint64_t>(op->verticesPerPoint()) * op->pointCount();
  return need * m_floatsPerVertex > m_capacity;
}

bool StrokeBufferRender::checkCapacity(Operatable* /*op*/) {
  if (m_history.empty() || m_floatsPerVertex == 0) return false;
  const Operatable* newest = m_history.back();
  if (!newest) return false;
  const uint64_t need = static_cast<uint64_t>(newest->verticesPerPoint()) * newest->pointCount();
  const uint64_t f = m_floatsPerVertex;
  if (f * need > m_capacity) {
    std::printf("this stroke (size = %f) is too long! no buffer (maxsize = %f) could save it.\n",
                static_cast<double>(newest->pointCount()),
                static_cast<double>(m_capacity) / static_cast<double>(f));
  }
  const size_t n = m_history.size();
  const uint64_t start = n > 1 ? uint64_t{m_vertexOffsets[n - 2]} + m_vertexCounts[n - 2] : 0;
  return (start + need) * f > m_capacity;
}

StrokeWritePlan StrokeBufferRender::planWrite(const Operatable* op, int slot, bool append) const {
  StrokeWritePlan plan;
  if (!op || slot < 0 || slot >= static_cast<int>(m_history.size())) return plan;
  const uint32_t n = static_cast<uint32_t>(op->pointCount());
  const uint32_t m = static_cast<uint32_t>(op->verticesPerPoint());
  plan.ownFirstVertex = m_vertexOffsets[slot];
  plan.vertexCount = m * n;
  const bool ribbon = m_primitive == GL_TRIANGLES && m >= 2 &&
                      isRibbonTexture(op->m_operation->texture());
  plan.indexCount = ribbon && n >= 1 ? (6 * m - 6) * (n - 1) : 0;
  // An operation without geometry writes nothing, and must not divide by its 0 vertices.
  if (m == 0) return plan;
  const uint32_t k = append ? m_vertexCounts[slot] / m : 0;
  if (append && n <= k) return plan;
  plan.write = true;
  plan.firstPoint = k;
  plan.vertexStart = plan.ownFirstVertex + (append ? m_vertexCounts[slot] : 0);
  plan.indexStart = m_indexOffsets[slot] + (append ? m_indexCounts[slot] : 0);
  return plan;
}

void StrokeBufferRender::writeOperation(Operatable* op, bool append) {
  if (!op || m_history.empty()) return;
  const int s = slotOf(m_history, op);
  if (s < 0) return;
  if (s != static_cast<int>(m_history.size()) - 1) append = false;
  const StrokeWritePlan plan = planWrite(op, s, append);
  if (!plan.write) {
    if (op->verticesPerPoint() == 0) {
      m_vertexCounts[s] = 0;
      m_indexCounts[s] = 0;
    }
    return;
  }

  // A stroke never spills into the next stroke's range or past the capacity: that would
  // overwrite other strokes' vertices.
  const bool last = s == static_cast<int>(m_history.size()) - 1;
  bool fits;
  if (last) {
    fits = (uint64_t{plan.ownFirstVertex} + plan.vertexCount) * m_floatsPerVertex <= m_capacity &&
           uint64_t{m_indexOffsets[s]} + plan.indexCount <= m_capacity;
  } else {
    fits = plan.vertexCount <= m_vertexOffsets[s + 1] - plan.ownFirstVertex &&
           plan.indexCount <= m_indexOffsets[s + 1] - m_indexOffsets[s];
  }
  if (!fits) {
    std::printf("stroke buffer: a stroke of %d points does not fit its place in the buffer; its "
                "drawing is left as it was\n",
                op->pointCount());
    return;
  }

  if (hasGLObjects()) {
    const uint32_t m = static_cast<uint32_t>(op->verticesPerPoint());
    const uint32_t n = static_cast<uint32_t>(op->pointCount());
    const bool* flags = g_shaderTable[m_shaderIndex].flags;
    uint32_t firstPoint = plan.firstPoint;
    uint32_t at = plan.vertexStart;
    bool writeVertices = true;
    if (m_primitive == GL_TRIANGLES) {
      if (m_writeMode == 0) {
        firstPoint = 0;  // the width taper depends on n: every vertex moves
        at = plan.ownFirstVertex;
      } else if (m_writeMode != 1) {
        writeVertices = false;
      }
    }
    if (writeVertices) {
      const int floats = op->buildStrandGeometry(m_vertexScratch, firstPoint, n, flags);
      const uint64_t end = uint64_t{at} * m_floatsPerVertex + static_cast<uint64_t>(floats);
      if (floats > 0 && reserveUnits(m_vertexArrays[1], m_reservedFloats, end, m_capacity))
        upload(m_vertexArrays[1], uint64_t{at} * m_floatsPerVertex, m_vertexScratch.data(),
               static_cast<size_t>(floats));
    }
    if (plan.indexCount > 0 && m_vertexArrays[2]) {
      const int count = op->fillIndexBuffer(m_indexScratch, plan.firstPoint, n,
                                            plan.ownFirstVertex + plan.firstPoint * m, false);
      const uint64_t end = uint64_t{plan.indexStart} + static_cast<uint64_t>(count);
      if (count > 0 && reserveUnits(m_vertexArrays[2], m_reservedIndices, end, m_capacity))
        upload(m_vertexArrays[2], plan.indexStart, m_indexScratch.data(),
               static_cast<size_t>(count));
    }
  }

  m_vertexCounts[s] = plan.vertexCount;
  m_indexCounts[s] = plan.indexCount;
  if (m_flagBuffer) m_flagBuffer->writeOperation(op, append);
}

void StrokeBufferRender::draw(const Matrix4& model, const Matrix4& viewProjection) {
  if (m_cursor < 0 || !isRenderable()) return;
  if (!hasGLObjects() || !g_shaderManager) return;
  updateCurrentToolId();
  advanceDrawCounter();

  ShaderManager& shaders = *g_shaderManager;
  const uint32_t program =
      shaders.m_forced >= 0 ? static_cast<uint32_t>(shaders.m_forced) : m_shaderIndex;
  if (!shaders.useProgram(program)) return;
  Matrix4 mvp;
  multiplyMatrix4(viewProjection, mvp, model);
  if (shaders.hasUniformMatrix()) shaders.setUniformMatrix(mvp.data());
  if (shaders.hasUniformModel()) shaders.setUniformModel(model.data());
  if (shaders.hasUniformViewPos()) shaders.setUniformViewPos(g_headMatrix);
  shaders.bindTextures(m_textures);
  glBindVertexArray(m_vertexArrays[0]);

  const bool hasMatrix = shaders.hasUniformMatrix();
  const bool hasModel = shaders.hasUniformModel();
  const bool hasColor = shaders.hasUniformColor();
  const bool suggestion = getFlag9();
  const int last = std::min(m_cursor, static_cast<int>(m_history.size()) - 1);
  for (int i = last; i >= 0; --i) {
    const Operatable* op = m_history[i];
    if (!op || !drawable(op)) continue;
    if (m_indexed ? m_indexCounts[i] == 0 : m_vertexCounts[i] == 0) continue;

    // Built for every stroke: a matrix carried over from the stroke before would move this one
    // with the other's transform operation.
    const Matrix4 strokeMatrix = strokeModel(model, op);
    if (hasMatrix) {
      Matrix4 m;
      multiplyMatrix4(viewProjection, m, strokeMatrix);
      shaders.setUniformMatrix(m.data());
    }
    if (hasModel) shaders.setUniformModel(strokeMatrix.data());
    if (hasColor) {
      float rgba[4];
      if (suggestion) {
        if (op->isSelected()) {
          rgba[0] = 0.5f, rgba[1] = 0.5f, rgba[2] = 1.0f, rgba[3] = 1.0f;
        } else {
          const float alpha = uiValueAt(VALUE_SUGGESTION_OPACITY, 1.0f);
          rgba[0] = 0.5f, rgba[1] = 1.0f, rgba[2] = 0.5f, rgba[3] = alpha;
        }
      } else if (op->getFlag2()) {
        rgba[0] = 0.9f, rgba[1] = 0.9f, rgba[2] = 1.0f, rgba[3] = 1.0f;
      } else if (op->isSelected()) {
        rgba[0] = 0.5f, rgba[1] = 0.5f, rgba[2] = 1.0f, rgba[3] = 1.0f;
      } else {
        const quillax::Color& c = op->currentColor();
        rgba[0] = c.red() * c.lightness();
        rgba[1] = c.green() * c.lightness();
        rgba[2] = c.blue() * c.lightness();
        rgba[3] = c.alpha();
      }
      shaders.setUniformColor(rgba);
    }
    if (m_indexed) {
      glDrawElements(m_primitive, static_cast<GLsizei>(m_indexCounts[i]), GL_UNSIGNED_INT,
                     reinterpret_cast<const void*>(static_cast<uintptr_t>(m_indexOffsets[i]) * 4));
    } else {
      glDrawArrays(m_primitive, static_cast<GLint>(m_vertexOffsets[i]),
                   static_cast<GLsizei>(m_vertexCounts[i]));
    }
  }
  glBindVertexArray(0);
  if (m_flagBuffer) m_flagBuffer->drawBuffers(mvp, model);
}

// ---- FlagBufferRender ----

FlagBufferRender::FlagBufferRender(uint32_t capacity, uint32_t mode)
    : coreBufferRender<Operatable*>(capacity), m_mode(mode) {}

void FlagBufferRender::createBuffers() {
  if (!strokeBuffersHaveGL()) return;
  const int locations[1] = {0};
  const uint32_t sizes[1] = {3};
  if (!createVertexArray(m_vertexArrays[0], m_vertexArrays[1], nullptr, 1, locations, sizes)) {
    releaseGLObjects();
    return;
  }
  m_reservedFloats = 0;
  reserveUnits(m_vertexArrays[1], m_reservedFloats, std::min(kInitialBufferReserve, m_capacity),
               m_capacity);
}

void FlagBufferRender::writeOperation(Operatable* op, bool append) {
  if (!op || m_history.empty()) return;
  const int s = slotOf(m_history, op);
  if (s < 0) return;
  int floats = 0;
  switch (m_mode) {
    case 1: {
      const bool flags[7] = {true, false, false, true, false, false, false};
      floats = op->fillPointBuffer(m_vertexScratch, 0, -1, flags);
      // Each point with its pitch becomes the point and the tip of a short tick.
      for (int at = 0; at + 6 <= floats; at += 6)
        for (int c = 0; c < 3; ++c)
          m_vertexScratch[at + 3 + c] = m_vertexScratch[at + c] + kTickLength * m_vertexScratch[at + 3 + c];
      break;
    }
    case 2: floats = op->fillSampleBuffer(m_vertexScratch); break;
    case 3: floats = op->fillControlBuffer(m_vertexScratch); break;
    default: return;
  }
  const uint32_t vertices = static_cast<uint32_t>(floats / 3);
  if (append && m_vertexCounts[s] >= vertices) return;
  const uint32_t own = m_vertexOffsets[s];
  const bool last = s == static_cast<int>(m_history.size()) - 1;
  const bool fits = last ? (uint64_t{own} + vertices) * 3 <= m_capacity
                         : vertices <= m_vertexOffsets[s + 1] - own;
  if (!fits) return;
  if (m_vertexArrays[1] && vertices > 0 &&
      reserveUnits(m_vertexArrays[1], m_reservedFloats, (uint64_t{own} + vertices) * 3, m_capacity))
    upload(m_vertexArrays[1], uint64_t{own} * 3, m_vertexScratch.data(), size_t{vertices} * 3);
  m_vertexCounts[s] = vertices;
  m_indexCounts[s] = 0;
}

void FlagBufferRender::drawBuffers(const Matrix4& matrix, const Matrix4& /*model*/) {
  if (m_cursor < 0 || !m_vertexArrays[0] || !g_shaderManager) return;
  ShaderManager& shaders = *g_shaderManager;
  const uint32_t program = shaders.m_forced >= 0 ? static_cast<uint32_t>(shaders.m_forced) : 0u;
  if (!shaders.useProgram(program)) return;
  const bool hasMatrix = shaders.hasUniformMatrix();
  if (hasMatrix) shaders.setUniformMatrix(matrix.data());
  if (shaders.hasUniformColor()) {
    const float green[4] = {0.0f, 1.0f, 0.0f, 1.0f};
    shaders.setUniformColor(green);
  }
  glBindVertexArray(m_vertexArrays[0]);
  const int last = std::min(m_cursor, static_cast<int>(m_history.size()) - 1);
  for (int i = 0; i <= last; ++i) {
    const Operatable* op = m_history[i];
    if (!op || op->isRemoved() || !op->isVisible() || m_vertexCounts[i] == 0) continue;
    if (hasMatrix) {
      Matrix4 m = matrix;
      if (const Matrix4* level = levelDrawMatrix(op->m_transformLevel)) multiplyMatrix4(m, m, *level);
      shaders.setUniformMatrix(m.data());
    }
    glDrawArrays(GL_LINES, static_cast<GLint>(m_vertexOffsets[i]),
                 static_cast<GLsizei>(m_vertexCounts[i]));
  }
  glBindVertexArray(0);
}
