#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

TEST(ThreadSignals, OneSetReleasesOneWaitAlsoOnAThreadThatStartsOnlyOnce) {
  platform::AutoResetEvent event;
  EXPECT_FALSE(event.waitFor(0));
  event.set();
  event.set();  // sets do not count up: two release a single wait
  EXPECT_TRUE(event.waitFor(0));
  EXPECT_FALSE(event.waitFor(0));

  // The waiter wakes and sees what was written before the set; the thread reports its end.
  platform::Thread thread;
  int shared = 0;
  ASSERT_TRUE(thread.start([&] {
    event.wait();
    shared += 1;
  }));
  EXPECT_TRUE(thread.isRunning());
  EXPECT_FALSE(thread.start([&] { shared += 100; }));
  shared = 41;
  event.set();
  thread.join();
  EXPECT_EQ(shared, 42);
  EXPECT_TRUE(thread.hasFinished());
  EXPECT_FALSE(thread.isRunning());
}

TEST(Mutex, TryLockOnAnotherThreadFailsOnlyWhileHeld) {
  platform::Mutex mutex;
  const auto tryElsewhere = [&mutex] {
    bool gotIt = false;
    std::thread([&] {
      if ((gotIt = mutex.tryLock())) mutex.unlock();
    }).join();
    return gotIt;
  };
  mutex.lock();
  EXPECT_FALSE(tryElsewhere());
  mutex.unlock();
  EXPECT_TRUE(tryElsewhere());
}

// An end signal ends the run at once only when nothing has moved for the longer of 5 s and
// three times the longest recent frame, and the run reached no mark and did no work over the
// judged window; every other signal is absorbed, however many come, and one seen only working is told so.
TEST(EndSignals, OnlyARunWithoutProgressOrWorkForItsBoundIsEndedAtOnce) {
  using platform::EndSignalAction;
  using platform::WatchedWork;
  const WatchedWork idle{false, 0}, marked{true, 0}, busy{false, 800000}, stopped{false, 400};
  struct Case {
    int64_t signalMs, lastProgressMs;
    std::vector<int64_t> framesMs;
    const WatchedWork* watched;
    EndSignalAction action;
  };
  const Case cases[] = {
      {100, 0, {}, nullptr, EndSignalAction::Absorb},                // a burst at the start
      {2200, 0, {16, 16}, nullptr, EndSignalAction::Absorb},         // past the old 2 s
      {4999, 0, {16}, nullptr, EndSignalAction::Absorb},
      {5000, 0, {16}, nullptr, EndSignalAction::Watch},              // the floor: watched first
      {5000, 0, {16}, &idle, EndSignalAction::EndAtOnce},            // a stopped server, a held pipe
      {5000, 0, {16}, &stopped, EndSignalAction::EndAtOnce},         // a stuck run's own crumbs
      {10000, 7000, {16}, nullptr, EndSignalAction::Absorb},         // a save's block moved it on
      {6000, 0, {16, 2200, 30}, nullptr, EndSignalAction::Absorb},   // slow frames stretch the bound
      {6600, 0, {2200, 16}, &idle, EndSignalAction::EndAtOnce},
      {12000, 0, {}, &busy, EndSignalAction::AbsorbWorking},         // a first frame drawing a big load
      {9000, 1000, {16}, &busy, EndSignalAction::AbsorbWorking},     // a long copy or build, no mark
      {7100, 0, {16}, &marked, EndSignalAction::Absorb},             // a stopped job resumed: a frame ends
  };
  for (const Case& c : cases)
    EXPECT_EQ(platform::decideEndSignal(c.signalMs, c.lastProgressMs, c.framesMs.data(), c.framesMs.size(),
                                        c.watched),
              c.action)
        << c.signalMs << " ms, progress at " << c.lastProgressMs;
}

// A signal is judged on the other threads' work over the last few seconds: the window starts at the
// newest sample old enough, which a burst of signals never pushes out, and the CPU time counted is
// theirs, not the judging thread's.
TEST(EndSignals, TheWindowCountsTheLastSecondsOfOtherThreadsWork) {
  platform::WorkWindow window;
  EXPECT_EQ(window.usedOver(0, 0, platform::kJudgedWindowMs), -1);
  for (int64_t ms = 0; ms <= 2500; ms += platform::kSampleMs) window.sample(ms, ms * 10);
  EXPECT_EQ(window.usedOver(2900, 40000, 3000), -1);  // a close only just begun: no answer yet
  EXPECT_EQ(window.usedOver(3000, 40000, 3000), 40000);
  for (int64_t ms = 3000; ms < 3200; ms += 10) window.sample(ms, 30000);  // a held Ctrl-C
  EXPECT_EQ(window.usedOver(3600, 40000, 3000), 35000);                  // from the sample at 500
  for (int64_t ms = 3500; ms <= 40000; ms += platform::kSampleMs) window.sample(ms, ms);
  EXPECT_EQ(window.usedOver(40100, 50000, 3000), 50000 - 37000);          // the ring wrapped

  std::atomic<bool> done{false};
  std::thread worker([&] {
    while (!done.load()) {
    }
  });
  // On a loaded machine the spinner may get little time: it is watched until it shows.
  const int64_t before = platform::otherThreadsCpuUs();
  for (int k = 0; k < 1000 && platform::otherThreadsCpuUs() - before < platform::kWorkingCpuUs; ++k)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  done = true;
  worker.join();
  EXPECT_GE(platform::otherThreadsCpuUs() - before, platform::kWorkingCpuUs);

  const int64_t quiet = platform::otherThreadsCpuUs();
  for (auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(50); std::chrono::steady_clock::now() < end;) {
  }
  EXPECT_LT(platform::otherThreadsCpuUs() - quiet, platform::kWorkingCpuUs);  // the caller's own spin
}
