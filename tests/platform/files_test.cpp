#include "platform/files.h"

#include <gtest/gtest.h>

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
