#include "platform/system.h"

#include <gtest/gtest.h>

#include <atomic>
#include <vector>

TEST(AutoResetEvent, OneSetReleasesOneWaitAndResets) {
  platform::AutoResetEvent event;
  EXPECT_FALSE(event.waitFor(0));
  // Sets do not count up: two sets before a wait release a single wait.
  event.set();
  event.set();
  EXPECT_TRUE(event.waitFor(0));
  EXPECT_FALSE(event.waitFor(0));
}

TEST(AutoResetEvent, WakesAWaiterOnAnotherThreadAndPublishesItsWrites) {
  platform::AutoResetEvent ready;
  platform::AutoResetEvent answer;
  int shared = 0;
  std::thread other([&] {
    ready.wait();
    shared += 1;
    answer.set();
  });
  shared = 41;
  ready.set();
  answer.wait();
  EXPECT_EQ(shared, 42);
  other.join();
}

TEST(Mutex, SerialisesThreadsAndRefusesTryLockWhileHeld) {
  platform::Mutex mutex;
  long counter = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t)
    threads.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        mutex.lock();
        ++counter;
        mutex.unlock();
      }
    });
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(counter, 80000);

  mutex.lock();
  bool gotIt = true;
  std::thread([&] { gotIt = mutex.tryLock(); }).join();
  mutex.unlock();
  EXPECT_FALSE(gotIt);
  std::thread([&] {
    gotIt = mutex.tryLock();
    if (gotIt) mutex.unlock();
  }).join();
  EXPECT_TRUE(gotIt);
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
