#include "platform/files.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "platform/system.h"

namespace platform {

FolderResult createFolder(const std::string& path) {
  if (path.empty()) {
    errno = ENOENT;
    return FolderResult::Failed;
  }
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

namespace {

// "dir/" for "dir/name", "" for a bare name.
std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates a fresh temporary file next to `target`; -1 when the folder refuses it.
int createTemporary(const std::string& target, std::string* temporary) {
  static std::atomic<unsigned> s_counter{0};
  const std::string folder = folderOf(target);
  // Short and hidden, and ending in ".tmp", so folder listings that pick up ".txt" files never
  // see it.
  const std::string base = target.substr(folder.size()).substr(0, 64);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary = folder + ".~" + base + "." + std::to_string(::getpid()) + "." +
                 std::to_string(s_counter.fetch_add(1)) + ".tmp";
    const int fd = ::open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Makes the rename itself durable; a folder that cannot be synced costs only durability.
void syncFolder(const std::string& target) {
  const std::string folder = folderOf(target);
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

FileReplacement::FileReplacement(const std::string& path) : m_target(path) {
  if (path.empty()) {
    fail(ENOENT);
    return;
  }
  struct stat existing {};
  const bool existed = ::stat(path.c_str(), &existing) == 0;
  if (!existed && errno != ENOENT) {
    fail(errno);
    return;
  }
  if (existed) {
    if (S_ISDIR(existing.st_mode)) {
      fail(EISDIR);
      return;
    }
    if (!S_ISREG(existing.st_mode)) {
      // Devices and pipes have nothing to replace.
      m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      if (m_fd < 0) fail(errno);
      m_inPlace = true;
      return;
    }
    // A file the user made read-only stays as it is.
    if (::access(path.c_str(), W_OK) != 0) {
      fail(errno);
      return;
    }
    // Replace the file a link points at, not the link.
    if (char* resolved = ::realpath(path.c_str(), nullptr)) {
      m_target = resolved;
      ::free(resolved);
    }
  }
  m_fd = createTemporary(m_target, &m_temporary);
  if (m_fd < 0) {
    fail(errno);
    m_temporary.clear();
  }
  // A replaced file keeps its permissions; best effort, the content matters more.
  if (m_fd >= 0 && existed) (void)::fchmod(m_fd, existing.st_mode & 07777);
}

FileReplacement::~FileReplacement() { abandon(); }

void FileReplacement::abandon() {
  if (m_fd >= 0) ::close(m_fd);
  m_fd = -1;
  if (!m_temporary.empty()) ::unlink(m_temporary.c_str());
  m_temporary.clear();
}

namespace {

int64_t monotonicNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Errors by which sync_file_range says it cannot serve this file, not that its data was lost.
bool rangeSyncUnsupported(int error) {
  return error == EINVAL || error == ESPIPE || error == ENOSYS || error == EOPNOTSUPP;
}

}  // namespace

bool FileReplacement::write(const char* data, size_t size) {
  if (m_fd < 0) return false;
  while (size > 0) {
    // Never past the end of the part being filled: on a slow disk with the page cache full a
    // write waits for the disk too, so it is bounded like a sync. Without part syncs (devices,
    // pipes) each write is a part of the last size.
    const uint64_t filling = !m_inPlace && m_partSyncs ? m_written - m_started : 0;
    const uint64_t room = m_partBytes - std::min(filling, m_partBytes - 1);
    const size_t piece = static_cast<size_t>(std::min<uint64_t>(size, room));
    const ssize_t written = ::write(m_fd, data, piece);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return failSave(written < 0 ? errno : EIO);
    data += written;
    size -= static_cast<size_t>(written);
    m_written += static_cast<uint64_t>(written);
    noteProgress();  // a long save is a healthy one while its blocks go out
    if (!m_inPlace && m_partSyncs && m_written - m_started >= m_partBytes && !startPart()) return false;
  }
  return true;
}

bool FileReplacement::startPart() {
  const uint64_t from = m_started;
  if (!syncRange(from, m_written - from, SYNC_FILE_RANGE_WRITE)) return false;
  if (!m_partSyncs) return true;
  m_started = m_written;
  noteProgress();
  if (m_synced == from) {
    // Nothing ahead of it: the disk is at this part from now.
    m_inFlightSinceNs = monotonicNs();
    return true;
  }
  // The disk gets to this part once the one before is done.
  return waitPart(from);
}

bool FileReplacement::waitPart(uint64_t end) {
  const uint64_t bytes = end - m_synced;
  if (!syncRange(m_synced, bytes,
                 SYNC_FILE_RANGE_WAIT_BEFORE | SYNC_FILE_RANGE_WRITE | SYNC_FILE_RANGE_WAIT_AFTER))
    return false;
  if (!m_partSyncs) return true;
  m_synced = end;
  const int64_t now = monotonicNs();
  const uint64_t tookNs = static_cast<uint64_t>(std::max<int64_t>(now - m_inFlightSinceNs, 1000));
  m_inFlightSinceNs = now;
  // The disk's speed as measured on this part, times the target.
  const uint64_t aimed =
      static_cast<uint64_t>(static_cast<double>(bytes) * kPartTargetNs / static_cast<double>(tookNs));
  const uint64_t part = std::min({aimed, m_partBytes * kPartGrowth, kMaxPartBytes});
  m_partBytes = std::max(part / kMinPartBytes * kMinPartBytes, kMinPartBytes);
  noteProgress();
  return true;
}

bool FileReplacement::syncRange(uint64_t offset, uint64_t size, unsigned flags) {
  if (size == 0) return true;
  int result;
  do {
    result = ::sync_file_range(m_fd, static_cast<off_t>(offset), static_cast<off_t>(size), flags);
  } while (result != 0 && errno == EINTR);
  if (result == 0) return true;
  if (rangeSyncUnsupported(errno)) {
    m_partSyncs = false;
    return true;
  }
  return failSave(errno);
}

bool FileReplacement::commit() {
  if (m_fd < 0) return false;
  if (m_inPlace) {
    const bool closed = ::close(m_fd) == 0;
    if (!closed) fail(errno);
    m_fd = -1;
    return closed;
  }
  // The part in flight, then the rest (less than a part) at once, so the fsync is short.
  if (m_partSyncs && m_synced < m_started && !waitPart(m_started)) return false;
  if (m_partSyncs && m_synced < m_written) {
    m_inFlightSinceNs = monotonicNs();
    m_started = m_written;
    if (!waitPart(m_written)) return false;
  }
  if (::fsync(m_fd) != 0) return failSave(errno);
  noteProgress();
  const int closed = ::close(m_fd);
  m_fd = -1;
  if (closed != 0) return failSave(errno);
  if (::rename(m_temporary.c_str(), m_target.c_str()) != 0) return failSave(errno);
  m_temporary.clear();
  syncFolder(m_target);
  noteProgress();
  return true;
}

namespace {

// The PID in ".~NAME.PID.N.tmp", 0 when name is not such a temporary.
pid_t temporaryOwner(const std::string& name) {
  const std::string prefix = ".~", ending = ".tmp";
  if (name.size() < prefix.size() + ending.size() + 5 || name.compare(0, 2, prefix) != 0 ||
      name.compare(name.size() - ending.size(), ending.size(), ending) != 0)
    return 0;
  const std::string stem = name.substr(0, name.size() - ending.size());
  const size_t counterDot = stem.rfind('.');
  if (counterDot == std::string::npos || counterDot + 1 == stem.size()) return 0;
  if (stem.find_first_not_of("0123456789", counterDot + 1) != std::string::npos) return 0;
  const size_t pidDot = stem.rfind('.', counterDot - 1);
  if (pidDot == std::string::npos || pidDot <= prefix.size() || pidDot + 1 == counterDot) return 0;
  const std::string pid = stem.substr(pidDot + 1, counterDot - pidDot - 1);
  if (pid.size() > 9 || pid.find_first_not_of("0123456789") != std::string::npos) return 0;
  return static_cast<pid_t>(std::stol(pid));
}

}  // namespace

int removeStaleTemporaries(const std::string& folder) {
  std::vector<std::string> names;
  if (!listFolder(folder, names)) return 0;
  const std::string prefix = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  int removed = 0;
  for (const std::string& name : names) {
    const pid_t owner = temporaryOwner(name);
    // Only a process that is surely gone: a PID we may not signal still runs.
    if (owner <= 0 || ::kill(owner, 0) == 0 || errno != ESRCH) continue;
    struct stat info;
    const std::string path = prefix + name;
    if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (::unlink(path.c_str()) == 0) ++removed;
  }
  return removed;
}

std::string FileReplacement::reason() const {
  return m_error == 0 || m_error == ENOENT ? std::string() : " (" + std::string(std::strerror(m_error)) + ")";
}

void FileReplacement::fail(int error) {
  if (m_error == 0) m_error = error != 0 ? error : EIO;
}

bool FileReplacement::failSave(int error) {
  fail(error);
  abandon();
  return false;
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
