// Painting files at the size of a long session (2,000 hair strokes of 100 points, texture 1,
// curvature 2; some at 5,000), side by side with what the same bytes cost bare:
// - the OBJ export on every core against itself on one (goal: at most 0.4 on 8 cores, the same
//   bytes), and against to_chars on the same numbers written with one call on one core;
// - saving and loading against protobuf's bare text Print and Parse of the same bytes, with
//   building the strokes and their samples shown apart;
// - what an autosave and a menu save hold the frame for, the writing being off the frame
//   (goal: the autosave at most 0.01 of the bare print).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <google/protobuf/text_format.h>
#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_support.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/system.h"
#include "quillax.pb.h"
#include "render/sample_grid.h"
#include "core/events.h"
#include "strokes/buffer_undoer.h"
#include "strokes/interactor.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "strokes/painting_files.h"
#include "strokes/sample.h"

namespace {

constexpr int kStrokes = 2000;
constexpr int kPoints = 100;

// The tool controller with the session's strokes in the brush's history (no GL buffers; the
// sample grid of a head-sized box), saving under a throw-away root.
struct Session {
  std::string folder;
  EGrider grid{"bench"};
  GridSampleLink<EGrider> link{&grid};
  Operator controller;
  Interactor* brush = nullptr;
  quillax::Painting painting;
  std::string text;

  explicit Session(int count) {
    setBrushState();
    g_parameters.set_sampling_space(3);
    char pattern[] = "/tmp/tresslet-bench-XXXXXX";
    folder = mkdtemp(pattern);
    g_parameters.set_asset_path(folder + "/");
    g_parameters.set_project_to_save("record");
    grid.setGrid(Vec3f(-0.4f, 1.0f, -0.4f), Vec3f(0.4f, 1.9f, 0.4f), Vec<3, int16_t>(40, 45, 40));
    controller.createTools(false);
    brush = controller.getTool(TOOL_BRUSH);
    brush->m_sampleGrid = &link;
    g_operator = &controller;
    std::vector<Operatable*> strokes;
    for (quillax::Operation& op : paintedStrokes(count, kPoints)) {
      op.set_curvature(2);
      *op.mutable_color() = g_currentColor;
      strokes.push_back(new Operatable(new quillax::Operation(std::move(op))));
    }
    brush->pushList(strokes, false);
    controller.fillPainting(&painting);
    google::protobuf::TextFormat::PrintToString(painting, &text);
    const int fd = open(path("painting.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) std::abort();
    close(fd);
  }
  ~Session() {
    controller.reset();  // nothing for its destructor to save
    g_operator = nullptr;
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
  }
  std::string path(const char* name) const { return folder + "/" + name; }
  static std::string readAll(const std::string& file) {
    std::string out;
    if (FILE* f = std::fopen(file.c_str(), "rb")) {
      char buffer[1 << 16];
      for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;) out.append(buffer, n);
      std::fclose(f);
    }
    return out;
  }
  std::vector<Operatable*> strokes() const { return brush->m_history; }
};

// One session per painting size, made at first use; asking for one makes it the controller
// that saves and the root it saves under.
Session& session(int strokes = kStrokes) {
  static std::map<int, std::unique_ptr<Session>> s_sessions;
  std::unique_ptr<Session>& s = s_sessions[strokes];
  if (!s) s = std::make_unique<Session>(strokes);
  g_operator = &s->controller;
  g_parameters.set_asset_path(s->folder + "/");
  return *s;
}

// The export on `threads` formatting threads; 0 is every core.
void BM_ObjExport(benchmark::State& state) {
  Session& s = session();
  const unsigned threads = static_cast<unsigned>(state.range(0));
  const std::string path = s.path("export.obj");
  for (auto _ : state) {
    if (!writeStrokesObj(s.strokes(), path, threads)) state.SkipWithError("export failed");
  }
  const std::string written = Session::readAll(path);
  if (!writeStrokesObj(s.strokes(), path, 1) || Session::readAll(path) != written)
    state.SkipWithError("not the bytes of one thread");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(written.size()));
}
BENCHMARK(BM_ObjExport)->ArgName("threads")->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond);

// The same numbers (the ribbons built once beforehand) formatted with to_chars into one string
// and written with one call: the floor for the export.
void BM_ObjBaseline(benchmark::State& state) {
  Session& s = session();
  const bool flags[7] = {true, true, true, false, false, true, false};
  const std::vector<Operatable*> strokes = s.strokes();
  std::vector<std::vector<float>> vertices(strokes.size());
  std::vector<std::vector<uint32_t>> faces(strokes.size());
  uint32_t base = 0;
  for (size_t i = 0; i < vertices.size(); ++i) {
    const int floats = strokes[i]->buildStrandGeometry(vertices[i], 0, ~0u, flags);
    vertices[i].resize(static_cast<size_t>(floats));
    const int count = strokes[i]->fillIndexBuffer(faces[i], 0, ~0u, base + 1, true);
    faces[i].resize(static_cast<size_t>(count));
    base += static_cast<uint32_t>(floats / 11);
  }
  const std::string path = s.path("baseline.obj");
  std::string text;
  for (auto _ : state) {
    text.clear();
    char digits[64];
    auto number = [&](float v) {
      text.append(digits, std::to_chars(digits, digits + 64, static_cast<double>(v), std::chars_format::fixed, 6).ptr);
    };
    auto index = [&](uint32_t v) { text.append(digits, std::to_chars(digits, digits + 64, v).ptr); };
    for (size_t i = 0; i < vertices.size(); ++i) {
      text += "g stroke_";
      index(static_cast<uint32_t>(i));
      text += "_type1\n";
      const std::vector<float>& v = vertices[i];
      for (size_t k = 0; k < v.size(); k += 11) {
        text += "v ";
        for (size_t j : {0, 1, 2, 8, 9, 10}) {
          number(v[k + j]);
          text += j == 10 ? "\n" : " ";
        }
        text += "vn ";
        for (size_t j : {5, 6, 7}) {
          number(v[k + j]);
          text += j == 7 ? "\n" : " ";
        }
        text += "vt ";
        number(v[k + 3]);
        text += " ";
        number(v[k + 4]);
        text += "\n";
      }
      for (size_t k = 0; k < faces[i].size(); k += 4) {
        text += "f";
        for (size_t c = 0; c < 4; ++c)
          for (int r = 0; r < 3; ++r) {
            text += r == 0 ? " " : "/";
            index(faces[i][k + c]);
          }
        text += "\n";
      }
    }
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()))
      state.SkipWithError("write failed");
    if (fd >= 0) close(fd);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ObjBaseline)->Unit(benchmark::kMillisecond);

void BM_PaintingPrintBare(benchmark::State& state) {
  Session& s = session(static_cast<int>(state.range(0)));
  std::string text;
  for (auto _ : state) {
    text.clear();
    google::protobuf::TextFormat::PrintToString(s.painting, &text);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.text.size()));
}
BENCHMARK(BM_PaintingPrintBare)->Arg(kStrokes)->Arg(5000)->Unit(benchmark::kMillisecond);

void BM_PaintingParseBare(benchmark::State& state) {
  Session& s = session();
  for (auto _ : state) {
    quillax::Painting painting;
    if (!google::protobuf::TextFormat::ParseFromString(s.text, &painting)) state.SkipWithError("parse failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.text.size()));
}
BENCHMARK(BM_PaintingParseBare)->Unit(benchmark::kMillisecond);

// Parsing and building the strokes (defaults, frames, samples), without the history: against
// the bare parse, the strokes' share of a load.
void BM_PaintingParseAndBuildStrokes(benchmark::State& state) {
  Session& s = session();
  for (auto _ : state) {
    PaintingStrokes read;
    if (!parsePaintingStrokes(s.text, false, &read)) state.SkipWithError("parse failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.text.size()));
}
BENCHMARK(BM_PaintingParseAndBuildStrokes)->Unit(benchmark::kMillisecond);

// The painting text of a save: the stored work gathered (every stroke copied out of its
// history) and written as a whole-file replacement; against the bare print above.
void BM_SavePaintingText(benchmark::State& state) {
  Session& s = session();
  const std::string path = s.path("saved.txt");
  for (auto _ : state) {
    quillax::Painting painting;
    s.controller.fillPainting(&painting);
    if (!WriteProtoToTextFile(painting, path.c_str())) state.SkipWithError("write failed");
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.text.size()));
}
BENCHMARK(BM_SavePaintingText)->Unit(benchmark::kMillisecond);

// A whole save: the painting text and the OBJ.
void BM_SavePainting(benchmark::State& state) {
  Session& s = session();
  const std::string base = s.path("saved");
  for (auto _ : state) {
    if (!s.controller.savePainting(base)) state.SkipWithError("save failed");
  }
  clearEvents();
}
BENCHMARK(BM_SavePainting)->Unit(benchmark::kMillisecond);

// The strokes' share of a load on their own: each stored operation made a stroke (defaults,
// frames, samples) and the whole list added to an empty brush with its sample grid.
void BM_BuildStrokesIntoTheBrush(benchmark::State& state) {
  Session& s = session();
  Interactor brush(1);
  EGrider grid("build");
  GridSampleLink<EGrider> link(&grid);
  grid.setGrid(Vec3f(-0.4f, 1.0f, -0.4f), Vec3f(0.4f, 1.9f, 0.4f), Vec<3, int16_t>(40, 45, 40));
  brush.m_sampleGrid = &link;
  for (auto _ : state) {
    std::vector<Operatable*> strokes;
    strokes.reserve(static_cast<size_t>(s.painting.operations_size()));
    for (const quillax::Operation& op : s.painting.operations()) strokes.push_back(new Operatable(new quillax::Operation(op)));
    brush.pushList(strokes, false);
    state.PauseTiming();
    brush.reset();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_BuildStrokesIntoTheBrush)->Unit(benchmark::kMillisecond);

// A whole load into an empty brush: read, parse, build the strokes with their frames and
// samples, add them to the history and the sample grid. The reset that empties the brush again
// is not timed.
void BM_LoadPainting(benchmark::State& state) {
  Session& s = session();
  Operator target;
  target.createTools(false);
  EGrider grid("load");
  GridSampleLink<EGrider> link(&grid);
  grid.setGrid(Vec3f(-0.4f, 1.0f, -0.4f), Vec3f(0.4f, 1.9f, 0.4f), Vec<3, int16_t>(40, 45, 40));
  target.getTool(TOOL_BRUSH)->m_sampleGrid = &link;
  for (auto _ : state) {
    if (!target.loadPainting(s.path("painting.txt"), false)) state.SkipWithError("load failed");
    state.PauseTiming();
    target.reset();
    state.ResumeTiming();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(s.text.size()));
}
BENCHMARK(BM_LoadPainting)->Unit(benchmark::kMillisecond);

// The periodic autosave whole: handed over, printed, written and synced.
void BM_Autosave(benchmark::State& state) {
  Session& s = session();
  if (!s.controller.savePainting("")) state.SkipWithError("no run folder");
  clearEvents();
  for (auto _ : state) {
    if (!Operator::autosave()) state.SkipWithError("autosave skipped");
    s.controller.waitForSaves();
  }
}
BENCHMARK(BM_Autosave)->Unit(benchmark::kMillisecond);

// What one periodic autosave holds the frame for: the painting filled and handed to the
// writer, whose work is left out of the time (and bounds the iterations: seconds each).
void BM_AutosaveFrame(benchmark::State& state) {
  Session& s = session(static_cast<int>(state.range(0)));
  if (!s.controller.savePainting("")) state.SkipWithError("no run folder");
  clearEvents();
  for (auto _ : state) {
    if (!Operator::autosave()) state.SkipWithError("autosave skipped");
    state.PauseTiming();
    s.controller.waitForSaves();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_AutosaveFrame)->Arg(kStrokes)->Arg(5000)->Iterations(10)->Unit(benchmark::kMillisecond);

// What the menu's save command holds the frame for: the painting filled, the folders made and
// the ribbons copied out (on every core) for the writer, whose work is left out of the time.
void BM_MenuSaveFrame(benchmark::State& state) {
  Session& s = session(static_cast<int>(state.range(0)));
  const std::string base = s.path("menu");
  for (auto _ : state) {
    if (s.controller.saveInBackground(base) != Operator::SaveResult::Saved) state.SkipWithError("save failed");
    state.PauseTiming();
    s.controller.waitForSaves();
    clearEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_MenuSaveFrame)->Arg(kStrokes)->Arg(5000)->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
