#pragma once
#include <cstdint>

namespace platform {

// Milliseconds on a monotonic clock, wrapping at 2^32 like a 32-bit system tick.
// Stands in for the multimedia timer: callers only ever subtract two readings.
uint32_t timeGetTime();

// Replay seam. After useVirtualClock the clock stands still at its current reading and moves
// only by advanceVirtualClock, so a replayed session sees the same times on every run.
// useRealClock returns to the steady clock, never reading earlier than the virtual clock did.
void useVirtualClock();
void advanceVirtualClock(uint32_t milliseconds);
void useRealClock();
bool isVirtualClock();

}  // namespace platform
