#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>

TEST(AutoResetEvent, OneSetReleasesOneWaitAlsoOnAnotherThread) {
  platform::AutoResetEvent event;
  EXPECT_FALSE(event.waitFor(0));
  // Sets do not count up: two sets before a wait release a single wait.
  event.set();
  event.set();
  EXPECT_TRUE(event.waitFor(0));
  EXPECT_FALSE(event.waitFor(0));

  // The waiter wakes and sees what was written before the set.
  platform::AutoResetEvent answer;
  int shared = 0;
  std::thread other([&] {
    event.wait();
    shared += 1;
    answer.set();
  });
  shared = 41;
  event.set();
  answer.wait();
  EXPECT_EQ(shared, 42);
  other.join();
}

TEST(Mutex, TryLockOnAnotherThreadFailsOnlyWhileHeld) {
  platform::Mutex mutex;
  const auto tryElsewhere = [&mutex] {
    bool gotIt = false;
    std::thread([&] {
      gotIt = mutex.tryLock();
      if (gotIt) mutex.unlock();
    }).join();
    return gotIt;
  };
  mutex.lock();
  EXPECT_FALSE(tryElsewhere());
  mutex.unlock();
  EXPECT_TRUE(tryElsewhere());
}

TEST(Thread, ReportsItsEndAndStartsOnlyOnce) {
  platform::AutoResetEvent release;
  platform::Thread thread;
  std::atomic<int> runs{0};
  ASSERT_TRUE(thread.start([&] {
    release.wait();
    ++runs;
  }));
  EXPECT_TRUE(thread.isRunning());
  EXPECT_FALSE(thread.hasFinished());
  EXPECT_FALSE(thread.start([&] { ++runs; }));
  release.set();
  thread.join();
  EXPECT_TRUE(thread.hasFinished());
  EXPECT_FALSE(thread.isRunning());
  EXPECT_EQ(runs.load(), 1);
}
