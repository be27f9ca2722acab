#include "core/text_file.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <iostream>

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

const uid_t kNobody = 65534;

// WriteProtoToTextFile in a child that, under root, drops to nobody first; what it printed, or
// "ok" when it succeeded silently.
std::string writeAsNobody(const google::protobuf::Message& m, const std::string& path) {
  int out[2];
  if (pipe(out) != 0) return "no pipe";
  std::cout.flush();
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], STDOUT_FILENO);
    if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setresgid(kNobody, kNobody, kNobody) != 0 ||
                           setresuid(kNobody, kNobody, kNobody) != 0))
      _exit(2);
    const bool written = WriteProtoToTextFile(m, path.c_str());
    std::cout.flush();
    _exit(written ? 0 : 1);
  }
  close(out[1]);
  std::string printed;
  char buffer[512];
  for (ssize_t n; (n = read(out[0], buffer, sizeof buffer)) > 0;) printed.append(buffer, static_cast<size_t>(n));
  close(out[0]);
  int status = -1;
  waitpid(child, &status, 0);
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 2) return "the child could not run as nobody";
  return WEXITSTATUS(status) == 0 && printed.empty() ? "ok" : printed;
}

class TextFileTest : public AssetRootTest {
 protected:
  // What a write printed; "ok" when it succeeded silently.
  std::string write(const google::protobuf::Message& m, const std::string& relative) {
    CaptureStdout();
    const bool written = WriteProtoToTextFile(m, rootPath(relative).c_str());
    const std::string out = GetCapturedStdout();
    return written && out.empty() ? "ok" : out;
  }
  std::string failure(const std::string& file, const std::string& reason = "") {
    return "WriteProtoToTextFile " + rootPath(file) + " not found!" + (reason.empty() ? "" : " (" + reason + ")") + "\n";
  }
  // disk/p.txt holds width 800, whole, and no temporary is left beside it.
  void expectDiskFileIs800() const {
    EXPECT_EQ(readFile("disk/p.txt"), "window_width: 800\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(rootPath("disk")), fs::directory_iterator()), 1);
  }
};

}  // namespace

TEST_F(TextFileTest, EveryFailedReadNamesTheFileAndKeepsTheMessage) {
  const std::string missing = rootPath("nothing/here.txt");
  quillax::Parameters p = widthOnly(640);
  CaptureStdout();
  EXPECT_FALSE(ReadProtoFromTextFile(missing.c_str(), &p));
  EXPECT_EQ(GetCapturedStdout(), "ReadProtoFromTextFile " + missing + " not found!\n");
  EXPECT_EQ(p.window_width(), 640);
  EXPECT_EQ(write(p, "nothing/here.txt"), failure("nothing/here.txt"));

  EXPECT_EQ(readOwnTextFile(missing, &p), OwnFileRead::Missing);
  writeFile("a.txt", "");
  EXPECT_EQ(readOwnTextFile(rootPath("a.txt/below"), &p), OwnFileRead::Missing);
}

TEST_F(TextFileTest, WriteReplacesTheWholeFileAndReadReplacesTheMessage) {
  writeFile("disk/p.txt", "head_model: \"models/defaultHead/new_neutral.obj\"\n");
  ASSERT_EQ(write(widthOnly(800), "disk/p.txt"), "ok");
  expectDiskFileIs800();
  quillax::Parameters back;
  back.set_asset_path("elsewhere/");
  ASSERT_TRUE(ReadProtoFromTextFile(rootPath("disk/p.txt").c_str(), &back));
  EXPECT_EQ(back.ShortDebugString(), "window_width: 800");
}

TEST_F(TextFileTest, FailedWriteLeavesTheOldFileWhole) {
  // The target is a folder.
  fs::create_directories(rootPath("box/inner"));
  EXPECT_EQ(write(widthOnly(1), "box/inner"), failure("box/inner", "Is a directory"));
  EXPECT_TRUE(fs::is_empty(rootPath("box/inner")));

  // The disk gives out in the middle of the text (a file-size limit stands in for a full disk).
  writeFile("disk/p.txt", "window_width: 800\n");
  quillax::Painting big;
  for (int i = 0; i < 2000; ++i) big.add_operations()->add_points()->set_x(i);
  struct rlimit previous {};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &previous), 0);
  const struct rlimit limited = {8192, previous.rlim_max};
  void (*previousHandler)(int) = signal(SIGXFSZ, SIG_IGN);
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const std::string out = write(big, "disk/p.txt");
  setrlimit(RLIMIT_FSIZE, &previous);
  signal(SIGXFSZ, previousHandler);
  EXPECT_EQ(out, failure("disk/p.txt", "File too large"));
  expectDiskFileIs800();

  // A full disk: a folder of its own on a small memory file system (only root may mount one).
  fs::create_directories(rootPath("full"));
  if (geteuid() != 0 || mount("tmpfs", rootPath("full").c_str(), "tmpfs", 0, "size=16k") != 0) {
    std::cout << "[ SKIPPED  ] full disk: no tmpfs could be mounted" << std::endl;
  } else {
    writeFile("full/p.txt", "window_width: 800\n");
    EXPECT_EQ(write(big, "full/p.txt"), failure("full/p.txt", "No space left on device"));
    EXPECT_EQ(readFile("full/p.txt"), "window_width: 800\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(rootPath("full")), fs::directory_iterator()), 1);
    umount(rootPath("full").c_str());
  }

  // A read-only folder, then a file the user made read-only: neither is replaced. Root ignores
  // permissions, so under root both belong to nobody, who tries the write.
  if (geteuid() == 0) {
    fs::permissions(root(), fs::perms::others_exec, fs::perm_options::add);
    ASSERT_EQ(chown(rootPath("disk").c_str(), kNobody, kNobody), 0);
    ASSERT_EQ(chown(rootPath("disk/p.txt").c_str(), kNobody, kNobody), 0);
  }
  for (const char* locked : {"disk", "disk/p.txt"}) {
    fs::permissions(rootPath(locked), fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_EQ(writeAsNobody(widthOnly(1), rootPath("disk/p.txt")), failure("disk/p.txt", "Permission denied"))
        << locked;
    fs::permissions(rootPath("disk"), fs::perms::owner_all);
  }
  expectDiskFileIs800();
}

TEST_F(TextFileTest, NewFileModeReplacedFileModeAndLinks) {
  const mode_t previousMask = umask(022);
  const std::string path = rootPath("new.txt");
  auto mode = [&path] { return fs::status(path).permissions() & fs::perms::mask; };
  ASSERT_EQ(write(widthOnly(2), "new.txt"), "ok");
  EXPECT_EQ(mode(), fs::perms(0644));
  // A replaced file keeps the permissions the user gave it.
  ASSERT_EQ(chmod(path.c_str(), 0600), 0);
  ASSERT_EQ(write(widthOnly(3), "new.txt"), "ok");
  EXPECT_EQ(mode(), fs::perms(0600));
  umask(previousMask);

  // Writing through a link updates the file it points at and keeps the link.
  fs::create_symlink(path, rootPath("link.txt"));
  ASSERT_EQ(write(widthOnly(4), "link.txt"), "ok");
  EXPECT_TRUE(fs::is_symlink(rootPath("link.txt")));
  EXPECT_EQ(readFile("new.txt"), "window_width: 4\n");
}
