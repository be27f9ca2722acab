#include "app/application.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <limits>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "core/events.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "quillax.pb.h"
#include "render/head_model.h"
#include "render/light.h"
#include "render/camera.h"
#include "render/modeler.h"
#include "render/shader.h"
#include "render/texture.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "strokes/deformer.h"
#include "strokes/interactor.h"
#include "strokes/stroke_buffer.h"
#include "strokes/stroke_geometry.h"
#include "strokes/stroke_test_support.h"
#include "ui/uivr.h"
#include "support/asset_root.h"
#include "support/gl_context.h"

namespace {

// The start-up compiles shaders, so it needs a context.
class ApplicationGL : public AssetRootTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ensureTestGLContext()) << "run GL tests under xvfb-run -a";
    AssetRootTest::SetUp();
    loadSettingsQuietly();
    clearEvents();
    g_defaultLightCurve.Clear();
    g_autosaves.Clear();
  }
  void TearDown() override {
    delete g_shaderManager;
    g_shaderManager = nullptr;
    delete g_uivr;
    g_uivr = nullptr;
    delete g_operator;
    g_operator = nullptr;
    delete g_modeler;
    g_modeler = nullptr;
    g_lightManager = nullptr;
    g_cameraManager = nullptr;
    delete g_textureManager;
    g_textureManager = nullptr;
    clearEvents();
    platform::useRealClock();
    AssetRootTest::TearDown();
  }

  // Posts the records and drains the queue (with what start-up queued); returns what it printed.
  std::string drain(std::initializer_list<EventRecord> records) {
    for (const EventRecord& record : records) postEvent(new EventRecord(record));
    testing::internal::CaptureStdout();
    dispatchEvents();
    return testing::internal::GetCapturedStdout();
  }
};

}  // namespace

TEST_F(ApplicationGL, TheQueuedStartUpEventLoadsTheHeadAndItsSettingsShowAndHideIt) {
  copyAsset("models/defaultHead");
  g_parameters.set_head_model("models/defaultHead/head.txt");
  initApplication();
  const std::string out = drain({});
  HeadModel* head = findHeadModel();
  ASSERT_NE(head, nullptr) << out;
  EXPECT_EQ(head->m_name, g_parameters.asset_path() + "models/defaultHead/head.txt");
  EXPECT_TRUE(head->isRenderable());
  ASSERT_NE(head->m_mirror, nullptr);
  ASSERT_NE(g_hairBrusher, nullptr);
  EXPECT_NE(g_hairBrusher->m_sampleGrid, nullptr);  // the brush files its samples in the head's grid
  drain({{4, 9, "", {0.0f}}, {4, 10, "", {1.0f}}});  // the same head, hidden; its mirror shown
  EXPECT_EQ(findHeadModel(), head);
  EXPECT_FALSE(head->isRenderable());
  EXPECT_TRUE(head->m_mirror->isRenderable());
  drain({{4, 10, "", {0.0f}}});
  EXPECT_FALSE(head->m_mirror->isRenderable());

  // A head that does not load replaces the old one: the brush lets go of the freed grid.
  drain({{4, 9, "../missing/head.txt", {1.0f}}});
  EXPECT_EQ(findHeadModel(), nullptr);
  EXPECT_EQ(g_hairBrusher->m_sampleGrid, nullptr);
}

TEST_F(ApplicationGL, StartUpLightsTheSceneWithTheToolsStrokesAndShutdownClearsEachManager) {
  for (const char* asset : {"shaders", "models", "textures"}) copyAsset(asset);
  writeFile("cameras.txt", "camera { name: 'front' image_width: 64 image_height: 48 camera_width: 0.2 }\n"
                           "camera { name: 'side' image_width: 64 image_height: 48 camera_width: 0.2 }\n");
  g_parameters.set_head_model("models/defaultHead/head.txt");
  initApplication();
  // The cameras of the file, the first one current; the deform tool is tool 7.
  ASSERT_TRUE(g_cameraManager && g_cameraManager == g_modeler->m_cameraManager);
  EXPECT_EQ(g_cameraManager->m_cameras.size(), 2u);
  EXPECT_EQ(g_cameraManager->m_current, 0);
  ASSERT_NE(g_deformer, nullptr);
  EXPECT_EQ(static_cast<Interactor*>(g_deformer), g_operator->getTool(7));
  // The light comes after the shader manager (its uniforms reached the programs) and before the
  // VR runtime has set the eye render size: 5 x the initial 1000.
  ASSERT_TRUE(g_modeler && g_lightManager == g_modeler->m_lightManager);
  ASSERT_EQ(g_lightManager->m_lights.size(), 1u);
  LightModel* light = g_lightManager->m_lights[0];
  EXPECT_EQ(std::vector<int32_t>({light->m_shadowMapWidth, light->m_shadowMapHeight}),
            std::vector<int32_t>({5000, 5000}));
  EXPECT_NE(light->shadowTexture(), 0u);
  std::vector<float> sent(16);
  glGetUniformfv(g_shaderManager->programId(8),
                 glGetUniformLocation(g_shaderManager->programId(8), "m_lightSpaceMatrix0"), sent.data());
  EXPECT_EQ(sent, std::vector<float>(light->m_lightSpaceMatrix.data(), light->m_lightSpaceMatrix.data() + 16));
  const std::string out = drain({});
  ASSERT_NE(findHeadModel(), nullptr) << out;

  // A ribbon drawn flat, 1.2 m up, to the side of the head, through the tool controller: the
  // pass that start-up wired casts it into the map.
  g_hairTexture = 1;
  auto frameAt = [](float z) {
    return std::vector<float>{0.5f, 1.2f, z, 1, 0, 0, 0, 1, 0, 0, 0, 1};
  };
  std::vector<float> pose = frameAt(-0.1f);
  ASSERT_TRUE(g_operator->press(pose.data(), pose.data()));
  for (int step = 1; step <= 20; ++step) {
    pose = frameAt(-0.1f + 0.01f * step);
    g_operator->move(pose.data(), pose.data());
  }
  g_operator->release(pose.data(), pose.data());
  ASSERT_EQ(g_hairBrusher->size(), 1);
  light->renderShadowMap();
  // The ribbon's middle, through the light-space matrix, in map texels.
  const Matrix4& m = light->m_lightSpaceMatrix;
  const float x = m.at(0, 0) * 0.5f + m.at(0, 1) * 1.2f + m.at(0, 3);
  const float y = m.at(1, 0) * 0.5f + m.at(1, 1) * 1.2f + m.at(1, 3);
  float depth = 0;
  glBindFramebuffer(GL_FRAMEBUFFER, light->m_shadowTarget->m_framebuffer);
  glReadPixels(static_cast<GLint>((x * 0.5f + 0.5f) * 5000), static_cast<GLint>((y * 0.5f + 0.5f) * 5000), 1,
               1, GL_DEPTH_COMPONENT, GL_FLOAT, &depth);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  EXPECT_NEAR(depth, 0.5f + 0.5f * (m.at(2, 1) * 1.2f + m.at(2, 3)), 0.01f);
  EXPECT_EQ(drainGLErrors(), 0u);

  testing::internal::CaptureStdout();
  shutdownApplication();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ((std::vector<const void*>{g_shaderManager, g_operator, g_hairBrusher, g_deformer, g_modeler,
                                      g_lightManager, g_cameraManager}),
            (std::vector<const void*>(7, nullptr)));
}

// Both timers restart when they fall due: the brush state's is due on each tick here but 1 ms ones.
TEST_F(ApplicationGL, TheAutosavesFallDueEachPeriodTheProjectsOnceASaveMadeTheRunFolder) {
  writeFile("data/.keep", "");
  g_parameters.set_project_autosave_period(3000000);  // in milliseconds past 32-bit signed
  initApplication();
  platform::useVirtualClock();
  g_timers.assign(5, platform::timeGetTime());
  g_operator->getTool(1)->push(new Operatable(1), false);
  const std::string autosave = "data/record/" + std::to_string(g_operator->m_id) + "/autosaves.txt";
  auto tick = [](uint32_t ms) {
    platform::advanceVirtualClock(ms);
    testing::internal::CaptureStdout();
    autosaveTick();
    g_operator->waitForSaves();  // written off the frame
    return testing::internal::GetCapturedStdout();
  };
  g_brushWidth = 0.03f;
  EXPECT_EQ(tick(3000000000u), "");
  g_brushWidth = 0.04f;
  // Due, but no save of this run has made the run folder yet.
  EXPECT_EQ(tick(1), "WriteProtoToTextFile ../" + autosave + " not found!\n");
  quillax::Autosaves brushState;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(readFile("run/autosaves.txt"), &brushState));
  EXPECT_FLOAT_EQ(brushState.operation().width(), 0.03f);  // not written again 1 ms later
  ASSERT_TRUE(g_operator->savePainting(""));
  EXPECT_EQ(tick(3000000000u), "");  // the timer restarted when it fell due
  EXPECT_FALSE(std::filesystem::exists(rootPath(autosave)));
  EXPECT_EQ(tick(1), "");
  quillax::Painting painting;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(readFile(autosave), &painting));
  EXPECT_EQ(painting.operations_size(), 1);

  // A period of 0 turns it off.
  std::filesystem::remove(rootPath(autosave));
  g_parameters.set_project_autosave_period(0);
  tick(1000000);
  EXPECT_FALSE(std::filesystem::exists(rootPath(autosave)));
  g_operator->reset();
}

// A lost display whose writer is stuck in a write (a hung file system) ends within its limit,
// names that save, and hands over and writes nothing more.
TEST_F(ApplicationGL, TheLostDisplaysEndGivesUpOnAWriteThatNeverEnds) {
  initApplication();
  g_operator->getTool(1)->push(makeStroke(1, 0, 3), false);
  // A pipe holds the save's text until the test reads it.
  writeFile("data/.keep", "");
  ASSERT_EQ(mkfifo(rootPath("data/held.txt").c_str(), 0644), 0);
  ASSERT_EQ(g_operator->saveInBackground(rootPath("data/held")), Operator::SaveResult::Saved);
  testing::internal::CaptureStdout();
  endSessionOnLostDisplay(1000);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "the display was lost; the painting was not saved: the save of " + rootPath("data/held.txt") +
                " did not finish within 1 s\n");
  EXPECT_FALSE(std::filesystem::exists(rootPath("run/autosaves.txt")));
  std::ifstream(rootPath("data/held.txt")).ignore(std::numeric_limits<std::streamsize>::max());
  g_operator->waitForSaves();
  EXPECT_FALSE(std::filesystem::exists(rootPath("data/record")));  // nothing handed over behind it
  g_operator->reset();
}

TEST(AutosavePeriod, ElapsedTimeIsCountedOnTheWrappingClockAndPeriodsIn64Bits) {
  struct Case {
    uint32_t now, since;
    uint64_t period;
    bool passed;
  };
  const uint32_t nearWrap = 0xFFFFF000u;  // 4096 ms before the clock wraps
  const Case cases[] = {
      {8000, 0, 8000, false},
      {8001, 0, 8000, true},
      {nearWrap + 8000u, nearWrap, 8000, false},  // 3904 after the wrap
      {nearWrap + 8001u, nearWrap, 8000, true},
      {3000000000u, 0, 3000000ull * 1000, false},  // a period of 3,000,000 s
      {3000000001u, 0, 3000000ull * 1000, true},
      {0xFFFFFFFFu, 0, 5000000ull * 1000, false},  // longer than the clock can count: never
  };
  std::vector<bool> got, want;
  for (const Case& c : cases) {
    got.push_back(periodPassed(c.now, c.since, c.period));
    want.push_back(c.passed);
  }
  EXPECT_EQ(got, want);
}

// A close while a stroke is being drawn with the mirror shown finishes the stroke and its twin
// as the trigger's release would; its first copy fails (the saving root's parent is made only
// as the menu goes, between the two) and its second lands: the painting is saved, the last word
// says where, and the shutdown reports it saved, which the program's exit status follows.
TEST_F(ApplicationGL, TheCloseFinishesTheStrokeBeingDrawnAndIsSavedWhenItsSecondCopyLands) {
  for (const char* asset : {"shaders", "models", "textures"}) copyAsset(asset);
  g_parameters.set_head_model("models/defaultHead/head.txt");
  g_parameters.set_project_to_save("later/record");
  initApplication();
  drain({EventRecord(EVENT_SETTING, SETTING_MIRROR, std::string(), {1.0f})});
  ASSERT_NE(findHeadModel(), nullptr);
  g_hairTexture = 1;
  g_operator->getTool(1)->push(makeStroke(1, 0, 3), false);
  std::vector<float> pose = {0.3f, 1.2f, 0.0f, 1, 0, 0, 0, 1, 0, 0, 0, 1};
  ASSERT_TRUE(g_operator->press(pose.data(), pose.data()));
  for (int step = 1; step <= 10; ++step) {
    pose[1] -= 0.02f;
    g_operator->move(pose.data(), pose.data());
  }
  struct MakesTheRootsParent : UIVR {
    ~MakesTheRootsParent() override { std::filesystem::create_directories(parent); }
    std::string parent;
  };
  auto* menu = new MakesTheRootsParent;
  menu->parent = rootPath("later");
  delete g_uivr;
  g_uivr = menu;

  testing::internal::CaptureStdout();
  EXPECT_TRUE(shutdownApplication());
  const std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_EQ(platform::closeStatus(), 0);  // what a later signal or a lost display ends with
  const std::string landed = g_autosaves.last_save_file();
  EXPECT_NE(printed.find("the copy of the painting was not saved: the folder ../later/record could not be made "
                         "(No such file or directory); the painting is saved as " + landed + "\n"),
            std::string::npos)
      << printed;
  quillax::Painting painting;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(readFile(landed.substr(3)), &painting)) << printed;
  EXPECT_EQ(painting.operations_size(), 3);  // the stroke before, the one being drawn and its twin
}
