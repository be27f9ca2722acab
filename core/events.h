#pragma once
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "core/ids.h"

namespace quillax {
class Event;
}

// One queued command: the menu, controller gestures, keys and start-up post them; the dispatcher
// drains them once per frame. Always heap-allocated; the queue owns it once posted.
struct EventRecord {
  EventRecord(int type, int id, std::string name = std::string(), std::vector<float> values = {});
  // type from event_id, id from value, name from filename, values from data.
  explicit EventRecord(const quillax::Event& event);

  int m_type = 0;  // an EventType
  int m_id = 0;
  std::string m_name;
  std::vector<float> m_values;
};

// First-in first-out; every push and pop holds g_eventQueueMutex for that push or pop only.
extern std::deque<EventRecord*> g_eventQueue;
extern std::mutex g_eventQueueMutex;

// Appends the record at the back of the queue and takes ownership. Safe from any thread.
void postEvent(EventRecord* record);
// Pops the front record (the caller owns it), or null when the queue is empty.
EventRecord* popEvent();
// Deletes every queued record without acting on it.
void clearEvents();

// Copies a record into its message form: event_id, value and filename are set, and the values
// are appended to data (entries already there stay).
void toEventMessage(const EventRecord& record, quillax::Event& message);
