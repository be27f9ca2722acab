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
// a link is followed to the file it names. Devices and pipes are written through as opened,
// never synced. A folder, a read-only file or a folder that refuses the temporary gives no
// descriptor.
//
// No blocking call of a save covers more than about a second of the disk's measured speed, and a
// progress mark follows each, so a slow disk is never taken for a stuck run: bytes are written in
// parts, each part's write-back is started as soon as it is complete and waited for one part
// later (the disk sees one long write), and a part is sized by how long the one before took.
// Every sync is checked: the kernel reports a write-back error once, to the first sync that asks,
// so a failed part fails the save even when the final fsync would succeed. A failure of any step
// removes the temporary at once and leaves the old file as it was.
class FileReplacement {
 public:
  explicit FileReplacement(const std::string& path);
  ~FileReplacement();
  FileReplacement(const FileReplacement&) = delete;
  FileReplacement& operator=(const FileReplacement&) = delete;

  // The descriptor to write to, -1 when the target cannot be replaced or a step has failed.
  int fd() const { return m_fd; }
  // Writes all of size bytes, retrying short writes, syncing the parts it completes; false on any
  // failure of the write or of a part's sync, the temporary then gone.
  bool write(const char* data, size_t size);
  // Waits for the parts still on their way, syncs, closes and renames into place; false, with the
  // old file untouched and the temporary gone, on any failure.
  bool commit();
  // Why the replacement failed, as the system says it, ready to end a failure line:
  // " (No space left on device)", " (Input/output error)" for a failed write-back; empty while
  // nothing has failed, and for a missing folder, which the callers' "not found" already says.
  std::string reason() const;

 private:
  void abandon();
  // Keeps the errno of the first failing step.
  void fail(int error);
  // Keeps error, removes the temporary; always false, for returning.
  bool failSave(int error);
  // Starts the write-back of the complete part [m_started, m_written), then waits for the part
  // before it.
  bool startPart();
  // Waits until [m_synced, end) is on the disk and sizes the next part by how long that took.
  bool waitPart(uint64_t end);
  // sync_file_range over size bytes from offset; false (the save failed) on a write-back error.
  // A file system without range syncs turns part syncs off and counts as success.
  bool syncRange(uint64_t offset, uint64_t size, unsigned flags);

  // A part starts at kFirstPartBytes and aims at kPartTargetNs of the disk's time, growing at
  // most kPartGrowth times a step, within [kMinPartBytes, kMaxPartBytes], in whole pages.
  static constexpr uint64_t kFirstPartBytes = 64u << 10;
  static constexpr uint64_t kMinPartBytes = 4u << 10;
  static constexpr uint64_t kMaxPartBytes = 4u << 20;
  static constexpr uint64_t kPartGrowth = 4;
  static constexpr int64_t kPartTargetNs = 1000000000;

  int m_fd = -1;
  int m_error = 0;
  bool m_inPlace = false;
  // False once the file system said it has no range syncs: the final fsync alone then.
  bool m_partSyncs = true;
  uint64_t m_partBytes = kFirstPartBytes;
  uint64_t m_written = 0;  // bytes in the temporary
  uint64_t m_started = 0;  // write-back asked for up to here
  uint64_t m_synced = 0;   // on the disk up to here
  // Since when the disk has been at the part in flight (monotonic nanoseconds).
  int64_t m_inFlightSinceNs = 0;
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
