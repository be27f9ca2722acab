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
// the close), with its output piped to a reader that is gone or that stopped reading, in an X
// server that stopped answering, stopped and resumed as a shell's job, started with a signal
// ignored, with a stroke still being drawn, or with a record folder or file-size limit that fails
// its saves. The healthy closes leave the save command's painting and the close's two copies.
enum class Hold { None, ServerStopped, FrameWrite, CloseWrite };
enum class Output { File, PipeGone, PipeFull };
constexpr int kAsTheFilesSay = -2;  // exit 0 when a copy of the painting is on disk, else 1

// What the test does once the hold is set, each step a while after the one before.
// FailNextSync: once the save command's files are written, the next part sync of a painting
// fails as a write-back error does.
// Touch: makes the file named by the text in the asset root (a trigger of the test library).
// SeeStopped: waits until the program is stopped (by the test library, from inside).
enum class Act { Signal, StopProgram, ContinueProgram, StopServer, KillServer, Release, ReleaseSlowly, SeePrinted,
                 FailNextSync, Touch, SeeStopped };
struct Step {
  int afterMs;
  Act act;
  int signal = 0;
  const char* text = nullptr;  // SeePrinted: waits until the output holds it
};
Step sig(int signal, int afterMs) { return {afterMs, Act::Signal, signal}; }
// A held key: `count` signals, one every `everyMs`, after the steps given.
std::vector<Step> heldKey(std::vector<Step> steps, int signal, int everyMs, int count) {
  for (int k = 0; k < count; ++k) steps.push_back(sig(signal, k ? everyMs : 0));
  return steps;
}

struct RunEnd {
  const char* what;
  std::vector<Step> steps;
  Hold hold = Hold::None;
  Output output = Output::File;
  const char* recordMount = nullptr;  // a tmpfs as the record folder: "ro", or its options (a trace's close ends the run)
  long fileSizeLimit = -1;            // -1: none
  int ignoredSignal = 0;              // started with it ignored, and sent it during the start-up
  bool strokeHeld = false;            // after the save the trace draws a stroke and holds its trigger
  int exitCode = 0;                   // -1: ended by the last signal itself
  std::vector<int> strokes = {1, 1, 1};  // each painting's strokes, by count; none: not counted
  const char* printed = nullptr;      // lines each printed
  const char* absent = nullptr;       // text never printed
  // No stroke, and a first frame of seconds of work without a mark: the steps start with it.
  bool longFirstFrame = false;
  const char* preload = nullptr;      // the test library's settings; "{root}" stands for the asset root
};

void PrintTo(const RunEnd& end, std::ostream* out) { *out << end.what; }

const RunEnd kRunEnds[] = {
    // Pending together, the three are taken in whatever order the kernel gives: one closes, each
    // is answered under its own name.
    {"ABurstOfSignals",
     {sig(SIGINT, 0), sig(SIGTERM, 100), sig(SIGHUP, 100), {0, Act::SeePrinted, 0, "Interrupt: "},
      {0, Act::SeePrinted, 0, "Terminated: "}, {0, Act::SeePrinted, 0, "Hangup: "}, {0, Act::Release}},
     Hold::FrameWrite,
     Output::File, nullptr, -1, 0, false, 0, {1, 1, 1},
     ": closing, the painting is saved first\n: the painting is still being saved\n"},
    {"HangupWithThePipeReaderGone", {sig(SIGHUP, 0), sig(SIGHUP, 100)}, Hold::None, Output::PipeGone},
    {"OutputNobodyReads", {sig(SIGINT, 0)}, Hold::None, Output::PipeFull},
    {"CloseWhoseSaveFails", {sig(SIGTERM, 0)}, Hold::None, Output::File, nullptr, 0, 0, false, 1, {}},
    {"StuckServer", {sig(SIGTERM, 0), sig(SIGTERM, 3000), sig(SIGTERM, 7000)}, Hold::ServerStopped, Output::File,
     nullptr, -1, 0, false, -1, {}, "Terminated: ending at once; the painting may not have been saved\n"},
    // A stuck job stopped for longer than the bound and resumed by a shell's `kill %1`, without the
    // output helper: its stop is no time without a step, it is found stuck again, and every answer
    // reaches the output, the last included.
    {"StuckServerStoppedWithoutTheHelper",
     {{0, Act::StopProgram}, sig(SIGTERM, 6000), {0, Act::ContinueProgram}, sig(SIGTERM, 3000), sig(SIGTERM, 7000)},
     Hold::ServerStopped, Output::File, nullptr, -1, 0, false, -1, {},
     "Terminated: closing, the painting is saved first\nTerminated: ending at once; the painting may not have been saved\n",
     nullptr, false, "TRESSLET_TEST_FAIL_EVENTFD=1"},
    {"StuckServerWithAFullOutput", {sig(SIGTERM, 0), sig(SIGTERM, 7000)}, Hold::ServerStopped, Output::PipeFull,
     nullptr, -1, 0, false, -1, {}},
    {"FrameHeldByAWrite",
     {sig(SIGINT, 0), {0, Act::SeePrinted, 0, "Interrupt: closing, the painting is saved first\n"}, sig(SIGINT, 2200),
      {0, Act::SeePrinted, 0, "Interrupt: the painting is still being saved\n"}, {0, Act::Release}},
     Hold::FrameWrite, Output::File, nullptr, -1, 0, false, 0, {1, 1, 1}, "Interrupt: the painting is still being saved\n"},
    {"FrameHeldForGood", {sig(SIGINT, 0), sig(SIGINT, 10000)}, Hold::FrameWrite, Output::File, nullptr, -1, 0, false,
     -1, {}, "Interrupt: ending at once; the painting may not have been saved\n"},
    {"CloseHeldByASlowWrite", {sig(SIGINT, 0), {1000, Act::ReleaseSlowly}, sig(SIGINT, 5000)}, Hold::CloseWrite,
     Output::File, nullptr, -1, 0, false, 0, {5, 5, 5}, nullptr, "ending at once"},
    {"WindowsCloseHeldByAWrite", {sig(SIGINT, 0), sig(SIGINT, 2200), {0, Act::Release}}, Hold::CloseWrite,
     Output::File, nullptr, -1, 0, false, 0, {1, 1, 1}, "Interrupt: closing, the painting is saved first\n"},
    // Stopped just after the signals' thread sampled its wake, then `kill %1`: the stop counts
    // neither as time without a step nor as time without work.
    {"ResumedAfterAStop",
     {{0, Act::Touch, 0, "stop-at-wake"}, {0, Act::SeeStopped}, sig(SIGTERM, 6000), {0, Act::ContinueProgram}},
     Hold::None, Output::File, nullptr, -1, 0, false, 0, {1, 1, 1}, "Terminated: closing, the painting is saved first\n",
     "(working", false, "TRESSLET_TEST_STOP_AT_WAKE={root}/stop-at-wake"},
    // Stopped a second into a frame's wait off the CPU, after a second of work.
    {"ResumedAfterAStopInAFramesWait",
     {{0, Act::Touch, 0, "busy-frame"}, {0, Act::SeeStopped}, sig(SIGTERM, 6000), {0, Act::ContinueProgram}},
     Hold::None, Output::File, nullptr, -1, 0, false, 0, {1, 1, 1}, "Terminated: closing, the painting is saved first\n",
     "(working", false,
     "TRESSLET_TEST_BUSY_FRAME_MS=1000 TRESSLET_TEST_IDLE_FRAME_MS=2000 TRESSLET_TEST_STOP_IN_IDLE=1 "
     "TRESSLET_TEST_BUSY_FRAME_TRIGGER={root}/busy-frame"},
    {"HangupsIgnoredAtStart", {sig(SIGHUP, 0), sig(SIGTERM, 500)}, Hold::None, Output::File, nullptr, -1, SIGHUP,
     false, 0, {1, 1, 1}, "Terminated: closing, the painting is saved first\n", "Hangup"},
    {"StrokeBeingDrawn", {sig(SIGTERM, 0)}, Hold::None, Output::File, nullptr, -1, 0, true, 0, {1, 2, 2}},
    // A frame that works for 12 s without a step, as one that spins for good would: each answer
    // says so and names the way out.
    {"LongFirstFrame", {sig(SIGTERM, 5500), sig(SIGTERM, 1000), sig(SIGTERM, 1000)}, Hold::None, Output::File, nullptr,
     -1, 0, false, 0, {},
     "Terminated: closing, the painting is saved first (working, no step for \n"
     "Terminated: the painting is still being saved (working, no step for \n"
     " s; Ctrl-\\ ends it at once, without saving)\n",
     "ending at once", true, "TRESSLET_TEST_BUSY_FRAME_MS=12000"},
    // A held Ctrl-C through a frame that works past the bound, then waits 1.5 s off the CPU: the
    // run worked within the last seconds, so it closes and saves.
    {"WorkThenAPauseOffTheCPU",
     heldKey({{0, Act::Touch, 0, "busy-frame"}, {0, Act::SeePrinted, 0, "busy frame of "}}, SIGINT, 500, 19),
     Hold::None, Output::File, nullptr, -1, 0, false, 0, {1, 1, 1},
     "Interrupt: closing, the painting is saved first\nInterrupt: the painting is still being saved (working, no step for ",
     "ending at once", false,
     "TRESSLET_TEST_BUSY_FRAME_MS=7000 TRESSLET_TEST_IDLE_FRAME_MS=1500 TRESSLET_TEST_BUSY_FRAME_TRIGGER={root}/busy-frame"},
    {"NoFirstPaint", {sig(SIGTERM, 0)}, Hold::None, Output::File, nullptr, -1, 0, false, 0, {1, 1, 1},
     "Terminated: closing, the painting is saved first\n", nullptr, false, "TRESSLET_TEST_NO_EXPOSE=1"},
    // The close's first copy meets a write-back error; the second lands, and so the run's status is 0.
    {"FirstCopyFails", {{0, Act::FailNextSync}, sig(SIGTERM, 0)}, Hold::None, Output::File, nullptr, -1, 0, false, 0,
     {1, 1}, "was not saved (Input/output error); the painting is saved as ", nullptr, false,
     "TRESSLET_TEST_FAIL_SYNC={root}/fail-sync|/data/record/"},
    {"SignalAfterTheLastWord",
     {{0, Act::StopServer}, {100, Act::Release}, {0, Act::SeePrinted, 0, "Shutdown\n"}, sig(SIGTERM, 6000)},
     Hold::CloseWrite, Output::File, nullptr, -1, 0, false, 0, {1, 1, 1}, nullptr, "Terminated"},
    // The server goes once the close has said its last word: the close's status stands.
    {"DisplayLostAfterTheLastWord",
     {{0, Act::StopServer}, {100, Act::Release}, {0, Act::SeePrinted, 0, "Shutdown\n"}, {0, Act::KillServer}},
     Hold::CloseWrite, Output::File, nullptr, -1, 0, false, 0, {1, 1, 1}, nullptr, "the display was lost"},
    // The server goes while the close waits for a write: the close still saves, and its status
    // stands; nothing is said after its last word.
    {"DisplayLostDuringTheClose", {{0, Act::KillServer}, {500, Act::Release}}, Hold::CloseWrite, Output::File, nullptr,
     -1, 0, false, 0, {1, 1, 1}, "Shutdown\n", "the display was lost"},
    {"SmallRecordFolder", {}, Hold::None, Output::File, "size=16k", -1, 0, false, kAsTheFilesSay, {}},
    {"TinyRecordFolder", {}, Hold::None, Output::File, "size=8k", -1, 0, false, kAsTheFilesSay, {}},
    {"ReadOnlyRecordFolder", {}, Hold::None, Output::File, "ro", -1, 0, false, 1, {},
     "error in creating saving folder. \nthe painting was not saved: the folder \n(Read-only file system)\n"},
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
  // One stroke (five for a slow write: a painting that takes the writer a while), then the file
  // panel's save button (aimed as the trace guide gives it) and a trace that holds still until the
  // signals, or draws a stroke and holds its trigger; or the stroke and the trace's close.
  Script script(64);
  const int strokes = end.longFirstFrame ? 0 : end.strokes.empty() ? 1 : end.strokes.front();
  for (int k = 0; k < strokes; ++k) script.stroke(0.01f * k);
  if (end.longFirstFrame)
    script.at(1, "");
  else if (end.recordMount)
    script.at(20, "close\n");
  else
    script.moveTo(kRestHand, 85.11f, -4.75f).click().moveTo(kRestHand, 66.08f, 21.34f).click();
  if (end.strokeHeld) {
    script.moveTo(kRestHand, 85.11f, 16.26f).click();  // the brush again: the file panel has no tool
    script.moveTo(Vec3f(0.12f, 1.14f, 0.19f), 0, -30, 8).press().moveTo(Vec3f(0.14f, 0.92f, 0.20f), 0, -30, 16);
    script.at(4, "snapshot left " + rootPath("run/held.png") + "\n");
  }
  writeFile("run/program.trace", script.text());
  PrivateXServer server;
  ASSERT_TRUE(server.start());
  ProgramProcess program;
  std::string preload = end.preload ? end.preload : "";
  if (preload.find("{root}") != std::string::npos) preload.replace(preload.find("{root}"), 6, root());
  program.start(server.display(), rootPath("run/program.trace"),
                end.output == Output::File ? rootPath("program.out") : "", end.fileSizeLimit, end.ignoredSignal,
                preload);
  if (end.output == Output::PipeFull) program.fillOutput();
  auto printed = [&](const std::string& text) { return readFile("program.out").find(text) != std::string::npos; };
  if (end.ignoredSignal) {
    // In the start-up, once the context is made and before the session can be saved.
    ASSERT_TRUE(program.waitFor([&] { return printed("GL_VERSION"); }, kSafetyLimitSeconds)) << readFile("program.out");
    program.signal(end.ignoredSignal);
  }
  if (end.longFirstFrame) {
    ASSERT_TRUE(program.waitFor([&] { return printed("busy frame of "); }, kSafetyLimitSeconds))
        << readFile("program.out");
  }
  // The save command makes the run folder as it hands its save over.
  auto runFolders = [&] {
    std::vector<std::string> folders;
    std::error_code missing;
    for (const auto& entry : std::filesystem::directory_iterator(savingRoot, missing))
      if (entry.is_directory()) folders.push_back(entry.path().string());
    return folders;
  };
  if (!end.recordMount && !end.longFirstFrame) {
    ASSERT_TRUE(program.waitFor([&] { return !runFolders().empty(); }, kSafetyLimitSeconds)) << readFile("program.out");
  }
  if (end.strokeHeld) {
    ASSERT_TRUE(program.waitForPath(rootPath("run/held.png"), kSafetyLimitSeconds)) << readFile("program.out");
  }
  if (end.output == Output::PipeGone) program.closeOutput();
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
    ASSERT_TRUE(program.holdWriteTo(held, kSafetyLimitSeconds)) << readFile("program.out");
  }
  if (end.hold == Hold::CloseWrite) {
    ASSERT_TRUE(server.closeWindows());
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // the frame loop ends, the close waits
  }
  std::thread slowRelease;
  for (const Step& step : end.steps) {
    std::this_thread::sleep_for(std::chrono::milliseconds(step.afterMs));
    switch (step.act) {
      case Act::Signal: program.signal(step.signal); break;
      case Act::StopProgram: program.signal(SIGSTOP); break;
      case Act::ContinueProgram: program.signal(SIGCONT); break;
      case Act::StopServer: server.signal(SIGSTOP); break;
      case Act::KillServer: server.signal(SIGKILL); break;
      case Act::Release: ProgramProcess::releaseWrite(held); break;
      case Act::ReleaseSlowly: slowRelease = std::thread([held] { ProgramProcess::releaseWrite(held, 4096); }); break;
      case Act::SeePrinted:
        EXPECT_TRUE(program.waitFor([&] { return printed(step.text); }, kSafetyLimitSeconds))
            << step.text << "\n" << readFile("program.out");
        break;
      case Act::FailNextSync:
        ASSERT_TRUE(program.waitFor([&] { return !runFolderFiles(savingRoot, ".obj").empty(); }, kSafetyLimitSeconds))
            << readFile("program.out");
        writeFile("fail-sync", "");
        break;
      case Act::Touch: writeFile(step.text, ""); break;
      case Act::SeeStopped:
        ASSERT_TRUE(program.waitFor([&] { return program.stopped(); }, kSafetyLimitSeconds)) << readFile("program.out");
        break;
    }
  }
  int status = 0;
  // A run ended at once by its last signal is gone within about a second; the bound leaves a
  // loaded machine room to tear the process down, and still tells it from one that waits for good.
  const bool ended = program.waitForEnd(end.exitCode == -1 ? 30 : kSafetyLimitSeconds, status);
  server.signal(SIGCONT);
  if (!held.empty() && !ended) ProgramProcess::releaseWrite(held);
  if (slowRelease.joinable()) slowRelease.join();
  const std::string output = readFile("program.out");
  ASSERT_TRUE(ended) << "still running\n" << output;

  std::vector<std::string> paintings;
  std::vector<int> counts;
  for (const std::string& path : runFolderFiles(savingRoot, ".txt")) {
    if (std::filesystem::path(path).filename() == "autosaves.txt") continue;
    paintings.push_back(path);
    quillax::Painting painting;
    EXPECT_TRUE(ReadProtoFromTextFile(path.c_str(), &painting)) << path;
    counts.push_back(painting.operations_size());
  }
  std::sort(counts.begin(), counts.end());
  int exitCode = end.exitCode;
  if (exitCode == kAsTheFilesSay) {
    // Two copies were made: one on disk and the other missing is named as a copy, a missing
    // export as the export.
    exitCode = paintings.empty() ? 1 : 0;
    EXPECT_EQ(output.find("\nthe painting was not saved") == std::string::npos, !paintings.empty()) << output;
    if (paintings.size() == 1) {
      const std::string name = std::filesystem::path(paintings.front()).filename().string();
      EXPECT_NE(output.find("; the painting is saved as "), std::string::npos) << output;
      EXPECT_NE(output.find(name), std::string::npos) << output;
    }
    for (const std::string& path : paintings) {
      const std::string obj = path.substr(0, path.size() - 4) + ".obj";
      if (!std::filesystem::exists(obj)) {
        EXPECT_NE(output.find(std::filesystem::path(obj).filename().string() + " ("), std::string::npos) << output;
      }
    }
  }
  const bool asAsked = exitCode == -1 ? WIFSIGNALED(status) && WTERMSIG(status) == end.steps.back().signal
                                      : WIFEXITED(status) && WEXITSTATUS(status) == exitCode;
  EXPECT_TRUE(asAsked) << status << "\n" << output;
  std::istringstream lines(end.printed ? end.printed : "");
  for (std::string line; std::getline(lines, line);) EXPECT_NE(output.find(line), std::string::npos) << line << "\n" << output;
  if (end.absent) {
    EXPECT_EQ(output.find(end.absent), std::string::npos) << output;
  }
  if (!end.strokes.empty()) {
    EXPECT_EQ(counts, end.strokes) << output;
  }
}

INSTANTIATE_TEST_SUITE_P(Ends, RunEndGL, testing::ValuesIn(kRunEnds),
                         [](const testing::TestParamInfo<RunEnd>& info) { return info.param.what; });
