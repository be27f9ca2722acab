#include "strokes/operator.h"

#include <cstdio>

#include "core/events.h"
#include "core/settings.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "strokes/deformer.h"
#include "strokes/hair_brusher.h"
#include "strokes/interactor.h"
#include "strokes/operatable.h"
#include "strokes/painting_files.h"
#include "strokes/stroke_geometry.h"
#include "strokes/transformer.h"

Operator* g_operator = nullptr;

namespace {

constexpr int kHandFrameFloats = 12;
constexpr uint32_t kPenCapacity = 800000;       // floats
constexpr uint32_t kBrushCapacity = 80000000;  // floats

}  // namespace

Operator::Operator() = default;

Operator::~Operator() {
  // Closing the window keeps the work; the writer is done and joined before anything goes.
  saveAtClose();
  const bool saved = reportClose();
  if (m_onClosed) m_onClosed(saved);
  m_writer.reset();
  for (auto& entry : m_tools) delete entry.second;
  m_tools.clear();
  m_files.clear();
}

void Operator::createTools(bool withBuffers) {
  // Unique ids follow the creation order.
  for (int id : {TOOL_PEN, TOOL_BRUSH, TOOL_SELECT, TOOL_MOVE, TOOL_DELETE, TOOL_RECOLOR, TOOL_COLOR_PICK,
                 TOOL_DEFORM, TOOL_TRANSFORM, TOOL_CAMERA}) {
    Interactor* tool = nullptr;
    if (id == TOOL_PEN || id == TOOL_BRUSH) {
      tool = new hairBrusher(id);
    } else if (id == TOOL_MOVE) {
      tool = new Transformer();
    } else if (id == TOOL_DEFORM) {
      tool = new Deformer(m_tools[TOOL_BRUSH]);  // deforms the brush tool's strokes
    } else {
      tool = new Interactor(id);
    }
    delete m_tools[id];
    m_tools[id] = tool;
  }
  if (!withBuffers) return;
  m_tools[TOOL_PEN]->createBuffer(StrokeBufferFormat(g_renderRows[HAIR_TEXTURE_PEN]), kPenCapacity);
  m_tools[TOOL_BRUSH]->createBuffer(StrokeBufferFormat(g_renderRows[HAIR_TEXTURE_DENSE]), kBrushCapacity);
  m_tools[TOOL_DEFORM]->createBuffer(StrokeBufferFormat(g_renderRows[HAIR_TEXTURE_PEN]), kPenCapacity);
}

Interactor* Operator::getTool(int id) const {
  const auto it = m_tools.find(id);
  return it == m_tools.end() ? nullptr : it->second;
}

void Operator::reset() {
  HeadModel* head = findHeadModel();
  const Matrix4 placement = head ? head->m_modelMatrix : Matrix4();
  coreUndoer::reset();  // also ends an engaged state
  for (auto& entry : m_tools)
    if (entry.second) entry.second->reset();
  if (head && g_transformer) g_transformer->pushTransform(placement);
  m_currentTool = -1;
}

bool Operator::redo() {
  if (engaged()) return false;
  Interactor* tool = getTool(updateCurrentToolId());
  return tool ? tool->redo() : true;
}

bool Operator::undo(Operatable* op) {
  if (engaged()) return false;
  Interactor* tool = getTool(updateCurrentToolId());
  return tool ? tool->undo(op) : true;
}

bool Operator::press(const float* pose, const float* otherPose) {
  if (engaged()) return false;
  setSelected(true);
  m_currentTool = updateCurrentToolId();
  Interactor* tool = getTool(m_currentTool);
  return tool && tool->press(pose, kHandFrameFloats, otherPose, kHandFrameFloats);
}

bool Operator::move(const float* pose, const float* otherPose) {
  if (!engaged()) return false;
  Interactor* tool = getTool(m_currentTool);
  return tool && tool->move(pose, kHandFrameFloats, otherPose, kHandFrameFloats);
}

bool Operator::release(const float* pose, const float* otherPose) {
  if (!engaged()) return false;
  setSelected(false);
  Interactor* tool = getTool(m_currentTool);
  return tool && tool->release(pose, kHandFrameFloats, otherPose, kHandFrameFloats);
}

void Operator::drawTools(const Matrix4& viewProjection) {
  const Matrix4 identity;
  for (auto& entry : m_tools)
    if (entry.second) entry.second->draw(identity, viewProjection);
}

int Operator::fileIndexForKey(char key) const {
  const bool otherTrigger = flagOn(FLAG_OTHER_TRIGGER);
  if (otherTrigger && key == '<') key = ',';
  if (otherTrigger && key == '>') key = '.';
  const int files = static_cast<int>(m_files.size());
  if (key == ',' && m_fileIndex >= 1 && m_fileIndex <= files) return m_fileIndex - 1;
  if (key == '.' && m_fileIndex >= -1 && m_fileIndex < files - 1) return m_fileIndex + 1;
  return -1;
}

void Operator::onKey(char key) {
  if (key < ',' || key > 'u') return;
  switch (key) {
    case ',':
    case '.':
      if (fileIndexForKey(key) >= 0) loadFileByIndex(fileIndexForKey(key));
      return;
    case '<':
    case '>':
      if (flagOn(FLAG_OTHER_TRIGGER)) {
        onKey(key == '<' ? ',' : '.');
      } else if (int32_t* hairId = modeStateSlot(STATE_HAIR_ID)) {
        *hairId += key == '<' ? -1 : 1;
        std::printf("hairId: %d\n", *hairId);
      }
      return;
    case 'B':
    case 'b':
      postEvent(new EventRecord(EVENT_KEY_DOWN, key));
      return;
    case 'O':
    case 'o':
      toggleFlag(FLAG_VIEW_TRANSFORM);
      return;
    case 'P':
    case 'p':
      if (m_storedStroke) {
        Operatable copy(*m_storedStroke);
        copy.postProcess();
      }
      return;
    case 'R':
    case 'r':
      redo();
      return;
    case 'S':
    case 's':
      postEvent(new EventRecord(EVENT_SAVE, -1));
      return;
    case 'U':
    case 'u':
      undo(nullptr);
      return;
    default:
      return;
  }
}
