#include "platform/system.h"

#include <gtest/gtest.h>

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
// three times the longest recent frame; every other signal is absorbed, however many come.
TEST(EndSignals, OnlyARunWithoutProgressForItsBoundIsEndedAtOnce) {
  using platform::EndSignalAction;
  struct Case {
    int64_t signalMs, lastProgressMs;
    std::vector<int64_t> framesMs;
    EndSignalAction action;
  };
  const Case cases[] = {
      {100, 0, {}, EndSignalAction::Absorb},                      // a burst at the start
      {2200, 0, {16, 16}, EndSignalAction::Absorb},               // past the old 2 s
      {4999, 0, {16}, EndSignalAction::Absorb},
      {5000, 0, {16}, EndSignalAction::EndAtOnce},                // the floor
      {10000, 7000, {16}, EndSignalAction::Absorb},               // a save's block moved it on
      {6000, 0, {16, 2200, 30}, EndSignalAction::Absorb},         // slow frames stretch the bound
      {6600, 0, {2200, 16}, EndSignalAction::EndAtOnce},
      {12000, 0, {}, EndSignalAction::EndAtOnce},                 // stuck before any frame
  };
  for (const Case& c : cases)
    EXPECT_EQ(platform::decideEndSignal(c.signalMs, c.lastProgressMs, c.framesMs.data(), c.framesMs.size()),
              c.action)
        << c.signalMs << " ms, progress at " << c.lastProgressMs;
}
