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
// three times the longest recent frame, and the run, watched then, reached no mark and did no
// work; every other signal is absorbed, however many come, and one seen only working is told so.
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

// The watch counts the work of every other thread and any mark, not its own sleep.
TEST(EndSignals, TheWatchSeesOtherThreadsWorkAndMarks) {
  const platform::WatchedWork quiet = platform::watchForWork(100);
  EXPECT_FALSE(quiet.markMoved);
  EXPECT_LT(quiet.otherCpuUs, platform::kWorkingCpuUs);

  std::atomic<bool> done{false};
  std::thread worker([&] {
    while (!done.load()) {
    }
  });
  // On a loaded machine the spinner may get little of one watch: it is watched until it shows,
  // which a watch that missed other threads' time never sees.
  platform::WatchedWork busy;
  for (int watch = 0; watch < 100 && busy.otherCpuUs < platform::kWorkingCpuUs; ++watch)
    busy = platform::watchForWork(100);
  done = true;
  worker.join();
  EXPECT_GE(busy.otherCpuUs, platform::kWorkingCpuUs);

  std::thread marker([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    platform::noteProgress();
  });
  EXPECT_TRUE(platform::watchForWork(100).markMoved);
  marker.join();
}
