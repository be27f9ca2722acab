#pragma once
#include <cstddef>
#include <vector>

#include "core/core_object.h"

// An undo history: entries in push order with a cursor on the newest applied one; entries behind
// the cursor form the redo tail, which the next push cuts off. A checkpoint is recorded every
// m_checkpointSpacing entries. The template only keeps the list: it never creates, draws or
// deletes an entry; derived histories do that through the hooks and the store/erase operations.
template <typename T>
class coreUndoer : public coreObject {
 public:
  coreUndoer() = default;
  ~coreUndoer() override {
    // Runs the base reset: a derived history has emptied itself in its own destructor already.
    coreUndoer::reset();
  }
  coreUndoer(const coreUndoer&) = delete;
  coreUndoer& operator=(const coreUndoer&) = delete;

  void reset() override {
    m_cursor = -1;
    truncateRedo();
    m_history.clear();
    m_checkpoints.clear();
    coreObject::reset();
    onChanged();
  }

  // Appends op after cutting the redo tail; force records a checkpoint at it.
  virtual void push(T op, bool force) {
    if (m_history.size() != static_cast<size_t>(m_cursor + 1)) truncateRedo();
    ++m_cursor;
    store(op);
    afterAppend(force);
  }

  // As push for several entries at once; the checkpoint test runs once, after the whole list.
  virtual void pushList(const std::vector<T>& ops, bool force) {
    if (ops.empty()) return;
    if (m_history.size() != static_cast<size_t>(m_cursor + 1)) truncateRedo();
    m_cursor += static_cast<int>(ops.size());
    storeList(ops);
    afterAppend(force);
  }

  // Drops the redo tail; returns the number of entries still behind the cursor (0).
  virtual int truncateRedo() {
    if (m_cursor == size() - 1) return 0;
    while (!m_checkpoints.empty() && m_checkpoints.back() > m_cursor) {
      onCheckpointDropped();
      m_checkpoints.pop_back();
    }
    const int first = m_cursor + 1;
    const int last = size() - 1;
    if (!eraseRange(first, last))
      for (int i = last; i >= first; --i) eraseAt(i);
    m_savedCursor = m_cursor;
    return size() - m_cursor - 1;
  }

  virtual bool redo() {
    if (m_cursor >= size() - 1) return false;
    ++m_cursor;
    onCursorMoved(m_cursor);
    return true;
  }

  virtual bool undo() {
    if (m_cursor < 0) return false;
    --m_cursor;
    onCursorMoved(m_cursor);
    return true;
  }

  // Hooks for derived histories; the template calls them and does nothing in them.
  virtual void onChanged() {}
  virtual void onCursorMoved(int /*cursor*/) {}
  virtual void onCheckpoint() {}
  virtual void onCheckpointDropped() {}

  virtual void store(T op) { m_history.push_back(op); }
  virtual void storeList(const std::vector<T>& ops) {
    m_history.insert(m_history.end(), ops.begin(), ops.end());
  }
  // index must be within the history.
  virtual bool eraseAt(int index) {
    m_history.erase(m_history.begin() + index);
    return true;
  }
  // False: the caller erases one entry at a time through eraseAt.
  virtual bool eraseRange(int /*first*/, int /*last*/) { return false; }

  int size() const { return static_cast<int>(m_history.size()); }

  int32_t m_cursor = -1;         // newest applied entry, -1 none
  int32_t m_savedCursor = -1;    // cursor at the last redo truncation
  int32_t m_checkpointSpacing = 30;
  std::vector<T> m_history;      // not owned by the template
  std::vector<int32_t> m_checkpoints;  // ascending cursor values

 private:
  void afterAppend(bool force) {
    const int last = m_checkpoints.empty() ? 0 : m_checkpoints.back() + 1;
    if (force || size() - last >= m_checkpointSpacing) {
      m_checkpoints.push_back(m_cursor);
      onCheckpoint();
    }
    onChanged();
  }
};

// Selection bookkeeping: candidates (the object's own, then an optional external list), the
// selected entries in selection order, and the tests a concrete selection fills in. The defaults
// select nothing.
template <typename T>
class coreSelectable {
 public:
  virtual ~coreSelectable() = default;

  virtual bool canSelect(T /*target*/) { return false; }
  // >= 0 accepts the target (lower is nearer), below 0 rejects it.
  virtual float score(T /*target*/, const float* /*point*/, float /*radius*/) { return -1.0f; }
  virtual void unmark(T /*target*/) {}
  virtual void mark(T /*target*/) {}
  virtual void addSelected(T target) { m_selected.push_back(target); }

  virtual int countCandidates() {
    int count = 0;
    forEachCandidate([&](T target) {
      if (canSelect(target)) ++count;
    });
    return count;
  }

  // Marks and adds every candidate that canSelect accepts and score does not reject; returns
  // the number taken.
  virtual int select(const float* point, float radius) {
    int taken = 0;
    forEachCandidate([&](T target) {
      if (canSelect(target) && score(target, point, radius) >= 0.0f) {
        mark(target);
        addSelected(target);
        ++taken;
      }
    });
    return taken;
  }

  std::vector<T> m_candidates;
  std::vector<T>* m_externalCandidates = nullptr;  // not owned
  std::vector<T> m_selected;

 protected:
  // By index: a callback may append to the candidate lists without invalidating the walk.
  template <typename F>
  void forEachCandidate(F f) {
    for (size_t i = 0; i < m_candidates.size(); ++i) f(m_candidates[i]);
    if (m_externalCandidates)
      for (size_t i = 0; i < m_externalCandidates->size(); ++i) f((*m_externalCandidates)[i]);
  }
};
