#include "ui/widget_kinds.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <vector>

#include "core/settings.h"
#include "support/asset_root.h"
#include "ui/ui_test_support.h"

namespace {

using testing::ElementsAre;
using testing::FloatNear;
using testing::Pointwise;

class WidgetKindsTest : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    m_savedParameters = g_parameters;
    g_parameters.set_asset_path(root());
    clearEvents();
  }
  void TearDown() override {
    clearEvents();
    g_parameters = m_savedParameters;
    AssetRootTest::TearDown();
  }
  // Hovered as after a hit, which click needs.
  static UIWidget& hovered(UIWidget& w) {
    w.setSelected(true);
    return w;
  }
  quillax::Parameters m_savedParameters;
};

std::vector<float> centreOf(const UIWidget& marker) {
  const Matrix4& t = marker.m_transform;
  return {t[12] + t[0] / 2.0f, t[13] + t[5] / 2.0f};
}

}  // namespace

TEST_F(WidgetKindsTest, SwitchesFlipAndPostTheirState) {
  quillax::WidgetParam param = widgetParam(WIDGET_SWITCH_BUTTON, "smooth");
  setEvent(param.mutable_click_event(), 4, 4);
  BuiltWidget built(param);
  UIWidget& button = *built.widget;
  hovered(button).click(true);
  const bool afterFirst = button.isVisible();
  hovered(button).click(true);
  EXPECT_EQ((std::vector<bool>{afterFirst, button.isVisible()}), (std::vector<bool>{true, false}));
  EXPECT_THAT(takeEvents(), ElementsAre("4 4 [1]", "4 4 [0]"));

  button.setActive(0);  // the state asked for is not looked at: an off switch turns on
  EXPECT_TRUE(button.isVisible());
  button.setSelected(false);
  button.click(true);  // not hovered: nothing
  button.setFlag3(false);
  button.setActive(1);  // not interactive: nothing
  EXPECT_TRUE(button.isVisible());
  EXPECT_THAT(takeEvents(), ElementsAre("4 4"));
}

TEST_F(WidgetKindsTest, ColourWheelPicksImagePixels) {
  // 3 x 2 pixels, BGRA; the middle of the top row is nearly transparent.
  cv::Mat image(2, 3, CV_8UC4);
  image.at<cv::Vec4b>(0, 0) = {255, 0, 0, 255};
  image.at<cv::Vec4b>(0, 1) = {0, 0, 0, 20};
  image.at<cv::Vec4b>(0, 2) = {0, 255, 0, 255};
  image.at<cv::Vec4b>(1, 0) = {0, 0, 255, 255};
  image.at<cv::Vec4b>(1, 1) = {51, 102, 153, 204};
  image.at<cv::Vec4b>(1, 2) = {255, 255, 255, 255};
  ASSERT_TRUE(cv::imwrite(rootPath("wheel.png"), image));
  cv::Mat three(2, 3, CV_8UC3, cv::Scalar(10, 20, 30));
  ASSERT_TRUE(cv::imwrite(rootPath("three.png"), three));

  quillax::WidgetParam param = widgetParam(WIDGET_COLOR_WHEEL, "colorWheel");
  setEvent(param.mutable_move_event(), 4, 0);
  param.set_color_image("wheel.png");
  BuiltWidget built(param);
  auto& wheel = static_cast<UIColorWheel&>(*built.widget);
  wheel.addMarker(0.5f, 0.5f, 0.1f, 0.001f);
  EXPECT_EQ((std::vector<int>{wheel.m_imageWidth, wheel.m_imageHeight, wheel.m_imageChannels}),
            (std::vector<int>{3, 2, 4}));

  // Column (width - 1) u, row (height - 1)(1 - v); nothing transparent or outside [0, 1].
  for (auto uv : std::vector<std::pair<float, float>>{{0.0f, 1.0f}, {1.0f, 0.0f}, {0.5f, 0.0f},
                                                      {0.5f, 1.0f}, {1.1f, 0.5f}, {0.5f, -0.1f}})
    wheel.drag(uv.first, uv.second, 1);
  EXPECT_THAT(takeEvents(), ElementsAre("4 0 [0 0 1 1 0 1]", "4 0 [1 1 1 1 1 0]",
                                        "4 0 [0.6 0.4 0.2 0.8 0.5 0]"));
  EXPECT_THAT(centreOf(*wheel.m_markers[0]),
              Pointwise(FloatNear(1e-6f), std::vector<float>{0.5f, 0.0f}));  // the last pick

  // Three channels give alpha 0; an unreadable image leaves the wheel picking nothing.
  wheel.setColorImage("three.png");
  wheel.drag(0.0f, 0.0f, 0);
  EXPECT_THAT(takeEvents(), ElementsAre("4 0 [0.117647 0.0784314 0.0392157 0 0 0]"));
  testing::internal::CaptureStdout();
  wheel.setColorImage("missing.png");
  EXPECT_NE(testing::internal::GetCapturedStdout().find("missing.png"), std::string::npos);
  wheel.drag(0.5f, 0.5f, 0);
  EXPECT_TRUE(takeEvents().empty());
  quillax::WidgetParam back;
  wheel.toParam(back);
  EXPECT_EQ(back.color_image(), "missing.png");
}

TEST_F(WidgetKindsTest, LightCurveEditorKeepsItsMarkersInBounds) {
  quillax::WidgetParam param = widgetParam(WIDGET_SPLINE_EDITOR, "lightSplineEditor");
  setEvent(param.mutable_move_event(), 4, 8);
  BuiltWidget built(param);
  auto& editor = static_cast<UISplineEditor&>(*built.widget);
  editor.drag(0.5f, 0.5f, 1);  // without markers there is no curve: an empty post
  EXPECT_THAT(takeEvents(), ElementsAre("4 8"));

  editor.setDefaultLightSpline();
  editor.drag(0.0f, 0.0f, -1);
  ASSERT_THAT(takeEvents(), ElementsAre(testing::EndsWith(" ... 100]")));
  EXPECT_NEAR(editor.m_values.front(), 0.0f, 1e-5f);  // x runs over the range [0.1, 0.9]
  EXPECT_NEAR(editor.m_values.back(), 1.0f, 1e-5f);

  // Pick (state 0, posting nothing), move (1), let go (2), for each marker in turn.
  struct Case {
    float pickU, pickV, moveU, moveV, centreU, centreV;
  };
  const std::vector<Case> cases = {
      {0.1f, 0.9f, 0.15f, 0.5f, 0.15f, 0.9f},   // marker 0: sideways only
      {0.25f, 0.75f, 0.3f, 0.4f, 0.3f, 0.75f},  // marker 1: stays above 0.5
      {0.25f, 0.75f, 0.3f, 0.6f, 0.3f, 0.6f},
      {0.75f, 0.25f, 0.95f, 0.3f, 0.75f, 0.3f},  // marker 2: not past the x range
      {0.9f, 0.1f, 0.85f, 0.3f, 0.85f, 0.1f},   // marker 3: sideways only
      {0.75f, 0.3f, 0.89f, 0.3f, 0.89f, 0.3f},  // marker 2 past marker 3: the curve overshoots the range
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    editor.drag(c.pickU, c.pickV, 0);
    EXPECT_TRUE(takeEvents().empty());
    editor.drag(c.moveU, c.moveV, 1);
    const int marker = editor.m_selectedMarker;
    editor.drag(c.moveU, c.moveV, 2);
    EXPECT_EQ(takeEvents().size(), 2u);
    ASSERT_GE(marker, 0);
    const std::vector<float> centre = centreOf(*editor.m_markers[marker]);
    EXPECT_NEAR(centre[0], c.centreU, 1e-5f) << "case " << i;
    EXPECT_NEAR(centre[1], c.centreV, 1e-5f) << "case " << i;
  }
  EXPECT_EQ(editor.m_selectedMarker, -1);
  for (float value : editor.m_values) EXPECT_TRUE(value >= 0.0f && value <= 1.0f);

  // On a hit the marker under the ray shows active.
  Vec3f hit;
  ASSERT_NE(editor.hitTest(Vec3f(0.85f, 0.1f, 1.0f), Vec3f(0, 0, -1), Matrix4(), hit), nullptr);
  std::vector<bool> shown;
  for (auto& marker : editor.m_markers) shown.push_back(marker->isVisible());
  EXPECT_EQ(shown, (std::vector<bool>{false, false, false, true}));
}
