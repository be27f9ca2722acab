#pragma once

namespace google {
namespace protobuf {
class Message;
}
}  // namespace google

// Reads one message from a protobuf text file at `path`. False when the file cannot be opened
// (with "ReadProtoFromTextFile <path> not found!" on standard output) or does not parse; after a
// failed parse the message holds whatever was read before the error.
bool ReadProtoFromTextFile(const char* path, google::protobuf::Message* message);

// Writes `message` as a protobuf text file at `path`. The file is replaced whole or not at all:
// the text goes to a temporary file in the same folder, which is synced and renamed over the
// target, so a failure never leaves an empty or half-written file. False on any failure, with
// "WriteProtoToTextFile <path> not found!" on standard output.
bool WriteProtoToTextFile(const google::protobuf::Message& message, const char* path);
