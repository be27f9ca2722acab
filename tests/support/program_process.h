#pragma once
#include <sys/types.h>

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

// The safety limit of a wait that only bounds a hang (a program's start, a run, a step it must
// reach): minutes, which a loaded machine may take, and which cost nothing when all goes well.
constexpr int kSafetyLimitSeconds = 300;

// An X server of the test's own, which the test may stop or kill. It picks a free display
// number itself, so tests running side by side (and the suite's server) never share one.
class PrivateXServer {
 public:
  ~PrivateXServer();
  // Starts it and waits until it takes connections; its display name is then display(). A name
  // that leads to another server is passed over for another.
  bool start();
  void signal(int signal) const;
  // Asks every top-level window on it to close, as a user's click on the window's close does.
  bool closeWindows() const;
  const std::string& display() const { return m_display; }

 private:
  enum class Launch { Ours, Another, Failed };
  // One server, and whether its name leads to it.
  Launch launch();
  pid_t m_pid = -1;
  int m_height = 0;  // of its screen, which tells it from other servers
  std::string m_display;
};

// build/tresslet run as a child from the working directory, on `display` (empty: the test's
// own), replaying `tracePath` (empty: no headset), everything it prints going to `outputPath`
// (empty: to a pipe that nobody reads until closeOutput closes it). A program still running when
// the object goes is killed.
class ProgramProcess {
 public:
  ~ProgramProcess();
  // fileSizeLimit >= 0: the program's RLIMIT_FSIZE in bytes. The end signals start with their
  // default action, but ignoredSignal (when not 0), which starts ignored, as `nohup` leaves it.
  // preload: "NAME=VALUE ..." settings of the test library preloaded into the program (none: not
  // preloaded), which bends a few calls as support/preload/preload.cpp says.
  void start(const std::string& display, const std::string& tracePath,
             const std::string& outputPath, long fileSizeLimit = -1, int ignoredSignal = 0,
             const std::string& preload = std::string());
  void signal(int signal) const;
  // True while the program is stopped (SIGSTOP, Ctrl-Z).
  bool stopped() const;
  // Closes the pipe's reading end, as a reader that ended does (`| tee` after the Ctrl-C).
  void closeOutput();
  // Fills the output pipe, as a reader that stopped reading leaves it (a paused pager): the
  // program's next write to it waits.
  void fillOutput();
  // True, with waitpid's status (also on later calls), when the program has ended.
  bool ended(int& status);
  // Waits at most the safety limit for the program to end; false when it runs on.
  bool waitForEnd(int limitSeconds, int& status);
  // Waits at most the safety limit for the program to make `path`; false when it ended or ran on
  // without making it.
  bool waitForPath(const std::string& path, int limitSeconds);
  // Waits at most the safety limit until ready() holds; false when the program ended first.
  bool waitFor(const std::function<bool()>& ready, int limitSeconds);
  // Holds the program's next write to `path` in a named pipe put there (again, should a save
  // replace it): true once one of its threads waits to open it, within the safety limit.
  bool holdWriteTo(const std::string& path, int limitSeconds);
  // Lets the held write go: the pipe is read to its end (blockBytes > 0: that many bytes a second,
  // as a slow disk takes them) and its path removed, so later writes make a file.
  static void releaseWrite(const std::string& path, size_t blockBytes = 0);

 private:
  pid_t m_pid = -1;
  int m_pipe = -1;    // the output pipe's reading end
  int m_status = 0;   // waitpid's, once the program has ended
};

// Fills the pipe that `end` (either end) belongs to, as a reader that stopped reading leaves it;
// how many bytes that took.
size_t fillPipe(int end);

// The files under the run folders of savingRoot whose name ends in `extension`, by name; none
// while there is no run folder.
std::vector<std::string> runFolderFiles(const std::string& savingRoot, const std::string& extension);
