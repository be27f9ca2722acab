#include "strokes/buffer_undoer.h"

#include <algorithm>
#include <cstdio>
#include <unordered_set>

#include "render/head_model.h"
#include "render/sample_grid.h"
#include "strokes/operatable.h"
#include "strokes/sample.h"

BufferUndoer::~BufferUndoer() {
  if (m_gridReleaseHandle >= 0) removeGridReleaseListener(m_gridReleaseHandle);
  BufferUndoer::reset();
  delete m_buffer;
  m_buffer = nullptr;
}

void BufferUndoer::reset() {
  if (m_sampleGrid) m_sampleGrid->reset();
  if (m_buffer) m_buffer->clearBuffers();
  for (StrokeBufferRender* buffer : m_fullBuffers) delete buffer;
  m_fullBuffers.clear();
  for (auto it = m_history.rbegin(); it != m_history.rend(); ++it) {
    Operatable* op = *it;
    if (!op) continue;
    if (op->getFlag4()) {
      op->detach();
      delete op;
    } else {
      // Kept by someone else: it no longer has a place in our buffers.
      op->m_bufferIndex = -1;
      op->m_bufferSlot = -1;
    }
  }
  m_history.clear();
  coreUndoer::reset();
}

void BufferUndoer::push(Operatable* op, bool force) {
  if (!op) return;
  // An entry begun while a redo tail was still there sits in the current buffer behind the
  // tail's slots (its push drew them again, and moving on to a fresh buffer may have too):
  // cutting the tail alone would leave those slots drawing deleted strokes. So the entry leaves
  // the buffer, the tail is cut as it stands, and the entry is buffered again whole.
  if (size() != m_cursor + 1 && m_buffer && op->m_bufferIndex == 0 &&
      !m_buffer->m_history.empty() && m_buffer->m_history.back() == op) {
    m_buffer->popOperation();
    op->m_bufferIndex = -1;
    hideRedoTail();
    truncateRedo();
    notify(op, NOTIFY_ADDED);
  }
  coreUndoer::push(op, force);
}

void BufferUndoer::hideRedoTail() {
  const std::unordered_set<const Operatable*> tail(m_history.begin() + (m_cursor + 1),
                                                   m_history.end());
  auto hide = [&tail](StrokeBufferRender* buffer) {
    int keep = buffer->size();
    while (keep > 0 && tail.count(buffer->m_history[keep - 1])) --keep;
    while (buffer->m_cursor > keep - 1) buffer->undo();
  };
  hide(m_buffer);
  for (StrokeBufferRender* buffer : m_fullBuffers) hide(buffer);
}

void BufferUndoer::pushList(const std::vector<Operatable*>& ops, bool force) {
  std::vector<Operatable*> entries;
  entries.reserve(ops.size());
  for (Operatable* op : ops)
    if (op) entries.push_back(op);
  coreUndoer::pushList(entries, force);
}

StrokeBufferRender* BufferUndoer::bufferOf(const Operatable* op) const {
  if (!op || !m_buffer) return nullptr;
  const int k = op->m_bufferIndex;
  if (k == 0) return m_buffer;
  if (k >= 1 && k <= static_cast<int>(m_fullBuffers.size())) return m_fullBuffers[k - 1];
  return nullptr;
}

void BufferUndoer::hideNewestDrawn() {
  if (m_buffer->m_cursor >= 0) {
    m_buffer->undo();
    return;
  }
  for (auto it = m_fullBuffers.rbegin(); it != m_fullBuffers.rend(); ++it) {
    if ((*it)->m_cursor >= 0) {
      (*it)->undo();
      return;
    }
  }
}

bool BufferUndoer::undo(Operatable* op) {
  if (m_cursor < 0) return false;
  Operatable* target = op;
  for (;;) {
    --m_cursor;
    onCursorMoved(m_cursor);
    if (!target) target = m_history[m_cursor + 1];
    if (!target) break;
    target->revert();
    // Only buffered entries have a drawn slot to hide; an entry in no buffer must not hide
    // another entry's stroke.
    if (m_buffer && target->m_bufferIndex >= 0) hideNewestDrawn();
    if (!(target->getFlag7() || target->isRemoved()) || m_cursor < 0) break;
    target = nullptr;  // chained to the entry before it
  }
  return true;
}

bool BufferUndoer::advanceBuffers() {
  if (!m_buffer) return false;
  for (StrokeBufferRender* buffer : m_fullBuffers) {
    if (buffer->m_cursor < buffer->size() - 1) return buffer->redo();
  }
  if (m_buffer->m_cursor < m_buffer->size() - 1) return m_buffer->redo();
  return false;
}

bool BufferUndoer::redo(Operatable* op) {
  if (m_cursor >= size() - 1) return false;
  Operatable* target = op;
  for (;;) {
    ++m_cursor;
    onCursorMoved(m_cursor);
    if (!target) target = m_history[m_cursor];
    if (target) {
      target->apply();
      if (target->m_bufferIndex >= 0) advanceBuffers();
    }
    if (m_cursor >= size() - 1) break;
    Operatable* next = m_history[m_cursor + 1];
    if (!next || !(next->getFlag7() || next->isRemoved())) break;
    target = next;
  }
  return true;
}

void BufferUndoer::store(Operatable* op) {
  if (!op) return;
  addSamplesToGrid(op);
  refreshOperation(op);
  op->setTag(size());
  m_history.push_back(op);
}

void BufferUndoer::storeList(const std::vector<Operatable*>& ops) {
  for (Operatable* op : ops) {
    if (!op) continue;
    addSamplesToGrid(op);
    notify(op, NOTIFY_ADDED);
    op->setTag(size());
    m_history.push_back(op);
  }
}

void BufferUndoer::trimBuffers() {
  if (!m_buffer) return;
  m_buffer->truncateRedo();
  for (int i = static_cast<int>(m_fullBuffers.size()) - 1; i >= 0; --i) {
    StrokeBufferRender* buffer = m_fullBuffers[i];
    if (buffer->m_cursor == buffer->size() - 1) continue;
    buffer->truncateRedo();
    if (buffer->m_cursor == -1) {
      delete buffer;
      m_fullBuffers.erase(m_fullBuffers.begin() + i);
    }
  }
}

bool BufferUndoer::eraseRange(int first, int last) {
  trimBuffers();
  if (m_sampleGrid)
    for (int i = last; i >= first; --i) removeSamplesFromGrid(m_history[i]);
  for (int i = last; i >= first; --i) {
    Operatable* op = m_history[i];
    if (op && op->getFlag4()) {
      op->detach();
      delete op;
    }
  }
  m_history.erase(m_history.begin() + first, m_history.begin() + last + 1);
  return true;
}

void BufferUndoer::createBuffer(const StrokeBufferFormat& format, uint32_t capacity) {
  delete m_buffer;
  m_buffer = new StrokeBufferRender(format, capacity);
  setRenderable(true);
}

void BufferUndoer::notify(Operatable* op, int kind) {
  if (!op) return;
  switch (kind) {
    case NOTIFY_ABANDONED:
      // Drops op's own slot only: popping blindly would take another stroke's.
      if (m_buffer && op->m_bufferIndex == 0 && !m_buffer->m_history.empty() &&
          m_buffer->m_history.back() == op)
        m_buffer->popOperation();
      op->m_bufferIndex = -1;
      break;
    case NOTIFY_BEGUN:
      if (m_buffer) {
        m_buffer->pushOperation(op);
        op->m_bufferIndex = 0;
      }
      break;
    case NOTIFY_STEPPED:
    case NOTIFY_COMMITTED:
      writeToBuffer(op);
      break;
    case NOTIFY_ADDED:
      if (m_buffer) {
        m_buffer->pushOperation(op);
        op->m_bufferIndex = 0;
      }
      writeToBuffer(op);
      break;
    default:
      break;
  }
}

void BufferUndoer::placeNewest(Operatable* op, bool append) {
  for (;;) {
    if (!m_buffer->checkCapacity(op)) {
      m_buffer->writeOperation(op, append);
      return;
    }
    if (m_buffer->size() <= 1 || m_buffer->exceedsCapacity(op)) {
      // No buffer could ever hold it (checkCapacity has said so): it stays unbuffered instead
      // of opening buffer after buffer.
      m_buffer->popOperation();
      op->m_bufferIndex = -1;
      return;
    }
    m_buffer->popOperation();
    m_fullBuffers.push_back(m_buffer);
    const int16_t index = static_cast<int16_t>(m_fullBuffers.size());
    for (Operatable* held : m_buffer->m_history)
      if (held) held->m_bufferIndex = index;
    m_buffer = new StrokeBufferRender(m_buffer->format(), m_buffer->m_capacity);
    m_buffer->pushOperation(op);
    op->m_bufferIndex = 0;
  }
}

void BufferUndoer::writeToBuffer(Operatable* op) {
  if (!m_buffer || !op || op->m_bufferIndex != 0) return;
  if (m_buffer->m_history.empty() || m_buffer->m_history.back() != op) {
    m_buffer->writeOperation(op, false);  // an older stroke is rewritten in its own range
    return;
  }
  placeNewest(op, true);
}

bool BufferUndoer::refreshOperation(Operatable* op) {
  if (!op || !op->getFlag10()) return false;
  if (StrokeBufferRender* buffer = bufferOf(op)) {
    // The newest stroke may have grown past the buffer's end: it moves on like a growing one.
    if (buffer == m_buffer && !buffer->m_history.empty() && buffer->m_history.back() == op)
      placeNewest(op, false);
    else
      buffer->writeOperation(op, false);
  }
  updateSamplesInGrid(op);
  op->setFlag10(false);
  return true;
}

void BufferUndoer::draw(const Matrix4& model, const Matrix4& viewProjection) {
  if (!isRenderable()) return;
  for (StrokeBufferRender* buffer : m_fullBuffers) buffer->draw(model, viewProjection);
  if (m_buffer) m_buffer->draw(model, viewProjection);
}

void BufferUndoer::attachSampleGrid(EGrider* grid) {
  releaseHeadGrid();
  if (!grid) return;
  m_headGrid = grid;
  m_headGridLink.reset(new GridSampleLink<EGrider>(grid));
  m_sampleGrid = m_headGridLink.get();
  m_gridReleaseHandle = addGridReleaseListener([this](coreGrider* released) {
    if (released == m_headGrid) releaseHeadGrid();
  });
  // Strokes stored before the grid came are filed too, so every stored sample can be found and
  // taken out again.
  for (Operatable* op : m_history) addSamplesToGrid(op);
}

void BufferUndoer::releaseHeadGrid() {
  if (m_gridReleaseHandle >= 0) removeGridReleaseListener(m_gridReleaseHandle);
  m_gridReleaseHandle = -1;
  if (m_sampleGrid == m_headGridLink.get()) m_sampleGrid = nullptr;
  m_headGridLink.reset();
  m_headGrid = nullptr;
}

void BufferUndoer::addSamplesToGrid(Operatable* op) {
  if (!m_sampleGrid || !op) return;
  for (Sample* sample : op->m_samples) m_sampleGrid->addElement(sample);
}

void BufferUndoer::removeSamplesFromGrid(Operatable* op) {
  if (!m_sampleGrid || !op) return;
  for (auto it = op->m_samples.rbegin(); it != op->m_samples.rend(); ++it)
    if (!m_sampleGrid->removeElement(*it)) std::printf("error: grider remove sample fail.\n");
}

void BufferUndoer::updateSamplesInGrid(Operatable* op) {
  if (!m_sampleGrid || !op) return;
  for (auto it = op->m_samples.rbegin(); it != op->m_samples.rend(); ++it)
    if (!m_sampleGrid->updateElement(*it)) std::printf("error: grider remove sample fail.\n");
}
