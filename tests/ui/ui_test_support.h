#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "app/dispatcher.h"
#include "core/events.h"
#include "quillax.pb.h"
#include "ui/widget.h"

// What the widgets posted, drained from the queue, as "type id [values]" lines.
inline std::vector<std::string> takeEvents() {
  std::vector<std::string> out;
  while (EventRecord* record = popEvent()) {
    std::string line = std::to_string(record->m_type) + " " + std::to_string(record->m_id);
    if (!record->m_values.empty()) {
      line += " [";
      for (size_t i = 0; i < record->m_values.size() && i < 6; ++i) {
        char value[32];
        std::snprintf(value, sizeof(value), i ? " %g" : "%g", record->m_values[i]);
        line += value;
      }
      if (record->m_values.size() > 6) line += " ... " + std::to_string(record->m_values.size());
      line += "]";
    }
    out.push_back(line);
    delete record;
  }
  return out;
}

// Posts the records and dispatches them, as a frame does.
inline void dispatchRecords(std::initializer_list<EventRecord> records) {
  for (const EventRecord& record : records) postEvent(new EventRecord(record));
  dispatchEvents();
}

// A widget description of a type with a name, an identity-sized transform and optional events.
inline quillax::WidgetParam widgetParam(int type, const std::string& name) {
  quillax::WidgetParam param;
  param.set_type(type);
  param.set_name(name);
  return param;
}
// Sets a widget's click or move event to a type and an id.
inline void setEvent(quillax::Event* event, int type, int id) {
  event->set_event_id(type);
  event->set_value(id);
}

// A widget made from a description, with the triggers it built (which it does not own).
struct BuiltWidget {
  explicit BuiltWidget(const quillax::WidgetParam& param, UIWidget* owner = nullptr)
      : widget(createWidget(owner, param)) {
    if (widget) widget->collectWidgets(triggers);
  }
  ~BuiltWidget() {
    for (UIWidget* trigger : triggers) delete trigger;
  }
  std::unique_ptr<UIWidget> widget;
  std::vector<UIWidget*> triggers;
};
