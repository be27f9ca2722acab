#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/events.h"
#include "core/matrix.h"
#include "core/vec.h"
#include "render/model_render.h"

namespace quillax {
class WidgetParam;
}

// Widget types, the factory's numbers as stored in a description; a plain UIWidget is 7.
enum WidgetType {
  WIDGET_CLICK_BUTTON = 0,
  WIDGET_SWITCH_BUTTON = 1,
  WIDGET_COLOR_WHEEL = 2,
  WIDGET_CONTAINER = 3,
  WIDGET_GROUP_CONTAINER = 4,
  WIDGET_SPLINE_EDITOR = 5,
  WIDGET_MODEL_RENDER = 6,
  WIDGET_PLAIN = 7,
};

// Where the widget pictures live, under the asset path: the two 8 x 8 icon atlases (type-1
// textures, active first), and the marker's cell in them (u, v, width, height).
extern const char* const kActiveIconAtlas;
extern const char* const kInactiveIconAtlas;
extern const Vec4f kMarkerIconRect;
// The icon rect of a widget that has none.
extern const Vec4f kNoIcon;

// One widget of the VR menu: a textured unit quad (0..1 in x and y, z 0) placed by m_transform
// in the frame of whatever draws it. Flags: bit 0 active, bit 1 hovered (set by the last hit
// test), bit 3 interactive, bit 6 shown. Commands leave as EventRecords posted to the queue.
class UIWidget : public ModelRender {
 public:
  // Made in code: identity transform, no events, inactive.
  UIWidget(const std::string& name, const Vec4f& iconRect, const std::string& textureImage,
           const Vec4f& color);
  // Made from a description; its triggers are built too (with no owner) but not owned.
  UIWidget(UIWidget* owner, const quillax::WidgetParam& param);
  ~UIWidget() override;

  // Active flag; triggers are shown exactly while their widget is active.
  void setVisible(bool on) override;
  // Icon atlases (or the texture image) into the slots and the quad uploaded; triggers and
  // markers build theirs too. Needs a GL context.
  void buildGeometry() override;
  // parent and viewProjection column-major. Triggers are drawn in the parent's frame (identity),
  // markers in this widget's.
  void render(const Matrix4& parent, const Matrix4& viewProjection) override;

  virtual void toParam(quillax::WidgetParam& param) const;
  virtual UIWidget* findByName(const std::string& name);
  // Appends every trigger (depth first, each before its own triggers); returns how many.
  virtual int collectWidgets(std::vector<UIWidget*>& widgets);
  virtual void setActive(int32_t state);
  // Ray (origin, direction) against the quad under parent x m_transform, front side only. On a
  // hit, hit = (distance along direction, u along the quad's x edge, v along its y edge) and the
  // widget (for containers the deepest one hit) is returned; null otherwise.
  virtual UIWidget* hitTest(const Vec3f& origin, const Vec3f& direction, const Matrix4& parent,
                            Vec3f& hit);
  virtual void click(bool post);
  virtual void press(bool post);
  // state: 0 trigger pressed, 1 held, 2 released; other values take none of those branches.
  virtual void drag(float u, float v, int32_t state) { (void)u, (void)v, (void)state; }

  // The trigger is hidden and listed; it is not owned.
  void addTrigger(UIWidget* trigger);
  // A small square marker centred on (x, y) of the unit square, size relative to the widget.
  void addMarker(float x, float y, float size, float z);
  void setLayout(float x, float y, float z, float width, float height);
  void setClickEvent(EventRecord* event) { m_clickEvent.reset(event); }
  void setMoveEvent(EventRecord* event) { m_moveEvent.reset(event); }

  int32_t m_type = WIDGET_PLAIN;
  std::unique_ptr<EventRecord> m_clickEvent;
  std::unique_ptr<EventRecord> m_moveEvent;
  Vec4f m_iconRect = kNoIcon;
  std::string m_textureImage;
  Matrix4 m_transform;
  bool m_depthFixed = false;
  bool m_dripable = false;
  UIWidget* m_owner = nullptr;
  std::vector<UIWidget*> m_triggers;
  std::vector<std::unique_ptr<UIWidget>> m_markers;

 protected:
  // This widget's frame: parent x m_transform.
  Matrix4 frameIn(const Matrix4& parent) const;
  // Interactive and shown: press, click and activation do nothing otherwise.
  bool acts() const { return isRenderable() && getFlag3(); }
  // Posts a copy of the click event, when there is one.
  void postClickEvent() const;
  // Posts the event's type, id and name with the given values; nothing without an event.
  static void postWith(const EventRecord* event, std::vector<float> values);
  // The owner's click with true, when there is an owner.
  void passClickOn();
  // Whether (u, v) lies strictly inside the square of a child or marker in this widget's frame.
  static bool containsStrictly(const Matrix4& t, float u, float v);
};

// A grid of children in the container's unit square; children are owned.
class UIContainer : public UIWidget {
 public:
  // Made in code: depth fixed, dripable, filled column by column.
  UIContainer(const std::string& name, const Vec4f& iconRect, const std::string& textureImage,
              const Vec4f& color);
  UIContainer(UIWidget* owner, const quillax::WidgetParam& param);

  void buildGeometry() override;
  void render(const Matrix4& parent, const Matrix4& viewProjection) override;
  void toParam(quillax::WidgetParam& param) const override;
  UIWidget* findByName(const std::string& name) override;
  int collectWidgets(std::vector<UIWidget*>& widgets) override;
  void setActive(int32_t state) override;
  UIWidget* hitTest(const Vec3f& origin, const Vec3f& direction, const Matrix4& parent,
                    Vec3f& hit) override;
  void press(bool post) override;
  virtual void stepActive(int32_t step) { (void)step; }
  // The next free cell (width, height, x, y, z) of the grid; false when the grid is full.
  virtual bool nextCell(float cell[5]) const;

  void setGrid(int32_t colNum, int32_t rowNum, bool vfirstAlignment, float spacing);
  // A child built through its description (so colours read as the message gives them), in the
  // given cell or the next free one. Null, with nothing added, when the grid is full or the
  // type builds no widget.
  UIWidget* addWidget(const std::string& name, int32_t type, const Vec4f& iconRect,
                      const std::string& textureImage, const Vec4f& color,
                      const float* cell = nullptr);

  int32_t m_colNum = 1;
  int32_t m_rowNum = 1;
  float m_spacing = 0.003f;
  bool m_vfirstAlignment = true;
  std::vector<std::unique_ptr<UIWidget>> m_children;
  int32_t m_hoveredChild = -1;
};

// A container that keeps exactly one child active.
class UIGroupContainer : public UIContainer {
 public:
  UIGroupContainer(const std::string& name, const Vec4f& iconRect,
                   const std::string& textureImage, const Vec4f& color);
  UIGroupContainer(UIWidget* owner, const quillax::WidgetParam& param);

  void setActive(int32_t state) override;
  void click(bool post) override;
  // Activates the child `step` places after the last active one, wrapping both ways.
  void stepActive(int32_t step) override;
};

// The widget a description's type names, owned by the caller; null (with a line naming it) for
// a type outside 0 to 6.
UIWidget* createWidget(UIWidget* owner, const quillax::WidgetParam& param);

// Writes a colour the way descriptions hold it: red, green, blue and lightness := the fourth
// component (alpha left unset, so it reads back as 1).
void toWidgetColor(const Vec4f& color, quillax::WidgetParam& param);
