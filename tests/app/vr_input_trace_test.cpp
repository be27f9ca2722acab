#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/settings.h"
#include "strokes/edit_ops.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "strokes/operator.h"
#include "support/app_trace.h"

namespace {

// A trace written frame by frame: aims at the menu's widgets (taken from the menu that start-up
// built), trigger clicks held steady around their edges, swipes and strokes.
class Script {
 public:
  Script() {
    m_text = "render_size 96 96\nframe_ms 11\ndevice 0 hmd\ndevice 1 controller\ndevice 2 controller\n@0\n"
             "pose 0 pos 0 1.0 0.6 rot 0 -8 0\n" + pose(1, kRestHand, 20, -10) + pose(2, kMenuHand, kMenuYaw, 0);
  }
  // Turns the drawing hand at its rest towards the middle of the named widget over 6 frames.
  Script& aim(const char* name) {
    const std::pair<float, float> angles = aimAtWidget(name);
    return moveTo(kRestHand, angles.first, angles.second);
  }
  Script& moveTo(const Vec3f& position, float yaw, float pitch, int frames = 6) {
    m_frame += frames;
    m_text += "@" + std::to_string(m_frame) + " lerp\n" + pose(1, position, yaw, pitch);
    return *this;
  }
  // Trigger down after 4 still frames, up 4 frames later, 4 more before anything moves.
  Script& click(int device = 1) {
    at(4, "trigger " + std::to_string(device) + " down\n");
    return at(4, "trigger " + std::to_string(device) + " up\n").at(4, "");
  }
  Script& press(int device = 1) { return at(4, "trigger " + std::to_string(device) + " down\n"); }
  Script& release(int device = 1) { return at(4, "trigger " + std::to_string(device) + " up\n").at(4, ""); }
  // A swipe on the drawing hand's pad: touched, held for the start, moved by (dx, dy), lifted.
  Script& swipe(float dx, float dy) {
    at(2, "touch 1\naxis 1 0 0\n").at(5, "");
    char line[64];
    std::snprintf(line, sizeof line, "axis 1 %g %g\n", dx, dy);
    m_frame += 4;
    m_text += "@" + std::to_string(m_frame) + " lerp\n" + line;
    return at(2, "untouch 1\n");
  }
  // One stroke down in front of the right cheek, x metres further right.
  Script& stroke(float x) {
    moveTo(Vec3f(0.09f + x, 1.14f, 0.19f), 0, -30, 8);
    press();
    moveTo(Vec3f(0.11f + x, 0.92f, 0.20f), 0, -30, 16);
    return release();
  }
  Script& at(int after, const std::string& lines) {
    m_frame += after;
    m_text += "@" + std::to_string(m_frame) + "\n" + lines;
    return *this;
  }
  int frame() const { return m_frame; }
  const std::string& text() const { return m_text; }

 private:
  static std::string pose(int device, const Vec3f& p, float yaw, float pitch) {
    char line[128];
    std::snprintf(line, sizeof line, "pose %d pos %g %g %g rot %g %g 0\n", device, p[0], p[1], p[2], yaw, pitch);
    return line;
  }
  std::string m_text;
  int m_frame = 0;
};

class VRInputTraceGL : public AppTraceGL {
 protected:
  // Starts the application and the headset on the script that `write` fills (it sees the menu
  // that start-up built); returns the script's last frame.
  int begin(const std::function<void(Script&)>& write) {
    int last = 0;
    start(nullptr, [&] {
      Script script;
      write(script);
      last = script.frame() + 1;
      return script.text();
    });
    return last;
  }
  // The brush tool's strokes that are in the scene (not undone).
  static int strokesShown() {
    int shown = 0;
    for (int i = 0; i <= g_hairBrusher->m_cursor; ++i) shown += g_hairBrusher->m_history[i]->isRenderable();
    return shown;
  }
};

}  // namespace

TEST_F(VRInputTraceGL, MenuClicksAndSwipesShapeTheNextStroke) {
  runThrough(begin([](Script& s) {
    s.aim("materialTool").click().aim("textureHairDense").click();  // pen strokes are not kept
    s.aim("brushTool").click().aim("brushToolSpin").click();
    s.swipe(0.5f, 0.0f).swipe(0.0f, 0.4f);  // width 0.02 + 0.5 x 0.02; curvature 0 + 0.4 x 5
    s.stroke(0.0f);
  }));
  ASSERT_NE(g_hairBrusher, nullptr);
  EXPECT_EQ(g_hairTexture, 1) << m_output;
  EXPECT_EQ(g_brushShape, 2);
  // The five clicks went to the menu: one stroke only, of the spin shape.
  ASSERT_EQ(g_hairBrusher->size(), 1) << m_output;
  const quillax::Operation& stroke = *g_hairBrusher->m_history[0]->m_operation;
  EXPECT_EQ((std::vector<float>{stroke.width(), float(stroke.curvature()), float(stroke.texture()),
                                float(stroke.shape())}),
            (std::vector<float>{0.03f, 2, 1, 2}));
  stop();
}

TEST_F(VRInputTraceGL, TheDeleteToolsSweepRemovesTheStrokeItPassesAndThePadBringsItBack) {
  int swept = 0;
  const int last = begin([&](Script& s) {
    s.aim("materialTool").click().aim("textureHairDense").click();
    s.stroke(0.0f).stroke(-0.2f);
    s.aim("editTool").click().aim("deleteTool").click();
    s.stroke(0.0f);  // the sweep, past the first stroke only
    swept = s.frame();
    s.at(2, "axis 1 -0.5 0\n").at(2, "pad 1 down\n").at(2, "pad 1 up\n");
  });
  runThrough(swept);
  EXPECT_EQ(g_modeState[2], 2);
  EXPECT_EQ((std::vector<int32_t>{g_modeState[0], g_modeState[1]}), (std::vector<int32_t>{3, 3}));
  // The sweep is not a stroke: it deletes the one it passes, which stays in the brush history,
  // removed, for the delete's undo.
  auto removed = [] {
    std::vector<int> out;
    for (const Operatable* op : g_hairBrusher->m_history) out.push_back(op->isRemoved());
    return out;
  };
  EXPECT_EQ(removed(), (std::vector<int>{1, 0})) << m_output;
  Interactor& deleter = *g_operator->getTool(3);
  ASSERT_EQ(deleter.size(), 1);
  EXPECT_NE(dynamic_cast<DeleteOp*>(deleter.m_history[0]), nullptr);
  runThrough(last);
  EXPECT_EQ(removed(), (std::vector<int>{0, 0}));
  EXPECT_EQ(deleter.m_cursor, -1);
  stop();
}

TEST_F(VRInputTraceGL, ClearAndUndoWaitForTheOtherHandsTrigger) {
  int drawn = 0, refused = 0, undone = 0;
  const int last = begin([&](Script& s) {
    s.aim("materialTool").click().aim("textureHairSparse").click();
    for (float x : {0.0f, 0.02f, 0.04f}) s.stroke(x);
    drawn = s.frame();
    s.aim("fileButton").click().aim("clearButton").click();  // the other trigger is up
    refused = s.frame();
    s.aim("brushTool").click();  // the file category has no tool to undo in
    s.at(2, "trigger 2 down\naxis 1 -0.5 0\n").at(2, "pad 1 down\n").at(2, "pad 1 up\n");
    undone = s.frame();
    s.at(2, "axis 1 0 0\n").aim("fileButton").click().aim("clearButton").click().at(2, "trigger 2 up\n");
  });
  runThrough(drawn);
  ASSERT_EQ(strokesShown(), 3) << m_output;
  runThrough(refused);
  EXPECT_NE(m_output.find("\n please press and hold the non-drawing hand trigger to clear all. \n"), std::string::npos);
  EXPECT_EQ(strokesShown(), 3);
  runThrough(undone);  // ten undos with the other trigger held: all three at once
  EXPECT_EQ(g_hairBrusher->m_cursor, -1);
  EXPECT_EQ(g_hairBrusher->size(), 3);
  runThrough(last);
  EXPECT_EQ(g_hairBrusher->size(), 0) << m_output;
  stop();
}
