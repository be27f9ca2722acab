#include "support/asset_root.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/settings.h"
#include "support/program_process.h"

namespace fs = std::filesystem;

void AssetRootTest::SetUp() {
  char pattern[] = "/tmp/tresslet-test-XXXXXX";
  const char* made = mkdtemp(pattern);
  ASSERT_NE(made, nullptr);
  m_root = std::string(made) + "/";
  fs::create_directories(m_root + "run");
  m_previousDir = fs::current_path().string();
  fs::current_path(m_root + "run");
}

void AssetRootTest::TearDown() {
  if (!m_previousDir.empty()) fs::current_path(m_previousDir);
  std::error_code ec;
  if (!m_root.empty()) fs::remove_all(m_root, ec);
}

void AssetRootTest::copyAsset(const std::string& relative) const {
  const fs::path from = repoAssetPath(relative);
  const fs::path to = m_root + relative;
  fs::create_directories(to.parent_path());
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::overwrite_existing);
}

void AssetRootTest::copyShippedAssets() const {
  for (const char* asset : {"parameters.txt", "shaders", "textures", "models"}) copyAsset(asset);
}

void AssetRootTest::writeFile(const std::string& relativeToRoot, const std::string& text) const {
  const fs::path to = m_root + relativeToRoot;
  fs::create_directories(to.parent_path());
  std::ofstream(to) << text;
}

std::string AssetRootTest::readFile(const std::string& relativeToRoot) const {
  std::ifstream in(m_root + relativeToRoot);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::string repoAssetPath(const std::string& relative) {
  return std::string(TRESSLET_SOURCE_DIR) + "/assets/" + relative;
}

int runTresslet(const std::string& environment, std::string& output) {
  const std::string command = "env " + environment + " timeout " + std::to_string(kSafetyLimitSeconds) + " '" +
                              std::string(TRESSLET_BINARY) + "' 2>&1";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return -1;
  char buffer[4096];
  size_t count;
  while ((count = fread(buffer, 1, sizeof(buffer), pipe)) > 0) output.append(buffer, count);
  const int status = pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void loadSettingsQuietly() {
  g_parameters.Clear();
  testing::internal::CaptureStdout();
  loadParameters();
  testing::internal::GetCapturedStdout();
}

void WholeProgramGL::SetUp() {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "run under xvfb-run -a";
  AssetRootTest::SetUp();
}

std::string WholeProgramGL::traceEnvironment(const std::string& trace) const {
  writeFile("run/program.trace", trace);
  return "TRESSLET_VR_TRACE='" + rootPath("run/program.trace") + "'";
}

int WholeProgramGL::runOnTrace(const std::string& trace) {
  m_output.clear();
  return runTresslet(traceEnvironment(trace), m_output);
}
