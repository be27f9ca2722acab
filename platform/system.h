#pragma once
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace platform {

// Makes standard output unbuffered so every message reaches the terminal at once, also when the
// process ends abruptly. Standard output itself is left where the caller put it.
void openConsole();

// Makes a write past the file-size limit fail with EFBIG, so the save reports it and keeps the
// older file, instead of the signal ending the process and the session's unsaved work with it.
void ignoreFileSizeSignal();

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

 private:
  std::thread m_thread;
  std::atomic<bool> m_finished{false};
};

}  // namespace platform
