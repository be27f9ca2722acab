#include "platform/output.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

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

// A child that prints a line on each stream, both to a regular file, then crashes or exits: the
// lines that used to die with the process in the pipe or the queue reach the file, in order, and so
// does what the end itself prints, up to its last line: a sanitizer's report arrives whole,
// LeakSanitizer's at exit too, after main's last drain.
TEST(OutputRelay, TheLastLinesOfACrashOrAnExitReachAFile) {
  struct Row {
    const char* child;
    const char* how;
    int signal, exitCode;
    const char* last;         // the last text the output must hold
    const char* knob = "";    // a setting of the test library, linked into the plain child
  };
  const char* const kLines = "a line on stdout\na line on stderr\n";
  const Row rows[] = {
      {RELAY_CHILD, "abort", SIGABRT, 0, kLines},
      {RELAY_CHILD, "null-write", SIGSEGV, 0, kLines},
      {RELAY_CHILD, "throw-in-thread", SIGABRT, 0,
       "terminate called after throwing an instance of 'std::runtime_error'\n  what():  thrown in a thread\n"},
      {RELAY_CHILD, "exit-3", 0, 3, kLines},
      // A helper that cannot start: the lines go straight to the file.
      {RELAY_CHILD, "no-helper", 0, 0, kLines, "TRESSLET_TEST_FAIL_EVENTFD=1"},
      // A stopped helper and a printer blocked on the full pipe: a stuck run still ends in time.
      {RELAY_CHILD, "end-while-printing", SIGTERM, 0, kLines},
      {RELAY_CHILD_ASAN, "heap-overflow", 0, 1, "SUMMARY: AddressSanitizer: heap-buffer-overflow"},
      // Last: a LeakSanitizer that cannot run here skips the rest.
      {RELAY_CHILD_ASAN, "leak", 0, 1, "SUMMARY: AddressSanitizer: 4096 byte(s) leaked in 1 allocation(s).\n"},
  };
  ::setenv("ASAN_OPTIONS", "handle_segv=0:detect_leaks=1", 1);  // a sanitized child dies of the signal too
  ::setenv("TSAN_OPTIONS", "handle_segv=0", 1);  // the thread sanitizer's too, not with its own status
  const std::string path = testing::TempDir() + "relay_child_" + std::to_string(::getpid()) + ".out";
  for (const Row& row : rows) {
    if (!*row.child) continue;  // no AddressSanitizer child in a build sanitized otherwise
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int out = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      ::dup2(out, 1);
      ::dup2(out, 2);
      if (*row.knob) ::putenv(const_cast<char*>(row.knob));
      ::execl(row.child, row.child, row.how, static_cast<char*>(nullptr));
      ::_exit(127);
    }
    int status = 0;
    pid_t ended = 0;
    for (auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);  // a safety limit only
         (ended = ::waitpid(pid, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < limit;)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (ended == 0) {
      ::kill(pid, SIGKILL);
      ::waitpid(pid, &status, 0);
    }
    {
      // A helper the child stopped writes on once resumed.
      std::ifstream file(path);
      const std::string text(std::istreambuf_iterator<char>(file), {});
      int helper = 0;
      const size_t at = text.find("\nhelper ");
      if (at != std::string::npos && std::sscanf(text.c_str() + at, "\nhelper %d", &helper) == 1 && helper > 0)
        ::kill(helper, SIGCONT);
    }
    EXPECT_NE(ended, 0) << row.how << ": still running";
    // The helper writes on after the child is gone: wait for what it must write (a safety limit only).
    std::string text;
    auto holdsAll = [&] {
      std::ifstream file(path);
      text.assign(std::istreambuf_iterator<char>(file), {});
      return text.find(kLines) != std::string::npos && text.find(row.last) != std::string::npos;
    };
    for (auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         !holdsAll() && std::chrono::steady_clock::now() < limit;)
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    if (text.find("LeakSanitizer has encountered a fatal error") != std::string::npos)
      GTEST_SKIP() << "LeakSanitizer cannot run here (it needs ptrace):\n" << text;
    EXPECT_TRUE(holdsAll()) << row.how << "\n" << text;
    EXPECT_TRUE(row.signal ? WIFSIGNALED(status) && WTERMSIG(status) == row.signal
                           : WIFEXITED(status) && WEXITSTATUS(status) == row.exitCode) << row.how << ": " << status;
  }
  std::remove(path.c_str());
}
