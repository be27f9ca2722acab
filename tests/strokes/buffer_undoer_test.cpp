#include "strokes/buffer_undoer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "strokes/stroke_test_support.h"
#include "strokes/sample.h"
#include "strokes/stroke_geometry.h"

namespace {

using Ints = std::vector<int>;

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

// A history of pen strokes whose buffers hold 25 vertices each.
class BufferUndoerTest : public BrushStateTest {
 protected:
  void SetUp() override {
    BrushStateTest::SetUp();
    m_history.createBuffer(StrokeBufferFormat(g_renderRows[0]), 75);
  }
  void TearDown() override {
    m_history.m_sampleGrid = nullptr;
    BrushStateTest::TearDown();
  }
  // A stroke through a tool's cycle: begun, grown, committed, pushed.
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
  // Entries drawn by each full buffer, then by the current one.
  std::vector<int> drawn() const {
    std::vector<int> out;
    for (const StrokeBufferRender* b : m_history.m_fullBuffers) out.push_back(b->m_cursor + 1);
    out.push_back(m_history.m_buffer->m_cursor + 1);
    return out;
  }
  BufferUndoer m_history;
  RecordingGrid m_grid;
};

TEST_F(BufferUndoerTest, NotifyKindsFollowTheStrokeBeingBuilt) {
  Operatable* kept = draw(4);
  Operatable* dropped = makeStroke(0, 0, 1);
  m_history.notify(dropped, NOTIFY_BEGUN);
  m_history.notify(dropped, NOTIFY_ABANDONED);
  m_history.notify(dropped, NOTIFY_ABANDONED);  // twice must not take the kept stroke's slot
  EXPECT_EQ(dropped->m_bufferIndex, -1);
  EXPECT_EQ(m_history.m_buffer->m_history, (std::vector<Operatable*>{kept}));
  delete dropped;

  // Added whole (a loaded painting); null entries are not entries.
  Operatable* loaded = makeStroke(0, 0, 6);
  m_history.pushList({loaded, nullptr}, false);
  m_history.push(nullptr, false);
  EXPECT_EQ((Ints{m_history.m_cursor, loaded->m_tag}), (Ints{1, 1}));
  EXPECT_EQ(m_history.m_buffer->m_vertexOffsets, (std::vector<uint32_t>{0, 4}));
  EXPECT_EQ(m_history.m_buffer->m_vertexCounts, (std::vector<uint32_t>{4, 6}));
}

TEST_F(BufferUndoerTest, FullBuffersChainAndRenumberTheirStrokes) {
  Operatable* a = draw(10);
  draw(10);
  Operatable* c = draw(10);  // does not fit behind two strokes of 10
  EXPECT_EQ((Ints{a->m_bufferIndex, c->m_bufferIndex}), (Ints{1, 0}));
  EXPECT_EQ(m_history.m_buffer->m_vertexOffsets[0], 0u);
  Operatable* d = draw(10);
  Operatable* e = draw(10);
  EXPECT_EQ((Ints{a->m_bufferIndex, c->m_bufferIndex, e->m_bufferIndex,
                  static_cast<int>(m_history.m_fullBuffers.size())}),
            (Ints{1, 2, 0, 2}));
  EXPECT_EQ(m_history.bufferOf(d), m_history.m_fullBuffers[1]);

  // Undo reaches into the full buffers once the current one draws nothing; redo fills the
  // oldest first.
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(drawn(), (Ints{2, 0, 0}));
  EXPECT_TRUE(m_history.redo());
  EXPECT_EQ(drawn(), (Ints{2, 1, 0}));

  // Cutting the tail erases d and e; a full buffer is dropped once it draws nothing.
  m_history.truncateRedo();
  EXPECT_EQ((Ints{m_history.size(), static_cast<int>(m_history.m_fullBuffers.size())}),
            (Ints{3, 2}));
  m_history.undo();
  m_history.truncateRedo();
  EXPECT_EQ(m_history.m_fullBuffers.size(), 1u);
  EXPECT_EQ(draw(5)->m_bufferIndex, 0);
  EXPECT_EQ(drawn(), (Ints{2, 1}));
}

TEST_F(BufferUndoerTest, StrokeBegunBehindARedoTailIsBufferedAfterTheTailIsCut) {
  // Begun while b was undone, then pushed without the tail cut first; in the current buffer
  // behind b (3 points), or moved on with b into the full list (18 points).
  for (int points : {3, 18}) {
    m_history.reset();
    Operatable* a = draw(4);
    draw(5);
    ASSERT_TRUE(m_history.undo());
    Operatable* c = draw(points);
    std::vector<Operatable*> buffered;
    for (const StrokeBufferRender* b : m_history.m_fullBuffers)
      buffered.insert(buffered.end(), b->m_history.begin(), b->m_history.end());
    buffered.insert(buffered.end(), m_history.m_buffer->m_history.begin(),
                    m_history.m_buffer->m_history.end());
    EXPECT_EQ(buffered, (std::vector<Operatable*>{a, c})) << points;
    EXPECT_EQ(m_history.m_history, (std::vector<Operatable*>{a, c})) << points;
    EXPECT_EQ(drawn(), (points == 3 ? Ints{2} : Ints{1, 1}));
    EXPECT_EQ(m_history.m_buffer->m_vertexCounts.back(), static_cast<uint32_t>(points));
  }
}

TEST_F(BufferUndoerTest, StrokeLargerThanAnyBufferStaysUnbuffered) {
  draw(10);
  Operatable* op = makeStroke(0, 0, 20);
  m_history.notify(op, NOTIFY_BEGUN);
  m_history.notify(op, NOTIFY_STEPPED);  // moves on to a fresh buffer
  EXPECT_EQ(m_history.m_fullBuffers.size(), 1u);
  testing::internal::CaptureStdout();
  for (int i = 0; i < 3; ++i) {
    growBy(op, 10);
    m_history.notify(op, NOTIFY_STEPPED);  // reported once, then left alone
  }
  m_history.notify(op, NOTIFY_COMMITTED);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "this stroke (size = 30.000000) is too long! no buffer (maxsize = 25.000000) could "
            "save it.\n");
  EXPECT_EQ((Ints{op->m_bufferIndex, static_cast<int>(m_history.m_fullBuffers.size()),
                  m_history.m_buffer->size()}),
            (Ints{-1, 1, 0}));

  // It undoes alone, without hiding the stroke before it.
  m_history.push(op, false);
  EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(drawn(), (Ints{1, 0}));
  EXPECT_TRUE(m_history.redo());
  EXPECT_EQ(drawn(), (Ints{1, 0}));
}

TEST_F(BufferUndoerTest, ChainedEntriesUndoAndRedoAsOneGroup) {
  Operatable* a = draw(3);
  Operatable* b = draw(3);
  Operatable* c = draw(3, true);
  Operatable* d = draw(3, true);
  Operatable* e = draw(3);
  // Cursors and what is drawn of a, b, c and d.
  auto state = [&] {
    return Ints{m_history.m_cursor, m_history.m_buffer->m_cursor, a->isRenderable(),
                b->isRenderable(), c->isRenderable(), d->isRenderable()};
  };
  EXPECT_TRUE(m_history.undo());  // e alone
  EXPECT_TRUE(m_history.undo());  // d, c and b together
  EXPECT_EQ(state(), (Ints{0, 0, 1, 0, 0, 0}));
  EXPECT_TRUE(m_history.redo());
  EXPECT_EQ(state(), (Ints{3, 3, 1, 1, 1, 1}));

  e->setRemoved(true);  // a removed entry is chained the same way
  m_history.redo();
  EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(m_history.m_cursor, 0);
}

TEST_F(BufferUndoerTest, GridFollowsTheStoredStrokes) {
  m_history.m_sampleGrid = &m_grid;
  draw(3);
  Operatable* shared = makeStroke(0, 0, 3);
  shared->m_samples = {new Sample(shared, 0, 0), new Sample(shared, 2, 1)};
  shared->setFlag4(false);  // not owned by the history
  m_history.notify(shared, NOTIFY_ADDED);
  m_history.push(shared, false);
  draw(3);
  shared->setFlag10(true);  // changed geometry: rewritten and re-binned once
  EXPECT_TRUE(m_history.refreshOperation(shared));
  EXPECT_FALSE(m_history.refreshOperation(shared));

  m_grid.failRemove = true;
  m_history.undo();
  m_history.undo();
  EXPECT_EQ(printedBy([&] { m_history.truncateRedo(); }),
            "error: grider remove sample fail.\nerror: grider remove sample fail.\n");
  EXPECT_EQ(m_grid.calls, (std::vector<std::string>{"add 0", "add 1", "update 1", "update 0",
                                                    "remove 1", "remove 0"}));
  EXPECT_EQ(shared->pointCount(), 3);  // erased from the history, not deleted
  delete shared;

  for (int i = 0; i < 8; ++i) draw(10);
  EXPECT_EQ(m_history.m_fullBuffers.size(), 3u);
  StrokeBufferRender* current = m_history.m_buffer;
  m_history.reset();
  EXPECT_TRUE(m_history.m_fullBuffers.empty() && m_history.m_buffer == current);
  EXPECT_EQ((Ints{current->size(), m_history.m_cursor}), (Ints{0, -1}));
  EXPECT_EQ(m_grid.calls.back(), "reset");
}

TEST_F(BufferUndoerTest, GrownNewestStrokeMovesOnWhenRewritten) {
  draw(10);
  Operatable* b = draw(10);
  growBy(b, 10);  // resampled to 20 points: no longer fits behind the first
  b->setFlag10(true);
  EXPECT_TRUE(m_history.refreshOperation(b));
  EXPECT_EQ((Ints{static_cast<int>(m_history.m_fullBuffers.size()), b->m_bufferIndex}),
            (Ints{1, 0}));
  EXPECT_EQ(m_history.m_buffer->m_vertexCounts[0], 20u);
  EXPECT_TRUE(m_history.undo());
  EXPECT_EQ(drawn(), (Ints{1, 0}));
}

}  // namespace
