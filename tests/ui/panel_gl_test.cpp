#include "ui/panel.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/render_gl_fixture.h"
#include "strokes/operatable.h"
#include "strokes/stroke_test_support.h"
#include "ui/ui_test_support.h"
#include "ui/uivr.h"
#include "ui/widget_kinds.h"

namespace {

using testing::ElementsAre;

// The window the pictures show, in the panel's frame (metres), and the target's size.
constexpr float kLeft = -0.12f, kRight = 0.34f, kBottom = 0.0f, kTop = 0.36f;
constexpr int kWidth = 1024, kHeight = 800;

class PanelGLTest : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    m_state.set();
    copyAsset("textures");
    copyAsset("targets");
    loadShaders();
    g_parameters.set_asset_path(root());
    g_parameters.set_reference_image("targets/braid_result.png");
    g_hairTexture = 0;
    clearEvents();
  }
  void TearDown() override {
    g_uivr = nullptr;
    m_panel.reset();
    m_target.reset();
    clearEvents();
    m_state.restore();
    RenderGLTest::TearDown();
  }

  Panel& makePanel() {
    m_panel.reset(new Panel());
    quillax::UIParam param;
    testing::internal::CaptureStdout();
    m_panel->init(param);
    m_printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(param.has_panel());
    return *m_panel;
  }
  UIWidget* find(const char* name) {
    UIWidget* w = m_panel->m_root->findByName(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
  }

  // A widget's frame in the panel's: its transforms up the owners (sub-panels have none).
  static Matrix4 frameOf(const UIWidget* w) {
    Matrix4 m = w->m_transform;
    for (const UIWidget* up = w->m_owner; up; up = up->m_owner) {
      Matrix4 next;
      multiplyMatrix4(up->m_transform, next, m);
      m = next;
    }
    return m;
  }
  static Vec3f pointOn(const UIWidget* w, float u, float v) {
    return transformPoint(frameOf(w), Vec3f(u, v, 0.0f));
  }
  // The drawing hand 30 cm in front of (x, y), pointing at the panel along its -z.
  static Matrix4 handAt(float x, float y) {
    Matrix4 pose;
    pose[12] = x, pose[13] = y, pose[14] = 0.3f;
    return pose;
  }
  float aimAt(const UIWidget* w, float u = 0.5f, float v = 0.5f) {
    const Vec3f p = pointOn(w, u, v);
    return m_panel->hitTest(Matrix4(), handAt(p[0], p[1]));
  }
  // Trigger press as the input handling applies it.
  void pressOn(const UIWidget* w) {
    aimAt(w);
    Panel& p = *m_panel;
    p.m_pressed = p.m_hovered;
    if (p.m_pressed) p.m_pressed->drag(p.m_hitU, p.m_hitV, 0);
    p.setSelected(p.m_pressed != nullptr);
  }
  bool releaseOn(const UIWidget* w) {
    aimAt(w);
    return m_panel->release();
  }
  std::vector<bool> active(std::initializer_list<const char*> names) {
    std::vector<bool> out;
    for (const char* name : names) out.push_back(find(name)->isVisible());
    return out;
  }

  // Orthographic over the window; z (towards the viewer) scaled by 100, so that anything lifted
  // 1 cm or more in front of the menu falls outside the depth range.
  static Matrix4 viewProjection() {
    Matrix4 m;
    m[0] = 2.0f / (kRight - kLeft);
    m[12] = -(kRight + kLeft) / (kRight - kLeft);
    m[5] = 2.0f / (kTop - kBottom);
    m[13] = -(kTop + kBottom) / (kTop - kBottom);
    m[10] = -100.0f;
    return m;
  }
  TestRenderTarget& draw() {
    if (!m_target) m_target.reset(new TestRenderTarget(kWidth, kHeight));
    EXPECT_TRUE(m_target->complete());
    m_target->bindAndClear(0.0f, 0.0f, 0.0f, 1.0f);
    glEnable(GL_DEPTH_TEST);
    glDepthFunc(GL_LESS);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    m_panel->render(viewProjection());
    glDisable(GL_BLEND);
    glDisable(GL_DEPTH_TEST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return *m_target;
  }
  // The target pixel (x from the left, y from the bottom) showing a point of the panel's frame.
  static std::pair<int, int> pixelOf(const Vec3f& p) {
    return {static_cast<int>((p[0] - kLeft) / (kRight - kLeft) * kWidth),
            static_cast<int>((p[1] - kBottom) / (kTop - kBottom) * kHeight)};
  }
  // The colour drawn at the icon-cell pixel (cx, cy from the top of a 128-pixel cell) of w.
  std::vector<int> colourAt(const std::vector<uint8_t>& pixels, const UIWidget* w, float cx, float cy) {
    const auto xy = pixelOf(pointOn(w, (cx + 0.5f) / 128.0f, 1.0f - (cy + 0.5f) / 128.0f));
    const uint8_t* p = &pixels[(static_cast<size_t>(xy.second) * kWidth + xy.first) * 4];
    return {p[0], p[1], p[2]};
  }

  KnownBrushState m_state;
  std::unique_ptr<Panel> m_panel;
  std::unique_ptr<TestRenderTarget> m_target;
  std::string m_printed;
};

MATCHER_P2(ColourNear, expected, tolerance, "") {
  for (size_t i = 0; i < 3; ++i)
    if (std::abs(arg[i] - expected[i]) > tolerance) return false;
  return true;
}

const std::vector<int> kActiveTile = {235, 130, 30};  // the atlases' tile colours
const std::vector<int> kInactiveTile = {58, 62, 70};
const std::vector<int> kMenuGrey = {153, 153, 153};

}  // namespace

TEST_F(PanelGLTest, InitPostsTheStartingStatesInOrder) {
  Panel& panel = makePanel();
  // The pen, child 3 of the texture panel, keeps texture 0.
  EXPECT_THAT(takeEvents(), ElementsAre("1 0", "2 0", "0 2",
                                        testing::AllOf(testing::StartsWith("4 8 ["), testing::EndsWith(" ... 100]")),
                                        "0 0"))
      << m_printed;
  EXPECT_EQ(active({"texturePen", "textureHairDense", "brushTool", "materialTool", "smoothButton",
                    "collisionButton", "symmetryButton", "loadModelButton", "saveButton"}),
            (std::vector<bool>{true, false, true, false, true, true, false, true, true}));
  EXPECT_EQ((std::vector<bool>{find("brushPanel")->isRenderable(), find("colorPanel")->isRenderable()}),
            (std::vector<bool>{true, false}));

  // The ray meets the sub-panels (in front) before the menu.
  for (size_t i = 0; i + 1 < panel.m_widgets.size(); ++i)
    EXPECT_GE(panel.m_widgets[i]->m_transform[14], panel.m_widgets[i + 1]->m_transform[14]);

  g_hairTexture = 2;
  makePanel();
  EXPECT_EQ(takeEvents().front(), "1 2");
}

TEST_F(PanelGLTest, RayStartsBehindTheHandAndPointsAlongItsMinusZ) {
  Panel& panel = makePanel();
  UIWidget* brush = find("brushTool");
  // The menu is 1 mm behind the button; the ray starts 5 cm behind the hand at z 0.3.
  EXPECT_NEAR(aimAt(brush, 0.25f, 0.75f), 0.249f, 1e-5f);
  EXPECT_EQ(panel.m_hovered, brush);
  EXPECT_NEAR(panel.m_hitU, 0.25f, 1e-4f);
  EXPECT_NEAR(panel.m_hitV, 0.75f, 1e-4f);

  // A hand turned half round points away from the menu.
  Matrix4 away = handAt(0.0f, 0.2f);
  away[0] = -1.0f, away[10] = -1.0f;
  EXPECT_EQ(panel.hitTest(Matrix4(), away), -1.0f);
  EXPECT_EQ(panel.m_hovered, nullptr);
}

TEST_F(PanelGLTest, ClicksAreDeliveredOnlyWhereTheTriggerWentDown) {
  Panel& panel = makePanel();
  takeEvents();
  // A group keeps the clicked child alone on and posts its index after the child's event.
  auto& shapes = static_cast<UIGroupContainer&>(*find("brushPanel"));
  shapes.setClickEvent(new EventRecord(9, 1));
  const auto shapesOn = [&] {
    return active({"brushToolNormal", "brushToolAttach", "brushToolSpin", "brushToolBraid"});
  };
  UIWidget* spin = find("brushToolSpin");
  pressOn(spin);
  EXPECT_TRUE(panel.isSelected());
  EXPECT_TRUE(releaseOn(spin));
  EXPECT_THAT(takeEvents(), ElementsAre("2 2", "9 1 [2]"));
  EXPECT_EQ(shapesOn(), (std::vector<bool>{false, false, true, false}));
  EXPECT_TRUE(find("brushTool")->isVisible());

  shapes.setActive(1);  // the chosen child posts its own event
  EXPECT_EQ(shapesOn(), (std::vector<bool>{false, true, false, false}));
  shapes.setActive(7);  // outside the children: all off
  EXPECT_EQ(shapesOn(), (std::vector<bool>{false, false, false, false}));
  find("brushToolBraid")->setVisible(true);
  shapes.stepActive(-5);  // wraps both ways: 3 - 5 = -2 is child 2
  EXPECT_EQ(shapesOn(), (std::vector<bool>{false, false, true, false}));
  shapes.stepActive(3);
  EXPECT_EQ(shapesOn(), (std::vector<bool>{false, true, false, false}));
  EXPECT_THAT(takeEvents(), ElementsAre("2 1", "2 2", "2 1"));
  UIGroupContainer empty("empty", kNoIcon, "", Vec4f());
  empty.stepActive(1);  // nothing to step to
  EXPECT_TRUE(takeEvents().empty());

  pressOn(spin);
  EXPECT_FALSE(releaseOn(find("brushToolAttach")));
  EXPECT_TRUE(takeEvents().empty());
  EXPECT_FALSE(panel.release());  // already let go

  // The edit category re-posts the tool already chosen in it, after its own event; the release's
  // press drips without posting again; hidden, it posts nothing.
  UIWidget* edit = find("editTool");
  edit->setClickEvent(new EventRecord(0, 7));
  pressOn(edit);
  EXPECT_TRUE(releaseOn(edit));
  EXPECT_THAT(takeEvents(), ElementsAre("0 7", "0 2"));
  EXPECT_EQ(active({"editTool", "brushTool"}), (std::vector<bool>{true, false}));
  edit->press(true);
  EXPECT_THAT(takeEvents(), ElementsAre("0 7", "0 2"));
  edit->setRenderable(false);
  edit->press(true);
  EXPECT_TRUE(takeEvents().empty());
  edit->setRenderable(true);

  // On a container's own area a release only ends the drag.
  pressOn(find("materialTool"));
  releaseOn(find("materialTool"));
  EXPECT_THAT(takeEvents(), ElementsAre("0 0"));
  UIWidget* colours = find("colorPanel");
  const Vec3f gap = pointOn(colours, 0.4f, 0.33f);  // between the picker button and the wheel
  panel.hitTest(Matrix4(), handAt(gap[0], gap[1]));
  ASSERT_EQ(panel.m_hovered, colours);
  panel.m_pressed = colours;
  panel.setSelected(true);
  EXPECT_FALSE(panel.release());
  EXPECT_TRUE(takeEvents().empty());
}

TEST_F(PanelGLTest, ReferenceImageTakesTheMenusPlaceUntilTheRayComesBack) {
  Panel& panel = makePanel();
  ASSERT_FALSE(panel.m_referenceImage->m_textures.ids.empty());
  UIWidget* brush = find("brushTool");
  UIWidget* normal = find("brushToolNormal");  // a sub-panel, beside the menu's area
  auto shown = [&] {
    return std::vector<bool>{m_panel->m_root->isRenderable(), m_panel->m_referencePanel->isRenderable()};
  };
  aimAt(brush);
  EXPECT_EQ(shown(), (std::vector<bool>{true, false}));
  panel.hitTest(Matrix4(), handAt(1.0f, 1.0f));  // past everything
  EXPECT_EQ(shown(), (std::vector<bool>{false, true}));
  EXPECT_GT(aimAt(brush, 0.1f, 0.1f), 0.0f);  // back over the menu's area
  EXPECT_EQ(panel.m_hovered, brush);
  EXPECT_EQ(shown(), (std::vector<bool>{true, false}));
  // A shown sub-panel is hit straight after a miss, and the menu comes back with it.
  panel.hitTest(Matrix4(), handAt(1.0f, 1.0f));
  EXPECT_GT(aimAt(normal), 0.0f);
  EXPECT_EQ(panel.m_hovered, normal);
  EXPECT_EQ(shown(), (std::vector<bool>{true, false}));

  // Without its image the menu stays, and its sub-panels are hit after a miss as well.
  g_parameters.set_reference_image("targets/missing.png");
  Panel& without = makePanel();
  EXPECT_TRUE(without.m_referenceImage->m_textures.ids.empty());
  without.hitTest(Matrix4(), handAt(1.0f, 1.0f));
  without.hitTest(Matrix4(), handAt(1.0f, 1.0f));
  EXPECT_EQ(shown(), (std::vector<bool>{true, false}));
  UIWidget* sub = find("brushToolNormal");
  EXPECT_GT(aimAt(sub), 0.0f);
  EXPECT_EQ(without.m_hovered, sub);
}

// Program 2 shows the icons as the atlases have them (the buttons' colour (0, 0, 0, 1) does not
// darken them); only a hovered button comes forward.
TEST_F(PanelGLTest, IconsShowAsTheAtlasHasThemAndOnlyHoveredButtonsComeForward) {
  Panel& panel = makePanel();
  std::vector<uint8_t> pixels = draw().readPixels();
  // The default menu with the brush category open, for a look by eye.
  std::vector<uint8_t> picture = pixels;
  EXPECT_FALSE(writePicture(picture, kWidth, kHeight, "default_menu.png").empty());
  // Every icon the open menu shows fills its cell with its tile colour.
  std::vector<UIWidget*> icons;
  for (const char* panelName : {"mainPanel", "brushPanel"})
    for (auto& child : static_cast<UIContainer*>(find(panelName))->m_children) icons.push_back(child.get());
  ASSERT_EQ(icons.size(), 10u);
  for (UIWidget* icon : icons) {
    int tile = 0, total = 0;
    for (int cy = 8; cy < 120; cy += 4) {
      for (int cx = 8; cx < 120; cx += 4) {
        const std::vector<int> c = colourAt(pixels, icon, static_cast<float>(cx), static_cast<float>(cy));
        const auto& expected = icon->isVisible() ? kActiveTile : kInactiveTile;
        tile += std::abs(c[0] - expected[0]) + std::abs(c[1] - expected[1]) + std::abs(c[2] - expected[2]) < 12;
        ++total;
      }
    }
    EXPECT_GT(tile, total / 3) << icon->m_name;
  }
  EXPECT_THAT(colourAt(pixels, find("editTool"), 110, 50), ColourNear(kInactiveTile, 4));

  UIWidget* brush = find("brushTool");
  panel.m_hovered = brush;  // lifted 1 cm: out of this picture's depth range, the menu shows
  pixels = draw().readPixels();
  EXPECT_THAT(colourAt(pixels, brush, 100, 30), ColourNear(kMenuGrey, 2));
  panel.m_hovered = panel.m_root;  // containers keep their depth
  pixels = draw().readPixels();
  EXPECT_THAT(colourAt(pixels, brush, 100, 30), ColourNear(kActiveTile, 4));
}

TEST_F(PanelGLTest, PreviewStrokeFollowsTheHairTextureInsideItsWidget) {
  UIVR ui;
  ui.m_panel = &makePanel();
  g_uivr = &ui;
  dispatchEvents();  // the starting states, with the pen: no preview
  Panel& panel = *m_panel;
  EXPECT_EQ(panel.m_previewStroke, nullptr);

  // Made first with the texture and colour the user chose.
  dispatchRecords({{4, 0, "", {0.0f, 1.0f, 0.0f, 1.0f}}, {1, 3}});
  ASSERT_NE(panel.m_previewStroke, nullptr);
  EXPECT_EQ(panel.m_previewStroke->m_operation->texture(), 3);
  EXPECT_EQ(panel.m_previewStroke->m_operation->color().green(), 1.0f);
  ModelRender& model = *panel.m_previewModel;
  const auto* view = static_cast<UIModelRender*>(find("opRender"));
  EXPECT_EQ(view->m_model, &model);

  const GLuint buffer = model.m_vbo;
  dispatchRecords({{4, 0, "", {1.0f, 0.0f, 0.0f, 1.0f}}, {1, 1}});
  EXPECT_EQ(panel.m_previewStroke->m_operation->texture(), 1);
  EXPECT_EQ(model.m_vbo, buffer);  // updated in place

  // Drawn in the colour panel, inside the widget's square only.
  pressOn(find("materialTool"));
  releaseOn(find("materialTool"));
  const std::vector<uint8_t> with = draw().readPixels();
  const_cast<UIModelRender*>(view)->m_model = nullptr;
  const std::vector<uint8_t> without = draw().readPixels();
  const auto low = pixelOf(pointOn(view, 0.0f, 0.0f)), high = pixelOf(pointOn(view, 1.0f, 1.0f));
  int inside = 0, outside = 0;
  std::vector<int> channels[3];
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const size_t i = (static_cast<size_t>(y) * kWidth + x) * 4;
      if (std::equal(&with[i], &with[i] + 3, &without[i])) continue;
      const bool in = x >= low.first - 1 && x <= high.first + 1 && y >= low.second - 1 && y <= high.second + 1;
      (in ? inside : outside)++;
      for (int c = 0; c < 3; ++c) channels[c].push_back(with[i + c]);
    }
  EXPECT_GT(inside, 100);
  EXPECT_EQ(outside, 0);
  // It shows the picked red as a lit stroke shows it, whatever the light above.
  std::vector<int> median;
  for (std::vector<int>& c : channels) {
    std::nth_element(c.begin(), c.begin() + c.size() / 2, c.end());
    median.push_back(c[c.size() / 2]);
  }
  EXPECT_GT(median[0], 150);
  EXPECT_LT(std::max(median[1], median[2]), median[0] / 6);
  g_uivr = nullptr;
  ui.m_panel = nullptr;  // the fixture owns it
}
