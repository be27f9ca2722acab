#include <gtest/gtest.h>

#include <cmath>
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
