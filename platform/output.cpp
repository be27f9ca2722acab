#include "platform/output.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

namespace platform {

namespace {

// What one stream may hold beyond what its output has taken: a whole busy session's lines for a
// while, and no more however long nobody reads.
constexpr size_t kQueuedBytes = 256 * 1024;
// Text without a line end (a prompt, "/n") goes out once nothing more came for this long.
constexpr int kPartialLineMs = 100;
// What one write to the output gathers.
constexpr size_t kWriteBytes = 64 * 1024;

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

// One output: a pipe the program's stream now points at, drained by one thread into a bounded
// queue that another writes to the original output.
class Relay {
 public:
  Relay(int target, int readEnd) : m_target(target), m_readEnd(readEnd) {}

  bool start() {
    try {
      std::thread([this] { readLoop(); }).detach();
      std::thread([this] { writeLoop(); }).detach();
    } catch (const std::system_error&) {
      return false;  // a reader without its writer only fills the queue: harmless
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

  // Queues the count of the lines dropped since the last that got through, if any: at the end no
  // line may come to carry it.
  void tellDropped() {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_dropped == 0) return;
    queueDroppedCount();
    m_changed.notify_all();
  }

  // True when everything printed so far has been read out of the pipe: queued or dropped.
  bool takenIn() {
    int inPipe = 0;
    if (::ioctl(m_readEnd, FIONREAD, &inPipe) != 0) inPipe = 0;
    return inPipe == 0 && !m_inHand.load();
  }

  // True when everything printed so far has been written out.
  bool idle() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines.empty() && !m_writing && takenIn();
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
    m_lines.emplace_back(line, length);
  }

  void queueDroppedCount() {
    std::string note = "(" + std::to_string(m_dropped) + " line" + (m_dropped == 1 ? " was" : "s were") +
                       " dropped: the output did not take them)\n";
    m_bytes += note.size();
    m_lines.push_back(std::move(note));
    m_dropped = 0;
  }

  void readLoop() {
    std::string pending;  // read, not yet queued: text after the last line end
    char buffer[16384];
    for (;;) {
      pollfd in = {m_readEnd, POLLIN, 0};
      const int ready = ::poll(&in, 1, pending.empty() ? -1 : kPartialLineMs);
      if (ready < 0 && errno == EINTR) continue;
      if (ready < 0) return;
      if (ready == 0) {
        offer(pending.data(), pending.size());
        pending.clear();
        m_inHand = false;
        continue;
      }
      // Set while the bytes are still in the pipe, so idle() never sees them nowhere.
      m_inHand = true;
      const ssize_t got = ::read(m_readEnd, buffer, sizeof buffer);
      if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (got <= 0) return;
      pending.append(buffer, static_cast<size_t>(got));
      const size_t end = pending.rfind('\n');
      if (end != std::string::npos) {
        offer(pending.data(), end + 1);
        pending.erase(0, end + 1);
      }
      m_inHand = !pending.empty();
    }
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
      m_writing = true;
      lock.unlock();
      writeAll(m_target, out.data(), out.size());
      lock.lock();
      m_writing = false;
    }
  }

  const int m_target;   // the original output, shared with whoever started the program
  const int m_readEnd;  // the pipe the stream now points at
  std::mutex m_mutex;   // guards the queue; never held across a read or a write
  std::condition_variable m_changed;
  std::deque<std::string> m_lines;
  size_t m_bytes = 0;
  size_t m_dropped = 0;  // lines dropped since the last that got through
  bool m_writing = false;
  std::atomic<bool> m_inHand{false};  // the reader holds bytes it has not queued yet
};

// Never freed: the threads use them up to the process's end.
std::atomic<Relay*> g_out{nullptr};
std::atomic<Relay*> g_err{nullptr};

// A relay for the stream at fd, which from now on points at the relay's pipe (and so does
// alsoFd, a stream that is the same file). Null, with the stream left alone, on any failure.
Relay* relay(int fd, int alsoFd) {
  const int target = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
  int ends[2] = {-1, -1};
  if (target < 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
    if (target >= 0) ::close(target);
    return nullptr;
  }
  // Room for a burst while the reader is not scheduled; the default size serves otherwise.
  (void)::fcntl(ends[1], F_SETPIPE_SZ, 1 << 20);
  auto* relay = new Relay(target, ends[0]);
  if (!relay->start() || ::dup2(ends[1], fd) < 0 || (alsoFd >= 0 && ::dup2(ends[1], alsoFd) < 0)) {
    // Threads that may have started keep the object: it is left, unused.
    ::close(ends[1]);
    return nullptr;
  }
  ::close(ends[1]);
  return relay;
}

bool sameFile(int a, int b) {
  struct stat first {}, second {};
  return ::fstat(a, &first) == 0 && ::fstat(b, &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino && first.st_rdev == second.st_rdev;
}

}  // namespace

bool startOutputRelay() {
  if (g_out.load()) return true;
  // A closed stream gets /dev/null first, so that no pipe below takes its number.
  for (int fd = 0; fd <= 2; ++fd)
    if (::fcntl(fd, F_GETFD) < 0 && errno == EBADF) ::open("/dev/null", O_RDWR);
  const bool shared = sameFile(1, 2);
  Relay* out = relay(1, shared ? 2 : -1);
  if (!out) return false;
  g_out = out;
  g_err = shared ? nullptr : relay(2, -1);
  return true;
}

void offerLine(const char* text, size_t size) {
  if (Relay* out = g_out.load()) {
    out->offer(text, size);
    return;
  }
  pollfd out = {STDOUT_FILENO, POLLOUT, 0};
  if (::poll(&out, 1, 0) == 1 && (out.revents & POLLOUT)) {
    ssize_t ignored = ::write(STDOUT_FILENO, text, size);
    (void)ignored;
  }
}

void drainOutput(uint32_t limitMs) {
  std::fflush(stdout);
  std::fflush(stderr);
  Relay* const relays[] = {g_out.load(), g_err.load()};
  if (!relays[0]) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(limitMs);
  auto waitUntilAll = [&](bool (Relay::*state)()) {
    auto all = [&] {
      for (Relay* relay : relays)
        if (relay && !(relay->*state)()) return false;
      return true;
    };
    while (!all() && std::chrono::steady_clock::now() < deadline)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
  };
  waitUntilAll(&Relay::takenIn);
  for (Relay* relay : relays)
    if (relay) relay->tellDropped();
  waitUntilAll(&Relay::idle);
}

void endProcess(int status) {
  drainOutput(kEndOutputMs);
  std::_Exit(status);
}

}  // namespace platform
