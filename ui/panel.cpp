#include "ui/panel.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "core/cout_line.h"
#include "core/geometry.h"
#include "core/settings.h"
#include "quillax.pb.h"
#include "render/light.h"
#include "render/shader.h"
#include "render/texture.h"
#include "strokes/operatable.h"
#include "strokes/stroke_geometry.h"
#include "ui/default_menu.h"
#include "ui/widget_kinds.h"

namespace {

const Vec4f kPanelColor(0.6f, 0.6f, 0.6f, 1.0f);
// The preview strand: points down the middle of the "opRender" widget, just in front of it.
constexpr int kPreviewPoints = 20;
constexpr uint32_t kPreviewShader = 7;

// The colour preview is drawn as a stroke across the crown in full light looks, however the menu
// hand turns it: its lighting frame turns the strand's face (local +z) towards the light and
// puts the viewer in front of it. The scene's shadow map is left out, since the lighting frame
// is not where the strand is.
class PreviewStrandRender : public ModelRender {
 public:
  using ModelRender::ModelRender;
  void render(const Matrix4& model, const Matrix4& viewProjection) override {
    ShaderManager* shaders = g_shaderManager;
    if (!isRenderable() || m_vao == 0 || !shaders || shaders->m_forced >= -1) return;
    if (!shaders->useProgram(m_shaderIndex)) return;
    const Matrix4 lighting = facingTheLight();
    Matrix4 mvp;
    multiplyMatrix4(viewProjection, mvp, model);
    if (shaders->hasUniformMatrix()) shaders->setUniformMatrix(mvp.data());
    if (shaders->hasUniformModel()) shaders->setUniformModel(lighting.data());
    if (shaders->hasUniformColor()) shaders->setUniformColor(m_color.data());
    const Vec3f viewer = transformPoint(lighting, Vec3f(0.5f, 0.5f, 0.6f));
    if (shaders->hasUniformViewPos()) shaders->setUniformViewPos(viewer.data());
    shaders->bindTextures(m_textures, {});
    drawMesh();
  }

 private:
  // Rotation taking +z to the first light's direction (its own +y), or +y without a light.
  static Matrix4 facingTheLight() {
    Vec3f z(0.0f, 1.0f, 0.0f);
    if (g_lightManager && !g_lightManager->m_lights.empty()) {
      const Matrix4& light = g_lightManager->m_lights[0]->m_modelMatrix;
      const Vec3f y(light[4], light[5], light[6]);
      if (dot(y, y) > 1e-12f) z = normalized(y);
    }
    const Vec3f helper = std::fabs(z[0]) < 0.9f ? Vec3f(1.0f, 0.0f, 0.0f) : Vec3f(0.0f, 0.0f, 1.0f);
    const Vec3f y = normalized(cross(z, helper)), x = cross(y, z);
    Matrix4 frame;
    for (int r = 0; r < 3; ++r) frame[r] = x[r], frame[4 + r] = y[r], frame[8 + r] = z[r];
    return frame;
  }
};

}  // namespace

Panel::Panel() = default;

Panel::~Panel() {
  for (UIWidget* widget : m_widgets) delete widget;
  m_previewModel.reset();
  m_previewStroke.reset();
}

void Panel::init(quillax::UIParam& param) {
  // Loaded once here so that every widget finds the atlases in the cache.
  if (g_textureManager) {
    g_textureManager->loadTexture(g_parameters.asset_path() + kActiveIconAtlas, 1);
    g_textureManager->loadTexture(g_parameters.asset_path() + kInactiveIconAtlas, 1);
  }
  if (param.has_panel()) {
    UIWidget* made = createWidget(nullptr, param.panel());
    m_root = dynamic_cast<UIContainer*>(made);
    if (!m_root) {
      coutLine("Panel::init: the menu description is not a container; no menu");
      delete made;
      return;
    }
    m_widgets.push_back(m_root);
    m_root->collectWidgets(m_widgets);
  } else {
    m_root = buildDefaultWidgetTree(m_widgets);
    m_root->toParam(*param.mutable_panel());
  }
  m_root->buildGeometry();
  // Sub-panels sit in front of the menu, so they are tested before it.
  std::stable_sort(m_widgets.begin(), m_widgets.end(), [](const UIWidget* a, const UIWidget* b) {
    return a->m_transform[14] > b->m_transform[14];
  });

  if (auto* textures = dynamic_cast<UIContainer*>(m_root->findByName("texturePanel"))) {
    int32_t current = -1;
    for (size_t i = 0; i < textures->m_children.size(); ++i) {
      const EventRecord* event = textures->m_children[i]->m_clickEvent.get();
      if (event && event->m_id == g_hairTexture) {
        current = static_cast<int32_t>(i);
        break;
      }
    }
    textures->setActive(current);
  }
  for (const char* name : {"brushPanel", "editPanel"})
    if (UIWidget* panel = m_root->findByName(name)) panel->setActive(0);
  for (const char* name : {"smoothButton", "collisionButton"})
    if (UIWidget* button = m_root->findByName(name)) button->setVisible(true);
  if (UIWidget* editor = m_root->findByName("lightSplineEditor")) editor->drag(0.0f, 0.0f, -1);
  // Last, so that the first frame's dispatch ends in the brush mode.
  m_root->setActive(0);
  addSubPanels();
}

void Panel::addSubPanels() {
  if (!m_root) return;
  m_referencePanel.reset(new UIContainer("subPanel", kNoIcon, "", kPanelColor));
  m_referencePanel->setLayout(m_root->m_transform[12], m_root->m_transform[13], 0.0f, 0.216f, 0.318f);
  m_referencePanel->setRenderable(false);
  const float whole[5] = {1.0f, 1.0f, 0.0f, 0.0f, 0.001f};
  m_referenceImage =
      m_referencePanel->addWidget("refImage", WIDGET_CONTAINER, kNoIcon, g_parameters.reference_image(),
                                  Vec4f(0.0f, 0.0f, 0.0f, 0.0f), whole);
  m_referencePanel->buildGeometry();
}

float Panel::hitTest(const Matrix4& panelMatrix, const Matrix4& rayPose) {
  const Vec3f zAxis(rayPose[8], rayPose[9], rayPose[10]);
  const Vec3f position(rayPose[12], rayPose[13], rayPose[14]);
  const Vec3f origin = position - zAxis * 0.05f;
  const Vec3f direction = normalized((position - zAxis) - origin);

  m_hovered = nullptr;
  Vec3f hit(-1.0f, -1.0f, -1.0f);
  if (m_root) m_root->setRenderable(true);
  if (m_referencePanel) m_referencePanel->setRenderable(true);

  // After a miss the menu comes back over the reference panel's area; the shown sub-panels stand
  // beside that area and are hit where they are, so a press aimed at them never reaches a tool.
  const bool afterMiss = m_hitDistance < 0.0f;
  const bool referenceHit =
      afterMiss && m_referencePanel && m_referencePanel->hitTest(origin, direction, panelMatrix, hit);
  for (UIWidget* widget : m_widgets) {
    if (afterMiss && !referenceHit && widget == m_root) continue;
    if ((m_hovered = widget->hitTest(origin, direction, panelMatrix, hit))) break;
  }
  // Something shown in front of the menu (the head) takes the ray: a miss, so the press goes to
  // the tool, and the pointer ends where the ray was stopped.
  m_stopDistance = -1.0f;
  if (m_hovered && m_rayStop) {
    const float stop = m_rayStop(origin, direction, hit[0]);
    if (stop >= 0.0f) {
      for (UIWidget* w = m_hovered; w; w = w->m_owner) w->setSelected(false);
      m_hovered = nullptr;
      hit = Vec3f(-1.0f, -1.0f, -1.0f);
      m_stopDistance = stop;
    }
  }

  // While the ray points past the menu, the reference image (when there is one) takes its place.
  const bool referenceShown = m_referenceImage && !m_referenceImage->m_textures.ids.empty();
  const bool showMenu = hit[0] >= 0.0f || !referenceShown;
  if (m_referencePanel) m_referencePanel->setRenderable(!showMenu);
  if (m_root) m_root->setRenderable(showMenu);

  m_hitDistance = hit[0];
  m_hitU = hit[1];
  m_hitV = hit[2];
  return m_hitDistance;
}

bool Panel::release() {
  if (!isSelected()) return false;
  setSelected(false);
  if (!m_pressed || m_pressed != m_hovered) return false;
  m_pressed->drag(m_hitU, m_hitV, 2);
  if (dynamic_cast<UIContainer*>(m_pressed)) return false;
  m_pressed->click(true);
  m_pressed->press(false);
  return true;
}

void Panel::render(const Matrix4& matrix) {
  UIWidget* lifted = m_hovered && !m_hovered->m_depthFixed ? m_hovered : nullptr;
  // Put back as it was: adding and taking away 1 cm in float would let it creep frame by frame.
  const float depth = lifted ? lifted->m_transform[14] : 0.0f;
  if (lifted) lifted->m_transform[14] = depth + 0.01f;
  if (m_referencePanel) m_referencePanel->render(Matrix4(), matrix);
  if (m_root) m_root->render(Matrix4(), matrix);
  if (lifted) lifted->m_transform[14] = depth;
}

void Panel::updateOperationPreview() {
  auto* view = m_root ? dynamic_cast<UIModelRender*>(m_root->findByName("opRender")) : nullptr;
  // The pen has no preview, nor has a texture without a hair ribbon to show.
  if (!view || !isRibbonTexture(g_hairTexture)) return;

  const bool creating = !m_previewStroke;
  if (creating) {
    m_previewStroke.reset(new Operatable(-1));
    quillax::Operation& op = *m_previewStroke->m_operation;
    op.set_width(1.0f);
    op.set_curvature(0);
    for (int i = 0; i < kPreviewPoints; ++i) {
      const float y = static_cast<float>(kPreviewPoints - 1 - i) / (kPreviewPoints - 1);
      setPoint(op.add_points(), Vec3f(0.5f, y, 0.0008f));
      setPoint(op.add_normals(), Vec3f(0.0f, 0.0f, 1.0f));
      setPoint(op.add_pitches(), Vec3f(1.0f, 0.0f, 0.0f));
    }
    m_previewModel.reset(new PreviewStrandRender("op"));
  }
  // From the first call on, so that the first preview shows what the user chose.
  quillax::Operation& op = *m_previewStroke->m_operation;
  *op.mutable_color() = g_currentColor;
  op.set_texture(g_hairTexture);
  *op.mutable_lightcurve() = g_defaultLightCurve;

  const Operatable& stroke = *m_previewStroke;
  const int floats =
      stroke.buildStrandGeometry(m_previewVertices, 0, ~0u, g_shaderTable[kPreviewShader].flags);
  if (floats > 0) {
    const std::vector<float> vertices(m_previewVertices.begin(), m_previewVertices.begin() + floats);
    if (m_previewModel->m_vao == 0) {
      // Separate triangles: the ribbon's index list lists each segment's two triangles.
      std::vector<uint32_t> indices;
      if (isRibbonTexture(stroke.m_operation->texture())) {
        const int count = stroke.fillIndexBuffer(indices, 0, ~0u, 0, false);
        indices.resize(static_cast<size_t>(std::max(count, 0)));
      }
      m_previewModel->uploadGeometry(vertices, kPreviewShader, GL_TRIANGLES, &indices);
      m_previewModel->m_textures = hairTextureSlots();
    } else {
      m_previewModel->updateGeometry(vertices);
    }
  }

  const quillax::Color& c = stroke.m_operation->color();
  const float l = c.lightness();
  m_previewModel->setColor(Vec4f(c.red() * l, c.green() * l, c.blue() * l, c.alpha()));
  if (creating) view->m_model = m_previewModel.get();
}
