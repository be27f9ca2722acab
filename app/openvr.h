#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/core_object.h"
#include "core/hand_frames.h"
#include "core/matrix.h"
#include "platform/vr_runtime.h"
#include "render/framebuffer.h"

class ModelContainer;
class ModelRender;

// The lens mesh of one eye: 43 x 43 vertices (step 1/42) of 9 floats, the position in normalised
// device coordinates (x = u - 1 for the left eye, u for the right, so each fills its half of the
// window) and the runtime's distortion (u', 1 - v') for red, green and blue. Without a runtime
// the coordinates are undistorted. Two triangles per cell in `indices`.
void buildLensMesh(vr::IVRSystem* system, int eye, std::vector<float>& vertices,
                   std::vector<uint32_t>& indices);
// How many times a render model or its texture may answer "loading", 1 ms apart, before the
// load counts as failed.
constexpr int kRenderModelLoadingTries = 5000;

// Binds the program to the VR runtime: starts and stops it, renders both eyes into multisampled
// targets, submits them, waits for the next poses and keeps one matrix per tracked device.
// Main thread only, with the desktop GL context current.
class OpenVRContext {
 public:
  OpenVRContext();
  virtual ~OpenVRContext();

  // Runtime, interfaces, eye targets. Prints the reason and returns false on any failure; the
  // object stays usable for shutdown and deletion.
  bool init();
  void shutdown();
  // Once per frame: both eyes (when running), submission, then the wait for the next poses.
  void renderFrame();

  virtual bool handleInput() { return true; }
  // Base handling of the device events; true for activated, deactivated and updated.
  virtual bool processVREvent(const vr::Event& event);
  virtual void preRender() {}
  virtual void postRender() {}
  // eye: 0 left, 1 right; called with the eye's multisampled target bound.
  virtual void renderScene(int eye);

  // projection(eye) x eye-to-head(eye) x head pose; the identity for any other eye value.
  Matrix4 getCurrentViewProjectionMatrix(int eye) const;

  bool isRunning() const { return m_system != nullptr; }
  // Where the desktop view goes: the window's framebuffer (0) unless a test redirects it.
  void setDesktopFramebuffer(GLuint framebuffer) { m_desktopFramebuffer = framebuffer; }
  const std::string& poseClasses() const { return m_poseClasses; }
  int validPoseCount() const { return m_validPoseCount; }
  // The eye targets' size as made: the recommended size, or less where the context allows less.
  uint32_t renderWidth() const { return m_renderWidth; }
  uint32_t renderHeight() const { return m_renderHeight; }
  const FramebufferMultiDesc& eyeFramebuffer(int eye) const { return eye == 0 ? m_leftEye : m_rightEye; }
  bool hasRenderModel(uint32_t device) const { return device < vr::k_maxTrackedDeviceCount && m_hasRenderModel[device]; }
  size_t renderModelCount() const { return m_renderModelList.size(); }
  // The drawable of a device's render model, null when it has none.
  ModelRender* deviceRenderModel(uint32_t device) const;
  const ModelContainer* lens() const { return m_lens.get(); }

 protected:
  void updateHMDMatrixPose();
  void setupRenderModelForTrackedDevice(uint32_t device);
  // Index into m_renderModelList of the model of that name (compared without case), loading it
  // from the runtime when new; -1 with a message when the runtime cannot deliver it.
  int findOrLoadRenderModel(const std::string& name);
  std::string getTrackedDeviceString(uint32_t device, vr::TrackedDeviceProperty property);
  // The interfaces, fetched again whenever the runtime's init token changes.
  vr::IVRCompositor* compositor();
  vr::IVRRenderModels* renderModels();

  vr::IVRSystem* m_system = nullptr;
  vr::IVRRenderModels* m_renderModels = nullptr;
  vr::IVRCompositor* m_compositor = nullptr;
  uint32_t m_interfaceToken = 0;

  vr::TrackedDevicePose m_poses[vr::k_maxTrackedDeviceCount];
  Matrix4 m_deviceMatrices[vr::k_maxTrackedDeviceCount];
  bool m_hasRenderModel[vr::k_maxTrackedDeviceCount] = {};
  char m_deviceClassChar[vr::k_maxTrackedDeviceCount] = {};
  std::string m_poseClasses;
  int m_validPoseCount = 0;

  float m_nearClip = 0.1f;
  float m_farClip = 1000.0f;

  // The desktop mirror: "Lens" ("leftLen", "rightLen") is drawn; "screen" ("leftScreen",
  // "rightScreen", plain quads) is built but not drawn.
  void buildLensView();
  std::unique_ptr<ModelContainer> m_lens;
  std::unique_ptr<ModelContainer> m_screen;

  Matrix4 m_headPose;
  Matrix4 m_eyeToHead[2];
  Matrix4 m_projection[2];
  FramebufferMultiDesc m_leftEye;
  FramebufferMultiDesc m_rightEye;
  uint32_t m_renderWidth = 0;
  uint32_t m_renderHeight = 0;

  // The render models the runtime delivered, each with its drawable (owned), and each device's
  // entry (-1 none).
  struct LoadedRenderModel {
    std::string m_name;
    ModelRender* m_render = nullptr;
  };
  std::vector<LoadedRenderModel> m_renderModelList;
  int m_deviceRenderModels[vr::k_maxTrackedDeviceCount];
  bool m_eyeTargetsReady = false;
  GLuint m_desktopFramebuffer = 0;
};

// The application's VR object: controller roles, hand and head frames, per-eye scene, input.
class OpenVR : public OpenVRContext, public coreObject {
 public:
  OpenVR();
  ~OpenVR() override;

  bool handleInput() override;
  bool processVREvent(const vr::Event& event) override;
  void preRender() override;
  void postRender() override {}
  void renderScene(int eye) override;

  // Both hands unassigned; main calls it after a successful init.
  void resetControllerAssignment();

  int drawingHand() const { return m_drawingHand; }
  int otherHand() const { return m_otherHand; }
  const Matrix4& drawingHandDeviceMatrix() const { return m_drawingHandMatrix; }
  const Matrix4& otherHandDeviceMatrix() const { return m_otherHandMatrix; }
  int drawingHandSwipe() const { return m_drawingHandSwipe; }
  int otherHandSwipe() const { return m_otherHandSwipe; }

  // Hand frame: position 5 cm along the device's -z, then its x, y, z axes normalised.
  static void updateDeviceMatrix(const Matrix4& device, float out[12]);

 private:
  // Roles and swipes (vr_controllers.cpp).
  void assignRole(uint32_t device);
  bool readTouchpad(int device, float* x, float* y);
  void swipeDrawingHand();
  void swipeOtherHand();

  bool poseValid(int device) const;
  void pressTrigger();
  // What the scene (strokes, models, lights) is drawn under beyond the eye's view-projection:
  // the headset's pose while the view follows the head and there is one, else the identity.
  Matrix4 sceneView() const;

  int m_otherHand = -1;
  int m_otherHandSwipe = -1;
  int m_drawingHand = -1;
  int m_drawingHandSwipe = -1;
  bool m_otherHandTracked = false;
  bool m_drawingHandTracked = false;
  Matrix4 m_otherHandMatrix;
  Matrix4 m_drawingHandMatrix;
  float m_drawingSwipeStart[2] = {0, 0};
  float m_primaryBase = 0, m_primaryStep = 0;
  float m_secondaryBase = 0, m_secondaryStep = 0;
  float m_otherSwipeStart[2] = {0, 0};
  float m_radiusBase = 0, m_radiusStep = 0;
  float m_lengthBase = 0, m_lengthStep = 0;
};

// Set by main once the VR start-up succeeded; null otherwise.
extern OpenVR* g_openVR;

