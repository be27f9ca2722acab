#pragma once
#include <cstdint>
#include <vector>

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
};
extern std::vector<bool> g_flags;
// [0] current tool id, [1] previous frame's tool id, [2] UI mode, [3] hair id, [5] fit
// iteration, [6] draw counter, [8] spin start index; 11 entries after loadParameters.
extern std::vector<int32_t> g_modeState;
// [1] sphere radius, [2]/[3] camera tool values, [4]/[5] eye target size, [8] pointer length,
// [9] suggestion opacity, [10] spin start fraction; 13 entries after loadParameters.
extern std::vector<float> g_uiValues;
// Millisecond stamps of platform::timeGetTime: [0] brush-state save, [1] project autosave,
// [3] suggestion step; 5 entries after loadParameters.
extern std::vector<uint32_t> g_timers;

extern quillax::Hairs g_hairs;
extern float g_brushWidth;     // width of new strokes, metres
extern float g_splinerLength;  // spliner tool geometry, metres
extern float g_splinerRadius;
extern int32_t g_hairTexture;  // 0 pen, 1 dense, 2 middle, 3 sparse
extern int32_t g_brushShape;   // 0 default, 1 attach, 2 spin, 3 braid, 4 hint
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

// Maps the UI mode (g_modeState[2]) to a tool id, stores it in g_modeState[0] and returns it;
// an unknown mode returns -1 and leaves g_modeState[0] alone.
int32_t updateCurrentToolId();

// Inverts bit n of g_flags; an index outside the vector is ignored.
void toggleFlag(int32_t n);

// Red, green and blue from the first three components, lightness from the fourth (1 for three
// components); alpha left at its default.
quillax::Color toColorMessage(const Vec3f& color);
quillax::Color toColorMessage(const Vec4f& color);

// Replaces g_currentColor by a copy of `color`.
void setCurrentColor(const quillax::Color& color);
