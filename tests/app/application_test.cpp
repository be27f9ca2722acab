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

// Colour, lightness, texture, width, curvature and light-curve length of the current brush.
std::vector<float> brush() {
  return {g_currentColor.red(), g_currentColor.green(), g_currentColor.blue(), g_currentColor.lightness(),
          float(g_hairTexture), g_brushWidth, float(g_curvature), float(g_defaultLightCurve.v_size())};
}

}  // namespace

TEST_F(ApplicationGL, AnAutosaveThatDoesNotParseIsDroppedWholeForTheFirstRunBrush) {
  // The operation parses before the error; restoring it would give a black, zero-width brush.
  writeFile("run/autosaves.txt", "operation { width: 0.0 color { red: 0 } }\nbroken {{{\n");
  initApplication();
  EXPECT_EQ(brush(), (std::vector<float>{0.92f, 0.92f, 0.71f, 1.0f, 0, 0.02f, 0, 30}));
  EXPECT_FALSE(g_autosaves.has_operation());
  EXPECT_TRUE(g_textureManager && g_shaderManager && g_modeler);
  // The head is loaded and shown by the first frame's drain.
  EventRecord* record = popEvent();
  ASSERT_NE(record, nullptr);
  EXPECT_EQ((std::vector<int>{record->m_type, record->m_id}), (std::vector<int>{4, 9}));
  EXPECT_EQ(record->m_values, std::vector<float>{1.0f});
  delete record;
  EXPECT_EQ(popEvent(), nullptr);
}

TEST_F(ApplicationGL, AutosaveTickWritesTheBrushStateOncePer8Seconds) {
  initApplication();
  platform::useVirtualClock();
  g_timers.assign(5, platform::timeGetTime());
  const auto savedWidth = [this] {
    quillax::Autosaves written;
    const bool parsed = google::protobuf::TextFormat::ParseFromString(readFile("run/autosaves.txt"), &written);
    return parsed && written.has_operation() ? written.operation().width() : -1.0f;
  };
  g_brushWidth = 0.03f;
  platform::advanceVirtualClock(8000);
  EXPECT_TRUE(autosaveTick());
  EXPECT_EQ(readFile("run/autosaves.txt"), "");
  platform::advanceVirtualClock(1);
  EXPECT_TRUE(autosaveTick());
  EXPECT_FLOAT_EQ(savedWidth(), 0.03f);

  // The next save waits another full period.
  g_brushWidth = 0.04f;
  platform::advanceVirtualClock(7999);
  autosaveTick();
  EXPECT_FLOAT_EQ(savedWidth(), 0.03f);
}
