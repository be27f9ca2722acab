#include <gtest/gtest.h>

#include <string>

#include "app/dispatcher.h"
#include "core/events.h"
#include "core/settings.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "render/render_gl_fixture.h"

namespace {

class HeadEventGLTest : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    copyAsset("models/defaultHead");
    g_parameters.Clear();
    testing::internal::CaptureStdout();
    loadParameters();
    testing::internal::GetCapturedStdout();
    g_parameters.set_head_model("models/defaultHead/head.txt");
    clearEvents();
  }
  void TearDown() override {
    clearEvents();
    delete g_modeler;
    g_modeler = nullptr;
    RenderGLTest::TearDown();
  }
  // Dispatches one setting with one value and returns what it printed.
  std::string setting(int id, float value) {
    postEvent(new EventRecord(4, id, "", {value}));
    testing::internal::CaptureStdout();
    dispatchEvents();
    return testing::internal::GetCapturedStdout();
  }
};

TEST_F(HeadEventGLTest, HeadAndMirrorSettingsLoadShowAndHide) {
  setting(9, 1.0f);  // before the registry exists: nothing to load into
  g_modeler = new Modeler();
  const std::string out = setting(9, 1.0f);  // the start-up event
  HeadModel* head = findHeadModel();
  ASSERT_NE(head, nullptr) << out;
  EXPECT_EQ(head->m_name, g_parameters.asset_path() + "models/defaultHead/head.txt");
  setting(9, 0.0f);  // the same head, hidden
  EXPECT_EQ(findHeadModel(), head);
  EXPECT_FALSE(head->isRenderable());

  ASSERT_NE(head->m_mirror, nullptr);
  setting(10, 1.0f);
  EXPECT_TRUE(head->m_mirror->isRenderable());
  setting(10, 0.0f);
  EXPECT_FALSE(head->m_mirror->isRenderable());
}

}  // namespace
