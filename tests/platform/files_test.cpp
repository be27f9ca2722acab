#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
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
