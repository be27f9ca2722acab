#include "fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace {

void removeFuzzFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(fuzzFolder(), ignored);
}

}  // namespace

const std::string& fuzzFolder() {
  static const std::string folder = [] {
    std::string pattern = (std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "/tmp");
    pattern += "/tresslet_fuzz_XXXXXX";
    if (!mkdtemp(pattern.data())) std::abort();
    return pattern + "/";
  }();
  static const bool removedAtExit = std::atexit(removeFuzzFolder) == 0;
  (void)removedAtExit;
  return folder;
}

std::string writeFuzzFile(const std::string& name, const uint8_t* data, size_t size) {
  const std::string path = fuzzFolder() + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  if (!out) std::abort();
  return path;
}

void silenceStandardOutput() {
  if (!std::freopen("/dev/null", "w", stdout)) std::abort();
}
