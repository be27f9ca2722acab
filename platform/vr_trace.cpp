#include "platform/vr_trace.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/files.h"

namespace vr {
namespace {

constexpr float k_degrees = 3.14159265358979f / 180.0f;

bool parseFloat(const std::string& text, float* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const float value = std::strtof(text.c_str(), &end);
  if (errno != 0 || *end != '\0' || !std::isfinite(value)) return false;
  *out = value;
  return true;
}

bool parseInt(const std::string& text, long minimum, long maximum, long* out) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || value < minimum || value > maximum) return false;
  *out = value;
  return true;
}

std::vector<std::string> splitWords(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line.substr(0, line.find('#')));
  std::string word;
  while (in >> word) words.push_back(word);
  return words;
}

void normalizeQuaternion(float q[4]) {
  const float n = std::sqrt(q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3]);
  for (int i = 0; i < 4; ++i) q[i] /= n;
}

void rotateVector(const float q[4], const float v[3], float out[3]) {
  const float p[4] = {0, v[0], v[1], v[2]};
  const float conj[4] = {q[0], -q[1], -q[2], -q[3]};
  float t[4], r[4];
  quaternionMultiply(q, p, t);
  quaternionMultiply(t, conj, r);
  out[0] = r[1];
  out[1] = r[2];
  out[2] = r[3];
}

// One parser pass over the lines; fail() reports and stops.
class Parser {
 public:
  Parser(const std::string& source, Trace* out) : m_source(source), m_trace(out) {}

  bool run(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
      ++m_line;
      const std::vector<std::string> words = splitWords(line);
      if (words.empty()) continue;
      if (!parseLine(words)) return false;
    }
    return resolveRelativePoses();
  }

 private:
  bool fail(const std::string& reason, int line = 0) {
    std::printf("VR trace %s:%d: %s\n", m_source.c_str(), line ? line : m_line, reason.c_str());
    return false;
  }

  bool parseLine(const std::vector<std::string>& w) {
    const std::string& cmd = w[0];
    if (cmd[0] == '@') return parseKeyframe(w);
    if (cmd == "render_size" || cmd == "fov" || cmd == "ipd" || cmd == "frame_ms" ||
        cmd == "max_frames" || cmd == "init_fail" || cmd == "device") {
      if (!m_trace->m_keyframes.empty()) return fail("'" + cmd + "' must come before the first keyframe");
      return parseHeader(w);
    }
    if (m_trace->m_keyframes.empty()) return fail("'" + cmd + "' outside a keyframe (or unknown)");
    return parseAction(w);
  }

  bool parseHeader(const std::vector<std::string>& w) {
    const std::string& cmd = w[0];
    long n = 0;
    float f = 0;
    if (cmd == "render_size") {
      long h = 0;
      // A side may go past what GL allows (the program must cope with such a runtime), but not the
      // area: a target that large would only exhaust the memory.
      if (w.size() != 3 || !parseInt(w[1], 1, 65536, &n) || !parseInt(w[2], 1, 65536, &h) ||
          n * h > 8192L * 8192L)
        return fail(
            "expected 'render_size W H' with sides 1 to 65536 and at most 8192 x 8192 pixels");
      m_trace->m_renderWidth = static_cast<uint32_t>(n);
      m_trace->m_renderHeight = static_cast<uint32_t>(h);
    } else if (cmd == "fov") {
      if (w.size() != 2 || !parseFloat(w[1], &f) || f <= 1.0f || f >= 179.0f)
        return fail("expected 'fov DEG' between 1 and 179");
      m_trace->m_fovDegrees = f;
    } else if (cmd == "ipd") {
      if (w.size() != 2 || !parseFloat(w[1], &f) || f < 0.0f || f > 0.5f)
        return fail("expected 'ipd M' between 0 and 0.5");
      m_trace->m_ipd = f;
    } else if (cmd == "frame_ms") {
      if (w.size() != 2 || !parseInt(w[1], 0, 60000, &n)) return fail("expected 'frame_ms N' (0 to 60000)");
      m_trace->m_frameMs = static_cast<uint32_t>(n);
    } else if (cmd == "max_frames") {
      if (w.size() != 2 || !parseInt(w[1], 1, 100000000, &n)) return fail("expected 'max_frames N' (N >= 1)");
      m_trace->m_maxFrames = static_cast<int>(n);
    } else if (cmd == "init_fail") {
      if (w.size() != 2) return fail("expected 'init_fail CODE|no_compositor|no_render_models'");
      if (w[1] == "no_compositor") {
        m_trace->m_initFail = TraceInitFail::NoCompositor;
      } else if (w[1] == "no_render_models") {
        m_trace->m_initFail = TraceInitFail::NoRenderModels;
      } else if (parseInt(w[1], 1, 0x7fffffff, &n)) {
        m_trace->m_initFail = TraceInitFail::Code;
        m_trace->m_initFailCode = static_cast<int>(n);
      } else {
        return fail("expected 'init_fail CODE|no_compositor|no_render_models' with CODE > 0");
      }
    } else {
      return parseDevice(w);
    }
    return true;
  }

  bool parseDevice(const std::vector<std::string>& w) {
    long index = 0;
    if (w.size() < 3 || !parseInt(w[1], 0, k_maxTrackedDeviceCount - 1, &index))
      return fail("expected 'device INDEX hmd|controller|tracker|other ...' with INDEX 0 to 63");
    TraceDevice device;
    device.m_index = static_cast<uint32_t>(index);
    if (w[2] == "hmd") {
      device.m_class = TrackedDeviceClass_HMD;
      device.m_model = "sim_hmd";
    } else if (w[2] == "controller") {
      device.m_class = TrackedDeviceClass_Controller;
      device.m_model = "sim_controller";
    } else if (w[2] == "tracker") {
      device.m_class = TrackedDeviceClass_TrackingReference;
      device.m_model = "sim_tracker";
    } else if (w[2] == "other") {
      device.m_class = TrackedDeviceClass_GenericTracker;
      device.m_model = "sim_other";
    } else {
      return fail("unknown device class '" + w[2] + "'");
    }
    if ((device.m_class == TrackedDeviceClass_HMD) != (index == 0))
      return fail("the headset is device 0, and device 0 is the headset");
    if (m_trace->findDevice(device.m_index)) return fail("device " + w[1] + " declared twice");
    for (size_t i = 3; i < w.size(); ++i) {
      long k = 0;
      if (w[i].rfind("model=", 0) == 0 && w[i].size() > 6) {
        device.m_model = w[i].substr(6);
      } else if (w[i].rfind("loading=", 0) == 0 && parseInt(w[i].substr(8), 0, 100000, &k)) {
        device.m_loadingAnswers = static_cast<int>(k);
      } else if (w[i] == "model_fail") {
        device.m_modelFail = true;
      } else {
        return fail("unknown device option '" + w[i] + "'");
      }
    }
    m_trace->m_devices.push_back(device);
    return true;
  }

  bool parseKeyframe(const std::vector<std::string>& w) {
    long frame = 0;
    if (!parseInt(w[0].substr(1), 0, 100000000, &frame)) return fail("expected '@FRAME' with FRAME >= 0");
    if (!m_trace->m_keyframes.empty() && frame <= m_trace->m_keyframes.back().m_frame)
      return fail("keyframe " + w[0] + " does not come after the previous one");
    TraceKeyframe keyframe;
    keyframe.m_frame = static_cast<int>(frame);
    if (w.size() == 2 && w[1] == "lerp") {
      keyframe.m_lerp = true;
    } else if (w.size() != 1) {
      return fail("expected '@FRAME' or '@FRAME lerp'");
    }
    m_trace->m_keyframes.push_back(keyframe);
    return true;
  }

  bool parseDeviceRef(const std::string& word, uint32_t* device) {
    long index = 0;
    if (!parseInt(word, 0, k_maxTrackedDeviceCount - 1, &index) ||
        !m_trace->findDevice(static_cast<uint32_t>(index)))
      return fail("device '" + word + "' is not declared");
    *device = static_cast<uint32_t>(index);
    return true;
  }

  bool parsePose(const std::vector<std::string>& w, TraceAction* action) {
    size_t i = 2;
    if (w.size() > 3 && w[2] == "rel") {
      uint32_t other = 0;
      if (!parseDeviceRef(w[3], &other)) return false;
      action->m_button = other + 1;  // 0 = absolute; resolved after parsing
      i = 4;
    }
    const char* usage = "expected 'pose DEV [rel OTHER] pos X Y Z rot YAW PITCH ROLL|quat W X Y Z'";
    if (w.size() < i + 4 || w[i] != "pos") return fail(usage);
    for (int k = 0; k < 3; ++k)
      if (!parseFloat(w[i + 1 + k], &action->m_position[k])) return fail(usage);
    i += 4;
    if (w.size() == i + 4 && w[i] == "rot") {
      float angles[3];
      for (int k = 0; k < 3; ++k)
        if (!parseFloat(w[i + 1 + k], &angles[k])) return fail(usage);
      quaternionFromYawPitchRoll(angles[0], angles[1], angles[2], action->m_rotation);
    } else if (w.size() == i + 5 && w[i] == "quat") {
      for (int k = 0; k < 4; ++k)
        if (!parseFloat(w[i + 1 + k], &action->m_rotation[k])) return fail(usage);
      const float* q = action->m_rotation;
      if (q[0] * q[0] + q[1] * q[1] + q[2] * q[2] + q[3] * q[3] < 1e-12f) return fail("zero quaternion");
      normalizeQuaternion(action->m_rotation);
    } else {
      return fail(usage);
    }
    return true;
  }

  bool parseAction(const std::vector<std::string>& w) {
    const std::string& cmd = w[0];
    TraceAction action;
    action.m_line = m_line;
    if (cmd == "close") {
      if (w.size() != 1) return fail("expected 'close'");
      action.m_op = TraceOp::Close;
    } else if (cmd == "snapshot") {
      if (w.size() != 3) return fail("expected 'snapshot left|right|desktop PATH'");
      action.m_op = TraceOp::Snapshot;
      if (w[1] == "left") action.m_target = SnapshotTarget::Left;
      else if (w[1] == "right") action.m_target = SnapshotTarget::Right;
      else if (w[1] == "desktop") action.m_target = SnapshotTarget::Desktop;
      else return fail("expected 'snapshot left|right|desktop PATH'");
      action.m_path = w[2];
    } else {
      if (w.size() < 2) return fail("'" + cmd + "' needs a device");
      if (cmd != "pose" && cmd != "valid" && cmd != "invalid" && cmd != "trigger" && cmd != "grip" &&
          cmd != "menu" && cmd != "pad" && cmd != "touch" && cmd != "untouch" && cmd != "axis" &&
          cmd != "connect" && cmd != "disconnect" && cmd != "state_fail" && cmd != "state_ok")
        return fail("unknown command '" + cmd + "'");
      if (!parseDeviceRef(w[1], &action.m_device)) return false;
      if (cmd == "pose") {
        action.m_op = TraceOp::Pose;
        if (!parsePose(w, &action)) return false;
      } else if (cmd == "trigger" || cmd == "grip" || cmd == "menu" || cmd == "pad") {
        if (w.size() != 3 || (w[2] != "down" && w[2] != "up")) return fail("expected '" + cmd + " DEV down|up'");
        action.m_op = w[2] == "down" ? TraceOp::Press : TraceOp::Unpress;
        action.m_button = cmd == "trigger" ? Button_Trigger
                          : cmd == "grip"  ? Button_Grip
                          : cmd == "menu"  ? Button_ApplicationMenu
                                           : Button_Touchpad;
      } else if (cmd == "axis") {
        if (w.size() != 4 || !parseFloat(w[2], &action.m_axis[0]) || !parseFloat(w[3], &action.m_axis[1]) ||
            std::fabs(action.m_axis[0]) > 1.0f || std::fabs(action.m_axis[1]) > 1.0f)
          return fail("expected 'axis DEV X Y' with X and Y in [-1, 1]");
        action.m_op = TraceOp::Axis;
      } else {
        if (w.size() != 2) return fail("expected '" + cmd + " DEV'");
        action.m_op = cmd == "valid"        ? TraceOp::Valid
                      : cmd == "invalid"    ? TraceOp::Invalid
                      : cmd == "touch"      ? TraceOp::Touch
                      : cmd == "untouch"    ? TraceOp::Untouch
                      : cmd == "connect"    ? TraceOp::Connect
                      : cmd == "disconnect" ? TraceOp::Disconnect
                      : cmd == "state_fail" ? TraceOp::StateFail
                                            : TraceOp::Valid;
        // state_ok is StateFail undone; m_button marks it.
        if (cmd == "state_ok") {
          action.m_op = TraceOp::StateFail;
          action.m_button = 1;
        }
      }
    }
    m_trace->m_keyframes.back().m_actions.push_back(action);
    return true;
  }

  // Relative poses become room poses, using the other device's pose as it stands after the lines
  // above (in this keyframe or earlier ones). Lerp then works on room poses only.
  bool resolveRelativePoses() {
    struct Held {
      bool set = false;
      float position[3];
      float rotation[4];
    } held[k_maxTrackedDeviceCount];
    for (TraceKeyframe& keyframe : m_trace->m_keyframes) {
      for (TraceAction& action : keyframe.m_actions) {
        if (action.m_op != TraceOp::Pose) continue;
        if (action.m_button != 0) {
          const Held& other = held[action.m_button - 1];
          if (!other.set) return fail("relative pose: the other device has no pose yet", action.m_line);
          float offset[3], rotation[4];
          rotateVector(other.rotation, action.m_position, offset);
          quaternionMultiply(other.rotation, action.m_rotation, rotation);
          normalizeQuaternion(rotation);
          for (int k = 0; k < 3; ++k) action.m_position[k] = other.position[k] + offset[k];
          for (int k = 0; k < 4; ++k) action.m_rotation[k] = rotation[k];
          action.m_button = 0;
        }
        Held& mine = held[action.m_device];
        mine.set = true;
        for (int k = 0; k < 3; ++k) mine.position[k] = action.m_position[k];
        for (int k = 0; k < 4; ++k) mine.rotation[k] = action.m_rotation[k];
      }
    }
    return true;
  }

  std::string m_source;
  Trace* m_trace;
  int m_line = 0;
};

}  // namespace

const TraceDevice* Trace::findDevice(uint32_t index) const {
  for (const TraceDevice& device : m_devices)
    if (device.m_index == index) return &device;
  return nullptr;
}

bool parseTrace(const std::string& text, const std::string& source, Trace* out) {
  *out = Trace();
  Parser parser(source, out);
  return parser.run(text);
}

bool loadTraceFile(const std::string& path, Trace* out) {
  // A folder opens as an empty stream and a device may never end: regular files only.
  std::ifstream in;
  if (platform::isReadableFile(path)) in.open(path);
  if (!in.is_open()) {
    std::printf("VR trace %s: cannot be opened\n", path.c_str());
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  return parseTrace(text.str(), path, out);
}

void quaternionMultiply(const float a[4], const float b[4], float out[4]) {
  const float w = a[0] * b[0] - a[1] * b[1] - a[2] * b[2] - a[3] * b[3];
  const float x = a[0] * b[1] + a[1] * b[0] + a[2] * b[3] - a[3] * b[2];
  const float y = a[0] * b[2] - a[1] * b[3] + a[2] * b[0] + a[3] * b[1];
  const float z = a[0] * b[3] + a[1] * b[2] - a[2] * b[1] + a[3] * b[0];
  out[0] = w;
  out[1] = x;
  out[2] = y;
  out[3] = z;
}

void quaternionFromYawPitchRoll(float yaw, float pitch, float roll, float out[4]) {
  const float qy[4] = {std::cos(yaw * k_degrees / 2), 0, std::sin(yaw * k_degrees / 2), 0};
  const float qx[4] = {std::cos(pitch * k_degrees / 2), std::sin(pitch * k_degrees / 2), 0, 0};
  const float qz[4] = {std::cos(roll * k_degrees / 2), 0, 0, std::sin(roll * k_degrees / 2)};
  float t[4];
  quaternionMultiply(qy, qx, t);
  quaternionMultiply(t, qz, out);
}

void quaternionSlerp(const float a[4], const float b[4], float t, float out[4]) {
  float end[4] = {b[0], b[1], b[2], b[3]};
  float dot = a[0] * b[0] + a[1] * b[1] + a[2] * b[2] + a[3] * b[3];
  if (dot < 0) {
    dot = -dot;
    for (float& e : end) e = -e;
  }
  float wa = 1 - t, wb = t;
  if (dot < 0.9995f) {
    const float angle = std::acos(dot);
    const float s = std::sin(angle);
    wa = std::sin((1 - t) * angle) / s;
    wb = std::sin(t * angle) / s;
  }
  for (int k = 0; k < 4; ++k) out[k] = wa * a[k] + wb * end[k];
  normalizeQuaternion(out);
}

Matrix34 poseToMatrix(const float position[3], const float rotation[4]) {
  const float w = rotation[0], x = rotation[1], y = rotation[2], z = rotation[3];
  Matrix34 m;
  m.m[0][0] = 1 - 2 * (y * y + z * z);
  m.m[0][1] = 2 * (x * y - w * z);
  m.m[0][2] = 2 * (x * z + w * y);
  m.m[1][0] = 2 * (x * y + w * z);
  m.m[1][1] = 1 - 2 * (x * x + z * z);
  m.m[1][2] = 2 * (y * z - w * x);
  m.m[2][0] = 2 * (x * z - w * y);
  m.m[2][1] = 2 * (y * z + w * x);
  m.m[2][2] = 1 - 2 * (x * x + y * y);
  for (int r = 0; r < 3; ++r) m.m[r][3] = position[r];
  return m;
}

TracePlayer::TracePlayer(Trace trace) : m_trace(std::move(trace)) {
  if (m_trace.m_maxFrames > 0) m_closeFrame = m_trace.m_maxFrames - 1;
  // Devices already on when the runtime starts, as a real runtime reports them at start-up.
  for (const TraceDevice& device : m_trace.m_devices) {
    m_held[device.m_index].m_connected = true;
    m_current[device.m_index].m_connected = true;
  }
}

int TracePlayer::advance() {
  ++m_frame;
  uint64_t pressedBefore[k_maxTrackedDeviceCount], touchedBefore[k_maxTrackedDeviceCount];
  for (uint32_t i = 0; i < k_maxTrackedDeviceCount; ++i) {
    pressedBefore[i] = m_held[i].m_pressed;
    touchedBefore[i] = m_held[i].m_touched;
  }
  std::vector<uint32_t> activated, deactivated;
  if (m_frame == 0)
    for (const TraceDevice& device : m_trace.m_devices) activated.push_back(device.m_index);
  if (m_nextKeyframe < m_trace.m_keyframes.size() &&
      m_trace.m_keyframes[m_nextKeyframe].m_frame == m_frame) {
    const TraceKeyframe& keyframe = m_trace.m_keyframes[m_nextKeyframe++];
    for (const TraceAction& action : keyframe.m_actions) {
      DeviceState& state = m_held[action.m_device];
      if (action.m_op == TraceOp::Connect && !state.m_connected) activated.push_back(action.m_device);
      if (action.m_op == TraceOp::Disconnect && state.m_connected) deactivated.push_back(action.m_device);
    }
    applyKeyframe(keyframe);
    m_lastKeyframeFrame = m_frame;
  }

  // Activations first, then per device untouch, unpress, press, touch; deactivations last.
  for (uint32_t index : activated) m_events.push_back(Event{Event_TrackedDeviceActivated, index, 0});
  for (uint32_t i = 0; i < k_maxTrackedDeviceCount; ++i) {
    const DeviceState& now = m_held[i];
    if (!now.m_connected) continue;
    const uint64_t untouched = touchedBefore[i] & ~now.m_touched;
    const uint64_t released = pressedBefore[i] & ~now.m_pressed;
    const uint64_t pressed = now.m_pressed & ~pressedBefore[i];
    const uint64_t touched = now.m_touched & ~touchedBefore[i];
    const std::pair<uint64_t, uint32_t> edges[] = {{untouched, Event_ButtonUntouch},
                                                   {released, Event_ButtonUnpress},
                                                   {pressed, Event_ButtonPress},
                                                   {touched, Event_ButtonTouch}};
    for (const auto& edge : edges)
      for (uint32_t button = 0; button < 64; ++button)
        if (edge.first & buttonMaskFromId(button)) m_events.push_back(Event{edge.second, i, button});
  }
  for (uint32_t index : deactivated) m_events.push_back(Event{Event_TrackedDeviceDeactivated, index, 0});

  for (uint32_t i = 0; i < k_maxTrackedDeviceCount; ++i) m_current[i] = m_held[i];
  applyLerp();
  return m_frame;
}

void TracePlayer::applyKeyframe(const TraceKeyframe& keyframe) {
  for (const TraceAction& action : keyframe.m_actions) {
    DeviceState& state = m_held[action.m_device];
    switch (action.m_op) {
      case TraceOp::Pose:
        // A device's first pose makes it valid; later ones leave validity to valid/invalid.
        if (!state.m_hasPose) state.m_valid = true;
        state.m_hasPose = true;
        for (int k = 0; k < 3; ++k) state.m_position[k] = action.m_position[k];
        for (int k = 0; k < 4; ++k) state.m_rotation[k] = action.m_rotation[k];
        break;
      case TraceOp::Valid: state.m_valid = true; break;
      case TraceOp::Invalid: state.m_valid = false; break;
      case TraceOp::Press: state.m_pressed |= buttonMaskFromId(action.m_button); break;
      case TraceOp::Unpress: state.m_pressed &= ~buttonMaskFromId(action.m_button); break;
      case TraceOp::Touch: state.m_touched |= buttonMaskFromId(Button_Touchpad); break;
      case TraceOp::Untouch: state.m_touched &= ~buttonMaskFromId(Button_Touchpad); break;
      case TraceOp::Axis:
        state.m_axis[0] = action.m_axis[0];
        state.m_axis[1] = action.m_axis[1];
        break;
      case TraceOp::Connect: state.m_connected = true; break;
      case TraceOp::Disconnect: state.m_connected = false; break;
      case TraceOp::StateFail: state.m_stateFail = action.m_button == 0; break;
      case TraceOp::Snapshot:
        m_snapshots.push_back(PendingSnapshot{m_frame, action.m_target, action.m_path});
        break;
      case TraceOp::Close:
        if (m_closeFrame < 0 || m_frame < m_closeFrame) m_closeFrame = m_frame;
        break;
    }
  }
}

void TracePlayer::applyLerp() {
  if (m_nextKeyframe >= m_trace.m_keyframes.size() || m_lastKeyframeFrame < 0) return;
  const TraceKeyframe& next = m_trace.m_keyframes[m_nextKeyframe];
  if (!next.m_lerp) return;
  const float t = float(m_frame - m_lastKeyframeFrame) / float(next.m_frame - m_lastKeyframeFrame);
  for (const TraceAction& action : next.m_actions) {
    const DeviceState& held = m_held[action.m_device];
    DeviceState& now = m_current[action.m_device];
    if (action.m_op == TraceOp::Pose && held.m_hasPose) {
      for (int k = 0; k < 3; ++k)
        now.m_position[k] = held.m_position[k] + t * (action.m_position[k] - held.m_position[k]);
      quaternionSlerp(held.m_rotation, action.m_rotation, t, now.m_rotation);
    } else if (action.m_op == TraceOp::Axis) {
      for (int k = 0; k < 2; ++k) now.m_axis[k] = held.m_axis[k] + t * (action.m_axis[k] - held.m_axis[k]);
    }
  }
}

bool TracePlayer::pollEvent(Event* event) {
  if (m_events.empty()) return false;
  *event = m_events.front();
  m_events.pop_front();
  return true;
}

}  // namespace vr
