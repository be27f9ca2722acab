#include "support/program_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <system_error>
#include <thread>

namespace {

// Narrower than the suite's server (1280 x 1024).
constexpr int kWidth = 640;

void endServer(pid_t pid) {
  ::kill(pid, SIGCONT);
  ::kill(pid, SIGKILL);
  ::waitpid(pid, nullptr, 0);
}

}  // namespace

PrivateXServer::~PrivateXServer() {
  if (m_pid > 0) endServer(m_pid);
}

bool PrivateXServer::start() {
  // A server passed over runs on until the end, so that the next one gets another number.
  std::vector<pid_t> passedOver;
  Launch launched = launch();
  for (int tries = 1; launched == Launch::Another && tries < 5; ++tries) {
    passedOver.push_back(m_pid);
    m_pid = -1;
    launched = launch();
  }
  for (pid_t pid : passedOver) endServer(pid);
  return launched == Launch::Ours;
}

PrivateXServer::Launch PrivateXServer::launch() {
  int fds[2];
  if (::pipe(fds) != 0) return Launch::Failed;
  // The child of a threaded process may not allocate: everything is made before the fork.
  const std::string fd = std::to_string(fds[1]);
  static int s_started = 0;
  m_height = 480 + static_cast<int>((::getpid() * 7 + s_started++) % 160);
  const std::string screen = std::to_string(kWidth) + "x" + std::to_string(m_height) + "x24";
  m_pid = ::fork();
  if (m_pid == 0) {
    ::close(fds[0]);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten",
             "tcp", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string number;
  pollfd ready = {fds[0], POLLIN, 0};
  char c = 0;
  while (m_pid > 0 && ::poll(&ready, 1, kSafetyLimitSeconds * 1000) == 1 && ::read(fds[0], &c, 1) == 1 &&
         c != '\n')
    number += c;
  ::close(fds[0]);
  m_display = ":" + number;
  if (c != '\n' || number.empty()) return Launch::Failed;
  // The name must lead to this server and no other (a test that stops it would talk to another):
  // what answers has this server's screen, whose height no server of a test running beside it
  // is likely to share. One that refuses us is another's too.
  Display* probe = XOpenDisplay(m_display.c_str());
  if (!probe) return Launch::Another;
  const bool ours = DisplayWidth(probe, 0) == kWidth && DisplayHeight(probe, 0) == m_height;
  XCloseDisplay(probe);
  return ours ? Launch::Ours : Launch::Another;
}

void PrivateXServer::signal(int signal) const { ::kill(m_pid, signal); }

bool PrivateXServer::closeWindows() const {
  Display* display = XOpenDisplay(m_display.c_str());
  if (!display) return false;
  Window root = 0, parent = 0, *children = nullptr;
  unsigned count = 0;
  XQueryTree(display, DefaultRootWindow(display), &root, &parent, &children, &count);
  for (unsigned i = 0; i < count; ++i) {
    XEvent close = {};
    close.xclient.type = ClientMessage;
    close.xclient.window = children[i];
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    XSendEvent(display, children[i], False, NoEventMask, &close);
  }
  if (children) XFree(children);
  XCloseDisplay(display);
  return count > 0;
}

ProgramProcess::~ProgramProcess() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
  }
  closeOutput();
}

void ProgramProcess::start(const std::string& display, const std::string& tracePath,
                           const std::string& outputPath, long fileSizeLimit, int ignoredSignal,
                           const std::string& preload) {
  // The child of a threaded process may not allocate: everything is made before the fork.
  std::vector<std::string> words = {"env", "-u", "TRESSLET_VR_TRACE"};
  if (!display.empty()) words.push_back("DISPLAY=" + display);
  if (!tracePath.empty()) words.push_back("TRESSLET_VR_TRACE=" + tracePath);
  if (!preload.empty()) {
    // A sanitized program would refuse a library loaded before its runtime.
    words.insert(words.end(), {"LD_PRELOAD=" TRESSLET_TEST_PRELOAD, "ASAN_OPTIONS=verify_asan_link_order=0"});
    std::istringstream settings(preload);
    for (std::string setting; settings >> setting;) words.push_back(setting);
  }
  words.push_back(TRESSLET_BINARY);
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  int fds[2] = {-1, -1};
  if (outputPath.empty() && ::pipe2(fds, O_CLOEXEC) != 0) return;
  const rlimit limit = {static_cast<rlim_t>(fileSizeLimit), static_cast<rlim_t>(fileSizeLimit)};
  m_pid = ::fork();
  if (m_pid == 0) {
    const int out = outputPath.empty() ? fds[1] : ::open(outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, 1);
    ::dup2(out, 2);
    if (fileSizeLimit >= 0) ::setrlimit(RLIMIT_FSIZE, &limit);
    // Whatever the test runner was started with (a background job ignores SIGINT).
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::signal(signal, signal == ignoredSignal ? SIG_IGN : SIG_DFL);
    ::execvp("env", argv.data());
    ::_exit(127);
  }
  if (fds[1] >= 0) ::close(fds[1]);
  m_pipe = fds[0];
}

void ProgramProcess::closeOutput() {
  if (m_pipe >= 0) ::close(m_pipe);
  m_pipe = -1;
}

void ProgramProcess::fillOutput() {
  if (m_pipe >= 0) fillPipe(m_pipe);
}

void ProgramProcess::signal(int signal) const {
  if (m_pid > 0) ::kill(m_pid, signal);
}

bool ProgramProcess::stopped() const {
  if (m_pid <= 0) return false;
  std::ifstream stat("/proc/" + std::to_string(m_pid) + "/stat");
  const std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
  const size_t name = text.rfind(')');
  return name != std::string::npos && text.compare(name, 3, ") T") == 0;
}

bool ProgramProcess::ended(int& status) {
  if (m_pid > 0 && ::waitpid(m_pid, &m_status, WNOHANG) == m_pid) m_pid = -1;
  status = m_status;
  return m_pid <= 0;
}

bool ProgramProcess::waitForEnd(int limitSeconds, int& status) {
  for (int waited = 0; !ended(status); ++waited) {
    if (waited >= limitSeconds * 50) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

bool ProgramProcess::waitForPath(const std::string& path, int limitSeconds) {
  return waitFor([&path] { return std::filesystem::exists(path); }, limitSeconds);
}

bool ProgramProcess::waitFor(const std::function<bool()>& ready, int limitSeconds) {
  int status = 0;
  for (int waited = 0; waited < limitSeconds * 50 && !ended(status); ++waited) {
    if (ready()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return ready();
}

bool ProgramProcess::holdWriteTo(const std::string& path, int limitSeconds) {
  // A thread blocked opening a pipe that no reader has opened waits in this kernel function.
  const std::string tasks = "/proc/" + std::to_string(m_pid) + "/task";
  auto waitsToOpen = [&] {
    std::error_code gone;
    for (const auto& task : std::filesystem::directory_iterator(tasks, gone)) {
      std::ifstream wchan(task.path() / "wchan");
      std::string where;
      if (std::getline(wchan, where) && where == "wait_for_partner") return true;
    }
    return false;
  };
  return waitFor(
      [&] {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISFIFO(info.st_mode)) {
          ::unlink(path.c_str());
          ::mkfifo(path.c_str(), 0644);
        }
        return waitsToOpen();
      },
      limitSeconds);
}

void ProgramProcess::releaseWrite(const std::string& path, size_t blockBytes) {
  // Without blocking: a program that ended before it opened the pipe leaves no writer to wait for.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
  ::unlink(path.c_str());
  if (fd < 0) return;
  if (blockBytes > 0) ::fcntl(fd, F_SETPIPE_SZ, 4096);  // the pipe's least: the writer waits for each read
  // A writer waiting to open the pipe counts as one already: a read finds its end (0) at once only
  // when there is none.
  char first = 0;
  const ssize_t got = ::read(fd, &first, 1);
  pollfd in = {fd, POLLIN, 0};
  if (got > 0 || (got < 0 && errno == EAGAIN && ::poll(&in, 1, kSafetyLimitSeconds * 1000) == 1)) {
    ::fcntl(fd, F_SETFL, 0);
    std::vector<char> piece(blockBytes > 0 ? blockBytes : 65536);
    while (::read(fd, piece.data(), piece.size()) > 0)
      if (blockBytes > 0) std::this_thread::sleep_for(std::chrono::seconds(1));
  }
  ::close(fd);
}

size_t fillPipe(int end) {
  // An opening of its own, non-blocking, leaves the other openings of the pipe blocking ones.
  const int fd = ::open(("/proc/self/fd/" + std::to_string(end)).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  const std::string block(4096, '.');
  size_t filled = 0;
  for (ssize_t n; fd >= 0 && (n = ::write(fd, block.data(), block.size())) > 0;) filled += static_cast<size_t>(n);
  if (fd >= 0) ::close(fd);
  return filled;
}

std::vector<std::string> runFolderFiles(const std::string& savingRoot, const std::string& extension) {
  std::vector<std::string> files;
  std::error_code missing;
  for (const auto& run : std::filesystem::directory_iterator(savingRoot, missing))
    for (const auto& entry : std::filesystem::directory_iterator(run.path(), missing))
      if (entry.path().extension() == extension) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  return files;
}
