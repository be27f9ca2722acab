#include "core/core_object.h"

#include <cmath>
#include <ctime>

namespace {

// The generator's process-wide state.
int64_t g_lastTime = 0;
int32_t g_counter = 0;
int64_t g_lastId = 0;
int64_t (*g_stampSource)() = nullptr;

}  // namespace

coreObject::coreObject() : m_id(static_cast<uint64_t>(generateUniqueId())), m_tag(-1) {
  // During construction the virtual setters are still our own: a subclass's overrides cannot run
  // before its members exist.
  coreObject::reset();
}

void coreObject::reset() {
  m_flags = 0;
  // Bit 3 is set before bit 2 is cleared: overrides may observe this order.
  setVisible(true);
  setSelected(false);
  setFlag3(true);
  setFlag2(false);
  setFlag4(true);
  setFlag5(true);
  setRenderable(true);
  setFlag7(false);
  setFlag8(false);
  setFlag9(false);
  setFlag10(false);
  setRemoved(false);
}

int64_t readSystemTimeStamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  const double year = utc.tm_year + 1900;
  const double date = (year - 2000) * 1e10 + (utc.tm_mon + 1) * 1e8 + utc.tm_mday * 1e6;
  const double time = utc.tm_hour * 10000.0 + utc.tm_min * 100.0 + utc.tm_sec;
  return static_cast<int64_t>(std::trunc(date)) + static_cast<int64_t>(std::trunc(time));
}

int64_t generateUniqueId() {
  const int64_t stamp = g_stampSource ? g_stampSource() : readSystemTimeStamp();
  // Exact in double: the product is a multiple of 32 well inside the 2^55 range.
  const int64_t t = static_cast<int64_t>(static_cast<double>(stamp) * 100000.0);
  if (t != g_lastTime) {
    g_lastTime = t;
    g_counter = 0;
  }
  g_counter = (g_counter + 1) % 100000;
  int64_t id = t + g_counter;
  // A wrapped count or a clock set back would repeat an id and overwrite a saved painting.
  if (id <= g_lastId) id = g_lastId + 1;
  g_lastId = id;
  return id;
}

void setUniqueIdClock(int64_t (*stamp)()) {
  g_stampSource = stamp;
  g_lastTime = 0;
  g_counter = 0;
  g_lastId = 0;
}
