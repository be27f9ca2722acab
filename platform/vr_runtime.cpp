#include "platform/vr_runtime.h"

#define GL_GLEXT_PROTOTYPES
#include <GL/gl.h>
#include <GL/glext.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/image_file.h"
#include "platform/vr_trace.h"

namespace vr {
namespace {

// A box standing in for a device's render model, sized by its class and centred on `centre`.
struct OwnedRenderModel : RenderModel {
  std::vector<RenderModelVertex> m_vertices;
  std::vector<uint16_t> m_indices;
};

struct OwnedTexture : RenderModelTexture {
  std::vector<uint8_t> m_pixels;
};

OwnedRenderModel* buildBox(float sx, float sy, float sz, TextureId texture,
                           const float centre[3] = nullptr) {
  auto* model = new OwnedRenderModel();
  const float half[3] = {sx / 2, sy / 2, sz / 2};
  for (int axis = 0; axis < 3; ++axis) {
    for (int sign = -1; sign <= 1; sign += 2) {
      const int u = (axis + 1) % 3, v = (axis + 2) % 3;
      const auto base = static_cast<uint16_t>(model->m_vertices.size());
      for (int corner = 0; corner < 4; ++corner) {
        RenderModelVertex vertex{};
        const float cu = (corner == 1 || corner == 2) ? 1.0f : -1.0f;
        const float cv = (corner >= 2) ? 1.0f : -1.0f;
        vertex.m_position.v[axis] = sign * half[axis];
        vertex.m_position.v[u] = cu * half[u] * sign;
        vertex.m_position.v[v] = cv * half[v];
        if (centre)
          for (int k = 0; k < 3; ++k) vertex.m_position.v[k] += centre[k];
        vertex.m_normal.v[axis] = float(sign);
        vertex.m_textureCoord[0] = (cu + 1) / 2;
        vertex.m_textureCoord[1] = (cv + 1) / 2;
        model->m_vertices.push_back(vertex);
      }
      const uint16_t quad[6] = {0, 1, 2, 0, 2, 3};
      for (uint16_t index : quad) model->m_indices.push_back(static_cast<uint16_t>(base + index));
    }
  }
  model->m_vertexData = model->m_vertices.data();
  model->m_vertexCount = static_cast<uint32_t>(model->m_vertices.size());
  model->m_indexData = model->m_indices.data();
  model->m_triangleCount = static_cast<uint32_t>(model->m_indices.size() / 3);
  model->m_diffuseTextureId = texture;
  return model;
}

void writeImage(const std::string& path, const std::vector<unsigned char>& pixels, int width, int height) {
  if (!platform::writeBottomUpImage(path, width, height, pixels.data(), "VR trace snapshot " + path))
    std::printf("VR trace snapshot %s could not be written\n", path.c_str());
}

// The eye image the compositor was handed, read back from its texture.
void snapshotTexture(GLuint texture, const std::string& path) {
  GLint previousTexture = 0, previousAlignment = 4, previousPackBuffer = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &previousTexture);
  glGetIntegerv(GL_PACK_ALIGNMENT, &previousAlignment);
  glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &previousPackBuffer);
  glBindTexture(GL_TEXTURE_2D, texture);
  GLint width = 0, height = 0;
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &width);
  glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &height);
  if (width > 0 && height > 0) {
    std::vector<unsigned char> pixels(size_t(width) * size_t(height) * 3);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_BGR, GL_UNSIGNED_BYTE, pixels.data());
    writeImage(path, pixels, width, height);
  } else {
    std::printf("VR trace snapshot %s: the eye texture is empty\n", path.c_str());
  }
  glPixelStorei(GL_PACK_ALIGNMENT, previousAlignment);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(previousPackBuffer));
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previousTexture));
}

void snapshotWindow(int width, int height, const std::string& path) {
  if (width <= 0 || height <= 0) return;
  GLint previousRead = 0, previousBuffer = GL_BACK, previousAlignment = 4, previousPackBuffer = 0;
  glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &previousRead);
  glGetIntegerv(GL_PACK_ALIGNMENT, &previousAlignment);
  glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &previousPackBuffer);
  glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
  glGetIntegerv(GL_READ_BUFFER, &previousBuffer);
  glReadBuffer(GL_BACK);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  std::vector<unsigned char> pixels(size_t(width) * size_t(height) * 3);
  glReadPixels(0, 0, width, height, GL_BGR, GL_UNSIGNED_BYTE, pixels.data());
  writeImage(path, pixels, width, height);
  glReadBuffer(static_cast<GLenum>(previousBuffer));
  glPixelStorei(GL_PACK_ALIGNMENT, previousAlignment);
  glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(previousPackBuffer));
  glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(previousRead));
}

class SimulatedHeadset final : public IVRSystem, public IVRCompositor, public IVRRenderModels {
 public:
  explicit SimulatedHeadset(Trace trace) : m_player(std::move(trace)) {
    for (const TraceDevice& device : m_player.trace().m_devices) {
      // The first device naming a model decides how it loads.
      if (m_models.count(device.m_model)) continue;
      ModelInfo& info = m_models[device.m_model];
      info.m_loadingLeft = device.m_loadingAnswers;
      info.m_fail = device.m_modelFail;
      info.m_textureId = static_cast<TextureId>(m_models.size());
      info.m_class = device.m_class;
    }
  }

  TracePlayer& player() { return m_player; }

  void getRecommendedRenderTargetSize(uint32_t* width, uint32_t* height) override {
    if (width) *width = m_player.trace().m_renderWidth;
    if (height) *height = m_player.trace().m_renderHeight;
  }

  Matrix44 getProjectionMatrix(Eye, float nearZ, float farZ) override {
    const Trace& t = m_player.trace();
    const float tanX = std::tan(t.m_fovDegrees * 3.14159265f / 360.0f);
    const float tanY = tanX * float(t.m_renderHeight) / float(t.m_renderWidth);
    Matrix44 p{};
    p.m[0][0] = 1.0f / tanX;
    p.m[1][1] = 1.0f / tanY;
    p.m[2][2] = -(farZ + nearZ) / (farZ - nearZ);
    p.m[2][3] = -2.0f * farZ * nearZ / (farZ - nearZ);
    p.m[3][2] = -1.0f;
    return p;
  }

  bool computeDistortion(Eye, float u, float v, DistortionCoordinates* out) override {
    if (!out) return false;
    // The simulated lenses do not distort.
    for (float* channel : {out->m_red, out->m_green, out->m_blue}) {
      channel[0] = u;
      channel[1] = v;
    }
    return true;
  }

  Matrix34 getEyeToHeadTransform(Eye eye) override {
    Matrix34 m{};
    m.m[0][0] = m.m[1][1] = m.m[2][2] = 1.0f;
    m.m[0][3] = (eye == Eye_Left ? -0.5f : 0.5f) * m_player.trace().m_ipd;
    return m;
  }

  bool isTrackedDeviceConnected(uint32_t device) override {
    return device < k_maxTrackedDeviceCount && m_player.device(device).m_connected;
  }

  TrackedDeviceClass getTrackedDeviceClass(uint32_t device) override {
    const TraceDevice* declared = m_player.trace().findDevice(device);
    return declared ? declared->m_class : TrackedDeviceClass_Invalid;
  }

  uint32_t getStringTrackedDeviceProperty(uint32_t device, TrackedDeviceProperty prop, char* buffer,
                                          uint32_t bufferSize, TrackedPropertyError* error) override {
    const TraceDevice* declared = m_player.trace().findDevice(device);
    std::string text;
    TrackedPropertyError result = TrackedProp_Success;
    if (!declared) {
      result = TrackedProp_InvalidDevice;
    } else if (prop == Prop_TrackingSystemName_String) {
      text = "tresslet_sim";
    } else if (prop == Prop_RenderModelName_String) {
      text = declared->m_model;
    } else {
      result = TrackedProp_UnknownProperty;
    }
    if (buffer && bufferSize > 0) buffer[0] = '\0';
    if (result != TrackedProp_Success) {
      if (error) *error = result;
      return 0;
    }
    const auto needed = static_cast<uint32_t>(text.size() + 1);
    if (buffer && bufferSize >= needed) {
      std::memcpy(buffer, text.c_str(), needed);
    } else {
      result = TrackedProp_BufferTooSmall;
    }
    if (error) *error = result;
    return needed;
  }

  bool pollNextEvent(Event* event, uint32_t eventSize) override {
    if (!event || eventSize < sizeof(Event)) return false;
    return m_player.pollEvent(event);
  }

  bool getControllerState(uint32_t device, ControllerState* state, uint32_t stateSize) override {
    if (!state || stateSize < sizeof(ControllerState) || device >= k_maxTrackedDeviceCount) return false;
    if (getTrackedDeviceClass(device) != TrackedDeviceClass_Controller) return false;
    const DeviceState& now = m_player.device(device);
    if (!now.m_connected || now.m_stateFail) return false;
    *state = ControllerState();
    state->m_packetNum = static_cast<uint32_t>(m_player.frame() + 1);
    state->m_buttonPressed = now.m_pressed;
    state->m_buttonTouched = now.m_touched;
    state->m_axis[0].x = now.m_axis[0];
    state->m_axis[0].y = now.m_axis[1];
    state->m_axis[1].x = (now.m_pressed & buttonMaskFromId(Button_Trigger)) ? 1.0f : 0.0f;
    return true;
  }

  CompositorError waitGetPoses(TrackedDevicePose* renderPoses, uint32_t renderPoseCount,
                               TrackedDevicePose* gamePoses, uint32_t gamePoseCount) override;

  CompositorError submit(Eye eye, const Texture* texture) override {
    if (!texture || texture->m_handle == 0 || texture->m_type != TextureType_OpenGL)
      return CompositorError_InvalidTexture;
    const SnapshotTarget target = eye == Eye_Left ? SnapshotTarget::Left : SnapshotTarget::Right;
    takeSnapshots(target, m_player.frame(), [&](const std::string& path) {
      snapshotTexture(static_cast<GLuint>(texture->m_handle), path);
    });
    return CompositorError_None;
  }

  void desktopFrame(int width, int height) {
    // The window shows the frame rendered before the last wait for poses.
    takeSnapshots(SnapshotTarget::Desktop, m_player.frame() - 1,
                  [&](const std::string& path) { snapshotWindow(width, height, path); });
  }

  RenderModelError loadRenderModelAsync(const char* name, RenderModel** model) override {
    if (!name || !model) return RenderModelError_InvalidArg;
    *model = nullptr;
    auto found = m_models.find(name);
    if (found == m_models.end() || found->second.m_fail) return RenderModelError_InvalidModel;
    ModelInfo& info = found->second;
    if (info.m_loadingLeft > 0) {
      --info.m_loadingLeft;
      return RenderModelError_Loading;
    }
    switch (info.m_class) {
      case TrackedDeviceClass_HMD: *model = buildBox(0.18f, 0.10f, 0.10f, info.m_textureId); break;
      case TrackedDeviceClass_Controller: {
        // The handle lies behind the tracked point and below its plane, so what the program
        // draws in front of the hand and just above it (the tool's card and icon) stays in view.
        const float handle[3] = {0.0f, -0.013f, 0.07f};
        *model = buildBox(0.035f, 0.025f, 0.13f, info.m_textureId, handle);
        break;
      }
      default: *model = buildBox(0.06f, 0.06f, 0.06f, info.m_textureId); break;
    }
    return RenderModelError_None;
  }

  RenderModelError loadTextureAsync(TextureId id, RenderModelTexture** texture) override {
    if (!texture) return RenderModelError_InvalidArg;
    *texture = nullptr;
    if (id <= 0 || id > static_cast<TextureId>(m_models.size())) return RenderModelError_InvalidTexture;
    auto* owned = new OwnedTexture();
    owned->m_width = 2;
    owned->m_height = 2;
    // Greys that tell the devices apart a little.
    const auto grey = static_cast<uint8_t>(96 + (id * 37) % 128);
    owned->m_pixels.assign(2 * 2 * 4, grey);
    for (int i = 3; i < 16; i += 4) owned->m_pixels[i] = 255;
    owned->m_data = owned->m_pixels.data();
    *texture = owned;
    return RenderModelError_None;
  }

  void freeRenderModel(RenderModel* model) override { delete static_cast<OwnedRenderModel*>(model); }
  void freeTexture(RenderModelTexture* texture) override { delete static_cast<OwnedTexture*>(texture); }

  const char* getRenderModelErrorNameFromEnum(RenderModelError error) override {
    switch (error) {
      case RenderModelError_None: return "RenderModelError_None";
      case RenderModelError_Loading: return "RenderModelError_Loading";
      case RenderModelError_InvalidArg: return "RenderModelError_InvalidArg";
      case RenderModelError_InvalidModel: return "RenderModelError_InvalidModel";
      case RenderModelError_InvalidTexture: return "RenderModelError_InvalidTexture";
    }
    return "RenderModelError_Unknown";
  }

 private:
  struct ModelInfo {
    int m_loadingLeft = 0;
    bool m_fail = false;
    TextureId m_textureId = 0;
    TrackedDeviceClass m_class = TrackedDeviceClass_Invalid;
  };

  // Writes, oldest first, and drops every pending snapshot of target due by lastFrame.
  template <typename Write>
  void takeSnapshots(SnapshotTarget target, int lastFrame, Write write) {
    std::vector<PendingSnapshot>& pending = m_player.snapshots();
    for (auto it = pending.begin(); it != pending.end();) {
      if (it->m_target == target && it->m_frame <= lastFrame) {
        write(it->m_path);
        it = pending.erase(it);
      } else {
        ++it;
      }
    }
  }

  TracePlayer m_player;
  std::map<std::string, ModelInfo> m_models;
};

std::unique_ptr<SimulatedHeadset> g_headset;
uint32_t g_initToken = 0;
bool g_closeRequested = false;
bool g_startedVirtualClock = false;

CompositorError SimulatedHeadset::waitGetPoses(TrackedDevicePose* renderPoses, uint32_t renderPoseCount,
                                               TrackedDevicePose* gamePoses, uint32_t gamePoseCount) {
  m_player.advance();
  if (m_player.trace().m_frameMs > 0) platform::advanceVirtualClock(m_player.trace().m_frameMs);
  // Close once the close frame's poses have been rendered and submitted, one frame later.
  if (m_player.closeFrame() >= 0 && m_player.frame() > m_player.closeFrame()) g_closeRequested = true;
  for (TrackedDevicePose* poses : {renderPoses, gamePoses}) {
    const uint32_t count = poses == renderPoses ? renderPoseCount : gamePoseCount;
    if (!poses) continue;
    for (uint32_t i = 0; i < count && i < k_maxTrackedDeviceCount; ++i) {
      const DeviceState& state = m_player.device(i);
      TrackedDevicePose pose{};
      pose.m_deviceIsConnected = state.m_connected;
      pose.m_poseIsValid = state.m_connected && state.m_hasPose && state.m_valid;
      pose.m_deviceToAbsoluteTracking = poseToMatrix(state.m_position, state.m_rotation);
      poses[i] = pose;
    }
  }
  return CompositorError_None;
}

}  // namespace

uint32_t initInternal(InitError* error, ApplicationType) {
  InitError result = InitError_None;
  const char* path = std::getenv("TRESSLET_VR_TRACE");
  Trace trace;
  if (g_headset) {
    result = InitError_AlreadyRunning;
  } else if (!path || !*path) {
    result = InitError_NoRuntime;
  } else if (!loadTraceFile(path, &trace)) {
    result = InitError_TraceUnreadable;
  } else if (trace.m_initFail == TraceInitFail::Code) {
    result = static_cast<InitError>(trace.m_initFailCode);
  } else if (!trace.findDevice(k_trackedDeviceIndexHmd)) {
    result = InitError_HmdNotFound;
  }
  if (error) *error = result;
  if (result != InitError_None) return 0;

  const uint32_t frameMs = trace.m_frameMs;
  g_headset = std::make_unique<SimulatedHeadset>(std::move(trace));
  g_closeRequested = false;
  g_startedVirtualClock = frameMs > 0 && !platform::isVirtualClock();
  if (g_startedVirtualClock) platform::useVirtualClock();
  return ++g_initToken;
}

void shutdownInternal() {
  if (!g_headset) return;
  g_headset.reset();
  if (g_startedVirtualClock) platform::useRealClock();
  g_startedVirtualClock = false;
  ++g_initToken;
}

bool isInterfaceVersionValid(const char* version) {
  if (!version) return false;
  return std::strcmp(version, k_systemVersion) == 0 || std::strcmp(version, k_compositorVersion) == 0 ||
         std::strcmp(version, k_renderModelsVersion) == 0;
}

void* getGenericInterface(const char* version, InitError* error) {
  InitError result = InitError_None;
  void* found = nullptr;
  if (!g_headset) {
    result = InitError_NotInitialized;
  } else if (!isInterfaceVersionValid(version)) {
    result = InitError_InterfaceNotFound;
  } else {
    const TraceInitFail fail = g_headset->player().trace().m_initFail;
    if (std::strcmp(version, k_systemVersion) == 0) {
      found = static_cast<IVRSystem*>(g_headset.get());
    } else if (std::strcmp(version, k_compositorVersion) == 0) {
      if (fail != TraceInitFail::NoCompositor) found = static_cast<IVRCompositor*>(g_headset.get());
    } else if (fail != TraceInitFail::NoRenderModels) {
      found = static_cast<IVRRenderModels*>(g_headset.get());
    }
    if (!found) result = InitError_InterfaceNotFound;
  }
  if (error) *error = result;
  return found;
}

uint32_t getInitToken() { return g_initToken; }

const char* getInitErrorAsEnglishDescription(InitError error) {
  switch (error) {
    case InitError_None: return "No Error (0)";
    case InitError_Unknown: return "Unknown Error (1)";
    case InitError_NotInitialized: return "The VR runtime is not running (2)";
    case InitError_NoRuntime: return "No headset: TRESSLET_VR_TRACE is not set (100)";
    case InitError_TraceUnreadable: return "The VR trace could not be read (101)";
    case InitError_InterfaceNotFound: return "Interface Not Found (105)";
    case InitError_HmdNotFound: return "Headset Not Found (108)";
    case InitError_AlreadyRunning: return "The VR runtime is already running (110)";
  }
  static thread_local std::string text;
  text = "Init Error (" + std::to_string(static_cast<int>(error)) + ")";
  return text.c_str();
}

bool closeRequested() { return g_closeRequested; }

void onDesktopFrame(int width, int height) {
  if (g_headset) g_headset->desktopFrame(width, height);
}

}  // namespace vr
