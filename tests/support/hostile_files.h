#pragma once
#include <string>
#include <vector>

// What a hostile user puts in place of a message file the program reads and writes back: a
// good file with one misspelt field, binary bytes, a folder, a named pipe.
struct HostileFile {
  const char* kind;
  void (*make)(const std::string& path, const std::string& goodText);
};
const std::vector<HostileFile>& hostileFiles();

// What stands at path, to compare before and after a run: "missing", "folder", "pipe", or
// "file:" and its bytes.
std::string fingerprint(const std::string& path);
