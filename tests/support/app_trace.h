#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "app/application.h"
#include "app/openvr.h"
#include "core/events.h"
#include "core/settings.h"
#include "render/framebuffer.h"
#include "render/texture.h"
#include "support/asset_root.h"
#include "support/gl_context.h"

// The shipped assets started as the program starts them and driven frame by frame by a trace
// through the simulated headset: each pass renders, then handles input, as the program's frame
// loop does. Needs a GL context (run under xvfb-run -a).
class AppTraceGL : public AssetRootTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ensureTestGLContext()) << "run GL tests under xvfb-run -a";
    AssetRootTest::SetUp();
    for (const char* asset : {"parameters.txt", "shaders", "textures", "models"}) copyAsset(asset);
    // Eye images without multisampling: the same picture, far fewer fragments to shade.
    std::string settings = readFile("parameters.txt");
    settings.replace(settings.find("multisample_size: 12"), 20, "multisample_size: 1");
    writeFile("parameters.txt", settings);
    ASSERT_TRUE(m_desktop.init(32, 32, 1));
  }
  void TearDown() override {
    if (m_vr.isRunning()) stop();  // a test that stopped half way
    unsetenv("TRESSLET_VR_TRACE");
    clearEvents();
    drainGLErrors();
    AssetRootTest::TearDown();
  }

  // Starts the application, lets `prepare` post records or look at what start-up built, then
  // starts the headset on the trace that `trace` returns.
  void start(const std::function<void()>& prepare, const std::function<std::string()>& trace) {
    g_parameters.Clear();
    g_autosaves.Clear();
    g_defaultLightCurve.Clear();
    testing::internal::CaptureStdout();
    loadParameters();
    initApplication();
    if (prepare) prepare();
    writeFile("run/test.trace", trace());
    setenv("TRESSLET_VR_TRACE", rootPath("run/test.trace").c_str(), 1);
    const bool started = m_vr.init();
    m_output = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(started) << m_output;
    m_vr.resetControllerAssignment();
    m_vr.setDesktopFramebuffer(m_desktop.m_framebuffer);
  }
  // Runs passes until `frame` has been published and its input handled.
  void runThrough(int frame) {
    testing::internal::CaptureStdout();
    for (; m_pass <= frame; ++m_pass) {
      m_vr.renderFrame();
      m_vr.handleInput();
    }
    m_output += testing::internal::GetCapturedStdout();
  }
  void stop() {
    testing::internal::CaptureStdout();
    shutdownApplication();
    m_vr.shutdown();
    testing::internal::GetCapturedStdout();
    delete g_textureManager;
    g_textureManager = nullptr;
    m_pass = 0;
  }

  FramebufferDesc m_desktop;
  OpenVR m_vr;
  std::string m_output;
  int m_pass = 0;
};
