#include "ui/widget_kinds.h"

#include <algorithm>
#include <iostream>
#include <opencv2/imgcodecs.hpp>

#include "core/cout_line.h"
#include "core/curves.h"
#include "core/settings.h"
#include "quillax.pb.h"

namespace {

// A line-strip model of shader row 0 over `floats` zeros, in a flat colour.
std::unique_ptr<ModelRender> makeLineModel(const char* name, size_t floats, const Vec4f& color) {
  std::unique_ptr<ModelRender> model(new ModelRender(name));
  model->uploadGeometry(std::vector<float>(floats, 0.0f), 0, GL_LINE_STRIP);
  model->setColor(color);
  return model;
}

}  // namespace

UIWidget* createWidget(UIWidget* owner, const quillax::WidgetParam& param) {
  switch (param.type()) {
    case WIDGET_CLICK_BUTTON: return new UIClickButton(owner, param);
    case WIDGET_SWITCH_BUTTON: return new UISwitchButton(owner, param);
    case WIDGET_COLOR_WHEEL: return new UIColorWheel(owner, param);
    case WIDGET_CONTAINER: return new UIContainer(owner, param);
    case WIDGET_GROUP_CONTAINER: return new UIGroupContainer(owner, param);
    case WIDGET_SPLINE_EDITOR: return new UISplineEditor(owner, param);
    case WIDGET_MODEL_RENDER: return new UIModelRender(owner, param);
    default:
      coutLine("createWidget: widget \"", param.name(), "\" has type ", param.type(),
               ", which builds no widget; left out");
      return nullptr;
  }
}

// ---- UISwitchButton ----

void UISwitchButton::setActive(int32_t state) {
  (void)state;
  if (!getFlag3()) return;
  setVisible(!isVisible());
  press(true);
}

void UISwitchButton::click(bool post) {
  if (!acts() || !isSelected()) return;
  setVisible(!isVisible());
  if (post) postWith(m_clickEvent.get(), {isVisible() ? 1.0f : 0.0f});
  passClickOn();
}

// ---- UIColorWheel ----

UIColorWheel::UIColorWheel(UIWidget* owner, const quillax::WidgetParam& param)
    : UIWidget(owner, param) {
  m_type = WIDGET_COLOR_WHEEL;
  if (param.has_color_image()) setColorImage(param.color_image());
}

void UIColorWheel::setColorImage(const std::string& path) {
  if (path.empty()) return;
  m_colorImage = path;
  m_imageWidth = m_imageHeight = m_imageChannels = 0;
  m_pixels.release();
  const std::string file = g_parameters.asset_path() + path;
  cv::Mat image;
  try {
    image = cv::imread(file, cv::IMREAD_UNCHANGED);
  } catch (const cv::Exception& e) {
    coutLine("setColorImage: ", file, " could not be read: ", e.what());
    return;
  }
  if (image.empty()) {
    coutLine("setColorImage: ", file, " not found or not an image");
    return;
  }
  // Picks read three or four bytes per pixel; other layouts would be read past their rows.
  if (image.depth() != CV_8U || (image.channels() != 3 && image.channels() != 4)) {
    coutLine("setColorImage: ", file, " is not an 8-bit colour image; no colours picked");
    return;
  }
  m_pixels = image;
  m_imageWidth = image.cols;
  m_imageHeight = image.rows;
  m_imageChannels = image.channels();
}

void UIColorWheel::toParam(quillax::WidgetParam& param) const {
  UIWidget::toParam(param);
  if (!m_colorImage.empty()) param.set_color_image(m_colorImage);
}

void UIColorWheel::drag(float u, float v, int32_t state) {
  (void)state;
  if (m_imageWidth < 1 || !m_moveEvent) return;
  if (!(u >= 0.0f && u <= 1.0f && v >= 0.0f && v <= 1.0f)) return;
  const int x = static_cast<int>(static_cast<float>(m_imageWidth - 1) * u);
  const int y = static_cast<int>(static_cast<float>(m_imageHeight - 1) * (1.0f - v));  // rows run down
  const uint8_t* p = m_pixels.ptr<uint8_t>(y) + x * m_imageChannels;
  float alpha = 0.0f;
  if (m_imageChannels == 4) {
    alpha = static_cast<float>(p[3]) / 255.0f;
    if (alpha < 0.1f) return;  // transparent parts pick nothing
  }
  postWith(m_moveEvent.get(), {static_cast<float>(p[2]) / 255.0f, static_cast<float>(p[1]) / 255.0f,
                               static_cast<float>(p[0]) / 255.0f, alpha, u, v});
  if (!m_markers.empty()) {
    Matrix4& t = m_markers[0]->m_transform;
    t[12] = u - t[0] / 2.0f;
    t[13] = v - t[5] / 2.0f;
  }
}

// ---- UISplineEditor ----

void UISplineEditor::setDefaultLightSpline() {
  m_xLow = m_yLow = 0.1f;
  m_xHigh = m_yHigh = 0.9f;
  addMarker(0.1f, 0.9f, 0.15f, 0.001f);
  addMarker(0.25f, 0.75f, 0.2f, 0.001f);
  addMarker(0.75f, 0.25f, 0.2f, 0.001f);
  addMarker(0.9f, 0.1f, 0.15f, 0.001f);
}

void UISplineEditor::buildGeometry() {
  UIWidget::buildGeometry();
  m_spline = makeLineModel("spline", kCurveVertices * 3, Vec4f(0.2f, 0.5f, 0.2f, 1.0f));
  m_spline2 = makeLineModel("spline2", 4 * 3, Vec4f(0.5f, 0.5f, 0.5f, 1.0f));
  rebuildSpline();
}

void UISplineEditor::rebuildSpline() {
  if (m_markers.size() < 4) return;
  std::vector<Vec2f> controls;
  for (size_t i = 0; i < 4; ++i) {
    const Matrix4& t = m_markers[i]->m_transform;
    controls.emplace_back(t[12] + t[0] / 2.0f, t[13] + t[5] / 2.0f);
  }
  const int n = kCurveVertices;
  CatmullRom<Vec2f> curve;
  curve.resample(controls, n - 1);
  curve.m_samples.push_back(controls.back());
  std::vector<Vec2f> points;
  resampleByArcLength(curve.m_samples, points, n, -1.0f);
  // The line buffer and the posted curve keep their length whatever the rounding gave.
  points.resize(n, points.empty() ? controls.back() : points.back());

  m_values.clear();
  m_curveVertices.clear();
  const float span = m_xHigh - m_xLow;
  for (const Vec2f& p : points) {
    m_curveVertices.insert(m_curveVertices.end(), {p[0], p[1], 0.0001f});
    const float value = span != 0.0f ? (p[0] - m_xLow) / span : 0.0f;
    m_values.push_back(std::clamp(value, 0.0f, 1.0f));
  }
  if (m_spline) m_spline->updateGeometry(m_curveVertices);
  if (m_spline2) {
    std::vector<float> polygon;
    for (const Vec2f& c : controls) polygon.insert(polygon.end(), {c[0], c[1], 0.00008f});
    m_spline2->updateGeometry(polygon);
  }
}

void UISplineEditor::drag(float u, float v, int32_t state) {
  if (state == 0) {
    m_selectedMarker = -1;
    for (size_t i = 0; i < m_markers.size(); ++i) {
      if (containsStrictly(m_markers[i]->m_transform, u, v)) {
        m_selectedMarker = static_cast<int32_t>(i);
        return;
      }
    }
  } else if (state == 2) {
    m_selectedMarker = -1;
  } else if (state == 1 && m_selectedMarker >= 0) {
    Matrix4& t = m_markers[m_selectedMarker]->m_transform;
    // The inner markers keep to their halves, so the curve never folds back on itself.
    if (m_selectedMarker == 1 && v > 0.5f && v < m_yHigh - 0.05f) t[13] = v - t[5] / 2.0f;
    if (m_selectedMarker == 2 && v > m_yLow + 0.05f && v < 0.5f) t[13] = v - t[5] / 2.0f;
    if (u > m_xLow && u < m_xHigh) t[12] = u - t[0] / 2.0f;
  }
  rebuildSpline();
  postWith(m_moveEvent.get(), m_values);
}

UIWidget* UISplineEditor::hitTest(const Vec3f& origin, const Vec3f& direction,
                                  const Matrix4& parent, Vec3f& hit) {
  UIWidget* result = UIWidget::hitTest(origin, direction, parent, hit);
  if (result)
    for (auto& marker : m_markers) marker->setVisible(containsStrictly(marker->m_transform, hit[1], hit[2]));
  return result;
}

void UISplineEditor::render(const Matrix4& parent, const Matrix4& viewProjection) {
  if (!isRenderable()) return;
  UIWidget::render(parent, viewProjection);
  const Matrix4 model = frameIn(parent);
  if (m_spline) m_spline->render(model, viewProjection);
  if (m_spline2) m_spline2->render(model, viewProjection);
}

// ---- UIModelRender ----

void UIModelRender::render(const Matrix4& parent, const Matrix4& viewProjection) {
  if (!isRenderable() || !m_model) return;
  m_model->render(frameIn(parent), viewProjection);
}
