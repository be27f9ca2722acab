#include "support/hostile_files.h"

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace {

void writeBytes(const std::string& path, const std::string& bytes) {
  std::filesystem::create_directories(std::filesystem::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

const std::vector<HostileFile>& hostileFiles() {
  static const std::vector<HostileFile> files = {
      {"typo", [](const std::string& path, const std::string& good) {
         writeBytes(path, good + "misspelt_field: 1\n");
       }},
      {"binary", [](const std::string& path, const std::string&) {
         writeBytes(path, std::string("\x89PNG\r\n\x1a\n\0\0\0\rIHDR\xff\xfe", 18));
       }},
      {"folder", [](const std::string& path, const std::string&) {
         std::filesystem::create_directories(path);
       }},
      {"pipe", [](const std::string& path, const std::string&) {
         std::filesystem::create_directories(std::filesystem::path(path).parent_path());
         mkfifo(path.c_str(), 0644);
       }},
  };
  return files;
}

std::string fingerprint(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return "missing";
  if (S_ISDIR(info.st_mode)) return "folder";
  if (S_ISFIFO(info.st_mode)) return "pipe";
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return "file:" + bytes.str();
}
