#pragma once
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "app/brush_state.h"
#include "core/geometry.h"
#include "core/hand_frames.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/render_gl_fixture.h"
#include "strokes/operatable.h"

// The process-wide state the stroke code reads, as one assignable tuple.
inline auto strokeGlobals() {
  return std::tie(g_parameters, g_flags, g_modeState, g_uiValues, g_timers, g_curveProfiles,
                  g_curveProfileNormals, g_hairTextureMaps, g_currentColor, g_defaultLightCurve,
                  g_hairTexture, g_brushShape, g_brushWidth, g_curvature);
}
// The values behind a tuple of references; declares the saved copy.
template <typename... T>
std::tuple<T...> copyOf(const std::tuple<T&...>& refs) { return refs; }

// A known brush state: hair texture 1, shape 0, curvature 0, 0.2 wide, 1 cm sampling, opaque
// red, collision on, a light curve of 30 ones and the 47 cross-section profiles ribbons need.
// The ui values and timers are only saved.
// restore() puts the process-wide state back.
class KnownBrushState {
 public:
  void set() {
    m_saved = strokeGlobals();
    g_parameters.set_sampling_distance(0.01f);
    g_parameters.set_debug_visual(0);
    // A tool controller that goes saves its work: outside a throw-away asset root that save
    // fails (its root's parent is missing) instead of writing beside the test program.
    g_parameters.set_project_to_save("no-saving-folder-here/record");
    g_flags.assign(9, false);
    g_flags[FLAG_COLLISION] = true;
    g_modeState.assign(11, 0);
    g_curveProfiles.assign(47, {});
    g_curveProfileNormals.assign(47, {});
    for (int c = -23; c <= 23; ++c)
      buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
    g_hairTexture = 1;
    g_brushShape = 0;
    g_curvature = 0;
    g_brushWidth = 0.2f;
    g_currentColor.Clear();
    g_currentColor.set_red(1.0f);
    g_currentColor.set_alpha(1.0f);
    g_currentColor.set_lightness(1.0f);
    g_defaultLightCurve.Clear();
    for (int i = 0; i < 30; ++i) g_defaultLightCurve.add_v(1.0f);
  }
  void restore() { strokeGlobals() = m_saved; }

 private:
  decltype(copyOf(strokeGlobals())) m_saved;
};

class BrushStateTest : public ::testing::Test {
 protected:
  void SetUp() override { m_state.set(); }
  void TearDown() override { m_state.restore(); }
  KnownBrushState m_state;
};

class BrushStateGLTest : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    m_state.set();
  }
  void TearDown() override {
    m_target.reset();
    m_state.restore();
    RenderGLTest::TearDown();
  }
  // Draws `what` in flat colour with identity matrices into a 64 x 64 target; whether column x
  // of the middle row came out red.
  template <typename Drawable>
  bool redAt(Drawable& what, int x) {
    if (!m_target) {
      loadShaders();
      g_shaderManager->m_forced = 0;
      m_target.reset(new TestRenderTarget(64, 64));
      EXPECT_TRUE(m_target->complete());
    }
    m_target->bindAndClear(0, 0, 0, 1);
    what.draw(Matrix4(), Matrix4());
    const bool red = m_target->pixel(x, 32)[0] > 200;
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return red;
  }
  KnownBrushState m_state;
  std::unique_ptr<TestRenderTarget> m_target;
};

// The shipped hair maps and rectangles in the throw-away root, loaded as start-up loads them,
// with the shaders built; the slots and the headset position are put back afterwards.
class HairMapsGLTest : public BrushStateGLTest {
 protected:
  void SetUp() override {
    BrushStateGLTest::SetUp();
    if (HasFatalFailure()) return;
    m_savedSlots = g_hairTextureSlots;
    g_hairTextureSlots = nullptr;
    g_parameters.set_asset_path(root());
    g_parameters.set_hair_texture("textures/defaultHairTex/texturemap.txt");
    copyAsset("textures/defaultHairTex");
    loadShaders();
    ASSERT_TRUE(loadHairTextureMaps());
    ASSERT_EQ(g_hairTextureSlots->names.size(), 6u);
  }
  void TearDown() override {
    delete g_hairTextureSlots;
    g_hairTextureSlots = m_savedSlots;
    for (int i = 0; i < 3; ++i) g_headMatrix[i] = 0.0f;
    BrushStateGLTest::TearDown();
  }
  TextureSlots* m_savedSlots = nullptr;
};

// Writes RGBA rows from the bottom (a read-back) as a PNG named `name` beside the test program,
// top row first, for a look by eye; prints and returns its path, empty when it cannot be written.
inline std::string writePicture(std::vector<uint8_t>& rgbaRows, int width, int height,
                                const std::string& name) {
  cv::Mat image(height, width, CV_8UC3);
  const int channels[] = {0, 2, 1, 1, 2, 0};
  cv::mixChannels(cv::Mat(height, width, CV_8UC4, rgbaRows.data()), image, channels, 3);
  cv::flip(image, image, 0);
  const std::string path = std::filesystem::read_symlink("/proc/self/exe").parent_path() / name;
  if (!cv::imwrite(path, image)) return std::string();
  std::printf("picture: %s\n", path.c_str());
  return path;
}

// A placement scaling the scene by `s` about the origin, then lifting it by `y`.
inline Matrix4 scaleAndLift(float s, float y) {
  Matrix4 m;
  m[0] = m[5] = m[10] = s;
  m[13] = y;
  return m;
}

// Appends a point at (x, y, 0) with pitch +x and normal +z, whatever the sampling distance.
inline void addPoint(Operatable* stroke, float x, float y) {
  quillax::Operation* op = stroke->m_operation;
  quillax::Operation_Point* p = op->add_points();
  p->set_x(x);
  p->set_y(y);
  op->add_pitches()->set_x(1.0f);
  op->add_normals()->set_z(1.0f);
}

inline void growBy(Operatable* stroke, int points) {
  const Vec3f last = stroke->pointAt(1e9f);
  for (int i = 1; i <= points; ++i) addPoint(stroke, last[0], last[1] + 0.01f * i);
}

// A straight stroke 0.2 wide in the brush colour with the brush light curve: `points` points
// `step` apart along y from (x, y0).
inline Operatable* makeStroke(int texture, int curvature, int points, float x = 0.0f,
                              float y0 = 0.0f, float step = 0.01f) {
  auto* op = new quillax::Operation;
  op->set_texture(texture);
  op->set_curvature(curvature);
  op->set_width(0.2f);
  *op->mutable_color() = g_currentColor;
  *op->mutable_lightcurve() = g_defaultLightCurve;
  auto* stroke = new Operatable(op);
  for (int i = 0; i < points; ++i) addPoint(stroke, x, y0 + step * i);
  return stroke;
}

// Strokes a test owns, deleted with it: own(makeStroke(...)).
class StrokeStore {
 public:
  Operatable* operator()(Operatable* op) {
    m_strokes.emplace_back(op);
    return op;
  }

 private:
  std::vector<std::unique_ptr<Operatable>> m_strokes;
};

// `count` values from `first` on of a GL buffer.
template <typename T>
std::vector<T> readBack(GLuint buffer, uint32_t first, size_t count) {
  std::vector<T> out(count);
  glBindBuffer(GL_ARRAY_BUFFER, buffer);
  glGetBufferSubData(GL_ARRAY_BUFFER, first * sizeof(T), count * sizeof(T), out.data());
  glBindBuffer(GL_ARRAY_BUFFER, 0);
  return out;
}

// A hand frame at (x, y, 0): position, then the x axis (+x, the pitch), the y axis (+z, the
// normal) and the z axis.
inline std::vector<float> handFrame(float x, float y) {
  return {x, y, 0.0f, 1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 0.0f, -1.0f, 0.0f};
}

// A press at (x, y0), a move every 1.3 cm up +y, a release; whether the tool kept something.
template <typename Tool>
bool drag(Tool& tool, float x, float y0, int frames) {
  const std::vector<float> other = handFrame(0.0f, 0.0f);
  if (!tool.press(handFrame(x, y0).data(), 12, other.data(), 12)) return false;
  for (int i = 1; i <= frames; ++i)
    tool.move(handFrame(x, y0 + 0.013f * i).data(), 12, other.data(), 12);
  return tool.release(other.data(), 12, other.data(), 12);
}

// What `run` prints on standard output; also quiets it.
template <typename Run>
std::string printedBy(Run&& run) {
  testing::internal::CaptureStdout();
  run();
  return testing::internal::GetCapturedStdout();
}

// Matches a list of floats each within 4 ulps of `expected`.
inline auto floatsAre(std::vector<float> expected) {
  return testing::Pointwise(testing::FloatEq(), std::move(expected));
}
