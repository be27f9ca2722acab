#include "platform/clock.h"

#include <atomic>
#include <chrono>

namespace platform {
namespace {

std::atomic<bool> g_virtual{false};
std::atomic<uint32_t> g_virtualNow{0};
// Added to the steady clock after a virtual run, so time never steps back.
std::atomic<uint32_t> g_realOffset{0};

uint32_t steadyMilliseconds() {
  using namespace std::chrono;
  static const steady_clock::time_point start = steady_clock::now();
  // Start well above zero so "time of last event = 0" never looks recent.
  const auto ms = duration_cast<milliseconds>(steady_clock::now() - start).count();
  return static_cast<uint32_t>(ms + 100000) + g_realOffset.load();
}

}  // namespace

uint32_t timeGetTime() {
  return g_virtual.load() ? g_virtualNow.load() : steadyMilliseconds();
}

void useVirtualClock() {
  if (g_virtual.load()) return;
  g_virtualNow.store(steadyMilliseconds());
  g_virtual.store(true);
}

void advanceVirtualClock(uint32_t milliseconds) { g_virtualNow.fetch_add(milliseconds); }

void useRealClock() {
  if (!g_virtual.load()) return;
  const uint32_t virtualNow = g_virtualNow.load();
  const uint32_t real = steadyMilliseconds();
  if (static_cast<int32_t>(virtualNow - real) > 0) g_realOffset.fetch_add(virtualNow - real);
  g_virtual.store(false);
}

bool isVirtualClock() { return g_virtual.load(); }

}  // namespace platform
