#pragma once
#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "core/matrix.h"
#include "platform/system.h"
#include "strokes/operatable.h"

class BufferUndoer;

namespace quillax {
class Painting;
}

// Painting files: the brush history stored as a quillax::Painting text file, an OBJ of its
// ribbons beside it, and the strokes read back. The tool controller's file operations are built
// on these; they run on the main thread.

// The saving root: asset_path + project_to_save, joined as they stand.
std::string defaultSavingRoot();

// The run folder's name: the controller's id, prefixed by the name of the folder holding the
// loaded list file and "_" when one was loaded (loadedFile empty: none).
std::string runFolderName(uint64_t operatorId, const std::string& loadedFile);
// A painting's file base: a fresh id, prefixed by the loaded list file's stem and "_" when it
// has one (at least one character between its last '/' and its last '.').
std::string paintingBaseName(int64_t fileId, const std::string& loadedFile);

// The stored work: one operation per entry of history up to its cursor, in order, leaving out
// hidden and removed entries, each in the frame before every transform level.
void storeOperations(const BufferUndoer& history, quillax::Painting* out);

// One exported stroke's ribbon copied out of the stroke, so that it can be written while the
// stroke changes or goes: 11 floats per vertex (x y z, u v, nx ny nz, shading) as drawn, the
// inverse of its transform level when it has one, and its quads numbered from vertex 1.
struct ObjStroke {
  uint32_t position = 0;  // in the list handed to the export, skipped strokes counted
  int texture = 0;
  bool hasInverse = false;
  Matrix4 inverse;
  std::vector<float> vertices;
  std::vector<uint32_t> quads;
};

// The records of the exported strokes (visible, not removed, of a ribbon texture), in order.
// Reads the strokes and the transform levels on up to `threads` threads (0: every core); the
// caller must not change them meanwhile.
std::vector<ObjStroke> objStrokes(const std::vector<Operatable*>& strokes, unsigned threads = 0);
// Writes the records as an OBJ at path, replacing an older file only when the new one is whole.
// Positions and normals go through each record's inverse. The text is formatted on up to
// `threads` threads (0: every core) and is the same for any number. False when any step fails,
// with the system's reason on standard error and in *reason (when given): "Failed to open file
// [ path ] for write." when the file could not be opened, "File [ path ] could not be written."
// when a write, the sync or the rename failed after it.
bool writeObj(const std::vector<ObjStroke>& strokes, const std::string& path, unsigned threads = 0,
              std::string* reason = nullptr);
// objStrokes, then writeObj.
bool writeStrokesObj(const std::vector<Operatable*>& strokes, const std::string& path,
                     unsigned threads = 0);

// What one save hands the writer thread, owned whole: nothing in it points into the strokes.
struct PaintingSave {
  bool autosave = false;  // the periodic save: the text only, at textPath, and no outcome
  bool closeCopy = false;  // one of the close's copies of the painting
  std::string base;       // a save: base + ".txt" and base + ".obj"
  std::string textPath;
  std::unique_ptr<quillax::Painting> painting;
  std::vector<ObjStroke> obj;
};

// How a save handed to the writer came out: saved when its text was written.
struct FinishedSave {
  std::string base;
  bool saved = false;
  int operations = 0;
  bool closeCopy = false;
  std::string reason;  // why the text was not written, as FileReplacement::reason gives it
  bool objWritten = false;  // never without the text
  std::string objReason;    // why the OBJ was not written, as for the text
  bool duringClose = false;  // finished once the close had begun
};

// The one thread that writes painting files: saves run one at a time in the order handed over,
// print their messages as the frame thread would, and leave their outcomes for the frame thread
// to act on (it owns the state a save changes). Once the close has begun a failed save prints
// only its reason: the close's last word says whether the painting is saved.
class PaintingWriter {
 public:
  // Each save waiting holds a whole copy of the work: at most kWaiting wait behind the one being
  // written, and a further hand-over first waits for the writer to take one.
  static constexpr size_t kWaiting = 1;
  void post(PaintingSave save);
  // Returns once a save can be handed over without waiting.
  void waitForRoom() { m_worker.waitForRoom(kWaiting); }
  // How many hand-overs wait for the writer to take a save.
  size_t waitingForRoom() const { return m_worker.waitingForRoom(); }
  // True while a save is queued or being written.
  bool busy() const { return m_worker.busy(); }
  // Waits for every save handed over so far.
  void drain() { m_worker.drain(); }
  // The same, giving up at the deadline: false when a save is still queued or being written.
  bool drainUntil(std::chrono::steady_clock::time_point deadline) { return m_worker.drainUntil(deadline); }
  // The text file of the oldest save handed over and not finished; empty when none.
  std::string unfinished();
  // The program's end has begun: a save that fails from now on, also one handed over before,
  // leaves no work open and prints only its reason.
  void beginClose() { m_closing = true; }
  bool closing() const { return m_closing; }
  // The outcomes of the saves finished since the last call, in order.
  std::vector<FinishedSave> takeFinished();

 private:
  platform::Mutex m_mutex;  // guards m_finished and m_pending
  std::vector<FinishedSave> m_finished;
  std::deque<std::string> m_pending;  // the text files of the saves not finished, in order
  std::atomic<bool> m_closing{false};
  // Last, so that it is joined, with what was handed over written, before the rest goes.
  platform::SerialWorker m_worker;
};

// Strokes read from a painting, not yet in any history (owned here until handed over).
struct PaintingStrokes {
  std::vector<std::unique_ptr<Operatable>> strokes;
  // The painting lacks hair_class, the last field a save writes: it may have been cut short
  // between two operations.
  bool cutShort = false;

  // Hands the strokes over, emptying this.
  std::vector<Operatable*> release();
};

// Parses painting text and builds its strokes: visible, not removed, unselected, flag bit 2
// clear, owned by whichever history takes them; with recolour, each takes g_currentColor times
// its own alpha. False, with out empty, when the text does not parse.
bool parsePaintingStrokes(const std::string& text, bool recolour, PaintingStrokes* out);
// The same from the file at path. False when it cannot be read or does not parse; a painting
// that may be cut short is told on standard output.
bool readPaintingStrokes(const std::string& path, bool recolour, PaintingStrokes* out);
