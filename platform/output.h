#pragma once
#include <cstddef>
#include <cstdint>

namespace platform {

// Standard output and standard error are handed to pipes read by a helper process, which queues
// their lines in a bounded queue and writes them out to where the streams pointed. So no thread
// that draws, saves or ends the run ever waits for an output that does not take its lines (a
// paused pager, a terminal nobody reads, a hung file system); and since the helper reads on until
// the program's last descriptor of the pipes is gone, the lines printed just before an abort, a
// crash, exit() or a sanitizer's report at exit still reach the output. Lines that do not fit are
// dropped, and the next line that gets through is preceded by one saying how many were. Streams
// that are one file (`> log 2>&1`, a terminal) share one pipe and queue, so their lines keep their
// order. The helper is a child of the program named "tresslet-output" in ps; killed, it takes the
// rest of the run's lines with it (the run itself goes on). Call first in main, before any thread
// starts (the helper is forked) and after SIGPIPE is ignored. False when it could not be set up,
// or the helper did not say it was relaying: the streams then stay as they were, and a thread of
// the program's own, with the same bounded queue, writes the lines offered by offerLine.
bool startOutputRelay();

// Writes one line (with its "\n") to standard output without waiting: for a thread that must never
// block on a stream. Into the helper's pipe, dropped when it is full; without the helper, into
// the queue of the program's own relay thread, dropped and counted when the queue is full (a
// file on a hung file system would hold a writer however ready it looks).
void offerLine(const char* text, size_t size);

// Gives the helper (without it, the program's own relay thread) at most limitMs to write out what
// was printed so far, a line still without its end included; returns sooner once it has. The
// streams stay with the relay: what is printed later (a leak report at exit) still reaches the
// output.
void drainOutput(uint32_t limitMs);

// How long the end of the process gives the outputs; the helper gives them as long once the
// program is gone.
constexpr uint32_t kEndOutputMs = 1000;

// Ends the process with status, without static destructors (other threads may still use what
// they free), once the outputs had kEndOutputMs to take what is left.
[[noreturn]] void endProcess(int status);

}  // namespace platform
