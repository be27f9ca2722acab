#include "platform/files.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/asset_root.h"

using FolderFiles = AssetRootTest;
using platform::FolderResult;

TEST_F(FolderFiles, CreateAcceptsAnExistingFolderButNeedsItsParent) {
  const std::string folder = rootPath("data"), file = rootPath("data/a.txt");
  EXPECT_EQ((std::vector<FolderResult>{platform::createFolder(folder), platform::createFolder(folder),
                                       platform::createFolder(rootPath("missing/child")), platform::createFolder("")}),
            (std::vector<FolderResult>{FolderResult::Created, FolderResult::AlreadyExists, FolderResult::Failed,
                                       FolderResult::Failed}));
  writeFile("data/a.txt", "x");
  EXPECT_EQ((std::vector<bool>{platform::isFolder(folder), platform::isFolder(file), platform::isReadableFile(file),
                               platform::isReadableFile(folder), platform::isReadableFile(rootPath("data/b.txt"))}),
            (std::vector<bool>{true, false, true, false, false}));
}

TEST_F(FolderFiles, ListsRegularFilesByEndingInByteOrder) {
  for (const char* name : {"b.txt", "a.txt", "C.txt", "a.txt.bak", "notes.obj", "sub.txt/inner.txt"})
    writeFile(std::string("list/") + name, "");  // sub.txt is a folder named like a file
  EXPECT_EQ(platform::listFilesByEnding(rootPath("list"), ".txt"), (std::vector<std::string>{"C.txt", "a.txt", "b.txt"}));
  // A trailing slash names the same folder.
  EXPECT_EQ(platform::listFilesByEnding(rootPath("list/"), ".obj"), std::vector<std::string>{"notes.obj"});

  std::vector<std::string> names;
  ASSERT_TRUE(platform::listFolder(rootPath("list"), names));
  EXPECT_EQ(names.size(), 6u);
  EXPECT_FALSE(platform::listFolder(rootPath("nowhere"), names));
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(platform::listFilesByEnding(rootPath("nowhere"), ".txt").empty());
}

TEST_F(FolderFiles, OnlyTemporariesOfEndedProcessesAreRemoved) {
  // A child that has ended and been reaped: its pid runs nothing (until the system reuses it).
  const pid_t child = fork();
  if (child == 0) _exit(0);
  ASSERT_GT(child, 0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string dead = std::to_string(child), live = std::to_string(getpid());
  const std::vector<std::string> kept = {
      ".~p.txt." + live + ".0.tmp",  // a save of a running process
      ".~p.txt." + dead + ".tmp",    // not the temporaries' name
      "p.txt." + dead + ".0.tmp",    ".~p.txt.x" + dead + ".0.tmp", "p.txt"};
  for (const std::string& name : kept) writeFile("run/" + name, "x");
  writeFile("run/.~p.txt." + dead + ".3.tmp", "x");
  writeFile("run/.~big.obj." + dead + ".12.tmp/inside", "x");  // a folder is never removed

  EXPECT_EQ(platform::removeStaleTemporaries(rootPath("run")), 1);
  std::vector<std::string> names;
  ASSERT_TRUE(platform::listFolder(rootPath("run"), names));
  std::vector<std::string> expected = kept;
  expected.push_back(".~big.obj." + dead + ".12.tmp");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(names, expected);
}

// From the test preload, linked into this program: the emulated disk's record.
extern "C" size_t tressletTestLargestDiskWait(void);
extern "C" void tressletTestResetDisk(void);

namespace {

// Numbered lines cut to size bytes, so a lost, doubled or shifted block shows.
std::string numberedLines(size_t size, const std::string& tag) {
  std::string text;
  for (size_t n = 0; text.size() < size; ++n) text += tag + " line " + std::to_string(n) + "\n";
  text.resize(size);
  return text;
}

struct SaveResult {
  bool saved = false;
  std::string reason;
  std::vector<std::string> leftInFolder;  // while the replacement still lived
};

}  // namespace

// Replacements on a disk bent by the test preload; its knobs are unset after each test.
class FileReplacementDisk : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    tressletTestResetDisk();
  }
  void TearDown() override {
    for (const char* name : {"TRESSLET_TEST_FAIL_SYNC", "TRESSLET_TEST_DISK_RATE", "TRESSLET_TEST_DISK_PATH"})
      unsetenv(name);
    tressletTestResetDisk();
    AssetRootTest::TearDown();
  }

  // Saves text as saves/painting.txt in blocks of `block` bytes (0: one write), calling
  // between(bytes written so far) after each block, as the text writer hands over its blocks.
  SaveResult save(const std::string& text, size_t block, const std::function<void(size_t)>& between = {}) {
    SaveResult result;
    platform::FileReplacement file(rootPath("saves/painting.txt"));
    bool ok = file.fd() >= 0;
    const size_t step = block == 0 ? text.size() : block;
    for (size_t at = 0; ok && at < text.size(); at += step) {
      ok = file.write(text.data() + at, std::min(step, text.size() - at));
      if (between) between(at + step);
    }
    result.saved = ok && file.commit();
    result.reason = file.reason();
    platform::listFolder(rootPath("saves"), result.leftInFolder);
    return result;
  }
};

TEST_F(FileReplacementDisk, AFailedPartSyncKeepsTheOlderFile) {
  struct Case {
    const char* what;
    size_t size;
    size_t failAfter;  // bytes written when the write-back error comes
    const char* call = "sync_file_range";  // that meets it
  };
  const std::string trigger = rootPath("lose-a-write");
  for (const Case& c : {Case{"a small file's only part", 3000, 0}, Case{"a large file's first part", 3u << 20, 0},
                        Case{"a large file's middle part", 3u << 20, 1u << 20},
                        Case{"the whole file's sync", 3000, 0, "fsync"}, Case{"the temporary's close", 3000, 0, "close"},
                        Case{"the rename over the older file", 3000, 0, "rename"}}) {
    SCOPED_TRACE(c.what);
    setenv("TRESSLET_TEST_FAIL_SYNC", (trigger + "|saves/.~painting.txt|" + c.call).c_str(), 1);
    const std::string older = numberedLines(5000, "older"), newer = numberedLines(c.size, "newer");
    writeFile("saves/painting.txt", older);
    const auto loseAWrite = [&] { writeFile("lose-a-write", ""); };
    if (c.failAfter == 0) loseAWrite();
    const SaveResult failed = save(newer, 8192, [&](size_t written) {
      if (c.failAfter != 0 && written == c.failAfter) loseAWrite();
    });
    EXPECT_FALSE(failed.saved);
    EXPECT_EQ(failed.reason, " (Input/output error)");
    EXPECT_EQ(failed.leftInFolder, std::vector<std::string>{"painting.txt"});  // no temporary
    EXPECT_FALSE(platform::pathExists(trigger));  // a sync met the error and used it up
    EXPECT_TRUE(readFile("saves/painting.txt") == older);

    // Reported once, the error is gone: the same save again lands.
    const SaveResult again = save(newer, 8192);
    EXPECT_TRUE(again.saved);
    EXPECT_EQ(again.leftInFolder, std::vector<std::string>{"painting.txt"});
    EXPECT_TRUE(readFile("saves/painting.txt") == newer);
  }
}

TEST_F(FileReplacementDisk, ASlowDiskIsWaitedForInPartsOfAboutASecond) {
  struct Case {
    uint64_t bytesPerSecond;
    size_t size;
    size_t block;  // 0: the whole file in one write, as the OBJ writer's large pieces
  };
  writeFile("saves/painting.txt", "older");
  setenv("TRESSLET_TEST_DISK_PATH", rootPath("saves/").c_str(), 1);
  // About four seconds of emulated disk in all.
  for (const Case& c : {Case{400000, 1u << 20, 8192}, Case{1000000, 3u << 19, 0}}) {
    SCOPED_TRACE(std::to_string(c.bytesPerSecond) + " bytes/s, blocks of " + std::to_string(c.block));
    tressletTestResetDisk();
    setenv("TRESSLET_TEST_DISK_RATE", std::to_string(c.bytesPerSecond).c_str(), 1);
    const std::string text = numberedLines(c.size, std::to_string(c.block));
    EXPECT_TRUE(save(text, c.block).saved);
    EXPECT_TRUE(readFile("saves/painting.txt") == text);
    // A bound in bytes: however busy the machine, no call waits for more than about a second of
    // the disk (a single final fsync would cover the whole file).
    EXPECT_GT(tressletTestLargestDiskWait(), 0u);
    EXPECT_LE(tressletTestLargestDiskWait(), c.bytesPerSecond * 3 / 2);
  }
}
