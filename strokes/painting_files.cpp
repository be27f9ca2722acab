#include "strokes/painting_files.h"

#include <google/protobuf/text_format.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <exception>
#include <iostream>

#include "core/core_object.h"
#include "core/events.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/files.h"
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
// The OBJ text is handed to the file in pieces of about this size.
constexpr size_t kObjChunk = 1 << 20;

// OBJ text as printf would write it ("%f", "%d"), built with to_chars: the same digits, without
// printf's format parsing and locale look-ups per number.
class ObjText {
 public:
  explicit ObjText(platform::FileReplacement& file) : m_file(file) { m_text.reserve(kObjChunk + 4096); }

  void text(const char* s, size_t n) { m_text.append(s, n); }
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
  // Hands full pieces to the file; false once a write failed.
  bool flushIfFull() { return m_text.size() < kObjChunk ? m_ok : flush(); }
  bool flush() {
    m_ok = m_ok && m_file.write(m_text.data(), m_text.size());
    m_text.clear();
    return m_ok;
  }

 private:
  platform::FileReplacement& m_file;
  std::string m_text;
  bool m_ok = true;
};

bool exported(const Operatable* stroke) {
  return stroke && stroke->m_operation && stroke->isVisible() && !stroke->isRemoved() &&
         isRibbonTexture(stroke->m_operation->texture());
}

// Writes one stroke's group, vertices and faces; its first vertex is number base + 1.
// Returns the number of vertices written.
uint32_t writeStroke(ObjText& obj, const Operatable& stroke, size_t position, uint32_t base,
                     std::vector<float>& vertices, std::vector<uint32_t>& indices) {
  const int floats = stroke.buildStrandGeometry(vertices, 0, ~0u, kObjAttributes);
  const uint32_t count = static_cast<uint32_t>(floats / kObjVertexFloats);
  const Matrix4* inverse = levelInverse(stroke.m_transformLevel);

  obj.text("g stroke_");
  obj.number(static_cast<uint32_t>(position));
  obj.text("_type");
  const int texture = stroke.m_operation->texture();
  obj.number(static_cast<uint32_t>(texture));
  obj.text("\n");

  for (uint32_t v = 0; v < count; ++v) {
    const float* f = vertices.data() + static_cast<size_t>(v) * kObjVertexFloats;
    Vec3f p(f[0], f[1], f[2]);
    Vec3f n(f[5], f[6], f[7]);
    if (inverse) {
      p = transformPoint(*inverse, p);
      n = transformDirection(*inverse, n);
    }
    if (length(n) != 0.0) n = normalized(n);
    obj.text("v ");
    for (int k = 0; k < 3; ++k) {
      obj.number(p[k]);
      obj.text(" ");
    }
    for (int k = 8; k < 11; ++k) {
      obj.number(f[k]);
      obj.text(k < 10 ? " " : "\n");
    }
    obj.text("vn ");
    for (int k = 0; k < 3; ++k) {
      obj.number(n[k]);
      obj.text(k < 2 ? " " : "\n");
    }
    obj.text("vt ");
    obj.number(f[3]);
    obj.text(" ");
    obj.number(f[4]);
    obj.text("\n");
    if (!obj.flushIfFull()) return count;
  }


  const int indexCount = stroke.fillIndexBuffer(indices, 0, ~0u, base + 1, true);
  for (int q = 0; q + 3 < indexCount; q += 4) {
    obj.text("f");
    for (int corner = 0; corner < 4; ++corner) {
      const uint32_t index = indices[static_cast<size_t>(q + corner)];
      for (int k = 0; k < 3; ++k) {
        obj.text(k == 0 ? " " : "/");
        obj.number(index);
      }
    }
    obj.text("\n");
    if (!obj.flushIfFull()) break;
  }
  return count;
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
  for (int i = 0; i <= history.m_cursor && i < history.size(); ++i) {
    const Operatable* stroke = history.m_history[static_cast<size_t>(i)];
    if (!stroke || !stroke->m_operation || stroke->isRemoved() || !stroke->isVisible()) continue;
    stroke->toProto(out->add_operations());
  }
}

bool writeStrokesObj(const std::vector<Operatable*>& strokes, const std::string& path) {
  platform::FileReplacement file(path);
  bool ok = file.fd() >= 0;
  if (ok) {
    ObjText obj(file);
    std::vector<float> vertices;
    std::vector<uint32_t> indices;
    uint32_t base = 0;
    for (size_t i = 0; i < strokes.size() && ok; ++i) {
      if (!exported(strokes[i])) continue;
      base += writeStroke(obj, *strokes[i], i, base, vertices, indices);
      ok = obj.flushIfFull();
    }
    ok = ok && obj.flush() && file.commit();
  }
  if (!ok) {
    const std::string reason = file.reason();
    if (reason.empty())
      std::fprintf(stderr, "Failed to open file [ %s ] for write.\n", path.c_str());
    else
      std::fprintf(stderr, "Failed to open file [ %s ] for write. (%s)\n", path.c_str(), reason.c_str());
  }
  return ok;
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
    std::cout << what << " not read: " << e.what() << std::endl;
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
    std::cout << "painting " << path << " ends before its hair class: the file may be cut short, "
              << out->strokes.size() << " strokes read" << std::endl;
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
  if (own != m_runFolders.end()) {
    folder = own->second;
    if (platform::createFolder(folder) == platform::FolderResult::Failed) folder.clear();
  } else {
    // Taken only when this call makes it; a name in use moves on to a fresh id.
    for (int attempt = 0; attempt < 1000 && folder.empty(); ++attempt) {
      const std::string candidate =
          attempt == 0 ? wanted : root + "/" + runFolderName(static_cast<uint64_t>(generateUniqueId()), loaded);
      const platform::FolderResult made = platform::createFolder(candidate);
      if (made == platform::FolderResult::Failed) break;
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
  if (const Interactor* brush = getTool(1)) storeOperations(*brush, out);
  if (g_modeler) g_modeler->toScene(out->mutable_scene());
  out->set_head(g_parameters.head_model());
  out->set_texture(g_parameters.hair_texture());
  out->set_hair_class(g_modeState.size() > 3 ? g_modeState[3] : 0);
  return true;
}

Operator::SaveResult Operator::saveWork(const std::string& name) {
  quillax::Painting painting;
  fillPainting(&painting);
  if (painting.operations_size() == 0) return SaveResult::NothingToSave;
  const std::string base = name.empty() ? makeSavingFolder(2, std::string()) : name;
  if (base.empty()) return SaveResult::Failed;
  // Without its painting the OBJ would be a save no load can bring back: it is not written.
  if (!WriteProtoToTextFile(painting, (base + ".txt").c_str())) {
    std::printf("the painting was not saved; the work is still open\n");
    return SaveResult::Failed;
  }
  if (const Interactor* brush = getTool(1)) {
    const size_t upToCursor = static_cast<size_t>(std::clamp(brush->m_cursor + 1, 0, brush->size()));
    exportObj(std::vector<Operatable*>(brush->m_history.begin(), brush->m_history.begin() + upToCursor),
              base + ".obj");
  }
  if (painting.operations_size() > 1) postEvent(new EventRecord(8, 1, base + ".obj", {}));
  g_autosaves.set_last_save_file(base + ".txt");
  return SaveResult::Saved;
}

bool Operator::savePainting(const std::string& name) { return saveWork(name) == SaveResult::Saved; }

bool Operator::autosave() {
  if (!g_operator) return false;
  const std::string folder = g_operator->makeSavingFolder(1, std::string());
  if (folder.empty()) return false;
  quillax::Painting painting;
  g_operator->fillPainting(&painting);
  return WriteProtoToTextFile(painting, (folder + "/autosaves.txt").c_str());
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
  if (!getTool(1)) return false;
  PaintingStrokes read;
  if (!readPaintingStrokes(path, recolour, &read)) return false;
  addStrokes(read);
  return true;
}

void Operator::addStrokes(PaintingStrokes& read) {
  Interactor* brush = getTool(1);
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
