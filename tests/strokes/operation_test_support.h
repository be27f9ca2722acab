#pragma once
#include <vector>

#include "render/head_model.h"
#include "render/modeler.h"
#include "strokes/edit_ops.h"
#include "strokes/interactor.h"
#include "strokes/operator.h"
#include "strokes/stroke_geometry.h"
#include "strokes/stroke_test_support.h"
#include "strokes/transformer.h"

// The tool set without buffers as g_operator, selection radius 2 cm at scale 1, the select mode.
// addStroke puts sampled strokes into the brush history (tool 1); sweep drags a tool's hand.
class OperationsTest : public BrushStateTest {
 protected:
  void SetUp() override {
    BrushStateTest::SetUp();
    g_uiValues.assign(13, 0.0f);
    g_uiValues[0] = 1.0f;
    g_uiValues[1] = 0.02f;
    g_modeState[2] = 1;
    m_operator.createTools(false);
    g_operator = &m_operator;
    setTransformer(dynamic_cast<Transformer*>(m_operator.getTool(6)));
  }
  void TearDown() override {
    m_operator.reset();
    setTransformer(nullptr);
    g_operator = nullptr;
    BrushStateTest::TearDown();
  }

  Interactor* tool(int id) { return m_operator.getTool(id); }
  // A hair stroke of `points` points 1 cm apart up +y from (x, y0), with frames, samples and
  // control points, pushed into tool 1.
  Operatable* addStroke(float x, int points = 10, float y0 = 0.0f, int texture = 1) {
    Operatable* stroke = makeStroke(texture, 0, points, x, y0);
    stroke->computeFrames(false, true);
    stroke->buildSamples();
    stroke->rebuildControl();
    tool(1)->push(stroke, false);
    return stroke;
  }
  // A drag of tool `id` from (x, y0) up +y, one point per move; whether the tool kept it.
  bool sweep(int id, float x, float y0 = 0.0f, int frames = 8) {
    return drag(*tool(id), x, y0, frames);
  }

  Operator m_operator;
};

// The selected strokes of the brush history moved by `shown` (in the scene) as a release of the
// move tool applies it.
inline void moveSelected(Interactor& brush, const Matrix4& shown) {
  TransOp move(&brush);
  const std::vector<float> hand = handFrame(0.0f, 0.0f);
  ASSERT_EQ(move.begin(hand.data(), 12, hand.data(), 12), 1);
  move.m_transform = shown;
  ASSERT_EQ(move.finish(), 1);
}

// The tool set as g_operator, its brush (tool 1) with its preview buffer, and a head whose mirror
// (the plane x = 0) is shown.
class MirroredBrushGL : public BrushStateGLTest {
 protected:
  void SetUp() override {
    BrushStateGLTest::SetUp();
    m_operator.createTools(false);
    m_operator.getTool(1)->createBuffer(StrokeBufferFormat(g_renderRows[1]), 800000);
    g_operator = &m_operator;
    g_modeler = &m_modeler;
    auto* head = new HeadModel("head");
    head->m_mirror = new Mirrow("mirror");
    head->m_mirror->m_localNormal = Vec3f(1.0f, 0.0f, 0.0f);
    head->m_mirror->updateTransform();
    head->m_mirror->setRenderable(true);
    m_modeler.m_models[0] = head;
    m_mirror = head->m_mirror;
  }
  void TearDown() override {
    m_operator.reset();
    g_operator = nullptr;
    g_modeler = nullptr;
    BrushStateGLTest::TearDown();
  }
  Interactor& brush() { return *m_operator.getTool(1); }
  Operatable* addStroke(float x, float y0, float step) {
    Operatable* stroke = makeStroke(1, 0, 60, x, y0, step);
    stroke->computeFrames(false, true);
    stroke->buildSamples();
    brush().pushList({stroke}, false);  // buffered, as a loaded stroke is
    return stroke;
  }

  Modeler m_modeler;
  Operator m_operator;
  Mirrow* m_mirror = nullptr;
};
