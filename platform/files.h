#pragma once
#include <string>
#include <vector>

namespace platform {

enum class FolderResult { Created, AlreadyExists, Failed };

// Creates the last component of path only; its parent must exist. A folder (or anything else)
// already at path reports AlreadyExists, which callers treat as success.
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

// Renames whatever is at path to path + ending, or path + ending + "1", "2", ... when that name
// is taken, so nothing is ever renamed over. False when nothing could be moved; `movedTo` then
// stays empty.
bool moveAside(const std::string& path, const std::string& ending, std::string& movedTo);

}  // namespace platform
