#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sstream>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/text_file.h"
#include "quillax.pb.h"
#include "support/app_trace.h"
#include "support/asset_root.h"
#include "support/program_process.h"

namespace {

using ProgramRunGL = WholeProgramGL;

// `output` holds each of the texts in `printed` and none of those in `absent`.
void expectPrinted(const std::string& output, const std::vector<std::string>& printed,
                   const std::vector<std::string>& absent) {
  for (const std::string& text : printed) EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
  for (const std::string& text : absent) EXPECT_EQ(output.find(text), std::string::npos) << text << "\n" << output;
}

}  // namespace

TEST_F(ProgramRunGL, WithoutADisplayItSaysSoOnceAndExitsWithAFailure) {
  EXPECT_EQ(runTresslet("-u TRESSLET_VR_TRACE -u DISPLAY", m_output), 1) << m_output;
  expectPrinted(m_output, {"Unable to open the X display\n"},
                {"Error initializing GLEW", "openVR context initialization fail"});
}

TEST_F(ProgramRunGL, TheShippedTraceSnapshotsTheLeftEyeAndClosesThroughTheShutdown) {
  copyAsset("traces/tiny.trace");  // snapshots at frame 29, closes at 30
  EXPECT_EQ(runOnTrace(readFile("traces/tiny.trace")), 0) << m_output;
  expectPrinted(m_output, {"Shutdown\n"}, {"initialization fail", "X error"});
  EXPECT_EQ(cv::imread(rootPath("run/snapshot_left.png"), cv::IMREAD_COLOR).size(), cv::Size(64, 48));
}

// Two instances started together in one asset root each save into a run folder of their own:
// the shutdown's save and the controller's own, each a painting and its OBJ.
TEST_F(ProgramRunGL, TwoSessionsOfThreeStrokesAtOnceLeaveTheirPaintingsAndObjsInRunFoldersOfTheirOwn) {
  copyShippedAssets();
  writeFile("data/.keep", "");
  // The brush of the last run: hair texture 1.
  writeFile("run/autosaves.txt", "operation {\n  texture: 1\n  width: 0.01\n  color { red: 0.6 green: 0.4 blue: 0.2 }\n}\n");
  const std::string environment = traceEnvironment(threeStrokeTrace(true, 64) + "@40\nclose\n");
  std::string outputs[2];
  int codes[2] = {-1, -1};
  std::thread other([&] { codes[1] = runTresslet(environment, outputs[1]); });
  codes[0] = runTresslet(environment, outputs[0]);
  other.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(codes[i], 0) << outputs[i];
    expectPrinted(outputs[i], {"Shutdown\n"}, {"initialization fail", "error in creating", "Failed to open file"});
  }

  std::vector<std::string> runs;
  for (const auto& entry : std::filesystem::directory_iterator(rootPath("data/record")))
    runs.push_back(entry.path().string());
  ASSERT_EQ(runs.size(), 2u);
  for (const std::string& run : runs) {
    std::vector<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(run)) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    ASSERT_EQ(files.size(), 4u) << run;
    for (size_t i = 0; i < 4; i += 2) {
      ASSERT_EQ(files[i].substr(files[i].size() - 4), ".obj");
      ASSERT_EQ(files[i + 1], files[i].substr(0, files[i].size() - 4) + ".txt");
      quillax::Painting painting;
      ASSERT_TRUE(ReadProtoFromTextFile(files[i + 1].c_str(), &painting));
      EXPECT_EQ(painting.operations_size(), 3);
      const std::string obj = readFile(files[i].substr(root().size()));
      EXPECT_EQ(obj.rfind("g stroke_0_type1\n", 0), 0u);
      EXPECT_NE(obj.find("\ng stroke_2_type1\n"), std::string::npos);
    }
  }
}

// Without a headset the program reports the VR failure and runs no frame: the shutdown that saves
// is skipped and the settings are written. Sizes X or GL cannot take come down, each named (a
// 65536 window used to never show and a start that waited for good); temporaries of ended saves
// go, those of a running process stay.
TEST_F(ProgramRunGL, WithoutAHeadsetItReportsTheVRFailureEvenWithSizesNoDisplayTakes) {
  const std::vector<std::string> printed = {"GL_VERSION=4.5", "openVR context initialization fail. /n"};
  EXPECT_EQ(runTresslet("-u TRESSLET_VR_TRACE", m_output), 0) << m_output;
  expectPrinted(m_output, printed, {"Error initializing GLEW"});
  EXPECT_EQ(readFile("run/autosaves.txt"), "");
  EXPECT_NE(readFile("parameters.txt").find("window_width: 1920"), std::string::npos);

  const std::string window = "window_width: 65536\nwindow_height: 600\n";
  writeFile("parameters.txt", window + "capture_image_width: 2147483647\ncapture_image_height: 8\n");
  writeFile("cameras.txt", "camera { name: 'c' image_width: 2147483647 image_height: 8 camera_width: 0.2 "
                           "camera_near: -1 camera_far: 2 }\n");
  const std::string stale = ".~p.txt.999999999.0.tmp", live = ".~p.txt." + std::to_string(getpid()) + ".0.tmp";
  for (const std::string folder : {"", "run/", "data/record/1/"}) {
    writeFile(folder + stale, "x");
    writeFile(folder + live, "x");
  }
  m_output.clear();
  EXPECT_EQ(runTresslet("-u TRESSLET_VR_TRACE", m_output), 0) << m_output;
  expectPrinted(m_output,
                {printed[0], printed[1], "parameters.txt: window_width 65536 is out of range, using 16384",
                 "capture_image_width 2147483647 is out of range, using 16384", "camera c: image_width 2147483647",
                 "camera c: camera_near -1"},
                {"Error initializing GLEW", "X error"});
  EXPECT_EQ(readFile("parameters.txt").rfind(window, 0), 0u);
  for (const std::string folder : {"", "run/", "data/record/1/"}) {
    EXPECT_FALSE(std::filesystem::exists(rootPath(folder + stale))) << folder;
    EXPECT_TRUE(std::filesystem::exists(rootPath(folder + live))) << folder;
  }
}

namespace {

// How a running session ends: by signals (a burst, or slow ones while a write holds the frame or
// the close), with its output piped to a reader that is gone, in an X server that stopped
// answering, or with a record folder or file-size limit that fails its saves. The healthy closes
// leave the save command's painting and the close's two copies, each holding the stroke.
enum class Hold { None, ServerStopped, FrameWrite, CloseWrite };
constexpr int kAsTheFilesSay = -2;  // exit 0 when a copy of the painting is on disk, else 1

struct RunEnd {
  const char* what;
  std::vector<std::pair<int, int>> signals;  // each signal with its time after the first, in ms
  Hold hold;
  bool readerGone;         // the output's pipe is closed before the first signal
  const char* recordMount;  // a tmpfs as the record folder: "ro", or its options (a trace's close ends the run)
  long fileSizeLimit;       // -1: none
  int exitCode;             // -1: ended by the last signal itself
  int paintings;            // -1: not counted
  const char* printed;      // lines each printed
};

void PrintTo(const RunEnd& end, std::ostream* out) { *out << end.what; }

const RunEnd kRunEnds[] = {
    {"ABurstOfSignals", {{SIGINT, 0}, {SIGTERM, 100}, {SIGHUP, 200}}, Hold::FrameWrite, false, nullptr, -1, 0, 3,
     "Interrupt: closing, the painting is saved first\nHangup: the painting is still being saved\n"},
    {"HangupWithThePipeReaderGone", {{SIGHUP, 0}, {SIGHUP, 100}}, Hold::None, true, nullptr, -1, 0, 3, nullptr},
    {"CloseWhoseSaveFails", {{SIGTERM, 0}}, Hold::None, false, nullptr, 0, 1, 0, nullptr},
    {"StuckServer", {{SIGTERM, 0}, {SIGTERM, 3000}, {SIGTERM, 10000}}, Hold::ServerStopped, false, nullptr, -1, -1,
     -1, "Terminated: ending at once; the painting may not have been saved\n"},
    {"FrameHeldByAWrite", {{SIGINT, 0}, {SIGINT, 2200}}, Hold::FrameWrite, false, nullptr, -1, 0, 3,
     "Interrupt: the painting is still being saved\n"},
    {"WindowsCloseHeldByAWrite", {{SIGINT, 0}, {SIGINT, 2200}}, Hold::CloseWrite, false, nullptr, -1, 0, 3,
     "Interrupt: closing, the painting is saved first\n"},
    {"SmallRecordFolder", {}, Hold::None, false, "size=16k", -1, kAsTheFilesSay, -1, nullptr},
    {"ReadOnlyRecordFolder", {}, Hold::None, false, "ro", -1, 1, 0,
     "error in creating saving folder. \nthe painting was not saved: the folder "},
};

}  // namespace

class RunEndGL : public WholeProgramGL, public testing::WithParamInterface<RunEnd> {};

TEST_P(RunEndGL, EndsAsTheUserAsked) {
  const RunEnd& end = GetParam();
  // No head, a small window and eyes without multisampling: the same session, a fraction of
  // the drawing.
  for (const char* asset : {"parameters.txt", "shaders", "textures"}) copyAsset(asset);
  std::string settings = readFile("parameters.txt");
  // The project autosave every second (of the trace's clock) when the writer is to be held.
  if (end.hold == Hold::CloseWrite) settings.replace(settings.find("period: 180"), 11, "period: 1");
  writeFile("parameters.txt",
            "window_width: 320\nwindow_height: 240\nmultisample_size: 1\n" +
                settings.substr(settings.find('\n', settings.find("multisample_size")) + 1));
  writeFile("data/.keep", "");
  writeFile("run/autosaves.txt", "operation {\n  texture: 1\n  width: 0.01\n}\n");  // a hair brush
  const std::string savingRoot = rootPath("data/record");
  std::shared_ptr<void> unmount;
  if (end.recordMount) {
    std::filesystem::create_directories(savingRoot);
    const bool readOnly = std::string(end.recordMount) == "ro";
    if (::mount("tmpfs", savingRoot.c_str(), "tmpfs", readOnly ? MS_RDONLY : 0, readOnly ? nullptr : end.recordMount))
      GTEST_SKIP() << "no tmpfs can be mounted here";
    unmount.reset(static_cast<void*>(nullptr), [savingRoot](void*) { ::umount2(savingRoot.c_str(), MNT_DETACH); });
  }
  // One stroke, then the file panel's save button (aimed as the trace guide gives it) and a trace
  // that holds still until the signals; or the stroke and the trace's close.
  Script script(64);
  script.stroke(0.0f);
  if (end.recordMount)
    script.at(20, "close\n");
  else
    script.moveTo(kRestHand, 85.11f, -4.75f).click().moveTo(kRestHand, 66.08f, 21.34f).click();
  writeFile("run/program.trace", script.text());
  PrivateXServer server;
  ASSERT_TRUE(server.start());
  ProgramProcess program;
  program.start(server.display(), rootPath("run/program.trace"), end.readerGone ? "" : rootPath("program.out"),
                end.fileSizeLimit);
  // The save command makes the run folder as it hands its save over.
  auto runFolders = [&] {
    std::vector<std::string> folders;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(savingRoot, missing))
      if (entry.is_directory()) folders.push_back(entry.path().string());
    return folders;
  };
  if (!end.recordMount) {
    ASSERT_TRUE(program.waitFor([&] { return !runFolders().empty(); }, 60)) << readFile("program.out");
  }
  program.closeOutput();
  std::string held;
  if (end.hold == Hold::ServerStopped) {
    server.signal(SIGSTOP);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the frame meets it
  } else if (end.hold == Hold::FrameWrite) {
    held = rootPath("run/autosaves.txt");  // the brush state, written by the frame
  } else if (end.hold == Hold::CloseWrite) {
    held = runFolders().front() + "/autosaves.txt";  // the project autosave, by the writer
  }
  if (!held.empty()) {
    ASSERT_TRUE(program.holdWriteTo(held, 60)) << readFile("program.out");
  }
  if (end.hold == Hold::CloseWrite) {
    ASSERT_TRUE(server.closeWindows());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the frame loop ends, the close waits
  }
  const auto first = std::chrono::steady_clock::now();
  for (const auto& [signal, atMs] : end.signals) {
    std::this_thread::sleep_until(first + std::chrono::milliseconds(atMs));
    program.signal(signal);
  }
  if (!held.empty()) ProgramProcess::releaseWrite(held);
  int status = 0;
  const bool ended = program.waitForEnd(end.exitCode == -1 ? 10 : 120, status);
  server.signal(SIGCONT);
  const std::string output = readFile("program.out");
  ASSERT_TRUE(ended) << "still running\n" << output;

  std::vector<std::string> paintings;
  for (const std::string& path : runFolderFiles(savingRoot, ".txt")) {
    if (std::filesystem::path(path).filename() == "autosaves.txt") continue;
    paintings.push_back(path);
    quillax::Painting painting;
    EXPECT_TRUE(ReadProtoFromTextFile(path.c_str(), &painting) && painting.operations_size() == 1) << path;
  }
  int exitCode = end.exitCode;
  if (exitCode == kAsTheFilesSay) {
    // Two copies were made: one on disk and the other missing is named as a copy.
    exitCode = paintings.empty() ? 1 : 0;
    EXPECT_EQ(output.find("\nthe painting was not saved") == std::string::npos, !paintings.empty()) << output;
    if (paintings.size() == 1) {
      const std::string name = std::filesystem::path(paintings.front()).filename().string();
      EXPECT_NE(output.find("; the painting is saved as "), std::string::npos) << output;
      EXPECT_NE(output.find(name + "\n"), std::string::npos) << output;
    }
  }
  const bool asAsked = exitCode == -1 ? WIFSIGNALED(status) && WTERMSIG(status) == end.signals.back().first
                                      : WIFEXITED(status) && WEXITSTATUS(status) == exitCode;
  EXPECT_TRUE(asAsked) << status << "\n" << output;
  std::istringstream lines(end.printed ? end.printed : "");
  for (std::string line; std::getline(lines, line);) EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
  EXPECT_TRUE(end.paintings < 0 || paintings.size() == static_cast<size_t>(end.paintings)) << output;
}

INSTANTIATE_TEST_SUITE_P(Ends, RunEndGL, testing::ValuesIn(kRunEnds),
                         [](const testing::TestParamInfo<RunEnd>& info) { return info.param.what; });
