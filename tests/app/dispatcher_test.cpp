#include "app/dispatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/events.h"
#include "core/settings.h"
#include "strokes/interactor.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "strokes/stroke_test_support.h"
#include "support/asset_root.h"
#include "ui/default_menu.h"
#include "ui/panel.h"
#include "ui/shooter.h"
#include "ui/uivr.h"

namespace {

class DispatcherTest : public AssetRootTest {
 protected:
  void SetUp() override {
    AssetRootTest::SetUp();
    loadSettingsQuietly();
    g_brushShape = 0;
    g_hairTexture = 0;
    g_currentColor.Clear();
    g_defaultLightCurve.Clear();
    g_hairs.Clear();
    g_autosaves.Clear();
    clearEvents();
  }
  void TearDown() override {
    if (m_tools) m_tools->reset();
    g_operator = nullptr;
    clearEvents();
    AssetRootTest::TearDown();
  }

  // A tool controller without buffers, as g_operator until the test ends.
  Operator& tools() {
    m_tools.reset(new Operator());
    m_tools->createTools(false);
    g_operator = m_tools.get();
    return *m_tools;
  }

  // Posts the records, drains them, and returns what the drain printed.
  std::string dispatch(std::initializer_list<EventRecord> records) {
    for (const EventRecord& record : records) postEvent(new EventRecord(record));
    testing::internal::CaptureStdout();
    dispatchEvents();
    return testing::internal::GetCapturedStdout();
  }

  std::unique_ptr<Operator> m_tools;
};

}  // namespace

TEST_F(DispatcherTest, ModeTextureAndShapeEvents) {
  dispatch({{0, 5}});
  EXPECT_EQ(g_modeState[2], 5);
  dispatch({{1, 2}});
  EXPECT_EQ((std::vector<int>{g_modeState[2], g_hairTexture}), (std::vector<int>{0, 2}));

  // Shapes 1 and 3 turn the curvature swipe off, others back on; the geometry rebuild a shape
  // change posts is handled within the same drain.
  for (int shape : {3, 1, 2}) {
    dispatch({{0, 4}, {2, shape}});
    EXPECT_EQ((std::vector<int>{g_modeState[2], g_brushShape, g_flags[FLAG_NO_CURVATURE_SWIPE], int(g_eventQueue.size())}),
              (std::vector<int>{0, shape, shape != 2, 0}));
  }
}

// The menu, the dispatcher, the tool geometry and the tool set share their ids: each mode
// button but the panels' reaches a tool, and each shape and texture button one the geometry
// shows.
TEST_F(DispatcherTest, MenuEventsAgreeWithTheToolsAndTheirGeometry) {
  Operator& tools = this->tools();
  quillax::UIParam geometry;
  buildDefaultInteractions(geometry);
  auto modeIds = [&geometry](int tool, const std::string& component) {
    std::vector<int> ids;
    for (const auto& interaction : geometry.interactions())
      for (const auto& c : interaction.components())
        if (interaction.interaction_id() == tool && c.name() == component)
          for (const auto& mode : c.modes()) ids.push_back(mode.mode_id());
    return ids;
  };
  auto has = [](const std::vector<int>& ids, int id) { return std::count(ids.begin(), ids.end(), id) > 0; };

  for (const MenuWidgetEntry& e : kDefaultMenuWidgets) {
    if (e.eventKind == MenuWidgetEntry::NONE) continue;
    SCOPED_TRACE(e.name);
    dispatch({{e.eventType, e.eventId}});
    const int32_t tool = updateCurrentToolId();
    if (e.eventType == EVENT_MODE) {
      // The file and setting panels alone leave the tools be.
      EXPECT_EQ(tools.getTool(tool) == nullptr, e.eventId == UI_MODE_PANELS) << tool;
    } else if (e.eventType == EVENT_BRUSH_SHAPE) {
      EXPECT_TRUE(has(modeIds(TOOL_PEN, "shape"), g_brushShape)) << g_brushShape;
    } else if (e.eventType == EVENT_HAIR_TEXTURE) {
      EXPECT_TRUE(g_hairTexture == HAIR_TEXTURE_PEN ? tool == TOOL_PEN
                                                    : has(modeIds(TOOL_BRUSH, "texture"), g_hairTexture));
    }
  }
  for (const auto& interaction : geometry.interactions())
    EXPECT_NE(tools.getTool(interaction.interaction_id()), nullptr) << interaction.name();
}

TEST_F(DispatcherTest, ColourLightnessSwitchesAndLightCurve) {
  g_currentColor.set_lightness(0.3f);
  // The second colour is nearly transparent: a miss.
  dispatch({{4, 0, "", {0.1f, 0.2f, 0.3f, 0.5f}}, {4, 0, "", {0.9f, 0.9f, 0.9f, 0.05f}}});
  EXPECT_EQ(g_currentColor.ShortDebugString(), "red: 0.1 green: 0.2 blue: 0.3 alpha: 1 lightness: 0.3");
  dispatch({{4, 1, "", {0.25f, 0.5f, 0.75f}}});  // lightness is the mean and leaves the colour
  EXPECT_EQ(g_currentColor.ShortDebugString(), "red: 0.1 green: 0.2 blue: 0.3 alpha: 1 lightness: 0.5");

  dispatch({{4, 4, "", {0.0f}}, {4, 11, "", {0.2f}}, {4, 12, "", {0.9f}}});
  EXPECT_EQ((std::vector<bool>{g_flags[FLAG_SMOOTHING], g_flags[FLAG_COLLISION], g_flags[FLAG_OVERLAY]}),
            (std::vector<bool>{false, false, true}));

  dispatch({{4, 8, "", {1.0f, 0.5f, 0.25f}}, {4, 8, "", {0.1f, 0.2f, 0.3f}}});
  EXPECT_EQ(g_defaultLightCurve.ShortDebugString(), "v: 0.1 v: 0.2 v: 0.3");
  dispatch({{4, 8, "", {0.7f, 0.6f}}});
  EXPECT_EQ(g_defaultLightCurve.ShortDebugString(), "v: 0.7 v: 0.6");

  // The hint toggle needs mode 0 and the hint shape.
  std::vector<bool> hints;
  for (int shape : {0, 4, 4}) {
    g_brushShape = shape;
    dispatch({{4, 13}});
    hints.push_back(g_flags[FLAG_HINT_MODE]);
  }
  EXPECT_EQ(hints, (std::vector<bool>{false, true, false}));
}

TEST_F(DispatcherTest, ColourSettingsTintTheMenuPreviewWhenThereIsOne) {
  // No interface yet, then one whose panel has no tree (the preview cannot be built) but a
  // preview model: the texture and light-curve events reach the panel and do nothing there.
  g_currentColor.set_lightness(0.5f);
  dispatch({{1, 2}, {4, 8, "", {0.5f}}, {4, 0, "", {0.2f, 0.4f, 0.6f, 1.0f}}});
  UIVR ui;
  ui.m_panel = new Panel();
  g_uivr = &ui;
  dispatch({{1, 3}, {4, 8, "", {0.5f}}});
  EXPECT_EQ(ui.m_panel->m_previewStroke, nullptr);
  ui.m_panel->m_previewModel.reset(new ModelRender("op"));
  auto tint = [&] {
    const Vec4f c = ui.m_panel->m_previewModel->m_color;
    return std::vector<float>{c[0], c[1], c[2], c[3]};
  };
  dispatch({{4, 0, "", {0.2f, 0.4f, 0.6f, 0.5f}}});
  EXPECT_EQ(tint(), (std::vector<float>{0.1f, 0.2f, 0.3f, 1.0f}));
  g_currentColor.set_alpha(0.75f);
  dispatch({{4, 1, "", {0.2f, 0.2f, 0.2f}}});  // lightness 0.2, the colour's own alpha
  EXPECT_EQ(tint(), (std::vector<float>{0.2f * 0.2f, 0.4f * 0.2f, 0.6f * 0.2f, 0.75f}));
  dispatch({{4, 0, "", {0.9f, 0.9f, 0.9f, 0.05f}}});  // a miss tints nothing
  EXPECT_EQ(tint(), (std::vector<float>{0.2f * 0.2f, 0.4f * 0.2f, 0.6f * 0.2f, 0.75f}));
  g_uivr = nullptr;
}

TEST_F(DispatcherTest, RecordsWithTooFewValuesOrNoTargetChangeNothing) {
  g_currentColor.set_red(0.8f);
  g_defaultLightCurve.add_v(1.0f);
  const std::string before = g_currentColor.ShortDebugString() + g_defaultLightCurve.ShortDebugString();
  const std::vector<bool> flags = g_flags;
  // Too few values, no head or model registry to act on, keys, and types with no target.
  const std::string out = dispatch({{4, 0, "", {0.1f, 0.2f, 0.3f}}, {4, 1, "", {0.1f, 0.2f}}, {4, 4}, {4, 11},
                                    {4, 12}, {4, 8}, {4, 2}, {4, 9}, {4, 10}, {4, 9, "", {1.0f}},
                                    {4, 10, "", {1.0f}}, {4, 99}, {3, 0}, {8, 1, "x.obj"}, {12, 'a'}, {13, 'a'},
                                    {42, 0}});
  EXPECT_EQ(out, "");
  EXPECT_EQ(g_currentColor.ShortDebugString() + g_defaultLightCurve.ShortDebugString(), before);
  EXPECT_EQ(g_flags, flags);
  EXPECT_TRUE(g_eventQueue.empty());
}

TEST_F(DispatcherTest, LoadAndClearNeedTheOtherHandsTrigger) {
  Operator& tools = this->tools();
  // Entries in the brush's and the select tool's histories.
  auto fill = [&tools] {
    for (int id : {1, 2}) tools.getTool(id)->push(new Operatable(1), false);
  };
  auto sizes = [&tools] { return std::vector<int>{tools.getTool(1)->size(), tools.getTool(2)->size()}; };
  fill();
  EXPECT_EQ(dispatch({{5, 0}}), "\n please press and hold the non-drawing hand trigger to reload. \n");
  EXPECT_EQ(dispatch({{7, 0}}), "\n please press and hold the non-drawing hand trigger to clear all. \n");
  EXPECT_EQ(sizes(), (std::vector<int>{1, 1}));
  dispatch({{11, 0}});  // the select tool alone
  EXPECT_EQ(sizes(), (std::vector<int>{1, 0}));
  fill();
  g_flags[FLAG_OTHER_TRIGGER] = true;
  // The settings' default painting is not there: the work stays until the clear.
  EXPECT_EQ(dispatch({{5, 0}}), "ReadProtoFromTextFile ../data/demo.txt not found!\n"
                                "painting ../data/demo.txt not loaded: the current work stays.\n");
  EXPECT_EQ(sizes(), (std::vector<int>{2, 1}));
  EXPECT_EQ(dispatch({{7, 0}}), "");
  EXPECT_EQ(sizes(), (std::vector<int>{0, 0}));
}

TEST_F(DispatcherTest, LoadPathsNameFilesOrFolders) {
  // A "." inside a folder name, another case or a longer ending name a folder.
  for (const char* file : {"data/record/a.txt", "strokes.obj"}) EXPECT_TRUE(isPaintingFilePath(file)) << file;
  for (const char* folder : {"data/record", "data/v1.txt/run", "a.TXT", "a.txt2"})
    EXPECT_FALSE(isPaintingFilePath(folder)) << folder;

  EXPECT_EQ(resolveLoadPath(EventRecord(5, 0, "mine.txt")), "mine.txt");
  EXPECT_EQ(resolveLoadPath(EventRecord(5, 0)), "../data/demo.txt");  // the settings' default
  g_parameters.set_project_to_load("");
  g_autosaves.set_last_save_file("../data/record/1/2.txt");
  EXPECT_EQ(resolveLoadPath(EventRecord(5, 0)), "../data/record/1/2.txt");
}

TEST_F(DispatcherTest, SelectAllTakesEveryShownStrokeAsOneSelection) {
  Operator& tools = this->tools();
  Interactor& brush = *tools.getTool(1);
  for (int i = 0; i < 3; ++i) brush.push(new Operatable(1), false);
  brush.m_history[1]->setRemoved(true);
  dispatch({{10, 0}});
  Interactor& select = *tools.getTool(2);
  ASSERT_EQ(select.size(), 1);
  EXPECT_EQ((std::vector<int>{brush.m_history[0]->isSelected(), brush.m_history[1]->isSelected(),
                              brush.m_history[2]->isSelected()}),
            (std::vector<int>{1, 0, 1}));
  EXPECT_TRUE(select.undo());
  EXPECT_FALSE(brush.m_history[2]->isSelected());
}

TEST_F(DispatcherTest, SaveLoadAndHairSetEntriesGoThroughTheToolController) {
  Operator& tools = this->tools();
  Interactor& brush = *tools.getTool(1);
  auto strokeAt = [](float x) {
    auto* stroke = new Operatable(1);
    const float pose[3] = {x, 0.0f, 0.0f};
    stroke->addPoint(pose, 3);
    return stroke;
  };
  auto firstXs = [&brush] {
    std::vector<float> xs;
    for (int i = 0; i <= brush.m_cursor; ++i) xs.push_back(brush.m_history[i]->pointAt(0)[0]);
    return xs;
  };
  writeFile("data/.keep", "");
  writeFile("list/.keep", "");
  g_defaultLightCurve.add_v(1.0f);
  brush.push(strokeAt(1.0f), false);
  brush.push(strokeAt(2.0f), false);

  // Saves: under the run folder without a name, else as named; written off the frame.
  EXPECT_EQ(dispatch({{6, -1}}), "");
  tools.waitForSaves();
  const std::string run = "../data/record/" + std::to_string(tools.m_id) + "/";
  EXPECT_EQ(g_autosaves.last_save_file().rfind(run, 0), 0u) << g_autosaves.last_save_file();

  // Loads, with the other hand's trigger held: the work is saved first, then replaced. A load
  // of the last saved file, in the drain of the save that makes it, waits for that save.
  g_flags[FLAG_OTHER_TRIGGER] = true;
  g_parameters.clear_project_to_load();
  brush.push(strokeAt(3.0f), false);
  EXPECT_EQ(dispatch({{6, -1, rootPath("named")}, {5, 0}}), "");
  EXPECT_EQ(firstXs(), (std::vector<float>{1.0f, 2.0f, 3.0f}));  // not the run folder's two
  EXPECT_EQ(g_autosaves.last_save_file().rfind(run, 0), 0u);  // the three strokes, kept
  writeFile("bad.txt", "operations {");
  testing::internal::CaptureStderr();
  EXPECT_EQ(dispatch({{5, 0, rootPath("bad.txt")}}),
            "ReadProtoFromTextFile " + rootPath("bad.txt") +
                " does not parse: line 1 column 13: Expected identifier, got: \n"
                "painting " + rootPath("bad.txt") + " not loaded: the current work stays.\n");
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(firstXs(), (std::vector<float>{1.0f, 2.0f, 3.0f}));

  // A folder: its files are listed and the first loaded.
  brush.reset();
  brush.push(strokeAt(4.0f), false);
  ASSERT_TRUE(tools.savePainting(rootPath("list/one")));
  brush.reset();
  const std::string out = dispatch({{5, 0, rootPath("list")}});
  EXPECT_EQ(out, "total 1 files\nprepare to load file 0/1 " + rootPath("list/one.txt") + "\n");
  EXPECT_EQ(firstXs(), (std::vector<float>{4.0f}));

  // A hair-set entry is added to the work in the current colour; indices outside the set are ignored.
  g_hairs.add_hairs()->set_file_path("list/one.txt");
  g_currentColor.set_red(0.5f);
  g_currentColor.set_alpha(0.5f);
  EXPECT_EQ(dispatch({{9, 1}, {9, -1}, {9, 0}}), "");
  EXPECT_EQ(firstXs(), (std::vector<float>{4.0f, 4.0f}));
  EXPECT_FLOAT_EQ(brush.m_history[1]->m_operation->color().red(), 0.25f);
}
