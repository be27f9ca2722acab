#include "ui/widget.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

#include "core/settings.h"
#include "support/asset_root.h"
#include "ui/default_menu.h"
#include "ui/ui_test_support.h"
#include "ui/widget_kinds.h"

namespace {

using testing::FloatNear;
using testing::Pointwise;

std::vector<float> cellOf(const UIWidget* w) {
  const Matrix4& t = w->m_transform;
  return {t[0], t[5], t[12], t[13], t[14]};
}

std::vector<float> colorOf(const UIWidget* w) {
  return {w->m_color[0], w->m_color[1], w->m_color[2], w->m_color[3]};
}

}  // namespace

TEST(UIContainerLayout, RowsOrColumnsFromTheTopUntilTheGridIsFull) {
  const float third = 1.0f / 3.0f;
  // Without column-first filling the second child goes right of the first; with it, below.
  const std::vector<std::vector<float>> rowFirst = {
      {0.5f, third, 0.0f, 2 * third, 0.001f}, {0.5f, third, 0.5f, 2 * third, 0.001f},
      {0.5f, third, 0.0f, third, 0.001f}};
  const std::vector<std::vector<float>> columnFirst = {
      {0.5f, third, 0.0f, 2 * third, 0.001f}, {0.5f, third, 0.0f, third, 0.001f},
      {0.5f, third, 0.0f, 0.0f, 0.001f}, {0.5f, third, 0.5f, 2 * third, 0.001f}};
  for (bool vfirst : {false, true}) {
    UIContainer grid("grid", kNoIcon, "", Vec4f(0.6f, 0.6f, 0.6f, 1.0f));
    grid.setGrid(2, 3, vfirst, 0.003f);
    for (int i = 0; i < 6; ++i)
      ASSERT_NE(grid.addWidget("b" + std::to_string(i), WIDGET_CLICK_BUTTON, kNoIcon, "", Vec4f()), nullptr);
    EXPECT_EQ(grid.addWidget("seventh", WIDGET_CLICK_BUTTON, kNoIcon, "", Vec4f()), nullptr);
    EXPECT_EQ(grid.m_children.size(), 6u);
    const auto& expected = vfirst ? columnFirst : rowFirst;
    for (size_t i = 0; i < expected.size(); ++i)
      EXPECT_THAT(cellOf(grid.m_children[i].get()), Pointwise(FloatNear(1e-6f), expected[i]))
          << "vfirst " << vfirst << " child " << i;
  }

  // A given cell is taken as it is; a description without a grid is full from the start.
  UIContainer free("free", kNoIcon, "", Vec4f());
  const float cell[5] = {0.2f, 0.3f, 0.4f, 0.5f, 0.002f};
  EXPECT_THAT(cellOf(free.addWidget("given", WIDGET_CLICK_BUTTON, kNoIcon, "", Vec4f(), cell)),
              Pointwise(FloatNear(0.0f), std::vector<float>(cell, cell + 5)));
  BuiltWidget gridless(widgetParam(WIDGET_CONTAINER, "gridless"));
  EXPECT_EQ(static_cast<UIContainer*>(gridless.widget.get())
                ->addWidget("x", WIDGET_CLICK_BUTTON, kNoIcon, "", Vec4f()),
            nullptr);
}

TEST(UIWidgetMessages, PresenceFlagsActiveIconAndColour) {
  quillax::WidgetParam plain = widgetParam(WIDGET_CLICK_BUTTON, "plain");
  quillax::WidgetParam marked = plain;
  marked.set_depthfixed(0);  // presence counts, not the value
  marked.set_dripable(0);
  marked.set_active(-1);
  for (float v : {0.1f, 0.2f, 0.3f}) marked.mutable_texture()->add_v(v);  // three values: no icon
  quillax::WidgetParam icon = plain;
  for (float v : {0.0f, 0.875f, 0.125f, 0.125f}) icon.mutable_texture()->add_v(v);
  icon.set_active(0);

  BuiltWidget a(plain), b(marked), c(icon);
  EXPECT_EQ((std::vector<bool>{a.widget->m_depthFixed, a.widget->m_dripable, a.widget->isVisible()}),
            (std::vector<bool>{false, false, false}));
  EXPECT_EQ((std::vector<bool>{b.widget->m_depthFixed, b.widget->m_dripable, b.widget->isVisible()}),
            (std::vector<bool>{true, true, true}));
  EXPECT_EQ(b.widget->m_iconRect, kNoIcon);
  EXPECT_EQ(c.widget->m_iconRect, Vec4f(0.0f, 0.875f, 0.125f, 0.125f));
  EXPECT_FALSE(c.widget->isVisible());

  // Colours travel as red, green, blue and lightness; the alpha comes back as 1.
  UIContainer parent("parent", kNoIcon, "", Vec4f());
  parent.setGrid(1, 2, true, 0.003f);
  EXPECT_THAT(colorOf(parent.addWidget("grey", WIDGET_MODEL_RENDER, kNoIcon, "", Vec4f(0.3f, 0.3f, 0.3f, 0.3f))),
              Pointwise(FloatNear(1e-6f), std::vector<float>{0.09f, 0.09f, 0.09f, 1.0f}));
  EXPECT_THAT(colorOf(parent.addWidget("clear", WIDGET_CLICK_BUTTON, kNoIcon, "", Vec4f())),
              Pointwise(FloatNear(0.0f), std::vector<float>{0.0f, 0.0f, 0.0f, 1.0f}));
}

TEST(UIWidgetMessages, UnusableEntriesAreLeftOutWithALine) {
  quillax::WidgetParam button = widgetParam(WIDGET_CLICK_BUTTON, "button");
  *button.add_triggers() = widgetParam(WIDGET_CONTAINER, "sub");
  *button.add_triggers() = widgetParam(WIDGET_PLAIN, "stray");
  *button.add_triggers() = widgetParam(WIDGET_SWITCH_BUTTON, "sub2");
  *button.add_children() = widgetParam(WIDGET_CLICK_BUTTON, "ignored");  // not a container
  quillax::WidgetParam box = widgetParam(WIDGET_CONTAINER, "box");
  *box.add_children() = widgetParam(9, "odd");
  *box.add_children() = widgetParam(WIDGET_COLOR_WHEEL, "wheel");
  box.mutable_children(1)->mutable_transform()->add_v(2.0f);  // one value of sixteen

  testing::internal::CaptureStdout();
  BuiltWidget a(button), b(box);
  EXPECT_EQ(createWidget(nullptr, widgetParam(WIDGET_PLAIN, "seven")), nullptr);
  const std::string printed = testing::internal::GetCapturedStdout();

  EXPECT_EQ(a.triggers.size(), 2u);
  EXPECT_EQ(a.widget->m_triggers.size(), 2u);
  for (UIWidget* trigger : a.triggers) EXPECT_FALSE(trigger->isRenderable());
  auto* container = static_cast<UIContainer*>(b.widget.get());
  ASSERT_EQ(container->m_children.size(), 1u);
  EXPECT_EQ(container->m_children[0]->m_type, WIDGET_COLOR_WHEEL);
  EXPECT_EQ(container->m_children[0]->m_owner, container);
  EXPECT_EQ(container->m_children[0]->m_transform[0], 1.0f);
  for (const char* name : {"\"stray\"", "\"odd\"", "\"seven\"", "\"wheel\" has 1 values"})
    EXPECT_NE(printed.find(name), std::string::npos) << printed;
}

TEST(UIWidgetMessages, DescriptionOfTheDefaultTreeSurvivesARoundTrip) {
  const std::string assetPath = g_parameters.asset_path();
  g_parameters.set_asset_path(repoAssetPath(""));  // the colour wheels read their images
  std::vector<UIWidget*> widgets;
  UIContainer* root = buildDefaultWidgetTree(widgets);
  quillax::WidgetParam first;
  root->toParam(first);
  for (UIWidget* widget : widgets) delete widget;

  BuiltWidget rebuilt(first);
  quillax::WidgetParam second;
  rebuilt.widget->toParam(second);
  EXPECT_EQ(second.DebugString(), first.DebugString());
  EXPECT_EQ(rebuilt.triggers.size(), 6u);  // the sub-panels

  // Icon rect and transform are always written; events keep type, id, name and values.
  const quillax::WidgetParam& brush = first.children(0);
  EXPECT_EQ(brush.texture().v_size(), 4);
  EXPECT_EQ(brush.transform().v_size(), 16);
  const quillax::WidgetParam& normal = brush.triggers(0).children(0);  // first of "brushPanel"
  EXPECT_EQ(normal.click_event().ShortDebugString(), "filename: \"\" event_id: 2 value: 0");
  const UIWidget* editor = rebuilt.widget->findByName("lightSplineEditor");
  ASSERT_NE(editor, nullptr);
  ASSERT_NE(editor->m_moveEvent, nullptr);
  EXPECT_EQ(editor->m_clickEvent, nullptr);
  EXPECT_EQ((std::vector<int>{editor->m_moveEvent->m_type, editor->m_moveEvent->m_id}),
            (std::vector<int>{4, 8}));
  g_parameters.set_asset_path(assetPath);
}

TEST(UIWidgetHitTest, FrontSideOfTheWholeQuadOnly) {
  // A quad 2 wide and 0.5 high at x 10 (parent) + 1, y 0, z 0.
  Matrix4 parent;
  parent[12] = 10.0f;
  struct Case {
    Vec3f origin, direction;
    bool hit;
    float distance, u, v;
  };
  const std::vector<Case> cases = {
      {{11.5f, 0.125f, 1.0f}, {0, 0, -1}, true, 1.0f, 0.25f, 0.25f},
      {{12.8f, 0.45f, 2.0f}, {0, 0, -2}, true, 1.0f, 0.9f, 0.9f},  // beyond the first triangle
      {{11.0f, 0.0f, 0.5f}, {0, 0, -1}, true, 0.5f, 0.0f, 0.0f},   // a corner
      {{11.5f, 0.125f, -1.0f}, {0, 0, 1}, false, 0, 0, 0},         // from behind
      {{11.5f, 0.125f, -1.0f}, {0, 0, -1}, false, 0, 0, 0},        // origin behind
      {{11.5f, 0.125f, 1.0f}, {0, 0, 1}, false, 0, 0, 0},          // pointing away
      {{11.5f, 0.125f, 0.0f}, {0, 0, -1}, false, 0, 0, 0},         // distance 0
      {{13.5f, 0.125f, 1.0f}, {0, 0, -1}, false, 0, 0, 0},         // beside it
  };
  quillax::WidgetParam param = widgetParam(WIDGET_CLICK_BUTTON, "quad");
  BuiltWidget built(param);
  UIWidget& quad = *built.widget;
  quad.setLayout(1.0f, 0.0f, 0.0f, 2.0f, 0.5f);
  for (const Case& c : cases) {
    quad.setSelected(true);  // a hover left from the frame before
    Vec3f hit(-7.0f, -7.0f, -7.0f);
    UIWidget* result = quad.hitTest(c.origin, c.direction, parent, hit);
    EXPECT_EQ(result != nullptr, c.hit) << c.origin[0] << " " << c.origin[2];
    EXPECT_EQ(quad.isSelected(), c.hit);
    if (c.hit) {
      EXPECT_THAT(std::vector<float>(hit.v, hit.v + 3),
                  Pointwise(FloatNear(1e-5f), std::vector<float>{c.distance, c.u, c.v}));
    }
  }
  quad.setRenderable(false);
  Vec3f hit;
  EXPECT_EQ(quad.hitTest(cases[0].origin, cases[0].direction, parent, hit), nullptr);
}
