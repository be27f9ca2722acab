#pragma once
#include <cstdint>
#include <map>
#include <vector>

#include "core/core_object.h"
#include "core/matrix.h"
#include "quillax.pb.h"

class CameraModel;
class ModelElement;

// Keys of the tool geometries.
enum ShooterGeometry {
  GEOMETRY_UI_PANEL = 0,    // the icon card, a textured unit square in the x-z plane
  GEOMETRY_UI_CUBE = 1,     // the wire double pyramid marking the move, deform and transform tools
  GEOMETRY_UI_SPHERE = 2,   // the selection sphere
  GEOMETRY_UI_POINTER = 3,  // the ray towards the menu
  GEOMETRY_UI_BRUSHER = 4,  // the brush's cross-section
  GEOMETRY_UI_SPLINER = 5,  // the helix of the spin and braid shapes
  GEOMETRY_CAMERA = 6,      // "cameraMain", the camera tool's own capture camera
};

// The vertices of the tool geometries (x, y, z per vertex; the card also u, v), metres in the
// drawing hand's frame. Pure functions of their arguments, so they can be checked without GL.
std::vector<float> cardVertices();
// Twelve segments (24 vertices) of a double pyramid inside the unit cube.
std::vector<float> doublePyramidVertices();
// Segments of a wire unit sphere: 7 x 8 (j, k) pairs, two segments each.
std::vector<float> wireSphereVertices();
// From 0.02 to 0.05 + max(0, length) in front of the hand (along -z).
std::vector<float> pointerVertices(float length);
// The profile of curvature c (g_curveProfiles[c + 23]) scaled by width, 0.05 in front of the
// hand, as |c| + 1 segments; empty for a curvature without a profile.
std::vector<float> brusherVertices(int32_t curvature, float width);
// n = int(length x 1000) points of a helix of the given radius, k = 0.3 / samplingDistance.
std::vector<float> splinerVertices(float length, float radius, float samplingDistance);

// The curvature the brush shape draws with: attach 2, braid 23, else g_curvature.
int32_t brushShapeCurvature();
// The interaction table of the tools 0 to 8, appended to ui's interactions.
void buildDefaultInteractions(quillax::UIParam& ui);
// Clamps value to [low, high] into *current unless it moves by less than 0.001; true when it
// changed.
bool updateSwipeValue(float value, float low, float high, float* current);

// What the drawing hand holds: the pointer ray, the tool's card or shape, the brush's
// cross-section, the helix preview and the selection sphere, chosen by the interaction of the
// current tool. It also owns the values that touchpad swipes change. Main thread; the builders
// and render need the GL context.
class Shooter : public coreObject {
 public:
  Shooter() = default;
  ~Shooter() override;
  Shooter(const Shooter&) = delete;
  Shooter& operator=(const Shooter&) = delete;

  // Fills ui's interactions with the default table when it has none, loads every icon once,
  // copies the interactions and builds every geometry.
  void init(quillax::UIParam& ui);
  // handPose: the drawing hand's device matrix; viewProjection column-major.
  void render(const Matrix4& handPose, const Matrix4& viewProjection);

  void buildBaseGeometries();
  void buildPointerGeometry();
  void buildBrusherGeometry();
  void buildSplinerGeometry();
  void buildSphereGeometry();
  // The camera tool's camera with the tool's near and far (VALUE_CAMERA_NEAR and VALUE_CAMERA_FAR): made once, held
  // 0.05 in front of the hand with its image plane above it, shown selected; later only its
  // frame is rebuilt.
  void buildCameraGeometry();

  // The swipe values: what a swipe edits follows what was drawn in the last frame (the brusher,
  // else the sphere, else the camera). False, and nothing set, when none of them was drawn.
  bool getPrimaryValue(float& value, float& step);
  void setPrimaryValue(float value);
  bool getSecondaryValue(float& value, float& step);
  void setSecondaryValue(float value);

  ModelElement* getGeometry(int32_t key) const;
  ModelElement* pointerGeometry() { return entry(GEOMETRY_UI_POINTER); }
  ModelElement* brusherGeometry() { return entry(GEOMETRY_UI_BRUSHER); }
  ModelElement* splinerGeometry() { return entry(GEOMETRY_UI_SPLINER); }
  ModelElement* cameraGeometry() { return entry(GEOMETRY_CAMERA); }
  // The camera geometry as a camera, null when there is none.
  CameraModel* toolCamera() const;

  std::map<int32_t, ModelElement*> m_geometries;  // owned
  std::map<int32_t, std::vector<int32_t>> m_modeState;
  std::map<int32_t, quillax::InteractionParam> m_interactions;

 private:
  // The entry of a key, made empty (null) when missing.
  ModelElement* entry(int32_t key) { return m_geometries[key]; }
  // The geometry of a key, created and named when missing.
  ModelElement* element(int32_t key);
  bool drawn(int32_t key) const;
  // A line geometry of shader row 0 in the current brush colour.
  void uploadLines(int32_t key, const std::vector<float>& vertices, unsigned primitive);
};
