#include "ui/shooter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <string>

#include "core/geometry.h"
#include "core/settings.h"
#include "render/camera.h"
#include "render/model_element.h"
#include "render/shader.h"
#include "render/texture.h"

namespace {

constexpr float kPi = 3.14159265358979f;

const char* geometryName(int32_t key) {
  switch (key) {
    case GEOMETRY_UI_PANEL: return "GEOMETRY_UI_PANEL";
    case GEOMETRY_UI_CUBE: return "GEOMETRY_UI_CUBE";
    case GEOMETRY_UI_SPHERE: return "GEOMETRY_UI_SPHERE";
    case GEOMETRY_UI_POINTER: return "GEOMETRY_UI_POINTER";
    case GEOMETRY_UI_BRUSHER: return "GEOMETRY_UI_BRUSHER";
    case GEOMETRY_UI_SPLINER: return "GEOMETRY_UI_SPLINER";
    case GEOMETRY_CAMERA: return "cameraMain";
    default: return "GEOMETRY_UI";
  }
}

void addVertex(std::vector<float>& out, float x, float y, float z) {
  out.push_back(x);
  out.push_back(y);
  out.push_back(z);
}

// The placements of the interaction table: scale and translation on the identity.
quillax::FloatList placement(float sx, float sy, float sz, float tx, float ty, float tz) {
  Matrix4 m;
  const float scale[3] = {sx, sy, sz}, translation[3] = {tx, ty, tz}, angles[3] = {0, 0, 0};
  transformMatrix4(m, scale, translation, angles);
  quillax::FloatList list;
  for (int i = 0; i < 16; ++i) list.add_v(m[i]);
  return list;
}
const quillax::FloatList& cardPlacement() {
  static const quillax::FloatList p = placement(0.02f, 1.0f, 0.04f, 0.0f, 0.0f, -0.05f);
  return p;
}
const quillax::FloatList& markerPlacement() {
  static const quillax::FloatList p = placement(0.03f, 0.03f, 0.03f, 0.0f, 0.0f, -0.05f);
  return p;
}
const quillax::FloatList& iconPlacement() {
  static const quillax::FloatList p = placement(0.035f, 1.0f, 0.035f, 0.0f, 0.01f, 0.03f);
  return p;
}
const quillax::FloatList& identityPlacement() {
  static const quillax::FloatList p = placement(1.0f, 1.0f, 1.0f, 0.0f, 0.0f, 0.0f);
  return p;
}

struct ModeSpec {
  const char* name;
  int32_t modeId;  // -1: no mode id, drawn whatever the selected mode
  int32_t geometry;
  const quillax::FloatList* transform;
  const float* color;  // null: the current brush colour
  const char* icon;    // null: none
  bool rotate;
};

void addMode(quillax::InteractionParam_Component* component, const ModeSpec& spec) {
  quillax::InteractionParam_Component_Mode* mode = component->add_modes();
  mode->set_name(spec.name);
  if (spec.modeId >= 0) mode->set_mode_id(spec.modeId);
  mode->set_geometry_id(spec.geometry);
  *mode->mutable_transform() = *spec.transform;
  if (spec.color) {
    mode->mutable_color()->set_red(spec.color[0]);
    mode->mutable_color()->set_green(spec.color[1]);
    mode->mutable_color()->set_blue(spec.color[2]);
    mode->mutable_color()->set_lightness(1.0f);
  }
  if (spec.icon) mode->set_textures(spec.icon);
  if (spec.rotate) mode->set_rotate(1);
}

quillax::InteractionParam* addInteraction(quillax::UIParam& ui, const char* name, int32_t id) {
  quillax::InteractionParam* interaction = ui.add_interactions();
  interaction->set_name(name);
  interaction->set_interaction_id(id);
  return interaction;
}

quillax::InteractionParam_Component* addComponent(quillax::InteractionParam* interaction,
                                                 const char* name, int32_t id) {
  quillax::InteractionParam_Component* component = interaction->add_components();
  component->set_name(name);
  component->set_component_id(id);
  return component;
}

// A copy of a "tool" component showing another icon.
void addToolCopy(quillax::InteractionParam* interaction, const quillax::InteractionParam_Component& tool,
                 const char* icon) {
  quillax::InteractionParam_Component* copy = interaction->add_components();
  *copy = tool;
  copy->mutable_modes(0)->set_textures(icon);
}

// The card of a tool head: one mode with an icon, in the brush colour.
void addHeadCard(quillax::InteractionParam* interaction, const char* icon) {
  addMode(addComponent(interaction, "head", 0), {"default", -1, GEOMETRY_UI_PANEL, &cardPlacement(), nullptr, icon, false});
}

// A spinning head shape: the sphere (identity) or the double pyramid (marker).
void addHeadShape(quillax::InteractionParam* interaction, int32_t geometry, const float* color) {
  const quillax::FloatList* where = geometry == GEOMETRY_UI_SPHERE ? &identityPlacement() : &markerPlacement();
  addMode(addComponent(interaction, "head", 0), {"default", -1, geometry, where, color, nullptr, true});
}

}  // namespace

std::vector<float> cardVertices() {
  return {-0.5f, 0.0f, 0.0f, 0.0f, 1.0f,  //
          0.5f,  0.0f, 0.0f, 1.0f, 1.0f,  //
          -0.5f, 0.0f, 1.0f, 0.0f, 0.0f,  //
          0.5f,  0.0f, 1.0f, 1.0f, 0.0f};
}

std::vector<float> doublePyramidVertices() {
  std::vector<float> out;
  auto corner = [](int i) {
    const float a = static_cast<float>(i % 6) * kPi / 3.0f;
    return Vec3f(0.5f * std::cos(a), 0.5f * std::sin(a), (i % 6) % 2 == 0 ? 1.0f / 6.0f : -1.0f / 6.0f);
  };
  for (int i = 0; i < 6; ++i) {
    const Vec3f p = corner(i), next = corner(i + 1);
    addVertex(out, 0.0f, 0.0f, i % 2 == 0 ? 0.5f : -0.5f);
    addVertex(out, p[0], p[1], p[2]);
    addVertex(out, p[0], p[1], p[2]);
    addVertex(out, next[0], next[1], next[2]);
  }
  return out;
}

std::vector<float> wireSphereVertices() {
  std::vector<float> out;
  auto at = [](int j, int k) {
    const float theta = static_cast<float>(j) * 2.0f * kPi / 14.0f, phi = static_cast<float>(k) * kPi / 4.0f;
    return Vec3f(std::cos(phi) * std::sin(theta), std::sin(phi) * std::sin(theta), std::cos(theta));
  };
  for (int j = 0; j <= 6; ++j) {
    for (int k = 0; k <= 7; ++k) {
      const Vec3f p = at(j, k), down = at(j + 1, k), round = at(j, k + 1);
      addVertex(out, p[0], p[1], p[2]);
      addVertex(out, down[0], down[1], down[2]);
      addVertex(out, p[0], p[1], p[2]);
      addVertex(out, round[0], round[1], round[2]);
    }
  }
  return out;
}

std::vector<float> pointerVertices(float length) {
  return {0.0f, 0.0f, -0.02f, 0.0f, 0.0f, -0.05f - std::max(0.0f, length)};
}

std::vector<float> brusherVertices(int32_t curvature, float width) {
  std::vector<float> out;
  const int64_t index = static_cast<int64_t>(curvature) + 23;
  const size_t points = static_cast<size_t>(std::abs(static_cast<int64_t>(curvature))) + 2;
  if (index < 0 || index >= static_cast<int64_t>(g_curveProfiles.size())) return out;
  const std::vector<float>& profile = g_curveProfiles[static_cast<size_t>(index)];
  if (profile.size() < 2 * points) return out;
  for (size_t a = 0; a + 1 < points; ++a) {
    addVertex(out, profile[2 * a] * width, profile[2 * a + 1] * width, -0.05f);
    addVertex(out, profile[2 * a + 2] * width, profile[2 * a + 3] * width, -0.05f);
  }
  return out;
}

std::vector<float> splinerVertices(float length, float radius, float samplingDistance) {
  std::vector<float> out;
  const int n = static_cast<int>(length * 1000.0f);
  if (n <= 0) return out;
  const float k = 0.3f / std::max(kMinSamplingDistance, samplingDistance);
  for (int i = 0; i < n; ++i) {
    const float s = static_cast<float>(i) / static_cast<float>(n);
    const float angle = static_cast<float>(i) * length * k / static_cast<float>(n);
    const Vec3f turn = rotateAroundAxis(Vec3f(1.0f, 0.0f, 0.0f), Vec3f(0.0f, 0.0f, 1.0f), angle);
    addVertex(out, radius * turn[0], radius * turn[1], -0.02f * (1.0f - s) + 0.2f * s + radius * turn[2]);
  }
  return out;
}

int32_t brushShapeCurvature() {
  if (g_brushShape == BRUSH_ATTACH) return 2;
  if (g_brushShape == BRUSH_BRAID) return 23;
  return g_curvature;
}

void buildDefaultInteractions(quillax::UIParam& ui) {
  static const float grey[3] = {0.6f, 0.6f, 0.6f};
  static const float select[3] = {0.3f, 0.9f, 0.3f}, remove[3] = {0.9f, 0.3f, 0.3f};
  static const float move[3] = {0.7f, 0.9f, 0.7f}, deform[3] = {0.9f, 0.7f, 0.7f}, trans[3] = {0.7f, 0.7f, 0.9f};

  quillax::InteractionParam* pen = addInteraction(ui, "INTERACTION_PEN", TOOL_PEN);
  addHeadCard(pen, "textures/geos/iconpenhead.png");
  quillax::InteractionParam_Component* shape = addComponent(pen, "shape", 1);
  const ModeSpec shapes[5] = {
      {"BRUSH_SHAPE_DEFAULT", BRUSH_SHAPE_DEFAULT, GEOMETRY_UI_PANEL, &iconPlacement(), grey, "textures/geos/iconhairNormal.png", false},
      {"BRUSH_ATTACH", BRUSH_ATTACH, GEOMETRY_UI_PANEL, &iconPlacement(), grey, "textures/geos/iconattach.png", false},
      {"BRUSH_SPIN", BRUSH_SPIN, GEOMETRY_UI_PANEL, &iconPlacement(), grey, "textures/geos/iconspin.png", false},
      {"BRUSH_BRAID", BRUSH_BRAID, GEOMETRY_UI_PANEL, &iconPlacement(), grey, "textures/geos/iconbraid.png", false},
      {"BRUSH_HINT", BRUSH_HINT, GEOMETRY_UI_PANEL, &iconPlacement(), grey, "textures/geos/iconhint.png", false},
  };
  for (const ModeSpec& spec : shapes) addMode(shape, spec);
  const quillax::InteractionParam_Component shapeComponent = *shape;

  quillax::InteractionParam* brush = addInteraction(ui, "INTERACTION_BRUSH", TOOL_BRUSH);
  quillax::InteractionParam_Component* texture = addComponent(brush, "texture", 0);
  addMode(texture, {"hairdense", HAIR_TEXTURE_DENSE, GEOMETRY_UI_PANEL, &cardPlacement(), nullptr, "textures/geos/iconhairdense.png", false});
  addMode(texture, {"hairmiddle", HAIR_TEXTURE_MIDDLE, GEOMETRY_UI_PANEL, &cardPlacement(), nullptr, "textures/geos/iconhairmiddle.png", false});
  addMode(texture, {"hairsparse", HAIR_TEXTURE_SPARSE, GEOMETRY_UI_PANEL, &cardPlacement(), nullptr, "textures/geos/iconhairsparse.png", false});
  *brush->add_components() = shapeComponent;

  quillax::InteractionParam* selectTool = addInteraction(ui, "INTERACTION_SELECT", TOOL_SELECT);
  addHeadShape(selectTool, GEOMETRY_UI_SPHERE, select);
  quillax::InteractionParam_Component* tool = addComponent(selectTool, "tool", 1);
  addMode(tool, {"default", -1, GEOMETRY_UI_PANEL, &iconPlacement(), grey, "textures/geos/iconselect.png", false});
  const quillax::InteractionParam_Component toolComponent = *tool;

  quillax::InteractionParam* deleteTool = addInteraction(ui, "INTERACTION_DELETE", TOOL_DELETE);
  addHeadShape(deleteTool, GEOMETRY_UI_SPHERE, remove);
  addToolCopy(deleteTool, toolComponent, "textures/geos/icondelete.png");

  quillax::InteractionParam* recolor = addInteraction(ui, "INTERACTION_RECOLOR", TOOL_RECOLOR);
  addHeadShape(recolor, GEOMETRY_UI_SPHERE, nullptr);
  addToolCopy(recolor, toolComponent, "textures/geos/iconrecolor.png");

  addHeadCard(addInteraction(ui, "INTERACTION_COLOR_PICK", TOOL_COLOR_PICK), "textures/geos/iconcolorpicker.png");

  const struct {
    const char* name;
    int32_t id;
    const float* color;
    const char* icon;
  } markers[3] = {{"INTERACTION_MOVE", TOOL_MOVE, move, "textures/geos/iconmove.png"},
                  {"INTERACTION_DEFORM", TOOL_DEFORM, deform, "textures/geos/icondeform.png"},
                  {"INTERACTION_TRANS", TOOL_TRANSFORM, trans, "textures/geos/icontrans.png"}};
  for (const auto& marker : markers) {
    quillax::InteractionParam* interaction = addInteraction(ui, marker.name, marker.id);
    addHeadShape(interaction, GEOMETRY_UI_CUBE, marker.color);
    addToolCopy(interaction, toolComponent, marker.icon);
  }
}

bool updateSwipeValue(float value, float low, float high, float* current) {
  value = std::clamp(value, low, high);
  if (std::fabs(value - *current) < 0.001f) return false;
  *current = value;
  return true;
}

// ---- Shooter ----

Shooter::~Shooter() {
  if (g_cameraManager && g_cameraManager->m_toolCamera == toolCamera()) g_cameraManager->m_toolCamera = nullptr;
  for (auto& geometry : m_geometries) delete geometry.second;
}

CameraModel* Shooter::toolCamera() const { return dynamic_cast<CameraModel*>(getGeometry(GEOMETRY_CAMERA)); }

ModelElement* Shooter::getGeometry(int32_t key) const {
  const auto found = m_geometries.find(key);
  return found == m_geometries.end() ? nullptr : found->second;
}

ModelElement* Shooter::element(int32_t key) {
  ModelElement*& slot = m_geometries[key];
  if (!slot) slot = new ModelElement(geometryName(key));
  return slot;
}

bool Shooter::drawn(int32_t key) const {
  const ModelElement* geometry = getGeometry(key);
  return geometry && geometry->getFlag2();
}

void Shooter::init(quillax::UIParam& ui) {
  if (ui.interactions_size() == 0) buildDefaultInteractions(ui);
  const std::string root = g_parameters.asset_path();
  for (const quillax::InteractionParam& interaction : ui.interactions())
    for (const auto& component : interaction.components())
      for (const auto& mode : component.modes())
        if (mode.has_textures() && g_textureManager) g_textureManager->loadTexture(root + mode.textures(), 1);
  for (const quillax::InteractionParam& interaction : ui.interactions()) {
    m_interactions[interaction.interaction_id()] = interaction;
    m_modeState[interaction.interaction_id()].assign(static_cast<size_t>(interaction.components_size()), 0);
  }
  buildBaseGeometries();
  buildPointerGeometry();
  buildBrusherGeometry();
  buildSplinerGeometry();
  buildSphereGeometry();
  buildCameraGeometry();
}

void Shooter::uploadLines(int32_t key, const std::vector<float>& vertices, unsigned primitive) {
  ModelElement* geometry = element(key);
  if (geometry->m_vao == 0)
    geometry->uploadGeometry(vertices, 0, primitive);
  else
    geometry->updateGeometry(vertices);
  geometry->setColor(Vec4f(-1.0f, -1.0f, -1.0f, -1.0f));
}

void Shooter::buildBaseGeometries() {
  ModelElement* card = element(GEOMETRY_UI_PANEL);
  card->uploadGeometry(cardVertices(), 3, GL_TRIANGLE_STRIP);
  element(GEOMETRY_UI_CUBE)->uploadGeometry(doublePyramidVertices(), 0, GL_LINES);
  element(GEOMETRY_UI_SPHERE)->uploadGeometry(wireSphereVertices(), 0, GL_LINES);
}

void Shooter::buildPointerGeometry() {
  const float length = uiValueAt(VALUE_POINTER_LENGTH, -1.0f);
  uploadLines(GEOMETRY_UI_POINTER, pointerVertices(length), GL_LINES);
}

void Shooter::buildBrusherGeometry() {
  uploadLines(GEOMETRY_UI_BRUSHER, brusherVertices(brushShapeCurvature(), g_brushWidth), GL_LINES);
}

void Shooter::buildSplinerGeometry() {
  uploadLines(GEOMETRY_UI_SPLINER,
              splinerVertices(g_splinerLength, g_splinerRadius, g_parameters.sampling_distance()),
              GL_LINE_STRIP);
}

void Shooter::buildSphereGeometry() {
  ModelElement* sphere = element(GEOMETRY_UI_SPHERE);
  sphere->resetTransform();
  const float radius = uiValueAt(VALUE_SPHERE_RADIUS, 0.05f);
  const float scale[3] = {radius, radius, radius}, translation[3] = {0.0f, 0.0f, -0.05f}, angles[3] = {0, 0, 0};
  transformMatrix4(sphere->m_modelMatrix, scale, translation, angles);
  sphere->updateTransform();
}

void Shooter::buildCameraGeometry() {
  const float nearZ = uiValueAt(VALUE_CAMERA_NEAR, 0.2f);
  const float farZ = uiValueAt(VALUE_CAMERA_FAR, 2.0f);
  if (CameraModel* camera = toolCamera()) {
    camera->createFrameGeometry(1, 0.2f, nearZ, farZ);
    return;
  }
  CameraModel* camera = new CameraModel(geometryName(GEOMETRY_CAMERA));
  camera->initTarget(g_parameters.capture_image_width(), g_parameters.capture_image_height(),
                     g_parameters.multisample_size());
  camera->createFrameGeometry(1, 0.2f, nearZ, farZ);
  camera->m_modelMatrix.at(1, 3) = camera->m_height / 2;
  camera->m_modelMatrix.at(2, 3) = -0.05f;
  camera->updateTransform();
  camera->setSelected(true);
  delete m_geometries[GEOMETRY_CAMERA];
  m_geometries[GEOMETRY_CAMERA] = camera;
  if (g_cameraManager) g_cameraManager->m_toolCamera = camera;
}

void Shooter::render(const Matrix4& handPose, const Matrix4& viewProjection) {
  const int32_t tool = updateCurrentToolId();
  for (auto& geometry : m_geometries)
    if (geometry.second) geometry.second->setFlag2(false);

  if (tool == TOOL_PEN || tool == TOOL_BRUSH) {
    std::vector<int32_t>& modes = m_modeState[tool];
    if (tool == TOOL_BRUSH) {
      if (!modes.empty()) modes[0] = g_hairTexture;
      if (ModelElement* brusher = getGeometry(GEOMETRY_UI_BRUSHER)) brusher->render(handPose, viewProjection);
    }
    if (modes.size() > 1) modes[1] = g_brushShape;
    if (g_brushShape == BRUSH_SPIN || g_brushShape == BRUSH_BRAID)
      if (ModelElement* spliner = getGeometry(GEOMETRY_UI_SPLINER)) spliner->render(handPose, viewProjection);
  }
  if (tool == TOOL_CAMERA)
    if (ModelElement* camera = getGeometry(GEOMETRY_CAMERA)) camera->render(handPose, viewProjection);
  if (ModelElement* pointer = getGeometry(GEOMETRY_UI_POINTER)) pointer->render(handPose, viewProjection);

  const auto interaction = m_interactions.find(tool);
  if (interaction == m_interactions.end()) return;
  const std::vector<int32_t>& selected = m_modeState[tool];
  const std::string root = g_parameters.asset_path();
  for (int i = 0; i < interaction->second.components_size(); ++i) {
    for (const auto& mode : interaction->second.components(i).modes()) {
      if (mode.has_mode_id() && (static_cast<size_t>(i) >= selected.size() || mode.mode_id() != selected[i]))
        continue;
      const int32_t g = mode.geometry_id();
      if (g < 0 || g >= static_cast<int32_t>(m_geometries.size())) continue;
      ModelElement* geometry = getGeometry(g);
      if (!geometry) continue;
      Matrix4 local;
      if (mode.has_transform() && mode.transform().v_size() == 16)
        for (int k = 0; k < 16; ++k) local[k] = mode.transform().v(k);
      if (mode.has_rotate()) {
        const float one[3] = {1, 1, 1}, none[3] = {0, 0, 0}, spin[3] = {0, 0, 0.02f};
        transformMatrix4(geometry->m_modelMatrix, one, none, spin);
        geometry->updateTransform();
      }
      const quillax::Color& c = mode.has_color() ? mode.color() : g_currentColor;
      const float l = c.lightness();
      geometry->setColor(Vec4f(c.red() * l, c.green() * l, c.blue() * l, mode.has_color() ? c.alpha() : 1.0f));
      if (mode.has_textures()) {
        geometry->m_textures.clear();
        const Texture* icon = g_textureManager ? g_textureManager->loadTexture(root + mode.textures(), 1) : nullptr;
        if (icon && icon->m_id != 0) geometry->m_textures.addTexture(icon->m_id, icon->m_typeName);
      }
      Matrix4 placed;
      multiplyMatrix4(handPose, placed, local);
      geometry->render(placed, viewProjection);
    }
  }
}

bool Shooter::getPrimaryValue(float& value, float& step) {
  if (drawn(GEOMETRY_UI_BRUSHER)) {
    value = g_brushWidth;
    step = 0.02f;
    return true;
  }
  if (drawn(GEOMETRY_UI_SPHERE) && uiValueSlot(VALUE_SPHERE_RADIUS)) {
    value = *uiValueSlot(VALUE_SPHERE_RADIUS);
    step = 0.02f;
    return true;
  }
  if (drawn(GEOMETRY_CAMERA) && uiValueSlot(VALUE_CAMERA_NEAR)) {
    value = *uiValueSlot(VALUE_CAMERA_NEAR);
    step = 0.02f;
    return true;
  }
  return false;
}

void Shooter::setPrimaryValue(float value) {
  if (drawn(GEOMETRY_UI_BRUSHER)) {
    if (updateSwipeValue(value, 0.01f, 0.1f, &g_brushWidth)) buildBrusherGeometry();
  } else if (float* radius = drawn(GEOMETRY_UI_SPHERE) ? uiValueSlot(VALUE_SPHERE_RADIUS) : nullptr) {
    if (updateSwipeValue(value, 0.01f, 0.1f, radius)) buildSphereGeometry();
  } else if (float* nearZ = drawn(GEOMETRY_CAMERA) ? uiValueSlot(VALUE_CAMERA_NEAR) : nullptr) {
    if (updateSwipeValue(value, 0.05f, 1.0f, nearZ)) buildCameraGeometry();
  }
}

bool Shooter::getSecondaryValue(float& value, float& step) {
  if (drawn(GEOMETRY_UI_BRUSHER)) {
    value = static_cast<float>(brushShapeCurvature());
    step = 5.0f;
    return true;
  }
  // The sphere has no secondary value: the camera column is next.
  if (drawn(GEOMETRY_CAMERA) && uiValueSlot(VALUE_CAMERA_FAR)) {
    value = *uiValueSlot(VALUE_CAMERA_FAR);
    step = 0.2f;
    return true;
  }
  return false;
}

void Shooter::setSecondaryValue(float value) {
  if (!drawn(GEOMETRY_UI_BRUSHER)) {
    float* farZ = drawn(GEOMETRY_CAMERA) ? uiValueSlot(VALUE_CAMERA_FAR) : nullptr;
    if (farZ && updateSwipeValue(value, 0.5f, 5.0f, farZ)) buildCameraGeometry();
    return;
  }
  // A max_curvature below 1 would turn the clamp round; the range keeps at least [1, 1].
  const float high = std::max(1.0f, static_cast<float>(std::min(g_parameters.max_curvature(), 23)));
  float current = static_cast<float>(brushShapeCurvature());
  if (!updateSwipeValue(value, 1.0f, high, &current)) return;
  g_curvature = static_cast<int32_t>(current);
  buildBrusherGeometry();
}
