#pragma once
#include <string>

namespace google {
namespace protobuf {
class Message;
}
}  // namespace google

// Reads one message from a protobuf text file at `path`; regular files only. False, with one line
// on standard output naming the path, when it cannot be opened ("ReadProtoFromTextFile <path> not
// found!", with the cause added when the file is there: a folder, a device, no permission), when
// reading it fails, or when it does not parse (the parser's first error with its line). After a
// failed parse the message holds whatever was read before the error.
bool ReadProtoFromTextFile(const char* path, google::protobuf::Message* message);

// How the read of a message file that the program also writes back came out.
enum class OwnFileRead {
  Read,     // parsed
  Missing,  // nothing at the path: the caller may write its defaults there
  Kept,     // something is there that did not read: it must not be written over
};
// ReadProtoFromTextFile, telling a missing file from one that is there but unusable. After a
// failed read the message is empty (a half-parsed message is never trusted).
OwnFileRead readOwnTextFile(const std::string& path, google::protobuf::Message* message);
// "<who>: <path> could not be read; using the <defaults> and leaving the file as it is"
void reportKeptFile(const char* who, const std::string& path, const char* defaults);

// Writes `message` as a protobuf text file at `path`. The file is replaced whole or not at all:
// the text goes to a temporary file in the same folder, which is synced and renamed over the
// target, so a failure never leaves an empty or half-written file. False on any failure, with
// "WriteProtoToTextFile <path> not found! (<the system's reason>)" on standard output, and that
// reason in *reason when asked (as FileReplacement::reason gives it: empty for a missing folder).
bool WriteProtoToTextFile(const google::protobuf::Message& message, const char* path,
                          std::string* reason = nullptr);
// WriteProtoToTextFile's failure line; reason as FileReplacement::reason gives it (may be empty).
void reportNotWritten(const std::string& path, const std::string& reason);
