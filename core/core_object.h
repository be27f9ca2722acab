#pragma once
#include <cstdint>

// Root of the object tree: a flag word behind virtual get/set pairs, a process-wide unique id and
// a free tag. Setters are virtual so that a subclass can make a flag travel (to children, say),
// and reset goes through them so those overrides run on a reset too.
class coreObject {
 public:
  coreObject();
  virtual ~coreObject() = default;

  // Clears the whole word (bits 12 to 15 included), then sets each default through the setters.
  virtual void reset();
  virtual void setId(uint64_t id) { m_id = id; }
  virtual void setTag(int32_t tag) { m_tag = tag; }

  virtual bool isVisible() const { return getBit(0); }
  virtual void setVisible(bool on) { setBit(0, on); }
  virtual bool isSelected() const { return getBit(1); }
  virtual void setSelected(bool on) { setBit(1, on); }
  // Drawn in the current frame; also the deform selection's mark.
  virtual bool getFlag2() const { return getBit(2); }
  virtual void setFlag2(bool on) { setBit(2, on); }
  // A widget reacts to presses only while set.
  virtual bool getFlag3() const { return getBit(3); }
  virtual void setFlag3(bool on) { setBit(3, on); }
  // Owned: a history deletes an entry it drops only while set.
  virtual bool getFlag4() const { return getBit(4); }
  virtual void setFlag4(bool on) { setBit(4, on); }
  virtual bool getFlag5() const { return getBit(5); }
  virtual void setFlag5(bool on) { setBit(5, on); }
  virtual bool isRenderable() const { return getBit(6); }
  virtual void setRenderable(bool on) { setBit(6, on); }
  // Chained: undone and redone together with the history entry before it.
  virtual bool getFlag7() const { return getBit(7); }
  virtual void setFlag7(bool on) { setBit(7, on); }
  virtual bool getFlag8() const { return getBit(8); }
  virtual void setFlag8(bool on) { setBit(8, on); }
  // On a stroke buffer: draws the suggested hairstyle.
  virtual bool getFlag9() const { return getBit(9); }
  virtual void setFlag9(bool on) { setBit(9, on); }
  // Geometry changed: vertices must be written into the render buffer again.
  virtual bool getFlag10() const { return getBit(10); }
  virtual void setFlag10(bool on) { setBit(10, on); }
  virtual bool isRemoved() const { return getBit(11); }
  virtual void setRemoved(bool on) { setBit(11, on); }

  // Bits 0 to 11 are the flags above; 12 to 15 belong to subclasses (strokes use 13 and 15).
  uint16_t m_flags = 0;
  uint64_t m_id = 0;
  int32_t m_tag = -1;

 protected:
  bool getBit(int bit) const { return (m_flags >> bit) & 1u; }
  void setBit(int bit, bool on) {
    if (on)
      m_flags = static_cast<uint16_t>(m_flags | (1u << bit));
    else
      m_flags = static_cast<uint16_t>(m_flags & ~(1u << bit));
  }
};

// Current UTC date and time as the integer YYMMDDhhmmss (seconds resolution).
int64_t readSystemTimeStamp();

// Ids are the UTC time YYMMDDhhmmss followed by a five-digit count within that second.
// Painting files are named by these ids, so an id is never given twice in a run: when the count
// would wrap within one second, or the clock steps back, ids go on upward from the last one.
// Main thread only (unguarded process-wide state).
int64_t generateUniqueId();

// Test seam: ids are taken from this clock (YYMMDDhhmmss) instead of the system's; null restores
// the system clock. Either way the generator starts afresh, as at process start.
void setUniqueIdClock(int64_t (*stamp)());
