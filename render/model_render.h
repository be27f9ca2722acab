#pragma once
#include <GL/glew.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/core_object.h"
#include "core/hand_frames.h"
#include "core/matrix.h"
#include "core/vec.h"
#include "render/shader.h"
#include "render/texture.h"

namespace vr {
struct RenderModel;
struct RenderModelTexture;
}  // namespace vr


// Vertex layout of a shader table row: a set flag gives location = slot and its float count, a
// clear one location -1 and size 0. Returns the floats per vertex; 0 for an index outside the
// table (nothing is written then).
uint32_t shaderRowLayout(uint32_t shaderIndex, int locations[kAttributeSlots],
                         uint32_t sizes[kAttributeSlots]);

// Creates a vertex array with its vertex buffer (and an index buffer when `ebo` is given),
// interleaving the attributes with a location of 0 or more in order, tightly packed floats.
// Ids are filled in as they are made; false when GL gives a 0 id. Buffers are left empty.
bool createVertexArray(GLuint& vao, GLuint& vbo, GLuint* ebo, uint32_t attributeCount,
                       const int* locations, const uint32_t* sizes);

// The process-wide draw counter (STATE_DRAW_COUNTER of g_modeState): returns its value and moves it on by one,
// wrapping to 0 past the largest int32. 0 while the mode vector is not sized yet.
int32_t advanceDrawCounter();
// Selection blink from the counter: runs from 1 down to 0 and back once every 500 draws.
float blinkPhase(int32_t counter);

// Base of everything that draws itself as one mesh with one program of g_shaderTable.
class ModelRender : public coreObject {
 public:
  explicit ModelRender(const std::string& name);
  ~ModelRender() override;
  ModelRender(const ModelRender&) = delete;
  ModelRender& operator=(const ModelRender&) = delete;

  // Makes the object's own mesh; nothing here.
  virtual void buildGeometry() {}
  virtual void setColor(const Vec<4, float>& color);
  // Draws with model and view-projection transforms (column-major).
  virtual void render(const Matrix4& model, const Matrix4& viewProjection);

  // Uploads a mesh for shader `shaderIndex`. The layout is the caller's (locations and sizes of
  // `attributeCount` attributes) or, without one, the shader table row's. `indices` is used only
  // with 3 or more entries, all within the vertices. False (with a message) for an index outside
  // the shader table, a layout of no floats or indices beyond the mesh; false when GL gives no id.
  bool uploadGeometry(const std::vector<float>& vertices, uint32_t shaderIndex, GLenum primitive,
                      const std::vector<uint32_t>* indices = nullptr,
                      const int* locations = nullptr, const uint32_t* sizes = nullptr,
                      uint32_t attributeCount = 0);
  // Replaces the vertex data: in place when it fits (an indexed mesh only with the same length,
  // else ignored), otherwise by a new upload with the shader table layout.
  void updateGeometry(const std::vector<float>& vertices);
  void deleteBuffers();
  // Draws the mesh with the program and uniforms already set: indexed when it has indices.
  void drawMesh() const;
  // A headset or controller model of the VR runtime: 32-byte vertices (position, normal,
  // texture coordinates), 16-bit triangle indices and an RGBA8 texture, drawn with shader 2.
  bool setupRenderModel(const vr::RenderModel& model, const vr::RenderModelTexture& texture);

  // The colour a draw sends as "m_color": blinking for a selected object (blink 0 to 1), the
  // brush colour for a colour whose alpha is below -0.01, else m_color.
  Vec<4, float> drawColor(float blink) const;

  std::string m_name;
  GLuint m_vao = 0;
  GLuint m_vbo = 0;
  GLuint m_ebo = 0;
  uint32_t m_shaderIndex = 0;
  GLenum m_primitive = GL_TRIANGLES;
  int32_t m_count = 0;
  uint32_t m_floatsPerVertex = 3;
  GLenum m_indexType = GL_UNSIGNED_INT;
  uint32_t m_floatCount = 0;
  TextureSlots m_textures;
  Vec<4, float> m_color;
  float m_opacity = 1.0f;
  bool m_forcedPass = false;
  // Closed meshes skip their back faces; everything else (ribbons, quads, lines) stays
  // two-sided. Culling is switched on only around this object's own draw.
  bool m_cullBackFaces = false;
};
