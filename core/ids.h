#pragma once

// The id spaces shared by the menu, the dispatcher, the tools and the stored strokes. They are
// plain enums so that stored messages and events, which carry ints, compare with them directly.

// quillax.Operation.shape and g_brushShape.
enum BrushShape {
  BRUSH_SHAPE_DEFAULT = 0,
  BRUSH_ATTACH = 1,
  BRUSH_SPIN = 2,
  BRUSH_BRAID = 3,
  BRUSH_HINT = 4,
};

// quillax.Operation.texture and g_hairTexture; also the row of g_renderRows.
enum HairTexture {
  HAIR_TEXTURE_PEN = 0,
  HAIR_TEXTURE_DENSE = 1,
  HAIR_TEXTURE_MIDDLE = 2,
  HAIR_TEXTURE_SPARSE = 3,
  HAIR_TEXTURE_LAST = HAIR_TEXTURE_SPARSE,
};

// The UI mode (g_modeState slot STATE_UI_MODE), set by the menu's mode buttons.
enum UiMode {
  UI_MODE_BRUSH = 0,
  UI_MODE_SELECT = 1,
  UI_MODE_DELETE = 2,
  UI_MODE_MOVE = 3,
  UI_MODE_RECOLOR = 4,
  UI_MODE_COLOR_PICK = 5,
  UI_MODE_DEFORM = 6,
  UI_MODE_TRANSFORM = 7,
  UI_MODE_CAMERA = 8,
  UI_MODE_PANELS = 9,  // the file and setting panels: no tool
};

// The tool controller's tools; each tool's operation type equals its id.
enum ToolId {
  TOOL_NONE = -1,
  TOOL_PEN = 0,
  TOOL_BRUSH = 1,  // its history holds the user's strokes
  TOOL_SELECT = 2,
  TOOL_DELETE = 3,
  TOOL_RECOLOR = 4,
  TOOL_COLOR_PICK = 5,
  TOOL_MOVE = 6,  // the Transformer: whole-scene moves and picked lights and cameras
  TOOL_DEFORM = 7,
  TOOL_TRANSFORM = 8,  // moves selected strokes as an operation
  TOOL_CAMERA = 9,
  TOOL_COUNT = 10,
};

// The tool of a UI mode, the hint selection and the pen aside (updateCurrentToolId adds them).
constexpr ToolId toolOfMode(int mode) {
  switch (mode) {
    case UI_MODE_BRUSH: return TOOL_BRUSH;
    case UI_MODE_SELECT: return TOOL_SELECT;
    case UI_MODE_DELETE: return TOOL_DELETE;
    case UI_MODE_MOVE: return TOOL_MOVE;
    case UI_MODE_RECOLOR: return TOOL_RECOLOR;
    case UI_MODE_COLOR_PICK: return TOOL_COLOR_PICK;
    case UI_MODE_DEFORM: return TOOL_DEFORM;
    case UI_MODE_TRANSFORM: return TOOL_TRANSFORM;
    case UI_MODE_CAMERA: return TOOL_CAMERA;
    default: return TOOL_NONE;
  }
}

// EventRecord::m_type.
enum EventType {
  EVENT_MODE = 0,          // id: the UI mode
  EVENT_HAIR_TEXTURE = 1,  // id: the hair texture
  EVENT_BRUSH_SHAPE = 2,   // id: the brush shape
  EVENT_SETTING = 4,       // id: a SettingId
  EVENT_LOAD = 5,          // name: a painting file or folder, or empty
  EVENT_SAVE = 6,          // name: the painting file, or empty for a new one
  EVENT_CLEAR = 7,
  EVENT_HAIR_REQUEST = 8,   // dropped: the request target is never created
  EVENT_HAIR_SET_ENTRY = 9,  // id: the index into g_hairs
  EVENT_SELECT_ALL = 10,
  EVENT_RESET_SELECTION = 11,
  EVENT_KEY_DOWN = 12,  // id: the key; dropped
  EVENT_KEY_UP = 13,
};

// EventRecord::m_id of an EVENT_SETTING record.
enum SettingId {
  SETTING_COLOR = 0,            // 4 values: red, green, blue, alpha
  SETTING_LIGHTNESS = 1,        // 3 values, averaged
  SETTING_PRIMARY_VALUE = 2,    // the tool geometry's primary swipe value, or none to rebuild
  SETTING_SECONDARY_VALUE = 3,  // the secondary one, likewise
  SETTING_SMOOTHING = 4,
  SETTING_SPLINER_RADIUS = 6,
  SETTING_SPLINER_LENGTH = 7,
  SETTING_LIGHT_CURVE = 8,
  SETTING_HEAD_MODEL = 9,
  SETTING_MIRROR = 10,
  SETTING_COLLISION = 11,
  SETTING_OVERLAY = 12,
  SETTING_HINT = 13,
};
