#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/asset_root.h"

namespace {

// Runs the program from the test's run/ folder and returns everything it printed.
int runProgram(const std::string& environment, std::string& output) {
  const std::string command =
      "env " + environment + " timeout 120 '" + std::string(TRESSLET_BINARY) + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

using ProgramRunGL = AssetRootTest;

TEST_F(ProgramRunGL, WithoutAHeadsetItStartsReportsTheVRFailureAndEndsCleanly) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  std::string output;
  EXPECT_EQ(runProgram("-u TRESSLET_VR_TRACE", output), 0) << output;
  EXPECT_NE(output.find("GL_VERSION=4.5"), std::string::npos) << output;
  EXPECT_EQ(output.find("Error initializing GLEW"), std::string::npos) << output;
  EXPECT_NE(output.find("openVR context initialization fail. /n"), std::string::npos) << output;
  // No frame ran and the shutdown that saves was skipped.
  EXPECT_EQ(readFile("run/autosaves.txt"), "");
  EXPECT_NE(readFile("parameters.txt").find("window_width: 1920"), std::string::npos);
}

TEST_F(ProgramRunGL, WithoutADisplayItReportsTheGLFailureAndEndsCleanly) {
  std::string output;
  EXPECT_EQ(runProgram("-u TRESSLET_VR_TRACE -u DISPLAY", output), 0) << output;
  EXPECT_NE(output.find("main - Error initializing GLEW!"), std::string::npos) << output;
  EXPECT_EQ(output.find("openVR context initialization fail"), std::string::npos) << output;
}

TEST_F(ProgramRunGL, AReplayedCloseEndsTheLoopAndRunsTheShutdown) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  // Ten frames of a virtual second each: the brush-state autosave falls due within the run.
  writeFile("session.trace",
            "frame_ms 1000\n"
            "device 0 hmd\n"
            "@0\n"
            "pose 0 pos 0 1.6 0 rot 0 0 0\n"
            "@10\n"
            "close\n");
  std::string output;
  EXPECT_EQ(runProgram("TRESSLET_VR_TRACE=../session.trace", output), 0) << output;
  EXPECT_EQ(output.find("initialization fail"), std::string::npos) << output;
  EXPECT_EQ(output.find("X error"), std::string::npos) << output;
  EXPECT_NE(readFile("run/autosaves.txt").find("operation"), std::string::npos) << output;
}
