#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>

#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/text_file.h"
#include "quillax.pb.h"
#include "support/app_trace.h"
#include "support/asset_root.h"
#include "support/program_process.h"

namespace {

size_t count(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

}  // namespace

using StalledDisplayGL = WholeProgramGL;

// A server that stops answering before the window shows: the start gives up after its minute of
// silence and the program ends with a failure, leaving its window thread stuck in the server.
TEST_F(StalledDisplayGL, AStoppedXServerEndsTheStartWithAFailure) {
  copyShippedAssets();
  PrivateXServer server;
  ASSERT_TRUE(server.start());
  server.signal(SIGSTOP);
  ProgramProcess program;
  program.start(server.display(), std::string(), rootPath("program.out"));
  int status = 0;
  const bool ended = program.waitForEnd(150, status);
  server.signal(SIGCONT);
  ASSERT_TRUE(ended) << "still running\n" << readFile("program.out");
  ASSERT_TRUE(WIFEXITED(status)) << readFile("program.out");
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_NE(readFile("program.out").find("The window system did not answer for 60 s"),
            std::string::npos)
      << readFile("program.out");
}

using DisplayLossGL = AppTraceGL;

// The server ends while a session runs, a save just handed to the writer: that save lands, the
// session's work is saved beside it and named (also in "autosaves.txt"), and the program ends
// once, without a crash.
TEST_F(DisplayLossGL, AKilledXServerLeavesEverySaveAndTheSessionsPainting) {
  writeFile("data/.keep", "");
  // A small window: the frames come quicker.
  const std::string shipped = "window_width: 1920\nwindow_height: 1080\n";
  std::string settings = readFile("parameters.txt");
  settings.replace(settings.find(shipped), shipped.size(),
                   "window_width: 320\nwindow_height: 240\n");
  writeFile("parameters.txt", settings);
  // The aims come from the menu that start-up builds, here as in the program.
  std::string trace;
  start(nullptr, [&] {
    Script script;
    script.aim("materialTool").click().aim("textureHairDense").click();  // pen strokes are not kept
    script.stroke(0.0f).aim("fileButton").click().aim("saveButton").click();
    trace = script.text();  // no close: the run goes on until the server goes
    return trace;
  });
  stop();
  writeFile("run/program.trace", trace);

  PrivateXServer server;
  ASSERT_TRUE(server.start());
  ProgramProcess program;
  program.start(server.display(), rootPath("run/program.trace"), rootPath("program.out"));
  // The run folder is made as the save command hands the save over.
  const std::string savingRoot = rootPath("data/record");
  ASSERT_TRUE(program.waitForPath(savingRoot, kSafetyLimitSeconds)) << readFile("program.out");
  server.signal(SIGKILL);
  int status = 0;
  ASSERT_TRUE(program.waitForEnd(kSafetyLimitSeconds, status)) << "still running\n" << readFile("program.out");
  const std::string output = readFile("program.out");
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << "\n" << output;
  EXPECT_NE(WEXITSTATUS(status), 0);

  EXPECT_EQ(count(output, "the display was lost"), 1u) << output;
  const std::vector<std::string> paintings = runFolderFiles(savingRoot, ".txt");
  ASSERT_EQ(paintings.size(), 2u) << "the save command's and the session's\n" << output;
  const std::string line = "the display was lost; the painting was saved as ";
  const size_t named = output.find(line);
  ASSERT_NE(named, std::string::npos) << output;
  const size_t from = named + line.size();
  const std::string path = output.substr(from, output.find('\n', from) - from);
  std::error_code missing;
  EXPECT_TRUE(std::filesystem::equivalent(path, paintings[0], missing) ||
              std::filesystem::equivalent(path, paintings[1], missing))
      << path;
  // The next start finds it named, as after a close.
  quillax::Autosaves autosaves;
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("run/autosaves.txt").c_str(), &autosaves)) << output;
  EXPECT_TRUE(std::filesystem::equivalent(autosaves.last_save_file(), path, missing))
      << autosaves.last_save_file();
  for (const std::string& file : paintings) {
    quillax::Painting painting;
    ASSERT_TRUE(ReadProtoFromTextFile(file.c_str(), &painting)) << file;
    EXPECT_EQ(painting.operations_size(), 1) << file;
    EXPECT_TRUE(std::filesystem::exists(file.substr(0, file.size() - 4) + ".obj")) << file;
  }
}
