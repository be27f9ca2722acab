#include "strokes/stroke_buffer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "strokes/stroke_geometry.h"
#include "strokes/stroke_test_support.h"

namespace {

using Ints = std::vector<uint32_t>;

const StrokeBufferFormat kPenFormat(g_renderRows[0]);     // line strips, shader 0
const StrokeBufferFormat kRibbonFormat(g_renderRows[1]);  // triangles, shader 7, rewritten whole
constexpr uint32_t kStride = 12;                          // floats per ribbon vertex

void append(StrokeBufferRender& buffer, Operatable* op) {
  buffer.pushOperation(op);
  buffer.writeOperation(op, true);
}

class StrokeBufferArithmetic : public BrushStateTest {
 protected:
  StrokeStore own;
};

TEST_F(StrokeBufferArithmetic, AppendingWritesOnlyTheNewPoints) {
  StrokeBufferRender pen(kPenFormat, 800000);
  Operatable* a = own(makeStroke(0, 0, 10));
  append(pen, a);
  growBy(a, 2);
  const StrokeWritePlan plan = pen.planWrite(a, 0, true);
  EXPECT_EQ((Ints{plan.firstPoint, plan.vertexStart}), (Ints{10, 10}));
  pen.writeOperation(a, true);
  EXPECT_EQ((Ints{pen.m_vertexCounts[0], pen.m_indexCounts[0]}), (Ints{12, 0}));
  EXPECT_FALSE(pen.planWrite(a, 0, true).write);

  // Curvature 0 ribbons have two vertices per point; the next stroke packs right behind.
  StrokeBufferRender ribbon(kRibbonFormat, 800000);
  Operatable* b = own(makeStroke(1, 0, 5));
  append(ribbon, b);
  EXPECT_EQ(ribbon.m_indexCounts[0], 24u);
  growBy(b, 1);
  EXPECT_EQ(ribbon.planWrite(b, 0, true).indexStart, 24u);
  ribbon.writeOperation(b, true);
  append(ribbon, own(makeStroke(1, 3, 4)));  // five vertices per point
  EXPECT_EQ((Ints{ribbon.m_vertexCounts[0], ribbon.m_indexCounts[0], ribbon.m_vertexOffsets[1],
                  ribbon.m_indexOffsets[1], ribbon.m_indexCounts[1]}),
            (Ints{12, 30, 12, 30, 72}));

  // An operation without geometry writes nothing (and divides by nothing).
  Operatable* none = own(makeStroke(1, 0, 5));
  none->m_operation->set_texture(-1);
  append(ribbon, none);
  EXPECT_EQ(ribbon.m_vertexCounts[2] + ribbon.m_indexCounts[2], 0u);
}

TEST_F(StrokeBufferArithmetic, CapacityCountsFromTheStrokeBefore) {
  StrokeBufferRender pen(kPenFormat, 75);  // 25 pen vertices
  append(pen, own(makeStroke(0, 0, 10)));
  Operatable* b = own(makeStroke(0, 0, 15));
  pen.pushOperation(b);
  EXPECT_FALSE(pen.checkCapacity(nullptr));  // exactly full
  growBy(b, 1);
  EXPECT_EQ(printedBy([&] { EXPECT_TRUE(pen.checkCapacity(nullptr)); }), "");
}

TEST_F(StrokeBufferArithmetic, RewriteNeverSpillsIntoTheNextStroke) {
  StrokeBufferRender pen(kPenFormat, 800000);
  Operatable* a = own(makeStroke(0, 0, 10));
  Operatable* b = own(makeStroke(0, 0, 10));
  append(pen, a);
  append(pen, b);
  growBy(a, 5);  // an edit gave the older stroke more points
  EXPECT_NE(printedBy([&] { pen.writeOperation(a, false); }).find("does not fit"), std::string::npos);
  EXPECT_EQ(pen.m_vertexCounts[0], 10u);

  a->m_operation->mutable_points()->DeleteSubrange(8, 7);
  pen.writeOperation(a, false);  // fewer points fit in place
  EXPECT_EQ(pen.m_vertexCounts[0], 8u);
  growBy(b, 5);
  pen.writeOperation(b, false);  // the newest stroke may grow at the end
  EXPECT_EQ(pen.m_vertexCounts[1], 15u);
}

TEST(StrokeBufferReserve, GrowsByDoublingUpToTheCapacity) {
  EXPECT_EQ(grownReservation(0, 10, 80000000), kInitialBufferReserve);
  EXPECT_EQ(grownReservation(kInitialBufferReserve, 5 * kInitialBufferReserve, 80000000),
            8 * kInitialBufferReserve);
  EXPECT_EQ(grownReservation(0, 10, 8000), 8000u);
  EXPECT_EQ(grownReservation(1u << 25, (1u << 25) + 1, 40000000), 40000000u);
}

// ---- with a GL context ----

class StrokeBufferGL : public BrushStateGLTest {
 protected:
  static std::vector<float> vertices(const Operatable* op) {
    std::vector<float> out;
    out.resize(static_cast<size_t>(op->buildStrandGeometry(out, 0, ~0u, g_shaderTable[7].flags)));
    return out;
  }
  StrokeStore own;
};

TEST_F(StrokeBufferGL, AppendedRewrittenAndGrownStrokesReadBack) {
  StrokeBufferRender ribbon(kRibbonFormat, 80000000);
  ASSERT_TRUE(ribbon.hasGLObjects());
  Operatable* a = own(makeStroke(1, 2, 5));  // four vertices per point
  append(ribbon, a);
  growBy(a, 3);  // the taper moves every vertex of the stroke
  ribbon.writeOperation(a, true);
  Operatable* b = own(makeStroke(1, 0, 7, 0.5f));
  append(ribbon, b);
  const GLuint vbo = ribbon.m_vertexArrays[1];
  EXPECT_EQ(readBack<float>(vbo, 0, 32 * kStride), vertices(a));
  EXPECT_EQ(readBack<float>(vbo, 32 * kStride, 14 * kStride), vertices(b));
  std::vector<uint32_t> indices;  // absolute: b's start at its own first vertex, 32
  b->fillIndexBuffer(indices, 0, ~0u, 32, false);
  EXPECT_EQ(readBack<uint32_t>(ribbon.m_vertexArrays[2], ribbon.m_indexOffsets[1], 36), indices);

  // a rewritten in place after an edit leaves b as it was.
  for (int i = 0; i < a->pointCount(); ++i) a->m_operation->mutable_points(i)->set_z(0.25f);
  ribbon.writeOperation(a, false);
  EXPECT_EQ(readBack<float>(vbo, 0, 32 * kStride), vertices(a));
  EXPECT_EQ(readBack<float>(vbo, 32 * kStride, 14 * kStride), vertices(b));

  // Curl-23 rings of 25 vertices take the buffer past its first reservation; what it held
  // is kept.
  EXPECT_EQ(ribbon.reservedVertexFloats(), kInitialBufferReserve);
  Operatable* big = own(makeStroke(1, 23, 1200));
  append(ribbon, big);
  GLint64 bytes = 0;
  glBindBuffer(GL_ARRAY_BUFFER, vbo);
  glGetBufferParameteri64v(GL_ARRAY_BUFFER, GL_BUFFER_SIZE, &bytes);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  EXPECT_GT(ribbon.reservedVertexFloats(), kInitialBufferReserve);
  EXPECT_EQ(bytes, static_cast<GLint64>(ribbon.reservedVertexFloats()) * 4);
  EXPECT_EQ(readBack<float>(vbo, 32 * kStride, 14 * kStride), vertices(b));
  EXPECT_EQ(readBack<float>(vbo, 46 * kStride, 1200 * 25 * kStride), vertices(big));
  EXPECT_EQ(drainGLErrors(), static_cast<unsigned>(GL_NO_ERROR));
}

TEST_F(StrokeBufferGL, DebugSettingAddsTicksAlongThePitch) {
  EXPECT_EQ(StrokeBufferRender(kRibbonFormat, 8000).m_flagBuffer, nullptr);
  g_parameters.set_debug_visual(1);
  EXPECT_EQ(StrokeBufferRender(kPenFormat, 8000).m_flagBuffer, nullptr);  // ribbons only
  StrokeBufferRender ribbon(kRibbonFormat, 8000);
  ASSERT_NE(ribbon.m_flagBuffer, nullptr);
  append(ribbon, own(makeStroke(1, 0, 3, 0.0f, 0.5f)));
  EXPECT_EQ(ribbon.m_flagBuffer->m_vertexCounts[0], 6u);
  EXPECT_EQ(readBack<float>(ribbon.m_flagBuffer->m_vertexArrays[1], 6, 6),
            (std::vector<float>{0.0f, 0.51f, 0.0f, 0.03f, 0.51f, 0.0f}));
  ribbon.undo();
  EXPECT_EQ(ribbon.m_flagBuffer->m_cursor, -1);
}

TEST_F(StrokeBufferGL, UndoneAndHiddenStrokesAreNotDrawn) {
  StrokeBufferRender ribbon(kRibbonFormat, 800000);
  // Upright red ribbons 0.2 wide, left and right of the centre.
  append(ribbon, own(makeStroke(1, 0, 100, -0.5f, -0.6f)));
  Operatable* right = own(makeStroke(1, 0, 100, 0.5f, -0.6f));
  append(ribbon, right);
  EXPECT_TRUE(redAt(ribbon, 16) && redAt(ribbon, 48));
  EXPECT_TRUE(ribbon.undo());
  EXPECT_TRUE(redAt(ribbon, 16) && !redAt(ribbon, 48));
  right->setRenderable(false);
  EXPECT_TRUE(ribbon.redo());
  EXPECT_FALSE(redAt(ribbon, 48));
  right->setRenderable(true);
  EXPECT_TRUE(redAt(ribbon, 48));
}

}  // namespace
