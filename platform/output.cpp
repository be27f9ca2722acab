#include "platform/output.h"

#include <fcntl.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <climits>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <iterator>
#include <mutex>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>

namespace platform {

namespace {

using Clock = std::chrono::steady_clock;

// What one stream may hold beyond what its output has taken: a whole busy session's lines for a
// while, and no more however long nobody reads.
constexpr size_t kQueuedBytes = 256 * 1024;
// Text without a line end (a prompt, "/n") goes out once nothing more came for this long.
constexpr auto kPartialLine = std::chrono::milliseconds(100);
// What one write to the output gathers.
constexpr size_t kWriteBytes = 64 * 1024;
// The helper's first byte on its control socket: it relays from now on. A helper that neither says
// so nor ends within the limit is taken for one that cannot start.
constexpr char kReady = 'R';
constexpr int kHelperReadyMs = 10000;
constexpr const char* kHelperName = "tresslet-output";  // at most 15 characters: the thread name's room

// Writes all of text to fd, waiting as long as it takes; a closed reader or a failing file
// drops the rest.
void writeAll(int fd, const char* text, size_t size) {
  while (size > 0) {
    const ssize_t written = ::write(fd, text, size);
    if (written > 0) {
      text += written;
      size -= static_cast<size_t>(written);
    } else if (written < 0 && errno == EAGAIN) {
      // The output was made non-blocking by whoever shares it: wait for it as a blocking one.
      pollfd out = {fd, POLLOUT, 0};
      ::poll(&out, 1, -1);
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

// One output of the helper: a bounded queue that a thread of its own writes to the output the
// program was started with. It counts the bytes it queued and wrote, so that a drain knows when
// what it asked for is out.
class Relay {
 public:
  Relay(int target, int wake) : m_target(target), m_wake(wake) {}

  bool start() {
    try {
      std::thread([this] { writeLoop(); }).detach();
    } catch (const std::system_error&) {
      return false;
    }
    return true;
  }

  // Queues the lines of text (the last may lack its line end), dropping those that do not fit.
  void offer(const char* text, size_t size) {
    std::lock_guard<std::mutex> lock(m_mutex);
    while (size > 0) {
      const char* end = static_cast<const char*>(std::memchr(text, '\n', size));
      const size_t length = end ? static_cast<size_t>(end - text) + 1 : size;
      admit(text, length);
      text += length;
      size -= length;
    }
    m_changed.notify_all();
  }

  // Queues the count of the lines dropped since the last that got through, if any: at a drain or
  // the end no line may come to carry it.
  void tellDropped() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_dropped == 0) return;
    queueDroppedCount();
    m_changed.notify_all();
  }

  size_t queued() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_queued;
  }

  // True once the first `bytes` ever queued are written (or failed for good).
  bool wrote(size_t bytes) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_written >= bytes;
  }

  void waitWritten(Clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_until(lock, deadline, [this] { return m_written == m_queued; });
  }

 private:
  void admit(const char* line, size_t length) {
    // A line longer than the whole queue still goes out, alone.
    if (!m_lines.empty() && m_bytes + length > kQueuedBytes) {
      ++m_dropped;
      return;
    }
    if (m_dropped > 0) queueDroppedCount();
    m_bytes += length;
    m_queued += length;
    m_lines.emplace_back(line, length);
  }

  void queueDroppedCount() {
    std::string note = "(" + std::to_string(m_dropped) + " line" + (m_dropped == 1 ? " was" : "s were") +
                       " dropped: the output did not take them)\n";
    m_bytes += note.size();
    m_queued += note.size();
    m_lines.push_back(std::move(note));
    m_dropped = 0;
  }

  void writeLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    std::string out;
    for (;;) {
      m_changed.wait(lock, [this] { return !m_lines.empty(); });
      out.clear();
      while (!m_lines.empty() && (out.empty() || out.size() + m_lines.front().size() <= kWriteBytes)) {
        out += m_lines.front();
        m_bytes -= m_lines.front().size();
        m_lines.pop_front();
      }
      lock.unlock();
      writeAll(m_target, out.data(), out.size());
      lock.lock();
      m_written += out.size();
      m_changed.notify_all();
      if (m_wake >= 0) ::eventfd_write(m_wake, 1);  // the helper's loop answers the drains this completes
    }
  }

  const int m_target;  // the original output, shared with whoever started the program
  const int m_wake;    // the helper loop's eventfd; -1 in the program's own relay
  std::mutex m_mutex;  // guards the queue; never held across a write
  std::condition_variable m_changed;
  std::deque<std::string> m_lines;
  size_t m_bytes = 0;    // in m_lines
  size_t m_queued = 0;   // ever queued
  size_t m_written = 0;  // ever written out (or failed for good)
  size_t m_dropped = 0;  // lines dropped since the last that got through
};

// A pipe the program prints into, read by the helper's loop into its relay.
struct Stream {
  Stream(int fd, Relay& queue) : in(fd), relay(queue) {}

  int in;  // -1 once at its end (or never opened)
  Relay& relay;
  std::string pending;  // read, not yet queued: text after the last line end
  Clock::time_point lastRead{};

  // Reads at most `most` bytes and queues their whole lines. 0 at the end of the pipe.
  size_t take(size_t most) {
    char buffer[16384];
    ssize_t got;
    while ((got = ::read(in, buffer, std::min(most, sizeof buffer))) < 0 && errno == EINTR) {
    }
    if (got <= 0) return 0;
    lastRead = Clock::now();
    pending.append(buffer, static_cast<size_t>(got));
    const size_t end = pending.rfind('\n');
    if (end != std::string::npos) {
      relay.offer(pending.data(), end + 1);
      pending.erase(0, end + 1);
    }
    return static_cast<size_t>(got);
  }

  void handOut() {
    if (!pending.empty()) relay.offer(pending.data(), pending.size());
    pending.clear();
  }

  // Takes in what is in the pipe now (not what keeps coming after) and hands out the rest of a
  // line, with the count of lines dropped before.
  void takeAllNow() {
    int inPipe = 0;
    if (in >= 0 && ::ioctl(in, FIONREAD, &inPipe) == 0)
      for (size_t got; inPipe > 0 && (got = take(static_cast<size_t>(inPipe))) > 0;) inPipe -= static_cast<int>(got);
    handOut();
    relay.tellDropped();
  }
};

// Closes every descriptor but those in keep (any order, -1 ignored): the helper must hold none of
// the program's pipes or files, or a reader waiting for their end would wait for the helper.
void closeAllBut(int* keep, size_t count) {
  std::sort(keep, keep + count);
  int from = 0;
  const int table = ::getdtablesize();
  auto closeBelow = [&from, table](int end) {
    if (end > from && ::close_range(static_cast<unsigned>(from), static_cast<unsigned>(end - 1), 0) != 0)
      for (int fd = from; fd < std::min(end, table); ++fd) ::close(fd);  // a kernel before 5.9
  };
  for (size_t i = 0; i < count; ++i) {
    if (keep[i] < from) continue;
    closeBelow(keep[i]);
    from = keep[i] + 1;
  }
  closeBelow(INT_MAX);
}

// Gives the helper a name of its own in ps and top, so that nobody takes it for a second run
// left over: the thread name, and the command line, which ps reads from the memory the
// arguments were passed in (this process's copy of it, since the helper is forked).
void nameHelper() {
  ::prctl(PR_SET_NAME, kHelperName, 0, 0, 0);
  std::ifstream statFile("/proc/self/stat");
  std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
  const size_t fields = stat.rfind(')');
  if (fields == std::string::npos) return;
  // After the name come the fields from the state on: arg_start and arg_end are the 48th and
  // 49th of them all (Linux 3.5 on).
  std::istringstream rest(stat.substr(fields + 1));
  std::string field;
  unsigned long long start = 0, end = 0;
  for (int number = 3; number <= 49 && rest >> field; ++number) {
    if (number == 48) start = std::strtoull(field.c_str(), nullptr, 10);
    if (number == 49) end = std::strtoull(field.c_str(), nullptr, 10);
  }
  if (start == 0 || end <= start) return;
  char* arguments = reinterpret_cast<char*>(static_cast<uintptr_t>(start));
  const size_t room = static_cast<size_t>(end - start);
  std::memset(arguments, 0, room);
  std::memcpy(arguments, kHelperName, std::min(room - 1, std::strlen(kHelperName)));
}

// The helper: relays outIn to fd 1 and errIn (-1: the streams share outIn) to fd 2 until the
// program's last descriptor of them is gone, however the program ended. A drain's mark on control
// is answered with the same byte once what was printed before it is written out.
[[noreturn]] void runHelper(int outIn, int errIn, int control) {
  // A Ctrl-C or a closing terminal reaches the whole group: the helper still writes out the
  // program's last words. A write past the file-size limit only fails.
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE, SIGXFSZ}) ::signal(signal, SIG_IGN);
  nameHelper();
  int keep[] = {1, 2, outIn, errIn, control};
  closeAllBut(keep, sizeof keep / sizeof keep[0]);
  const int wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  Relay out(1, wake), err(2, wake);
  Stream streams[2] = {{outIn, out}, {errIn, err}};
  // Without its threads the helper cannot relay: it ends, and the program keeps its own outputs.
  if (wake < 0 || !out.start() || (errIn >= 0 && !err.start())) ::_exit(1);
  const char ready = kReady;
  if (::send(control, &ready, 1, MSG_NOSIGNAL) != 1) ::_exit(1);
  struct Mark {
    char byte;
    size_t out, err;  // each relay's bytes queued at the mark
  };
  std::deque<Mark> marks;
  while (streams[0].in >= 0 || streams[1].in >= 0) {
    int timeout = -1;
    for (const Stream& stream : streams) {
      if (stream.pending.empty()) continue;
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(stream.lastRead + kPartialLine - Clock::now());
      const int wait = static_cast<int>(std::max<int64_t>(0, left.count()));
      timeout = timeout < 0 ? wait : std::min(timeout, wait);
    }
    pollfd fds[] = {{streams[0].in, POLLIN, 0}, {streams[1].in, POLLIN, 0}, {control, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, 4, timeout) < 0) continue;
    for (int i = 0; i < 2; ++i) {
      Stream& stream = streams[i];
      if (fds[i].revents && stream.take(SIZE_MAX) == 0) {
        stream.handOut();
        stream.in = -1;
      } else if (!stream.pending.empty() && Clock::now() - stream.lastRead >= kPartialLine) {
        stream.handOut();
      }
    }
    if (fds[2].revents) {
      char bytes[64];
      const ssize_t got = ::recv(control, bytes, sizeof bytes, MSG_DONTWAIT);
      if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) control = -1;  // the program is gone
      for (ssize_t i = 0; i < got; ++i) {
        for (Stream& stream : streams) stream.takeAllNow();
        marks.push_back({bytes[i], out.queued(), err.queued()});
      }
    }
    eventfd_t woken;
    if (fds[3].revents) ::eventfd_read(wake, &woken);
    for (; !marks.empty() && out.wrote(marks.front().out) && err.wrote(marks.front().err); marks.pop_front())
      ::send(control, &marks.front().byte, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
  }
  out.tellDropped();
  err.tellDropped();
  const auto deadline = Clock::now() + std::chrono::milliseconds(kEndOutputMs);
  out.waitWritten(deadline);
  err.waitWritten(deadline);
  ::_exit(0);  // not exit: the program's atexit handlers and a leak check are not the helper's
}

// The program's ends of the relay, -1 without it: the helper's control socket, and a non-blocking
// opening of standard output's pipe of its own (O_NONBLOCK on a dup would reach fds 1 and 2).
std::atomic<int> g_control{-1};
std::atomic<int> g_offer{-1};
// Without the helper, a relay of the program's own writes the offered lines to standard output,
// so that a thread that must never wait (the one answering the end signals) is still heard.
std::atomic<Relay*> g_ownRelay{nullptr};
// One drain at a time, so that each answer reaches the drain that asked for it. Taken by try_lock
// alone: a timed lock is invisible to the thread sanitizer, which then reports every drain.
std::mutex g_draining;
char g_lastMark = 0;
constexpr auto kDrainLockPoll = std::chrono::milliseconds(1);

// Flushes a stream only when no other thread holds it: a thread blocked inside a printf on a full
// pipe holds the stream's lock for as long as the pipe stays full, and the program's streams are
// unbuffered anyway, so whatever is held there is already on its way.
void flushUnlessHeld(FILE* stream) {
  if (::ftrylockfile(stream) != 0) return;
  ::fflush_unlocked(stream);
  ::funlockfile(stream);
}

bool sameFile(int a, int b) {
  struct stat first {}, second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino && first.st_rdev == second.st_rdev;
}

// Waits until `wanted` comes on the control socket, passing over other bytes (answers to earlier
// drains that gave up): false at the deadline, or once the other end is gone.
bool awaitByte(int control, Clock::time_point deadline, char wanted) {
  for (char byte = 0;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd in = {control, POLLIN, 0};
    if (left <= 0 || (::poll(&in, 1, static_cast<int>(left)) < 0 && errno != EINTR)) return false;
    const ssize_t got = ::recv(control, &byte, 1, MSG_DONTWAIT);
    if (got == 1 && byte == wanted) return true;
    if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) return false;
  }
}

// Its thread takes no signal: the end signals are waited for by a thread of their own, and one
// delivered here would end the run by its default action.
void startOwnRelay() {
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  Relay* relay = new Relay(1, -1);  // lives as long as the process: it may be offered a line at its end
  if (relay->start())
    g_ownRelay = relay;
  else
    delete relay;
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

// Forks the helper and hands it the streams once it says it relays; false, with the streams as
// they were, when it cannot.
bool startHelper() {
  // A closed stream gets /dev/null first, so that no pipe below takes its number.
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDWR);
  const bool shared = sameFile(1, 2);
  int out[2] = {-1, -1}, err[2] = {-1, -1}, control[2] = {-1, -1}, offer = -1;
  auto closeAll = [&] {
    for (int fd : {out[0], out[1], err[0], err[1], control[0], control[1], offer})
      if (fd >= 0) ::close(fd);
  };
  if (::pipe2(out, O_CLOEXEC) != 0 || (!shared && ::pipe2(err, O_CLOEXEC) != 0) ||
      ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, control) != 0) {
    closeAll();
    return false;
  }
  // Room for a burst while the helper is not scheduled; the default size serves otherwise.
  for (int fd : {out[1], err[1]})
    if (fd >= 0) (void)::fcntl(fd, F_SETPIPE_SZ, 1 << 20);
  char path[32];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", out[1]);
  offer = ::open(path, O_WRONLY | O_NONBLOCK | O_CLOEXEC);  // without /proc offerLine drops its lines
  const pid_t helper = ::fork();
  if (helper < 0) {
    closeAll();
    return false;
  }
  if (helper == 0) runHelper(out[0], err[0], control[1]);
  // The helper's ends are its own now: a helper that ends at once closes its side of the control
  // socket, and the wait below learns of it.
  for (int* fd : {&out[0], &err[0], &control[1]})
    if (*fd >= 0) {
      ::close(*fd);
      *fd = -1;
    }
  if (!awaitByte(control[0], Clock::now() + std::chrono::milliseconds(kHelperReadyMs), kReady)) {
    ::kill(helper, SIGKILL);
    while (::waitpid(helper, nullptr, 0) < 0 && errno == EINTR) {
    }
    closeAll();
    return false;
  }
  // The program keeps only the write ends: the helper sees the end of its pipes when the
  // program is gone.
  ::dup2(out[1], 1);
  ::dup2(shared ? out[1] : err[1], 2);
  for (int fd : {out[1], err[1]})
    if (fd >= 0) ::close(fd);
  g_offer = offer;
  g_control = control[0];
  return true;
}

}  // namespace

bool startOutputRelay() {
  if (g_control.load() >= 0) return true;
  if (g_ownRelay.load()) return false;
  if (startHelper()) return true;
  startOwnRelay();
  return false;
}

void offerLine(const char* text, size_t size) {
  if (Relay* own = g_ownRelay.load()) {
    own->offer(text, size);
    return;
  }
  const int fd = g_offer.load();
  if (fd < 0) return;
  const ssize_t ignored = ::write(fd, text, size);
  (void)ignored;
}

void drainOutput(uint32_t limitMs) {
  const int control = g_control.load();
  Relay* own = g_ownRelay.load();
  if (control < 0 && !own) return;
  flushUnlessHeld(stdout);
  flushUnlessHeld(stderr);
  const auto deadline = Clock::now() + std::chrono::milliseconds(limitMs);
  if (own) {
    own->tellDropped();
    own->waitWritten(deadline);
    return;
  }
  std::unique_lock<std::mutex> lock(g_draining, std::try_to_lock);
  while (!lock.owns_lock()) {
    if (Clock::now() >= deadline) return;
    std::this_thread::sleep_for(kDrainLockPoll);
    lock.try_lock();
  }
  const char mark = ++g_lastMark;
  if (::send(control, &mark, 1, MSG_NOSIGNAL | MSG_DONTWAIT) == 1) awaitByte(control, deadline, mark);
}

void endProcess(int status) {
  drainOutput(kEndOutputMs);
  std::_Exit(status);
}

}  // namespace platform
