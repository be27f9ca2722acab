#include <gtest/gtest.h>

#include <Eigen/Geometry>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "core/obj_reader.h"
#include "core/settings.h"
#include "render/head_model.h"
#include "render/modeler.h"
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

// v turned as a trace turns a device: pitch (degrees) about +x, then yaw about +y.
Vec3f turned(const Vec3f& v, float yaw, float pitch) {
  const float y = yaw / kRadToDeg, p = pitch / kRadToDeg;
  const Vec3f q(v[0], std::cos(p) * v[1] - std::sin(p) * v[2],
                std::sin(p) * v[1] + std::cos(p) * v[2]);
  return Vec3f(std::cos(y) * q[0] + std::sin(y) * q[2], q[1],
               -std::sin(y) * q[0] + std::cos(y) * q[2]);
}

// The nearest crossing of a ray (unit direction) with the shipped head's drawn mesh placed by
// `placement`, found triangle by triangle; -1 when there is none.
double firstCrossingOfShippedHead(const Matrix4& placement, const Vec3f& origin,
                                  const Vec3f& direction) {
  Eigen::MatrixXd V, N;
  Eigen::MatrixXi F;
  EXPECT_TRUE(igl::readOBJ(repoAssetPath("models/defaultHead/head.obj"), V, N, F));
  auto corner = [&](int f, int k) {
    const Vec3f p = transformPoint(
        placement, Vec3f(float(V(F(f, k), 0)), float(V(F(f, k), 1)), float(V(F(f, k), 2))));
    return Eigen::Vector3d(p[0], p[1], p[2]);
  };
  const Eigen::Vector3d o(origin[0], origin[1], origin[2]),
      d(direction[0], direction[1], direction[2]);
  double nearest = -1.0;
  for (int f = 0; f < F.rows(); ++f) {
    const Eigen::Vector3d a = corner(f, 0), e1 = corner(f, 1) - a, e2 = corner(f, 2) - a;
    const Eigen::Vector3d p = d.cross(e2), s = o - a, q = s.cross(e1);
    const double det = e1.dot(p), u = s.dot(p) / det, v = d.dot(q) / det, t = e2.dot(q) / det;
    if (std::fabs(det) > 1e-12 && u >= 0 && v >= 0 && u + v <= 1 && t > 0 &&
        (nearest < 0 || t < nearest))
      nearest = t;
  }
  return nearest;
}

}  // namespace

// The pen beside the mouth, pitched down: its ray goes in through the chin, and the colour wheel
// waits square to it in the gap between chin and neck. The shown head takes the ray: the press
// draws and the pointer ends on the chin; with the head hidden the wheel is hit again.
TEST_F(VRInputTraceGL, TheShownHeadStopsTheRayShortOfTheMenuBehindIt) {
  const Vec3f pen(0.07f, 0.97f, 0.17f);
  const float yaw = 30.0f, pitch = -35.0f, wheelAt = 0.111f;
  const Vec3f along = turned(Vec3f(0.0f, 0.0f, -1.0f), yaw, pitch);
  const Vec3f origin = pen + along * 0.05f;
  int aimed = 0, drawn = 0, back = 0;
  begin([&](Script& s) {
    s.aim("materialTool").click().aim("textureHairDense").click();
    const Vec3f menu = origin + along * wheelAt - turned(widgetMiddle("colorWheel"), yaw, pitch);
    s.at(1, Script::pose(2, menu, yaw, pitch)).moveTo(pen, yaw, pitch).at(4, "");
    aimed = s.frame();
    s.press().moveTo(pen + Vec3f(0.0f, -0.04f, 0.01f), yaw, pitch, 12).release();
    drawn = s.frame();
    s.moveTo(pen, yaw, pitch).at(4, "");
    back = s.frame();
  });
  runThrough(aimed);
  const HeadModel* head = findHeadModel();  // loaded by the first frame
  ASSERT_TRUE(head && head->isRenderable()) << m_output;
  const double chin = firstCrossingOfShippedHead(head->m_modelMatrix, origin, along);
  ASSERT_GT(chin, 0.02);
  ASSERT_LT(chin, wheelAt - 0.02);
  Panel& panel = *g_uivr->m_panel;
  const UIWidget* wheel = panel.m_root->findByName("colorWheel");
  EXPECT_EQ(panel.m_hovered, nullptr) << m_output;
  EXPECT_EQ(panel.m_hitDistance, -1.0f);
  EXPECT_NEAR(uiValueAt(VALUE_POINTER_LENGTH, -2.0f), chin, 0.003);
  const std::string colour = g_currentColor.ShortDebugString();
  runThrough(drawn);
  EXPECT_EQ(g_hairBrusher->size(), 1) << m_output;
  EXPECT_EQ(g_currentColor.ShortDebugString(), colour);

  runThrough(back);
  postEvent(new EventRecord(EVENT_SETTING, SETTING_HEAD_MODEL, std::string(), {0.0f}));  // hidden
  runThrough(back + 3);
  ASSERT_FALSE(head->isRenderable());
  EXPECT_EQ(panel.m_hovered, wheel);
  EXPECT_NEAR(uiValueAt(VALUE_POINTER_LENGTH, -2.0f), wheelAt, 0.001);
  stop();
}

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
