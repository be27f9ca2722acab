#pragma once
#include <cstdint>
#include <vector>

#include "core/ids.h"
#include "core/vec.h"
#include "quillax.pb.h"

// Process-wide settings and editing state. Every object is read and written on the main thread
// only, directly by name; none is locked. (The event queue lives in core/events.h.)

extern quillax::Color g_currentColor;          // current brush colour
extern quillax::FloatList g_defaultLightCurve;  // light curve given to new strokes
extern quillax::HairTextureMaps g_hairTextureMaps;
// Cross-section profiles indexed by curvature + 23, and their matching 2-D directions.
extern std::vector<std::vector<float>> g_curveProfiles;
extern std::vector<std::vector<float>> g_curveProfileNormals;
extern quillax::Parameters g_parameters;  // the settings, installed by loadParameters
extern quillax::Autosaves g_autosaves;

// Option bits, 9 after loadParameters.
enum FlagBit {
  FLAG_SMOOTHING = 0,
  FLAG_COLLISION = 1,
  FLAG_OVERLAY = 2,
  FLAG_OTHER_TRIGGER = 3,
  FLAG_HINT_MODE = 5,
  FLAG_VIEW_TRANSFORM = 6,
  FLAG_NO_CURVATURE_SWIPE = 7,
  FLAG_COUNT = 9,
};
extern std::vector<bool> g_flags;

// Slots of g_modeState; 4, 7, 9 and 10 have no user.
enum ModeSlot {
  STATE_CURRENT_TOOL = 0,   // tool id, TOOL_NONE for none
  STATE_PREVIOUS_TOOL = 1,  // the tool id of the previous frame
  STATE_UI_MODE = 2,        // a UiMode
  STATE_HAIR_ID = 3,        // the chosen entry of the reference hair set, -1 none
  STATE_FIT_ITERATION = 5,  // the suggestion fit's iteration counter
  STATE_DRAW_COUNTER = 6,   // counts draws; the selection blink follows it
  STATE_SPIN_START = 8,     // spin start point index, -1 none
  STATE_COUNT = 11,
};
extern std::vector<int32_t> g_modeState;

// Slots of g_uiValues; 6, 7, 11 and 12 have no user.
enum UiValueSlot {
  VALUE_TRANSFORM_SCALE = 0,  // the scale of the newest transform level's inverse
  VALUE_SPHERE_RADIUS = 1,    // selection sphere radius, metres
  VALUE_CAMERA_FAR = 2,       // the camera tool's secondary value
  VALUE_CAMERA_NEAR = 3,      // the camera tool's primary value
  VALUE_EYE_WIDTH = 4,        // eye render target size, pixels
  VALUE_EYE_HEIGHT = 5,
  VALUE_POINTER_LENGTH = 8,       // drawing hand to menu hit, metres
  VALUE_SUGGESTION_OPACITY = 9,   // the suggested strands' opacity
  VALUE_SPIN_START_FRACTION = 10, // spin start as a fraction of the stroke
  VALUE_COUNT = 13,
};
extern std::vector<float> g_uiValues;

// Slots of g_timers, millisecond stamps of platform::timeGetTime; 2 and 4 have no user.
enum TimerSlot {
  TIMER_BRUSH_STATE_SAVE = 0,
  TIMER_PROJECT_AUTOSAVE = 1,
  TIMER_SUGGESTION_STEP = 3,
  TIMER_COUNT = 5,
};
extern std::vector<uint32_t> g_timers;

// Checked access to the vectors above. Before loadParameters has sized them (and in tests and
// tools that size them short) a slot may be missing: reads then give `fallback`, writes are
// dropped and the slot pointers are null.
template <typename T>
T* slotOf(std::vector<T>& values, int slot) {
  return slot >= 0 && static_cast<size_t>(slot) < values.size() ? &values[static_cast<size_t>(slot)]
                                                                 : nullptr;
}
template <typename T>
T slotOr(std::vector<T>& values, int slot, T fallback) {
  const T* p = slotOf(values, slot);
  return p ? *p : fallback;
}
template <typename T>
void setSlot(std::vector<T>& values, int slot, T value) {
  if (T* p = slotOf(values, slot)) *p = value;
}
inline bool flagOn(FlagBit bit, bool fallback = false) {
  return static_cast<size_t>(bit) < g_flags.size() ? g_flags[bit] : fallback;
}
inline void setFlagBit(FlagBit bit, bool on) {
  if (static_cast<size_t>(bit) < g_flags.size()) g_flags[bit] = on;
}
inline int32_t* modeStateSlot(ModeSlot slot) { return slotOf(g_modeState, slot); }
inline int32_t modeStateAt(ModeSlot slot, int32_t fallback) { return slotOr(g_modeState, slot, fallback); }
inline void setModeStateAt(ModeSlot slot, int32_t value) { setSlot(g_modeState, slot, value); }
inline float* uiValueSlot(UiValueSlot slot) { return slotOf(g_uiValues, slot); }
inline float uiValueAt(UiValueSlot slot, float fallback) { return slotOr(g_uiValues, slot, fallback); }
inline void setUiValueAt(UiValueSlot slot, float value) { setSlot(g_uiValues, slot, value); }
inline uint32_t* timerSlot(TimerSlot slot) { return slotOf(g_timers, slot); }

extern quillax::Hairs g_hairs;
extern float g_brushWidth;     // width of new strokes, metres
extern float g_splinerLength;  // spliner tool geometry, metres
extern float g_splinerRadius;
extern int32_t g_hairTexture;  // a HairTexture
extern int32_t g_brushShape;   // a BrushShape
extern int32_t g_curvature;    // curvature of new strokes of the default shape

// The closest spacing strokes are sampled at, metres; smaller settings are raised to it.
constexpr float kMinSamplingDistance = 0.001f;
// The largest window width or height; larger settings are brought down to it.
constexpr int32_t kMaxWindowSize = 16384;
// The largest capture image width or height (settings and cameras), for the same reason.
constexpr int32_t kMaxImageSize = kMaxWindowSize;
// The most control points a stroke keeps; larger settings are lowered to it.
constexpr int32_t kMaxControlSamples = 1000;

// Starts the timers, sizes and resets the flag, mode, value and timer vectors, reads
// g_parameters.asset_path() + "parameters.txt", fills absent settings with the code defaults,
// writes the file back and installs the result in g_parameters. A file that exists but cannot
// be read is left untouched and the code defaults are used. Values later code cannot use are
// corrected in g_parameters only; the file keeps what the user wrote.
void loadParameters();

// Maps the UI mode (STATE_UI_MODE) to a tool id, stores it in STATE_CURRENT_TOOL and returns
// it; an unknown mode returns TOOL_NONE and leaves the current tool alone.
int32_t updateCurrentToolId();

// Inverts bit n of g_flags; an index outside the vector is ignored.
void toggleFlag(int32_t n);

// Red, green and blue from the first three components, lightness from the fourth (1 for three
// components); alpha left at its default.
quillax::Color toColorMessage(const Vec3f& color);
quillax::Color toColorMessage(const Vec4f& color);

// Replaces g_currentColor by a copy of `color`.
void setCurrentColor(const quillax::Color& color);
