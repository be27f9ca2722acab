#include "core/events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <tuple>
#include <vector>

#include "quillax.pb.h"

// The window thread posts key records while the main thread drains: every record must arrive
// exactly once and in the order it was posted.
TEST(EventQueue, PostsFromAnotherThreadArriveOnceAndInOrderWhileDraining) {
  clearEvents();
  constexpr int kCount = 20000;
  std::atomic<bool> done{false};
  std::thread poster([&] {
    for (int i = 0; i < kCount; ++i) postEvent(new EventRecord(12, i));
    done = true;
  });
  std::vector<int> seen;
  for (bool finished = false; !finished;) {
    finished = done.load();
    while (EventRecord* record = popEvent()) {
      seen.push_back(record->m_id);
      delete record;
    }
  }
  poster.join();
  ASSERT_EQ(seen.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(seen[i], i);
  postEvent(nullptr);  // ignored, never queued
  EXPECT_EQ(popEvent(), nullptr);
}

TEST(EventQueue, RecordsAndMessagesConvertBothWays) {
  const EventRecord record(4, 0, "paint.txt", {0.1f, 0.2f, 0.3f, 0.9f});
  quillax::Event message;
  toEventMessage(record, message);
  EXPECT_TRUE(message.has_value());  // a zero id is still sent
  const EventRecord back(message);
  EXPECT_EQ(std::tie(back.m_type, back.m_id, back.m_name, back.m_values),
            std::tie(record.m_type, record.m_id, record.m_name, record.m_values));
  // Values already in the message stay ahead of the appended ones.
  toEventMessage(record, message);
  ASSERT_EQ(message.data_size(), 8);
  EXPECT_FLOAT_EQ(message.data(4), 0.1f);
}
