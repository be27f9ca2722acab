#include "platform/system.h"

#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <system_error>
#include <vector>

namespace platform {

namespace {

// The handler may run on any thread, beside the frame loop that reads them: lock-free atomics are
// all it may touch.
std::atomic<int> g_endSignal{0};
std::atomic<int> g_endSignals{0};            // how many have arrived
std::atomic<int64_t> g_firstSignalMs{0};     // monotonic time of the first; 0 before it
std::atomic<bool> g_endSignalTaken{false};   // the frame loop has read the first
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<int64_t>::is_always_lock_free &&
                  std::atomic<bool>::is_always_lock_free,
              "a signal handler may only use lock-free atomics");

// The real clock, also while a replay drives the program's own: clock_gettime is safe in a handler.
int64_t monotonicMs() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000 + 1;  // never 0
}

// strsignal's names, which it may not be asked for in a handler.
const char* endSignalName(int signal) {
  switch (signal) {
    case SIGTERM: return "Terminated";
    case SIGINT: return "Interrupt";
    case SIGHUP: return "Hangup";
    default: return "Signal";
  }
}

// Ends the process as the signal would have without our handler, after one whole line.
void endAtOnce(int signal) {
  char line[128];
  size_t length = 0;
  auto append = [&](const char* text) {
    for (; *text && length < sizeof(line); ++text) line[length++] = *text;
  };
  append(endSignalName(signal));
  append(": ending at once; the painting may not have been saved\n");
  ssize_t ignored = ::write(STDOUT_FILENO, line, length);
  (void)ignored;
  std::signal(signal, SIG_DFL);
  std::raise(signal);  // delivered as the handler returns
}

void noteEndSignal(int signal) {
  const int arrived = g_endSignals.fetch_add(1) + 1;
  const int64_t now = monotonicMs();
  int64_t first = 0;
  if (g_firstSignalMs.compare_exchange_strong(first, now)) {
    g_endSignal.store(signal);
    return;
  }
  const bool stuck = !g_endSignalTaken.load() && now - first >= kStuckFrameMs;
  if (arrived >= 3 || stuck) endAtOnce(signal);
}

}  // namespace

void openConsole() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

void ignoreWriteSignals() {
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}

void catchEndSignals() {
  struct sigaction action = {};
  action.sa_handler = noteEndSignal;
  sigemptyset(&action.sa_mask);
  // The calls a signal lands in (the writer's writes, Xlib's waits) go on rather than fail
  // with EINTR.
  action.sa_flags = SA_RESTART;
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaction(signal, &action, nullptr);
}

int takeEndSignal() {
  const int signal = g_endSignal.load();
  if (signal) g_endSignalTaken.store(true);
  return signal;
}

void sleepMilliseconds(uint32_t milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void AutoResetEvent::set() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_set = true;
  }
  m_changed.notify_one();
}

void AutoResetEvent::wait() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return m_set; });
  m_set = false;
}

bool AutoResetEvent::waitFor(uint32_t milliseconds) {
  std::unique_lock<std::mutex> lock(m_mutex);
  if (!m_changed.wait_for(lock, std::chrono::milliseconds(milliseconds), [this] { return m_set; }))
    return false;
  m_set = false;
  return true;
}

Thread::~Thread() { join(); }

bool Thread::start(std::function<void()> body) {
  if (m_thread.joinable()) return false;
  m_finished.store(false);
  try {
    m_thread = std::thread([this, body = std::move(body)] {
      body();
      m_finished.store(true);
    });
  } catch (const std::system_error& error) {
    std::printf("Unable to start a thread: %s\n", error.what());
    return false;
  }
  return true;
}

void Thread::join() {
  if (!m_thread.joinable() || m_thread.get_id() == std::this_thread::get_id()) return;
  m_thread.join();
}

SerialWorker::~SerialWorker() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_changed.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void SerialWorker::post(std::function<void()> job, size_t maxWaiting) {
  std::unique_lock<std::mutex> lock(m_mutex);
  waitForRoom(lock, maxWaiting);
  if (!m_thread.joinable()) {
    try {
      m_thread = std::thread([this] { run(); });
    } catch (const std::system_error& error) {
      lock.unlock();
      std::printf("Unable to start a thread: %s\n", error.what());
      job();
      return;
    }
  }
  m_jobs.push_back(std::move(job));
  lock.unlock();
  m_changed.notify_all();
}

void SerialWorker::waitForRoom(size_t maxWaiting) {
  std::unique_lock<std::mutex> lock(m_mutex);
  waitForRoom(lock, maxWaiting);
}

void SerialWorker::waitForRoom(std::unique_lock<std::mutex>& lock, size_t maxWaiting) {
  if (m_jobs.size() < maxWaiting) return;
  ++m_waitingForRoom;
  m_changed.wait(lock, [this, maxWaiting] { return m_jobs.size() < maxWaiting; });
  --m_waitingForRoom;
}

size_t SerialWorker::waitingForRoom() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_waitingForRoom;
}

bool SerialWorker::busy() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_running || !m_jobs.empty();
}

void SerialWorker::drain() {
  std::unique_lock<std::mutex> lock(m_mutex);
  m_changed.wait(lock, [this] { return !m_running && m_jobs.empty(); });
}

bool SerialWorker::drainUntil(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_changed.wait_until(lock, deadline, [this] { return !m_running && m_jobs.empty(); });
}

void SerialWorker::run() {
  std::unique_lock<std::mutex> lock(m_mutex);
  for (;;) {
    m_changed.wait(lock, [this] { return m_stopping || !m_jobs.empty(); });
    // Stopping still runs what was posted: those are the user's saves.
    if (m_jobs.empty()) return;
    std::function<void()> job = std::move(m_jobs.front());
    m_jobs.pop_front();
    m_running = true;
    m_changed.notify_all();  // a poster waiting for room may go on
    lock.unlock();
    job();
    lock.lock();
    m_running = false;
    m_changed.notify_all();
  }
}

unsigned coreCount() { return std::max(1u, std::thread::hardware_concurrency()); }

void parallelFor(size_t count, unsigned threads, const std::function<void(size_t)>& body) {
  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next++; i < count; i = next++) body(i);
  };
  std::vector<std::thread> helpers;
  const size_t wanted = std::min<size_t>(std::max(1u, threads), count) - (count > 0 ? 1 : 0);
  for (size_t k = 0; k < wanted; ++k) {
    try {
      helpers.emplace_back(work);
    } catch (const std::system_error&) {
      break;  // the threads there are (the caller at least) do the rest
    }
  }
  work();
  for (std::thread& helper : helpers) helper.join();
}

}  // namespace platform
