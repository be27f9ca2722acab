#pragma once
#include <cstdint>

// The VR runtime seam: the calls, types and constants the VR binding uses, and nothing more.
// Its one backend is a simulated headset replayed from the trace file named by the environment
// variable TRESSLET_VR_TRACE (format in platform/VR_TRACE.md). Without that variable the runtime
// reports that no headset is present. Main thread only; the backend starts no thread.
namespace vr {

constexpr uint32_t k_maxTrackedDeviceCount = 64;
constexpr uint32_t k_trackedDeviceIndexHmd = 0;
constexpr uint32_t k_trackedDeviceIndexInvalid = 0xFFFFFFFFu;

// Interface version names accepted by getGenericInterface.
constexpr const char* k_systemVersion = "IVRSystem_017";
constexpr const char* k_compositorVersion = "IVRCompositor_022";
constexpr const char* k_renderModelsVersion = "IVRRenderModels_005";

enum InitError : int32_t {
  InitError_None = 0,
  InitError_Unknown = 1,
  InitError_NotInitialized = 2,
  InitError_NoRuntime = 100,         // no trace named: no headset on this machine
  InitError_TraceUnreadable = 101,   // the trace is missing or has a bad line
  InitError_HmdNotFound = 108,       // the trace declares no headset at index 0
  InitError_InterfaceNotFound = 105, // an interface name this runtime does not offer
  InitError_AlreadyRunning = 110,
};

enum ApplicationType : int32_t {
  ApplicationType_Other = 0,
  ApplicationType_Scene = 1,
};

enum Eye : int32_t { Eye_Left = 0, Eye_Right = 1 };

enum TrackedDeviceClass : int32_t {
  TrackedDeviceClass_Invalid = 0,
  TrackedDeviceClass_HMD = 1,
  TrackedDeviceClass_Controller = 2,
  TrackedDeviceClass_GenericTracker = 3,
  TrackedDeviceClass_TrackingReference = 4,
};

enum TrackedDeviceProperty : int32_t {
  Prop_TrackingSystemName_String = 1000,
  Prop_RenderModelName_String = 1003,
};

enum TrackedPropertyError : int32_t {
  TrackedProp_Success = 0,
  TrackedProp_UnknownProperty = 2,
  TrackedProp_InvalidDevice = 3,
  TrackedProp_BufferTooSmall = 4,
};

enum EventType : uint32_t {
  Event_None = 0,
  Event_TrackedDeviceActivated = 100,
  Event_TrackedDeviceDeactivated = 101,
  Event_TrackedDeviceUpdated = 102,
  Event_ButtonPress = 200,
  Event_ButtonUnpress = 201,
  Event_ButtonTouch = 202,
  Event_ButtonUntouch = 203,
};

enum ButtonId : uint32_t {
  Button_ApplicationMenu = 1,
  Button_Grip = 2,
  Button_Touchpad = 32,
  Button_Trigger = 33,
};

constexpr uint64_t buttonMaskFromId(uint32_t id) { return uint64_t(1) << id; }

enum CompositorError : int32_t {
  CompositorError_None = 0,
  CompositorError_DoNotHaveFocus = 101,
  CompositorError_InvalidTexture = 105,
};

enum TextureType : int32_t { TextureType_OpenGL = 1 };
enum ColorSpace : int32_t { ColorSpace_Auto = 0, ColorSpace_Gamma = 1, ColorSpace_Linear = 2 };

enum RenderModelError : int32_t {
  RenderModelError_None = 0,
  RenderModelError_Loading = 100,
  RenderModelError_InvalidArg = 300,
  RenderModelError_InvalidModel = 301,
  RenderModelError_InvalidTexture = 400,
};

// Row-major as the runtime hands them out; callers convert to column-major themselves.
struct Matrix34 {
  float m[3][4];
};
struct Matrix44 {
  float m[4][4];
};
struct Vector3 {
  float v[3];
};
struct Vector2 {
  float v[2];
};

struct TrackedDevicePose {
  Matrix34 m_deviceToAbsoluteTracking;  // metres, the device's frame in the room
  Vector3 m_velocity;
  Vector3 m_angularVelocity;
  bool m_poseIsValid = false;
  bool m_deviceIsConnected = false;
};

struct Event {
  uint32_t m_eventType = Event_None;
  uint32_t m_trackedDeviceIndex = k_trackedDeviceIndexInvalid;
  uint32_t m_button = 0;  // for the button events
};

struct ControllerAxis {
  float x = 0;
  float y = 0;
};

constexpr uint32_t k_controllerAxisCount = 5;

struct ControllerState {
  uint32_t m_packetNum = 0;
  uint64_t m_buttonPressed = 0;
  uint64_t m_buttonTouched = 0;
  ControllerAxis m_axis[k_controllerAxisCount];  // 0 the touchpad, 1 the trigger
};

struct DistortionCoordinates {
  float m_red[2];
  float m_green[2];
  float m_blue[2];
};

struct Texture {
  uintptr_t m_handle = 0;  // the GL texture name
  TextureType m_type = TextureType_OpenGL;
  ColorSpace m_colorSpace = ColorSpace_Gamma;
};

struct RenderModelVertex {
  Vector3 m_position;
  Vector3 m_normal;
  float m_textureCoord[2];
};

using TextureId = int32_t;

struct RenderModel {
  const RenderModelVertex* m_vertexData = nullptr;
  uint32_t m_vertexCount = 0;
  const uint16_t* m_indexData = nullptr;
  uint32_t m_triangleCount = 0;
  TextureId m_diffuseTextureId = -1;
};

// RGBA8, rows top-down.
struct RenderModelTexture {
  uint16_t m_width = 0;
  uint16_t m_height = 0;
  const uint8_t* m_data = nullptr;
};

class IVRSystem {
 public:
  virtual ~IVRSystem() = default;
  virtual void getRecommendedRenderTargetSize(uint32_t* width, uint32_t* height) = 0;
  virtual Matrix44 getProjectionMatrix(Eye eye, float nearZ, float farZ) = 0;
  // (u, v) in [0, 1] on the eye's image -> where each colour is sampled from.
  virtual bool computeDistortion(Eye eye, float u, float v, DistortionCoordinates* out) = 0;
  virtual Matrix34 getEyeToHeadTransform(Eye eye) = 0;
  virtual bool isTrackedDeviceConnected(uint32_t device) = 0;
  virtual TrackedDeviceClass getTrackedDeviceClass(uint32_t device) = 0;
  // Writes at most bufferSize bytes including the terminator; returns the length the whole
  // text needs including its terminator (0 when there is no such property).
  virtual uint32_t getStringTrackedDeviceProperty(uint32_t device, TrackedDeviceProperty prop,
                                                  char* buffer, uint32_t bufferSize,
                                                  TrackedPropertyError* error) = 0;
  virtual bool pollNextEvent(Event* event, uint32_t eventSize) = 0;
  // False when the device is not a connected controller or its state cannot be read.
  virtual bool getControllerState(uint32_t device, ControllerState* state, uint32_t stateSize) = 0;
};

class IVRCompositor {
 public:
  virtual ~IVRCompositor() = default;
  // Blocks until the next frame (the simulated headset never blocks) and returns its poses.
  virtual CompositorError waitGetPoses(TrackedDevicePose* renderPoses, uint32_t renderPoseCount,
                                       TrackedDevicePose* gamePoses, uint32_t gamePoseCount) = 0;
  virtual CompositorError submit(Eye eye, const Texture* texture) = 0;
};

class IVRRenderModels {
 public:
  virtual ~IVRRenderModels() = default;
  // RenderModelError_Loading asks the caller to try again later.
  virtual RenderModelError loadRenderModelAsync(const char* name, RenderModel** model) = 0;
  virtual RenderModelError loadTextureAsync(TextureId id, RenderModelTexture** texture) = 0;
  virtual void freeRenderModel(RenderModel* model) = 0;
  virtual void freeTexture(RenderModelTexture* texture) = 0;
  virtual const char* getRenderModelErrorNameFromEnum(RenderModelError error) = 0;
};

// Starts the runtime; returns a token that changes with every start and stop.
uint32_t initInternal(InitError* error, ApplicationType type);
void shutdownInternal();
bool isInterfaceVersionValid(const char* version);
// One of the interfaces above by version name, or null with *error set.
void* getGenericInterface(const char* version, InitError* error);
uint32_t getInitToken();
const char* getInitErrorAsEnglishDescription(InitError error);

// Frame hooks for the desktop frame loop.
// True once the trace's close has been played (or its frame limit reached); the loop then closes
// the window through its normal close path.
bool closeRequested();
// Called with the GL context current just before the desktop buffers are swapped, so the trace
// can snapshot the window image.
void onDesktopFrame(int width, int height);

}  // namespace vr
