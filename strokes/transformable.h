#pragma once
#include "core/matrix.h"

// A move made with the hands: the hands' frames at the grab, and the transform accumulated since,
// recomputed from the start frames at each step. Hand frames are 12 floats: the position, then
// the x, y and z axes.
class coreTransformable {
 public:
  virtual ~coreTransformable() = default;

  // Stores both hands' start frames (count and otherCount floats, at most 12 kept; other may be
  // null) and resets the accumulated transform to the identity.
  void grab(const float* hand, int count, const float* other, int otherCount);
  // Mode 1: the translation by the drawing hand's move, or with full rotation the rigid motion
  // of its frame. Mode 2 and above, with two-hand transforms: the segment between the hands at
  // the grab carried onto the segment now, scaled by the change of its length unless uniform
  // scale is suppressed. Anything else, or a hand frame missing, leaves the transform as it is.
  void deltaTransform(const float* hand, const float* ignored, const float* other);

  static constexpr int kFrameFloats = 12;
  float m_handStart[kFrameFloats] = {};
  int m_handCount = 0;
  float m_otherStart[kFrameFloats] = {};
  int m_otherCount = 0;
  int m_mode = 0;
  bool m_twoHand = true;         // two-hand transforms allowed
  bool m_noUniformScale = true;  // the two-hand transform keeps its scale
  bool m_fullRotation = true;    // a one-hand transform turns with the hand
  bool m_fourth = true;
  Matrix4 m_transform;  // accumulated since the grab
};
