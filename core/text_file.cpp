#include "core/text_file.h"

#include <fcntl.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "core/cout_line.h"
#include "platform/files.h"
#include "platform/system.h"

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

// Hands the printer's blocks to the replacement, which keeps the reason of a failed write.
class ReplacementStream : public google::protobuf::io::CopyingOutputStream {
 public:
  explicit ReplacementStream(platform::FileReplacement& file) : m_file(file) {}
  bool Write(const void* buffer, int size) override {
    return m_file.write(static_cast<const char*>(buffer), static_cast<size_t>(size));
  }

 private:
  platform::FileReplacement& m_file;
};

// Reads the file block by block, each block progress: a long load is a healthy one.
class ProgressStream : public google::protobuf::io::CopyingInputStream {
 public:
  explicit ProgressStream(int fd) : m_fd(fd) {}
  int Read(void* buffer, int size) override {
    ssize_t got = 0;
    do {
      got = ::read(m_fd, buffer, static_cast<size_t>(size));
    } while (got < 0 && errno == EINTR);
    if (got < 0) m_error = errno;
    platform::noteProgress();
    return static_cast<int>(got);
  }
  int error() const { return m_error; }

 private:
  int m_fd;
  int m_error = 0;
};

// True when every printed byte reached the file.
bool printTo(const google::protobuf::Message& message, platform::FileReplacement& file) {
  ReplacementStream sink(file);
  google::protobuf::io::CopyingOutputStreamAdaptor stream(&sink);
  const bool printed = google::protobuf::TextFormat::Print(message, &stream);
  const bool flushed = stream.Flush();
  return printed && flushed;
}

}  // namespace

bool ReadProtoFromTextFile(const char* path, google::protobuf::Message* message) {
  if (!path || !message) return false;
  // Non-blocking, so a named pipe cannot hold the start until a writer comes; it is refused below.
  const int fd = open(path, O_RDONLY | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    coutLine("ReadProtoFromTextFile ", path, " not found!",
             error != ENOENT ? " (" + std::string(std::strerror(error)) + ")" : std::string());
    return false;
  }
  // A folder would parse as an empty message and a device might never end.
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    coutLine("ReadProtoFromTextFile ", path, " not found! (",
             S_ISDIR(info.st_mode) ? "a folder" : "not a regular file", ")");
    return false;
  }
  ParseErrorLine errors;
  bool parsed = false;
  int readError = 0;
  {
    ProgressStream blocks(fd);
    google::protobuf::io::CopyingInputStreamAdaptor stream(&blocks);
    google::protobuf::TextFormat::Parser parser;
    parser.RecordErrorsTo(&errors);
    parsed = parser.Parse(&stream, message);
    readError = blocks.error();
  }
  close(fd);
  if (readError != 0) {
    coutLine("ReadProtoFromTextFile ", path, " could not be read (", std::strerror(readError), ")");
    return false;
  }
  if (!parsed) coutLine("ReadProtoFromTextFile ", path, " does not parse: ", errors.first());
  return parsed;
}

OwnFileRead readOwnTextFile(const std::string& path, google::protobuf::Message* message) {
  if (ReadProtoFromTextFile(path.c_str(), message)) return OwnFileRead::Read;
  message->Clear();
  return platform::pathExists(path) ? OwnFileRead::Kept : OwnFileRead::Missing;
}

void reportKeptFile(const char* who, const std::string& path, const char* defaults) {
  coutLine(who, ": ", path, " could not be read; using the ", defaults,
           " and leaving the file as it is");
}

void reportNotWritten(const std::string& path, const std::string& reason) {
  coutLine("WriteProtoToTextFile ", path, " not found!", reason);
}

bool WriteProtoToTextFile(const google::protobuf::Message& message, const char* path, std::string* reason) {
  if (!path) return false;
  platform::FileReplacement file(path);
  if (file.fd() < 0 || !printTo(message, file) || !file.commit()) {
    reportNotWritten(path, file.reason());
    if (reason) *reason = file.reason();
    return false;
  }
  return true;
}
