#pragma once
#include <memory>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "core/matrix.h"
#include "core/vec.h"
#include "strokes/stroke_buffer.h"
#include "strokes/undoer.h"

class EGrider;
class Operatable;
class coreNeighborable;
class Sample;

// What a history needs from the stroke sample grid: register, drop and re-bin one sample, and
// forget everything. The grid's owner supplies it (GridSampleLink adapts a grid class).
class SampleGridLink {
 public:
  virtual ~SampleGridLink() = default;
  virtual bool addElement(Sample* sample) = 0;
  virtual bool removeElement(Sample* sample) = 0;
  virtual bool updateElement(Sample* sample) = 0;
  virtual void reset() = 0;
};

// A grid class with those four operations (taking its element type, to which a Sample converts)
// as a SampleGridLink. Does not own the grid.
template <typename Grid>
class GridSampleLink : public SampleGridLink {
 public:
  explicit GridSampleLink(Grid* grid) : m_grid(grid) {}
  bool addElement(Sample* sample) override { return m_grid->addElement(sample); }
  bool removeElement(Sample* sample) override { return m_grid->removeElement(sample); }
  bool updateElement(Sample* sample) override { return m_grid->updateElement(sample); }
  void reset() override { m_grid->reset(); }

 private:
  Grid* m_grid;
};

// What a tool tells its history about the operation it is building.
enum NotifyKind {
  NOTIFY_ABANDONED = -1,
  NOTIFY_BEGUN = 0,
  NOTIFY_STEPPED = 1,
  NOTIFY_COMMITTED = 2,
  NOTIFY_ADDED = 3,  // a finished operation added whole (a loaded painting)
};

// The undo history of a tool. It owns its entries (those with flag bit 4 set), draws them from a
// chain of stroke buffers (the current one takes new strokes; full ones are kept, oldest first)
// and keeps their samples in the sample grid when one is attached. Entries with flag bit 7 or 11
// belong to the entry before them: undo and redo take such a group as one step.
class BufferUndoer : public coreUndoer<Operatable*> {
 public:
  BufferUndoer() = default;
  ~BufferUndoer() override;

  void reset() override;
  // A null operation is not an entry: it is ignored rather than moving the cursor past the list.
  // An operation buffered (notify begun) while a redo tail was there is buffered again after
  // the tail is cut, so no buffer keeps a slot of an erased entry.
  void push(Operatable* op, bool force) override;
  void pushList(const std::vector<Operatable*>& ops, bool force) override;
  bool redo() override { return redo(nullptr); }
  bool undo() override { return undo(nullptr); }
  // op: the entry to apply or revert, null for the one at the cursor.
  virtual bool redo(Operatable* op);
  virtual bool undo(Operatable* op);
  void store(Operatable* op) override;
  void storeList(const std::vector<Operatable*>& ops) override;
  bool eraseRange(int first, int last) override;
  // Replaces the current buffer by an empty one of this format and capacity (floats), and makes
  // the history drawable.
  virtual void createBuffer(const StrokeBufferFormat& format, uint32_t capacity);
  // kind: a NotifyKind.
  virtual void notify(Operatable* op, int kind);
  // Rewrites op's buffer slot and re-bins its samples when its geometry changed (flag bit 10);
  // true when it did.
  virtual bool refreshOperation(Operatable* op);
  // model and viewProjection column-major; full buffers first, then the current one.
  virtual void draw(const Matrix4& model, const Matrix4& viewProjection);

  // Files the samples of the stored strokes, and of every stroke stored from now on, in a head's
  // stroke sample grid (null: none). The history lets go of the grid when its head frees it.
  void attachSampleGrid(EGrider* grid);

  // The applied entries, oldest first, that may have a sample within r of p (the frame before
  // every level, metres): a superset of those that do, found through the head grid. False,
  // with `out` untouched, when the history cannot tell (no head grid, r not a finite distance):
  // the caller scans.
  bool strokesNear(const Vec3f& p, float r, std::vector<Operatable*>& out);

  void addSamplesToGrid(Operatable* op);
  void removeSamplesFromGrid(Operatable* op);
  void updateSamplesInGrid(Operatable* op);
  // Writes the points op gained into the current buffer, moving the buffer to the full list
  // first when op no longer fits there.
  void writeToBuffer(Operatable* op);
  // Draws the next undone buffer entry again (oldest buffer first); false when there is none.
  bool advanceBuffers();
  // Drops the undone entries of every buffer, and full buffers left empty.
  void trimBuffers();
  // The buffer holding op's geometry, null when op is in none.
  StrokeBufferRender* bufferOf(const Operatable* op) const;

  StrokeBufferRender* m_buffer = nullptr;         // owned
  std::vector<StrokeBufferRender*> m_fullBuffers;  // owned, oldest first
  SampleGridLink* m_sampleGrid = nullptr;          // not owned

 private:
  // Writes op, the newest entry of the current buffer, moving on to a fresh buffer when it does
  // not fit; a stroke larger than an empty buffer leaves the buffers.
  void placeNewest(Operatable* op, bool append);
  // Stops drawing the buffer slots of the redo tail's entries, which then are the trailing
  // slots of the buffers, so that trimBuffers drops them.
  void hideRedoTail();
  void hideNewestDrawn();
  void releaseHeadGrid();
  // Keeps strokesNear sound after op's samples were filed or re-filed in the head grid.
  void noteFiled(Operatable* op);
  void forgetFiled(Operatable* op);
  void forgetAllFiled();
  EGrider* queriedGrid() const;

  // The link to the attached head grid, and the handle of its release listener (-1 none).
  std::unique_ptr<SampleGridLink> m_headGridLink;
  EGrider* m_headGrid = nullptr;
  int m_gridReleaseHandle = -1;
  // The farthest any stroke's sample lies from its nearest filed point (metres): a query that
  // much wider reaches every filed sample within its radius. It only grows until the grid goes.
  float m_gridReach = 0.0f;
  uint64_t m_headGridResets = 0;  // the head grid's reset count when we filed into it
  // Strokes with a sample that has no finite position, or with no sample: always candidates.
  std::unordered_set<Operatable*> m_unfiled;
  // Samples the head grid does not hold (beyond its box): their strokes by coarse cells of the
  // samples' own positions, and each stroke's cells.
  std::unordered_map<uint64_t, std::vector<Operatable*>> m_outsideCells;
  std::unordered_map<Operatable*, std::vector<uint64_t>> m_outsideKeys;
  std::vector<coreNeighborable*> m_nearSamples;  // scratch for strokesNear
  std::vector<uint32_t> m_nearStamps;            // per entry, the last strokesNear that took it
  uint32_t m_nearStamp = 0;
};
