// For the output relay's tests: starts the relay, prints a line on each stream, then ends as its
// argument says. What it printed must reach the output however it ended.
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

#include "platform/output.h"

// A block nobody points at any more when the process ends.
__attribute__((noinline)) static void leak() {
  char* volatile block = static_cast<char*>(std::malloc(4096));
  block = nullptr;
}

int main(int argc, char** argv) {
  const rlimit noCore = {0, 0};
  ::setrlimit(RLIMIT_CORE, &noCore);  // the crashes leave no core files behind
  if (!platform::startOutputRelay()) return 2;
  std::setvbuf(stdout, nullptr, _IONBF, 0);  // as the program prints
  std::printf("a line on stdout\n");
  std::fprintf(stderr, "a line on stderr\n");
  const std::string how = argc > 1 ? argv[1] : "";
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
  std::fprintf(stderr, "unknown way to end: '%s' (abort, null-write, throw-in-thread, exit-3, heap-overflow, leak)\n",
               how.c_str());
  return 2;
}
