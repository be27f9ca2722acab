#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// A folder of this process's own under the temporary folder, made once; ends in "/".
const std::string& fuzzFolder();

// Writes the fuzzer's bytes to fuzzFolder() + name, whole; returns the path.
std::string writeFuzzFile(const std::string& name, const uint8_t* data, size_t size);

// The code under test reports on standard output at every bad input; that would drown the
// fuzzer's own lines and slow it down. Call once from LLVMFuzzerInitialize.
void silenceStandardOutput();

// A broken promise of the code under test: abort, so the fuzzer keeps the input.
#define FUZZ_REQUIRE(condition) \
  do {                          \
    if (!(condition)) __builtin_trap(); \
  } while (0)
