#include "strokes/buffer_undoer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
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
  forgetAllFiled();
  if (m_headGrid) m_headGridResets = m_headGrid->resetCount();
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
  m_headGridResets = grid->resetCount();
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
  forgetAllFiled();
}

void BufferUndoer::forgetAllFiled() {
  m_gridReach = 0.0f;
  m_unfiled.clear();
  m_outsideCells.clear();
  m_outsideKeys.clear();
}

EGrider* BufferUndoer::queriedGrid() const {
  if (!m_headGrid || m_sampleGrid != m_headGridLink.get()) return nullptr;
  // Reset behind our back (the head's own reset): the stored strokes are no longer filed.
  return m_headGrid->resetCount() == m_headGridResets ? m_headGrid : nullptr;
}

namespace {

// Side of the cells that index samples outside the head grid (metres), and their index range.
constexpr float kOutsideCell = 0.05f;
constexpr int32_t kOutsideSpan = 1 << 20;

int32_t outsideIndex(float v) {
  const float c = std::floor(v / kOutsideCell);
  return static_cast<int32_t>(std::clamp(c, -static_cast<float>(kOutsideSpan),
                                         static_cast<float>(kOutsideSpan - 1)));
}

uint64_t outsideKey(int32_t i, int32_t j, int32_t k) {
  auto u = [](int32_t v) { return static_cast<uint64_t>(v + kOutsideSpan); };
  return (u(i) << 42) | (u(j) << 21) | u(k);
}

}  // namespace

void BufferUndoer::forgetFiled(Operatable* op) {
  m_unfiled.erase(op);
  const auto keys = m_outsideKeys.find(op);
  if (keys == m_outsideKeys.end()) return;
  for (uint64_t key : keys->second) {
    const auto cell = m_outsideCells.find(key);
    if (cell == m_outsideCells.end()) continue;
    std::vector<Operatable*>& ops = cell->second;
    ops.erase(std::remove(ops.begin(), ops.end(), op), ops.end());
    if (ops.empty()) m_outsideCells.erase(cell);
  }
  m_outsideKeys.erase(keys);
}

void BufferUndoer::noteFiled(Operatable* op) {
  const EGrider* grid = queriedGrid();
  if (!grid) return;
  forgetFiled(op);
  // Without a sample there is nothing to go by: the stroke is always a candidate.
  bool always = op->m_samples.empty();
  float reach2 = 0.0f;
  std::vector<uint64_t> keys;
  for (const Sample* sample : op->m_samples) {
    const size_t idx = static_cast<size_t>(sample->m_gridIndex);
    if (sample->m_gridIndex >= 0 && idx < grid->m_elements.size() &&
        grid->m_elements[idx] == sample && !grid->m_elementPoints[idx].empty()) {
      float nearest2 = std::numeric_limits<float>::infinity();
      for (const EGrider::FiledPoint& f : grid->m_elementPoints[idx])
        nearest2 = std::min(nearest2, squaredLength(f.point - sample->m_position));
      if (std::isfinite(nearest2)) {
        reach2 = std::max(reach2, nearest2);
        continue;
      }
    }
    // Not in the grid (beyond its box, say): indexed here by its own position.
    const Vec3f& q = sample->m_position;
    if (!std::isfinite(q[0]) || !std::isfinite(q[1]) || !std::isfinite(q[2])) {
      always = true;
      continue;
    }
    const uint64_t key = outsideKey(outsideIndex(q[0]), outsideIndex(q[1]), outsideIndex(q[2]));
    if (std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
  }
  m_gridReach = std::max(m_gridReach, std::sqrt(reach2));
  if (always) m_unfiled.insert(op);
  if (keys.empty()) return;
  for (uint64_t key : keys) m_outsideCells[key].push_back(op);
  m_outsideKeys.emplace(op, std::move(keys));
}

bool BufferUndoer::strokesNear(const Vec3f& p, float r, std::vector<Operatable*>& out) {
  EGrider* grid = queriedGrid();
  if (!grid || !(r >= 0.0f) || !std::isfinite(r) || !std::isfinite(m_gridReach) ||
      !std::isfinite(p[0]) || !std::isfinite(p[1]) || !std::isfinite(p[2]))
    return false;
  // Widened a little past the triangle inequality, for the rounding of the two distances.
  const float reach = (r + m_gridReach) * 1.0001f + 1e-6f;
  m_nearSamples.clear();
  grid->queryRadius(p, reach, m_nearSamples);
  const int last = std::min(m_cursor, size() - 1);
  m_nearStamps.resize(m_history.size(), 0u);
  if (++m_nearStamp == 0) {
    std::fill(m_nearStamps.begin(), m_nearStamps.end(), 0u);
    m_nearStamp = 1;
  }
  const size_t first = out.size();
  auto take = [&](Operatable* op) {
    // Only applied entries of this history, each once.
    const int32_t tag = op ? op->m_tag : -1;
    if (tag < 0 || tag > last || m_history[static_cast<size_t>(tag)] != op) return;
    uint32_t& stamp = m_nearStamps[static_cast<size_t>(tag)];
    if (stamp == m_nearStamp) return;
    stamp = m_nearStamp;
    out.push_back(op);
  };
  for (coreNeighborable* element : m_nearSamples)
    if (const Sample* sample = dynamic_cast<const Sample*>(element)) take(sample->m_stroke);
  for (Operatable* op : m_unfiled) take(op);
  // Samples outside the grid, by the cells of their own positions.
  const float wide = r * 1.0001f + 1e-6f;
  int32_t low[3], high[3];
  double cells = 1.0;
  for (int a = 0; a < 3; ++a) {
    low[a] = outsideIndex(p[a] - wide);
    high[a] = outsideIndex(p[a] + wide);
    cells *= static_cast<double>(high[a] - low[a] + 1);
  }
  if (cells > static_cast<double>(m_outsideCells.size())) {
    for (const auto& entry : m_outsideKeys) take(entry.first);
  } else {
    for (int32_t i = low[0]; i <= high[0]; ++i)
      for (int32_t j = low[1]; j <= high[1]; ++j)
        for (int32_t k = low[2]; k <= high[2]; ++k) {
          const auto cell = m_outsideCells.find(outsideKey(i, j, k));
          if (cell != m_outsideCells.end())
            for (Operatable* op : cell->second) take(op);
        }
  }
  std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end(),
            [](const Operatable* a, const Operatable* b) { return a->m_tag < b->m_tag; });
  return true;
}

void BufferUndoer::addSamplesToGrid(Operatable* op) {
  if (!m_sampleGrid || !op) return;
  for (Sample* sample : op->m_samples) m_sampleGrid->addElement(sample);
  noteFiled(op);
}

void BufferUndoer::removeSamplesFromGrid(Operatable* op) {
  if (!m_sampleGrid || !op) return;
  for (auto it = op->m_samples.rbegin(); it != op->m_samples.rend(); ++it)
    if (!m_sampleGrid->removeElement(*it)) std::printf("error: grider remove sample fail.\n");
  forgetFiled(op);
}

void BufferUndoer::updateSamplesInGrid(Operatable* op) {
  if (!m_sampleGrid || !op) return;
  for (auto it = op->m_samples.rbegin(); it != op->m_samples.rend(); ++it)
    if (!m_sampleGrid->updateElement(*it)) std::printf("error: grider remove sample fail.\n");
  noteFiled(op);
}
