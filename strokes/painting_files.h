#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

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

// Writes strokes as an OBJ of their ribbons at path, replacing an older file only when the new
// one is whole. Exported: visible, not removed strokes of a ribbon texture; the group of each is
// named by its position in strokes. Positions and normals go through the inverse of the
// stroke's transform level. False, with "Failed to open file [ path ] for write." and the
// system's reason on standard error, when any step fails.
bool writeStrokesObj(const std::vector<Operatable*>& strokes, const std::string& path);

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
