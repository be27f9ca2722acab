// Strokes drawn with the hair program into a small offscreen target and read back. The picture
// is also written as a PNG beside the test program, for a look by eye.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>

#include "core/geometry.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "quillax.pb.h"
#include "render/model_render.h"
#include "render/render_gl_fixture.h"
#include "strokes/operatable.h"
#include "strokes/stroke_geometry.h"

namespace {

constexpr int kSize = 256;
constexpr float kHalfView = 0.12f;  // metres from the centre to each edge of the view
constexpr int kPoints = 17;         // 16 cm strands
constexpr float kTop = 0.08f;       // root height

// A vertical strand hanging from (x, kTop), pitch +x, normal towards the viewer, its light
// curve rising from root to tip.
Operatable* hangingStrand(int texture, int curvature, float x, float width) {
  auto* op = new quillax::Operation;
  op->set_texture(texture);
  op->set_curvature(curvature);
  op->set_width(width);
  quillax::Color* color = op->mutable_color();
  color->set_red(0.75f);
  color->set_green(0.55f);
  color->set_blue(0.3f);
  color->set_lightness(1.0f);
  op->mutable_lightcurve()->add_v(0.25f);
  op->mutable_lightcurve()->add_v(1.0f);
  for (int i = 0; i < kPoints; ++i) {
    auto* p = op->add_points();
    p->set_x(x);
    p->set_y(kTop - 0.01f * i);
    p->set_z(0.0f);
    auto* t = op->add_pitches();
    t->set_x(1.0f);
    auto* n = op->add_normals();
    n->set_z(1.0f);
  }
  return new Operatable(op);
}

// Pixel column of a world x, pixel row (from the bottom) of a world y.
int column(float x) { return static_cast<int>((x / kHalfView + 1.0f) * 0.5f * kSize); }
int row(float y) { return column(y); }

std::string besideTestProgram(const std::string& name) {
  char exe[4096];
  const ssize_t n = readlink("/proc/self/exe", exe, sizeof(exe) - 1);
  if (n <= 0) return name;
  exe[n] = '\0';
  std::string path(exe);
  return path.substr(0, path.rfind('/') + 1) + name;
}

class StrokeRenderGL : public RenderGLTest {
 protected:
  void SetUp() override {
    RenderGLTest::SetUp();
    if (HasFatalFailure()) return;
    m_parameters = g_parameters;
    m_maps = g_hairTextureMaps;
    m_profiles = g_curveProfiles;
    m_normals = g_curveProfileNormals;
    m_modeState = g_modeState;
    g_modeState.assign(11, 0);
    g_parameters.set_asset_path(root());
    copyAsset("textures/defaultHairTex");
    loadShaders();
    g_curveProfiles.assign(47, {});
    g_curveProfileNormals.assign(47, {});
    for (int c = -23; c <= 23; ++c)
      buildRingMesh(g_curveProfiles[c + 23], c, &g_curveProfileNormals[c + 23]);
    loadHairMaterial();
  }
  void TearDown() override {
    g_parameters = m_parameters;
    g_hairTextureMaps = m_maps;
    g_curveProfiles = m_profiles;
    g_curveProfileNormals = m_normals;
    g_modeState = m_modeState;
    for (int i = 0; i < 3; ++i) g_headMatrix[i] = 0.0f;
    RenderGLTest::TearDown();
  }

  // The atlas rectangles and the six maps, as start-up loads them.
  void loadHairMaterial() {
    const std::string folder = rootPath("textures/defaultHairTex/");
    ASSERT_TRUE(ReadProtoFromTextFile((folder + "texturemap.txt").c_str(), &g_hairTextureMaps));
    const struct {
      std::string file;
      int type;
      const char* sampler;
    } maps[] = {{g_hairTextureMaps.alpha_map(), 8, "_Alpha_Map"},
                {g_hairTextureMaps.albedo_map(), 1, "_Diffuse_Map"},
                {g_hairTextureMaps.normal_map(), 6, "_Normal_Map"},
                {g_hairTextureMaps.ao_map(), 10, "_AO_Map"},
                {g_hairTextureMaps.brightness_map(), 3, "_Brightness_Map"},
                {g_hairTextureMaps.random_map(), 13, "_Random_Map"}};
    for (const auto& map : maps) {
      Texture* texture = g_textureManager->loadTexture(folder + map.file, map.type);
      ASSERT_TRUE(texture && texture->m_id != 0) << map.file;
      m_material.addTexture(texture->m_id, map.sampler);
    }
  }

  // Uploads each stroke's ribbon and draws it with its own colour, as the stroke buffers do.
  void draw(const std::vector<Operatable*>& strokes) {
    Matrix4 viewProjection;
    viewProjection.at(0, 0) = 1.0f / kHalfView;
    viewProjection.at(1, 1) = 1.0f / kHalfView;
    viewProjection.at(2, 2) = -1.0f;
    const Matrix4 model;
    g_headMatrix[2] = 1.0f;  // the viewer, 1 m in front
    const float light[3] = {0.4f, 0.6f, 1.0f};
    g_shaderManager->setLight(0, light, Matrix4().data());

    std::vector<float> vertices;
    std::vector<uint32_t> indices;
    for (Operatable* stroke : strokes) {
      const int floats = stroke->buildStrandGeometry(vertices, 0, ~0u, g_shaderTable[7].flags);
      const int count = stroke->fillIndexBuffer(indices, 0, ~0u, 0, false);
      ASSERT_GT(floats, 0);
      ASSERT_GT(count, 0);
      ModelRender ribbon("stroke");
      const std::vector<float> used(vertices.begin(), vertices.begin() + floats);
      const std::vector<uint32_t> usedIndices(indices.begin(), indices.begin() + count);
      ASSERT_TRUE(ribbon.uploadGeometry(used, 7, GL_TRIANGLES, &usedIndices));
      ribbon.m_textures = m_material;
      const quillax::Color& c = stroke->currentColor();
      ribbon.setColor(Vec4f(c.red() * c.lightness(), c.green() * c.lightness(),
                            c.blue() * c.lightness(), c.alpha()));
      ribbon.render(model, viewProjection);
    }
  }

  TextureSlots m_material;

 private:
  quillax::Parameters m_parameters;
  quillax::HairTextureMaps m_maps;
  std::vector<std::vector<float>> m_profiles, m_normals;
  std::vector<int32_t> m_modeState;
};

}  // namespace

TEST_F(StrokeRenderGL, HairRibbonsAreCutIntoStrandsAndShadedAlongThem) {
  TestRenderTarget target(kSize, kSize);
  ASSERT_TRUE(target.complete());
  const float width = 0.05f;
  const float xs[4] = {-0.09f, -0.03f, 0.03f, 0.09f};
  std::vector<std::unique_ptr<Operatable>> strokes;
  strokes.emplace_back(hangingStrand(1, 0, xs[0], width));  // dense
  strokes.emplace_back(hangingStrand(2, 0, xs[1], width));  // middle
  strokes.emplace_back(hangingStrand(3, 0, xs[2], width));  // sparse
  strokes.emplace_back(hangingStrand(2, 8, xs[3], width));  // middle, curled
  std::vector<Operatable*> raw;
  for (auto& s : strokes) raw.push_back(s.get());

  target.bindAndClear(0, 0, 0, 1);
  draw(raw);
  ASSERT_EQ(drainGLErrors(), 0u);
  const std::vector<uint8_t> pixels = target.readPixels();

  // The picture, top row first, for the eye.
  cv::Mat image(kSize, kSize, CV_8UC4);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      const uint8_t* p = &pixels[4 * ((kSize - 1 - y) * kSize + x)];
      image.at<cv::Vec4b>(y, x) = cv::Vec4b(p[2], p[1], p[0], 255);
    }
  const std::string png = besideTestProgram("stroke_render_gl.png");
  if (cv::imwrite(png, image)) std::printf("stroke picture: %s\n", png.c_str());

  auto lit = [&](int x, int y) {
    const uint8_t* p = &pixels[4 * (y * kSize + x)];
    return p[0] + p[1] + p[2] > 0;
  };
  auto brightness = [&](int x, int y) {
    const uint8_t* p = &pixels[4 * (y * kSize + x)];
    return p[0] + p[1] + p[2];
  };

  // Nothing is drawn outside the strands' region.
  for (int x = 0; x < kSize; ++x) {
    EXPECT_FALSE(lit(x, row(kTop + 0.01f)));
    EXPECT_FALSE(lit(x, row(kTop - 0.18f)));
  }

  const int top = row(kTop) - 3, bottom = row(kTop - 0.16f) + 3;
  double coverage[3];
  for (int s = 0; s < 3; ++s) {
    // Inside the flat ribbon, well clear of its edges: the alpha cut leaves part of it empty.
    const int left = column(xs[s] - 0.4f * width), right = column(xs[s] + 0.4f * width);
    int covered = 0, total = 0;
    for (int y = bottom; y <= top; ++y)
      for (int x = left; x <= right; ++x, ++total) covered += lit(x, y);
    coverage[s] = static_cast<double>(covered) / total;
    EXPECT_GT(coverage[s], 0.05) << "texture " << s + 1;
    EXPECT_LT(coverage[s], 0.95) << "texture " << s + 1;

    // Across the ribbon, half-way down, strands alternate with gaps.
    int runs = 0;
    bool previous = false;
    const int middle = row(kTop - 0.08f);
    for (int x = left; x <= right; ++x) {
      const bool now = lit(x, middle);
      if (now && !previous) ++runs;
      previous = now;
    }
    EXPECT_GE(runs, 2) << "texture " << s + 1;

    // The light curve runs from 0.25 at the root to 1 at the tip: the lower third is brighter.
    double upper = 0, lower = 0;
    int nUpper = 0, nLower = 0;
    const int third = (top - bottom) / 3;
    for (int x = left; x <= right; ++x) {
      for (int y = top - third; y <= top; ++y)
        if (lit(x, y)) upper += brightness(x, y), ++nUpper;
      for (int y = bottom; y <= bottom + third; ++y)
        if (lit(x, y)) lower += brightness(x, y), ++nLower;
    }
    ASSERT_GT(nUpper, 0);
    ASSERT_GT(nLower, 0);
    EXPECT_GT(lower / nLower, 1.8 * (upper / nUpper)) << "texture " << s + 1;
  }
  // Dense hair covers more than sparse hair.
  EXPECT_GT(coverage[0], coverage[2]);

  // The curled ribbon is narrower than the flat one of the same width and texture.
  auto extent = [&](float x0) {
    int first = kSize, last = -1;
    const int y = row(kTop - 0.04f);
    for (int x = column(x0 - width); x <= column(x0 + width) && x < kSize; ++x)
      if (lit(x, y)) first = std::min(first, x), last = std::max(last, x);
    return last - first;
  };
  EXPECT_LT(extent(xs[3]), extent(xs[1]));
}
