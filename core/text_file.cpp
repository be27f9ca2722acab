#include "core/text_file.h"

#include <fcntl.h>
#include <google/protobuf/io/zero_copy_stream_impl.h>
#include <google/protobuf/message.h>
#include <google/protobuf/text_format.h>
#include <unistd.h>

#include <iostream>

#include "platform/files.h"

namespace {

// True when every printed byte reached the descriptor.
bool printTo(const google::protobuf::Message& message, int fd) {
  google::protobuf::io::FileOutputStream stream(fd);
  const bool printed = google::protobuf::TextFormat::Print(message, &stream);
  const bool flushed = stream.Flush();
  return printed && flushed;
}

}  // namespace

bool ReadProtoFromTextFile(const char* path, google::protobuf::Message* message) {
  if (!path || !message) return false;
  const int fd = open(path, O_RDONLY);
  if (fd < 0) {
    std::cout << "ReadProtoFromTextFile " << path << " not found!" << std::endl;
    return false;
  }
  bool parsed = false;
  {
    google::protobuf::io::FileInputStream stream(fd);
    parsed = google::protobuf::TextFormat::Parse(&stream, message);
  }
  close(fd);
  return parsed;
}

bool WriteProtoToTextFile(const google::protobuf::Message& message, const char* path) {
  if (!path) return false;
  platform::FileReplacement file(path);
  if (file.fd() < 0 || !printTo(message, file.fd()) || !file.commit()) {
    std::cout << "WriteProtoToTextFile " << path << " not found!" << std::endl;
    return false;
  }
  return true;
}
