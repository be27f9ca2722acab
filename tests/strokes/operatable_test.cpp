#include "strokes/operatable.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "strokes/sample.h"
#include "strokes/stroke_test_support.h"

namespace {

using testing::ElementsAre;
using testing::FloatNear;
using testing::HasSubstr;
using testing::Pointwise;
using Ints = std::vector<int>;
using Floats = std::vector<float>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// A stored stroke of `points` points 1 cm apart along x, pitch +z, saved as stroke 4242.
quillax::Operation* storedStroke(int points) {
  auto* op = new quillax::Operation;
  op->set_unique_id(4242);
  for (int i = 0; i < points; ++i) {
    op->add_points()->set_x(0.01f * i);
    op->add_pitches()->set_z(1.0f);
  }
  return op;
}

// Loads a stored stroke; returns what the load printed.
std::string load(quillax::Operation* op, std::unique_ptr<Operatable>& out) {
  return printedBy([&] { out.reset(new Operatable(op)); });
}

// Offers the stroke one hand sample (position, then pitch, then normal); returns points added.
int add(Operatable& stroke, Floats values) {
  return stroke.addPoint(values.data(), static_cast<int>(values.size()));
}

}  // namespace

using StrokeGrowth = BrushStateTest;

TEST_F(StrokeGrowth, PointsAreLaidAtTheSamplingDistance) {
  Operatable stroke(-1);
  // Shorter than 1.0001 spacings, or exactly one spacing: nothing. 2.5 spacings: two points, the
  // last half a spacing short of the hand. A long diagonal jump (0.5 away) is filled at the
  // spacing along the move from the last point.
  EXPECT_EQ((Ints{add(stroke, {0, 0, 0}), add(stroke, {0, 0.0099f, 0}), add(stroke, {0, 0.01f, 0}),
                  add(stroke, {0, 0.025f, 0}), add(stroke, {0.3f, 0.02f + 0.4f, 0})}),
            (Ints{1, 0, 0, 2, 50}));
  for (int i = 3; i < stroke.pointCount(); ++i)
    EXPECT_NEAR(length(stroke.pointAt(i) - stroke.pointAt(i - 1)), 0.01, 1e-5) << i;
  // Kept from two points on; positions between points and past the ends are clamped.
  EXPECT_EQ(stroke.finish(), 53);
  EXPECT_THAT((Floats{stroke.pointAt(1)[1], stroke.pointAt(2)[1], stroke.pointAt(-3)[1],
                      stroke.pointAt(1.5f)[1], stroke.pointAt(99)[0]}),
              Pointwise(FloatNear(1e-5), Floats{0.01f, 0.02f, 0, 0.015f, 0.3f}));
  stroke.m_operation->set_texture(-1);
  EXPECT_EQ(stroke.finish(), 0);
  Operatable single(1);
  add(single, {0, 0, 0});
  EXPECT_EQ(single.finish(), 0);
}

TEST_F(StrokeGrowth, PitchesInterpolateAndNormalsFollowTheMove) {
  Operatable stroke(1);
  // Moving along y while the pitch turns from x to z.
  EXPECT_EQ((Ints{add(stroke, {0, 0, 0, 1, 0, 0, 0, 0, 1}),
                  add(stroke, {0, 0.02f, 0, 0, 0, 1, 0, 0, 1})}),
            (Ints{1, 2}));
  const quillax::Operation& op = *stroke.m_operation;
  ASSERT_EQ((Ints{op.pitches_size(), op.normals_size()}), (Ints{3, 3}));
  // normal = normalise(move x pitch): y x z = x at the second added point; the first normal
  // was replaced by the second one when the second arrived.
  EXPECT_THAT((Floats{op.pitches(1).x(), op.pitches(1).z(), op.pitches(2).z(),
                                  op.normals(2).x(), op.normals(0).x() - op.normals(1).x(),
                                  op.normals(0).z() - op.normals(1).z()}),
              Pointwise(FloatNear(1e-5), Floats{0.5f, 0.5f, 1, 1, 0, 0}));

  // Once pitches fall behind the points (positions only), later pitches are not added either.
  add(stroke, {0, 0.04f, 0});
  EXPECT_EQ(add(stroke, {0, 0.06f, 0, 1, 0, 0}), 2);
  EXPECT_EQ(op.pitches_size(), 3);
}

TEST_F(StrokeGrowth, BadInputAddsNothingAndNeverLoops) {
  Operatable stroke(1);
  EXPECT_EQ((Ints{add(stroke, {kNaN, 0, 0}), add(stroke, {0, 0, 0}), add(stroke, {kInf, 0, 0}),
                  add(stroke, {0, 1, 0, kNaN, 0, 0}), add(stroke, {0, 1}),
                  stroke.addPoint(nullptr, 3), stroke.pointCount()}),
            (Ints{0, 1, 0, 0, 0, 0, 1}));

  // A zero or broken sampling distance steps at the smallest spacing the settings allow.
  for (float s : {0.0f, -1.0f, kNaN}) {
    g_parameters.set_sampling_distance(s);
    Operatable other(1);
    add(other, {0, 0, 0});
    EXPECT_EQ(add(other, {0.1005f, 0, 0}), 100) << s;
  }

  // A stroke never grows past what its 16-bit sample indices can address.
  g_parameters.set_sampling_distance(0.001f);
  Operatable longStroke(1);
  add(longStroke, {0, 0, 0});
  add(longStroke, {100.0f, 0, 0});
  EXPECT_EQ(longStroke.pointCount(), kMaxStrokePoints);
}

using NewStroke = BrushStateTest;

TEST_F(NewStroke, TakesTheBrushStateAndWorksOutItsHeight) {
  g_brushWidth = 0.04f;
  g_curvature = 5;
  Operatable fromBrush(-1);
  EXPECT_EQ(fromBrush.m_operation->texture(), 1);
  // height = (cos 7.5 deg - cos(n 7.5 deg)) w / (sin 15 deg n), n = |curvature| + 1.
  const double step = 0.1308997;
  EXPECT_NEAR(fromBrush.m_operation->height(),
              (std::cos(step) - std::cos(6 * step)) * 0.04 / (std::sin(2 * step) * 6), 1e-7);

  // Attach and braid shapes fix the curl; others take the brush's.
  g_curvature = -7;
  Ints curls;
  for (int shape : {1, 3, 2})
    curls.push_back((g_brushShape = shape, Operatable(1)).m_operation->curvature());
  EXPECT_EQ(curls, (Ints{2, 23, -7}));

  // The no-collision mark (bit 13) follows the setting; before the settings have sized the
  // flags, collision counts as on.
  EXPECT_EQ(Operatable(1).m_operation->flags(), 0x0079);
  g_flags[FLAG_COLLISION] = false;
  Operatable free(1);
  EXPECT_EQ(free.m_flags & free.m_operation->flags() & 0x2000, 0x2000);
  g_flags.clear();
  EXPECT_EQ(Operatable(1).m_flags & 0x2000, 0);
}

using StrokeMessage = BrushStateTest;

TEST_F(StrokeMessage, RoundTripsThroughAStoredOperation) {
  g_currentColor.set_green(0.6f);
  Operatable stroke(2);
  add(stroke, {0, 0, 0, 0, 0, 1});
  add(stroke, {0, 0.03f, 0, 0, 0, 1});
  stroke.setSelected(true);

  quillax::Operation stored;
  stroke.toProto(&stored);
  EXPECT_EQ((Ints{stored.flags(), stored.points_size()}), (Ints{stroke.m_flags, 4}));
  EXPECT_FLOAT_EQ(stored.points(3).y(), stroke.m_operation->points(3).y());  // level 0: as is
  EXPECT_FLOAT_EQ(stored.color().green(), 0.6f);

  Operatable loaded(new quillax::Operation(stored));
  EXPECT_EQ(loaded.m_operation->unique_id(), static_cast<int64_t>(stroke.m_id));
  EXPECT_EQ((Ints{loaded.m_flags, loaded.m_transformLevel}), (Ints{stroke.m_flags, 0}));

  // A previously filled message is replaced, not merged into.
  quillax::Operation again;
  again.add_points()->set_x(99.0f);
  loaded.toProto(&again);
  EXPECT_EQ(again.points_size(), 4);

  // Into its own message only the flags go: the points stay in the stroke's frame.
  loaded.setVisible(false);
  loaded.toProto(loaded.m_operation);
  EXPECT_EQ((Ints{loaded.m_operation->flags() & 1, loaded.pointCount()}), (Ints{0, 4}));
}

TEST_F(StrokeMessage, AbsentFieldsTakeTheirDefaults) {
  auto* bare = new quillax::Operation;
  bare->set_stroke_width(0.05f);
  bare->set_anchor_surface(0.01f);
  bare->mutable_meshes()->add_vpoints()->set_x(1.0f);
  Operatable loaded(bare);
  const quillax::Operation& op = *loaded.m_operation;
  EXPECT_EQ((Ints{op.texture(), op.flags(), loaded.m_flags, op.lightcurve().v_size(),
                  op.has_meshes()}),
            (Ints{2, 0x0079, 0x0079, 30, false}));
  EXPECT_EQ((Floats{op.width(), op.height()}), (Floats{0.05f, 0.01f}));

  // No points at all: kept, and every lookup on it is safe.
  EXPECT_EQ(loaded.finish(), 0);
  EXPECT_EQ(loaded.pointAt(0.5f), Vec3f());
  EXPECT_NE(Operatable(nullptr).m_operation, nullptr);
}

TEST_F(StrokeMessage, DamagedStoredStrokesAreBroughtIntoRange) {
  quillax::Operation* op = storedStroke(5);
  op->set_texture(7);
  op->set_curvature(-40);
  op->set_width(kNaN);
  op->mutable_points(2)->set_x(kNaN);
  op->mutable_pitches(1)->set_z(kInf);
  op->mutable_lightcurve();  // present but empty
  op->mutable_color()->set_red(kNaN);
  std::unique_ptr<Operatable> loaded;
  std::string out = load(op, loaded);
  const quillax::Operation& fixed = *loaded->m_operation;
  // Clamped into range; a non-number width takes 0.02, a coordinate the previous point's, a
  // direction 0.
  EXPECT_EQ((Floats{static_cast<float>(fixed.texture()),
                                static_cast<float>(fixed.curvature()), fixed.width(),
                                fixed.points(2).x(), fixed.pitches(1).z()}),
            (Floats{3, -23, 0.02f, 0.01f, 0}));
  EXPECT_EQ(fixed.lightcurve().v_size(), 30);
  EXPECT_TRUE(std::isfinite(fixed.color().red()));
  for (const char* line : {"stroke 4242: texture 7 is outside 0 to 3, set to 3",
                           "stroke 4242: curvature -40 is outside -23 to 23, set to -23",
                           "stroke 4242: empty light curve"})
    EXPECT_THAT(out, HasSubstr(line));

  // A negative texture is raised to the pen; an empty default curve still gives a usable one.
  g_defaultLightCurve.Clear();
  op = storedStroke(2);
  op->set_texture(-2);
  op->mutable_lightcurve();
  load(op, loaded);
  EXPECT_EQ((Ints{loaded->m_operation->texture(), loaded->m_operation->lightcurve().v_size()}),
            (Ints{0, 30}));

  // More points than the sample indices address: the tail is dropped. A light value that is
  // not a number lights fully.
  op = storedStroke(kMaxStrokePoints + 10);
  op->mutable_lightcurve()->add_v(kNaN);
  EXPECT_THAT(load(op, loaded), HasSubstr("65545 points"));
  EXPECT_EQ(loaded->m_operation->lightcurve().v(0), 1.0f);
  EXPECT_EQ((Ints{loaded->pointCount(), loaded->m_operation->pitches_size()}),
            (Ints{kMaxStrokePoints, kMaxStrokePoints}));

  g_defaultLightCurve.add_v(1.0f);
  EXPECT_EQ(load(storedStroke(3), loaded), "") << "a sound stroke loads silently";
}

using StrokeReferences = BrushStateTest;

TEST_F(StrokeReferences, RecolourOperationsDecideTheDrawnColour) {
  Operatable stroke(1);
  std::unique_ptr<Operatable> recolours[2];
  for (int i = 0; i < 2; ++i) {
    g_currentColor.set_red(0.5f + 0.4f * i);
    recolours[i].reset(new Operatable(1));
    recolours[i]->m_operation->set_op_id(5);
    stroke.registerOp(recolours[i].get());
  }
  Floats reds{stroke.currentColor().red()};
  for (int i : {1, 0}) {
    recolours[i]->setVisible(false);
    reds.push_back(stroke.currentColor().red());
  }
  EXPECT_EQ(reds, (Floats{0.9f, 0.5f, 1.0f}));

  // Unregistering drops the newest entry of that op; a second time it is not there.
  EXPECT_EQ((Ints{stroke.unregisterOp(recolours[1].get()), stroke.unregisterOp(recolours[1].get()),
                  stroke.unregisterOp(nullptr)}),
            (Ints{true, false, false}));

  // Stored with the colour it is drawn in; its own colour stays.
  recolours[0]->setVisible(true);
  quillax::Operation stored;
  stroke.toProto(&stored);
  EXPECT_EQ((Floats{stored.color().red(), stroke.m_operation->color().red()}),
            (Floats{0.5f, 1.0f}));
}

TEST_F(StrokeReferences, CopiesAreNewStrokesWithTheirOwnSamples) {
  Operatable source(storedStroke(4));
  source.m_operation->set_op_id(5);
  source.m_tag = 7;
  source.m_bufferSlot = 3;
  for (Sample* sample : source.m_samples) delete sample;  // the ones the stored stroke built
  source.m_samples = {new Sample(&source, 0, 0), new Sample(&source, 3, 1)};
  Operatable recolour(1);
  recolour.m_operation->set_op_id(5);
  source.registerOp(&recolour);
  ASSERT_EQ(source.m_recolorRefs.size(), 1u);

  Operatable copy(source);
  EXPECT_NE(copy.m_id, source.m_id);
  EXPECT_EQ((Ints{copy.m_tag, copy.m_operation->op_id(), copy.m_bufferSlot}), (Ints{7, 0, -1}));
  EXPECT_TRUE(copy.m_recolorRefs.empty() && copy.m_selectRefs.empty());
  ASSERT_EQ(copy.m_samples.size(), 2u);
  EXPECT_EQ(copy.m_samples[1]->m_stroke, &copy);
  EXPECT_THAT((Floats{copy.m_samples[1]->m_localPosition[0], copy.m_samples[1]->m_localPitch[2]}),
              Pointwise(testing::FloatEq(), Floats{0.03f, 1.0f}));

  // A sample of a point the stroke does not have belongs to no stroke.
  EXPECT_EQ(Sample(&source, 9, 0).m_stroke, nullptr);
}
