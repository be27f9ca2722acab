// For the output relay's tests: starts the relay, prints a line on each stream, then ends as its
// argument says. What it printed must reach the output however it ended.
#include <fcntl.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/output.h"
#include "platform/system.h"

// A block nobody points at any more when the process ends.
__attribute__((noinline)) static void leak() {
  char* volatile block = static_cast<char*>(std::malloc(4096));
  block = nullptr;
}

// The output helper: the program's only child.
static pid_t helperPid() {
  std::ifstream children("/proc/self/task/" + std::to_string(::getpid()) + "/children");
  int pid = -1;
  children >> pid;
  return pid;
}

int main(int argc, char** argv) {
  const rlimit noCore = {0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);  // the crashes leave no core files behind
  const std::string how = argc > 1 ? argv[1] : "";
  // A helper that cannot start leaves the streams as they were, and no child behind.
  if (platform::startOutputRelay() == (how == "no-helper")) return 2;
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // as the program prints
  std::printf("a line on stdout\n");
  std::fprintf(stderr, "a line on stderr\n");
  if (how == "no-helper") return ::waitpid(-1, nullptr, WNOHANG) < 0 && errno == ECHILD ? 0 : 4;
  if (how == "end-while-printing") {
    // The helper stops (a debugger holds it, or only the program was resumed): a thread blocks in
    // a printf on the full pipe, holding standard output, and a stuck run must still end.
    const pid_t helper = helperPid();
    std::printf("helper %d\n", static_cast<int>(helper));  // for the test, which resumes it after
    platform::drainOutput(platform::kEndOutputMs);
    ::kill(helper, SIGSTOP);
    std::thread([] { std::fputs((std::string(4 << 20, 'x') + "\n").c_str(), stdout); }).detach();
    for (int inPipe = 0; ::ioctl(1, FIONREAD, &inPipe) == 0 && inPipe < ::fcntl(1, F_GETPIPE_SZ);)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    platform::endAtOnce(SIGTERM);
  }
  volatile int* volatile nowhere = nullptr;
  if (how == "abort") std::abort();
  if (how == "null-write") *nowhere = 1;
  if (how == "throw-in-thread") std::thread([] { throw std::runtime_error("thrown in a thread"); }).join();
  if (how == "exit-3") std::exit(3);
  if (how == "heap-overflow") static_cast<volatile char*>(new char[8])[8] = 1;  // ends here with AddressSanitizer
  if (how == "leak") {
    leak();
    platform::drainOutput(platform::kEndOutputMs);  // as main ends: the report comes after
    return 0;
  }
  std::fprintf(stderr, "unknown way to end: '%s' (abort, null-write, throw-in-thread, exit-3, heap-overflow, leak, no-helper, end-while-printing)\n",
               how.c_str());
  return 2;
}
