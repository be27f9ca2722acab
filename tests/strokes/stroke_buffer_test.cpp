#include "strokes/stroke_buffer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "render/render_gl_fixture.h"
#include "strokes/buffer_undoer_test_support.h"
#include "strokes/stroke_geometry.h"
#include "support/gl_context.h"

namespace {

const StrokeBufferFormat kPenFormat(g_renderRows[0]);     // line strips, shader 0
const StrokeBufferFormat kRibbonFormat(g_renderRows[1]);  // triangles, shader 7, rewrite mode 0
constexpr uint32_t kRibbonStride = 12;

class StrokeBufferArithmetic : public BrushStateTest {
 protected:
  void TearDown() override {
    for (Operatable* op : m_strokes) delete op;
    BrushStateTest::TearDown();
  }
  Operatable* stroke(int texture, int curvature, int points) {
    m_strokes.push_back(makeStroke(texture, curvature, points));
    return m_strokes.back();
  }
  static void append(StrokeBufferRender& buffer, Operatable* op) {
    buffer.pushOperation(op);
    buffer.writeOperation(op, true);
  }
  std::vector<Operatable*> m_strokes;
};

TEST_F(StrokeBufferArithmetic, AppendingWritesOnlyTheNewPoints) {
  StrokeBufferRender pen(kPenFormat, 800000);
  Operatable* a = stroke(0, 0, 10);
  append(pen, a);
  EXPECT_EQ(pen.m_vertexCounts[0], 10u);
  growBy(a, 2);
  const StrokeWritePlan plan = pen.planWrite(a, 0, true);
  EXPECT_TRUE(plan.write);
  EXPECT_EQ(plan.firstPoint, 10u);
  EXPECT_EQ(plan.vertexStart, 10u);
  pen.writeOperation(a, true);
  EXPECT_EQ(pen.m_vertexCounts[0], 12u);
  EXPECT_EQ(pen.m_indexCounts[0], 0u);
  EXPECT_FALSE(pen.planWrite(a, 0, true).write);  // nothing new

  // Ribbon of curvature 0: two vertices per point; the next stroke packs right behind it.
  StrokeBufferRender ribbon(kRibbonFormat, 800000);
  Operatable* b = stroke(1, 0, 5);
  append(ribbon, b);
  EXPECT_EQ(ribbon.m_vertexCounts[0], 10u);
  EXPECT_EQ(ribbon.m_indexCounts[0], 24u);
  growBy(b, 1);
  const StrokeWritePlan grown = ribbon.planWrite(b, 0, true);
  EXPECT_EQ(grown.firstPoint, 5u);
  EXPECT_EQ(grown.indexStart, 24u);
  ribbon.writeOperation(b, true);
  EXPECT_EQ(ribbon.m_vertexCounts[0], 12u);
  EXPECT_EQ(ribbon.m_indexCounts[0], 30u);

  Operatable* c = stroke(1, 3, 4);  // five vertices per point
  append(ribbon, c);
  EXPECT_EQ(ribbon.m_vertexOffsets[1], 12u);
  EXPECT_EQ(ribbon.m_indexOffsets[1], 30u);
  EXPECT_EQ(ribbon.m_vertexCounts[1], 20u);
  EXPECT_EQ(ribbon.m_indexCounts[1], 72u);
  EXPECT_EQ(c->m_bufferSlot, 1);
}

TEST_F(StrokeBufferArithmetic, OperationWithoutGeometryWritesNothing) {
  StrokeBufferRender ribbon(kRibbonFormat, 800000);
  Operatable* op = stroke(1, 0, 5);
  op->m_operation->set_texture(-1);
  append(ribbon, op);
  growBy(op, 3);
  ribbon.writeOperation(op, true);
  ribbon.writeOperation(op, false);
  EXPECT_EQ(ribbon.m_vertexCounts[0], 0u);
  EXPECT_EQ(ribbon.m_indexCounts[0], 0u);
}

TEST_F(StrokeBufferArithmetic, CapacityCountsFromTheStrokeBefore) {
  // 25 pen vertices of 3 floats.
  StrokeBufferRender pen(kPenFormat, 75);
  Operatable* a = stroke(0, 0, 10);
  append(pen, a);
  EXPECT_FALSE(pen.checkCapacity(nullptr));
  Operatable* b = stroke(0, 0, 15);
  pen.pushOperation(b);
  EXPECT_FALSE(pen.checkCapacity(nullptr));  // exactly full
  growBy(b, 1);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(pen.checkCapacity(nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");

  StrokeBufferRender empty(kPenFormat, 75);
  Operatable* huge = stroke(0, 0, 26);
  empty.pushOperation(huge);
  testing::internal::CaptureStdout();
  EXPECT_TRUE(empty.checkCapacity(nullptr));
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "this stroke (size = 26.000000) is too long! no buffer (maxsize = 25.000000) could "
            "save it.\n");
  EXPECT_TRUE(empty.exceedsCapacity(huge));
  EXPECT_FALSE(empty.exceedsCapacity(a));
}

TEST_F(StrokeBufferArithmetic, RewriteNeverSpillsIntoTheNextStroke) {
  StrokeBufferRender pen(kPenFormat, 800000);
  Operatable* a = stroke(0, 0, 10);
  Operatable* b = stroke(0, 0, 10);
  append(pen, a);
  append(pen, b);
  growBy(a, 5);  // post-processing gave the older stroke more points
  testing::internal::CaptureStdout();
  pen.writeOperation(a, false);
  EXPECT_NE(testing::internal::GetCapturedStdout().find("does not fit"), std::string::npos);
  EXPECT_EQ(pen.m_vertexCounts[0], 10u);

  // Fewer points fit in place; the newest stroke may grow at the end.
  a->m_operation->mutable_points()->DeleteSubrange(8, 7);
  pen.writeOperation(a, false);
  EXPECT_EQ(pen.m_vertexCounts[0], 8u);
  growBy(b, 5);
  pen.writeOperation(b, false);
  EXPECT_EQ(pen.m_vertexCounts[1], 15u);
  EXPECT_EQ(pen.m_vertexOffsets[1], 10u);
}

TEST_F(StrokeBufferArithmetic, DroppedEntriesLoseTheirSlot) {
  StrokeBufferRender pen(kPenFormat, 800000);
  Operatable* a = stroke(0, 0, 3);
  Operatable* b = stroke(0, 0, 3);
  Operatable* c = stroke(0, 0, 3);
  append(pen, a);
  append(pen, b);
  append(pen, c);
  EXPECT_EQ(c->m_bufferSlot, 2);
  pen.popOperation();
  EXPECT_EQ(c->m_bufferSlot, -1);
  pen.undo();
  EXPECT_EQ(pen.truncateRedo(), 1);
  EXPECT_EQ(b->m_bufferSlot, -1);
  EXPECT_EQ(a->m_bufferSlot, 0);
  pen.clearBuffers();
  EXPECT_EQ(a->m_bufferSlot, -1);
  EXPECT_EQ(pen.m_cursor, -1);
}

TEST(StrokeBufferReserve, GrowsByDoublingUpToTheCapacity) {
  EXPECT_EQ(grownReservation(0, 10, 80000000), kInitialBufferReserve);
  EXPECT_EQ(grownReservation(kInitialBufferReserve, kInitialBufferReserve + 1, 80000000),
            2 * kInitialBufferReserve);
  EXPECT_EQ(grownReservation(kInitialBufferReserve, 5 * kInitialBufferReserve, 80000000),
            8 * kInitialBufferReserve);
  EXPECT_EQ(grownReservation(0, 10, 8000), 8000u);  // small buffers take their capacity
  EXPECT_EQ(grownReservation(1u << 25, (1u << 25) + 1, 40000000), 40000000u);
  EXPECT_EQ(grownReservation(0, 90000000, 80000000), 80000000u);
}

// ---- with a GL context ----

class StrokeBufferGL : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    m_state.set();
  }
  void TearDown() override {
    for (Operatable* op : m_strokes) delete op;
    m_state.restore();
    RenderGLTest::TearDown();
  }
  Operatable* stroke(int texture, int curvature, int points, float x = 0.0f, float y0 = 0.0f) {
    m_strokes.push_back(makeStroke(texture, curvature, points, x, y0));
    return m_strokes.back();
  }
  template <typename T>
  static std::vector<T> readBack(GLuint buffer, uint32_t first, uint32_t count) {
    std::vector<T> out(count);
    glBindBuffer(GL_ARRAY_BUFFER, buffer);
    glGetBufferSubData(GL_ARRAY_BUFFER, first * sizeof(T), count * sizeof(T), out.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return out;
  }
  static std::vector<float> expectedVertices(const Operatable* op) {
    std::vector<float> out;
    const int floats = op->buildStrandGeometry(out, 0, ~0u, g_shaderTable[7].flags);
    out.resize(static_cast<size_t>(floats));
    return out;
  }

  KnownBrushState m_state;
  std::vector<Operatable*> m_strokes;
};

TEST_F(StrokeBufferGL, AppendedAndRewrittenStrokesReadBack) {
  StrokeBufferRender ribbon(kRibbonFormat, 80000000);
  ASSERT_TRUE(ribbon.hasGLObjects());
  Operatable* a = stroke(1, 2, 5);
  Operatable* b = stroke(1, 0, 7, 0.5f);
  ribbon.pushOperation(a);
  ribbon.writeOperation(a, true);
  growBy(a, 3);  // the taper moves every vertex of the stroke
  ribbon.writeOperation(a, true);
  ribbon.pushOperation(b);
  ribbon.writeOperation(b, true);

  const uint32_t m = 4;
  EXPECT_EQ(readBack<float>(ribbon.m_vertexArrays[1], 0, 8 * m * kRibbonStride),
            expectedVertices(a));
  EXPECT_EQ(readBack<float>(ribbon.m_vertexArrays[1], 8 * m * kRibbonStride, 14 * kRibbonStride),
            expectedVertices(b));
  // Indices are absolute: b's first triangle starts at its own first vertex.
  std::vector<uint32_t> indices;
  b->fillIndexBuffer(indices, 0, ~0u, 8 * m, false);
  EXPECT_EQ(readBack<uint32_t>(ribbon.m_vertexArrays[2], ribbon.m_indexOffsets[1], 36), indices);
  EXPECT_EQ(indices[0], 8 * m);

  // Rewriting a in place (moved by an edit) leaves b untouched.
  const std::vector<float> before = readBack<float>(ribbon.m_vertexArrays[1], 32 * kRibbonStride,
                                                    14 * kRibbonStride);
  for (int i = 0; i < a->pointCount(); ++i)
    a->m_operation->mutable_points(i)->set_z(0.25f);
  ribbon.writeOperation(a, false);
  EXPECT_EQ(readBack<float>(ribbon.m_vertexArrays[1], 0, 8 * m * kRibbonStride),
            expectedVertices(a));
  EXPECT_EQ(readBack<float>(ribbon.m_vertexArrays[1], 32 * kRibbonStride, 14 * kRibbonStride),
            before);
  EXPECT_EQ(drainGLErrors(), static_cast<unsigned>(GL_NO_ERROR));
}

TEST_F(StrokeBufferGL, MemoryGrowsWithTheStrokesAndKeepsThem) {
  StrokeBufferRender ribbon(kRibbonFormat, 80000000);
  EXPECT_EQ(ribbon.reservedVertexFloats(), kInitialBufferReserve);
  Operatable* first = stroke(1, 0, 20);
  ribbon.pushOperation(first);
  ribbon.writeOperation(first, true);
  // Curvature 23 rings of 25 vertices: 300 floats per point, past the first reservation.
  Operatable* big = stroke(1, 23, 1200);
  ribbon.pushOperation(big);
  ribbon.writeOperation(big, true);
  EXPECT_GT(ribbon.reservedVertexFloats(), kInitialBufferReserve);
  EXPECT_LT(ribbon.reservedVertexFloats(), 80000000u);

  GLint64 bytes = 0;
  glBindBuffer(GL_ARRAY_BUFFER, ribbon.m_vertexArrays[1]);
  glGetBufferParameteri64v(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bytes);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  EXPECT_EQ(bytes, static_cast<GLint64>(ribbon.reservedVertexFloats()) * 4);
  EXPECT_EQ(readBack<float>(ribbon.m_vertexArrays[1], 0, 40 * kRibbonStride),
            expectedVertices(first));
  EXPECT_EQ(readBack<float>(ribbon.m_vertexArrays[1], 40 * kRibbonStride, 1200 * 25 * kRibbonStride),
            expectedVertices(big));
}

TEST_F(StrokeBufferGL, UndoneStrokeIsNotDrawn) {
  loadShaders();
  g_shaderManager->m_forced = 0;  // flat colour for every stroke
  TestRenderTarget target(64, 64);
  ASSERT_TRUE(target.complete());

  StrokeBufferRender ribbon(kRibbonFormat, 800000);
  // Two upright ribbons 0.2 wide, left and right of the centre, drawn in red.
  Operatable* left = stroke(1, 0, 100, -0.5f, -0.6f);
  Operatable* right = stroke(1, 0, 100, 0.5f, -0.6f);
  for (Operatable* op : {left, right}) {
    ribbon.pushOperation(op);
    ribbon.writeOperation(op, true);
  }
  auto drawn = [&](int x) {
    target.bindAndClear(0, 0, 0, 1);
    ribbon.draw(Matrix4(), Matrix4());
    return target.pixel(x, 32)[0] > 200;
  };
  EXPECT_TRUE(drawn(16));
  EXPECT_TRUE(drawn(48));
  EXPECT_TRUE(ribbon.undo());
  EXPECT_TRUE(drawn(16));
  EXPECT_FALSE(drawn(48));
  right->setRenderable(false);
  EXPECT_TRUE(ribbon.redo());
  EXPECT_FALSE(drawn(48));  // hidden strokes stay hidden
  right->setRenderable(true);
  EXPECT_TRUE(drawn(48));
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace
