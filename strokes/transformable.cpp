#include "strokes/transformable.h"

#include <algorithm>

namespace {

RigidPose poseOf(const float* frame) {
  RigidPose pose;
  std::copy(frame, frame + 3, pose.translation);
  std::copy(frame + 3, frame + 12, pose.rotation);
  return pose;
}

}  // namespace

void coreTransformable::grab(const float* hand, int count, const float* other, int otherCount) {
  m_handCount = hand ? std::clamp(count, 0, kFrameFloats) : 0;
  m_otherCount = other ? std::clamp(otherCount, 0, kFrameFloats) : 0;
  std::fill(m_handStart, m_handStart + kFrameFloats, 0.0f);
  std::fill(m_otherStart, m_otherStart + kFrameFloats, 0.0f);
  if (m_handCount) std::copy(hand, hand + m_handCount, m_handStart);
  if (m_otherCount) std::copy(other, other + m_otherCount, m_otherStart);
  m_transform = Matrix4();
}

void coreTransformable::deltaTransform(const float* hand, const float* /*ignored*/,
                                       const float* other) {
  if (!hand || m_handCount < 3) return;
  if (m_mode == 1) {
    if (m_fullRotation && m_handCount == kFrameFloats) {
      multiplyTransform3x4(m_transform, poseOf(m_handStart), poseOf(hand));
    } else {
      const float unit[3] = {1.0f, 1.0f, 1.0f};
      const float none[3] = {0.0f, 0.0f, 0.0f};
      const float move[3] = {hand[0] - m_handStart[0], hand[1] - m_handStart[1],
                             hand[2] - m_handStart[2]};
      m_transform = Matrix4();
      transformMatrix4(m_transform, unit, move, none);
    }
  } else if (m_mode >= 2 && m_twoHand && other && m_otherCount >= 3) {
    alignSegmentTransform(m_transform, m_handStart, hand, m_otherStart, other, m_noUniformScale);
  }
}
