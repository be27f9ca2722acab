#include "app/application.h"

#include <google/protobuf/text_format.h>
#include <gtest/gtest.h>

#include <vector>

#include "core/events.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "quillax.pb.h"
#include "render/modeler.h"
#include "render/shader.h"
#include "render/texture.h"
#include "support/asset_root.h"
#include "support/gl_context.h"

namespace {

// The start-up compiles shaders, so it needs a context.
class ApplicationGL : public AssetRootTest {
 protected:
  void SetUp() override {
    ASSERT_TRUE(ensureTestGLContext()) << "run GL tests under xvfb-run -a";
    AssetRootTest::SetUp();
    clearEvents();
    g_defaultLightCurve.Clear();
    g_autosaves.Clear();
  }
  void TearDown() override {
    delete g_shaderManager;
    g_shaderManager = nullptr;
    delete g_modeler;
    g_modeler = nullptr;
    delete g_textureManager;
    g_textureManager = nullptr;
    clearEvents();
    platform::useRealClock();
    AssetRootTest::TearDown();
  }
};

void expectDefaultBrush() {
  EXPECT_FLOAT_EQ(g_currentColor.red(), 0.92f);
  EXPECT_FLOAT_EQ(g_currentColor.green(), 0.92f);
  EXPECT_FLOAT_EQ(g_currentColor.blue(), 0.71f);
  EXPECT_FLOAT_EQ(g_currentColor.lightness(), 1.0f);
  EXPECT_FLOAT_EQ(g_brushWidth, 0.02f);
  EXPECT_EQ(g_hairTexture, 0);
  EXPECT_EQ(g_curvature, 0);
  ASSERT_EQ(g_defaultLightCurve.v_size(), 30);
  EXPECT_FLOAT_EQ(g_defaultLightCurve.v(29), 1.0f);
}

}  // namespace

TEST_F(ApplicationGL, FirstRunTakesTheDefaultBrushAndQueuesTheHeadLoad) {
  initApplication();
  expectDefaultBrush();
  EXPECT_NE(g_textureManager, nullptr);
  EXPECT_NE(g_shaderManager, nullptr);
  EXPECT_NE(g_modeler, nullptr);
  EventRecord* record = popEvent();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->m_type, 4);
  EXPECT_EQ(record->m_id, 9);
  EXPECT_EQ(record->m_values, std::vector<float>{1.0f});
  delete record;
  EXPECT_EQ(popEvent(), nullptr);
}

TEST_F(ApplicationGL, RestoresTheStoredBrushAndFillsAnEmptyLightCurve) {
  writeFile("run/autosaves.txt",
            "operation { color { red: 0.1 green: 0.2 blue: 0.3 lightness: 0.5 alpha: 0.4 }"
            " texture: 2 width: 0.05 curvature: -4 }\nlast_save_file: \"x.txt\"\n");
  g_currentColor.set_alpha(1.0f);
  initApplication();
  EXPECT_FLOAT_EQ(g_currentColor.red(), 0.1f);
  EXPECT_FLOAT_EQ(g_currentColor.blue(), 0.3f);
  EXPECT_FLOAT_EQ(g_currentColor.lightness(), 0.5f);
  EXPECT_FLOAT_EQ(g_currentColor.alpha(), 1.0f);  // the stored alpha is not taken
  EXPECT_EQ(g_hairTexture, 2);
  EXPECT_FLOAT_EQ(g_brushWidth, 0.05f);
  EXPECT_EQ(g_curvature, -4);
  EXPECT_EQ(g_defaultLightCurve.v_size(), 30);
  EXPECT_EQ(g_autosaves.last_save_file(), "x.txt");
}

TEST_F(ApplicationGL, AnAutosaveThatDoesNotParseIsDroppedWhole) {
  // The operation parses before the error; restoring it would give a black, zero-width brush.
  writeFile("run/autosaves.txt", "operation { width: 0.0 color { red: 0 } }\nbroken {{{\n");
  initApplication();
  expectDefaultBrush();
  EXPECT_FALSE(g_autosaves.has_operation());
}

TEST_F(ApplicationGL, AutosaveTickWritesTheBrushStateEvery8Seconds) {
  initApplication();
  platform::useVirtualClock();
  g_timers.assign(5, platform::timeGetTime());
  g_brushWidth = 0.03f;

  platform::advanceVirtualClock(8000);
  EXPECT_TRUE(autosaveTick());
  EXPECT_EQ(readFile("run/autosaves.txt"), "");

  platform::advanceVirtualClock(1);
  EXPECT_TRUE(autosaveTick());
  quillax::Autosaves written;
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(readFile("run/autosaves.txt"), &written));
  EXPECT_FLOAT_EQ(written.operation().width(), 0.03f);
  EXPECT_FLOAT_EQ(written.operation().color().blue(), 0.71f);
  EXPECT_EQ(written.operation().lightcurve().v_size(), 30);

  // The next save waits another full period.
  g_brushWidth = 0.04f;
  platform::advanceVirtualClock(7999);
  autosaveTick();
  ASSERT_TRUE(google::protobuf::TextFormat::ParseFromString(readFile("run/autosaves.txt"), &written));
  EXPECT_FLOAT_EQ(written.operation().width(), 0.03f);
}
