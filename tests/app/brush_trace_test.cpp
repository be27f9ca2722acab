#include <gtest/gtest.h>

#include <cstdlib>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

#include "render/head_model.h"
#include "render/modeler.h"
#include "render/sample_grid.h"
#include "strokes/hair_brusher.h"
#include "strokes/operatable.h"
#include "strokes/sample.h"
#include "support/app_trace.h"

namespace {

using BrushTraceGL = AppTraceGL;

// Three strokes down the right side of the head (the twins go to the left), then a pad press
// on the left of the drawing hand's touchpad and one on the right.
std::string strokeTrace(bool pressing) {
  std::string trace = threeStrokeTrace(pressing);
  if (pressing) {
    traceFrame(trace, 38, "\naxis 1 -0.5 0\npad 1 down\n");
    traceFrame(trace, 39, "\npad 1 up\n");
    traceFrame(trace, 41, "\naxis 1 0.5 0\npad 1 down\n");
    traceFrame(trace, 42, "\npad 1 up\n");
  }
  traceFrame(trace, 44, "\nsnapshot left left.png\n");
  return trace;
}

}  // namespace

TEST_F(BrushTraceGL, ThreeMirroredStrokesUndoAsPairsAndShowInTheLeftEye) {
  startMirrored(strokeTrace(true));
  runThrough(36);
  HeadModel* head = findHeadModel();
  ASSERT_TRUE(head && head->m_mirror && head->m_mirror->isRenderable()) << m_output;
  ASSERT_NE(g_hairBrusher, nullptr);
  hairBrusher& brush = *g_hairBrusher;
  ASSERT_EQ(brush.size(), 6) << m_output;
  for (int i = 0; i < 6; ++i) {
    const Operatable* op = brush.m_history[i];
    EXPECT_EQ(op->getFlag7(), i % 2 == 1) << i;  // each twin after its stroke
    EXPECT_EQ(op->m_transformLevel, 1) << i;     // made after the head's placement
    EXPECT_GE(op->pointCount(), 10) << i;
    ASSERT_GE(op->m_samples.size(), 4u) << i;
    for (const Sample* sample : op->m_samples)  // filed in the head's grid under their index
      EXPECT_EQ(head->m_hairGrider->m_elements.at(sample->m_gridIndex), sample) << i;
    // The twin lies on the other side of the mirror.
    EXPECT_EQ(op->pointAt(0)[0] > 0.0f, i % 2 == 0) << i;
  }

  runThrough(40);  // left of the pad: the last pair undone
  EXPECT_EQ(brush.m_cursor, 3);
  EXPECT_FALSE(brush.m_history[4]->isRenderable() || brush.m_history[5]->isRenderable());
  runThrough(43);  // right: redone
  EXPECT_EQ(brush.m_cursor, 5);
  runThrough(45);
  stop();
  const cv::Mat withStrokes = cv::imread(rootPath("run/left.png"), cv::IMREAD_COLOR);

  startMirrored(strokeTrace(false));
  runThrough(45);
  EXPECT_EQ(g_hairBrusher->size(), 0);
  stop();
  const cv::Mat without = cv::imread(rootPath("run/left.png"), cv::IMREAD_COLOR);
  ASSERT_EQ(withStrokes.size(), cv::Size(128, 128));
  ASSERT_EQ(without.size(), cv::Size(128, 128));
  // Unlit hair is dark on the dark clear colour: a faint difference, but on dozens of pixels.
  int changed = 0;
  for (int y = 0; y < 128; ++y)
    for (int x = 0; x < 128; ++x) {
      const cv::Vec3b a = withStrokes.at<cv::Vec3b>(y, x), b = without.at<cv::Vec3b>(y, x);
      if (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) > 10) ++changed;
    }
  EXPECT_GT(changed, 20);
}
