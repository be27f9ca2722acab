#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace platform {

FolderResult createFolder(const std::string& path) {
  if (path.empty()) return FolderResult::Failed;
  if (::mkdir(path.c_str(), 0755) == 0) return FolderResult::Created;
  return errno == EEXIST ? FolderResult::AlreadyExists : FolderResult::Failed;
}

bool isFolder(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

bool isReadableFile(const std::string& path) {
  struct stat info;
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), R_OK) == 0;
}

bool pathExists(const std::string& path) {
  struct stat info;
  // A dangling link or an unreadable folder on the way still stands for something.
  return ::lstat(path.c_str(), &info) == 0 || (errno != ENOENT && errno != ENOTDIR);
}

bool listFolder(const std::string& folder, std::vector<std::string>& names) {
  names.clear();
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return false;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  ::closedir(dir);
  std::sort(names.begin(), names.end());
  return true;
}

std::vector<std::string> listFilesByEnding(const std::string& folder, const std::string& ending) {
  std::vector<std::string> names;
  std::vector<std::string> files;
  if (!listFolder(folder, names)) return files;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  for (const std::string& name : names) {
    if (name.size() < ending.size() ||
        name.compare(name.size() - ending.size(), ending.size(), ending) != 0)
      continue;
    struct stat info;
    if (::stat((prefix + name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) files.push_back(name);
  }
  return files;
}

bool moveAside(const std::string& path, const std::string& ending, std::string& movedTo) {
  movedTo.clear();
  for (int n = 0; n < 100; ++n) {
    const std::string target = path + ending + (n == 0 ? std::string() : std::to_string(n));
    struct stat info;
    if (::lstat(target.c_str(), &info) == 0 || errno != ENOENT) continue;
    if (::rename(path.c_str(), target.c_str()) != 0) return false;
    movedTo = target;
    return true;
  }
  return false;
}

}  // namespace platform
