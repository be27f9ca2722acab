#include "core/events.h"

#include "quillax.pb.h"

std::deque<EventRecord*> g_eventQueue;
std::mutex g_eventQueueMutex;

EventRecord::EventRecord(int type, int id, std::string name, std::vector<float> values)
    : m_type(type), m_id(id), m_name(std::move(name)), m_values(std::move(values)) {}

EventRecord::EventRecord(const quillax::Event& event)
    : m_type(event.event_id()),
      m_id(event.value()),
      m_name(event.filename()),
      m_values(event.data().begin(), event.data().end()) {}

void postEvent(EventRecord* record) {
  if (!record) return;
  std::lock_guard<std::mutex> lock(g_eventQueueMutex);
  g_eventQueue.push_back(record);
}

EventRecord* popEvent() {
  std::lock_guard<std::mutex> lock(g_eventQueueMutex);
  if (g_eventQueue.empty()) return nullptr;
  EventRecord* front = g_eventQueue.front();
  g_eventQueue.pop_front();
  return front;
}

void clearEvents() {
  while (EventRecord* record = popEvent()) delete record;
}

void toEventMessage(const EventRecord& record, quillax::Event& message) {
  message.set_event_id(record.m_type);
  message.set_value(record.m_id);
  message.set_filename(record.m_name);
  for (float value : record.m_values) message.add_data(value);
}
