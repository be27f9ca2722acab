#pragma once
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "platform/vr_runtime.h"

// The simulated headset's script: its header, devices and keyframes (format in VR_TRACE.md), and
// the player that turns it into per-frame device states and runtime events.
namespace vr {

enum class TraceInitFail { None, Code, NoCompositor, NoRenderModels };

struct TraceDevice {
  uint32_t m_index = 0;
  TrackedDeviceClass m_class = TrackedDeviceClass_Invalid;
  std::string m_model;      // render model name
  int m_loadingAnswers = 0; // "loading" answers before the model is delivered
  bool m_modelFail = false;
};

enum class TraceOp {
  Pose,
  Valid,
  Invalid,
  Press,
  Unpress,
  Touch,
  Untouch,
  Axis,
  Connect,
  Disconnect,
  StateFail,
  Snapshot,
  Close
};

enum class SnapshotTarget { Left, Right, Desktop };

struct TraceAction {
  TraceOp m_op = TraceOp::Close;
  uint32_t m_device = 0;
  uint32_t m_button = 0;        // Press, Unpress
  float m_position[3] = {0, 0, 0};
  float m_rotation[4] = {1, 0, 0, 0};  // unit quaternion w, x, y, z; resolved to the room frame
  float m_axis[2] = {0, 0};
  SnapshotTarget m_target = SnapshotTarget::Left;
  std::string m_path;
  int m_line = 0;
};

struct TraceKeyframe {
  int m_frame = 0;
  bool m_lerp = false;
  std::vector<TraceAction> m_actions;
};

struct Trace {
  uint32_t m_renderWidth = 640;
  uint32_t m_renderHeight = 720;
  float m_fovDegrees = 100.0f;  // horizontal, per eye
  float m_ipd = 0.064f;         // metres
  uint32_t m_frameMs = 0;       // 0: the real clock
  int m_maxFrames = 0;          // 0: no limit
  TraceInitFail m_initFail = TraceInitFail::None;
  int m_initFailCode = 0;
  std::vector<TraceDevice> m_devices;
  std::vector<TraceKeyframe> m_keyframes;  // strictly increasing frames

  const TraceDevice* findDevice(uint32_t index) const;
};

// Parses trace text. A bad line prints "VR trace <source>:<line>: <reason>" and gives false.
bool parseTrace(const std::string& text, const std::string& source, Trace* out);
// Reads and parses a trace file; a file that cannot be opened is reported and gives false.
bool loadTraceFile(const std::string& path, Trace* out);

struct DeviceState {
  bool m_connected = false;
  bool m_hasPose = false;
  bool m_valid = false;
  bool m_stateFail = false;
  float m_position[3] = {0, 0, 0};
  float m_rotation[4] = {1, 0, 0, 0};
  uint64_t m_pressed = 0;
  uint64_t m_touched = 0;
  float m_axis[2] = {0, 0};
};

struct PendingSnapshot {
  int m_frame = 0;
  SnapshotTarget m_target = SnapshotTarget::Left;
  std::string m_path;
};

class TracePlayer {
 public:
  explicit TracePlayer(Trace trace);

  const Trace& trace() const { return m_trace; }
  // Steps to the next frame (the first call gives frame 0), applies its keyframe, queues its
  // events and snapshots. Returns the new frame number.
  int advance();
  int frame() const { return m_frame; }
  const DeviceState& device(uint32_t index) const { return m_current[index]; }
  bool pollEvent(Event* event);
  // Snapshots whose frame has been reached, oldest first; the caller takes them away.
  std::vector<PendingSnapshot>& snapshots() { return m_snapshots; }
  // The frame of the first close (or the frame limit), -1 when the trace never closes.
  int closeFrame() const { return m_closeFrame; }

 private:
  void applyKeyframe(const TraceKeyframe& keyframe);
  void applyLerp();

  Trace m_trace;
  int m_frame = -1;
  size_t m_nextKeyframe = 0;
  int m_lastKeyframeFrame = -1;
  int m_closeFrame = -1;
  DeviceState m_held[k_maxTrackedDeviceCount];     // as the last keyframe left them
  DeviceState m_current[k_maxTrackedDeviceCount];  // what this frame reports (lerp applied)
  std::deque<Event> m_events;
  std::vector<PendingSnapshot> m_snapshots;
};

// Rotation helpers (unit quaternions w, x, y, z).
// Yaw about +y, then pitch about the new +x, then roll about the new +z; degrees.
void quaternionFromYawPitchRoll(float yaw, float pitch, float roll, float out[4]);
void quaternionMultiply(const float a[4], const float b[4], float out[4]);
// Shortest-path spherical interpolation.
void quaternionSlerp(const float a[4], const float b[4], float t, float out[4]);
// Row-major 3x4 device-to-room matrix of a pose.
Matrix34 poseToMatrix(const float position[3], const float rotation[4]);

}  // namespace vr
