#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "core/text_file.h"
#include "quillax.pb.h"
#include "support/app_trace.h"
#include "support/asset_root.h"

namespace {

// An X server of the test's own, which the test may stop or kill. It picks a free display
// number itself, so tests running side by side (and the suite's server) never share one.
class PrivateXServer {
 public:
  ~PrivateXServer() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGCONT);
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  // Starts it and waits until it takes connections; its display name is then display().
  bool start() {
    int fds[2];
    if (::pipe(fds) != 0) return false;
    // The child of a threaded process may not allocate: everything is made before the fork.
    const std::string fd = std::to_string(fds[1]);
    m_pid = ::fork();
    if (m_pid == 0) {
      ::close(fds[0]);
      const int null = ::open("/dev/null", O_WRONLY);
      ::dup2(null, 1);
      ::dup2(null, 2);
      ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "640x480x24", "-nolisten",
               "tcp", static_cast<char*>(nullptr));
      ::_exit(127);
    }
    ::close(fds[1]);
    std::string number;
    pollfd ready = {fds[0], POLLIN, 0};
    char c = 0;
    while (m_pid > 0 && ::poll(&ready, 1, 20000) == 1 && ::read(fds[0], &c, 1) == 1 && c != '\n')
      number += c;
    ::close(fds[0]);
    m_display = ":" + number;
    return c == '\n' && !number.empty();
  }
  void signal(int signal) const { ::kill(m_pid, signal); }
  const std::string& display() const { return m_display; }

 private:
  pid_t m_pid = -1;
  std::string m_display;
};

// The program run on `display` from the working directory, replaying `tracePath` (none: no
// headset), everything it prints going to `outputPath`.
class ProgramProcess {
 public:
  ~ProgramProcess() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  void start(const std::string& display, const std::string& tracePath,
             const std::string& outputPath) {
    // The child of a threaded process may not allocate: everything is made before the fork.
    std::vector<std::string> words = {"env", "-u", "TRESSLET_VR_TRACE", "DISPLAY=" + display};
    if (!tracePath.empty()) words.push_back("TRESSLET_VR_TRACE=" + tracePath);
    words.push_back(TRESSLET_BINARY);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    m_pid = ::fork();
    if (m_pid != 0) return;
    const int out = ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    ::execvp("env", argv.data());
    ::_exit(127);
  }
  // True, with waitpid's status, when the program has ended.
  bool ended(int& status) {
    if (m_pid > 0 && ::waitpid(m_pid, &status, WNOHANG) == m_pid) m_pid = -1;
    return m_pid <= 0;
  }
  // Waits at most the safety limit for the program to end; false when it runs on (it is killed
  // with this object).
  bool waitForEnd(int limitSeconds, int& status) {
    for (int waited = 0; !ended(status); ++waited) {
      if (waited >= limitSeconds * 50) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
  }

 private:
  pid_t m_pid = -1;
};

// The files under the one run folder of savingRoot whose name ends in `extension`, by name;
// none while there is no run folder.
std::vector<std::string> runFiles(const std::string& savingRoot, const std::string& extension) {
  std::vector<std::string> files;
  std::error_code missing;
  for (const auto& run : std::filesystem::directory_iterator(savingRoot, missing))
    for (const auto& entry : std::filesystem::directory_iterator(run.path(), missing))
      if (entry.path().extension() == extension) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}

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
// session's work is saved beside it and named, and the program ends once, without a crash.
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
  int status = 0;
  for (int waited = 0; waited < 6000 && !std::filesystem::exists(savingRoot); ++waited) {
    if (program.ended(status)) FAIL() << "ended early\n" << readFile("program.out");
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ASSERT_TRUE(std::filesystem::exists(savingRoot)) << readFile("program.out");
  server.signal(SIGKILL);
  ASSERT_TRUE(program.waitForEnd(60, status)) << "still running\n" << readFile("program.out");
  const std::string output = readFile("program.out");
  ASSERT_TRUE(WIFEXITED(status)) << "signal " << WTERMSIG(status) << "\n" << output;
  EXPECT_NE(WEXITSTATUS(status), 0);

  EXPECT_EQ(count(output, "the display was lost"), 1u) << output;
  const std::vector<std::string> paintings = runFiles(savingRoot, ".txt");
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
  for (const std::string& file : paintings) {
    quillax::Painting painting;
    ASSERT_TRUE(ReadProtoFromTextFile(file.c_str(), &painting)) << file;
    EXPECT_EQ(painting.operations_size(), 1) << file;
    EXPECT_TRUE(std::filesystem::exists(file.substr(0, file.size() - 4) + ".obj")) << file;
  }
}
