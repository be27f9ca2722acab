#pragma once
#include <opencv2/core.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ui/widget.h"

// A push button: the base behaviour unchanged.
class UIClickButton : public UIWidget {
 public:
  UIClickButton(UIWidget* owner, const quillax::WidgetParam& param) : UIWidget(owner, param) {
    m_type = WIDGET_CLICK_BUTTON;
  }
};

// An on/off switch: a click flips it and posts its event with 1.0 (now on) or 0.0.
class UISwitchButton : public UIWidget {
 public:
  UISwitchButton(UIWidget* owner, const quillax::WidgetParam& param) : UIWidget(owner, param) {
    m_type = WIDGET_SWITCH_BUTTON;
  }
  // Flips the switch whatever the state asked for, then presses it.
  void setActive(int32_t state) override;
  void click(bool post) override;
};

// Picks colours out of an image: a drag at (u, v) posts the move event with (red, green, blue,
// alpha, u, v) of the image pixel there and moves the first marker onto it.
class UIColorWheel : public UIWidget {
 public:
  UIColorWheel(UIWidget* owner, const quillax::WidgetParam& param);

  void toParam(quillax::WidgetParam& param) const override;
  void drag(float u, float v, int32_t state) override;
  // Reads asset_path + path, alpha kept. An image that cannot be read, or is not 8-bit with 3 or
  // 4 channels, leaves the width 0 (every drag then does nothing), with a line saying so.
  void setColorImage(const std::string& path);

  int32_t m_imageWidth = 0;
  int32_t m_imageHeight = 0;
  int32_t m_imageChannels = 0;
  std::string m_colorImage;
  cv::Mat m_pixels;
};

// The light-curve editor: four markers are the control points of a Catmull-Rom curve, drawn as a
// line over the widget; every change posts the move event with the curve's 100 values.
class UISplineEditor : public UIWidget {
 public:
  // Vertices of the drawn curve, and so the number of light-curve values posted.
  static constexpr int kCurveVertices = 100;

  UISplineEditor(UIWidget* owner, const quillax::WidgetParam& param) : UIWidget(owner, param) {
    m_type = WIDGET_SPLINE_EDITOR;
  }

  void buildGeometry() override;
  void render(const Matrix4& parent, const Matrix4& viewProjection) override;
  // On a hit, each marker shows itself active exactly while the ray is inside it.
  UIWidget* hitTest(const Vec3f& origin, const Vec3f& direction, const Matrix4& parent,
                    Vec3f& hit) override;
  // state 0 picks the marker under (u, v) (and ends there when there is one), 1 moves the picked
  // one within its bounds, 2 lets go; then the curve is rebuilt and posted.
  void drag(float u, float v, int32_t state) override;

  // Ranges [0.1, 0.9] and the four default markers (a falling curve).
  void setDefaultLightSpline();
  // Curve points and values from the markers' centres, then the two line models (when built).
  // Nothing without four markers.
  void rebuildSpline();

  float m_xLow = 0.0f;
  float m_xHigh = 1.0f;
  float m_yLow = 0.0f;
  float m_yHigh = 1.0f;
  int32_t m_selectedMarker = -1;
  std::unique_ptr<ModelRender> m_spline;
  std::unique_ptr<ModelRender> m_spline2;
  std::vector<float> m_values;  // the posted light curve, each in [0, 1]

 private:
  std::vector<float> m_curveVertices;
};

// Shows a model in the widget's place instead of its own quad.
class UIModelRender : public UIWidget {
 public:
  UIModelRender(UIWidget* owner, const quillax::WidgetParam& param) : UIWidget(owner, param) {
    m_type = WIDGET_MODEL_RENDER;
  }
  void render(const Matrix4& parent, const Matrix4& viewProjection) override;

  ModelRender* m_model = nullptr;  // not owned
};
