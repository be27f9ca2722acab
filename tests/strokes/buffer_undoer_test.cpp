#include "strokes/buffer_undoer.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "strokes/buffer_undoer_test_support.h"
#include "strokes/sample.h"
#include "strokes/stroke_geometry.h"

namespace {

const StrokeBufferFormat kPenFormat(g_renderRows[0]);
// Room for 25 pen vertices.
constexpr uint32_t kSmallCapacity = 75;

// Records what reaches the grid, in order.
class RecordingGrid : public SampleGridLink {
 public:
  bool addElement(Sample* s) override { return record("add", s); }
  bool removeElement(Sample* s) override { return record("remove", s) && !failRemove; }
  bool updateElement(Sample* s) override { return record("update", s); }
  void reset() override { calls.push_back("reset"); }
  bool record(const char* what, Sample* s) {
    calls.push_back(std::string(what) + " " + std::to_string(s->m_index));
    return true;
  }
  std::vector<std::string> calls;
  bool failRemove = false;
};

class BufferUndoerTest : public BrushStateTest {
 protected:
  void SetUp() override {
    BrushStateTest::SetUp();
    m_history.createBuffer(kPenFormat, kSmallCapacity);
  }
  // A pen stroke that goes through a tool's drawing cycle into the history.
  Operatable* draw(int points, bool chained = false) {
    Operatable* op = makeStroke(0, 0, 1);
    m_history.notify(op, NOTIFY_BEGUN);
    growBy(op, points - 1);
    m_history.notify(op, NOTIFY_STEPPED);
    m_history.notify(op, NOTIFY_COMMITTED);
    op->setFlag7(chained);
    m_history.push(op, false);
    return op;
  }
  // Which entries the buffers draw, buffer by buffer.
  std::vector<int> drawnPerBuffer() const {
    std::vector<int> drawn;
    for (const StrokeBufferRender* b : m_history.m_fullBuffers) drawn.push_back(b->m_cursor + 1);
    drawn.push_back(m_history.m_buffer->m_cursor + 1);
    return drawn;
  }
  BufferUndoer m_history;
};

TEST_F(BufferUndoerTest, NotifyKindsFollowTheStrokeBeingDrawn) {
  Operatable* kept = draw(4);
  Operatable* abandoned = makeStroke(0, 0, 1);
  m_history.notify(abandoned, NOTIFY_BEGUN);
  EXPECT_EQ(abandoned->m_bufferIndex, 0);
  EXPECT_EQ(m_history.m_buffer->size(), 2);
  m_history.notify(abandoned, NOTIFY_ABANDONED);
  EXPECT_EQ(abandoned->m_bufferIndex, -1);
  EXPECT_EQ(m_history.m_buffer->size(), 1);
  EXPECT_EQ(m_history.m_buffer->m_vertexCounts[0], 4u);
  // Abandoning it again must not take the committed stroke's slot.
  m_history.notify(abandoned, NOTIFY_ABANDONED);
  EXPECT_EQ(m_history.m_buffer->m_history.back(), kept);
  delete abandoned;

  Operatable* loaded = makeStroke(0, 0, 6);
  m_history.pushList({loaded, nullptr}, false);
  EXPECT_EQ(m_history.size(), 2);
  EXPECT_EQ(m_history.m_cursor, 1);
  EXPECT_EQ(loaded->m_tag, 1);
  EXPECT_EQ(m_history.m_buffer->m_vertexOffsets[1], 4u);
  EXPECT_EQ(m_history.m_buffer->m_vertexCounts[1], 6u);

  m_history.push(nullptr, false);
  EXPECT_EQ(m_history.size(), 2);
  EXPECT_EQ(m_history.m_cursor, 1);
}

TEST_F(BufferUndoerTest, FullBuffersChainAndRenumberTheirStrokes) {
  Operatable* a = draw(10);
  Operatable* b = draw(10);
  Operatable* c = draw(10);  // 30 vertices do not fit in 25: a and b stay behind
  EXPECT_EQ(m_history.m_fullBuffers.size(), 1u);
  EXPECT_EQ(a->m_bufferIndex, 1);
  EXPECT_EQ(b->m_bufferIndex, 1);
  EXPECT_EQ(c->m_bufferIndex, 0);
  EXPECT_EQ(c->m_bufferSlot, 0);
  EXPECT_EQ(m_history.m_buffer->m_vertexOffsets[0], 0u);
  EXPECT_EQ(m_history.m_buffer->format().primitive, kPenFormat.primitive);
  EXPECT_EQ(m_history.m_buffer->m_capacity, kSmallCapacity);

  Operatable* d = draw(10);
  Operatable* e = draw(10);
  EXPECT_EQ(m_history.m_fullBuffers.size(), 2u);
  EXPECT_EQ(a->m_bufferIndex, 1);
  EXPECT_EQ(c->m_bufferIndex, 2);
  EXPECT_EQ(d->m_bufferIndex, 2);
  EXPECT_EQ(e->m_bufferIndex, 0);
  EXPECT_EQ(m_history.bufferOf(d), m_history.m_fullBuffers[1]);

  // Undo hides the newest drawn entry, reaching into full buffers once the current one is done.
  EXPECT_EQ(drawnPerBuffer(), (std::vector<int>{2, 2, 1}));
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(drawnPerBuffer(), (std::vector<int>{2, 0, 0}));
  EXPECT_FALSE(c->isRenderable());
  EXPECT_TRUE(m_history.redo());
  EXPECT_EQ(drawnPerBuffer(), (std::vector<int>{2, 1, 0}));

  // Cutting the tail erases d and e; the full buffer that still draws c is kept.
  EXPECT_EQ(m_history.truncateRedo(), 0);
  EXPECT_EQ(m_history.size(), 3);
  EXPECT_EQ(m_history.m_fullBuffers.size(), 2u);
  EXPECT_EQ(m_history.m_fullBuffers[1]->size(), 1);
  EXPECT_EQ(m_history.m_buffer->size(), 0);
  EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(m_history.truncateRedo(), 0);
  EXPECT_EQ(m_history.m_fullBuffers.size(), 1u);  // the buffer that only held c is gone
  Operatable* f = draw(5);
  EXPECT_EQ(f->m_bufferIndex, 0);
  EXPECT_EQ(drawnPerBuffer(), (std::vector<int>{2, 1}));
}

TEST_F(BufferUndoerTest, StrokeLargerThanAnyBufferStaysUnbuffered) {
  Operatable* before = draw(10);
  Operatable* op = makeStroke(0, 0, 1);
  m_history.notify(op, NOTIFY_BEGUN);
  growBy(op, 19);
  m_history.notify(op, NOTIFY_STEPPED);  // 20 points: moves on to a fresh buffer
  EXPECT_EQ(m_history.m_fullBuffers.size(), 1u);
  EXPECT_EQ(op->m_bufferIndex, 0);

  growBy(op, 10);
  testing::internal::CaptureStdout();
  m_history.notify(op, NOTIFY_STEPPED);  // 30 points never fit: reported once, then unbuffered
  growBy(op, 10);
  m_history.notify(op, NOTIFY_STEPPED);
  m_history.notify(op, NOTIFY_COMMITTED);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out,
            "this stroke (size = 30.000000) is too long! no buffer (maxsize = 25.000000) could "
            "save it.\n");
  EXPECT_EQ(op->m_bufferIndex, -1);
  EXPECT_EQ(m_history.m_fullBuffers.size(), 1u);
  EXPECT_EQ(m_history.m_buffer->size(), 0);

  // In the history it undoes alone, without hiding the stroke before it.
  m_history.push(op, false);
  EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(drawnPerBuffer(), (std::vector<int>{1, 0}));
  EXPECT_TRUE(m_history.redo());
  EXPECT_EQ(drawnPerBuffer(), (std::vector<int>{1, 0}));
  EXPECT_EQ(m_history.m_fullBuffers[0]->m_history.front(), before);
}

TEST_F(BufferUndoerTest, ChainedEntriesUndoAndRedoAsOneGroup) {
  Operatable* a = draw(3);
  Operatable* b = draw(3);
  Operatable* c = draw(3, true);
  Operatable* d = draw(3, true);
  Operatable* e = draw(3);
  EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(m_history.m_cursor, 3);
  EXPECT_FALSE(e->isRenderable());
  EXPECT_TRUE(m_history.undo());  // d, c and b
  EXPECT_EQ(m_history.m_cursor, 0);
  for (Operatable* op : {b, c, d}) EXPECT_FALSE(op->isRenderable());
  EXPECT_TRUE(a->isRenderable());
  EXPECT_EQ(m_history.m_buffer->m_cursor, 0);

  EXPECT_TRUE(m_history.redo());  // b, c and d again
  EXPECT_EQ(m_history.m_cursor, 3);
  for (Operatable* op : {b, c, d}) EXPECT_TRUE(op->isRenderable());
  EXPECT_EQ(m_history.m_buffer->m_cursor, 3);

  // A removed entry is chained the same way.
  e->setRemoved(true);
  EXPECT_TRUE(m_history.redo());
  EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(m_history.m_cursor, 0);
  EXPECT_TRUE(m_history.undo());
  EXPECT_FALSE(m_history.undo());
  EXPECT_EQ(m_history.m_buffer->m_cursor, -1);
}

TEST_F(BufferUndoerTest, ErasingDeletesOnlyOwnedEntries) {
  RecordingGrid grid;
  m_history.m_sampleGrid = &grid;
  draw(3);
  Operatable* shared = makeStroke(0, 0, 3);
  shared->m_samples = {new Sample(shared, 0, 0), new Sample(shared, 2, 1)};
  shared->setFlag4(false);
  m_history.notify(shared, NOTIFY_ADDED);
  m_history.push(shared, false);
  Operatable* owned = draw(3);
  EXPECT_EQ(grid.calls, (std::vector<std::string>{"add 0", "add 1"}));

  // A changed stroke is rewritten and re-binned when refreshed.
  grid.calls.clear();
  shared->setFlag10(true);
  EXPECT_TRUE(m_history.refreshOperation(shared));
  EXPECT_FALSE(shared->getFlag10());
  EXPECT_FALSE(m_history.refreshOperation(shared));
  EXPECT_EQ(grid.calls, (std::vector<std::string>{"update 1", "update 0"}));

  grid.calls.clear();
  grid.failRemove = true;
  m_history.undo();
  m_history.undo();
  testing::internal::CaptureStdout();
  EXPECT_EQ(m_history.truncateRedo(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "error: grider remove sample fail.\nerror: grider remove sample fail.\n");
  EXPECT_EQ(grid.calls, (std::vector<std::string>{"remove 1", "remove 0"}));
  EXPECT_EQ(m_history.size(), 1);
  (void)owned;  // deleted with the tail (an address-sanitized run would report a leak)
  EXPECT_EQ(shared->m_operation->points_size(), 3);  // still alive: not owned
  EXPECT_EQ(m_history.m_buffer->size(), 1);
  delete shared;
  m_history.m_sampleGrid = nullptr;
}

TEST_F(BufferUndoerTest, ResetDropsEveryBufferButTheCurrent) {
  RecordingGrid grid;
  m_history.m_sampleGrid = &grid;
  for (int i = 0; i < 8; ++i) draw(10);  // two per buffer
  EXPECT_EQ(m_history.m_fullBuffers.size(), 3u);
  StrokeBufferRender* current = m_history.m_buffer;
  m_history.setSelected(true);
  m_history.reset();
  EXPECT_TRUE(m_history.m_fullBuffers.empty());
  EXPECT_EQ(m_history.m_buffer, current);
  EXPECT_EQ(current->size(), 0);
  EXPECT_EQ(m_history.size(), 0);
  EXPECT_EQ(m_history.m_cursor, -1);
  EXPECT_FALSE(m_history.isSelected());
  EXPECT_EQ(grid.calls, (std::vector<std::string>{"reset"}));
  draw(3);
  EXPECT_EQ(m_history.size(), 1);
  m_history.m_sampleGrid = nullptr;
}

TEST_F(BufferUndoerTest, GrownNewestStrokeMovesOnWhenRewritten) {
  draw(10);
  Operatable* b = draw(10);
  // Post-processing resampled b to 20 points: it no longer fits behind a.
  growBy(b, 10);
  b->setFlag10(true);
  EXPECT_TRUE(m_history.refreshOperation(b));
  EXPECT_EQ(m_history.m_fullBuffers.size(), 1u);
  EXPECT_EQ(b->m_bufferIndex, 0);
  EXPECT_EQ(m_history.m_buffer->m_vertexCounts[0], 20u);
  // Redo order still follows the history: undo b hides it in the new buffer.
  EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(drawnPerBuffer(), (std::vector<int>{1, 0}));
}

}  // namespace
