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

class TextFileTest : public AssetRootTest {
 protected:
  // Names in the folder other than `keep`: a leftover temporary shows up here.
  std::vector<std::string> strayFiles(const std::string& folder, const std::string& keep) const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      if (name != keep) names.push_back(name);
    }
    return names;
  }
};

quillax::Parameters widthOnly(int width) {
  quillax::Parameters p;
  p.set_window_width(width);
  return p;
}

}  // namespace

TEST_F(TextFileTest, MissingFileOrFolderReportsThePathAndKeepsTheMessage) {
  quillax::Parameters p = widthOnly(640);
  const std::string missing = rootPath("nothing/here.txt");

  CaptureStdout();
  EXPECT_FALSE(ReadProtoFromTextFile(missing.c_str(), &p));
  EXPECT_EQ(GetCapturedStdout(), "ReadProtoFromTextFile " + missing + " not found!\n");
  EXPECT_EQ(p.window_width(), 640);

  CaptureStdout();
  EXPECT_FALSE(WriteProtoToTextFile(p, missing.c_str()));
  EXPECT_EQ(GetCapturedStdout(), "WriteProtoToTextFile " + missing + " not found!\n");
  EXPECT_FALSE(fs::exists(rootPath("nothing")));

  // A relative path is reported exactly as given.
  CaptureStdout();
  EXPECT_FALSE(ReadProtoFromTextFile("../absent.txt", &p));
  EXPECT_EQ(GetCapturedStdout(), "ReadProtoFromTextFile ../absent.txt not found!\n");
}

TEST_F(TextFileTest, RoundTripKeepsOnlyWhatWasSet) {
  const std::string path = rootPath("p.txt");
  ASSERT_TRUE(WriteProtoToTextFile(widthOnly(1920), path.c_str()));
  EXPECT_EQ(readFile("p.txt"), "window_width: 1920\n");

  // The read replaces what the message held.
  quillax::Parameters back = widthOnly(5);
  back.set_asset_path("elsewhere/");
  ASSERT_TRUE(ReadProtoFromTextFile(path.c_str(), &back));
  EXPECT_EQ(back.window_width(), 1920);
  EXPECT_FALSE(back.has_asset_path());

  // An empty message is an empty file, and an empty file parses.
  ASSERT_TRUE(WriteProtoToTextFile(quillax::Parameters(), path.c_str()));
  EXPECT_EQ(readFile("p.txt"), "");
  EXPECT_TRUE(ReadProtoFromTextFile(path.c_str(), &back));
  EXPECT_FALSE(back.has_window_width());
  EXPECT_EQ(strayFiles(root(), "p.txt"), std::vector<std::string>{"run"});
}

TEST_F(TextFileTest, BadTextFailsWithoutTheNotFoundLine) {
  quillax::Parameters p;
  for (const char* text : {"window_widht: 3\n", "sampling_distance: 0.1\nwindow_width: x\n"}) {
    writeFile("bad.txt", text);
    CaptureStdout();
    EXPECT_FALSE(ReadProtoFromTextFile(rootPath("bad.txt").c_str(), &p)) << text;
    EXPECT_EQ(GetCapturedStdout(), "") << text;
  }
}

TEST_F(TextFileTest, ShorterMessageLeavesNoTraceOfTheLongerFile) {
  const std::string path = rootPath("p.txt");
  quillax::Parameters longer;
  longer.set_user_email("someone@example.org");
  longer.set_head_model("models/defaultHead/new_neutral.obj");
  longer.set_reference_image("targets/braid_result.png");
  ASSERT_TRUE(WriteProtoToTextFile(longer, path.c_str()));
  ASSERT_TRUE(WriteProtoToTextFile(widthOnly(7), path.c_str()));
  EXPECT_EQ(readFile("p.txt"), "window_width: 7\n");
}

TEST_F(TextFileTest, FailedWriteLeavesTheOldFileWhole) {
  // The target is a folder: nothing may be left behind in it or next to it.
  fs::create_directories(rootPath("box/inner"));
  const std::string folderTarget = rootPath("box/inner");
  CaptureStdout();
  EXPECT_FALSE(WriteProtoToTextFile(widthOnly(1), folderTarget.c_str()));
  EXPECT_EQ(GetCapturedStdout(), "WriteProtoToTextFile " + folderTarget + " not found!\n");
  EXPECT_TRUE(fs::is_directory(folderTarget));
  EXPECT_TRUE(strayFiles(rootPath("box"), "inner").empty());

  // The disk gives out in the middle of the text (a file-size limit stands in for a full disk).
  writeFile("disk/p.txt", "window_width: 800\n");
  const std::string path = rootPath("disk/p.txt");
  quillax::Painting big;
  for (int i = 0; i < 2000; ++i) big.add_operations()->add_points()->set_x(i);
  struct rlimit previous {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  void (*previousHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  struct rlimit limited = previous;
  limited.rlim_cur = 8192;
  CaptureStdout();
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const bool written = WriteProtoToTextFile(big, path.c_str());
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, previousHandler);
  EXPECT_FALSE(written);
  EXPECT_EQ(GetCapturedStdout(), "WriteProtoToTextFile " + path + " not found!\n");
  EXPECT_EQ(readFile("disk/p.txt"), "window_width: 800\n");
  EXPECT_TRUE(strayFiles(rootPath("disk"), "p.txt").empty());
}

TEST_F(TextFileTest, ReadOnlyFolderOrFileRefusesTheWrite) {
  if (geteuid() == 0) GTEST_SKIP() << "root ignores folder permissions";
  writeFile("locked/p.txt", "window_width: 800\n");
  const std::string path = rootPath("locked/p.txt");
  fs::permissions(rootPath("locked"), fs::perms::owner_read | fs::perms::owner_exec);
  CaptureStdout();
  const bool written = WriteProtoToTextFile(widthOnly(1), path.c_str());
  const std::string out = GetCapturedStdout();
  fs::permissions(rootPath("locked"), fs::perms::owner_all);
  EXPECT_FALSE(written);
  EXPECT_EQ(out, "WriteProtoToTextFile " + path + " not found!\n");
  EXPECT_EQ(readFile("locked/p.txt"), "window_width: 800\n");
  EXPECT_TRUE(strayFiles(rootPath("locked"), "p.txt").empty());

  // A file the user made read-only is not replaced behind its back.
  fs::permissions(path, fs::perms::owner_read);
  EXPECT_FALSE(WriteProtoToTextFile(widthOnly(1), path.c_str()));
  EXPECT_EQ(readFile("locked/p.txt"), "window_width: 800\n");
}

TEST_F(TextFileTest, FileModesAndLinks) {
  const mode_t previous = umask(022);
  const std::string path = rootPath("new.txt");
  ASSERT_TRUE(WriteProtoToTextFile(widthOnly(2), path.c_str()));
  struct stat st {};
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0644u);

  // A replaced file keeps the permissions the user gave it.
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  ASSERT_TRUE(WriteProtoToTextFile(widthOnly(3), path.c_str()));
  ASSERT_EQ(stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0600u);
  umask(previous);

  // Writing through a link updates the file it points at and keeps the link.
  fs::create_symlink(path, rootPath("link.txt"));
  ASSERT_TRUE(WriteProtoToTextFile(widthOnly(4), rootPath("link.txt").c_str()));
  EXPECT_TRUE(fs::is_symlink(rootPath("link.txt")));
  EXPECT_EQ(readFile("new.txt"), "window_width: 4\n");
}

TEST_F(TextFileTest, PipeIsWrittenThroughNotReplaced) {
  const std::string pipe = rootPath("pipe");
  ASSERT_EQ(mkfifo(pipe.c_str(), 0644), 0);
  std::string received;
  std::thread reader([&] {
    std::ifstream in(pipe);
    received.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  });
  const bool written = WriteProtoToTextFile(widthOnly(9), pipe.c_str());
  reader.join();
  EXPECT_TRUE(written);
  EXPECT_EQ(received, "window_width: 9\n");
  EXPECT_EQ(fs::status(pipe).type(), fs::file_type::fifo);
}
