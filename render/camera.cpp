#include "render/camera.h"

#include <algorithm>
#include <cmath>
#include <iostream>

#include "core/cout_line.h"
#include "core/geometry.h"
#include "core/hand_frames.h"
#include "core/settings.h"
#include "core/text_file.h"
#include "platform/files.h"
#include "quillax.pb.h"
#include "render/grider.h"
#include "render/modeler.h"
#include "render/shader.h"

namespace {

constexpr int kVisibleMapTextureType = 15;
constexpr int32_t kNoForcedProgram = -2;
constexpr int32_t kNormalCameraProgram = 11;
constexpr float kDefaultWidth = 0.2f;
constexpr float kBoxDepth = 0.05f;

float finiteUiValue(UiValueSlot slot, float fallback) {
  const float value = uiValueAt(slot, fallback);
  return std::isfinite(value) ? value : fallback;
}

// The camera tool's near and far.
float toolNear() { return finiteUiValue(VALUE_CAMERA_NEAR, 0.2f); }
float toolFar() { return finiteUiValue(VALUE_CAMERA_FAR, 2.0f); }

void reportReplaced(const std::string& camera, const char* field, double was, double now) {
  coutLine("camera ", camera, ": ", field, " ", was, " gives no usable projection; ", now, " used");
}

// The rotation rows (right, up, back) and -(R e) as the translation: a view from eye.
Matrix4 viewFrom(const Vec3f& right, const Vec3f& up, const Vec3f& back, const Vec3f& eye) {
  Matrix4 view;
  const Vec3f rows[3] = {right, up, back};
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) view.at(r, c) = rows[r][c];
    view.at(r, 3) = -dot(rows[r], eye);
  }
  return view;
}

}  // namespace

// ---- CameraModel ----

CameraModel::CameraModel(const std::string& name) : ModelContainer(name) {
  m_transformFlags = std::make_unique<std::array<uint8_t, 4>>(std::array<uint8_t, 4>{0, 1, 1, 1});
  m_target.m_depthAsRenderbuffer = true;
}

CameraModel::CameraModel(const quillax::Camera& message) : CameraModel(message.name()) {
  m_renderMode = message.render_mode();
  const quillax::Color& background = message.background_color();
  m_background = message.has_background_color()
                     ? Vec3f(background.red(), background.green(), background.blue())
                     : Vec3f(0.0f, 0.0f, 0.0f);
  m_target.m_depthAsRenderbuffer = message.render_depthasrenderbuffer() != 0;

  // A zero or negative size divides the image plane's height by zero or makes no target; a
  // huge one makes the driver abort.
  const int32_t width = imageSizeInRange("image_width", message.image_width(),
                                         g_parameters.capture_image_width());
  const int32_t height = imageSizeInRange("image_height", message.image_height(),
                                          g_parameters.capture_image_height());
  initTarget(width, height, message.render_sample());

  float planeWidth = message.camera_width();
  if (!std::isfinite(planeWidth) || planeWidth == 0.0f) {
    reportReplaced(m_name, "camera_width", planeWidth, kDefaultWidth);
    planeWidth = kDefaultWidth;
  }
  // Near divides the far rectangle's scale; far equal to near divides the depth terms.
  float nearZ = message.camera_near(), farZ = message.camera_far();
  if (!std::isfinite(nearZ) || nearZ <= 0.0f) {
    reportReplaced(m_name, "camera_near", nearZ, toolNear());
    nearZ = toolNear();
  }
  if (!std::isfinite(farZ) || farZ <= 0.0f || farZ == nearZ) {
    const float replacement = toolFar() != nearZ ? toolFar() : nearZ + 1.0f;
    reportReplaced(m_name, "camera_far", farZ, replacement);
    farZ = replacement;
  }
  createFrameGeometry(message.projection_mode(), planeWidth, nearZ, farZ);

  if (message.has_transforms()) {
    const quillax::FloatList& t = message.transforms();
    if (t.v_size() >= 6) {
      lookAt(Vec3f(t.v(0), t.v(1), t.v(2)), Vec3f(t.v(3), t.v(4), t.v(5)));
    } else {
      coutLine("camera ", m_name, ": transforms holds ", t.v_size(),
               " values instead of 6; left in place");
    }
  }
}

CameraModel::~CameraModel() {
  if (g_cameraManager && g_cameraManager->m_current >= 0 &&
      g_cameraManager->current() == this) {
    g_cameraManager->m_current = -1;
    g_cameraManager->m_textures.clear();
  }
}

int32_t CameraModel::imageSizeInRange(const char* field, int32_t size, int32_t setting) const {
  if (size >= 1 && size <= kMaxImageSize) return size;
  const int32_t replacement = size < 1 ? std::clamp(setting, 1, kMaxImageSize) : kMaxImageSize;
  coutLine("camera ", m_name, ": ", field, " ", size, " gives no usable image; ", replacement,
           " used");
  return replacement;
}

bool CameraModel::initTarget(int32_t imageWidth, int32_t imageHeight, int32_t samples) {
  m_imageWidth = imageWidth;
  m_imageHeight = imageHeight;
  m_samples = samples;
  m_targetReady = imageWidth >= 1 && imageHeight >= 1 &&
                  m_target.init(static_cast<uint32_t>(imageWidth), static_cast<uint32_t>(imageHeight), samples);
  // The camera keeps (and saves) the size the context could make; its sample count is brought
  // down afresh on every start, so a file moved to a larger GPU keeps its own.
  if (imageWidth >= 1 && imageHeight >= 1) {
    m_imageWidth = static_cast<int32_t>(m_target.m_width);
    m_imageHeight = static_cast<int32_t>(m_target.m_height);
  }
  // A refused target may be left bound; nothing must draw into it.
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  return m_targetReady;
}

ModelElement* CameraModel::frame() const {
  return m_children.empty() ? nullptr : dynamic_cast<ModelElement*>(m_children[0].get());
}

ModelElement* CameraModel::player() const {
  return m_children.size() < 2 ? nullptr : dynamic_cast<ModelElement*>(m_children[1].get());
}

void CameraModel::createFrameGeometry(int projectionMode, float width, float nearZ, float farZ) {
  m_projectionMode = projectionMode;
  m_near = nearZ;
  m_far = farZ;
  m_width = width;
  m_height = m_imageWidth > 0 ? width * static_cast<float>(m_imageHeight) / static_cast<float>(m_imageWidth)
                              : width;
  const float w = m_width, h = m_height;
  computeProjectionMatrix(projectionMode != 0, w, h, nearZ, farZ, m_projection.data());

  // Near rectangle at z = 0, far rectangle scaled by f / n at z = -(f - n), first corner again.
  const float scale = farZ / nearZ, depth = -(farZ - nearZ);
  const Vec3f corners[4] = {{-w / 2, -h / 2, 0.0f}, {-w / 2, h / 2, 0.0f}, {w / 2, h / 2, 0.0f},
                            {w / 2, -h / 2, 0.0f}};
  Vec3f nearRect[5], farRect[5];
  for (int i = 0; i < 5; ++i) {
    nearRect[i] = corners[i % 4];
    farRect[i] = Vec3f(corners[i % 4][0] * scale, corners[i % 4][1] * scale, depth);
  }
  std::vector<float> lines;
  lines.reserve(72);
  auto segment = [&lines](const Vec3f& a, const Vec3f& b) {
    lines.insert(lines.end(), {a[0], a[1], a[2], b[0], b[1], b[2]});
  };
  for (int i = 0; i < 4; ++i) {
    segment(nearRect[i], nearRect[i + 1]);
    segment(farRect[i], farRect[i + 1]);
    segment(nearRect[i], farRect[i]);
  }

  if (!m_children.empty()) {
    if (ModelElement* lines3d = frame()) lines3d->updateGeometry(lines);
    return;
  }
  ModelElement* frameLines = new ModelElement("cameraFrame");
  frameLines->uploadGeometry(lines, 0, GL_LINES);
  frameLines->setColor(Vec4f(0.4f, 0.4f, 0.4f, 1.0f));
  addChild(frameLines);

  ModelElement* picture = new ModelElement("cameraPalyer");
  std::vector<float> quad;
  buildQuadVertices(quad, Vec4f(-w / 2, -h / 2, w, h), Vec4f(0.0f, 0.0f, 1.0f, 1.0f));
  picture->uploadGeometry(quad, 2, GL_TRIANGLES);
  picture->m_textures.addTexture(m_target.m_resolveColor, "_Diffuse_Map");
  addChild(picture);

  BoundingBox* box = new BoundingBox(m_name);
  box->m_min = Vec3f(-w / 2, -h / 2, -kBoxDepth);
  box->m_max = Vec3f(w / 2, h / 2, kBoxDepth);
  setAttached(box);
  updateTransform();
  box->buildGeometry();
}

void CameraModel::lookAt(const Vec3f& position, const Vec3f& direction) {
  Vec3f f = direction;
  normalizeVec3(f);
  Vec3f r(f[2], 0.0f, -f[0]);  // (0, 1, 0) x f
  // Straight up or down there is no horizontal right axis; x serves.
  if (!(length(r) > 1e-6)) r = Vec3f(1.0f, 0.0f, 0.0f);
  normalizeVec3(r);
  Vec3f u = cross(f, r);
  normalizeVec3(u);
  Matrix4& m = m_modelMatrix;
  const Vec3f columns[4] = {r, u, f, position};
  for (int c = 0; c < 4; ++c) {
    for (int row = 0; row < 3; ++row) m.at(row, c) = columns[c][row];
    m.at(3, c) = c == 3 ? 1.0f : 0.0f;
  }
  updateTransform();
}

void CameraModel::updateTransform() {
  ModelContainer::updateTransform();
  const Matrix4& m = m_modelMatrix;
  const Vec3f eye = transformPoint(m, Vec3f(0.0f, 0.0f, m_near));
  // Looking along the local -z with the local y up.
  const Vec3f forward = normalized(Vec3f(-m[8], -m[9], -m[10]));
  const Vec3f right = normalized(cross(forward, Vec3f(m[4], m[5], m[6])));
  const Vec3f up = cross(right, forward);
  m_view = viewFrom(right, up, Vec3f(-forward[0], -forward[1], -forward[2]), eye);
  multiplyMatrix4(m_projection, m_viewProjection, m_view);
  if (g_cameraManager && g_shaderManager && g_cameraManager->current() == this)
    g_shaderManager->setVisibleSpaceMatrix(m_viewProjection.data());
}

void CameraModel::render(const Matrix4& parent, const Matrix4& viewProjection) {
  setFlag2(true);
  if (m_attached) m_attached->render(parent, viewProjection);
  Matrix4 placed;
  multiplyMatrix4(parent, placed, m_modelMatrix);
  if (ModelElement* lines = frame(); lines && isSelected()) lines->render(placed, viewProjection);
  if (ModelElement* picture = player()) picture->render(placed, viewProjection);
}

void CameraModel::renderScreen(const Vec4f& rect) {
  auto screen = std::make_unique<ModelElement>("screen");
  std::vector<float> quad;
  buildQuadVertices(quad, rect, Vec4f(0.0f, 0.0f, 1.0f, 1.0f));
  screen->uploadGeometry(quad, 2, GL_TRIANGLES);
  screen->m_textures.addTexture(m_target.m_resolveColor, "_Diffuse_Map");
  m_screen = std::move(screen);  // frees an earlier screen
}

void CameraModel::toProto(quillax::Camera* message) const {
  message->set_name(m_name);
  message->set_projection_mode(m_projectionMode);
  message->set_camera_near(m_near);
  message->set_camera_far(m_far);
  message->set_camera_width(m_width);
  message->set_image_width(m_imageWidth);
  message->set_image_height(m_imageHeight);
  *message->mutable_background_color() = toColorMessage(m_background);
  message->set_render_sample(m_samples);
  message->set_render_mode(m_renderMode);
  message->set_render_depthasrenderbuffer(m_target.m_depthAsRenderbuffer ? 1 : 0);
  quillax::FloatList* transforms = message->mutable_transforms();
  transforms->clear_v();
  for (int i : {12, 13, 14, 8, 9, 10}) transforms->add_v(m_modelMatrix[i]);
}

void CameraModel::renderCapture(int32_t forced) {
  if (!m_targetReady || !g_shaderManager) return;
  glBindFramebuffer(GL_FRAMEBUFFER, m_target.m_framebuffer);
  glViewport(0, 0, m_imageWidth, m_imageHeight);
  glClearColor(m_background[0], m_background[1], m_background[2], 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  glEnable(GL_MULTISAMPLE);

  const int32_t program = forced >= -1 ? forced : m_renderMode;
  g_shaderManager->m_forced = program;
  if (program == kNormalCameraProgram) g_shaderManager->setViewMatrix(m_view.data());
  if (g_cameraManager && g_cameraManager->m_drawStrokes) g_cameraManager->m_drawStrokes(m_viewProjection);
  if (g_modeler) g_modeler->renderModels(m_viewProjection);

  g_shaderManager->m_forced = kNoForcedProgram;
  glBindFramebuffer(GL_FRAMEBUFFER, 0);
  glDisable(GL_MULTISAMPLE);
  m_target.resolve();
}

void CameraModel::followDrawingHand() {
  const float* hand = g_drawingHandMatrix;
  const Vec3f p(hand[0], hand[1], hand[2]), x(hand[3], hand[4], hand[5]), y(hand[6], hand[7], hand[8]),
      z(hand[9], hand[10], hand[11]);
  const Vec3f eye = p + y * (m_height / 2) + z * m_near;
  m_view = viewFrom(x, y, z, eye);
  multiplyMatrix4(m_projection, m_viewProjection, m_view);
}

// ---- CameraManager ----

CameraManager::~CameraManager() { clear(); }

void CameraManager::clear() {
  std::vector<CameraModel*> cameras;
  cameras.swap(m_cameras);
  m_current = -1;
  m_textures.clear();
  for (CameraModel* camera : cameras) delete camera;
}

CameraModel* CameraManager::current() const {
  if (m_current < 0 || m_current >= static_cast<int32_t>(m_cameras.size())) return nullptr;
  return m_cameras[static_cast<size_t>(m_current)];
}

int CameraManager::loadCameras(const std::string& path) {
  quillax::Cameras cameras;
  if (!ReadProtoFromTextFile(path.c_str(), &cameras)) {
    if (platform::pathExists(path)) {
      coutLine(path,
               " does not read as cameras; camera saving is off for this run, so it is not written "
               "over");
      m_savingEnabled = false;
    }
    return 0;
  }
  for (const quillax::Camera& camera : cameras.camera()) addCamera(new CameraModel(camera));
  selectCamera(0);
  return static_cast<int>(m_cameras.size());
}

bool CameraManager::saveCameras() {
  if (!m_savingEnabled) return false;
  quillax::Cameras cameras;
  for (const CameraModel* camera : m_cameras) camera->toProto(cameras.add_camera());
  return WriteProtoToTextFile(cameras, (g_parameters.asset_path() + "cameras.txt").c_str());
}

void fillNewCameraMessage(quillax::Camera* message, int32_t index, const Vec3f& eye,
                          const Vec3f& forward) {
  message->set_name("camera" + std::to_string(index));
  message->set_projection_mode(1);
  message->set_camera_near(toolNear());
  message->set_camera_far(toolFar());
  message->set_camera_width(kDefaultWidth);
  message->set_image_width(g_parameters.capture_image_width());
  message->set_image_height(g_parameters.capture_image_height());
  *message->mutable_background_color() = toColorMessage(Vec4f(0.0f, 0.0f, 0.0f, 1.0f));
  message->set_render_sample(g_parameters.multisample_size());
  message->set_render_mode(-1);
  message->set_render_depthasrenderbuffer(0);
  quillax::FloatList* transforms = message->mutable_transforms();
  for (int i = 0; i < 3; ++i) transforms->add_v(eye[i]);
  for (int i = 0; i < 3; ++i) transforms->add_v(forward[i]);
}

CameraModel* CameraManager::createCamera(const Vec3f& eye, const Vec3f& forward) {
  quillax::Camera message;
  fillNewCameraMessage(&message, static_cast<int32_t>(m_cameras.size()), eye, forward);
  CameraModel* camera = new CameraModel(message);
  addCamera(camera);
  return camera;
}

void CameraManager::addCamera(CameraModel* camera) {
  if (!camera) return;
  camera->m_index = static_cast<int32_t>(m_cameras.size());
  m_cameras.push_back(camera);
  selectCamera(m_current);
}

void CameraManager::selectCamera(int32_t index) {
  if (index < 0 || index >= static_cast<int32_t>(m_cameras.size()) || index == m_current) return;
  m_current = index;
  CameraModel* camera = m_cameras[static_cast<size_t>(index)];
  m_textures.clear();
  const std::string type = g_textureManager ? g_textureManager->typeName(kVisibleMapTextureType) : "";
  m_textures.addTexture(camera->m_target.m_resolveDepth, type.empty() ? "_Visible_Map" : type);
  if (g_shaderManager) g_shaderManager->setVisibleSpaceMatrix(camera->m_viewProjection.data());
}

void CameraManager::captureAll(const std::string& prefix) {
  if (CameraModel* camera = current()) camera->renderCapture(0);
  for (CameraModel* camera : m_cameras) {
    if (!camera->isRenderable()) continue;
    camera->renderCapture(kNoForcedProgram);
    if (prefix.empty() || !camera->m_targetReady) continue;
    saveFramebufferImage(prefix + "_" + camera->m_name + ".png", static_cast<uint32_t>(camera->m_imageWidth),
                         static_cast<uint32_t>(camera->m_imageHeight), camera->m_target.m_resolveFramebuffer);
  }
}
