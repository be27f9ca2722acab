#include "core/text_file.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <thread>

#include "quillax.pb.h"
#include "support/asset_root.h"

namespace fs = std::filesystem;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

quillax::Parameters widthOnly(int width) {
  quillax::Parameters p;
  p.set_window_width(width);
  return p;
}

class TextFileTest : public AssetRootTest {
 protected:
  // Writes with stdout captured; true when the write succeeded and printed nothing, and when it
  // failed with exactly the write-failure line.
  bool writeReports(const google::protobuf::Message& m, const std::string& path, bool expected) {
    CaptureStdout();
    const bool written = WriteProtoToTextFile(m, path.c_str());
    const std::string out = GetCapturedStdout();
    return written == expected && out == (expected ? "" : "WriteProtoToTextFile " + path + " not found!\n");
  }
  // Names in the folder other than `keep`: a leftover temporary shows up here.
  std::vector<std::string> strays(const std::string& folder, const std::string& keep) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(rootPath(folder)))
      if (entry.path().filename() != keep) names.push_back(entry.path().filename());
    return names;
  }
  void expectOldFileAlone() const {
    EXPECT_EQ(readFile("disk/p.txt"), "window_width: 800\n");
    EXPECT_TRUE(strays("disk", "p.txt").empty());
  }
};

}  // namespace

TEST_F(TextFileTest, MissingFileAndBadTextFailWithTheirOwnMessages) {
  quillax::Parameters p = widthOnly(640);
  const std::string missing = rootPath("nothing/here.txt");
  CaptureStdout();
  EXPECT_FALSE(ReadProtoFromTextFile(missing.c_str(), &p));
  EXPECT_EQ(GetCapturedStdout(), "ReadProtoFromTextFile " + missing + " not found!\n");
  EXPECT_EQ(p.window_width(), 640);
  EXPECT_TRUE(writeReports(p, missing, false));
  EXPECT_FALSE(fs::exists(rootPath("nothing")));

  // A file that is there but does not parse is not reported as missing.
  writeFile("bad.txt", "sampling_distance: 0.1\nwindow_width: x\n");
  CaptureStdout();
  EXPECT_FALSE(ReadProtoFromTextFile(rootPath("bad.txt").c_str(), &p));
  EXPECT_EQ(GetCapturedStdout(), "");
}

TEST_F(TextFileTest, WriteReplacesTheWholeFileAndReadReplacesTheMessage) {
  const std::string path = rootPath("p.txt");
  writeFile("p.txt", "head_model: \"models/defaultHead/new_neutral.obj\"\n");
  ASSERT_TRUE(writeReports(widthOnly(1920), path, true));
  EXPECT_EQ(readFile("p.txt"), "window_width: 1920\n");

  quillax::Parameters back = widthOnly(5);
  back.set_asset_path("elsewhere/");
  ASSERT_TRUE(ReadProtoFromTextFile(path.c_str(), &back));
  EXPECT_EQ(back.window_width(), 1920);
  EXPECT_FALSE(back.has_asset_path());
  EXPECT_EQ(strays("", "p.txt"), std::vector<std::string>{"run"});
}

TEST_F(TextFileTest, FailedWriteLeavesTheOldFileWhole) {
  // The target is a folder: nothing may be left behind in it.
  fs::create_directories(rootPath("box/inner"));
  EXPECT_TRUE(writeReports(widthOnly(1), rootPath("box/inner"), false));
  EXPECT_TRUE(fs::is_empty(rootPath("box/inner")));
  EXPECT_TRUE(strays("box", "inner").empty());

  // The disk gives out in the middle of the text (a file-size limit stands in for a full disk).
  writeFile("disk/p.txt", "window_width: 800\n");
  quillax::Painting big;
  for (int i = 0; i < 2000; ++i) big.add_operations()->add_points()->set_x(i);
  struct rlimit previous {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  struct rlimit limited = previous;
  limited.rlim_cur = 8192;
  void (*previousHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool reported = writeReports(big, rootPath("disk/p.txt"), false);
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, previousHandler);
  EXPECT_TRUE(reported);
  expectOldFileAlone();

  if (geteuid() == 0) return;  // root ignores permissions
  // A read-only folder, then a file the user made read-only: neither is replaced.
  fs::permissions(rootPath("disk"), fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_TRUE(writeReports(widthOnly(1), rootPath("disk/p.txt"), false));
  fs::permissions(rootPath("disk"), fs::perms::owner_all);
  fs::permissions(rootPath("disk/p.txt"), fs::perms::owner_read);
  EXPECT_TRUE(writeReports(widthOnly(1), rootPath("disk/p.txt"), false));
  expectOldFileAlone();
}

TEST_F(TextFileTest, ModesLinksAndPipes) {
  const mode_t previousMask = umask(022);
  const std::string path = rootPath("new.txt");
  auto mode = [&path] {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
  };
  ASSERT_TRUE(WriteProtoToTextFile(widthOnly(2), path.c_str()));
  EXPECT_EQ(mode(), 0644u);
  // A replaced file keeps the permissions the user gave it.
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(WriteProtoToTextFile(widthOnly(3), path.c_str()));
  EXPECT_EQ(mode(), 0600u);
  umask(previousMask);

  // Writing through a link updates the file it points at and keeps the link.
  fs::create_symlink(path, rootPath("link.txt"));
  ASSERT_TRUE(WriteProtoToTextFile(widthOnly(4), rootPath("link.txt").c_str()));
  EXPECT_TRUE(fs::is_symlink(rootPath("link.txt")));
  EXPECT_EQ(readFile("new.txt"), "window_width: 4\n");

  // A pipe is written through, not replaced by a file.
  const std::string pipe = rootPath("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  std::string received;
  std::thread reader([&] {
    std::ifstream in(pipe);
    received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  });
  EXPECT_TRUE(WriteProtoToTextFile(widthOnly(9), pipe.c_str()));
  reader.join();
  EXPECT_EQ(received, "window_width: 9\n");
  EXPECT_EQ(fs::status(pipe).type(), fs::file_type::fifo);
}
