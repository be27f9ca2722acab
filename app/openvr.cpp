#include "app/openvr.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <vector>

#include "app/application.h"
#include "app/dispatcher.h"
#include "app/ui_parts.h"
#include "core/events.h"
#include "core/geometry.h"
#include "core/settings.h"
#include "platform/system.h"
#include "render/camera.h"
#include "render/head_model.h"
#include "render/light.h"
#include "render/model_element.h"
#include "render/model_render.h"
#include "render/texture.h"
#include "render/modeler.h"
#include "strokes/hair_brusher.h"
#include "strokes/interactor.h"
#include "strokes/operator.h"
#include "ui/panel.h"
#include "ui/shooter.h"
#include "ui/uivr.h"

OpenVR* g_openVR = nullptr;

namespace {

constexpr uint32_t k_devices = vr::k_maxTrackedDeviceCount;

Matrix4 fromRowMajor44(const vr::Matrix44& p) {
  Matrix4 m;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m.at(r, c) = p.m[r][c];
  return m;
}

char classChar(vr::TrackedDeviceClass deviceClass) {
  switch (deviceClass) {
    case vr::TrackedDeviceClass_Invalid: return 'I';
    case vr::TrackedDeviceClass_HMD: return 'H';
    case vr::TrackedDeviceClass_Controller: return 'C';
    case vr::TrackedDeviceClass_TrackingReference: return 'T';
    default: return '?';
  }
}

bool sameNameIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// Asks again, 1 ms apart, while the runtime answers "loading", but no more than the bound: a
// model that never arrives counts as failed instead of holding the frame for ever.
template <typename Load>
vr::RenderModelError loadWithRetries(Load load) {
  vr::RenderModelError error = load();
  for (int tries = 1; error == vr::RenderModelError_Loading && tries < kRenderModelLoadingTries; ++tries) {
    platform::sleepMilliseconds(1);
    error = load();
  }
  return error;
}

// The sampler base name of the eye images (texture type 1).
std::string diffuseSampler() {
  const std::string name = g_textureManager ? g_textureManager->typeName(1) : std::string();
  return name.empty() ? std::string("_Diffuse_Map") : name;
}

}  // namespace

void buildLensMesh(vr::IVRSystem* system, int eye, std::vector<float>& vertices,
                   std::vector<uint32_t>& indices) {
  constexpr int n = 43;
  const float step = 1.0f / static_cast<float>(n - 1);
  vertices.clear();
  indices.clear();
  vertices.reserve(n * n * 9);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      const float u = static_cast<float>(j) * step, v = 1.0f - static_cast<float>(i) * step;
      vertices.insert(vertices.end(), {eye == 0 ? u - 1.0f : u, 2.0f * static_cast<float>(i) * step - 1.0f, 0.0f});
      vr::DistortionCoordinates d{{u, v}, {u, v}, {u, v}};
      if (system) system->computeDistortion(static_cast<vr::Eye>(eye), u, v, &d);
      for (const float* channel : {d.m_red, d.m_green, d.m_blue})
        vertices.insert(vertices.end(), {channel[0], 1.0f - channel[1]});
    }
  }
  for (int i = 0; i + 1 < n; ++i) {
    for (int j = 0; j + 1 < n; ++j) {
      const auto a = static_cast<uint32_t>(i * n + j), b = a + 1, c = a + n, d = c + 1;
      indices.insert(indices.end(), {a, b, d, a, d, c});
    }
  }
}

OpenVRContext::OpenVRContext() {
  std::fill(std::begin(m_deviceRenderModels), std::end(m_deviceRenderModels), -1);
}

OpenVRContext::~OpenVRContext() { std::printf("Shutdown\n"); }

ModelRender* OpenVRContext::deviceRenderModel(uint32_t device) const {
  if (device >= k_devices) return nullptr;
  const int model = m_deviceRenderModels[device];
  return model >= 0 ? m_renderModelList[static_cast<size_t>(model)].m_render : nullptr;
}

void OpenVRContext::buildLensView() {
  m_lens.reset(new ModelContainer("Lens"));
  m_screen.reset(new ModelContainer("screen"));
  const int locations[4] = {0, 1, 2, 3};
  const uint32_t sizes[4] = {3, 2, 2, 2};
  std::vector<float> vertices;
  std::vector<uint32_t> indices;
  for (int eye = 0; eye < 2; ++eye) {
    const GLuint image = (eye == 0 ? m_leftEye : m_rightEye).m_resolveColor;
    auto* lens = new ModelRender(eye == 0 ? "leftLen" : "rightLen");
    buildLensMesh(m_system, eye, vertices, indices);
    lens->uploadGeometry(vertices, 9, GL_TRIANGLES, &indices, locations, sizes, 4);
    lens->m_textures.addTexture(image, diffuseSampler());
    m_lens->addChild(lens);

    auto* screen = new ModelRender(eye == 0 ? "leftScreen" : "rightScreen");
    std::vector<float> quad;
    buildQuadVertices(quad, Vec4f(eye == 0 ? -1.0f : 0.0f, -1.0f, 1.0f, 2.0f), Vec4f(0.0f, 0.0f, 1.0f, 1.0f));
    screen->uploadGeometry(quad, 2, GL_TRIANGLES);
    screen->m_textures.addTexture(image, diffuseSampler());
    m_screen->addChild(screen);
  }
}

bool OpenVRContext::init() {
  vr::InitError error = vr::InitError_None;
  vr::initInternal(&error, vr::ApplicationType_Scene);
  if (error == vr::InitError_None && !vr::isInterfaceVersionValid(vr::k_systemVersion)) {
    vr::shutdownInternal();
    error = vr::InitError_InterfaceNotFound;
  }
  if (error != vr::InitError_None) {
    std::printf("Unable to init VR runtime: %s\n", vr::getInitErrorAsEnglishDescription(error));
    return false;
  }
  m_system = static_cast<vr::IVRSystem*>(vr::getGenericInterface(vr::k_systemVersion, &error));
  m_interfaceToken = vr::getInitToken();
  m_renderModels = static_cast<vr::IVRRenderModels*>(vr::getGenericInterface(vr::k_renderModelsVersion, &error));
  if (!m_system || !m_renderModels) {
    m_system = nullptr;
    m_renderModels = nullptr;
    vr::shutdownInternal();
    std::printf("Unable to get render model interface: %s\n", vr::getInitErrorAsEnglishDescription(error));
    return false;
  }

  m_nearClip = 0.1f;
  m_farClip = 1000.0f;
  for (int eye = 0; eye < 2; ++eye) {
    const auto which = static_cast<vr::Eye>(eye);
    m_projection[eye] = fromRowMajor44(m_system->getProjectionMatrix(which, m_nearClip, m_farClip));
    m_eyeToHead[eye] = toMatrix4(m_system->getEyeToHeadTransform(which));
    invertAffineMatrix4(m_eyeToHead[eye]);
  }

  uint32_t recommendedWidth = 0, recommendedHeight = 0;
  m_system->getRecommendedRenderTargetSize(&recommendedWidth, &recommendedHeight);
  const int samples = static_cast<int>(g_parameters.multisample_size());
  m_eyeTargetsReady = m_leftEye.init(recommendedWidth, recommendedHeight, samples) &&
                      m_rightEye.init(recommendedWidth, recommendedHeight, samples);
  // The targets may be smaller than recommended (the context's limits): the eyes are drawn, and
  // the shadow map sized, at the size made.
  m_renderWidth = m_leftEye.m_width;
  m_renderHeight = m_leftEye.m_height;
  setUiValueAt(VALUE_EYE_WIDTH, static_cast<float>(m_renderWidth));
  setUiValueAt(VALUE_EYE_HEIGHT, static_cast<float>(m_renderHeight));
  // An incomplete target cannot be drawn into: the eyes are then neither drawn nor submitted.
  if (!m_eyeTargetsReady) std::printf("The eye render targets could not be created\n");

  buildLensView();

  std::fill(std::begin(m_deviceRenderModels), std::end(m_deviceRenderModels), -1);
  for (uint32_t device = vr::k_trackedDeviceIndexHmd + 1; device < k_devices; ++device)
    if (m_system->isTrackedDeviceConnected(device)) setupRenderModelForTrackedDevice(device);

  if (!compositor()) {
    std::printf("Compositor initialization failed. See log file for details\n");
    return false;
  }
  return true;
}

vr::IVRCompositor* OpenVRContext::compositor() {
  if (!m_system) return nullptr;
  if (m_interfaceToken != vr::getInitToken() || !m_compositor) {
    vr::InitError error = vr::InitError_None;
    m_interfaceToken = vr::getInitToken();
    m_system = static_cast<vr::IVRSystem*>(vr::getGenericInterface(vr::k_systemVersion, &error));
    m_renderModels = static_cast<vr::IVRRenderModels*>(vr::getGenericInterface(vr::k_renderModelsVersion, &error));
    m_compositor = static_cast<vr::IVRCompositor*>(vr::getGenericInterface(vr::k_compositorVersion, &error));
  }
  return m_compositor;
}

vr::IVRRenderModels* OpenVRContext::renderModels() {
  if (m_system && m_interfaceToken != vr::getInitToken()) compositor();
  return m_renderModels;
}

void OpenVRContext::shutdown() {
  if (m_system) {
    vr::shutdownInternal();
    m_system = nullptr;
    m_compositor = nullptr;
    m_renderModels = nullptr;
  }
  for (LoadedRenderModel& model : m_renderModelList) delete model.m_render;
  m_renderModelList.clear();
  std::fill(std::begin(m_deviceRenderModels), std::end(m_deviceRenderModels), -1);
  // The debug output is switched off only when GL is loaded (a failed start-up may end before).
  if (glDebugMessageControl && glDebugMessageCallback) {
    glDebugMessageControl(GL_DONT_CARE, GL_DONT_CARE, GL_DONT_CARE, 0, nullptr, GL_FALSE);
    glDebugMessageCallback(nullptr, nullptr);
  }
  m_lens.reset();
  m_screen.reset();
}

void OpenVRContext::renderFrame() {
  glBindFramebuffer(GL_FRAMEBUFFER, m_desktopFramebuffer);
  glClearColor(1.0f, 1.0f, 1.0f, 1.0f);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (m_system && m_eyeTargetsReady) {
    preRender();
    for (int eye = 0; eye < 2; ++eye) {
      FramebufferMultiDesc& target = eye == 0 ? m_leftEye : m_rightEye;
      glClearColor(0.15f, 0.15f, 0.18f, 1.0f);
      glEnable(GL_MULTISAMPLE);
      glBindFramebuffer(GL_FRAMEBUFFER, target.m_framebuffer);
      glViewport(0, 0, static_cast<GLsizei>(m_renderWidth), static_cast<GLsizei>(m_renderHeight));
      renderScene(eye);
      glBindFramebuffer(GL_FRAMEBUFFER, m_desktopFramebuffer);
      glDisable(GL_MULTISAMPLE);
      target.resolve();
    }
    postRender();
    glBindFramebuffer(GL_FRAMEBUFFER, m_desktopFramebuffer);
    glDisable(GL_DEPTH_TEST);
    glViewport(0, 0, static_cast<GLsizei>(g_parameters.window_width()),
               static_cast<GLsizei>(g_parameters.window_height()));
    if (m_lens) m_lens->render(Matrix4(), Matrix4());
    if (vr::IVRCompositor* target = compositor()) {
      vr::Texture right;
      right.m_handle = m_rightEye.m_resolveColor;
      right.m_colorSpace = vr::ColorSpace_Gamma;
      target->submit(vr::Eye_Right, &right);
      vr::Texture left = right;
      left.m_handle = m_leftEye.m_resolveColor;
      target->submit(vr::Eye_Left, &left);
    }
  }
  updateHMDMatrixPose();
}

void OpenVRContext::renderScene(int) { glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT); }

void OpenVRContext::updateHMDMatrixPose() {
  vr::IVRCompositor* target = compositor();
  if (!target) return;
  target->waitGetPoses(m_poses, k_devices, nullptr, 0);
  m_validPoseCount = 0;
  m_poseClasses.clear();
  for (uint32_t device = 0; device < k_devices; ++device) {
    if (!m_poses[device].m_poseIsValid) continue;
    ++m_validPoseCount;
    m_deviceMatrices[device] = toMatrix4(m_poses[device].m_deviceToAbsoluteTracking);
    if (m_deviceClassChar[device] == 0) m_deviceClassChar[device] = classChar(m_system->getTrackedDeviceClass(device));
    m_poseClasses += m_deviceClassChar[device];
  }
  if (m_poses[vr::k_trackedDeviceIndexHmd].m_poseIsValid) {
    m_headPose = m_deviceMatrices[vr::k_trackedDeviceIndexHmd];
    // toMatrix4 gives every device matrix the last row (0, 0, 0, 1), so the fast inverse holds.
    invertAffineMatrix4(m_headPose);
  }
}

Matrix4 OpenVRContext::getCurrentViewProjectionMatrix(int eye) const {
  if (eye != 0 && eye != 1) return Matrix4();
  Matrix4 eyeView, result;
  multiplyMatrix4(m_eyeToHead[eye], eyeView, m_headPose);
  multiplyMatrix4(m_projection[eye], result, eyeView);
  return result;
}

bool OpenVRContext::processVREvent(const vr::Event& event) {
  const uint32_t device = event.m_trackedDeviceIndex;
  switch (event.m_eventType) {
    case vr::Event_TrackedDeviceActivated:
      setupRenderModelForTrackedDevice(device);
      std::printf("Device %u attached. Setting up render model.\n", device);
      return true;
    case vr::Event_TrackedDeviceDeactivated:
      std::printf("Device %u detached.\n", device);
      return true;
    case vr::Event_TrackedDeviceUpdated:
      std::printf("Device %u updated.\n", device);
      return true;
    default:
      return false;
  }
}

void OpenVRContext::setupRenderModelForTrackedDevice(uint32_t device) {
  if (device >= k_devices || !m_system) return;
  const std::string name = getTrackedDeviceString(device, vr::Prop_RenderModelName_String);
  const int model = findOrLoadRenderModel(name);
  if (model < 0) {
    const std::string system = getTrackedDeviceString(device, vr::Prop_TrackingSystemName_String);
    std::printf("Unable to load render model for tracked device %d (%s.%s)\n", static_cast<int>(device),
                system.c_str(), name.c_str());
    return;
  }
  m_deviceRenderModels[device] = model;
  m_hasRenderModel[device] = true;
}

int OpenVRContext::findOrLoadRenderModel(const std::string& name) {
  for (size_t i = 0; i < m_renderModelList.size(); ++i)
    if (sameNameIgnoringCase(m_renderModelList[i].m_name, name)) return static_cast<int>(i);
  vr::IVRRenderModels* models = renderModels();
  if (!models) return -1;

  vr::RenderModel* model = nullptr;
  vr::RenderModelError error = loadWithRetries([&] { return models->loadRenderModelAsync(name.c_str(), &model); });
  if (error != vr::RenderModelError_None || !model) {
    std::printf("Unable to load render model %s - %s\n", name.c_str(), models->getRenderModelErrorNameFromEnum(error));
    return -1;
  }
  vr::RenderModelTexture* texture = nullptr;
  error = loadWithRetries([&] { return models->loadTextureAsync(model->m_diffuseTextureId, &texture); });
  if (error != vr::RenderModelError_None || !texture) {
    std::printf("Unable to load render texture id:%d for render model %s\n", model->m_diffuseTextureId, name.c_str());
    models->freeRenderModel(model);
    return -1;
  }
  auto* render = new ModelRender(name);
  const bool built = render->setupRenderModel(*model, *texture);
  models->freeRenderModel(model);
  models->freeTexture(texture);
  if (!built) {
    std::printf("Unable to create GL model from render model %s\n", name.c_str());
    delete render;
    return -1;
  }
  LoadedRenderModel loaded;
  loaded.m_name = name;
  loaded.m_render = render;
  m_renderModelList.push_back(loaded);
  return static_cast<int>(m_renderModelList.size() - 1);
}

std::string OpenVRContext::getTrackedDeviceString(uint32_t device, vr::TrackedDeviceProperty property) {
  if (!m_system) return std::string();
  vr::TrackedPropertyError error = vr::TrackedProp_Success;
  const uint32_t length = m_system->getStringTrackedDeviceProperty(device, property, nullptr, 0, &error);
  if (length == 0) return std::string();
  std::vector<char> buffer(length + 1, '\0');
  m_system->getStringTrackedDeviceProperty(device, property, buffer.data(), length, &error);
  return std::string(buffer.data());
}

// ---------------------------------------------------------------------------------------------

OpenVR::OpenVR() = default;
OpenVR::~OpenVR() = default;

void OpenVR::updateDeviceMatrix(const Matrix4& device, float out[12]) {
  const Vec3f position = transformPoint(device, Vec3f(0.0f, 0.0f, -0.05f));
  for (int k = 0; k < 3; ++k) out[k] = position[k];
  for (int axis = 0; axis < 3; ++axis) {
    Vec3f direction(0.0f, 0.0f, 0.0f);
    direction[axis] = 0.05f;
    const Vec3f d = normalized(transformDirection(device, direction));
    for (int k = 0; k < 3; ++k) out[3 + axis * 3 + k] = d[k];
  }
}

bool OpenVR::poseValid(int device) const {
  return device >= 0 && device < static_cast<int>(k_devices) && m_poses[device].m_poseIsValid;
}

bool OpenVR::processVREvent(const vr::Event& event) {
  const bool handled = OpenVRContext::processVREvent(event);
  // A device index outside the slots names nothing this object tracks.
  if (event.m_trackedDeviceIndex >= k_devices) return handled;
  const int device = static_cast<int>(event.m_trackedDeviceIndex);
  const bool drawing = device == m_drawingHand;
  const bool other = device == m_otherHand;
  float x = 0, y = 0;
  switch (event.m_eventType) {
    case vr::Event_TrackedDeviceActivated:
      assignRole(event.m_trackedDeviceIndex);
      return true;
    case vr::Event_TrackedDeviceDeactivated:
      if (drawing) m_drawingHand = -1;
      if (other) m_otherHand = -1;
      return true;
    case vr::Event_ButtonPress:
      if (drawing) {
        std::printf("%u\n", event.m_button);
        if (event.m_button == vr::Button_ApplicationMenu || event.m_button == vr::Button_Grip) {
          postEvent(new EventRecord(EVENT_SETTING, SETTING_HINT));
        } else if (event.m_button == vr::Button_Trigger) {
          pressTrigger();
        } else if (event.m_button == vr::Button_Touchpad) {
          m_drawingHandSwipe = -1;
          if (readTouchpad(device, &x, &y) && std::fabs(x) > 0.3f && g_operator) {
            const int times = flagOn(FLAG_OTHER_TRIGGER) ? 10 : 1;
            for (int i = 0; i < times; ++i) {
              if (x < 0.0f)
                g_operator->undo(nullptr);
              else
                g_operator->redo();
            }
          }
        }
      } else if (other) {
        if (event.m_button == vr::Button_Trigger) {
          setFlagBit(FLAG_OTHER_TRIGGER, true);
        } else if (event.m_button == vr::Button_Touchpad) {
          m_otherHandSwipe = -1;
          if (readTouchpad(device, &x, &y) && std::fabs(x) > 0.3f && g_operator)
            g_operator->onKey(x < 0.0f ? '<' : '>');
        }
      }
      return true;
    case vr::Event_ButtonUnpress:
      if (drawing) {
        if (event.m_button == vr::Button_Trigger) {
          if (Panel* panel = menuPanel())
            if (panel->isSelected()) panel->release();
          if (g_operator && g_operator->engaged()) g_operator->release(g_drawingHandMatrix, g_otherHandMatrix);
        } else if (event.m_button == vr::Button_Touchpad) {
          m_drawingHandSwipe = -1;
        }
      } else if (other) {
        if (event.m_button == vr::Button_Trigger) {
          setFlagBit(FLAG_OTHER_TRIGGER, false);
        } else if (event.m_button == vr::Button_Touchpad) {
          m_otherHandSwipe = -1;
        }
      }
      return true;
    case vr::Event_ButtonTouch:
      m_drawingHandSwipe = -1;
      m_otherHandSwipe = -1;
      if ((drawing || other) && readTouchpad(device, &x, &y)) (drawing ? m_drawingHandSwipe : m_otherHandSwipe) = 0;
      return true;
    case vr::Event_ButtonUntouch:
      m_drawingHandSwipe = -1;
      m_otherHandSwipe = -1;
      return true;
    default:
      return handled;
  }
}

void OpenVR::pressTrigger() {
  Panel* panel = menuPanel();
  if (panel && !panel->isSelected()) {
    // A press over a widget belongs to the menu; the tool sees only presses that miss it.
    panel->m_pressed = panel->m_hovered;
    if (panel->m_pressed) panel->m_pressed->drag(panel->m_hitU, panel->m_hitV, 0);
    panel->setSelected(panel->m_pressed != nullptr);
    if (panel->isSelected()) return;
  }
  if (g_operator) g_operator->press(g_drawingHandMatrix, g_otherHandMatrix);
}

void OpenVR::preRender() {
  m_otherHandTracked = false;
  m_drawingHandTracked = false;
  for (uint32_t device = 0; device < k_devices; ++device) {
    if (!m_hasRenderModel[device] || !m_poses[device].m_poseIsValid || !m_poses[device].m_deviceIsConnected) continue;
    if (m_system->getTrackedDeviceClass(device) != vr::TrackedDeviceClass_Controller) continue;
    assignRole(device);
    const int index = static_cast<int>(device);
    if (index == m_otherHand) {
      m_otherHandTracked = true;
      m_otherHandMatrix = m_deviceMatrices[device];
      updateDeviceMatrix(m_otherHandMatrix, g_otherHandMatrix);
    } else if (index == m_drawingHand) {
      m_drawingHandTracked = true;
      m_drawingHandMatrix = m_deviceMatrices[device];
      updateDeviceMatrix(m_drawingHandMatrix, g_drawingHandMatrix);
    }
  }
  updateDeviceMatrix(m_deviceMatrices[vr::k_trackedDeviceIndexHmd], g_headMatrix);
  if (g_lightManager) {
    const std::vector<LightModel*>& lights = g_lightManager->m_lights;
    for (auto light = lights.rbegin(); light != lights.rend(); ++light)
      if (*light && (*light)->isRenderable()) (*light)->renderShadowMap();
  }
  if (g_cameraManager) {
    g_cameraManager->captureAll(std::string());
    Shooter* shooter = toolGeometry();
    CameraModel* preview = shooter ? shooter->toolCamera() : nullptr;
    if (preview && updateCurrentToolId() == TOOL_CAMERA) {
      preview->followDrawingHand();
      preview->renderCapture(-2);
    }
  }
}

void OpenVR::renderScene(int eye) {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glEnable(GL_DEPTH_TEST);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
  Matrix4 viewProjection = getCurrentViewProjectionMatrix(eye);
  for (uint32_t device = 0; device < k_devices; ++device) {
    if (!m_poses[device].m_poseIsValid || !m_poses[device].m_deviceIsConnected) continue;
    if (m_system->getTrackedDeviceClass(device) != vr::TrackedDeviceClass_Controller) continue;
    // A controller whose model failed to load is still used, just not drawn.
    if (ModelRender* model = deviceRenderModel(device)) model->render(m_deviceMatrices[device], viewProjection);
  }
  if (Panel* panel = menuPanel(); panel && panel->isVisible()) {
    Matrix4 held;
    multiplyMatrix4(viewProjection, held, m_otherHandMatrix);
    panel->render(held);
  }
  if (Shooter* shooter = toolGeometry(); shooter && shooter->isVisible())
    shooter->render(m_drawingHandMatrix, viewProjection);
  multiplyMatrix4(viewProjection, viewProjection, sceneView());
  HeadModel* head = findHeadModel();
  if (g_operator) g_operator->drawTools(viewProjection);
  if (g_modeler) g_modeler->renderModels(viewProjection);
  if (g_lightManager)
    for (LightModel* light : g_lightManager->m_lights)
      if (light && light->isRenderable()) light->render(Matrix4(), viewProjection);
  if (g_cameraManager)
    for (CameraModel* camera : g_cameraManager->m_cameras)
      if (camera && camera->isRenderable()) camera->render(Matrix4(), viewProjection);
  if (g_hairBrusher) g_hairBrusher->drawSuggestion(viewProjection);
  if (head && head->m_mirror && head->m_mirror->isRenderable())
    head->m_mirror->render(g_modeler->sceneGrabMatrix(), viewProjection);
}

Matrix4 OpenVR::sceneView() const {
  if (findHeadModel() && flagOn(FLAG_VIEW_TRANSFORM))
    return m_deviceMatrices[vr::k_trackedDeviceIndexHmd];
  return Matrix4();
}

bool OpenVR::handleInput() {
  if (m_system) {
    vr::Event event;
    while (m_system->pollNextEvent(&event, sizeof event)) processVREvent(event);
  }
  updateCurrentToolId();
  if (m_drawingHand >= 0 && m_drawingHand < static_cast<int>(k_devices) && poseValid(m_drawingHand)) {
    if (g_operator && g_operator->engaged()) {
      g_operator->move(g_drawingHandMatrix, g_otherHandMatrix);
    } else if (g_uivr) {
      if (g_uivr->m_panel) g_uivr->m_panel->setVisible(m_otherHandTracked);
      if (g_uivr->m_shooter) g_uivr->m_shooter->setVisible(m_drawingHandTracked);
      g_uivr->m_sceneView = sceneView();  // the head stops the ray where it is drawn
      g_uivr->update(m_otherHandMatrix, m_drawingHandMatrix);
    }
    Panel* panel = menuPanel();
    if (panel && panel->isSelected() && panel->m_pressed && panel->m_pressed == panel->m_hovered)
      panel->m_pressed->drag(panel->m_hitU, panel->m_hitV, 1);
  }
  swipeDrawingHand();
  swipeOtherHand();
  int32_t* current = modeStateSlot(STATE_CURRENT_TOOL);
  int32_t* previous = modeStateSlot(STATE_PREVIOUS_TOOL);
  if (current && previous && *current != *previous) {
    const int left = *previous;
    *previous = *current;
    if (g_operator) {
      if (Interactor* tool = g_operator->getTool(left)) tool->deactivate();
      if (Interactor* tool = g_operator->getTool(*current)) tool->activate();
    }
  }
  if (g_modeler) g_modeler->grabNearest();
  dispatchEvents();
  autosaveTick();
  if (m_system) {
    vr::ControllerState state;
    for (uint32_t device = 0; device < k_devices; ++device)
      if (m_system->getControllerState(device, &state, sizeof state)) m_hasRenderModel[device] = true;
  }
  return true;
}
