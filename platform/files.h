#pragma once
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

enum class FolderResult { Created, AlreadyExists, Failed };

// Creates the last component of path only; its parent must exist. A folder (or anything else)
// already at path reports AlreadyExists, which callers treat as success. Failed leaves the
// system's reason in errno.
FolderResult createFolder(const std::string& path);

// True when path names an existing folder.
bool isFolder(const std::string& path);

// True when path names a file that can be opened for reading.
bool isReadableFile(const std::string& path);

// True when anything (file, folder, dangling link, entry behind an unreadable folder) is at
// path; false only when nothing is.
bool pathExists(const std::string& path);

// Names (not paths) of the folder's entries, "." and ".." left out, in byte order so a listing
// is the same on every run. False, with names empty, when the folder cannot be listed.
bool listFolder(const std::string& folder, std::vector<std::string>& names);

// Names of the folder's regular files whose name ends with ending (".txt"), in byte order.
std::vector<std::string> listFilesByEnding(const std::string& folder, const std::string& ending);

// Replaces the file at a path whole or not at all. The bytes go to a temporary file in the same
// folder (hidden, never ending in ".txt", so listings of painting files skip it), which commit()
// syncs and renames over the target; a replacement dropped without commit() leaves the old file
// as it was and removes the temporary. A new file gets mode 0644, a replaced one keeps its mode;
// a link is followed to the file it names. Devices and pipes are written through as opened.
// A folder, a read-only file or a folder that refuses the temporary gives no descriptor.
class FileReplacement {
 public:
  explicit FileReplacement(const std::string& path);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // The descriptor to write to, -1 when the target cannot be replaced.
  int fd() const { return m_fd; }
  // Writes all of size bytes, retrying short writes; false on any failure.
  bool write(const char* data, size_t size);
  // Syncs, closes and renames into place; false, with the old file untouched, on any failure.
  bool commit();
  // Why the replacement failed, as the system says it, ready to end a failure line:
  // " (No space left on device)"; empty while nothing has failed, and for a missing folder,
  // which the callers' "not found" already says.
  std::string reason() const;

 private:
  void abandon();
  // Keeps the errno of the first failing step.
  void fail(int error);

  // What is written beyond this is synced before more follows.
  static constexpr uint64_t kSyncPartBytes = 4u << 20;

  int m_fd = -1;
  int m_error = 0;
  bool m_inPlace = false;
  uint64_t m_written = 0;
  uint64_t m_synced = 0;
  std::string m_target;
  std::string m_temporary;
};

// Removes from folder the temporaries FileReplacement left behind in processes that have ended
// (".~NAME.PID.N.tmp" regular files whose PID runs no process); those of running processes and
// every other entry stay. Returns how many were removed.
int removeStaleTemporaries(const std::string& folder);

// Renames whatever is at path to path + ending, or path + ending + "1", "2", ... when that name
// is taken, so nothing is ever renamed over. False when nothing could be moved; `movedTo` then
// stays empty.
bool moveAside(const std::string& path, const std::string& ending, std::string& movedTo);

}  // namespace platform
