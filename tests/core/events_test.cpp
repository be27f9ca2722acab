#include "core/events.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
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
  seen.reserve(kCount);
  while (true) {
    const bool finished = done.load();
    while (EventRecord* record = popEvent()) {
      seen.push_back(record->m_id);
      delete record;
    }
    if (finished) break;
  }
  poster.join();
  ASSERT_EQ(seen.size(), static_cast<size_t>(kCount));
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(seen[i], i);
  EXPECT_EQ(popEvent(), nullptr);
  postEvent(nullptr);  // ignored, never queued
  EXPECT_EQ(popEvent(), nullptr);
}

TEST(EventQueue, RecordsAndMessagesConvertBothWays) {
  const EventRecord record(4, 0, "paint.txt", {0.1f, 0.2f, 0.3f, 0.9f});
  quillax::Event message;
  message.add_data(7.0f);  // entries already there stay
  toEventMessage(record, message);
  EXPECT_EQ(message.event_id(), 4);
  EXPECT_EQ(message.value(), 0);
  EXPECT_EQ(message.filename(), "paint.txt");
  ASSERT_EQ(message.data_size(), 5);
  EXPECT_FLOAT_EQ(message.data(0), 7.0f);
  EXPECT_FLOAT_EQ(message.data(4), 0.9f);

  quillax::Event fresh;
  toEventMessage(record, fresh);
  const EventRecord back(fresh);
  EXPECT_EQ(back.m_type, record.m_type);
  EXPECT_EQ(back.m_id, record.m_id);
  EXPECT_EQ(back.m_name, record.m_name);
  EXPECT_EQ(back.m_values, record.m_values);
}
