#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "core/events.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/camera.h"
#include "render/framebuffer.h"
#include "render/model_element.h"
#include "render/render_gl_fixture.h"
#include "strokes/stroke_test_support.h"
#include "ui/panel.h"
#include "ui/shooter.h"
#include "ui/ui_test_support.h"
#include "ui/uivr.h"

namespace {

// Settings loaded with a known brush, shaders and menu pictures in place.
class ShooterGLTest : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    if (HasFatalFailure()) return;  // no context
    copyAsset("textures");
    copyAsset("targets");
    loadSettingsQuietly();
    m_state.set();  // with the cross-section profiles
    g_parameters.set_asset_path(root());
    loadShaders();
    g_hairTexture = 1;
    g_brushShape = 0;
    g_curvature = 0;
    g_brushWidth = 0.02f;
    clearEvents();
  }
  void TearDown() override {
    delete g_uivr;
    g_uivr = nullptr;
    m_shooter.reset();
    clearEvents();
    m_state.restore();
    RenderGLTest::TearDown();
  }
  Shooter& shooter() {
    m_shooter.reset(new Shooter());
    quillax::UIParam ui;
    m_shooter->init(ui);
    return *m_shooter;
  }
  // The floats of a geometry's vertex buffer as they are on the GPU.
  static std::vector<float> buffer(const ModelElement* geometry) {
    std::vector<float> out(static_cast<size_t>(geometry->m_count) * geometry->m_floatsPerVertex);
    glBindBuffer(GL_ARRAY_BUFFER, geometry->m_vbo);
    glGetBufferSubData(GL_ARRAY_BUFFER, 0, static_cast<GLsizeiptr>(out.size() * sizeof(float)), out.data());
    glBindBuffer(GL_ARRAY_BUFFER, 0);
    return out;
  }
  // What a swipe would edit: whether there is a primary value, it and its step, then the same
  // for the secondary value (-1 where there is none).
  static std::vector<float> swipeReads(Shooter& s) {
    float primary = -1, primaryStep = -1, secondary = -1, secondaryStep = -1;
    const bool p = s.getPrimaryValue(primary, primaryStep);
    const bool q = s.getSecondaryValue(secondary, secondaryStep);
    return {float(p), primary, primaryStep, float(q), secondary, secondaryStep};
  }
  std::unique_ptr<Shooter> m_shooter;
  KnownBrushState m_state;
};

}  // namespace

TEST_F(ShooterGLTest, SwipeValuesClampRebuildAndLeaveTinyChanges) {
  Shooter& s = shooter();
  ModelElement* brusher = s.getGeometry(GEOMETRY_UI_BRUSHER);
  ASSERT_NE(brusher, nullptr);
  EXPECT_EQ(swipeReads(s), (std::vector<float>{0, -1, -1, 0, -1, -1}));  // nothing drawn
  brusher->setFlag2(true);  // drawn in the last frame: the brush values are edited
  const std::vector<float> before = buffer(brusher);

  s.setPrimaryValue(0.0205f);  // 0.0005 away: nothing changes
  EXPECT_FLOAT_EQ(g_brushWidth, 0.02f);
  EXPECT_EQ(buffer(brusher), before);
  s.setPrimaryValue(0.5f);
  EXPECT_FLOAT_EQ(g_brushWidth, 0.1f);
  ASSERT_EQ(buffer(brusher).size(), before.size());
  EXPECT_FLOAT_EQ(buffer(brusher)[0], before[0] * 5.0f);

  // The curvature: |c| + 1 segments of two vertices each after the rebuild.
  std::vector<int> curvatures;
  for (float value : {30.0f, 0.5f, 7.6f}) {
    s.setSecondaryValue(value);
    curvatures.push_back(g_curvature);
    EXPECT_EQ(brusher->m_count, 2 * (g_curvature + 1)) << value;
  }
  EXPECT_EQ(curvatures, (std::vector<int>{23, 1, 7}));
  // A settings file with a curvature limit below 1 keeps the range [1, 1] rather than inverting it.
  g_parameters.set_max_curvature(0);
  s.setSecondaryValue(5.0f);
  EXPECT_EQ(g_curvature, 1);

  // With the sphere drawn as well the brusher is tried first; with only the sphere, the primary
  // value is its size.
  s.getGeometry(GEOMETRY_UI_SPHERE)->setFlag2(true);
  EXPECT_EQ(swipeReads(s), (std::vector<float>{1, 0.1f, 0.02f, 1, 1, 5}));
  brusher->setFlag2(false);
  s.setPrimaryValue(0.07f);
  EXPECT_EQ(swipeReads(s), (std::vector<float>{1, 0.07f, 0.02f, 0, -1, -1}));
  EXPECT_FLOAT_EQ(s.getGeometry(GEOMETRY_UI_SPHERE)->m_modelMatrix[0], 0.07f);
  EXPECT_FLOAT_EQ(s.getGeometry(GEOMETRY_UI_SPHERE)->m_modelMatrix[14], -0.05f);
  s.setSecondaryValue(9.0f);  // the sphere has no second value
  EXPECT_EQ(g_curvature, 1);
}

TEST_F(ShooterGLTest, RenderFollowsTheToolSpinsMarkersAndShowsTheHelixForSpinAndBraid) {
  Shooter& s = shooter();
  TestRenderTarget target(32, 32);
  target.bindAndClear(0, 0, 0, 1);
  auto drawnWith = [&](int mode, int shape) {
    g_modeState[2] = mode;
    g_brushShape = shape;
    s.render(Matrix4(), Matrix4());
    std::string drawn;
    for (int key = 0; key <= GEOMETRY_UI_SPLINER; ++key) drawn += s.getGeometry(key)->getFlag2() ? '1' : '0';
    return drawn;
  };
  // Keys 0 to 5: card, pyramid, sphere, pointer, brusher, helix.
  g_hairTexture = 2;
  EXPECT_EQ(drawnWith(0, 0), "100110");  // the brush: its card, cross-section and ray
  EXPECT_EQ(s.m_modeState[1], (std::vector<int32_t>{2, 0}));
  EXPECT_EQ(drawnWith(0, 2), "100111");
  EXPECT_EQ(drawnWith(0, 3), "100111");
  EXPECT_EQ(s.m_modeState[1], (std::vector<int32_t>{2, 3}));
  g_hairTexture = 0;
  EXPECT_EQ(drawnWith(0, 1), "100100");  // the pen has no cross-section
  EXPECT_EQ(drawnWith(1, 0), "101100");  // the select tool: sphere and icon

  // The move tool's marker turns 0.02 radian about its z axis with every draw.
  ModelElement* marker = s.getGeometry(GEOMETRY_UI_CUBE);
  EXPECT_EQ(drawnWith(3, 0), "110100");
  drawnWith(3, 0);
  drawnWith(3, 0);
  // (Its sense is transformMatrix4's.)
  EXPECT_NEAR(std::fabs(std::atan2(marker->m_modelMatrix[1], marker->m_modelMatrix[0])), 0.06f, 1e-5);
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(ShooterGLTest, UpdateRebuildsThePointerOnlyWhenItsLengthChanges) {
  g_uivr = new UIVR();
  testing::internal::CaptureStdout();
  g_uivr->init();
  testing::internal::GetCapturedStdout();
  Panel& panel = *g_uivr->m_panel;
  Shooter& s = *g_uivr->m_shooter;
  ModelElement* pointer = s.getGeometry(GEOMETRY_UI_POINTER);
  g_uiValues[8] = -1.0f;
  // The drawing hand 30 cm in front of "brushTool", pointing at it along its -z.
  Matrix4 aimed;
  aimed[12] = -0.054f, aimed[13] = 0.285f, aimed[14] = 0.3f;
  Matrix4 away = aimed;
  away[12] = 2.0f;

  panel.setVisible(true);
  s.setVisible(false);  // the drawing hand not tracked: no test, the pointer keeps its length
  g_uivr->update(Matrix4(), aimed);
  EXPECT_FLOAT_EQ(g_uiValues[8], -1.0f);

  s.setVisible(true);
  g_uivr->update(Matrix4(), aimed);
  // From 5 cm behind the hand to the button, 1 mm in front of the menu.
  EXPECT_NEAR(g_uiValues[8], 0.3f - 0.05f - 0.001f, 1e-5);
  EXPECT_EQ(panel.m_hovered, panel.m_root->findByName("brushTool"));
  EXPECT_EQ(buffer(pointer), pointerVertices(g_uiValues[8]));
  // Held still: the pointer is not uploaded again (a marker written into it survives).
  const float mark = 7.0f;
  glBindBuffer(GL_ARRAY_BUFFER, pointer->m_vbo);
  glBufferSubData(GL_ARRAY_BUFFER, 0, sizeof mark, &mark);
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  g_uivr->update(Matrix4(), aimed);
  EXPECT_FLOAT_EQ(buffer(pointer)[0], mark);

  g_uivr->update(Matrix4(), away);  // a hit, then a miss
  EXPECT_FLOAT_EQ(g_uiValues[8], -1.0f);
  EXPECT_EQ(buffer(pointer), pointerVertices(-1.0f));
  clearEvents();
}

// Key 6 is the camera tool's own camera, held in front of the hand with its picture above it;
// while only it was drawn, the swipes edit its near (primary) and far (secondary) distances.
TEST_F(ShooterGLTest, TheCameraToolsCameraAndItsSwipeColumn) {
  Shooter& s = shooter();
  CameraModel* camera = s.toolCamera();
  ASSERT_NE(camera, nullptr);
  EXPECT_TRUE(camera->isSelected());
  EXPECT_FLOAT_EQ(camera->m_modelMatrix[13], camera->m_height / 2);
  EXPECT_FLOAT_EQ(camera->m_modelMatrix[14], -0.05f);
  EXPECT_EQ(camera->m_imageWidth, g_parameters.capture_image_width());

  TestRenderTarget target(32, 32);
  target.bindAndClear(0, 0, 0, 1);
  g_modeState[2] = 8;  // the camera tool
  s.render(Matrix4(), Matrix4());
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  EXPECT_TRUE(camera->getFlag2());
  EXPECT_EQ(swipeReads(s), (std::vector<float>{1, g_uiValues[3], 0.02f, 1, g_uiValues[2], 0.2f}));
  s.setPrimaryValue(3.0f);
  s.setSecondaryValue(0.1f);
  EXPECT_EQ((std::vector<float>{g_uiValues[3], camera->m_near, g_uiValues[2], camera->m_far}),
            (std::vector<float>{1.0f, 1.0f, 0.5f, 0.5f}));
  EXPECT_EQ(s.toolCamera(), camera);  // only its frame was rebuilt
  EXPECT_EQ(drainGLErrors(), 0u);
}

TEST_F(ShooterGLTest, ShapeAndHelixSettingsReachTheToolGeometry) {
  Shooter& s = shooter();
  g_uivr = new UIVR();
  g_uivr->m_shooter = m_shooter.release();
  // A braid shape rebuilds the cross-section within the same drain: 23 + 1 segments.
  dispatchRecords({{2, 3}});
  EXPECT_EQ(s.getGeometry(GEOMETRY_UI_BRUSHER)->m_count, 48);

  // The helix: radius and length only while it is drawn, clamped, and not for a tiny change.
  ModelElement* helix = s.getGeometry(GEOMETRY_UI_SPLINER);
  g_splinerRadius = 0.05f;
  g_splinerLength = 0.3f;
  dispatchRecords({{4, 6, "", {0.2f}}});
  EXPECT_FLOAT_EQ(g_splinerRadius, 0.05f);
  helix->setFlag2(true);
  dispatchRecords({{4, 6, "", {0.2f}}, {4, 7, "", {5.0f}}});
  EXPECT_EQ((std::vector<float>{g_splinerRadius, g_splinerLength, float(helix->m_count)}),
            (std::vector<float>{0.1f, 3.0f, 3000}));
  dispatchRecords({{4, 6, "", {0.1005f}}, {4, 7, "", {0.0f}}});
  EXPECT_EQ((std::vector<float>{g_splinerRadius, g_splinerLength, float(helix->m_count)}),
            (std::vector<float>{0.1f, 0.05f, 50}));
}
