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

// Records hooks and erasures in the order the template calls them.
class RecordingUndoer : public coreUndoer<Operatable*> {
 public:
  void onCheckpointDropped() override { log.push_back("dropped"); }
  void onChanged() override { log.push_back("changed"); }
  bool eraseAt(int index) override {
    log.push_back("erase " + std::to_string(index));
    return coreUndoer::eraseAt(index);
  }
  std::vector<std::string> log;
};

// Takes the candidates within the radius along x that are not yet selected; marks by selecting.
class NearSelection : public coreSelectable<Operatable*> {
 public:
  bool canSelect(Operatable* target) override { return !target->isSelected(); }
  float score(Operatable* target, const float* point, float radius) override {
    const float d = std::abs(target->pointAt(0.0f)[0] - point[0]);
    return d <= radius ? d : -1.0f;
  }
  void mark(Operatable* target) override { target->setSelected(true); }
};

// Entries the templates only store, never dereference or delete.
class UndoerTest : public ::testing::Test {
 protected:
  Operatable* entry(float x = 0.0f) {
    m_entries.emplace_back(new Operatable(1));
    m_entries.back()->m_operation->add_points()->set_x(x);
    return m_entries.back().get();
  }
  std::vector<std::unique_ptr<Operatable>> m_entries;
};

TEST_F(UndoerTest, CheckpointsFallEveryThirtyEntriesAndWhenForced) {
  RecordingUndoer history;
  for (int i = 0; i < 60; ++i) history.push(entry(), false);
  history.push(entry(), true);
  EXPECT_EQ(history.m_checkpoints, (std::vector<int32_t>{29, 59, 60}));

  // A list is one step for the checkpoint test; an empty one changes nothing at all.
  RecordingUndoer bulk;
  bulk.pushList(std::vector<Operatable*>(40, entry()), false);
  bulk.log.clear();
  bulk.pushList({}, true);
  EXPECT_TRUE(bulk.log.empty());
  EXPECT_EQ(bulk.m_cursor, 39);
  EXPECT_EQ(bulk.m_checkpoints, (std::vector<int32_t>{39}));
}

TEST_F(UndoerTest, PushAfterUndoCutsTheTailHighestFirst) {
  RecordingUndoer history;
  for (int i = 0; i < 31; ++i) history.push(entry(), false);  // checkpoint at 29
  for (int i = 0; i < 3; ++i) EXPECT_TRUE(history.undo());
  history.log.clear();
  Operatable* newest = entry();
  history.push(newest, false);
  EXPECT_EQ(history.log,
            (std::vector<std::string>{"dropped", "erase 30", "erase 29", "erase 28", "changed"}));
  EXPECT_EQ((std::vector<int>{history.m_cursor, history.m_savedCursor}),
            (std::vector<int>{28, 27}));
  EXPECT_TRUE(history.m_history.back() == newest && history.m_checkpoints.empty());
  history.reset();
  EXPECT_TRUE(history.m_cursor == -1 && history.m_history.empty());
}

TEST_F(UndoerTest, SelectionTakesOwnThenExternalCandidatesOnce) {
  NearSelection selection;
  Operatable* near = entry(0.1f);
  Operatable* far = entry(5.0f);
  std::vector<Operatable*> others{entry(-0.2f)};
  selection.m_candidates = {near, far};
  selection.m_externalCandidates = &others;
  const float point[3] = {0.0f, 0.0f, 0.0f};
  EXPECT_EQ(selection.select(point, 0.5f), 2);
  EXPECT_EQ(selection.m_selected, (std::vector<Operatable*>{near, others[0]}));
  EXPECT_FALSE(far->isSelected());
  EXPECT_EQ(selection.countCandidates(), 1);
  EXPECT_EQ(selection.select(point, 0.5f), 0);  // already marked
}

TEST_F(UndoerTest, BufferListsPackBackToBack) {
  coreBufferRender<Operatable*> buffer(1000);
  EXPECT_FALSE(buffer.undo());
  buffer.pushOperation(entry());
  buffer.m_vertexOffsets[0] = 100;
  buffer.m_vertexCounts[0] = 40;
  buffer.m_indexCounts[0] = 60;
  buffer.pushOperation(entry());
  buffer.pushOperation(entry());
  EXPECT_EQ((std::vector<uint32_t>{buffer.m_vertexOffsets[1], buffer.m_indexOffsets[1]}),
            (std::vector<uint32_t>{140, 60}));

  buffer.undo();
  buffer.undo();
  EXPECT_EQ(buffer.truncateRedo(), 2);
  buffer.pushOperation(entry());  // packs behind the one kept
  EXPECT_EQ(buffer.m_vertexOffsets, (std::vector<uint32_t>{100, 140}));
  EXPECT_EQ(buffer.m_indexOffsets, (std::vector<uint32_t>{0, 60}));
  for (int i = 0; i < 3; ++i) buffer.popOperation();  // the last: nothing left, no effect
  EXPECT_EQ(buffer.m_cursor, -1);
  EXPECT_TRUE(buffer.m_vertexCounts.empty());
}

}  // namespace
