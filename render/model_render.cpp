#include "render/model_render.h"

#include <cmath>
#include <cstddef>
#include <iostream>
#include <limits>

#include "core/cout_line.h"
#include "core/settings.h"
#include "platform/vr_runtime.h"

uint32_t shaderRowLayout(uint32_t shaderIndex, int locations[kAttributeSlots],
                         uint32_t sizes[kAttributeSlots]) {
  if (shaderIndex >= g_shaderTable.size()) return 0;
  const ShaderEntry& row = g_shaderTable[shaderIndex];
  uint32_t floats = 0;
  for (int slot = 0; slot < kAttributeSlots; ++slot) {
    locations[slot] = row.flags[slot] ? slot : -1;
    sizes[slot] = row.flags[slot] ? g_attributeFloatCounts[slot] : 0;
    floats += sizes[slot];
  }
  return floats;
}

bool createVertexArray(GLuint& vao, GLuint& vbo, GLuint* ebo, uint32_t attributeCount,
                       const int* locations, const uint32_t* sizes) {
  glGenVertexArrays(1, &vao);
  if (vao == 0) return false;
  glBindVertexArray(vao);
  if (ebo) {
    glGenBuffers(1, ebo);
    if (*ebo == 0) {
      glBindVertexArray(0);
      return false;
    }
    glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, *ebo);
  }
  uint32_t strideFloats = 0;
  for (uint32_t i = 0; i < attributeCount; ++i)
    if (locations[i] >= 0) strideFloats += sizes[i];
  const GLsizei stride = static_cast<GLsizei>(strideFloats * sizeof(float));
  glGenBuffers(1, &vbo);
  if (vbo == 0) {
    glBindVertexArray(0);
    return false;
  }
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  size_t offset = 0;
  for (uint32_t i = 0; i < attributeCount; ++i) {
    if (sizes[i] == 0 || locations[i] < 0) continue;
    glEnableVertexAttribArray(static_cast<GLuint>(locations[i]));
    glVertexAttribPointer(static_cast<GLuint>(locations[i]), static_cast<GLint>(sizes[i]),
                          GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offset));
    offset += sizeof(float) * sizes[i];
  }
  glBindVertexArray(0);
  return true;
}

int32_t advanceDrawCounter() {
  int32_t* slot = modeStateSlot(STATE_DRAW_COUNTER);
  if (!slot) return 0;
  int32_t& counter = *slot;
  const int32_t before = counter;
  counter = before == std::numeric_limits<int32_t>::max() ? 0 : before + 1;
  return before;
}

float blinkPhase(int32_t counter) {
  // The counter starts at -1; a plain % would give a negative phase there.
  const int32_t cycle = ((counter % 500) + 500) % 500;
  return static_cast<float>(std::abs(cycle - 250)) * 0.004f;
}

ModelRender::ModelRender(const std::string& name) : m_name(name) {}

ModelRender::~ModelRender() { deleteBuffers(); }

void ModelRender::setColor(const Vec<4, float>& color) { m_color = color; }

void ModelRender::deleteBuffers() {
  if (m_vao) glDeleteVertexArrays(1, &m_vao);
  if (m_vbo) glDeleteBuffers(1, &m_vbo);
  if (m_ebo) glDeleteBuffers(1, &m_ebo);
  m_vao = m_vbo = m_ebo = 0;
}

bool ModelRender::uploadGeometry(const std::vector<float>& vertices, uint32_t shaderIndex,
                                 GLenum primitive, const std::vector<uint32_t>* indices,
                                 const int* locations, const uint32_t* sizes,
                                 uint32_t attributeCount) {
  if (shaderIndex >= g_shaderTable.size()) {
    coutLine("uploadGeometry: shader index ", shaderIndex, " outside the shader table (", m_name,
             ")");
    return false;
  }
  int rowLocations[kAttributeSlots];
  uint32_t rowSizes[kAttributeSlots];
  const bool ownLayout = locations && sizes && attributeCount > 0;
  uint32_t floatsPerVertex = 0;
  if (ownLayout) {
    for (uint32_t i = 0; i < attributeCount; ++i) floatsPerVertex += sizes[i];
  } else {
    floatsPerVertex = shaderRowLayout(shaderIndex, rowLocations, rowSizes);
  }
  if (floatsPerVertex == 0) {
    coutLine("uploadGeometry: a vertex layout of no floats (", m_name, ")");
    return false;
  }
  const bool indexed = indices && indices->size() >= 3;
  const size_t vertexCount = vertices.size() / floatsPerVertex;
  if (indexed) {
    for (uint32_t index : *indices) {
      if (index >= vertexCount) {
        coutLine("uploadGeometry: index ", index, " beyond the ", vertexCount, " vertices (",
                 m_name, ")");
        return false;
      }
    }
  }
  // A second upload replaces the mesh instead of leaking the first one's objects.
  deleteBuffers();
  m_shaderIndex = shaderIndex;
  m_primitive = primitive;
  m_indexType = GL_UNSIGNED_INT;
  m_floatsPerVertex = floatsPerVertex;
  GLuint* ebo = indexed ? &m_ebo : nullptr;
  const bool created = ownLayout
                           ? createVertexArray(m_vao, m_vbo, ebo, attributeCount, locations, sizes)
                           : createVertexArray(m_vao, m_vbo, ebo, kAttributeSlots, rowLocations,
                                               rowSizes);
  if (!created) return false;
  m_floatCount = static_cast<uint32_t>(vertices.size());
  m_count = static_cast<int32_t>(vertexCount);
  glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
  glBufferData(GL_ARRAY_BUFFER, static_cast<GLsizeiptr>(vertices.size() * sizeof(float)),
               vertices.data(), GL_STATIC_DRAW);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  if (indexed) {
    // The element binding is part of the vertex array; bind it there to fill it.
    glBindVertexArray(m_vao);
    glBufferData(GL_ELEMENT_ARRAY_BUFFER,
                 static_cast<GLsizeiptr>(indices->size() * sizeof(uint32_t)), indices->data(),
                 GL_STATIC_DRAW);
    glBindVertexArray(0);
    m_count = static_cast<int32_t>(indices->size());
  }
  return true;
}

void ModelRender::updateGeometry(const std::vector<float>& vertices) {
  const size_t n = vertices.size();
  if (m_ebo != 0) {
    if (n != m_floatCount) return;
    glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(n * sizeof(float)),
                    vertices.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return;
  }
  if (m_vao != 0 && n < m_floatCount) {
    glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
    glBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(n * sizeof(float)),
                    vertices.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    m_count = m_floatsPerVertex ? static_cast<int32_t>(n / m_floatsPerVertex) : 0;
    return;
  }
  deleteBuffers();
  uploadGeometry(vertices, m_shaderIndex, m_primitive);
}

Vec<4, float> ModelRender::drawColor(float blink) const {
  if (isSelected()) return Vec<4, float>(1.0f, 1.0f, 1.0f - blink, 1.0f);
  if (m_color[3] < -0.01f) {
    const float l = g_currentColor.lightness();
    return Vec<4, float>(g_currentColor.red() * l, g_currentColor.green() * l,
                         g_currentColor.blue() * l, 1.0f);
  }
  return m_color;
}

void ModelRender::render(const Matrix4& model, const Matrix4& viewProjection) {
  if (!isRenderable() || m_vao == 0 || !g_shaderManager) return;
  ShaderManager& shaders = *g_shaderManager;
  const uint32_t program =
      shaders.m_forced >= 0 ? static_cast<uint32_t>(shaders.m_forced) : m_shaderIndex;
  // An entry whose program failed to build draws nothing.
  if (!shaders.useProgram(program)) return;
  if (shaders.m_forced >= -1 && !m_forcedPass) return;

  const float blink = blinkPhase(advanceDrawCounter());
  if (shaders.hasUniformMatrix()) {
    Matrix4 mvp;
    multiplyMatrix4(viewProjection, mvp, model);
    shaders.setUniformMatrix(mvp.data());
  }
  if (shaders.hasUniformModel()) shaders.setUniformModel(model.data());
  if (shaders.hasUniformOpacity()) shaders.setUniformOpacity(m_opacity);
  if (shaders.hasUniformColor()) shaders.setUniformColor(drawColor(blink).data());
  if (shaders.hasUniformViewPos()) shaders.setUniformViewPos(g_headMatrix);
  shaders.bindTextures(m_textures);
  drawMesh();
}

void ModelRender::drawMesh() const {
  if (m_cullBackFaces) glEnable(GL_CULL_FACE);
  glBindVertexArray(m_vao);
  if (m_ebo != 0)
    glDrawElements(m_primitive, m_count, m_indexType, nullptr);
  else
    glDrawArrays(m_primitive, 0, m_count);
  glBindVertexArray(0);
  if (m_cullBackFaces) glDisable(GL_CULL_FACE);
}

bool ModelRender::setupRenderModel(const vr::RenderModel& model,
                                   const vr::RenderModelTexture& texture) {
  static_assert(sizeof(vr::RenderModelVertex) == 32, "runtime vertices are 32 bytes");
  if (!model.m_vertexData || !model.m_indexData || model.m_vertexCount == 0 ||
      model.m_triangleCount == 0) {
    coutLine("setupRenderModel: empty render model ", m_name);
    return false;
  }
  const size_t indexCount = static_cast<size_t>(model.m_triangleCount) * 3;
  for (size_t i = 0; i < indexCount; ++i) {
    if (model.m_indexData[i] >= model.m_vertexCount) {
      coutLine("setupRenderModel: index beyond the vertices in ", m_name);
      return false;
    }
  }
  deleteBuffers();
  // Memory order of a runtime vertex: position, normal, texture coordinates.
  const int locations[3] = {0, 2, 1};
  const uint32_t sizes[3] = {3, 3, 2};
  if (!createVertexArray(m_vao, m_vbo, &m_ebo, 3, locations, sizes)) return false;
  glBindVertexArray(m_vao);
  glBindBuffer(GL_ARRAY_BUFFER, m_vbo);
  glBufferData(GL_ARRAY_BUFFER,
               static_cast<GLsizeiptr>(sizeof(vr::RenderModelVertex) * model.m_vertexCount),
               model.m_vertexData, GL_STATIC_DRAW);
  glBufferData(GL_ELEMENT_ARRAY_BUFFER, static_cast<GLsizeiptr>(sizeof(uint16_t) * indexCount),
               model.m_indexData, GL_STATIC_DRAW);
  glBindVertexArray(0);
  glBindBuffer(GL_ARRAY_BUFFER, 0);

  if (g_textureManager) {
    const Texture* diffuse = g_textureManager->loadTextureFromPixels(
        m_name, texture.m_width, texture.m_height, texture.m_data);
    if (diffuse) m_textures.addTexture(diffuse->m_id, diffuse->m_typeName);
  }
  m_shaderIndex = 2;
  m_primitive = GL_TRIANGLES;
  m_indexType = GL_UNSIGNED_SHORT;
  m_floatsPerVertex = 8;
  m_floatCount = model.m_vertexCount * 8;
  m_count = static_cast<int32_t>(indexCount);
  return true;
}
