#include "app/brush_state.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "core/geometry.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/files.h"
#include "quillax.pb.h"
#include "render/model_element.h"
#include "render/texture.h"

namespace {

constexpr int kMaxCurvature = 23;  // profiles exist for -23 to 23
// The brush tool's width range; the autosave never holds another width unless it was damaged.
constexpr float kMinBrushWidth = 0.01f;
constexpr float kMaxBrushWidth = 0.1f;
constexpr float kDefaultBrushWidth = 0.02f;
constexpr int kDefaultLightCurveSize = 30;

int clampReported(const char* name, int value, int low, int high) {
  const int fixed = std::clamp(value, low, high);
  if (fixed != value)
    std::printf("restoreBrushState: %s %d is outside %d to %d, set to %d\n", name, value, low,
                high, fixed);
  return fixed;
}

float restoredWidth(float width) {
  float fixed = std::isfinite(width) ? std::clamp(width, kMinBrushWidth, kMaxBrushWidth)
                                     : kDefaultBrushWidth;
  if (!(fixed == width))
    std::printf("restoreBrushState: width %g is outside %g to %g, set to %g\n", width,
                kMinBrushWidth, kMaxBrushWidth, fixed);
  return fixed;
}

float finiteOr(float value, float fallback) { return std::isfinite(value) ? value : fallback; }

void buildCurveProfiles() {
  g_curveProfiles.clear();
  g_curveProfileNormals.clear();
  for (int k = 0; k <= 2 * kMaxCurvature; ++k) {
    g_curveProfiles.emplace_back();
    g_curveProfileNormals.emplace_back();
    buildRingMesh(g_curveProfiles.back(), k - kMaxCurvature, &g_curveProfileNormals.back());
  }
}

struct MapField {
  const std::string& (quillax::HairTextureMaps::*value)() const;
  bool (quillax::HairTextureMaps::*present)() const;
  int type;
  const char* sampler;
};

}  // namespace

void restoreBrushState(const quillax::Operation* operation) {
  if (operation) {
    const quillax::Color& color = operation->color();  // all zero when absent
    g_currentColor.set_red(finiteOr(color.red(), 0.0f));
    g_currentColor.set_green(finiteOr(color.green(), 0.0f));
    g_currentColor.set_blue(finiteOr(color.blue(), 0.0f));
    g_currentColor.set_lightness(finiteOr(color.lightness(), 0.0f));
    g_hairTexture = clampReported("texture", operation->texture(), HAIR_TEXTURE_PEN, HAIR_TEXTURE_LAST);
    g_brushWidth = restoredWidth(operation->width());
    g_curvature = clampReported("curvature", operation->curvature(), -kMaxCurvature, kMaxCurvature);
    g_defaultLightCurve = operation->lightcurve();
    for (int i = 0; i < g_defaultLightCurve.v_size(); ++i)
      if (!std::isfinite(g_defaultLightCurve.v(i))) g_defaultLightCurve.set_v(i, 1.0f);
  } else {
    g_currentColor.set_red(0.92f);
    g_currentColor.set_green(0.92f);
    g_currentColor.set_blue(0.71f);
    g_currentColor.set_lightness(1.0f);
    g_hairTexture = HAIR_TEXTURE_PEN;
    g_brushWidth = kDefaultBrushWidth;
    g_curvature = 0;
  }
  // Rebuilt rather than appended, so a second restore leaves exactly one profile per curvature.
  buildCurveProfiles();
  if (g_defaultLightCurve.v_size() == 0)
    for (int i = 0; i < kDefaultLightCurveSize; ++i) g_defaultLightCurve.add_v(1.0f);
}

void saveBrushState(quillax::Operation* operation) {
  if (!operation) return;
  operation->set_texture(g_hairTexture);
  operation->set_width(g_brushWidth);
  operation->set_curvature(g_curvature);
  *operation->mutable_color() = g_currentColor;
  *operation->mutable_lightcurve() = g_defaultLightCurve;
}

bool loadHairTextureMaps() {
  const std::string path = g_parameters.asset_path() + g_parameters.hair_texture();
  if (!ReadProtoFromTextFile(path.c_str(), &g_hairTextureMaps)) {
    g_hairTextureMaps.Clear();  // a half-parsed file gives no rectangles at all
    return false;
  }
  const std::string folder = folderWithSlash(path);

  delete g_hairTextureSlots;  // buffers copy the slots, so the old set has no other user
  g_hairTextureSlots = new TextureSlots;

  using M = quillax::HairTextureMaps;
  static const MapField kFields[] = {
      {&M::alpha_map, &M::has_alpha_map, 8, "_Alpha_Map"},
      {&M::albedo_map, &M::has_albedo_map, 1, "_Diffuse_Map"},
      {&M::normal_map, &M::has_normal_map, 6, "_Normal_Map"},
      {&M::ao_map, &M::has_ao_map, 10, "_AO_Map"},
      {&M::brightness_map, &M::has_brightness_map, 3, "_Brightness_Map"},
      {&M::random_map, &M::has_random_map, 13, "_Random_Map"},
  };
  if (!g_textureManager) return true;
  for (const MapField& field : kFields) {
    if (!(g_hairTextureMaps.*field.present)()) continue;
    Texture* texture = g_textureManager->loadTexture(folder + (g_hairTextureMaps.*field.value)(), field.type);
    if (!texture) continue;
    reportUnloadedImage(*texture, "hair texture map");
    g_hairTextureSlots->addTexture(texture->m_id, field.sampler);
  }
  return true;
}

int loadHairSet() {
  if (!g_parameters.has_hairset_path()) return g_hairs.hairs_size();
  const std::string root = g_parameters.asset_path();
  const std::string path = root + g_parameters.hairset_path();
  quillax::Hairs set;
  const OwnFileRead read = readOwnTextFile(path, &set);
  if (read != OwnFileRead::Read) {
    for (const char* name : {"base_back_sep", "base_back_no_sep"}) {
      quillax::Hairs::Hair* hair = set.add_hairs();
      const std::string base = std::string("hair/") + name + "/" + name;
      hair->set_name(name);
      hair->set_file_path(base + ".txt");
      hair->set_image_path(base + ".png");
      hair->set_load_at_begin(1);
    }
    if (read == OwnFileRead::Kept) reportKeptFile("loadHairSet", path, "built-in hair set");
    // The read may have failed on another path or on a damaged file: a stored set is the
    // user's and is never written over.
    const std::string builtInPath = root + "hair/hairset.txt";
    if (!platform::pathExists(builtInPath)) WriteProtoToTextFile(set, builtInPath.c_str());
  }
  for (const quillax::Hairs::Hair& hair : set.hairs())
    if (hair.load_at_begin() != 0 && platform::isReadableFile(root + hair.file_path()))
      *g_hairs.add_hairs() = hair;
  return g_hairs.hairs_size();
}
