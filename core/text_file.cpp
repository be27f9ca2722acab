#include "core/text_file.h"

#include <fcntl.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "platform/files.h"

namespace {

// Keeps the parser's first complaint, with its place, for the one line that names the file.
class ParseErrorLine : public google::protobuf::io::ErrorCollector {
 public:
  void AddError(int line, google::protobuf::io::ColumnNumber column,
                const std::string& message) override {
    if (!m_first.empty()) return;
    // Zero-based in the parser, one-based for the user's editor.
    m_first = "line " + std::to_string(line + 1) + " column " + std::to_string(column + 1) +
              ": " + message;
  }
  void AddWarning(int, google::protobuf::io::ColumnNumber, const std::string&) override {}
  const std::string& first() const { return m_first; }

 private:
  std::string m_first;
};

void reportWriteFailure(const char* path) {
  std::cout << "WriteProtoToTextFile " << path << " not found!" << std::endl;
}

// True when every printed byte reached the descriptor.
bool printTo(const google::protobuf::Message& message, int fd) {
  google::protobuf::io::FileOutputStream stream(fd);
  const bool printed = google::protobuf::TextFormat::Print(message, &stream);
  const bool flushed = stream.Flush();
  return printed && flushed;
}

// Devices and pipes have nothing to replace: they are written through, as opened.
bool writeInPlace(const google::protobuf::Message& message, const char* path) {
  const int fd = open(path, O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) return false;
  const bool printed = printTo(message, fd);
  const bool closed = close(fd) == 0;
  return printed && closed;
}

// "dir/" for "dir/name", "" for a bare name.
std::string folderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Creates a fresh temporary file next to `target`; -1 when the folder refuses it.
int createTemporary(const std::string& target, std::string* temporary) {
  static std::atomic<unsigned> s_counter{0};
  const std::string folder = folderOf(target);
  // Short and hidden, so folder listings that pick up ".txt" files never see it.
  const std::string base = target.substr(folder.size()).substr(0, 64);
  for (int attempt = 0; attempt < 100; ++attempt) {
    *temporary = folder + ".~" + base + "." + std::to_string(getpid()) + "." +
                 std::to_string(s_counter.fetch_add(1)) + ".tmp";
    const int fd = open(temporary->c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

// Makes the rename itself durable; a folder that cannot be synced costs only durability.
void syncFolder(const std::string& target) {
  const std::string folder = folderOf(target);
  const int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

bool ReadProtoFromTextFile(const char* path, google::protobuf::Message* message) {
  if (!path || !message) return false;
  // Non-blocking, so a named pipe cannot hold the start until a writer comes; it is refused below.
  const int fd = open(path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    std::cout << "ReadProtoFromTextFile " << path << " not found!";
    if (error != ENOENT) std::cout << " (" << std::strerror(error) << ")";
    std::cout << std::endl;
    return false;
  }
  // A folder would parse as an empty message and a device might never end.
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    std::cout << "ReadProtoFromTextFile " << path << " not found! ("
              << (S_ISDIR(info.st_mode) ? "a folder" : "not a regular file") << ")" << std::endl;
    return false;
  }
  ParseErrorLine errors;
  bool parsed = false;
  int readError = 0;
  {
    google::protobuf::io::FileInputStream stream(fd);
    google::protobuf::TextFormat::Parser parser;
    parser.RecordErrorsTo(&errors);
    parsed = parser.Parse(&stream, message);
    readError = stream.GetErrno();
  }
  close(fd);
  if (readError != 0) {
    std::cout << "ReadProtoFromTextFile " << path << " could not be read ("
              << std::strerror(readError) << ")" << std::endl;
    return false;
  }
  if (!parsed)
    std::cout << "ReadProtoFromTextFile " << path << " does not parse: " << errors.first()
              << std::endl;
  return parsed;
}

OwnFileRead readOwnTextFile(const std::string& path, google::protobuf::Message* message) {
  if (ReadProtoFromTextFile(path.c_str(), message)) return OwnFileRead::Read;
  message->Clear();
  return platform::pathExists(path) ? OwnFileRead::Kept : OwnFileRead::Missing;
}

void reportKeptFile(const char* who, const std::string& path, const char* defaults) {
  std::cout << who << ": " << path << " could not be read; using the " << defaults
            << " and leaving the file as it is" << std::endl;
}

bool WriteProtoToTextFile(const google::protobuf::Message& message, const char* path) {
  if (!path) return false;
  std::string target = path;
  bool existed = false;
  struct stat existing {};
  if (stat(path, &existing) == 0) {
    if (S_ISDIR(existing.st_mode)) {
      reportWriteFailure(path);
      return false;
    }
    if (!S_ISREG(existing.st_mode)) {
      if (writeInPlace(message, path)) return true;
      reportWriteFailure(path);
      return false;
    }
    // A file the user made read-only stays as it is.
    if (access(path, W_OK) != 0) {
      reportWriteFailure(path);
      return false;
    }
    // Replace the file a link points at, not the link.
    if (char* resolved = realpath(path, nullptr)) {
      target = resolved;
      free(resolved);
    }
    existed = true;
  }

  std::string temporary;
  const int fd = createTemporary(target, &temporary);
  if (fd < 0) {
    reportWriteFailure(path);
    return false;
  }
  // A replaced file keeps its permissions; best effort, the content matters more.
  if (existed) (void)fchmod(fd, existing.st_mode & 07777);
  bool ok = printTo(message, fd);
  ok = ok && fsync(fd) == 0;
  ok = (close(fd) == 0) && ok;
  ok = ok && rename(temporary.c_str(), target.c_str()) == 0;
  if (!ok) {
    unlink(temporary.c_str());
    reportWriteFailure(path);
    return false;
  }
  syncFolder(target);
  return true;
}
