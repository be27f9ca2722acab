#pragma once
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

// Makes standard output unbuffered so every message reaches the terminal at once, also when the
// process ends abruptly. Standard output itself is left where the caller put it.
void openConsole();

// Makes a write past the file-size limit fail with EFBIG, and a write to a closed pipe (the
// reader of a piped run ended by the same Ctrl-C) fail with EPIPE, so the saves report it and go
// on, instead of the signal ending the process and the session's unsaved work with it.
void ignoreWriteSignals();

// Called first in main, before any other thread starts: SIGTERM, SIGINT and SIGHUP are blocked in
// every thread, and one thread of their own waits for them (sigwait), so no handler runs inside
// the frame or a save. A signal the program was started with ignored (`nohup`, a background job
// of a script) stays ignored and is not waited for: the user asked that it not end the run. Until
// catchEndSignals the others end the process at once by their default action: there is no work
// yet.
void startEndSignalThread();
// From here on those signals close the run as the window's close does, so the shutdown saves
// run: each is answered at once with one line, and absorbed however many come, unless the run
// is stuck (see decideEndSignal), when the signal ends the process at once by its default action
// after a line saying the painting may not have been saved. Lines go through offerLine: the
// thread that ends a stuck run never waits for the output.
void catchEndSignals();
// The first of those signals to arrive since catchEndSignals; 0 while none has. Polled by the
// frame loop after each frame.
int endSignal();
// The close's last word is given, with the process's status: nothing is at stake any more, and
// a signal (or a lost display) from now on ends the process with that status at once, saying
// nothing. The first status noted stands.
void noteCloseFinished(int status);
// The status noted by noteCloseFinished; -1 while the close has not given its last word.
int closeStatus();
// Ends the process with the close's status when its last word is given; returns otherwise.
void endIfCloseFinished();

// Progress, by which a signal's thread judges whether the run is stuck. Any thread: a block of a
// file read or written, a step of the close done. The frame loop calls noteFrameFinished after each
// frame, which also keeps the frame's length among the recent ones.
void noteProgress();
void noteFrameFinished();

// AbsorbWorking: absorbed, though the run reached no mark for longer than its bound and was seen
// working only by its CPU time (a long frame, or one that spins for good): the answer names the
// way out.
enum class EndSignalAction { Absorb, AbsorbWorking, Watch, EndAtOnce };
constexpr int64_t kStuckFloorMs = 5000;
constexpr int64_t kStuckFrameFactor = 3;
constexpr size_t kRecentFrames = 16;
// A run the marks call stuck is judged on what it did over the last kJudgedWindowMs: the CPU time
// its other threads must have used in that while to count as working. A run blocked on a stopped
// X server, a named pipe or a hung file system uses well under a millisecond of it; one whose long
// frame waits off the CPU for a moment (a swap on a busy server) has worked just before.
constexpr int64_t kJudgedWindowMs = 3000;
constexpr int64_t kWorkingCpuUs = 10000;
// How often the signals' thread samples that CPU time while a close can be asked for.
constexpr int64_t kSampleMs = 500;
// A wait of the signals' thread that ends more than this after it should is a while the process
// was stopped (Ctrl-Z, SIGSTOP, a debugger), or not run at all: the run's clock leaves it out, so
// that a stopped run is judged neither idle nor without a step for it.
constexpr int64_t kLateWakeMs = 1000;
// The while a wait of askedMs, begun at asleepMs and ended at wokeMs, spent stopped: how late it
// ended, when that is more than kLateWakeMs; else 0.
int64_t timeStopped(int64_t asleepMs, int64_t wokeMs, int64_t askedMs);
// What the run did over the judged window: whether a mark moved, and the CPU time (microseconds)
// of every thread but the one judging.
struct WatchedWork {
  bool markMoved = false;
  int64_t otherCpuUs = 0;
};
// The CPU time (microseconds) every thread of the process but the calling one has used so far.
int64_t otherThreadsCpuUs();
// The recent samples of that CPU time, by the run's clock in milliseconds, in the order taken.
class WorkWindow {
 public:
  static constexpr size_t kSamples = 32;
  // Keeps one sample per half period at most, so that a burst of signals (a held Ctrl-C) never
  // pushes the window's start out of the ring.
  void sample(int64_t nowMs, int64_t otherCpuUs);
  // The CPU time used from the newest sample taken at least windowMs before nowMs up to
  // otherCpuUs, read at nowMs; -1 while no sample is that old.
  int64_t usedOver(int64_t nowMs, int64_t otherCpuUs, int64_t windowMs) const;

 private:
  struct Sample {
    int64_t ms = 0, otherCpuUs = 0;
  };
  Sample m_samples[kSamples];
  size_t m_next = 0, m_count = 0;
};
// The marks call the run stuck when nothing has moved since lastProgressMs for the longer of
// kStuckFloorMs and kStuckFrameFactor times the longest of the recent frames (milliseconds, any
// order; none yet: the floor alone). Otherwise the signal at signalMs is absorbed. A run the
// marks call stuck is judged on its window next (Watch, when `watched` is null); it is stuck, and
// the signal ends it at once, only when it reached no mark and did no work over the window. One
// that only worked is AbsorbWorking.
EndSignalAction decideEndSignal(int64_t signalMs, int64_t lastProgressMs, const int64_t* recentFramesMs,
                                size_t count, const WatchedWork* watched = nullptr);
// Ends a stuck run as the signal would: a line saying the painting may not have been saved, then
// at most a moment for the output, whatever it does (a helper stopped, a printer blocked on a full
// pipe), and the signal's default action.
[[noreturn]] void endAtOnce(int signal);

// Gives up the rest of the time slice for 0, else sleeps at least the given milliseconds.
void sleepMilliseconds(uint32_t milliseconds);

// An event that stays set until one waiter takes it, then resets itself.
class AutoResetEvent {
 public:
  void set();
  // Waits without limit until set, then resets.
  void wait();
  // Waits at most the given milliseconds; true (and reset) when it was set.
  bool waitFor(uint32_t milliseconds);

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  bool m_set = false;
};

// A plain non-recursive lock, taken by one thread and released by the same thread.
class Mutex {
 public:
  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }
  bool tryLock() { return m_mutex.try_lock(); }

 private:
  std::mutex m_mutex;
};

// One joinable thread that records when its function has returned, so a waiter can stop
// waiting for a signal the thread will never send.
class Thread {
 public:
  Thread() = default;
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  // Joins a thread that is still attached.
  ~Thread();

  // False when a thread is already attached or the system cannot start one.
  bool start(std::function<void()> body);
  bool isRunning() const { return m_thread.joinable() && !m_finished.load(); }
  bool hasFinished() const { return m_finished.load(); }
  // Waits for the function to return; does nothing when no thread is attached or on itself.
  void join();
  // Lets the thread run on unattended (one stuck for good). It still uses this object, which
  // must then outlive it.
  void detach() {
    if (m_thread.joinable()) m_thread.detach();
  }

 private:
  std::thread m_thread;
  std::atomic<bool> m_finished{false};
};

// One background thread that runs jobs one at a time in the order they were posted. When no
// thread can be started, post runs the job on the caller, so no job is ever dropped.
class SerialWorker {
 public:
  SerialWorker() = default;
  SerialWorker(const SerialWorker&) = delete;
  SerialWorker& operator=(const SerialWorker&) = delete;
  // Runs what is still queued, then joins.
  ~SerialWorker();

  static constexpr size_t kUnbounded = ~static_cast<size_t>(0);

  // Queues the job behind those posted before. With a limit, first waits until fewer than
  // maxWaiting jobs wait to be taken (the running one not counted), so what the queue holds stays
  // bounded and no job is dropped. A job of this worker must not post with a limit.
  void post(std::function<void()> job, size_t maxWaiting = kUnbounded);
  // Waits until fewer than maxWaiting jobs wait to be taken.
  void waitForRoom(size_t maxWaiting);
  // How many callers wait for room right now.
  size_t waitingForRoom() const;
  // True while a job is queued or running.
  bool busy() const;
  // Waits until every job posted so far has run.
  void drain();
  // The same, giving up at the deadline: false when a job is still queued or running then.
  bool drainUntil(std::chrono::steady_clock::time_point deadline);

 private:
  void run();
  void waitForRoom(std::unique_lock<std::mutex>& lock, size_t maxWaiting);

  mutable std::mutex m_mutex;
  std::condition_variable m_changed;
  std::deque<std::function<void()>> m_jobs;
  bool m_running = false;  // a job taken off the queue has not returned yet
  size_t m_waitingForRoom = 0;
  bool m_stopping = false;
  std::thread m_thread;
};

// The number of cores the system reports, at least 1.
unsigned coreCount();

// Runs body(i) for every i in [0, count) on up to `threads` threads, the caller being one of
// them, and returns when every call has returned. Each index runs exactly once; the order
// between indices is not fixed.
void parallelFor(size_t count, unsigned threads, const std::function<void(size_t)>& body);

}  // namespace platform
