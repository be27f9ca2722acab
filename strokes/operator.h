#pragma once
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/matrix.h"
#include "strokes/undoer.h"

class Interactor;
class Operatable;
class PaintingWriter;
struct PaintingSave;
struct PaintingStrokes;

namespace quillax {
class Painting;
}

// The tool controller: owns the ten tools, routes the drawing hand's trigger to the tool of the
// current mode, forwards undo and redo to it, draws the tools' strokes and answers the command
// keys. Its own history stays empty. Engaged (flag bit 1, isSelected) from a press to the
// matching release, whether or not a tool took the press.
class Operator : public coreUndoer<Operatable*> {
 public:
  Operator();
  // Saves the work, waiting for every write handed over, says whether the close left the
  // painting saved (reportClose, then m_onClosed), then deletes the tools.
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

  // ---- painting files (painting_files.cpp) ----
  // Paths use '/'; the saving root is asset_path + project_to_save unless one is given.
  enum class SaveResult { Saved, NothingToSave, Failed };
  // The run folder root/A (mode 1, not created) or a fresh file base root/A/B in it (any other
  // mode; the run folder is created). Empty, with a message, when a folder cannot be created;
  // the root's parent must exist.
  std::string makeSavingFolder(int mode, std::string root);
  // The stored work of the brush (tool 1) with the scene, head, hair texture and hair id.
  // False for null.
  bool fillPainting(quillax::Painting* out) const;
  // Saves are written by one writer thread, one at a time in the order handed over; the frame
  // thread gathers the work, makes the folders and acts on the outcomes.
  // Saves the work as name.txt and name.obj (empty name: a fresh base in the run folder) and
  // makes it the autosave's last saved file, waiting for the writes. Nothing is written without
  // a stroke to save; a ".txt" that cannot be written fails the save (no OBJ then), an OBJ that
  // cannot is reported.
  // closing: one of the close's copies; a failure of it, or of a save handed over before it,
  // prints only its reason, which reportClose gathers.
  SaveResult saveWork(const std::string& name, bool closing = false);
  // saveWork's result as true for a save that happened.
  bool savePainting(const std::string& name);
  // One of the close's copies of the painting (the shutdown's, the controller's end): a save with
  // an empty name, waiting for every write handed over. A failure prints only its reason, kept
  // for reportClose. False when this copy was not saved; true also with nothing to save.
  bool saveAtClose();
  // The close's last word, once its copies are made: when one landed (one with its OBJ first),
  // each failed save since the close began is named as a copy and each OBJ not written as an
  // export, with where the painting is and whether its own OBJ is missing, and true; when none
  // landed but one failed, "the painting was not saved" (with the folder that could not be made),
  // and false; true, saying nothing, when nothing failed.
  bool reportClose();
  // saveAtClose when the program cannot go on (the display lost): the saves handed over before
  // and this one get at most limitMs in all. Failed, with `unfinished` naming the text file of a
  // save that did not finish in time (empty otherwise); nothing is handed over behind that save.
  SaveResult saveBeforeExit(uint32_t limitMs, std::string* unfinished);
  // The save command: the work as it is now goes to the writer, after the writes before it, and
  // the caller goes on; finishSaves acts on how it came out. Saved: handed over. While a save
  // already waits behind the one being written, this first waits for the writer to take it.
  // closing: as for saveWork.
  SaveResult saveInBackground(const std::string& name, bool closing = false);
  // The periodic save of g_operator's work as "autosaves.txt" in the run folder, which a save of
  // this run must have created (before that it is reported as not written). True once the run
  // folder has a name; skipped (false) while a write is in flight or without a controller.
  static bool autosave();
  // Acts on the saves the writer has finished (last saved file, request event); every frame.
  // True when the last of them was saved.
  bool finishSaves();
  // Waits for every write handed over, then finishSaves.
  bool waitForSaves();
  // True while a write is queued or in flight.
  bool writing() const;
  // Appends the painting at path (a ".txt" file, or a folder a/b holding a/b/b.txt) to the
  // brush's work, recoloured with the current colour when asked. A path containing ".obj" reads
  // nothing and gives true; a painting that cannot be read changes nothing and gives false.
  bool loadPainting(const std::string& path, bool recolour);
  static bool exportObj(const std::vector<Operatable*>& strokes, const std::string& path);
  // m_files := the files of folder (empty: asset_path + project_to_load) whose name ends in
  // extension, and those of its sub-folders, by name; no file is loaded yet (m_fileIndex -1).
  void listFiles(std::string folder, const std::string& extension);
  // Replaces the work by file index of m_files (an index outside it does nothing), see
  // replacePainting.
  void loadFileByIndex(int index);
  // Replaces the work by the painting at path (read it only when `read`): the file is read
  // first, then the work saved, every tool reset and the painting added. A file that does not
  // read, or a save that fails, leaves the work as it was (false). fileIndex >= 0: the list
  // entry being loaded, which becomes m_fileIndex (also when it does not read, so the next step
  // goes past it).
  bool replacePainting(const std::string& path, bool read, int fileIndex);
  // Hands strokes read from a painting to the brush, behind its work (the redo tail is cut).
  void addStrokes(PaintingStrokes& read);
  // The list file loaded last, empty when none.
  std::string loadedListFile() const;
  // Gathers what a save hands the writer: the filled painting, its file paths and the OBJ records.
  SaveResult prepareSave(const std::string& name, PaintingSave* out);
  // Gathers what the periodic save hands the writer. Its path (textPath) is set whenever the run
  // folder has a name; false, with nothing to hand over, also while this run has not made that
  // folder, which is then reported as the text writer reports a missing one.
  bool prepareAutosave(PaintingSave* out);
  // True for a run folder that this run created.
  bool madeRunFolder(const std::string& folder) const;
  // The writer, started at the first save.
  PaintingWriter& writer();

  int32_t m_currentTool = -1;          // the tool the current press went to, -1 none
  Operatable* m_storedStroke = nullptr;  // not owned; the 'P' key post-processes a copy
  std::map<int, Interactor*> m_tools;  // owned, by id
  int32_t m_fileIndex = -1;            // index into m_files of the file loaded last, -1 none
  std::vector<std::string> m_files;    // painting files that ',' and '.' step through
  // Run folders this run created, by the name it wanted: another instance that started in the
  // same second wants the same name, and a folder it made is never written into.
  std::map<std::string, std::string> m_runFolders;
  std::unique_ptr<PaintingWriter> m_writer;

  // The close's copies and the saves that failed once it began (their text or their OBJ), for
  // reportClose.
  struct CloseCopy {
    std::string path;    // the text file; empty when its folder could not be made
    std::string reason;  // " (No space left on device)", or ": the folder F could not be made (R)"
    bool closeCopy = false;
    bool saved = false;
    std::string objPath;    // the OBJ beside the text file
    std::string objReason;  // why the OBJ was not written, as for the text
    bool objSaved = false;
  };
  std::vector<CloseCopy> m_closeCopies;
  // "the folder F could not be made (R)", for the last folder a save could not make.
  std::string m_failedFolder;
  void noteFailedFolder(const std::string& folder, int error);
  // Told by the destructor whether the close left the painting saved.
  std::function<void(bool saved)> m_onClosed;
};

extern Operator* g_operator;
