#include "platform/clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

TEST(Clock, VirtualClockMovesOnlyWhenAdvancedAndNeverStepsBack) {
  const uint32_t before = platform::timeGetTime();
  platform::useVirtualClock();
  const uint32_t start = platform::timeGetTime();
  EXPECT_GE(static_cast<int32_t>(start - before), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(platform::timeGetTime(), start);
  platform::advanceVirtualClock(10000);
  EXPECT_EQ(platform::timeGetTime(), start + 10000);
  platform::useRealClock();
  // Ten virtual seconds ran ahead of the real clock; the real clock carries on from there.
  EXPECT_GE(static_cast<int32_t>(platform::timeGetTime() - (start + 10000)), 0);
  EXPECT_FALSE(platform::isVirtualClock());
}
