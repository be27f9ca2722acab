#include "platform/output.h"

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "support/program_process.h"

// A program whose output nobody reads (a paused pager: the pipe is full before it starts) prints
// far more than the relay holds without waiting; once the output is read again, the lines kept
// come out in order, each gap told by a count line before the next line that got through, or
// at the end.
TEST(OutputRelay, AFullOutputNeverHoldsThePrinterAndDropsAreCounted) {
  int output[2], printed[2];
  ASSERT_EQ(::pipe(output), 0);
  ASSERT_EQ(::pipe(printed), 0);
  const size_t filled = fillPipe(output[1]);
  constexpr int kLines = 100000;
  if (::fork() == 0) {
    ::dup2(output[1], 1);
    ::dup2(output[1], 2);
    std::setvbuf(stdout, nullptr, _IONBF, 0);  // as the program prints: a line a write
    if (!platform::startOutputRelay()) ::_exit(2);
    // Both streams, one file: they share the relay and keep their order.
    for (int i = 0; i < kLines; ++i) std::fprintf(i % 2 ? stdout : stderr, "line %d\n", i);
    ::close(printed[1]);  // the parent sees its end: all printed
    platform::drainOutput(60000);
    ::_exit(0);
  }
  ::close(output[1]);
  ::close(printed[1]);
  pollfd done = {printed[0], POLLIN, 0};
  ASSERT_EQ(::poll(&done, 1, 60000), 1) << "the printer waited for its output";  // a safety limit only

  std::string text;
  char piece[65536];
  for (ssize_t got; (got = ::read(output[0], piece, sizeof piece)) > 0;) text.append(piece, static_cast<size_t>(got));
  ::wait(nullptr);
  ASSERT_EQ(text.find_first_not_of('.'), filled);
  int next = 0, drops = 0;
  std::string line;
  for (size_t at = filled, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
    line = text.substr(at, end - at);
    int count = 0;
    if (std::sscanf(line.c_str(), "(%d lines were dropped: the output did not take them)", &count) == 1) {
      next += count;
      ++drops;
    } else {
      EXPECT_EQ(line, "line " + std::to_string(next++));
    }
  }
  EXPECT_EQ(next, kLines);
  EXPECT_GE(drops, 1);
}
