#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "core/matrix.h"
#include "strokes/undoer.h"

class Interactor;
class Operatable;

// The tool controller: owns the ten tools, routes the drawing hand's trigger to the tool of the
// current mode, forwards undo and redo to it, draws the tools' strokes and answers the command
// keys. Its own history stays empty. Engaged (flag bit 1, isSelected) from a press to the
// matching release, whether or not a tool took the press.
class Operator : public coreUndoer<Operatable*> {
 public:
  Operator() = default;
  // Deletes the tools.
  ~Operator() override;

  // Clear all: every tool emptied, then the head's placement (when a head is loaded) added
  // again as the only transform level.
  void reset() override;
  // Both refused while engaged; true with no tool for the current mode.
  bool redo() override;
  bool undo() override { return undo(nullptr); }
  virtual bool undo(Operatable* op);

  // Tools 0 to 9, created in the order 0, 1, 2, 6, 3, 4, 5, 7, 8, 9. The pen (0), the brush (1)
  // and tool 7 draw from stroke buffers; withBuffers false leaves every tool without one.
  void createTools(bool withBuffers = true);
  Interactor* getTool(int id) const;

  // pose, otherPose: the drawing and the other hand's frames, 12 floats each. A drag keeps
  // going to the tool its press went to, whatever the mode does meanwhile.
  bool press(const float* pose, const float* otherPose);
  bool move(const float* pose, const float* otherPose);
  bool release(const float* pose, const float* otherPose);
  // Every tool's strokes, ascending by id, with the identity model matrix.
  void drawTools(const Matrix4& viewProjection);
  // The command keys ',' to 'u': files, hair id, save, undo, redo, the view flag.
  void onKey(char key);
  // The painting file that key ',' or '.' (or '<' and '>' with the other hand's trigger held)
  // loads, as an index into m_files; -1 when the key loads none.
  int fileIndexForKey(char key) const;

  bool engaged() const { return isSelected(); }

  int32_t m_currentTool = -1;          // the tool the current press went to, -1 none
  Operatable* m_storedStroke = nullptr;  // not owned; the 'P' key post-processes a copy
  std::map<int, Interactor*> m_tools;  // owned, by id
  int32_t m_fileIndex = -1;            // index into m_files of the file loaded last, -1 none
  std::vector<std::string> m_files;    // painting files that ',' and '.' step through
};

extern Operator* g_operator;
