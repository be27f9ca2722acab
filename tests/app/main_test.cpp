#include <gtest/gtest.h>

#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "support/asset_root.h"

namespace {

// Runs the whole program from the test's run/ folder: it must end with exit code 0, print each
// of the texts in `printed` and none of those in `absent`.
class ProgramRunGL : public AssetRootTest {
 protected:
  void expectCleanRun(const std::string& environment, const std::vector<std::string>& printed,
                      const std::vector<std::string>& absent) {
    std::string output;
    EXPECT_EQ(runTresslet(environment, output), 0) << output;
    for (const std::string& text : printed) EXPECT_NE(output.find(text), std::string::npos) << text << "\n" << output;
    for (const std::string& text : absent) EXPECT_EQ(output.find(text), std::string::npos) << text << "\n" << output;
  }
};

}  // namespace

TEST_F(ProgramRunGL, WithoutAHeadsetItReportsTheVRFailureAndRunsNoFrame) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  expectCleanRun("-u TRESSLET_VR_TRACE", {"GL_VERSION=4.5", "openVR context initialization fail. /n"},
                 {"Error initializing GLEW"});
  // No frame ran and the shutdown that saves was skipped; the settings file was written.
  EXPECT_EQ(readFile("run/autosaves.txt"), "");
  EXPECT_NE(readFile("parameters.txt").find("window_width: 1920"), std::string::npos);
}

TEST_F(ProgramRunGL, WithoutADisplayItReportsTheGLFailure) {
  expectCleanRun("-u TRESSLET_VR_TRACE -u DISPLAY", {"main - Error initializing GLEW!"},
                 {"openVR context initialization fail"});
}

TEST_F(ProgramRunGL, TheShippedTraceSnapshotsTheLeftEyeAndClosesThroughTheShutdown) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  copyAsset("traces/tiny.trace");  // snapshots at frame 29, closes at 30
  expectCleanRun("TRESSLET_VR_TRACE='" + rootPath("traces/tiny.trace") + "'", {"Shutdown\n"},
                 {"initialization fail", "X error"});
  EXPECT_EQ(cv::imread(rootPath("run/snapshot_left.png"), cv::IMREAD_COLOR).size(), cv::Size(64, 48));
}

TEST_F(ProgramRunGL, AWindowSizeXCannotHoldComesDownAndTheRunEndsByItself) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  // 65536 used to give a window that never showed and a start that waited for good.
  const std::string settings = "window_width: 65536\nwindow_height: 600\n";
  writeFile("parameters.txt", settings);
  expectCleanRun("-u TRESSLET_VR_TRACE",
                 {"parameters.txt: window_width 65536 is out of range, using 16384", "GL_VERSION=4.5",
                  "openVR context initialization fail. /n"},
                 {"Error initializing GLEW", "X error"});
  EXPECT_EQ(readFile("parameters.txt").rfind(settings, 0), 0u);
}
