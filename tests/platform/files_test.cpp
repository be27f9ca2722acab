#include "platform/files.h"

#include <gtest/gtest.h>

#include "support/asset_root.h"

using FolderFiles = AssetRootTest;

TEST_F(FolderFiles, CreateAcceptsAnExistingFolderButNeedsItsParent) {
  const std::string folder = rootPath("data");
  EXPECT_EQ(platform::createFolder(folder), platform::FolderResult::Created);
  EXPECT_TRUE(platform::isFolder(folder));
  EXPECT_EQ(platform::createFolder(folder), platform::FolderResult::AlreadyExists);
  EXPECT_EQ(platform::createFolder(rootPath("missing/child")), platform::FolderResult::Failed);
  EXPECT_EQ(platform::createFolder(""), platform::FolderResult::Failed);

  writeFile("data/a.txt", "x");
  EXPECT_FALSE(platform::isFolder(rootPath("data/a.txt")));
  EXPECT_TRUE(platform::isReadableFile(rootPath("data/a.txt")));
  EXPECT_FALSE(platform::isReadableFile(folder));
  EXPECT_FALSE(platform::isReadableFile(rootPath("data/b.txt")));
}

TEST_F(FolderFiles, ListsRegularFilesByEndingInByteOrder) {
  for (const char* name : {"b.txt", "a.txt", "C.txt", "a.txt.bak", "notes.obj", "sub.txt/inner.txt"})
    writeFile(std::string("list/") + name, "");  // sub.txt is a folder named like a file
  EXPECT_EQ(platform::listFilesByEnding(rootPath("list"), ".txt"),
            (std::vector<std::string>{"C.txt", "a.txt", "b.txt"}));
  // A trailing slash names the same folder.
  EXPECT_EQ(platform::listFilesByEnding(rootPath("list/"), ".obj"),
            std::vector<std::string>{"notes.obj"});

  std::vector<std::string> names;
  ASSERT_TRUE(platform::listFolder(rootPath("list"), names));
  EXPECT_EQ(names.size(), 6u);
  EXPECT_FALSE(platform::listFolder(rootPath("nowhere"), names));
  EXPECT_TRUE(names.empty());
  EXPECT_TRUE(platform::listFilesByEnding(rootPath("nowhere"), ".txt").empty());
}
