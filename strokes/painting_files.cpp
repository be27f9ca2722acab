#include "strokes/painting_files.h"

#include <google/protobuf/text_format.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <exception>

#include "core/core_object.h"
#include "core/events.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/files.h"
#include "platform/print.h"
#include "platform/system.h"
#include "quillax.pb.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "strokes/buffer_undoer.h"
#include "strokes/interactor.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "strokes/stroke_geometry.h"

namespace {

// Floats per exported vertex: position, texture coordinates, normal, shading (a0, a1, a2, a5).
constexpr int kObjVertexFloats = 11;
constexpr bool kObjAttributes[7] = {true, true, true, false, false, true, false};
// The OBJ is formatted in pieces of whole strokes of about this many vertices (about 1 MB of
// text), several pieces at once.
constexpr uint32_t kObjPieceVertices = 8192;
// Enough for a vertex's three lines and its share of the faces, so a piece's text grows once.
constexpr size_t kObjBytesPerVertex = 192;

// OBJ text as printf would write it ("%f", "%d"), built with to_chars: the same digits, without
// printf's format parsing and locale look-ups per number.
class ObjText {
 public:
  explicit ObjText(std::string& text) : m_text(text) {}

  template <size_t N>
  void text(const char (&s)[N]) { m_text.append(s, N - 1); }
  void number(float value) {
    char digits[64];
    // A float as a double, fixed with six decimals: printf's "%f" on the promoted value.
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof(digits),
                                                 static_cast<double>(value),
                                                 std::chars_format::fixed, 6);
    if (r.ec == std::errc()) m_text.append(digits, r.ptr);
  }
  void number(uint32_t value) {
    char digits[16];
    const std::to_chars_result r = std::to_chars(digits, digits + sizeof(digits), value);
    m_text.append(digits, r.ptr);
  }

 private:
  std::string& m_text;
};

bool exported(const Operatable* stroke) {
  return stroke && stroke->m_operation && stroke->isVisible() && !stroke->isRemoved() &&
         isRibbonTexture(stroke->m_operation->texture());
}

uint32_t vertexCount(const ObjStroke& stroke) {
  return static_cast<uint32_t>(stroke.vertices.size() / kObjVertexFloats);
}

// Appends one stroke's group, vertices and faces; its first vertex is number base + 1.
void formatStroke(const ObjStroke& stroke, uint32_t base, std::string& out) {
  ObjText obj(out);
  obj.text("g stroke_");
  obj.number(stroke.position);
  obj.text("_type");
  obj.number(static_cast<uint32_t>(stroke.texture));
  obj.text("\n");

  const uint32_t count = vertexCount(stroke);
  for (uint32_t v = 0; v < count; ++v) {
    const float* f = stroke.vertices.data() + static_cast<size_t>(v) * kObjVertexFloats;
    Vec3f p(f[0], f[1], f[2]);
    Vec3f n(f[5], f[6], f[7]);
    if (stroke.hasInverse) {
      p = transformPoint(stroke.inverse, p);
      n = transformDirection(stroke.inverse, n);
    }
    if (length(n) != 0.0) n = normalized(n);
    obj.text("v ");
    for (int k = 0; k < 3; ++k) {
      obj.number(p[k]);
      obj.text(" ");
    }
    for (int k = 8; k < 11; ++k) {
      obj.number(f[k]);
      if (k < 10) obj.text(" ");
    }
    obj.text("\nvn ");
    for (int k = 0; k < 3; ++k) {
      obj.number(n[k]);
      if (k < 2) obj.text(" ");
    }
    obj.text("\nvt ");
    obj.number(f[3]);
    obj.text(" ");
    obj.number(f[4]);
    obj.text("\n");
  }

  for (size_t q = 0; q + 3 < stroke.quads.size(); q += 4) {
    obj.text("f");
    for (size_t corner = 0; corner < 4; ++corner) {
      // The quads were built for a first vertex of 1: the running count moves them on.
      const uint32_t index = stroke.quads[q + corner] + base;
      obj.text(" ");
      obj.number(index);
      obj.text("/");
      obj.number(index);
      obj.text("/");
      obj.number(index);
    }
    obj.text("\n");
  }
}

// Builds the strokes of a parsed painting, taking its operations (the painting keeps empty ones).
void buildStrokes(quillax::Painting& painting, bool recolour, PaintingStrokes* out) {
  out->strokes.reserve(static_cast<size_t>(painting.operations_size()));
  for (int i = 0; i < painting.operations_size(); ++i) {
    auto* stored = new quillax::Operation;
    stored->Swap(painting.mutable_operations(i));
    auto stroke = std::make_unique<Operatable>(stored);
    if (recolour) {
      quillax::Color* color = stroke->m_operation->mutable_color();
      const float a = g_currentColor.alpha();
      color->set_red(g_currentColor.red() * a);
      color->set_green(g_currentColor.green() * a);
      color->set_blue(g_currentColor.blue() * a);
      color->set_alpha(1.0f);
    }
    stroke->setSelected(false);
    stroke->setFlag2(false);
    // Saves never store hidden or removed strokes: such flags come from elsewhere and would
    // load work that shows nothing and is dropped by the next save.
    stroke->setVisible(true);
    stroke->setRemoved(false);
    // Whatever flag word the file holds, the history that takes the stroke owns it: a stroke
    // that no history owns would never be deleted.
    stroke->setFlag4(true);
    out->strokes.push_back(std::move(stroke));
  }
  out->cutShort = !painting.has_hair_class();
}

}  // namespace

std::string defaultSavingRoot() {
  return g_parameters.asset_path() + g_parameters.project_to_save();
}

std::string runFolderName(uint64_t operatorId, const std::string& loadedFile) {
  const std::string id = std::to_string(operatorId);
  const size_t slash = loadedFile.rfind('/');
  if (slash == std::string::npos) return id;
  const size_t before = slash == 0 ? std::string::npos : loadedFile.rfind('/', slash - 1);
  const size_t start = before == std::string::npos ? 0 : before + 1;
  const std::string folder = loadedFile.substr(start, slash - start);
  return folder.empty() ? id : folder + "_" + id;
}

std::string paintingBaseName(int64_t fileId, const std::string& loadedFile) {
  const std::string id = std::to_string(fileId);
  const size_t slash = loadedFile.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = loadedFile.rfind('.');
  if (dot == std::string::npos || dot <= start) return id;
  return loadedFile.substr(start, dot - start) + "_" + id;
}

void storeOperations(const BufferUndoer& history, quillax::Painting* out) {
  std::vector<const Operatable*> stored;
  for (int i = 0; i <= history.m_cursor && i < history.size(); ++i) {
    const Operatable* stroke = history.m_history[static_cast<size_t>(i)];
    if (!stroke || !stroke->m_operation || stroke->isRemoved() || !stroke->isVisible()) continue;
    stored.push_back(stroke);
  }
  // Copying the strokes out is what a save holds the frame for: every core takes a share, the
  // strokes being only read while the caller waits.
  std::vector<quillax::Operation*> operations(stored.size());
  platform::parallelFor(stored.size(), platform::coreCount(), [&](size_t k) {
    operations[k] = new quillax::Operation;
    stored[k]->toProto(operations[k]);
  });
  out->mutable_operations()->Reserve(out->operations_size() + static_cast<int>(operations.size()));
  for (quillax::Operation* operation : operations) out->mutable_operations()->AddAllocated(operation);
}

std::vector<ObjStroke> objStrokes(const std::vector<Operatable*>& strokes, unsigned threads) {
  std::vector<size_t> positions;
  for (size_t i = 0; i < strokes.size(); ++i)
    if (exported(strokes[i])) positions.push_back(i);
  std::vector<ObjStroke> out(positions.size());
  // The strokes are only read, and the caller waits: each worker fills its own records.
  platform::parallelFor(out.size(), threads == 0 ? platform::coreCount() : threads, [&](size_t k) {
    const Operatable& stroke = *strokes[positions[k]];
    ObjStroke& record = out[k];
    record.position = static_cast<uint32_t>(positions[k]);
    record.texture = stroke.m_operation->texture();
    if (const Matrix4* inverse = levelInverse(stroke.m_transformLevel)) {
      record.hasInverse = true;
      record.inverse = *inverse;
    }
    const int floats = stroke.buildStrandGeometry(record.vertices, 0, ~0u, kObjAttributes);
    record.vertices.resize(static_cast<size_t>(std::max(floats, 0)));
    const int indexCount = stroke.fillIndexBuffer(record.quads, 0, ~0u, 1, true);
    record.quads.resize(static_cast<size_t>(std::max(indexCount, 0)));
  });
  return out;
}

bool writeObj(const std::vector<ObjStroke>& strokes, const std::string& path, unsigned threads,
              std::string* reason) {
  if (threads == 0) threads = platform::coreCount();
  platform::FileReplacement file(path);
  const bool opened = file.fd() >= 0;
  bool ok = opened;
  if (ok) {
    // Pieces of whole strokes, each about kObjPieceVertices vertices, with the number of
    // vertices written before each piece.
    std::vector<size_t> pieceStart{0};
    std::vector<uint32_t> pieceBase{0};
    uint32_t base = 0, inPiece = 0;
    for (size_t i = 0; i < strokes.size(); ++i) {
      if (inPiece >= kObjPieceVertices) {
        pieceStart.push_back(i);
        pieceBase.push_back(base);
        inPiece = 0;
      }
      base += vertexCount(strokes[i]);
      inPiece += vertexCount(strokes[i]);
    }
    pieceStart.push_back(strokes.size());
    const size_t pieces = pieceBase.size();
    // A few pieces per thread at a time, formatted side by side while the pieces before them
    // are written in order, so the text held at once stays small.
    const size_t window = std::max<size_t>(1, static_cast<size_t>(threads) * 2);
    std::vector<std::string> texts[2] = {std::vector<std::string>(window), std::vector<std::string>(window)};
    size_t written = 0;  // pieces handed to the file
    auto writeUpTo = [&](size_t end) {
      for (; written < end && ok; ++written) {
        const std::string& text = texts[(written / window) % 2][written % window];
        ok = file.write(text.data(), text.size());
      }
    };
    for (size_t first = 0; first < pieces && ok; first += window) {
      const size_t count = std::min(window, pieces - first);
      std::vector<std::string>& into = texts[(first / window) % 2];
      // Task 0 writes the window before, beside the formatting threads (on one thread, first).
      platform::parallelFor(count + 1, threads == 1 ? 1 : threads + 1, [&](size_t task) {
        if (task == 0) {
          writeUpTo(first);
          return;
        }
        const size_t piece = first + task - 1;
        std::string& text = into[task - 1];
        text.clear();
        uint32_t at = pieceBase[piece];
        const uint32_t end = piece + 1 < pieces ? pieceBase[piece + 1] : base;
        text.reserve(static_cast<size_t>(end - at) * kObjBytesPerVertex);
        for (size_t i = pieceStart[piece]; i < pieceStart[piece + 1]; ++i) {
          formatStroke(strokes[i], at, text);
          at += vertexCount(strokes[i]);
        }
      });
    }
    writeUpTo(pieces);
    ok = ok && file.commit();
  }
  if (!ok) {
    // A file that opened and then failed is not a path problem: the line says which it was.
    if (opened)
      platform::printWhole(stderr, "File [ %s ] could not be written.%s\n", path.c_str(), file.reason().c_str());
    else
      platform::printWhole(stderr, "Failed to open file [ %s ] for write.%s\n", path.c_str(),
                           file.reason().c_str());
    if (reason) *reason = file.reason();
  }
  return ok;
}

bool writeStrokesObj(const std::vector<Operatable*>& strokes, const std::string& path, unsigned threads) {
  return writeObj(objStrokes(strokes, threads), path, threads);
}

void PaintingWriter::post(PaintingSave save) {
  // A function object must be copyable: the save travels behind a shared pointer.
  auto job = std::make_shared<PaintingSave>(std::move(save));
  m_mutex.lock();
  m_pending.push_back(job->textPath);
  m_mutex.unlock();
  m_worker.post(
      [this, job] {
        FinishedSave done;
        done.base = job->base;
        done.saved = WriteProtoToTextFile(*job->painting, job->textPath.c_str(), &done.reason);
        done.operations = job->painting->operations_size();
        done.closeCopy = job->closeCopy;
        // Without its painting the OBJ would be a save no load can bring back: it is not written.
        if (!job->autosave && done.saved)
          done.objWritten = writeObj(job->obj, job->base + ".obj", 0, &done.objReason);
        else if (!job->autosave && !m_closing)
          platform::printWhole(stdout, "the painting was not saved; the work is still open\n");
        done.duringClose = m_closing;
        m_mutex.lock();
        m_pending.pop_front();
        if (!job->autosave) m_finished.push_back(std::move(done));
        m_mutex.unlock();
      },
      kWaiting);
}

std::string PaintingWriter::unfinished() {
  m_mutex.lock();
  std::string oldest = m_pending.empty() ? std::string() : m_pending.front();
  m_mutex.unlock();
  return oldest;
}

std::vector<FinishedSave> PaintingWriter::takeFinished() {
  m_mutex.lock();
  std::vector<FinishedSave> out;
  out.swap(m_finished);
  m_mutex.unlock();
  return out;
}

std::vector<Operatable*> PaintingStrokes::release() {
  std::vector<Operatable*> out;
  out.reserve(strokes.size());
  for (std::unique_ptr<Operatable>& stroke : strokes) out.push_back(stroke.release());
  strokes.clear();
  return out;
}

namespace {

// Fills a painting with parse (which may throw, as protobuf may) and builds its strokes.
template <typename Parse>
bool buildFrom(Parse parse, const std::string& what, bool recolour, PaintingStrokes* out) {
  out->strokes.clear();
  out->cutShort = false;
  quillax::Painting painting;
  try {
    if (!parse(&painting)) return false;
    buildStrokes(painting, recolour, out);
  } catch (const std::exception& e) {
    std::printf("%s not read: %s\n", what.c_str(), e.what());
    out->strokes.clear();
    return false;
  }
  return true;
}

}  // namespace

bool parsePaintingStrokes(const std::string& text, bool recolour, PaintingStrokes* out) {
  return buildFrom([&text](quillax::Painting* p) { return google::protobuf::TextFormat::ParseFromString(text, p); },
                   "painting", recolour, out);
}

bool readPaintingStrokes(const std::string& path, bool recolour, PaintingStrokes* out) {
  if (!buildFrom([&path](quillax::Painting* p) { return ReadProtoFromTextFile(path.c_str(), p); },
                 "painting " + path, recolour, out))
    return false;
  if (out->cutShort)
    std::printf("painting %s ends before its hair class: the file may be cut short, %zu strokes read\n",
                path.c_str(), out->strokes.size());
  return true;
}

// ---- the tool controller's file operations ----

std::string Operator::loadedListFile() const {
  if (m_fileIndex < 0 || m_fileIndex >= static_cast<int>(m_files.size())) return std::string();
  return m_files[static_cast<size_t>(m_fileIndex)];
}

std::string Operator::makeSavingFolder(int mode, std::string root) {
  if (root.empty()) root = defaultSavingRoot();
  if (platform::createFolder(root) == platform::FolderResult::Failed) {
    noteFailedFolder(root, errno);
    std::printf("error in creating root saving folder. \n");
    return std::string();
  }
  const std::string loaded = loadedListFile();
  const std::string wanted = root + "/" + runFolderName(m_id, loaded);
  const auto own = m_runFolders.find(wanted);
  if (mode == 1) {
    if (own != m_runFolders.end()) return own->second;
    // Not made by this run yet: a folder already there is another instance's.
    return platform::pathExists(wanted) ? std::string() : wanted;
  }
  std::string folder;
  noteFailedFolder(wanted, EEXIST);  // stays only when every name was taken
  if (own != m_runFolders.end()) {
    folder = own->second;
    if (platform::createFolder(folder) == platform::FolderResult::Failed) {
      noteFailedFolder(folder, errno);
      folder.clear();
    }
  } else {
    // Taken only when this call makes it; a name in use moves on to a fresh id.
    for (int attempt = 0; attempt < 1000 && folder.empty(); ++attempt) {
      const std::string candidate =
          attempt == 0 ? wanted : root + "/" + runFolderName(static_cast<uint64_t>(generateUniqueId()), loaded);
      const platform::FolderResult made = platform::createFolder(candidate);
      if (made == platform::FolderResult::Failed) {
        noteFailedFolder(candidate, errno);
        break;
      }
      if (made == platform::FolderResult::Created) folder = candidate;
    }
    if (!folder.empty()) m_runFolders[wanted] = folder;
  }
  if (folder.empty()) {
    std::printf("error in creating saving folder. \n");
    return std::string();
  }
  return folder + "/" + paintingBaseName(generateUniqueId(), loaded);
}

bool Operator::fillPainting(quillax::Painting* out) const {
  if (!out) return false;
  if (const Interactor* brush = getTool(TOOL_BRUSH)) storeOperations(*brush, out);
  if (g_modeler) g_modeler->toScene(out->mutable_scene());
  out->set_head(g_parameters.head_model());
  out->set_texture(g_parameters.hair_texture());
  out->set_hair_class(modeStateAt(STATE_HAIR_ID, 0));
  return true;
}

Operator::SaveResult Operator::prepareSave(const std::string& name, PaintingSave* out) {
  out->painting = std::make_unique<quillax::Painting>();
  fillPainting(out->painting.get());
  if (out->painting->operations_size() == 0) return SaveResult::NothingToSave;
  out->base = name.empty() ? makeSavingFolder(2, std::string()) : name;
  if (out->base.empty()) return SaveResult::Failed;
  out->textPath = out->base + ".txt";
  if (const Interactor* brush = getTool(TOOL_BRUSH)) {
    const size_t upToCursor = static_cast<size_t>(std::clamp(brush->m_cursor + 1, 0, brush->size()));
    out->obj = objStrokes(std::vector<Operatable*>(brush->m_history.begin(), brush->m_history.begin() + upToCursor));
  }
  return SaveResult::Saved;
}

PaintingWriter& Operator::writer() {
  if (!m_writer) m_writer = std::make_unique<PaintingWriter>();
  return *m_writer;
}

bool Operator::writing() const { return m_writer && m_writer->busy(); }

void Operator::noteFailedFolder(const std::string& folder, int error) {
  m_failedFolder = "the folder " + folder + " could not be made (" + std::strerror(error) + ")";
}

bool Operator::finishSaves() {
  if (!m_writer) return false;
  bool saved = false;
  for (const FinishedSave& done : m_writer->takeFinished()) {
    saved = done.saved;
    // Once the close has begun, every outcome counts towards its last word; an export that failed
    // before it was told by its own line and leaves the painting as saved as it was.
    const bool exportFailed = done.saved && !done.objWritten && done.duringClose;
    if (m_writer->closing() && (done.closeCopy || !done.saved || exportFailed))
      m_closeCopies.push_back({done.base + ".txt", done.reason.empty() ? " (not found)" : done.reason,
                               done.closeCopy, done.saved, done.base + ".obj",
                               done.objReason.empty() ? " (not found)" : done.objReason, done.objWritten});
    if (!done.saved) continue;
    if (done.operations > 1) postEvent(new EventRecord(EVENT_HAIR_REQUEST, 1, done.base + ".obj", {}));
    g_autosaves.set_last_save_file(done.base + ".txt");
  }
  return saved;
}

bool Operator::waitForSaves() {
  if (m_writer) m_writer->drain();
  return finishSaves();
}

Operator::SaveResult Operator::saveInBackground(const std::string& name, bool closing) {
  // The close has begun once it waits: a save it waits for that fails leaves no work open.
  if (closing) writer().beginClose();
  // Room first: the copy of the work is made only once the writer can take it.
  writer().waitForRoom();
  PaintingSave save;
  const SaveResult result = prepareSave(name, &save);
  platform::noteProgress();  // the work is copied out: a step of a save, or of the close
  save.closeCopy = closing;
  if (result == SaveResult::Saved) {
    writer().post(std::move(save));
  } else if (result == SaveResult::Failed && closing) {
    m_closeCopies.push_back({std::string(), ": " + m_failedFolder, true, false, std::string(), std::string(), false});
  } else if (result == SaveResult::Failed) {
    std::printf("the painting was not saved: %s; the work is still open\n", m_failedFolder.c_str());
  }
  return result;
}

Operator::SaveResult Operator::saveWork(const std::string& name, bool closing) {
  const SaveResult result = saveInBackground(name, closing);
  // Handed over last, this save is the last to finish.
  if (result == SaveResult::Saved && !waitForSaves()) return SaveResult::Failed;
  return result;
}

bool Operator::savePainting(const std::string& name) { return saveWork(name) == SaveResult::Saved; }

bool Operator::saveAtClose() {
  const SaveResult result = saveInBackground(std::string(), true);
  // Also without a save of its own: the close's last word needs every outcome.
  const bool lastSaved = m_writer && waitForSaves();
  return result == SaveResult::NothingToSave || (result == SaveResult::Saved && lastSaved);
}

bool Operator::reportClose() {
  const CloseCopy* landed = nullptr;
  std::string folderFailure;
  bool failed = false;
  for (const CloseCopy& copy : m_closeCopies) {
    // Point at a copy the user can take whole: one with its export, when there is one.
    if (copy.closeCopy && copy.saved && (!landed || (!landed->objSaved && copy.objSaved))) landed = &copy;
    if (copy.saved) continue;
    failed = true;
    if (copy.path.empty()) folderFailure = copy.reason;
  }
  if (landed) {
    std::string tail = "the painting is saved as " + landed->path;
    if (!landed->objSaved) tail += ", without its export " + landed->objPath + landed->objReason;
    // Each file not written is one the user might look for: it is named with where the painting is.
    bool named = false;
    for (const CloseCopy& copy : m_closeCopies) {
      if (!copy.saved) {
        std::printf("the copy %s%sof the painting was not saved%s; %s\n", copy.path.c_str(),
                    copy.path.empty() ? "" : " ", copy.reason.c_str(), tail.c_str());
      } else if (&copy != landed && !copy.objSaved) {
        std::printf("the export %s of the painting was not saved%s; %s\n", copy.objPath.c_str(),
                    copy.objReason.c_str(), tail.c_str());
      } else {
        continue;
      }
      named = true;
    }
    if (!named && !landed->objSaved) std::printf("%s\n", tail.c_str());
    return true;
  }
  if (failed) std::printf("the painting was not saved%s\n", folderFailure.c_str());
  return !failed;
}

Operator::SaveResult Operator::saveBeforeExit(uint32_t limitMs, std::string* unfinished) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  if (m_writer) m_writer->beginClose();
  // A save that does not finish holds those behind it: nothing more is handed over then.
  auto finishedInTime = [&] {
    if (!m_writer || m_writer->drainUntil(deadline)) return true;
    *unfinished = m_writer->unfinished();
    return false;
  };
  if (!finishedInTime()) return SaveResult::Failed;
  finishSaves();
  const SaveResult result = saveInBackground(std::string(), true);
  if (result != SaveResult::Saved) return result;
  if (!finishedInTime()) return SaveResult::Failed;
  return finishSaves() ? SaveResult::Saved : SaveResult::Failed;
}

bool Operator::madeRunFolder(const std::string& folder) const {
  for (const auto& made : m_runFolders)
    if (made.second == folder) return true;
  return false;
}

bool Operator::prepareAutosave(PaintingSave* out) {
  out->autosave = true;
  out->textPath.clear();
  const std::string folder = makeSavingFolder(1, std::string());
  if (folder.empty()) return false;
  out->textPath = folder + "/autosaves.txt";
  // Until a save of this run has made it, the folder of that name may be another instance's by
  // the time the writer gets to it: nothing goes there, and the write fails as into a missing one.
  if (!madeRunFolder(folder)) {
    reportNotWritten(out->textPath, std::string());
    return false;
  }
  out->painting = std::make_unique<quillax::Painting>();
  fillPainting(out->painting.get());
  return true;
}

bool Operator::autosave() {
  if (!g_operator) return false;
  // One write at a time: a period that falls due meanwhile is skipped.
  if (g_operator->writing()) return false;
  PaintingSave save;
  const bool ready = g_operator->prepareAutosave(&save);
  const bool named = !save.textPath.empty();
  if (ready) g_operator->writer().post(std::move(save));
  return named;
}

bool Operator::exportObj(const std::vector<Operatable*>& strokes, const std::string& path) {
  return writeStrokesObj(strokes, path);
}

bool Operator::loadPainting(const std::string& path, bool recolour) {
  if (path.find(".obj") != std::string::npos) return true;
  if (path.find(".txt") == std::string::npos) {
    // A folder a/b holds its painting as a/b/b.txt.
    if (!platform::isFolder(path)) return false;
    const size_t slash = path.rfind('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return loadPainting(path + "/" + name + ".txt", recolour);
  }
  if (!getTool(TOOL_BRUSH)) return false;
  PaintingStrokes read;
  if (!readPaintingStrokes(path, recolour, &read)) return false;
  addStrokes(read);
  return true;
}

void Operator::addStrokes(PaintingStrokes& read) {
  Interactor* brush = getTool(TOOL_BRUSH);
  if (!brush) return;
  brush->truncateRedo();
  brush->pushList(read.release(), false);
  if (HeadModel* head = findHeadModel()) head->setRenderable(true);
}

bool Operator::replacePainting(const std::string& path, bool readable, int fileIndex) {
  // The file is read before anything changes: one that does not read leaves the work alone.
  PaintingStrokes read;
  if (readable && !readPaintingStrokes(path, false, &read)) {
    std::printf("painting %s not loaded: the current work stays.\n", path.c_str());
    if (fileIndex >= 0) m_fileIndex = fileIndex;  // the next step of the list goes past it
    return false;
  }
  if (saveWork(std::string()) == SaveResult::Failed) {
    std::printf("the current work could not be saved: %s not loaded, the work stays.\n", path.c_str());
    return false;
  }
  reset();
  if (fileIndex >= 0) {
    m_fileIndex = fileIndex;
    std::printf("prepare to load file %d/%d %s\n", fileIndex, static_cast<int>(m_files.size()), path.c_str());
  }
  if (readable) addStrokes(read);
  return true;
}

void Operator::listFiles(std::string folder, const std::string& extension) {
  if (folder.empty()) folder = g_parameters.asset_path() + g_parameters.project_to_load();
  if (folder.empty()) return;
  m_files.clear();
  m_fileIndex = -1;
  std::vector<std::string> names;
  platform::listFolder(folder, names);
  for (const std::string& name : names) {
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && name.compare(dot, std::string::npos, extension) == 0) {
      m_files.push_back(folder + "/" + name);
      continue;
    }
    for (const std::string& inner : platform::listFilesByEnding(folder + "/" + name, extension))
      m_files.push_back(folder + "/" + name + "/" + inner);
  }
  std::printf("total %d files\n", static_cast<int>(m_files.size()));
}

void Operator::loadFileByIndex(int index) {
  if (index < 0 || index >= static_cast<int>(m_files.size())) return;
  const std::string& path = m_files[static_cast<size_t>(index)];
  const size_t dot = path.rfind('.');
  const bool isText = dot != std::string::npos && path.compare(dot, std::string::npos, ".txt") == 0;
  replacePainting(path, isText && path.find(".obj") == std::string::npos, index);
}
