#include "core/core_object.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> g_calls;

// Records every setter that reaches it, to see which ones reset runs and in which order.
class RecordingObject : public coreObject {
 public:
  void setVisible(bool on) override { log("visible", on), coreObject::setVisible(on); }
  void setSelected(bool on) override { log("selected", on), coreObject::setSelected(on); }
  void setFlag2(bool on) override { log("2", on), coreObject::setFlag2(on); }
  void setFlag3(bool on) override { log("3", on), coreObject::setFlag3(on); }
  void setFlag4(bool on) override { log("4", on), coreObject::setFlag4(on); }
  void setFlag5(bool on) override { log("5", on), coreObject::setFlag5(on); }
  void setRenderable(bool on) override { log("renderable", on), coreObject::setRenderable(on); }
  void setFlag7(bool on) override { log("7", on), coreObject::setFlag7(on); }
  void setFlag8(bool on) override { log("8", on), coreObject::setFlag8(on); }
  void setFlag9(bool on) override { log("9", on), coreObject::setFlag9(on); }
  void setFlag10(bool on) override { log("10", on), coreObject::setFlag10(on); }
  void setRemoved(bool on) override { log("removed", on), coreObject::setRemoved(on); }

 private:
  static void log(const char* name, bool on) { g_calls.push_back(std::string(name) + (on ? "+" : "-")); }
};

int64_t g_fakeStamp = 0;
int64_t fakeStamp() { return g_fakeStamp; }

// Each test that fakes the clock gives the system clock back, with a fresh generator.
class UniqueId : public ::testing::Test {
 protected:
  void SetUp() override { setUniqueIdClock(fakeStamp); }
  void TearDown() override { setUniqueIdClock(nullptr); }
};

}  // namespace

TEST(CoreObject, NewObjectHasDefaultFlagsTagAndId) {
  coreObject object;
  EXPECT_EQ(object.m_flags, 0x0079);
  EXPECT_EQ(object.m_tag, -1);
  EXPECT_NE(object.m_id, 0u);
  EXPECT_TRUE(object.isVisible() && object.getFlag3() && object.getFlag4() && object.getFlag5() &&
              object.isRenderable());
  EXPECT_FALSE(object.isSelected() || object.getFlag2() || object.isRemoved());
}

TEST(CoreObject, EachSetterChangesOnlyItsOwnBit) {
  using Get = bool (coreObject::*)() const;
  using Set = void (coreObject::*)(bool);
  const Get gets[12] = {&coreObject::isVisible, &coreObject::isSelected, &coreObject::getFlag2,
                        &coreObject::getFlag3,  &coreObject::getFlag4,   &coreObject::getFlag5,
                        &coreObject::isRenderable, &coreObject::getFlag7, &coreObject::getFlag8,
                        &coreObject::getFlag9,  &coreObject::getFlag10,  &coreObject::isRemoved};
  const Set sets[12] = {&coreObject::setVisible, &coreObject::setSelected, &coreObject::setFlag2,
                        &coreObject::setFlag3,   &coreObject::setFlag4,    &coreObject::setFlag5,
                        &coreObject::setRenderable, &coreObject::setFlag7, &coreObject::setFlag8,
                        &coreObject::setFlag9,   &coreObject::setFlag10,   &coreObject::setRemoved};
  coreObject object;
  for (int bit = 0; bit < 12; ++bit) {
    SCOPED_TRACE(bit);
    for (uint16_t word : {uint16_t(0x0000), uint16_t(0xFFFF), uint16_t(0xA5A5)}) {
      object.m_flags = word;
      (object.*sets[bit])(true);
      EXPECT_EQ(object.m_flags, word | (1u << bit));
      EXPECT_TRUE((object.*gets[bit])());
      (object.*sets[bit])(true);  // setting a set bit changes nothing
      EXPECT_EQ(object.m_flags, word | (1u << bit));
      object.m_flags = word;
      (object.*sets[bit])(false);
      EXPECT_EQ(object.m_flags, word & ~(1u << bit));
      EXPECT_FALSE((object.*gets[bit])());
    }
  }
}

TEST(CoreObject, ResetClearsSubclassBitsAndRunsOverridesInOrder) {
  g_calls.clear();
  RecordingObject object;
  // The subclass does not exist yet while the base constructor resets: no override runs.
  EXPECT_TRUE(g_calls.empty());
  EXPECT_EQ(object.m_flags, 0x0079);

  object.m_flags = 0xF000 | 0x0002 | 0x0800;
  object.reset();
  EXPECT_EQ(object.m_flags, 0x0079);
  const std::vector<std::string> expected = {"visible+", "selected-", "3+", "2-", "4+", "5+",
                                             "renderable+", "7-", "8-", "9-", "10-", "removed-"};
  EXPECT_EQ(g_calls, expected);
}

TEST_F(UniqueId, IdIsUtcStampTimesHundredThousandPlusCount) {
  g_fakeStamp = 261206212341;  // 2026-12-06 21:23:41
  EXPECT_EQ(generateUniqueId(), 26120621234100001);
  EXPECT_EQ(generateUniqueId(), 26120621234100002);
  g_fakeStamp = 261206212342;
  EXPECT_EQ(generateUniqueId(), 26120621234200001);
  coreObject object;
  EXPECT_EQ(object.m_id, 26120621234200002u);
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

  // The real next second is already used up: still upward.
  g_fakeStamp = 261206212342;
  EXPECT_EQ(generateUniqueId(), base + 200001);
  // A clock set back by an hour does not reuse that hour's ids.
  g_fakeStamp = 261206202342;
  EXPECT_EQ(generateUniqueId(), base + 200002);

  // Far enough ahead, the normal layout returns.
  g_fakeStamp = 261206212400;
  EXPECT_EQ(generateUniqueId(), 26120621240000001);
}

TEST(UniqueIdSystemClock, IdsCarryTheCurrentUtcSecondAndStayUnique) {
  const int64_t before = readSystemTimeStamp();
  const int64_t first = generateUniqueId();
  const int64_t after = readSystemTimeStamp();
  EXPECT_GE(first / 100000, before);
  EXPECT_LE(first / 100000, after);
  // YYMMDDhhmmss: plausible fields.
  EXPECT_GE(before / 10000000000, 24);
  const int64_t month = before / 100000000 % 100, day = before / 1000000 % 100;
  EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31);
  EXPECT_LT(before % 1000000 / 10000, 24);

  int64_t last = first;
  for (int i = 0; i < 200000; ++i) {
    const int64_t id = generateUniqueId();
    ASSERT_GT(id, last);
    last = id;
  }
}
