// The message files the program reads and also writes back, each replaced by what a hostile
// or careless user leaves there: every reader names the file, the load ends, the defaults are
// used, and the user's file stays byte for byte (the autosaves, moved aside whole).
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.h"
#include "app/brush_state.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/clock.h"
#include "render/camera.h"
#include "render/grider.h"
#include "render/head_model.h"
#include "render/render_gl_fixture.h"

namespace fs = std::filesystem;

namespace {

void writeBytes(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// What stands at path: "missing", "folder", "pipe", or "file:" and its bytes.
std::string fingerprint(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return "missing";
  if (S_ISDIR(info.st_mode)) return "folder";
  if (S_ISFIFO(info.st_mode)) return "pipe";
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return "file:" + bytes.str();
}

// A hostile kind, made from the reader's good text, and what the file reader says after the path.
struct HostileFile {
  const char* kind;
  void (*make)(const std::string& path, const std::string& goodText);
  const char* said;
};
const HostileFile kHostileFiles[] = {
    {"typo", [](const std::string& path, const std::string& good) { writeBytes(path, good + "misspelt_field: 1\n"); },
     " does not parse: line 2 column 15: "},
    {"cut short", [](const std::string& path, const std::string& good) { writeBytes(path, good.substr(0, good.size() / 2)); },
     " does not parse: line 1 column "},
    {"binary", [](const std::string& path, const std::string&) {
       writeBytes(path, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe", 18));
     },
     " does not parse: line 1 column 1: "},
    {"folder", [](const std::string& path, const std::string&) { fs::create_directories(path); },
     " not found! (a folder)"},
    // A pipe with no writer would hold the start for good if the read waited on it.
    {"pipe", [](const std::string& path, const std::string&) {
       fs::create_directories(fs::path(path).parent_path());
       mkfifo(path.c_str(), 0644);
     },
     " not found! (not a regular file)"},
};

class MessageFilesGL : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    if (HasFatalFailure()) return;
    platform::useVirtualClock();
  }
  void TearDown() override {
    platform::useRealClock();
    g_hairs.Clear();
    g_autosaves.Clear();
    loadSettingsQuietly();
    RenderGLTest::TearDown();
  }
};

// The line of the readers that fall back on their defaults.
std::string leftAsItIs(const std::string& reader, const std::string& defaults) {
  return reader + ": <path> could not be read; using the " + defaults + " and leaving the file as it is\n";
}

}  // namespace

TEST_F(MessageFilesGL, HostileFilesAreNamedAndKeptWhileTheDefaultsAreUsed) {
  struct Reader {
    const char* who;
    const char* file;  // under the asset root
    const char* goodText;
    // The reader's own line; "<path>" stands for the file as the reader names it.
    std::string line;
    // Reads (writing back where the reader does), returns what the run then uses.
    std::function<std::string()> load;
    const char* used;
  };
  const std::string root = this->root();
  const Reader readers[] = {
      {"settings", "parameters.txt", "window_width: 800\n", leftAsItIs("loadParameters", "default settings"),
       [] {
         loadParameters();
         return "width " + std::to_string(g_parameters.window_width());
       },
       "width 1920"},
      {"hair parameters", "shaders/pbr_hair_parameters.txt", "cutoff: 0.3\n",
       leftAsItIs("HairShader", "default hair parameters"),
       [this] {
         delete g_shaderManager;
         g_shaderManager = new ShaderManager();
         g_shaderManager->loadShaders();
         return "cutoff " + std::to_string(uniformFloat(g_shaderManager->programId(7), "_Cutoff"));
       },
       "cutoff 0.550000"},
      {"placement", "headTransform.txt", "obj_name: \"kept\"\n", leftAsItIs("loadPlacement", "default placement"),
       [&] {
         HeadModel head("head.txt");  // a mesh box alone is enough to place it
         BoundingBox* box = new BoundingBox("box");
         box->widen(Vec3f(-0.6f, -0.2f, -0.3f));
         box->widen(Vec3f(0.6f, 0.2f, 0.3f));
         head.setAttached(box);
         Matrix4 placement;
         head.loadPlacement(placement, root + "headTransform.txt");
         return "scale " + std::to_string(placement.at(0, 0));
       },
       "scale 0.500000"},
      {"hair set", "hair/hairset.txt", "hairs { name: 'mine' file_path: 'hair/m.txt' load_at_begin: 1 }\n",
       leftAsItIs("loadHairSet", "built-in hair set"),
       [this] {
         writeFile("hair/m.txt", "");
         writeFile("hair/base_back_sep/base_back_sep.txt", "");
         g_hairs.Clear();
         g_parameters.set_hairset_path("hair/hairset.txt");
         loadHairSet();
         std::string names = "hairs:";
         for (const auto& hair : g_hairs.hairs()) names += " " + hair.name();
         return names;
       },
       "hairs: base_back_sep"},
      {"cameras", "cameras.txt", "camera { name: 'a' image_width: 8 }\n",
       "<path> does not read as cameras; camera saving is off for this run, so it is not written over\n",
       [&] {
         CameraManager cameras;
         const int loaded = cameras.loadCameras(root + "cameras.txt");
         return std::to_string(loaded) + " cameras, saved " + std::to_string(cameras.saveCameras());
       },
       "0 cameras, saved 0"},
      // Two brush-state periods: moved aside before the first write, once only.
      {"autosaves", "run/autosaves.txt", "operation { width: 0.05 }\n",
       "initApplication: autosaves.txt could not be read; using the default brush, and the file is moved to "
       "autosaves.txt.bad before the first autosave\n",
       [] {
         readAutosaves();
         const std::string brush = g_autosaves.has_operation() ? "stored brush" : "default brush";
         g_timers.assign(5, platform::timeGetTime());
         for (int period = 0; period < 2; ++period) {
           platform::advanceVirtualClock(8001);
           autosaveTick();
         }
         quillax::Autosaves written;
         return brush + ", rewritten " + std::to_string(ReadProtoFromTextFile("autosaves.txt", &written));
       },
       "default brush, rewritten 1"},
  };
  for (const Reader& reader : readers) {
    const bool autosaves = std::string(reader.who) == "autosaves";
    const std::string shown = autosaves ? "autosaves.txt" : root + reader.file;
    std::string line = reader.line;
    if (line.find("<path>") != std::string::npos) line.replace(line.find("<path>"), 6, shown);
    for (size_t k = 0; k < std::size(kHostileFiles); ++k) {
      const HostileFile& hostile = kHostileFiles[k];
      SCOPED_TRACE(std::string(reader.who) + ", " + hostile.kind);
      loadSettingsQuietly();
      g_parameters.set_asset_path(root);
      const std::string path = rootPath(reader.file);
      fs::remove_all(path);
      hostile.make(path, reader.goodText);
      const std::string before = fingerprint(path);

      testing::internal::CaptureStdout();
      const std::string got = reader.load();
      const std::string out = testing::internal::GetCapturedStdout();
      EXPECT_EQ(got, reader.used);
      EXPECT_NE(out.find("ReadProtoFromTextFile " + shown + hostile.said), std::string::npos) << out;
      EXPECT_NE(out.find(line), std::string::npos) << out;
      // Moved aside whole, once, never over a name an earlier kind took.
      std::string keptAt = path;
      if (autosaves) {
        const std::string moved = "autosaves.txt.bad" + (k == 0 ? std::string() : std::to_string(k));
        EXPECT_NE(out.find("autosaveTick: autosaves.txt moved to " + moved + "\n"), std::string::npos) << out;
        keptAt = rootPath("run/" + moved);
      }
      EXPECT_EQ(fingerprint(keptAt), before);
    }
  }
}
