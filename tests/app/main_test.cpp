#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "core/text_file.h"
#include "quillax.pb.h"
#include "support/app_trace.h"
#include "support/asset_root.h"

namespace {

// Runs the whole program from the test's run/ folder: it must end with exit code 0, print each
// of the texts in `printed` and none of those in `absent`.
class ProgramRunGL : public AssetRootTest {
 protected:
  void expectCleanRun(const std::string& environment, const std::vector<std::string>& printed,
                      const std::vector<std::string>& absent) {
    m_output.clear();
    EXPECT_EQ(runTresslet(environment, m_output), 0) << m_output;
    for (const std::string& text : printed) EXPECT_NE(m_output.find(text), std::string::npos) << text << "\n" << m_output;
    for (const std::string& text : absent) EXPECT_EQ(m_output.find(text), std::string::npos) << text << "\n" << m_output;
  }
  std::string m_output;
};

}  // namespace

TEST_F(ProgramRunGL, WithoutADisplayItSaysSoOnceAndExitsWithAFailure) {
  EXPECT_EQ(runTresslet("-u TRESSLET_VR_TRACE -u DISPLAY", m_output), 1) << m_output;
  EXPECT_NE(m_output.find("Unable to open the X display\n"), std::string::npos) << m_output;
  for (const char* absent : {"Error initializing GLEW", "openVR context initialization fail"})
    EXPECT_EQ(m_output.find(absent), std::string::npos) << m_output;
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
  std::string trace = threeStrokeTrace(true, 64);
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

// Without a headset the program reports the VR failure and runs no frame: the shutdown that saves
// is skipped and the settings are written. A window size X cannot hold comes down (65536 used to
// give a window that never showed and a start that waited for good).
TEST_F(ProgramRunGL, WithoutAHeadsetItReportsTheVRFailureEvenWithAWindowXCannotHold) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  const std::vector<std::string> printed = {"GL_VERSION=4.5", "openVR context initialization fail. /n"};
  expectCleanRun("-u TRESSLET_VR_TRACE", printed, {"Error initializing GLEW"});
  EXPECT_EQ(readFile("run/autosaves.txt"), "");
  EXPECT_NE(readFile("parameters.txt").find("window_width: 1920"), std::string::npos);

  const std::string settings = "window_width: 65536\nwindow_height: 600\n";
  writeFile("parameters.txt", settings);
  expectCleanRun("-u TRESSLET_VR_TRACE", printed, {"Error initializing GLEW", "X error"});
  EXPECT_EQ(readFile("parameters.txt").rfind(settings, 0), 0u);
  EXPECT_NE(m_output.find("parameters.txt: window_width 65536 is out of range, using 16384"), std::string::npos);
}

// Sizes no GL takes start all the same, each named; temporaries of ended saves go, those of a
// running process stay.
TEST_F(ProgramRunGL, HostileCaptureSizesStartAndStaleTemporariesGo) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  writeFile("parameters.txt", "capture_image_width: 2147483647\ncapture_image_height: 8\n");
  writeFile("cameras.txt", "camera { name: 'c' image_width: 2147483647 image_height: 8 camera_width: 0.2 "
                           "camera_near: -1 camera_far: 2 }\n");
  const std::string stale = ".~p.txt.999999999.0.tmp", live = ".~p.txt." + std::to_string(getpid()) + ".0.tmp";
  for (const std::string folder : {"", "run/", "data/record/1/"}) {
    writeFile(folder + stale, "x");
    writeFile(folder + live, "x");
  }
  expectCleanRun("-u TRESSLET_VR_TRACE",
                 {"openVR context initialization fail", "capture_image_width 2147483647 is out of range, using 16384",
                  "camera c: image_width 2147483647", "camera c: camera_near -1"},
                 {"Error initializing GLEW"});
  for (const std::string folder : {"", "run/", "data/record/1/"}) {
    EXPECT_FALSE(std::filesystem::exists(rootPath(folder + stale))) << folder;
    EXPECT_TRUE(std::filesystem::exists(rootPath(folder + live))) << folder;
  }
}

// Two instances started together in one asset root each save into a run folder of their own.
TEST_F(ProgramRunGL, TwoInstancesAtOnceKeepTheirOwnRunFolders) {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  for (const char* asset : {"parameters.txt", "shaders", "textures", "models"}) copyAsset(asset);
  writeFile("data/.keep", "");
  writeFile("run/autosaves.txt", "operation {\n  texture: 1\n  width: 0.01\n}\n");
  writeFile("three.trace", threeStrokeTrace(true, 64) + "@40\nclose\n");
  const std::string environment = "TRESSLET_VR_TRACE='" + rootPath("three.trace") + "'";
  std::string outputs[2];
  int codes[2] = {-1, -1};
  std::thread other([&] { codes[1] = runTresslet(environment, outputs[1]); });
  codes[0] = runTresslet(environment, outputs[0]);
  other.join();
  EXPECT_EQ(codes[0], 0) << outputs[0];
  EXPECT_EQ(codes[1], 0) << outputs[1];
  std::vector<std::string> runs;
  for (const auto& entry : std::filesystem::directory_iterator(rootPath("data/record"))) {
    runs.push_back(entry.path().string());
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(entry.path()), std::filesystem::directory_iterator()), 4)
        << entry.path();
  }
  EXPECT_EQ(runs.size(), 2u);
}
