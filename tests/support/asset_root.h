#pragma once
#include <gtest/gtest.h>

#include <string>

// A throw-away asset root with a run/ folder, made the working directory for the test, so code
// that reads "../parameters.txt" finds the test's own files. Nothing is written into the repo.
class AssetRootTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Absolute path of the asset root (ends in "/") and of a file under it.
  const std::string& root() const { return m_root; }
  std::string rootPath(const std::string& relative) const { return m_root + relative; }
  // Copies a file or folder from the repo's assets/ into the throw-away root.
  void copyAsset(const std::string& relative) const;
  // The shipped settings, shaders, textures and models, as a run finds them.
  void copyShippedAssets() const;
  void writeFile(const std::string& relativeToRoot, const std::string& text) const;
  std::string readFile(const std::string& relativeToRoot) const;

 private:
  std::string m_root;
  std::string m_previousDir;
};

// The repo's assets/ folder (read-only for tests).
std::string repoAssetPath(const std::string& relative);

// Runs build/tresslet from the working directory with `environment` given to env(1) (for example
// "-u DISPLAY" or "TRESSLET_VR_TRACE=../x.trace"), ended after kSafetyLimitSeconds; collects what it
// printed into `output` and returns its exit code (-1 when it did not exit normally).
int runTresslet(const std::string& environment, std::string& output);

// Clears the settings and loads "../parameters.txt" as start-up does, without its messages.
void loadSettingsQuietly();

// A whole-program run from the throw-away root; skipped without a display.
class WholeProgramGL : public AssetRootTest {
 protected:
  void SetUp() override;
  // Writes `trace` as run/program.trace; the environment that replays it, for runTresslet.
  std::string traceEnvironment(const std::string& trace) const;
  // Runs the program on `trace`; its exit code, and what it printed in m_output.
  int runOnTrace(const std::string& trace);
  std::string m_output;
};
