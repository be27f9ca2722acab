#include "platform/system.h"

#include <gtest/gtest.h>

#include <thread>

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
