#include "core/core_object.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string g_calls;

// Records the setters that reach it, to see which ones reset runs and in which order.
class RecordingObject : public coreObject {
 public:
  void setVisible(bool on) override { log("V", on), coreObject::setVisible(on); }
  void setSelected(bool on) override { log("S", on), coreObject::setSelected(on); }
  void setFlag2(bool on) override { log("2", on), coreObject::setFlag2(on); }
  void setFlag3(bool on) override { log("3", on), coreObject::setFlag3(on); }
  void setFlag4(bool on) override { log("4", on), coreObject::setFlag4(on); }
  void setFlag5(bool on) override { log("5", on), coreObject::setFlag5(on); }
  void setRenderable(bool on) override { log("R", on), coreObject::setRenderable(on); }
  void setFlag7(bool on) override { log("7", on), coreObject::setFlag7(on); }
  void setFlag8(bool on) override { log("8", on), coreObject::setFlag8(on); }
  void setFlag9(bool on) override { log("9", on), coreObject::setFlag9(on); }
  void setFlag10(bool on) override { log("A", on), coreObject::setFlag10(on); }
  void setRemoved(bool on) override { log("X", on), coreObject::setRemoved(on); }

 private:
  static void log(const char* name, bool on) { g_calls += std::string(name) + (on ? "+" : "-"); }
};

int64_t g_fakeStamp = 0;
int64_t fakeStamp() { return g_fakeStamp; }

// Fakes the clock; gives the system clock back, with a fresh generator.
class UniqueId : public ::testing::Test {
 protected:
  void SetUp() override { setUniqueIdClock(fakeStamp); }
  void TearDown() override { setUniqueIdClock(nullptr); }
};

}  // namespace

TEST(CoreObject, NewObjectFlagsAndEachSetterOwnsOneBit) {
  coreObject object;
  EXPECT_EQ(object.m_flags, 0x0079);
  EXPECT_EQ(object.m_tag, -1);
  EXPECT_NE(object.m_id, 0u);

  void (coreObject::*const sets[12])(bool) = {
      &coreObject::setVisible, &coreObject::setSelected,   &coreObject::setFlag2, &coreObject::setFlag3,
      &coreObject::setFlag4,   &coreObject::setFlag5,      &coreObject::setRenderable, &coreObject::setFlag7,
      &coreObject::setFlag8,   &coreObject::setFlag9,      &coreObject::setFlag10, &coreObject::setRemoved};
  for (int bit = 0; bit < 12; ++bit) {
    for (uint16_t word : {uint16_t(0x0000), uint16_t(0xFFFF)}) {
      object.m_flags = word;
      (object.*sets[bit])(true);
      EXPECT_EQ(object.m_flags, word | (1u << bit)) << bit;
      object.m_flags = word;
      (object.*sets[bit])(false);
      EXPECT_EQ(object.m_flags, word & ~(1u << bit)) << bit;
    }
  }
  object.m_flags = 0xFFFF;
  EXPECT_TRUE(object.isRemoved() && object.getFlag7() && object.isRenderable());
}

TEST(CoreObject, ResetClearsSubclassBitsAndRunsOverridesInOrder) {
  g_calls.clear();
  RecordingObject object;
  // While the base constructor resets, the subclass does not exist yet: no override runs.
  EXPECT_EQ(g_calls, "");
  object.m_flags = 0xF802;
  object.reset();
  EXPECT_EQ(object.m_flags, 0x0079);
  EXPECT_EQ(g_calls, "V+S-3+2-4+5+R+7-8-9-A-X-");  // bit 3 set before bit 2 cleared
}

TEST_F(UniqueId, IdIsUtcStampTimesHundredThousandPlusCount) {
  g_fakeStamp = 261206212341;  // 2026-12-06 21:23:41
  EXPECT_EQ(generateUniqueId(), 26120621234100001);
  EXPECT_EQ(generateUniqueId(), 26120621234100002);
  g_fakeStamp = 261206212342;
  EXPECT_EQ(generateUniqueId(), 26120621234200001);
  EXPECT_EQ(coreObject().m_id, 26120621234200002u);
}

TEST_F(UniqueId, NeverRepeatsOverABurstOrWhenTheClockStepsBack) {
  g_fakeStamp = 261206212341;
  const int64_t base = 26120621234100000;
  int64_t last = 0;
  for (int i = 1; i <= 200000; ++i) {
    const int64_t id = generateUniqueId();
    ASSERT_GT(id, last) << "call " << i;
    last = id;
  }
  // The count would have wrapped twice; ids carried on upward instead.
  EXPECT_EQ(last, base + 200000);
  // The next second is used up already, and a clock set back an hour reuses nothing.
  g_fakeStamp = 261206212342;
  EXPECT_EQ(generateUniqueId(), base + 200001);
  g_fakeStamp = 261206202342;
  EXPECT_EQ(generateUniqueId(), base + 200002);
  // Far enough ahead, the normal layout returns.
  g_fakeStamp = 261206212400;
  EXPECT_EQ(generateUniqueId(), 26120621240000001);
}

TEST(UniqueIdSystemClock, IdsCarryTheCurrentUtcSecondAndStayUnique) {
  const int64_t before = readSystemTimeStamp();
  int64_t last = generateUniqueId();
  EXPECT_GE(last / 100000, before);
  EXPECT_LE(last / 100000, readSystemTimeStamp());
  EXPECT_GE(before / 10000000000, 24);  // YY
  for (int i = 0; i < 200000; ++i) {
    const int64_t id = generateUniqueId();
    ASSERT_GT(id, last);
    last = id;
  }
}
