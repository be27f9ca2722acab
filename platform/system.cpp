#include "platform/system.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <system_error>

namespace platform {

void openConsole() { std::setvbuf(stdout, nullptr, _IONBF, 0); }

void ignoreFileSizeSignal() { std::signal(SIGXFSZ, SIG_IGN); }

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

}  // namespace platform
