#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/events.h"
#include "strokes/edit_ops.h"
#include "strokes/hair_brusher.h"
#include "strokes/operator.h"
#include "support/app_trace.h"

namespace {

using EditTraceGL = AppTraceGL;

// The three strokes, then (delete mode chosen meanwhile) a sweep of the drawing hand down past
// the first one only, and a pad press on the left of its touchpad.
std::string deleteTrace() {
  std::string trace = threeStrokeTrace(true);
  traceFrame(trace, 40, "\npose 1 pos 0.167 1.009 0.136 rot 20 -10 0\n");
  traceFrame(trace, 41, "\ntrigger 1 down\n");
  traceFrame(trace, 47, " lerp\npose 1 pos 0.167 0.929 0.136 rot 20 -10 0\n");
  traceFrame(trace, 48, "\ntrigger 1 up\n");
  traceFrame(trace, 50, "\naxis 1 -0.5 0\npad 1 down\n");
  traceFrame(trace, 51, "\npad 1 up\n");
  return trace;
}

}  // namespace

TEST_F(EditTraceGL, ADeleteSweepRemovesTheStrokeItPassesAndThePadBringsItBack) {
  startMirrored(deleteTrace());
  runThrough(39);
  ASSERT_NE(g_hairBrusher, nullptr);
  hairBrusher& brush = *g_hairBrusher;
  ASSERT_EQ(brush.size(), 6) << m_output;  // three strokes and their twins
  postEvent(new EventRecord(0, 2));        // the delete mode, as the menu posts it
  runThrough(49);
  auto removed = [&brush] {
    std::vector<int> out;
    for (const Operatable* op : brush.m_history) out.push_back(op->isRemoved());
    return out;
  };
  EXPECT_EQ(removed(), (std::vector<int>{1, 0, 0, 0, 0, 0})) << m_output;
  Interactor& deleter = *g_operator->getTool(3);
  ASSERT_EQ(deleter.size(), 1);
  EXPECT_NE(dynamic_cast<DeleteOp*>(deleter.m_history[0]), nullptr);

  runThrough(52);
  EXPECT_EQ(removed(), (std::vector<int>(6, 0)));
  EXPECT_EQ(deleter.m_cursor, -1);
  stop();
}
