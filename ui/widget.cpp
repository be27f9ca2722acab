#include "ui/widget.h"

#include <iostream>

#include "core/cout_line.h"
#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/shader.h"
#include "render/texture.h"

const char* const kActiveIconAtlas = "textures/icons_active.png";
const char* const kInactiveIconAtlas = "textures/icons_disactive.png";
const Vec4f kMarkerIconRect(0.5f, 0.75f, 0.125f, 0.125f);
const Vec4f kNoIcon(-1.0f, -1.0f, -1.0f, -1.0f);

namespace {

// The image's texture added to the slots; an image that failed to load (no GL texture) is left
// out, so the widget draws as if it had none instead of sampling nothing.
void addImageTexture(TextureSlots& slots, const std::string& relativePath) {
  if (!g_textureManager) return;
  const Texture* texture = g_textureManager->loadTexture(g_parameters.asset_path() + relativePath, 1);
  if (texture && texture->m_id != 0) slots.addTexture(texture->m_id, texture->m_typeName);
}

}  // namespace

void toWidgetColor(const Vec4f& color, quillax::WidgetParam& param) {
  *param.mutable_color() = toColorMessage(color);
}

// ---- UIWidget ----

UIWidget::UIWidget(const std::string& name, const Vec4f& iconRect, const std::string& textureImage,
                   const Vec4f& color)
    : ModelRender(name), m_iconRect(iconRect), m_textureImage(textureImage) {
  m_color = color;
  setBit(0, false);
}

UIWidget::UIWidget(UIWidget* owner, const quillax::WidgetParam& param)
    : ModelRender(param.name()), m_owner(owner) {
  m_depthFixed = param.has_depthfixed();
  m_dripable = param.has_dripable();
  if (param.has_transform()) {
    if (param.transform().v_size() == 16)
      m_transform = Matrix4(param.transform().v().data());
    else
      coutLine("UIWidget: the transform of \"", m_name, "\" has ", param.transform().v_size(),
               " values, not 16; placed at the origin");
  }
  if (param.has_texture() && param.texture().v_size() == 4)
    m_iconRect = Vec4f(param.texture().v(0), param.texture().v(1), param.texture().v(2),
                       param.texture().v(3));
  m_textureImage = param.texture_image();
  if (param.has_color()) {
    const quillax::Color& c = param.color();
    const float l = c.lightness();
    m_color = Vec4f(c.red() * l, c.green() * l, c.blue() * l, c.alpha());
  }
  if (param.has_click_event()) m_clickEvent.reset(new EventRecord(param.click_event()));
  if (param.has_move_event()) m_moveEvent.reset(new EventRecord(param.move_event()));
  for (const quillax::WidgetParam& trigger : param.triggers())
    if (UIWidget* made = createWidget(nullptr, trigger)) addTrigger(made);
  UIWidget::setVisible(param.has_active() && param.active() != 0);
}

UIWidget::~UIWidget() = default;

void UIWidget::setVisible(bool on) {
  setBit(0, on);
  for (UIWidget* trigger : m_triggers) trigger->setRenderable(on);
}

void UIWidget::addTrigger(UIWidget* trigger) {
  if (!trigger) return;
  trigger->setRenderable(false);
  m_triggers.push_back(trigger);
}

void UIWidget::addMarker(float x, float y, float size, float z) {
  quillax::WidgetParam param;
  param.set_name("marker_" + std::to_string(m_markers.size()));
  param.set_type(WIDGET_CLICK_BUTTON);
  toWidgetColor(Vec4f(1.0f, 1.0f, 1.0f, 1.0f), param);
  for (int i = 0; i < 4; ++i) param.mutable_texture()->add_v(kMarkerIconRect[i]);
  // Scales cross-multiplied, so the marker is square once this widget's own scale applies.
  Matrix4 t;
  t[0] = size * m_transform[5];
  t[5] = size * m_transform[0];
  t[12] = x - t[0] / 2.0f;
  t[13] = y - t[5] / 2.0f;
  t[14] = z;
  for (float value : t.m) param.mutable_transform()->add_v(value);
  if (UIWidget* marker = createWidget(this, param)) m_markers.emplace_back(marker);
}

void UIWidget::setLayout(float x, float y, float z, float width, float height) {
  m_transform = Matrix4();
  m_transform[0] = width;
  m_transform[5] = height;
  m_transform[12] = x;
  m_transform[13] = y;
  m_transform[14] = z;
}

UIWidget* UIWidget::findByName(const std::string& name) {
  if (m_name == name) return this;
  for (UIWidget* trigger : m_triggers)
    if (UIWidget* found = trigger->findByName(name)) return found;
  return nullptr;
}

int UIWidget::collectWidgets(std::vector<UIWidget*>& widgets) {
  int count = 0;
  for (UIWidget* trigger : m_triggers) {
    widgets.push_back(trigger);
    count += 1 + trigger->collectWidgets(widgets);
  }
  return count;
}

void UIWidget::toParam(quillax::WidgetParam& param) const {
  param.set_type(m_type);
  param.set_name(m_name);
  toWidgetColor(m_color, param);
  param.set_active(isVisible() ? 1 : 0);
  if (m_depthFixed) param.set_depthfixed(1);
  if (m_dripable) param.set_dripable(1);
  for (int i = 0; i < 4; ++i) param.mutable_texture()->add_v(m_iconRect[i]);
  if (!m_textureImage.empty()) param.set_texture_image(m_textureImage);
  for (float value : m_transform.m) param.mutable_transform()->add_v(value);
  if (m_moveEvent) toEventMessage(*m_moveEvent, *param.mutable_move_event());
  if (m_clickEvent) toEventMessage(*m_clickEvent, *param.mutable_click_event());
  for (const UIWidget* trigger : m_triggers) trigger->toParam(*param.add_triggers());
}

void UIWidget::buildGeometry() {
  for (UIWidget* trigger : m_triggers) trigger->buildGeometry();
  if (m_iconRect[2] > 0.0f && m_iconRect[3] > 0.0f) {
    addImageTexture(m_textures, kActiveIconAtlas);
    addImageTexture(m_textures, kInactiveIconAtlas);
  } else if (!m_textureImage.empty()) {
    m_iconRect = Vec4f(0.0f, 0.0f, 1.0f, 1.0f);
    addImageTexture(m_textures, m_textureImage);
  }
  // Texture coordinates only with a texture: the flat-colour program takes positions alone.
  const bool textured = !m_textures.ids.empty();
  std::vector<float> quad;
  buildQuadVertices(quad, Vec4f(0.0f, 0.0f, 1.0f, 1.0f), textured ? m_iconRect : kNoIcon);
  uploadGeometry(quad, textured ? 2 : 0, GL_TRIANGLES);
  for (auto& marker : m_markers) marker->buildGeometry();
}

void UIWidget::render(const Matrix4& parent, const Matrix4& viewProjection) {
  if (!isRenderable()) return;
  for (UIWidget* trigger : m_triggers) trigger->render(Matrix4(), viewProjection);
  const Matrix4 model = frameIn(parent);

  if (g_shaderManager && m_vao != 0) {
    ShaderManager& shaders = *g_shaderManager;
    const uint32_t program =
        shaders.m_forced >= 0 ? static_cast<uint32_t>(shaders.m_forced) : m_shaderIndex;
    if (shaders.useProgram(program)) {
      if (shaders.hasUniformMatrix()) {
        Matrix4 mvp;
        shaders.setUniformMatrix(multiplyMatrix4(viewProjection, mvp, model).data());
      }
      if (shaders.hasUniformOpacity()) shaders.setUniformOpacity(1.0f);
      if (shaders.hasUniformColor()) shaders.setUniformColor(m_color.data());
      if (!m_textures.ids.empty()) {
        // Two textures are the active and the inactive icon atlas.
        const GLuint texture =
            m_textures.ids.size() == 1 || isVisible() ? m_textures.ids[0] : m_textures.ids[1];
        shaders.bindTexture(m_textures.names[0], 0, texture);
      }
      drawMesh();
    }
  }
  for (auto& marker : m_markers) marker->render(model, viewProjection);
}

UIWidget* UIWidget::hitTest(const Vec3f& origin, const Vec3f& direction, const Matrix4& parent,
                            Vec3f& hit) {
  setSelected(false);
  if (!isRenderable()) return nullptr;
  const Matrix4 m = frameIn(parent);
  const Vec3f c00 = transformPoint(m, Vec3f(0.0f, 0.0f, 0.0f));
  const Vec3f c10 = transformPoint(m, Vec3f(1.0f, 0.0f, 0.0f));
  const Vec3f c01 = transformPoint(m, Vec3f(0.0f, 1.0f, 0.0f));
  if (dot(origin - c00, cross(c10 - c00, c01 - c00)) < 0.0f) return nullptr;  // from behind
  float distance = -1.0f, u = -1.0f, v = -1.0f;
  if (!intersectRayTriangle(origin.data(), direction.data(), c00.data(), c10.data(), c01.data(),
                            distance, u, v) ||
      !(distance > 0.0f))
    return nullptr;
  hit = Vec3f(distance, u, v);
  setSelected(true);
  return this;
}

void UIWidget::setActive(int32_t state) {
  if (!getFlag3()) return;
  setVisible(state >= 1);
  press(true);
}

void UIWidget::press(bool post) {
  if (!acts()) return;
  if (post) postClickEvent();
  if (m_dripable)
    for (UIWidget* trigger : m_triggers) trigger->press(true);
}

void UIWidget::click(bool post) {
  if (!acts() || !isSelected()) return;
  if (post) postClickEvent();
  passClickOn();
}

void UIWidget::postClickEvent() const {
  if (m_clickEvent) postEvent(new EventRecord(*m_clickEvent));
}

void UIWidget::postWith(const EventRecord* event, std::vector<float> values) {
  if (event) postEvent(new EventRecord(event->m_type, event->m_id, event->m_name, std::move(values)));
}

void UIWidget::passClickOn() {
  if (m_owner) m_owner->click(true);
}

Matrix4 UIWidget::frameIn(const Matrix4& parent) const {
  Matrix4 frame;
  multiplyMatrix4(parent, frame, m_transform);
  return frame;
}

bool UIWidget::containsStrictly(const Matrix4& t, float u, float v) {
  return t[12] < u && u < t[12] + t[0] && t[13] < v && v < t[13] + t[5];
}

// ---- UIContainer ----

UIContainer::UIContainer(const std::string& name, const Vec4f& iconRect,
                         const std::string& textureImage, const Vec4f& color)
    : UIWidget(name, iconRect, textureImage, color) {
  m_type = WIDGET_CONTAINER;
  m_depthFixed = true;
  m_dripable = true;
}

UIContainer::UIContainer(UIWidget* owner, const quillax::WidgetParam& param)
    : UIWidget(owner, param) {
  m_type = WIDGET_CONTAINER;
  m_colNum = param.colnum();
  m_rowNum = param.rownum();
  m_spacing = param.spacing();
  m_vfirstAlignment = param.vfirstalignment() != 0;
  for (const quillax::WidgetParam& child : param.children())
    if (UIWidget* made = createWidget(this, child)) m_children.emplace_back(made);
  setVisible(param.has_active() && param.active() != 0);
}

void UIContainer::setGrid(int32_t colNum, int32_t rowNum, bool vfirstAlignment, float spacing) {
  m_colNum = colNum;
  m_rowNum = rowNum;
  m_vfirstAlignment = vfirstAlignment;
  m_spacing = spacing;
}

bool UIContainer::nextCell(float cell[5]) const {
  const int n = static_cast<int>(m_children.size());
  // A grid without rows or columns (a description that lacks them) is full from the start.
  if (m_colNum < 1 || m_rowNum < 1 || n >= m_colNum * m_rowNum) return false;
  const float w = 1.0f / static_cast<float>(m_colNum);
  const float h = 1.0f / static_cast<float>(m_rowNum);
  const int column = m_vfirstAlignment ? n / m_rowNum : n % m_colNum;
  const int row = m_vfirstAlignment ? n % m_rowNum : n / m_colNum;
  cell[0] = w;
  cell[1] = h;
  cell[2] = static_cast<float>(column) * w;
  cell[3] = static_cast<float>(m_rowNum - row - 1) * h;  // rows counted from the top
  cell[4] = 0.001f;
  return true;
}

UIWidget* UIContainer::addWidget(const std::string& name, int32_t type, const Vec4f& iconRect,
                                 const std::string& textureImage, const Vec4f& color,
                                 const float* cell) {
  float next[5];
  if (!cell) {
    if (!nextCell(next)) return nullptr;
    cell = next;
  }
  quillax::WidgetParam param;
  param.set_name(name);
  param.set_type(type);
  toWidgetColor(color, param);
  for (int i = 0; i < 4; ++i) param.mutable_texture()->add_v(iconRect[i]);
  if (!textureImage.empty()) param.set_texture_image(textureImage);
  Matrix4 t;
  t[0] = cell[0];
  t[5] = cell[1];
  t[12] = cell[2];
  t[13] = cell[3];
  t[14] = cell[4];
  for (float value : t.m) param.mutable_transform()->add_v(value);
  UIWidget* child = createWidget(this, param);
  if (child) m_children.emplace_back(child);
  return child;
}

void UIContainer::buildGeometry() {
  UIWidget::buildGeometry();
  for (auto& child : m_children) child->buildGeometry();
}

void UIContainer::render(const Matrix4& parent, const Matrix4& viewProjection) {
  if (!isRenderable()) return;
  UIWidget::render(parent, viewProjection);
  const Matrix4 model = frameIn(parent);
  for (auto& child : m_children) child->render(model, viewProjection);
}

void UIContainer::toParam(quillax::WidgetParam& param) const {
  UIWidget::toParam(param);
  param.set_colnum(m_colNum);
  param.set_rownum(m_rowNum);
  param.set_spacing(m_spacing);
  param.set_vfirstalignment(m_vfirstAlignment ? 1 : 0);
  for (const auto& child : m_children) child->toParam(*param.add_children());
}

UIWidget* UIContainer::findByName(const std::string& name) {
  if (m_name == name) return this;
  for (auto& child : m_children)
    if (UIWidget* found = child->findByName(name)) return found;
  return nullptr;
}

int UIContainer::collectWidgets(std::vector<UIWidget*>& widgets) {
  int count = 0;
  for (auto& child : m_children) count += child->collectWidgets(widgets);
  return count;
}

void UIContainer::setActive(int32_t state) {
  if (!getFlag3() || state < 0 || state >= static_cast<int32_t>(m_children.size())) return;
  m_children[state]->setActive(state);
}

UIWidget* UIContainer::hitTest(const Vec3f& origin, const Vec3f& direction,
                               const Matrix4& parent, Vec3f& hit) {
  m_hoveredChild = -1;
  setSelected(false);
  if (!isRenderable()) return nullptr;
  Vec3f own;
  if (!UIWidget::hitTest(origin, direction, parent, own)) return nullptr;
  hit = own;
  const Matrix4 model = frameIn(parent);
  for (size_t i = 0; i < m_children.size(); ++i) {
    UIWidget* child = m_children[i].get();
    if (!containsStrictly(child->m_transform, own[1], own[2])) continue;
    Vec3f childHit;
    if (UIWidget* found = child->hitTest(origin, direction, model, childHit)) {
      m_hoveredChild = static_cast<int32_t>(i);
      hit = childHit;
      return found;
    }
  }
  return this;
}

void UIContainer::press(bool post) {
  if (!acts()) return;
  if (post) postClickEvent();
  if (!m_dripable) return;
  for (auto& child : m_children)
    if (child->isVisible()) child->press(true);
}

// ---- UIGroupContainer ----

UIGroupContainer::UIGroupContainer(const std::string& name, const Vec4f& iconRect,
                                   const std::string& textureImage, const Vec4f& color)
    : UIContainer(name, iconRect, textureImage, color) {
  m_type = WIDGET_GROUP_CONTAINER;
}

UIGroupContainer::UIGroupContainer(UIWidget* owner, const quillax::WidgetParam& param)
    : UIContainer(owner, param) {
  m_type = WIDGET_GROUP_CONTAINER;
}

void UIGroupContainer::setActive(int32_t state) {
  if (!getFlag3()) return;
  for (auto& child : m_children) child->setVisible(false);
  if (state < 0 || state >= static_cast<int32_t>(m_children.size())) return;
  m_children[state]->setVisible(true);
  m_children[state]->press(true);
}

void UIGroupContainer::click(bool post) {
  if (!acts() || !isSelected()) return;
  for (size_t i = 0; i < m_children.size(); ++i)
    m_children[i]->setVisible(static_cast<int32_t>(i) == m_hoveredChild);
  if (post) postWith(m_clickEvent.get(), {static_cast<float>(m_hoveredChild)});
  passClickOn();
}

void UIGroupContainer::stepActive(int32_t step) {
  const int32_t n = static_cast<int32_t>(m_children.size());
  if (!acts() || n == 0) return;
  int32_t last = -1;
  for (int32_t i = 0; i < n; ++i) {
    if (!m_children[i]->isVisible()) continue;
    last = i;
    m_children[i]->setVisible(false);
  }
  const int32_t k = ((last + step) % n + n) % n;
  m_children[k]->setVisible(true);
  m_children[k]->press(true);
}
