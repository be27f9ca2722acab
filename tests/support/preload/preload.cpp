// Bends a few system and window-system calls on request, for tests that need what a healthy
// machine never gives them. Whole-program tests LD_PRELOAD it into the program; the platform tests
// link it directly. Each knob is an environment variable read at every call (an in-process test
// sets and unsets it between steps); without it a function forwards to the real one.
//
// TRESSLET_TEST_FAIL_SYNC="TRIGGER|SUBSTRING|CALL": while the file TRIGGER exists, the next CALL
//   (sync_file_range when absent; fsync, fdatasync, close or rename) about a path that contains
//   SUBSTRING (a descriptor's, or rename's old path) fails with EIO and TRIGGER is removed. So a
//   disk reports a write-back error: once, and never again to the fsync after. A failing close
//   still releases the descriptor, as Linux's does; a failing rename renames nothing.
// TRESSLET_TEST_DISK_RATE="BYTES_PER_SECOND" (TRESSLET_TEST_DISK_PATH="SUBSTRING" limits it to
//   those paths): a slow disk. A sync_file_range that waits sleeps for the bytes of its range not
//   yet waited for in that file, fsync and fdatasync for the rest of the file, without CPU.
//   tressletTestLargestDiskWait() gives the most bytes one call waited for.
// TRESSLET_TEST_NO_EXPOSE=1: XNextEvent turns an Expose event into a NoExpose one: the program
//   never sees a paint.
// TRESSLET_TEST_BUSY_FRAME_MS=N: the first glXSwapBuffers prints "busy frame of N ms", then spins
//   on the CPU for N ms: a frame of seconds of work without a step. With
//   TRESSLET_TEST_IDLE_FRAME_MS=M it then sleeps M ms more, off the CPU (a swap waiting for a busy
//   server). With TRESSLET_TEST_BUSY_FRAME_TRIGGER=PATH the frame is the first once PATH exists.
//   With TRESSLET_TEST_STOP_IN_IDLE=1 the process stops itself (SIGSTOP) halfway through that wait.
// TRESSLET_TEST_STOP_AT_WAKE=TRIGGER: the next sigtimedwait once the file TRIGGER exists stops the
//   process (SIGSTOP) as it begins, and removes TRIGGER: a stop just after the signals' thread
//   sampled its wake.
// TRESSLET_TEST_FAIL_EVENTFD=1: eventfd fails with EMFILE (a process out of descriptors).
//
// Neither X11 nor GL is included: their calls take opaque pointers, and an XEvent starts with its
// type.
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <utility>

namespace {

// The real function, after this library.
template <typename Function>
Function real(const char* name) {
  return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

const char* knob(const char* name) {
  const char* value = ::getenv(name);
  return value && *value ? value : nullptr;
}

uint64_t numberKnob(const char* name) {
  const char* value = knob(name);
  return value ? ::strtoull(value, nullptr, 10) : 0;
}

bool pathContains(int fd, const char* part) {
  char link[64], path[4096];
  ::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  const ssize_t length = ::readlink(link, path, sizeof path - 1);
  if (length < 0) return false;
  path[length] = '\0';
  return ::strstr(path, part) != nullptr;
}

// Whether this call of `call` about `fd` (or, fd < 0, about `path`) is the one to fail.
bool failThisCall(const char* call, int fd, const char* path = nullptr) {
  const char* value = knob("TRESSLET_TEST_FAIL_SYNC");
  const char* bar = value ? ::strchr(value, '|') : nullptr;
  if (!bar) return false;
  const char* callBar = ::strchr(bar + 1, '|');
  const std::string part = callBar ? std::string(bar + 1, callBar) : std::string(bar + 1);
  if (::strcmp(callBar ? callBar + 1 : "sync_file_range", call) != 0) return false;
  const std::string trigger(value, static_cast<size_t>(bar - value));
  const bool about = fd >= 0 ? pathContains(fd, part.c_str()) : path && ::strstr(path, part.c_str());
  // Of two calls at once only the one whose unlink removes the trigger fails.
  return ::access(trigger.c_str(), F_OK) == 0 && about && ::unlink(trigger.c_str()) == 0;
}

// The emulated disk: per file, how far it has been waited for (a save waits in order), and the
// most bytes one call waited for. Never destroyed: a sync may come after static destructors.
struct Disk {
  std::mutex lock;
  std::map<std::pair<dev_t, ino_t>, uint64_t> waitedTo;
  size_t largestWait = 0;
};
Disk& disk() {
  static Disk* s_disk = new Disk;
  return *s_disk;
}

// Sleeps off the CPU, signals or not.
void sleepNs(uint64_t ns) {
  timespec left{static_cast<time_t>(ns / 1000000000ull), static_cast<long>(ns % 1000000000ull)};
  while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
  }
}

// Sleeps for the bytes of [from, from + count) (count 0: to the end of the file) not waited for.
void waitForDisk(int fd, uint64_t from, uint64_t count) {
  const uint64_t rate = numberKnob("TRESSLET_TEST_DISK_RATE");
  const char* part = knob("TRESSLET_TEST_DISK_PATH");
  struct stat info {};
  if (rate == 0 || (part && !pathContains(fd, part)) || ::fstat(fd, &info) != 0) return;
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  const uint64_t end = count == 0 ? size : std::min(size, from + count);
  uint64_t bytes = 0;
  {
    std::lock_guard<std::mutex> hold(disk().lock);
    uint64_t& waited = disk().waitedTo[{info.st_dev, info.st_ino}];
    if (end > waited) bytes = end - std::max(waited, from);
    waited = std::max(waited, end);
    disk().largestWait = std::max<size_t>(disk().largestWait, bytes);
  }
  sleepNs(bytes * 1000000000ull / rate);
}

// fsync or fdatasync: the real call, then the wait for the rest of the file.
int syncWhole(const char* call, int (*next)(int), int fd) {
  if (failThisCall(call, fd)) {
    errno = EIO;
    return -1;
  }
  const int result = next(fd);
  const int error = errno;
  if (result == 0) waitForDisk(fd, 0, 0);
  errno = error;
  return result;
}

}  // namespace

extern "C" {

size_t tressletTestLargestDiskWait(void) {
  std::lock_guard<std::mutex> hold(disk().lock);
  return disk().largestWait;
}

void tressletTestResetDisk(void) {
  std::lock_guard<std::mutex> hold(disk().lock);
  disk().waitedTo.clear();
  disk().largestWait = 0;
}

int sync_file_range(int fd, off64_t offset, off64_t nbytes, unsigned int flags) {
  static const auto next = real<int (*)(int, off64_t, off64_t, unsigned int)>("sync_file_range");
  if (failThisCall("sync_file_range", fd)) {
    errno = EIO;
    return -1;
  }
  const int result = next(fd, offset, nbytes, flags);
  const int error = errno;
  if (result == 0 && (flags & SYNC_FILE_RANGE_WAIT_AFTER) && offset >= 0 && nbytes >= 0)
    waitForDisk(fd, static_cast<uint64_t>(offset), static_cast<uint64_t>(nbytes));
  errno = error;
  return result;
}

int fsync(int fd) {
  static const auto next = real<int (*)(int)>("fsync");
  return syncWhole("fsync", next, fd);
}

int fdatasync(int fd) {
  static const auto next = real<int (*)(int)>("fdatasync");
  return syncWhole("fdatasync", next, fd);
}

// Looked up as the library loads: the first close may come in a child forked from a threaded
// process, which cannot safely look a symbol up. A close before that looks it up itself.
static int (*const s_nextClose)(int) = real<int (*)(int)>("close");

int close(int fd) {
  const auto next = s_nextClose ? s_nextClose : real<int (*)(int)>("close");
  // Asked before the descriptor goes, with its path.
  const bool fail = failThisCall("close", fd);
  const int result = next(fd);
  if (!fail) return result;
  errno = EIO;
  return -1;
}

int rename(const char* from, const char* to) {
  static const auto next = real<int (*)(const char*, const char*)>("rename");
  if (failThisCall("rename", -1, from)) {
    errno = EIO;
    return -1;
  }
  return next(from, to);
}

int XNextEvent(void* display, int* event) {
  static const auto next = real<int (*)(void*, int*)>("XNextEvent");
  const int result = next(display, event);
  constexpr int kExpose = 12, kNoExpose = 14;
  if (knob("TRESSLET_TEST_NO_EXPOSE") && event && *event == kExpose) *event = kNoExpose;
  return result;
}

int eventfd(unsigned int initial, int flags) {
  static const auto next = real<int (*)(unsigned int, int)>("eventfd");
  if (knob("TRESSLET_TEST_FAIL_EVENTFD")) {
    errno = EMFILE;
    return -1;
  }
  return next(initial, flags);
}

int sigtimedwait(const sigset_t* set, siginfo_t* info, const struct timespec* timeout) {
  static const auto next = real<int (*)(const sigset_t*, siginfo_t*, const struct timespec*)>("sigtimedwait");
  const char* trigger = knob("TRESSLET_TEST_STOP_AT_WAKE");
  if (trigger && ::access(trigger, F_OK) == 0 && ::unlink(trigger) == 0) ::kill(::getpid(), SIGSTOP);
  return next(set, info, timeout);
}

void glXSwapBuffers(void* display, unsigned long drawable) {
  static const auto next = real<void (*)(void*, unsigned long)>("glXSwapBuffers");
  static std::atomic<bool> spun{false};
  const uint64_t ms = numberKnob("TRESSLET_TEST_BUSY_FRAME_MS");
  const char* trigger = knob("TRESSLET_TEST_BUSY_FRAME_TRIGGER");
  if (ms > 0 && (!trigger || ::access(trigger, F_OK) == 0) && !spun.exchange(true)) {
    const std::string line = "busy frame of " + std::to_string(ms) + " ms\n";
    if (::write(1, line.data(), line.size()) < 0) {
    }
    timespec start{}, now{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    do {
      ::clock_gettime(CLOCK_MONOTONIC, &now);
    } while ((now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000 < static_cast<int64_t>(ms));
    const uint64_t idleNs = numberKnob("TRESSLET_TEST_IDLE_FRAME_MS") * 1000000;
    sleepNs(idleNs / 2);
    if (knob("TRESSLET_TEST_STOP_IN_IDLE")) ::kill(::getpid(), SIGSTOP);
    sleepNs(idleNs - idleNs / 2);
  }
  next(display, drawable);
}

}  // extern "C"
