#include "core/core_object.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::string g_calls;

#define RECORD(setter, name) \
  void setter(bool on) override { g_calls += std::string(name) + (on ? "+" : "-"), coreObject::setter(on); }

// Records the setters that reach it, to see which ones reset runs and in which order.
class RecordingObject : public coreObject {
 public:
  RECORD(setVisible, "V") RECORD(setSelected, "S") RECORD(setFlag2, "2") RECORD(setFlag3, "3")
  RECORD(setFlag4, "4") RECORD(setFlag5, "5") RECORD(setRenderable, "R") RECORD(setFlag7, "7")
  RECORD(setFlag8, "8") RECORD(setFlag9, "9") RECORD(setFlag10, "A") RECORD(setRemoved, "X")
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
  void (coreObject::*const sets[12])(bool) = {
      &coreObject::setVisible, &coreObject::setSelected, &coreObject::setFlag2,      &coreObject::setFlag3,
      &coreObject::setFlag4,   &coreObject::setFlag5,    &coreObject::setRenderable, &coreObject::setFlag7,
      &coreObject::setFlag8,   &coreObject::setFlag9,    &coreObject::setFlag10,     &coreObject::setRemoved};
  for (int bit = 0; bit < 12; ++bit) {
    object.m_flags = 0;
    (object.*sets[bit])(true);
    const uint32_t on = object.m_flags;
    object.m_flags = 0xFFFF;
    (object.*sets[bit])(false);
    EXPECT_EQ(std::make_pair(on, uint32_t{object.m_flags}), std::make_pair(1u << bit, 0xFFFF & ~(1u << bit))) << bit;
  }
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

TEST_F(UniqueId, UtcStampTimesHundredThousandPlusCountNeverRepeated) {
  g_fakeStamp = 261206212341;  // 2026-12-06 21:23:41
  const int64_t base = 26120621234100000;
  EXPECT_EQ(generateUniqueId(), base + 1);
  g_fakeStamp = 261206212342;
  EXPECT_EQ(coreObject().m_id, 26120621234200001u);
  EXPECT_EQ(generateUniqueId(), 26120621234200002);

  // A burst of 200,000 within one second: the count would have wrapped twice; ids carry on upward.
  setUniqueIdClock(fakeStamp);
  g_fakeStamp = 261206212341;
  int64_t last = 0;
  for (int i = 1; i <= 200000; ++i) {
    const int64_t id = generateUniqueId();
    ASSERT_GT(id, last) << "call " << i;
    last = id;
  }
  EXPECT_EQ(last, base + 200000);
  // The next second is used up already, and a clock set back an hour reuses nothing; far enough
  // ahead, the normal layout returns.
  for (const auto& [stamp, id] : {std::pair<int64_t, int64_t>{261206212342, base + 200001},
                                  {261206202342, base + 200002}, {261206212400, 26120621240000001}}) {
    g_fakeStamp = stamp;
    EXPECT_EQ(generateUniqueId(), id) << stamp;
  }
}

TEST(UniqueIdSystemClock, IdsCarryTheCurrentUtcSecond) {
  const int64_t before = readSystemTimeStamp(), id = generateUniqueId();
  EXPECT_GE(before / 10000000000, 24);  // YY
  EXPECT_TRUE(id / 100000 >= before && id / 100000 <= readSystemTimeStamp()) << id << " at " << before;
}
