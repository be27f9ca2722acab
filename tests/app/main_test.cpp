#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "core/text_file.h"
#include "quillax.pb.h"
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

TEST_F(ProgramRunGL, ASessionOfThreeStrokesLeavesItsPaintingAndObjInTheRunFolder) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  for (const char* asset : {"parameters.txt", "shaders", "textures", "models"}) copyAsset(asset);
  writeFile("data/.keep", "");
  // The brush of the last run: hair texture 1.
  writeFile("run/autosaves.txt", "operation {\n  texture: 1\n  width: 0.01\n  color { red: 0.6 green: 0.4 blue: 0.2 }\n}\n");
  std::string trace =
      "render_size 64 64\nframe_ms 11\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
      "pose 0 pos 0.1 1.0 0.45 rot 15 0 0\npose 1 pos 0.25 0.85 0.35 rot 20 -10 0\n"
      "pose 2 pos -0.25 0.85 0.35 rot -20 -30 0\n";
  const char* const tops[] = {"0.16 1.08 0.12", "0.19 1.08 0.06", "0.19 1.06 0.0"};
  const char* const bottoms[] = {"0.17 0.88 0.10", "0.20 0.88 0.04", "0.20 0.86 -0.02"};
  for (int k = 0; k < 3; ++k) {
    const std::string f = std::to_string(3 + 12 * k), down = std::to_string(4 + 12 * k),
                      bottom = std::to_string(10 + 12 * k), up = std::to_string(11 + 12 * k);
    trace += "@" + f + " lerp\npose 1 pos " + tops[k] + " rot 20 -10 0\n@" + down + "\ntrigger 1 down\n@" + bottom +
             " lerp\npose 1 pos " + bottoms[k] + " rot 20 -25 0\n@" + up + "\ntrigger 1 up\n";
  }
  trace += "@40\nclose\n";
  writeFile("three.trace", trace);
  expectCleanRun("TRESSLET_VR_TRACE='" + rootPath("three.trace") + "'", {"Shutdown\n"},
                 {"initialization fail", "error in creating", "Failed to open file"});

  // One run folder; the shutdown's save and the controller's own, each a painting and its OBJ.
  std::vector<std::string> runs, files;
  for (const auto& entry : std::filesystem::directory_iterator(rootPath("data/record")))
    runs.push_back(entry.path().string());
  ASSERT_EQ(runs.size(), 1u);
  for (const auto& entry : std::filesystem::directory_iterator(runs[0])) files.push_back(entry.path().string());
  std::sort(files.begin(), files.end());
  ASSERT_EQ(files.size(), 4u);
  for (size_t i = 0; i < 4; i += 2) {
    ASSERT_EQ(files[i].substr(files[i].size() - 4), ".obj");
    ASSERT_EQ(files[i + 1], files[i].substr(0, files[i].size() - 4) + ".txt");
    quillax::Painting painting;
    ASSERT_TRUE(ReadProtoFromTextFile(files[i + 1].c_str(), &painting));
    EXPECT_EQ(painting.operations_size(), 3);
    const std::string obj = readFile(files[i].substr(root().size()));
    EXPECT_EQ(obj.rfind("g stroke_0_type1\n", 0), 0u);
    EXPECT_NE(obj.find("\ng stroke_2_type1\n"), std::string::npos);
  }
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
