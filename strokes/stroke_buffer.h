#pragma once
#include <GL/glew.h>

#include <cstdint>
#include <vector>

#include "core/matrix.h"
#include "render/texture.h"
#include "strokes/undoer.h"

class Operatable;

// Operations laid out back to back in shared GPU buffers: per buffered operation its first vertex
// and vertex count, first index and index count, parallel to m_history (buffer order). The
// cursor is the newest drawn entry; undo and redo only move it. Lists only: the GL objects are
// made and written by the derived buffer.
template <typename T>
class coreBufferRender : public coreUndoer<T> {
 public:
  using coreUndoer<T>::m_history;
  using coreUndoer<T>::m_cursor;

  explicit coreBufferRender(uint32_t capacity) : m_capacity(capacity) {}
  ~coreBufferRender() override { releaseGLObjects(); }

  int truncateRedo() override {
    const int keep = m_cursor + 1;
    const int erased = static_cast<int>(m_history.size()) - keep;
    if (erased <= 0) return 0;
    m_history.resize(keep);
    m_vertexOffsets.resize(keep);
    m_vertexCounts.resize(keep);
    m_indexOffsets.resize(keep);
    m_indexCounts.resize(keep);
    return erased;
  }
  bool redo() override {
    if (m_cursor >= static_cast<int>(m_history.size()) - 1) return false;
    ++m_cursor;
    return true;
  }
  bool undo() override {
    if (m_cursor < 0) return false;
    --m_cursor;
    return true;
  }

  virtual void createBuffers() {}
  virtual void rebuildBuffers(const std::vector<T>& ops) {
    clearBuffers();
    for (T op : ops) {
      pushOperation(op);
      writeOperation(op, true);
    }
  }
  virtual void clearBuffers() {
    m_history.clear();
    m_vertexOffsets.clear();
    m_vertexCounts.clear();
    m_indexOffsets.clear();
    m_indexCounts.clear();
    m_cursor = -1;
  }
  virtual void popOperation() {
    if (m_history.empty()) return;
    m_history.pop_back();
    m_vertexOffsets.pop_back();
    m_vertexCounts.pop_back();
    m_indexOffsets.pop_back();
    m_indexCounts.pop_back();
    m_cursor = static_cast<int>(m_history.size()) - 1;
  }
  // Appends op right after the last buffered operation, with no vertices yet; it is drawn.
  virtual void pushOperation(T op) {
    m_vertexOffsets.push_back(m_vertexOffsets.empty() ? 0
                                                      : m_vertexOffsets.back() + m_vertexCounts.back());
    m_vertexCounts.push_back(0);
    m_indexOffsets.push_back(m_indexOffsets.empty() ? 0 : m_indexOffsets.back() + m_indexCounts.back());
    m_indexCounts.push_back(0);
    m_history.push_back(op);
    m_cursor = static_cast<int>(m_history.size()) - 1;
  }
  virtual void writeOperation(T /*op*/, bool /*append*/) {}
  // True when the newest operation no longer fits.
  virtual bool checkCapacity(T /*op*/) { return false; }
  virtual void drawBuffers() {}

  // Deletes whichever GL objects exist and zeroes their names.
  void releaseGLObjects() {
    // The vertex array and the two buffers are different kinds of GL object.
    if (m_vertexArrays[0]) glDeleteVertexArrays(1, &m_vertexArrays[0]);
    if (m_vertexArrays[1]) glDeleteBuffers(1, &m_vertexArrays[1]);
    if (m_vertexArrays[2]) glDeleteBuffers(1, &m_vertexArrays[2]);
    m_vertexArrays[0] = m_vertexArrays[1] = m_vertexArrays[2] = 0;
  }

  uint32_t m_capacity;                  // vertex buffer size, floats
  GLuint m_vertexArrays[3] = {0, 0, 0};  // vertex array, vertex buffer, index buffer
  std::vector<uint32_t> m_vertexOffsets;
  std::vector<uint32_t> m_vertexCounts;
  std::vector<uint32_t> m_indexOffsets;
  std::vector<uint32_t> m_indexCounts;
};

// A render row: how a buffer writes and draws its strokes.
struct StrokeBufferFormat {
  uint32_t writeMode = 0;    // ribbons: 0 rewrite the whole stroke, 1 append new points only
  uint32_t shaderIndex = 0;  // into g_shaderTable
  uint32_t primitive = GL_LINE_STRIP;

  StrokeBufferFormat() = default;
  StrokeBufferFormat(uint32_t mode, uint32_t shader, uint32_t prim)
      : writeMode(mode), shaderIndex(shader), primitive(prim) {}
  // From a row of g_renderRows.
  explicit StrokeBufferFormat(const int32_t* row)
      : writeMode(static_cast<uint32_t>(row[0])),
        shaderIndex(static_cast<uint32_t>(row[1])),
        primitive(static_cast<uint32_t>(row[2])) {}
};

// GPU memory is reserved as a buffer fills rather than at its full capacity: the first
// reservation (in floats or indices), then doubled, never above the capacity.
constexpr uint32_t kInitialBufferReserve = 1u << 18;
// The reservation to grow to for `needed` units; `capacity` when needed exceeds it.
uint32_t grownReservation(uint32_t reserved, uint64_t needed, uint32_t capacity);

// Where writing a stroke starts and how much it covers, from the buffer lists alone.
struct StrokeWritePlan {
  bool write = false;        // false: nothing new to write
  uint32_t firstPoint = 0;   // points [firstPoint, n) are new
  uint32_t ownFirstVertex = 0;
  uint32_t vertexStart = 0;  // where the new points' vertices go
  uint32_t indexStart = 0;   // where the new indices go
  uint32_t vertexCount = 0;  // the stroke's vertices once written (m n)
  uint32_t indexCount = 0;   // the stroke's indices once written
};

class FlagBufferRender;

// Many strokes packed into one dynamic vertex buffer (and, for ribbons, one index buffer), drawn
// one call per stroke with its own colour and transform. The capacity is logical: GPU memory
// grows towards it as strokes arrive. Without loaded GL entry points no GL object is made and
// only the lists are kept (nothing is drawn).
class StrokeBufferRender : public coreBufferRender<Operatable*> {
 public:
  StrokeBufferRender(const StrokeBufferFormat& format, uint32_t capacity);
  ~StrokeBufferRender() override;

  int truncateRedo() override;
  bool redo() override;
  bool undo() override;
  void createBuffers() override;
  void clearBuffers() override;
  void popOperation() override;
  void pushOperation(Operatable* op) override;
  // append: only the points added since the last write (op must be the newest entry); else the
  // whole stroke rewritten in its own range.
  void writeOperation(Operatable* op, bool append) override;
  // Whether the newest stroke no longer fits behind the one before it (the argument is not
  // used). A stroke that could not fit even an empty buffer is reported on standard output.
  bool checkCapacity(Operatable* op) override;

  // Draws the applied strokes, newest first; model and viewProjection column-major.
  void draw(const Matrix4& model, const Matrix4& viewProjection);

  // Whether a stroke is larger than a whole empty buffer.
  bool exceedsCapacity(const Operatable* op) const;
  // The write of op at slot s (append or whole), from the lists; write false for nothing.
  StrokeWritePlan planWrite(const Operatable* op, int slot, bool append) const;
  bool hasGLObjects() const { return m_vertexArrays[0] != 0; }
  uint32_t floatsPerVertex() const { return m_floatsPerVertex; }
  uint32_t reservedVertexFloats() const { return m_reservedFloats; }
  StrokeBufferFormat format() const { return {m_writeMode, m_shaderIndex, m_primitive}; }

  uint32_t m_writeMode;
  uint32_t m_shaderIndex;
  uint32_t m_primitive;
  FlagBufferRender* m_flagBuffer = nullptr;  // owned; debug lines
  TextureSlots m_textures;

 private:
  bool growVertexBuffer(uint64_t floats);
  bool growIndexBuffer(uint64_t indices);

  uint32_t m_floatsPerVertex = 0;
  bool m_indexed = false;
  uint32_t m_reservedFloats = 0;
  uint32_t m_reservedIndices = 0;
  // What a write builds before uploading it: grown, never shrunk, so redrawing a stroke every
  // frame does not allocate.
  std::vector<float> m_vertexScratch;
  std::vector<uint32_t> m_indexScratch;
};

// Debug lines for the strokes of a ribbon buffer (settings debug_visual >= 1): mode 1 a tick
// along each point's pitch, 2 the sample positions, 3 the control points. Positions only.
class FlagBufferRender : public coreBufferRender<Operatable*> {
 public:
  FlagBufferRender(uint32_t capacity, uint32_t mode);

  void createBuffers() override;
  void writeOperation(Operatable* op, bool append) override;
  // matrix: view-projection times model.
  void drawBuffers(const Matrix4& matrix, const Matrix4& model);

  uint32_t m_mode;

 private:
  uint32_t m_reservedFloats = 0;
  std::vector<float> m_vertexScratch;  // as StrokeBufferRender's
};

// Whether GL entry points are loaded, so buffers can make GL objects.
bool strokeBuffersHaveGL();
// The transform that carries strokes of a transform level into the current scene; null for the
// newest level (no extra transform) and for a level the transform tool does not hold.
const Matrix4* levelDrawMatrix(int level);
