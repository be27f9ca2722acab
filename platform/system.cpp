#include "platform/system.h"

#include <pthread.h>
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

#include "platform/output.h"

namespace platform {

namespace {

// Read by the signals' thread beside the threads that write them.
std::atomic<bool> g_closing{false};        // catchEndSignals has been called
std::atomic<int> g_endSignal{0};           // the first signal since then; 0 before it
std::atomic<int> g_closeStatus{-1};        // the close's status once its last word is given
std::atomic<int64_t> g_lastProgressMs{0};  // the run's clock at the last progress
std::atomic<int64_t> g_lastFrameMs{0};     // the run's clock as the last frame finished
std::atomic<int64_t> g_frameLengthsMs[kRecentFrames];  // ring of the recent frames' lengths
std::atomic<size_t> g_framesFinished{0};
std::atomic<int64_t> g_stoppedMs{0};       // how long the process was seen stopped, in all

// How long a line about a run ended at once gets to reach the output.
constexpr uint32_t kLastLineMs = 100;

int64_t monotonicMs() {
  timespec now = {};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// The run's clock: monotonic time less the whiles the process was stopped (Ctrl-Z, SIGSTOP, a
// debugger). A stopped run takes no step and does no work, and must not be judged stuck for it.
int64_t runMs() { return monotonicMs() - g_stoppedMs.load(); }

// The signals' thread wakes at least every kSampleMs: one of its waits that ends much later than
// asked is a while the process did not run, taken off the run's clock.
class Sleeper {
 public:
  void asleep() { m_asleepMs = monotonicMs(); }
  void awake(int64_t askedMs) { g_stoppedMs += timeStopped(m_asleepMs, monotonicMs(), askedMs); }

 private:
  int64_t m_asleepMs = 0;
};

int64_t cpuUs(clockid_t clock) {
  timespec used = {};
  clock_gettime(clock, &used);
  return static_cast<int64_t>(used.tv_sec) * 1000000 + used.tv_nsec / 1000;
}

const char* endSignalName(int signal) {
  switch (signal) {
    case SIGTERM: return "Terminated";
    case SIGINT: return "Interrupt";
    case SIGHUP: return "Hangup";
    default: return "Signal";
  }
}

void sayLine(int signal, const char* text, const char* tail = "") {
  char line[256];
  const int length = std::snprintf(line, sizeof(line), "%s: %s%s\n", endSignalName(signal), text, tail);
  if (length > 0) offerLine(line, static_cast<size_t>(std::min<int>(length, sizeof(line) - 1)));
}

// Ends the process as the signal would have, had it not been waited for. Nothing here waits on
// the output beyond kLastLineMs: a printer blocked on a full pipe holds no lock this path takes.
[[noreturn]] void endBySignal(int signal) {
  drainOutput(kLastLineMs);
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  sigaction(signal, &action, nullptr);
  sigset_t one;
  sigemptyset(&one);
  sigaddset(&one, signal);
  pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
  ::raise(signal);
  ::_exit(128 + signal);  // not reached: the default action of these three ends the process
}

// What the run did over the judged window up to now: a mark since progressMs, and the CPU time of
// the other threads. A window not yet covered by samples (the close has only just begun) is
// waited for, sampling on, unless a mark moves meanwhile.
WatchedWork workOverWindow(WorkWindow& window, Sleeper& sleeper, int64_t progressMs) {
  int64_t used = -1;
  for (;;) {
    used = window.usedOver(runMs(), otherThreadsCpuUs(), kJudgedWindowMs);
    if (used >= 0 || g_lastProgressMs.load() != progressMs) break;
    sleeper.asleep();
    std::this_thread::sleep_for(std::chrono::milliseconds(kSampleMs));
    sleeper.awake(kSampleMs);
    window.sample(runMs(), otherThreadsCpuUs());
  }
  WatchedWork watched;
  watched.markMoved = g_lastProgressMs.load() != progressMs;
  watched.otherCpuUs = std::max<int64_t>(used, 0);
  return watched;
}

void waitForEndSignals(sigset_t set) {
  // Sampled every kSampleMs while a close can be asked for, so that a signal is judged on what the
  // run did over the last few seconds, not on the moment it arrives: a long frame that waits off
  // the CPU for a while between seconds of work is working.
  WorkWindow window;
  Sleeper sleeper;
  timespec period = {};
  period.tv_nsec = kSampleMs * 1000000;
  for (;;) {
    sleeper.asleep();
    const int signal = sigtimedwait(&set, nullptr, &period);
    // A wait that ends long after it should spans a stop (Ctrl-Z, then `kill %1`, whose SIGTERM
    // comes with the SIGCONT): the signal is judged on the run's own time, the stop left out.
    sleeper.awake(kSampleMs);
    if (g_closing.load()) window.sample(runMs(), otherThreadsCpuUs());
    if (signal <= 0) continue;  // the period's sample, or an interruption
    if (!g_closing.load()) endBySignal(signal);
    endIfCloseFinished();
    int64_t frames[kRecentFrames];
    const size_t count = std::min(g_framesFinished.load(), kRecentFrames);
    for (size_t i = 0; i < count; ++i) frames[i] = g_frameLengthsMs[i].load();
    const int64_t now = runMs(), progress = g_lastProgressMs.load();
    EndSignalAction action = decideEndSignal(now, progress, frames, count);
    if (action == EndSignalAction::Watch) {
      const WatchedWork watched = workOverWindow(window, sleeper, progress);
      endIfCloseFinished();
      action = decideEndSignal(now, progress, frames, count, &watched);
    }
    if (action == EndSignalAction::EndAtOnce) endAtOnce(signal);
    // A run that works without a step may be one that spins for good: the user learns how to end
    // it anyway, at the price of the save.
    char working[128] = "";
    if (action == EndSignalAction::AbsorbWorking)
      std::snprintf(working, sizeof(working), " (working, no step for %lld s; Ctrl-\\ ends it at once, without saving)",
                    static_cast<long long>((now - progress) / 1000));
    int none = 0;
    if (g_endSignal.compare_exchange_strong(none, signal))
      sayLine(signal, "closing, the painting is saved first", working);
    else
      sayLine(signal, "the painting is still being saved", working);
  }
}

}  // namespace

void openConsole() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

void ignoreWriteSignals() {
  std::signal(SIGXFSZ, SIG_IGN);
  std::signal(SIGPIPE, SIG_IGN);
}

void startEndSignalThread() {
  sigset_t set;
  sigemptyset(&set);
  struct sigaction action = {};
  action.sa_handler = SIG_DFL;
  sigemptyset(&action.sa_mask);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    struct sigaction inherited = {};
    if (sigaction(signal, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN) continue;
    // Waited for, a signal must not be ignored: an ignored one is dropped before anyone can wait.
    sigaction(signal, &action, nullptr);
    sigaddset(&set, signal);
  }
  if (sigisemptyset(&set)) return;  // every one set aside: nothing to wait for
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  try {
    std::thread(waitForEndSignals, set).detach();
  } catch (const std::system_error& error) {
    // Without the thread the signals keep their default action: they end the run unsaved.
    pthread_sigmask(SIG_UNBLOCK, &set, nullptr);
    std::printf("Unable to start a thread: %s\n", error.what());
  }
}

void catchEndSignals() {
  const int64_t now = runMs();
  g_lastProgressMs.store(now);
  g_lastFrameMs.store(now);
  g_closing.store(true);
}

int endSignal() { return g_endSignal.load(); }

void noteCloseFinished(int status) {
  int unset = -1;
  g_closeStatus.compare_exchange_strong(unset, status < 0 ? 1 : status);
}

int closeStatus() { return g_closeStatus.load(); }

void endIfCloseFinished() {
  const int status = g_closeStatus.load();
  if (status >= 0) endProcess(status);
}

void noteProgress() { g_lastProgressMs.store(runMs()); }

void noteFrameFinished() {
  const int64_t now = runMs();
  const size_t frame = g_framesFinished.load();
  // Not below 0: a stamp taken while a stop was being left out of the clock may lie ahead of it.
  g_frameLengthsMs[frame % kRecentFrames].store(std::max<int64_t>(0, now - g_lastFrameMs.exchange(now)));
  g_framesFinished.store(frame + 1);
  g_lastProgressMs.store(now);
}

void endAtOnce(int signal) {
  sayLine(signal, "ending at once; the painting may not have been saved");
  endBySignal(signal);
}

int64_t otherThreadsCpuUs() { return cpuUs(CLOCK_PROCESS_CPUTIME_ID) - cpuUs(CLOCK_THREAD_CPUTIME_ID); }

void WorkWindow::sample(int64_t nowMs, int64_t otherCpuUs) {
  if (m_count > 0 && nowMs - m_samples[(m_next + kSamples - 1) % kSamples].ms < kSampleMs / 2) return;
  m_samples[m_next] = {nowMs, otherCpuUs};
  m_next = (m_next + 1) % kSamples;
  m_count = std::min(m_count + 1, kSamples);
}

int64_t WorkWindow::usedOver(int64_t nowMs, int64_t otherCpuUs, int64_t windowMs) const {
  for (size_t back = 1; back <= m_count; ++back) {
    const Sample& sample = m_samples[(m_next + kSamples - back) % kSamples];
    if (nowMs - sample.ms >= windowMs) return otherCpuUs - sample.otherCpuUs;
  }
  return -1;
}

int64_t timeStopped(int64_t asleepMs, int64_t wokeMs, int64_t askedMs) {
  const int64_t late = wokeMs - asleepMs - askedMs;
  return late > kLateWakeMs ? late : 0;
}

EndSignalAction decideEndSignal(int64_t signalMs, int64_t lastProgressMs, const int64_t* recentFramesMs,
                                size_t count, const WatchedWork* watched) {
  int64_t longest = 0;
  for (size_t i = 0; i < count; ++i) longest = std::max(longest, recentFramesMs[i]);
  const int64_t bound = std::max(kStuckFloorMs, kStuckFrameFactor * longest);
  if (signalMs - lastProgressMs < bound) return EndSignalAction::Absorb;
  if (!watched) return EndSignalAction::Watch;
  if (watched->markMoved) return EndSignalAction::Absorb;
  return watched->otherCpuUs >= kWorkingCpuUs ? EndSignalAction::AbsorbWorking : EndSignalAction::EndAtOnce;
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
