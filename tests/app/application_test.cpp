#include "app/application.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "core/events.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "quillax.pb.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "render/shader.h"
#include "render/texture.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "support/asset_root.h"
#include "support/gl_context.h"
#include "support/hostile_files.h"

namespace {

// The start-up compiles shaders, so it needs a context.
class ApplicationGL : public AssetRootTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ensureTestGLContext()) << "run GL tests under xvfb-run -a";
    AssetRootTest::SetUp();
    g_parameters.Clear();
    testing::internal::CaptureStdout();
    loadParameters();
    testing::internal::GetCapturedStdout();
    clearEvents();
    g_defaultLightCurve.Clear();
    g_autosaves.Clear();
  }
  void TearDown() override {
    delete g_shaderManager;
    g_shaderManager = nullptr;
    delete g_operator;
    g_operator = nullptr;
    delete g_modeler;
    g_modeler = nullptr;
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

TEST_F(ApplicationGL, AnAutosaveThatDoesNotParseIsDroppedWholeForTheFirstRunBrush) {
  // The operation parses before the error; restoring it would give a black, zero-width brush.
  writeFile("run/autosaves.txt", "operation { width: 0.0 color { red: 0 } }\nbroken {{{\n");
  initApplication();
  EXPECT_EQ((std::vector<float>{g_currentColor.red(), g_currentColor.green(), g_currentColor.blue(),
                                g_currentColor.lightness(), float(g_hairTexture), g_brushWidth, float(g_curvature),
                                float(g_defaultLightCurve.v_size())}),
            (std::vector<float>{0.92f, 0.92f, 0.71f, 1.0f, 0, 0.02f, 0, 30}));
  EXPECT_FALSE(g_autosaves.has_operation());
  EXPECT_TRUE(g_textureManager && g_shaderManager && g_modeler);
}

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

TEST_F(ApplicationGL, AutosaveTickWritesTheBrushStateOncePer8Seconds) {
  initApplication();
  platform::useVirtualClock();
  g_timers.assign(5, platform::timeGetTime());
  g_brushWidth = 0.03f;
  platform::advanceVirtualClock(8000);
  autosaveTick();
  EXPECT_EQ(readFile("run/autosaves.txt"), "");
  platform::advanceVirtualClock(1);
  autosaveTick();
  g_brushWidth = 0.04f;  // the next save waits another full period
  platform::advanceVirtualClock(7999);
  autosaveTick();
  quillax::Autosaves written;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(readFile("run/autosaves.txt"), &written));
  EXPECT_FLOAT_EQ(written.operation().width(), 0.03f);
}

TEST_F(ApplicationGL, TheProjectAutosaveFallsDueEachPeriodOnceASaveMadeTheRunFolder) {
  writeFile("data/.keep", "");
  g_parameters.set_project_autosave_period(2);
  initApplication();
  platform::useVirtualClock();
  g_timers.assign(5, platform::timeGetTime());
  g_operator->getTool(1)->push(new Operatable(1), false);
  const std::string autosave = "data/record/" + std::to_string(g_operator->m_id) + "/autosaves.txt";
  auto tick = [](uint32_t ms) {
    platform::advanceVirtualClock(ms);
    testing::internal::CaptureStdout();
    autosaveTick();
    return testing::internal::GetCapturedStdout();
  };
  EXPECT_EQ(tick(2000), "");
  // Due, but no save of this run has made the run folder yet.
  EXPECT_EQ(tick(1), "WriteProtoToTextFile ../" + autosave + " not found!\n");
  ASSERT_TRUE(g_operator->savePainting(""));
  EXPECT_EQ(tick(2000), "");
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

using AutosavesFileTest = AssetRootTest;

TEST_F(AutosavesFileTest, OneThatDoesNotReadIsMovedAsideWholeBeforeTheFirstWrite) {
  platform::useVirtualClock();
  g_parameters.Clear();
  testing::internal::CaptureStdout();
  loadParameters();
  testing::internal::GetCapturedStdout();
  // Each kind in turn; a name already taken by an earlier one is never renamed over.
  const char* const movedTo[] = {"autosaves.txt.bad", "autosaves.txt.bad1", "autosaves.txt.bad2",
                                 "autosaves.txt.bad3"};
  for (size_t i = 0; i < hostileFiles().size(); ++i) {
    const HostileFile& hostile = hostileFiles()[i];
    SCOPED_TRACE(hostile.kind);
    std::filesystem::remove_all(rootPath("run/autosaves.txt"));
    hostile.make(rootPath("run/autosaves.txt"), "operation { width: 0.05 }\n");
    const std::string before = fingerprint(rootPath("run/autosaves.txt"));
    testing::internal::CaptureStdout();
    readAutosaves();
    g_timers.assign(5, platform::timeGetTime());
    platform::advanceVirtualClock(8001);
    autosaveTick();
    platform::advanceVirtualClock(8001);
    autosaveTick();  // moved once only
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("initApplication: autosaves.txt could not be read; using the default brush"),
              std::string::npos) << out;
    EXPECT_NE(out.find(std::string("autosaveTick: autosaves.txt moved to ") + movedTo[i] + "\n"),
              std::string::npos) << out;
    EXPECT_FALSE(g_autosaves.operation().has_texture() && g_autosaves.operation().width() == 0.05f);
    EXPECT_EQ(fingerprint(rootPath(std::string("run/") + movedTo[i])), before);
    quillax::Autosaves written;
    EXPECT_TRUE(google::protobuf::TextFormat::ParseFromString(readFile("run/autosaves.txt"), &written));
  }
  platform::useRealClock();
}
