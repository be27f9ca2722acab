#include "strokes/undoer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "quillax.pb.h"
#include "strokes/operatable.h"
#include "strokes/stroke_buffer.h"

namespace {

// Records the hooks and erasures in the order the template calls them.
class RecordingUndoer : public coreUndoer<Operatable*> {
 public:
  void onChanged() override { log.push_back("changed"); }
  void onCursorMoved(int cursor) override { log.push_back("moved " + std::to_string(cursor)); }
  void onCheckpoint() override { log.push_back("checkpoint"); }
  void onCheckpointDropped() override { log.push_back("dropped"); }
  bool eraseAt(int index) override {
    log.push_back("erase " + std::to_string(index));
    return coreUndoer::eraseAt(index);
  }
  std::vector<std::string> log;
};

// Entries the template only stores, never dereferences or deletes.
class UndoerTest : public ::testing::Test {
 protected:
  Operatable* entry() {
    m_entries.emplace_back(new Operatable(1));
    return m_entries.back().get();
  }
  std::vector<std::unique_ptr<Operatable>> m_entries;
};

TEST_F(UndoerTest, CheckpointsFallEveryThirtyEntriesAndWhenForced) {
  RecordingUndoer history;
  for (int i = 0; i < 30; ++i) history.push(entry(), false);
  EXPECT_EQ(history.m_checkpoints, (std::vector<int32_t>{29}));
  for (int i = 0; i < 30; ++i) history.push(entry(), false);
  EXPECT_EQ(history.m_checkpoints, (std::vector<int32_t>{29, 59}));
  history.push(entry(), true);
  EXPECT_EQ(history.m_checkpoints, (std::vector<int32_t>{29, 59, 60}));

  // A list is one step for the checkpoint test: 40 entries give one checkpoint at the end.
  RecordingUndoer bulk;
  std::vector<Operatable*> list;
  for (int i = 0; i < 40; ++i) list.push_back(entry());
  bulk.pushList(list, false);
  EXPECT_EQ(bulk.m_cursor, 39);
  EXPECT_EQ(bulk.m_checkpoints, (std::vector<int32_t>{39}));

  bulk.log.clear();
  bulk.pushList({}, true);
  EXPECT_TRUE(bulk.log.empty());
  EXPECT_EQ(bulk.m_cursor, 39);
  EXPECT_EQ(bulk.m_checkpoints.size(), 1u);
}

TEST_F(UndoerTest, PushAfterUndoCutsTheTailHighestFirst) {
  RecordingUndoer history;
  for (int i = 0; i < 31; ++i) history.push(entry(), false);  // checkpoint at 29
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(history.undo());
  EXPECT_EQ(history.m_cursor, 27);
  history.log.clear();

  Operatable* newest = entry();
  history.push(newest, false);
  EXPECT_EQ(history.log,
            (std::vector<std::string>{"dropped", "erase 30", "erase 29", "erase 28", "changed"}));
  EXPECT_EQ(history.m_cursor, 28);
  EXPECT_EQ(history.size(), 29);
  EXPECT_EQ(history.m_history.back(), newest);
  EXPECT_EQ(history.m_savedCursor, 27);
  EXPECT_TRUE(history.m_checkpoints.empty());
}

TEST_F(UndoerTest, UndoAndRedoStopAtTheEnds) {
  RecordingUndoer history;
  EXPECT_FALSE(history.undo());
  EXPECT_FALSE(history.redo());
  history.push(entry(), false);
  history.push(entry(), false);
  history.log.clear();
  EXPECT_TRUE(history.undo());
  EXPECT_TRUE(history.undo());
  EXPECT_FALSE(history.undo());
  EXPECT_TRUE(history.redo());
  EXPECT_TRUE(history.redo());
  EXPECT_FALSE(history.redo());
  EXPECT_EQ(history.log, (std::vector<std::string>{"moved 0", "moved -1", "moved 0", "moved 1"}));

  history.setSelected(true);
  history.reset();
  EXPECT_EQ(history.m_cursor, -1);
  EXPECT_TRUE(history.m_history.empty());
  EXPECT_FALSE(history.isSelected());
}

// Takes every candidate scoring at or below the radius; marks by selecting.
class NearSelection : public coreSelectable<Operatable*> {
 public:
  bool canSelect(Operatable* target) override { return !target->isSelected(); }
  float score(Operatable* target, const float* point, float radius) override {
    const float d = std::fabs(target->pointAt(0.0f)[0] - point[0]);
    return d <= radius ? d : -1.0f;
  }
  void mark(Operatable* target) override { target->setSelected(true); }
};

TEST_F(UndoerTest, SelectionWalksOwnThenExternalCandidates) {
  coreSelectable<Operatable*> defaults;
  defaults.m_candidates = {entry(), entry()};
  EXPECT_EQ(defaults.countCandidates(), 0);
  EXPECT_EQ(defaults.select(nullptr, 1.0f), 0);
  EXPECT_TRUE(defaults.m_selected.empty());

  auto at = [&](float x) {
    Operatable* op = entry();
    quillax::Operation_Point* p = op->m_operation->add_points();
    p->set_x(x);
    return op;
  };
  NearSelection selection;
  Operatable* near = at(0.1f);
  Operatable* far = at(5.0f);
  Operatable* external = at(-0.2f);
  std::vector<Operatable*> others{external};
  selection.m_candidates = {near, far};
  selection.m_externalCandidates = &others;
  EXPECT_EQ(selection.countCandidates(), 3);
  const float point[3] = {0.0f, 0.0f, 0.0f};
  EXPECT_EQ(selection.select(point, 0.5f), 2);
  EXPECT_EQ(selection.m_selected, (std::vector<Operatable*>{near, external}));
  EXPECT_FALSE(far->isSelected());
  EXPECT_EQ(selection.select(point, 0.5f), 0);  // already marked
}

TEST_F(UndoerTest, BufferListsPackBackToBack) {
  coreBufferRender<Operatable*> buffer(1000);
  EXPECT_FALSE(buffer.undo());
  buffer.pushOperation(entry());
  EXPECT_EQ(buffer.m_vertexOffsets[0], 0u);
  EXPECT_EQ(buffer.m_indexOffsets[0], 0u);
  buffer.m_vertexOffsets[0] = 100;
  buffer.m_vertexCounts[0] = 40;
  buffer.m_indexCounts[0] = 60;
  buffer.pushOperation(entry());
  buffer.pushOperation(entry());
  EXPECT_EQ(buffer.m_vertexOffsets[1], 140u);
  EXPECT_EQ(buffer.m_indexOffsets[1], 60u);
  EXPECT_EQ(buffer.m_cursor, 2);

  EXPECT_TRUE(buffer.undo());
  EXPECT_TRUE(buffer.undo());
  EXPECT_EQ(buffer.truncateRedo(), 2);
  EXPECT_EQ(buffer.m_history.size(), 1u);
  EXPECT_EQ(buffer.m_vertexCounts.size(), 1u);
  EXPECT_EQ(buffer.m_indexOffsets.size(), 1u);
  EXPECT_EQ(buffer.truncateRedo(), 0);

  buffer.popOperation();
  EXPECT_EQ(buffer.m_cursor, -1);
  EXPECT_TRUE(buffer.m_vertexOffsets.empty());
  buffer.popOperation();  // nothing left: no effect
  EXPECT_EQ(buffer.m_cursor, -1);
}

}  // namespace
