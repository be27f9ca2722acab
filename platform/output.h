#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Standard output and standard error are handed to pipes of the program's own: one thread drains
// each pipe into a bounded queue and another writes the queue out to where the streams pointed.
// So no thread that draws, saves or ends the run ever waits for an output that does not take its
// lines (a paused pager, a terminal nobody reads, a hung file system). Lines that do not fit are
// dropped, and the next line that gets through is preceded by one saying how many were. Streams
// that are one file (`> log 2>&1`, a terminal) share one queue, so their lines keep their order.
// Call once, early in main, before the threads that print start. False when it could not be set
// up: the streams then stay as they were.
bool startOutputRelay();

// Hands one line (with its "\n") to standard output's queue without waiting: for a thread that
// must never block on a stream. Dropped, and counted, when it does not fit; without the relay it
// is written only when the output can take it at once.
void offerLine(const char* text, size_t size);

// Gives the outputs at most limitMs to take what was printed so far; returns sooner once they
// have. Without the relay it returns at once.
void drainOutput(uint32_t limitMs);

// How long the end of the process gives the outputs.
constexpr uint32_t kEndOutputMs = 1000;

// Ends the process with status, without static destructors (other threads may still use what
// they free), once the outputs had kEndOutputMs to take what is left.
[[noreturn]] void endProcess(int status);

}  // namespace platform
