// Draws the VR menu's images into an asset root (default: the repository's assets/):
//   textures/icons_active.png, textures/icons_disactive.png  8 x 8 icon atlases (RGBA)
//   textures/color_wheel.png, textures/lightness_bar.png     the colour pickers' images (RGBA)
//   textures/grid.png                                          the light-curve editor's backdrop
//   targets/braid_result.png                                   the default reference image
//   textures/geos/icon*.png                                    the tool geometry's 16 icons
// The atlases are laid out from the default menu's own table, so every icon the menu addresses
// has a picture; a table entry without a drawing here stops the program. Deterministic: run
//   build/tools/make_menu_images [asset root]
// and commit what it writes.
#include <opencv2/imgcodecs.hpp>
#include <opencv2/imgproc.hpp>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "ui/default_menu.h"
#include "ui/widget.h"

namespace {

constexpr int kCell = 128;  // pixels per atlas cell
constexpr int kCells = 8;
constexpr int kMargin = 6;  // transparent border of every cell (the atlas is sampled linearly)
constexpr double kPi = 3.14159265358979;

// Colours are BGRA, as OpenCV writes them.
const cv::Scalar kInk(235, 235, 235, 255);
const cv::Scalar kDim(150, 150, 150, 255);
const cv::Scalar kHair(40, 80, 140, 255);

using Glyph = std::function<void(cv::Mat&, const cv::Scalar& ink)>;

cv::Point pt(double x, double y) { return cv::Point(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))); }

void line(cv::Mat& m, double x0, double y0, double x1, double y1, const cv::Scalar& c, int w = 5) {
  cv::line(m, pt(x0, y0), pt(x1, y1), c, w, cv::LINE_AA);
}

void polyline(cv::Mat& m, const std::vector<cv::Point>& points, const cv::Scalar& c, int w = 4) {
  cv::polylines(m, std::vector<std::vector<cv::Point>>{points}, false, c, w, cv::LINE_AA);
}

// A vertical wavy strand from (x, top) to (x, bottom).
void strand(cv::Mat& m, double x, double top, double bottom, double amplitude, const cv::Scalar& c,
            int w = 3) {
  std::vector<cv::Point> points;
  for (int i = 0; i <= 24; ++i) {
    const double t = i / 24.0;
    points.push_back(pt(x + amplitude * std::sin(t * 2.0 * kPi), top + t * (bottom - top)));
  }
  polyline(m, points, c, w);
}

void arrow(cv::Mat& m, double x0, double y0, double x1, double y1, const cv::Scalar& c) {
  cv::arrowedLine(m, pt(x0, y0), pt(x1, y1), c, 5, cv::LINE_AA, 0, 0.3);
}

// The glyph of each icon, drawn into the upper part of a cell (0..128, the label below 100).
std::map<std::string, Glyph> glyphs() {
  std::map<std::string, Glyph> g;
  g["brushTool"] = [](cv::Mat& m, const cv::Scalar& c) {
    line(m, 90, 20, 58, 58, c, 9);
    cv::ellipse(m, pt(50, 66), cv::Size(12, 8), 45, 0, 360, c, cv::FILLED, cv::LINE_AA);
    polyline(m, {pt(42, 76), pt(34, 84), pt(28, 80), pt(22, 90)}, c, 4);
  };
  g["brushToolNormal"] = [](cv::Mat& m, const cv::Scalar& c) {
    for (int i = 0; i < 3; ++i) strand(m, 40 + 24 * i, 20, 92, 6, c, 4);
  };
  g["brushToolAttach"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::ellipse(m, pt(64, 96), cv::Size(44, 36), 0, 180, 360, c, 5, cv::LINE_AA);
    for (int i = -2; i <= 2; ++i) {
      const double a = kPi * (1.5 + i * 0.16);
      const double x = 64 + 44 * std::cos(a), y = 96 + 36 * std::sin(a);
      line(m, x, y, x + 16 * std::cos(a), y + 16 * std::sin(a), c, 4);
    }
  };
  g["brushToolSpin"] = [](cv::Mat& m, const cv::Scalar& c) {
    std::vector<cv::Point> points;
    for (int i = 0; i <= 120; ++i) {
      const double t = i / 120.0, a = t * 5.0 * kPi;
      points.push_back(pt(64 + 36 * t * std::cos(a), 56 + 36 * t * std::sin(a)));
    }
    polyline(m, points, c, 5);
  };
  g["brushToolBraid"] = [](cv::Mat& m, const cv::Scalar& c) {
    for (int i = 0; i < 4; ++i)
      cv::ellipse(m, pt(64, 26 + 19 * i), cv::Size(17, 10), i % 2 ? 35 : -35, 0, 360, c, 5, cv::LINE_AA);
  };
  g["materialTool"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::circle(m, pt(64, 56), 36, c, 5, cv::LINE_AA);
    const cv::Scalar dots[3] = {{60, 60, 230, 255}, {60, 200, 60, 255}, {230, 120, 40, 255}};
    for (int i = 0; i < 3; ++i) {
      const double a = kPi * (1.1 + 0.4 * i);
      cv::circle(m, pt(64 + 20 * std::cos(a), 56 + 20 * std::sin(a)), 8, dots[i], cv::FILLED, cv::LINE_AA);
    }
  };
  auto strands = [](int count) {
    return [count](cv::Mat& m, const cv::Scalar& c) {
      for (int i = 0; i < count; ++i)
        strand(m, 64 + (i - (count - 1) / 2.0) * (72.0 / std::max(count, 2)), 18, 92, 4, c,
               count > 5 ? 2 : 4);
    };
  };
  g["textureHairDense"] = strands(11);
  g["textureHairMiddle"] = strands(6);
  g["textureHairSparse"] = strands(3);
  g["texturePen"] = [](cv::Mat& m, const cv::Scalar& c) {
    line(m, 88, 18, 48, 74, c, 10);
    cv::fillConvexPoly(m, std::vector<cv::Point>{pt(42, 70), pt(54, 80), pt(36, 92)}, c, cv::LINE_AA);
  };
  g["colorPickerTool"] = [](cv::Mat& m, const cv::Scalar& c) {
    line(m, 80, 34, 40, 84, c, 7);
    cv::circle(m, pt(88, 26), 12, c, cv::FILLED, cv::LINE_AA);
    line(m, 70, 24, 96, 50, c, 6);
  };
  g["editTool"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::circle(m, pt(40, 80), 12, c, 5, cv::LINE_AA);
    cv::circle(m, pt(88, 80), 12, c, 5, cv::LINE_AA);
    line(m, 48, 70, 92, 18, c, 5);
    line(m, 80, 70, 36, 18, c, 5);
  };
  g["deleteTool"] = [](cv::Mat& m, const cv::Scalar& c) {
    line(m, 36, 24, 92, 86, c, 10);
    line(m, 92, 24, 36, 86, c, 10);
  };
  g["recolorTool"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::fillConvexPoly(m, std::vector<cv::Point>{pt(64, 16), pt(88, 62), pt(40, 62)}, c, cv::LINE_AA);
    cv::circle(m, pt(64, 66), 25, c, cv::FILLED, cv::LINE_AA);
  };
  g["captureTool"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::rectangle(m, pt(24, 36), pt(104, 90), c, 5, cv::LINE_AA);
    cv::rectangle(m, pt(48, 24), pt(74, 36), c, cv::FILLED, cv::LINE_AA);
    cv::circle(m, pt(64, 63), 17, c, 5, cv::LINE_AA);
  };
  g["moveTool"] = [](cv::Mat& m, const cv::Scalar& c) {
    arrow(m, 64, 56, 64, 16, c);
    arrow(m, 64, 56, 64, 96, c);
    arrow(m, 64, 56, 24, 56, c);
    arrow(m, 64, 56, 104, 56, c);
  };
  g["fileButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    polyline(m, {pt(36, 16), pt(76, 16), pt(94, 34), pt(94, 94), pt(36, 94), pt(36, 16)}, c, 5);
    polyline(m, {pt(76, 16), pt(76, 34), pt(94, 34)}, c, 4);
  };
  g["saveButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::rectangle(m, pt(30, 18), pt(98, 92), c, 5, cv::LINE_AA);
    cv::rectangle(m, pt(44, 18), pt(84, 44), c, cv::FILLED, cv::LINE_AA);
    cv::rectangle(m, pt(42, 62), pt(86, 92), c, 4, cv::LINE_AA);
  };
  g["loadButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    polyline(m, {pt(22, 40), pt(50, 40), pt(58, 50), pt(106, 50), pt(106, 94), pt(22, 94), pt(22, 40)}, c, 5);
    arrow(m, 64, 88, 64, 16, c);
  };
  g["clearButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::rectangle(m, pt(36, 16), pt(92, 94), c, 5, cv::LINE_AA);
    line(m, 48, 80, 80, 30, c, 4);
    line(m, 48, 30, 80, 80, c, 4);
  };
  g["settingButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    for (int i = 0; i < 8; ++i) {
      const double a = i * kPi / 4.0;
      line(m, 64 + 24 * std::cos(a), 56 + 24 * std::sin(a), 64 + 40 * std::cos(a), 56 + 40 * std::sin(a), c, 11);
    }
    cv::circle(m, pt(64, 56), 26, c, 9, cv::LINE_AA);
  };
  g["loadModelButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::ellipse(m, pt(64, 54), cv::Size(26, 34), 0, 0, 360, c, 5, cv::LINE_AA);
    cv::circle(m, pt(54, 48), 4, c, cv::FILLED, cv::LINE_AA);
    cv::circle(m, pt(74, 48), 4, c, cv::FILLED, cv::LINE_AA);
    line(m, 56, 70, 72, 70, c, 4);
  };
  g["symmetryButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    for (int y = 14; y < 96; y += 16) line(m, 64, y, 64, y + 8, c, 4);
    cv::fillConvexPoly(m, std::vector<cv::Point>{pt(54, 30), pt(54, 84), pt(24, 84)}, c, cv::LINE_AA);
    polyline(m, {pt(74, 30), pt(74, 84), pt(104, 84), pt(74, 30)}, c, 4);
  };
  g["smoothButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    std::vector<cv::Point> points;
    for (int i = 0; i <= 60; ++i)
      points.push_back(pt(20 + i * 88.0 / 60.0, 56 - 24 * std::sin(i / 60.0 * 2.0 * kPi)));
    polyline(m, points, c, 6);
  };
  g["collisionButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::circle(m, pt(46, 66), 26, c, 5, cv::LINE_AA);
    arrow(m, 104, 20, 76, 48, c);
    line(m, 80, 56, 100, 66, c, 4);
  };
  g["overlayButton"] = [](cv::Mat& m, const cv::Scalar& c) {
    cv::rectangle(m, pt(24, 22), pt(80, 70), c, 5, cv::LINE_AA);
    cv::rectangle(m, pt(48, 44), pt(104, 92), c, cv::FILLED, cv::LINE_AA);
  };
  return g;
}

std::map<std::string, std::string> labels() {
  return {{"brushTool", "brush"},          {"brushToolNormal", "normal"}, {"brushToolAttach", "attach"},
          {"brushToolSpin", "spin"},       {"brushToolBraid", "braid"},   {"materialTool", "hair"},
          {"textureHairDense", "dense"},   {"textureHairMiddle", "middle"},
          {"textureHairSparse", "sparse"}, {"texturePen", "pen"},         {"colorPickerTool", "pick"},
          {"editTool", "edit"},            {"deleteTool", "delete"},      {"recolorTool", "recolor"},
          {"captureTool", "capture"},      {"moveTool", "move"},          {"fileButton", "file"},
          {"saveButton", "save"},          {"loadButton", "load"},        {"clearButton", "clear"},
          {"settingButton", "settings"},   {"loadModelButton", "head"},   {"symmetryButton", "mirror"},
          {"smoothButton", "smooth"},      {"collisionButton", "collide"}, {"overlayButton", "overlay"}};
}

// One button picture: a rounded tile (highlighted when active), its glyph and its label.
cv::Mat buttonPicture(const Glyph& glyph, const std::string& label, bool active) {
  cv::Mat m(kCell, kCell, CV_8UC4, cv::Scalar(0, 0, 0, 0));
  const cv::Scalar tile = active ? cv::Scalar(30, 130, 235, 255) : cv::Scalar(70, 62, 58, 255);
  const cv::Scalar rim = active ? cv::Scalar(140, 220, 255, 255) : cv::Scalar(120, 112, 108, 255);
  const int r = 16, lo = kMargin, hi = kCell - 1 - kMargin;
  cv::rectangle(m, pt(lo + r, lo), pt(hi - r, hi), tile, cv::FILLED);
  cv::rectangle(m, pt(lo, lo + r), pt(hi, hi - r), tile, cv::FILLED);
  for (const cv::Point& c : {pt(lo + r, lo + r), pt(hi - r, lo + r), pt(lo + r, hi - r), pt(hi - r, hi - r)})
    cv::circle(m, c, r, tile, cv::FILLED, cv::LINE_AA);
  cv::rectangle(m, pt(lo + 3, lo + 3), pt(hi - 3, hi - 3), rim, 2, cv::LINE_AA);
  const cv::Scalar ink = active ? cv::Scalar(255, 255, 255, 255) : kDim;
  glyph(m, ink);
  int baseline = 0;
  const double scale = 0.6;
  const cv::Size size = cv::getTextSize(label, cv::FONT_HERSHEY_SIMPLEX, scale, 2, &baseline);
  cv::putText(m, label, pt((kCell - size.width) / 2.0, 114), cv::FONT_HERSHEY_SIMPLEX, scale,
              active ? kInk : kDim, 2, cv::LINE_AA);
  return m;
}

// Hue round the centre (red at the right, counter-clockwise as seen), saturation outwards,
// full value; transparent outside the disc.
cv::Mat colorWheel() {
  cv::Mat m(kCell, kCell, CV_8UC4, cv::Scalar(0, 0, 0, 0));
  const double c = (kCell - 1) / 2.0, radius = kCell / 2.0 - kMargin;
  for (int y = 0; y < kCell; ++y) {
    for (int x = 0; x < kCell; ++x) {
      const double dx = x - c, dy = c - y, r = std::sqrt(dx * dx + dy * dy);
      if (r > radius) continue;
      double hue = std::atan2(dy, dx) / (2.0 * kPi);
      if (hue < 0.0) hue += 1.0;
      const double s = r / radius, h6 = hue * 6.0, f = h6 - std::floor(h6);
      const double p = 1.0 - s, q = 1.0 - s * f, t = 1.0 - s * (1.0 - f);
      double rgb[3];
      switch (static_cast<int>(h6) % 6) {
        case 0: rgb[0] = 1, rgb[1] = t, rgb[2] = p; break;
        case 1: rgb[0] = q, rgb[1] = 1, rgb[2] = p; break;
        case 2: rgb[0] = p, rgb[1] = 1, rgb[2] = t; break;
        case 3: rgb[0] = p, rgb[1] = q, rgb[2] = 1; break;
        case 4: rgb[0] = t, rgb[1] = p, rgb[2] = 1; break;
        default: rgb[0] = 1, rgb[1] = p, rgb[2] = q; break;
      }
      m.at<cv::Vec4b>(y, x) = cv::Vec4b(static_cast<uint8_t>(std::lround(rgb[2] * 255)),
                                        static_cast<uint8_t>(std::lround(rgb[1] * 255)),
                                        static_cast<uint8_t>(std::lround(rgb[0] * 255)), 255);
    }
  }
  return m;
}

// Black at the left to white at the right, inside a transparent border.
cv::Mat lightnessBar() {
  cv::Mat m(kCell, kCell, CV_8UC4, cv::Scalar(0, 0, 0, 0));
  const int lo = kMargin, hi = kCell - 1 - kMargin;
  for (int y = lo; y <= hi; ++y)
    for (int x = lo; x <= hi; ++x) {
      const auto g = static_cast<uint8_t>(std::lround(255.0 * (x - lo) / (hi - lo)));
      m.at<cv::Vec4b>(y, x) = cv::Vec4b(g, g, g, 255);
    }
  return m;
}

// The marker: a white ring round a dark dot, the same active or not.
cv::Mat markerPicture() {
  cv::Mat m(kCell, kCell, CV_8UC4, cv::Scalar(0, 0, 0, 0));
  cv::circle(m, pt(63.5, 63.5), 44, cv::Scalar(30, 30, 30, 255), 24, cv::LINE_AA);
  cv::circle(m, pt(63.5, 63.5), 44, cv::Scalar(255, 255, 255, 255), 12, cv::LINE_AA);
  cv::circle(m, pt(63.5, 63.5), 10, cv::Scalar(30, 30, 30, 255), cv::FILLED, cv::LINE_AA);
  return m;
}

// Ten divisions each way, the editor's value range [0.1, 0.9] framed brighter. Only the lines
// are opaque: the editor lies over the colour panel's preview stroke, which shows between them.
cv::Mat grid() {
  const int size = 256;
  cv::Mat m(size, size, CV_8UC4, cv::Scalar(0, 0, 0, 0));
  for (int i = 0; i <= 10; ++i) {
    const int p = std::min(size - 1, static_cast<int>(std::lround(i * (size - 1) / 10.0)));
    const bool frame = i == 1 || i == 9;
    const cv::Scalar c = frame ? cv::Scalar(190, 200, 200, 255) : cv::Scalar(120, 112, 108, 255);
    cv::line(m, cv::Point(p, 0), cv::Point(p, size - 1), c, frame ? 2 : 1);
    cv::line(m, cv::Point(0, p), cv::Point(size - 1, p), c, frame ? 2 : 1);
  }
  return m;
}

// A head from the front with one long braid over the shoulder.
cv::Mat braidResult() {
  cv::Mat m(384, 256, CV_8UC3, cv::Scalar(205, 196, 186));
  const cv::Scalar skin(150, 180, 225), shirt(120, 90, 60), dark(30, 45, 75), mid(45, 75, 120),
      light(70, 110, 165);
  cv::ellipse(m, pt(128, 384), cv::Size(120, 80), 0, 180, 360, shirt, cv::FILLED, cv::LINE_AA);
  cv::rectangle(m, pt(110, 250), pt(146, 310), skin, cv::FILLED);
  cv::ellipse(m, pt(128, 150), cv::Size(78, 100), 0, 0, 360, dark, cv::FILLED, cv::LINE_AA);
  cv::ellipse(m, pt(128, 176), cv::Size(60, 80), 0, 0, 360, skin, cv::FILLED, cv::LINE_AA);
  cv::ellipse(m, pt(128, 112), cv::Size(70, 46), 0, 180, 360, mid, cv::FILLED, cv::LINE_AA);
  for (int i = 0; i < 8; ++i)  // parting strands
    polyline(m, {pt(128, 68), pt(90 + 11 * i, 90), pt(74 + 15 * i, 118)}, light, 2);
  cv::circle(m, pt(106, 170), 5, dark, cv::FILLED, cv::LINE_AA);
  cv::circle(m, pt(150, 170), 5, dark, cv::FILLED, cv::LINE_AA);
  cv::ellipse(m, pt(128, 214), cv::Size(16, 7), 0, 0, 180, cv::Scalar(90, 90, 170), 3, cv::LINE_AA);
  for (int i = 0; i < 9; ++i) {  // the braid, lobes crossing left and right
    const cv::Point c = pt(196 - i * 2.5, 196 + i * 19);
    cv::ellipse(m, c, cv::Size(20 - i, 12), i % 2 ? 40 : -40, 0, 360, i % 2 ? mid : light, cv::FILLED,
                cv::LINE_AA);
    cv::ellipse(m, c, cv::Size(20 - i, 12), i % 2 ? 40 : -40, 0, 360, dark, 2, cv::LINE_AA);
  }
  cv::rectangle(m, pt(165, 362), pt(191, 370), cv::Scalar(60, 60, 200), cv::FILLED);
  for (int i = 0; i < 5; ++i) line(m, 170 + 4 * i, 370, 166 + 6 * i, 384, mid, 3);
  return m;
}

// The cell (u, v) of an atlas, with v counted from the bottom (images are flipped on load).
cv::Mat cellOf(cv::Mat& atlas, float u, float v) {
  const int x = static_cast<int>(std::lround(u * kCells)) * kCell;
  const int y = static_cast<int>(std::lround((0.875f - v) * kCells)) * kCell;
  return atlas(cv::Rect(x, y, kCell, kCell));
}

bool write(const std::string& path, const cv::Mat& image) {
  std::error_code ec;
  std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
  try {
    if (cv::imwrite(path, image, {cv::IMWRITE_PNG_COMPRESSION, 9})) {
      std::printf("wrote %s\n", path.c_str());
      return true;
    }
  } catch (const cv::Exception& e) {
    std::printf("%s\n", e.what());
  }
  std::printf("could not write %s\n", path.c_str());
  return false;
}

// The icons the drawing hand's tool geometry shows: dark glyphs on a light tile, on the white
// that the card's program cuts away (the tile takes the mode's or the brush's colour). The card
// icons are twice as long as wide, like the card.
struct ToolIcon {
  const char* file;
  const char* glyph;  // a menu glyph, or one of the tool geometry's own below
  bool card;
};
const ToolIcon kToolIcons[] = {
    {"iconpenhead", "texturePen", true},          {"iconhairNormal", "brushToolNormal", false},
    {"iconattach", "brushToolAttach", false},     {"iconspin", "brushToolSpin", false},
    {"iconbraid", "brushToolBraid", false},       {"iconhint", "hint", false},
    {"iconhairdense", "textureHairDense", true},  {"iconhairmiddle", "textureHairMiddle", true},
    {"iconhairsparse", "textureHairSparse", true}, {"iconselect", "select", false},
    {"icondelete", "deleteTool", false},          {"iconrecolor", "recolorTool", false},
    {"iconcolorpicker", "colorPickerTool", true}, {"iconmove", "moveTool", false},
    {"icondeform", "deform", false},              {"icontrans", "trans", false},
};

std::map<std::string, Glyph> toolGlyphs() {
  std::map<std::string, Glyph> g = glyphs();
  g["hint"] = [](cv::Mat& m, const cv::Scalar& c) {  // a light bulb
    cv::circle(m, pt(64, 46), 26, c, 6, cv::LINE_AA);
    line(m, 52, 72, 52, 84, c, 6);
    line(m, 76, 72, 76, 84, c, 6);
    line(m, 50, 86, 78, 86, c, 6);
    line(m, 54, 96, 74, 96, c, 6);
  };
  g["select"] = [](cv::Mat& m, const cv::Scalar& c) {  // a dashed circle round a dot
    for (int i = 0; i < 12; i += 2)
      cv::ellipse(m, pt(64, 56), cv::Size(38, 38), 0, i * 30, i * 30 + 22, c, 6, cv::LINE_AA);
    cv::circle(m, pt(64, 56), 9, c, cv::FILLED, cv::LINE_AA);
  };
  g["deform"] = [](cv::Mat& m, const cv::Scalar& c) {  // a strand bent by a pulling hand
    std::vector<cv::Point> points;
    for (int i = 0; i <= 40; ++i) {
      const double t = i / 40.0;
      points.push_back(pt(30 + 68 * t, 84 - 50 * std::sin(t * kPi)));
    }
    polyline(m, points, c, 6);
    arrow(m, 64, 60, 64, 16, c);
  };
  g["trans"] = [](cv::Mat& m, const cv::Scalar& c) {  // a box with a turning arrow
    cv::rectangle(m, pt(44, 38), pt(84, 78), c, 5, cv::LINE_AA);
    cv::ellipse(m, pt(64, 58), cv::Size(44, 44), 0, 200, 470, c, 5, cv::LINE_AA);
    const double a = 470.0 * kPi / 180.0;
    const double x = 64 + 44 * std::cos(a), y = 58 + 44 * std::sin(a);
    cv::fillConvexPoly(m, std::vector<cv::Point>{pt(x - 10, y - 12), pt(x + 12, y), pt(x - 10, y + 12)}, c,
                       cv::LINE_AA);
  };
  return g;
}

cv::Mat toolIcon(const Glyph& glyph, bool card) {
  const int height = card ? 2 * kCell : kCell;
  cv::Mat m(height, kCell, CV_8UC3, cv::Scalar(255, 255, 255));
  const cv::Scalar tile(205, 205, 205), ink(40, 40, 40);
  cv::rectangle(m, pt(kMargin, kMargin), pt(kCell - 1 - kMargin, height - 1 - kMargin), tile, cv::FILLED);
  cv::rectangle(m, pt(kMargin, kMargin), pt(kCell - 1 - kMargin, height - 1 - kMargin), ink, 3, cv::LINE_AA);
  cv::Mat face(kCell, kCell, CV_8UC3, tile);
  glyph(face, ink);
  // Inside the outline only, so the glyph's own ground does not cover it.
  const int inset = kMargin + 3, width = kCell - 2 * inset, top = (height - 104) / 2 + 6;
  face(cv::Rect(inset, 0, width, 104)).copyTo(m(cv::Rect(inset, top, width, 104)));
  return m;
}

bool writeToolIcons(const std::string& root) {
  const auto drawings = toolGlyphs();
  bool ok = true;
  for (const ToolIcon& icon : kToolIcons) {
    const auto glyph = drawings.find(icon.glyph);
    if (glyph == drawings.end()) {
      std::printf("no picture for the tool icon \"%s\"\n", icon.file);
      return false;
    }
    ok = write(root + "textures/geos/" + icon.file + ".png", toolIcon(glyph->second, icon.card)) && ok;
  }
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string root = argc > 1 ? std::string(argv[1]) + "/" : std::string(TRESSLET_ASSETS) + "/";
  const auto drawings = glyphs();
  const auto names = labels();
  cv::Mat active(kCell * kCells, kCell * kCells, CV_8UC4, cv::Scalar(0, 0, 0, 0));
  cv::Mat inactive = active.clone();
  const cv::Mat wheel = colorWheel(), bar = lightnessBar();
  const std::map<std::string, const cv::Mat*> pickers = {{"colorWheel", &wheel}, {"colorLightness", &bar}};

  for (const MenuWidgetEntry& entry : kDefaultMenuWidgets) {
    if (entry.icon[0] < 0.0f) continue;
    const auto picker = pickers.find(entry.name);
    if (picker != pickers.end()) {
      // The user sees these cells, not the picked images: the same pictures, never highlighted.
      picker->second->copyTo(cellOf(active, entry.icon[0], entry.icon[1]));
      picker->second->copyTo(cellOf(inactive, entry.icon[0], entry.icon[1]));
      continue;
    }
    const auto glyph = drawings.find(entry.name);
    const auto label = names.find(entry.name);
    if (glyph == drawings.end() || label == names.end()) {
      std::printf("no picture for the menu icon \"%s\"\n", entry.name);
      return 1;
    }
    buttonPicture(glyph->second, label->second, true).copyTo(cellOf(active, entry.icon[0], entry.icon[1]));
    buttonPicture(glyph->second, label->second, false).copyTo(cellOf(inactive, entry.icon[0], entry.icon[1]));
  }
  const cv::Mat marker = markerPicture();
  marker.copyTo(cellOf(active, kMarkerIconRect[0], kMarkerIconRect[1]));
  marker.copyTo(cellOf(inactive, kMarkerIconRect[0], kMarkerIconRect[1]));

  bool ok = write(root + kActiveIconAtlas, active);
  ok = write(root + kInactiveIconAtlas, inactive) && ok;
  ok = write(root + "textures/color_wheel.png", wheel) && ok;
  ok = write(root + "textures/lightness_bar.png", bar) && ok;
  ok = write(root + "textures/grid.png", grid()) && ok;
  ok = write(root + "targets/braid_result.png", braidResult()) && ok;
  ok = writeToolIcons(root) && ok;
  return ok ? 0 : 1;
}
