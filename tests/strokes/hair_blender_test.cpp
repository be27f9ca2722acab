#include "strokes/hair_blender.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "core/hand_frames.h"
#include "render/grider.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "render/sample_grid.h"
#include "strokes/sample.h"
#include "strokes/stroke_test_support.h"
#include "support/synthetic_hairstyle.h"

namespace {

using Floats = std::vector<float>;
using Matches = std::vector<BlendMatch>;
using testing::HasSubstr;

// A blender holding one synthetic hairstyle "h" of 150 strands (20 control points, K = 3) as
// its only prediction, hair id 0.
class HairBlenderTest : public BrushStateTest {
 protected:
  void SetUp() override {
    BrushStateTest::SetUp();
    g_timers.assign(5, 0);
    g_uiValues.assign(13, 0.0f);
    m_blender.m_predictions = {"h"};
    m_blender.m_comparePoints = 20;
  }
  void addHairstyle(int count = 150, int K = 3) {
    SyntheticHairstyle h = makeSyntheticHairstyle(count, 20, K);
    m_strands = h.strands;
    ASSERT_TRUE(m_blender.addReferenceHairstyle("h", std::move(h.model), std::move(h.strands),
                                                std::move(h.affinity)));
  }
  BufferUndoer& model() { return *m_blender.m_referenceModels.at("h"); }
  // A hint stroke on strand j bent by the weights w.
  Operatable* hint(int j, const Floats& w) {
    return own(makeHintStroke(blendedControl(m_strands[static_cast<size_t>(j)], w)));
  }
  // The update's standard output.
  std::string update(const std::vector<Operatable*>& hints) {
    return printedBy([&] { m_blender.updateSuggestion(hints); });
  }

  HairBlender m_blender;
  std::vector<StrandRecord> m_strands;
  StrokeStore own;
};

// Hand-made strands of one control point (D = 3) whose key bit and vectors a test chooses.
struct SmallHairstyle {
  std::unique_ptr<BufferUndoer> model{new BufferUndoer};
  std::vector<StrandRecord> strands;
  void add(bool key, const std::vector<Floats>& vectors) {
    Operatable* stroke = strokeThrough({0, 0, 0, 0, 0.1f, 0}, 0);
    if (key) stroke->m_flags = static_cast<uint16_t>(stroke->m_flags | (1u << kKeyStrandBit));
    model->pushList({stroke}, false);
    strands.push_back({vectors, static_cast<int32_t>(vectors.size()) - 1, 3});
  }
  bool handTo(HairBlender& blender) {
    std::vector<std::vector<float>> affinity(strands.size(), Floats(strands.size(), 0.5f));
    return blender.addReferenceHairstyle("h", std::move(model), strands, affinity);
  }
};

}  // namespace

TEST_F(HairBlenderTest, TheFitRecoversTheWeightsWithOneGroupAndPerMatch) {
  addHairstyle();
  const Floats w = {0.2f, 0.5f, 0.3f};
  const std::vector<Operatable*> hints = {hint(0, w), hint(30, w), hint(60, w)};
  update(hints);
  ASSERT_EQ(m_blender.m_hairstyleName, "h");
  EXPECT_EQ(m_blender.m_matches, (Matches{{0, 0}, {1, 30}, {2, 60}}));
  const Floats& fitted = m_blender.m_cache.at(static_cast<int64_t>(hints.back()->m_id)).m_weights;
  EXPECT_THAT(fitted, testing::Pointwise(testing::FloatNear(0.01f), w));

  // Per match: each hint stroke has weights of its own, the groups pulled lightly together.
  m_blender.m_perMatchWeights = true;
  const std::vector<Operatable*> two = {hint(3, {0.2f, 0.5f, 0.3f}), hint(90, {0.6f, 0.1f, 0.3f})};
  update(two);
  ASSERT_EQ(m_blender.m_matches, (Matches{{0, 3}, {1, 90}}));
  const Floats& both = m_blender.m_cache.at(static_cast<int64_t>(two.back()->m_id)).m_weights;
  EXPECT_THAT(both, testing::Pointwise(testing::FloatNear(0.02f),
                                       Floats{0.2f, 0.5f, 0.3f, 0.6f, 0.1f, 0.3f}));
}

TEST_F(HairBlenderTest, TheGradientIsTheObjectivesAndItsTermsAreAsStated) {
  addHairstyle(30, 3);
  m_blender.m_hairstyleName = "h";
  m_blender.m_perMatchWeights = true;
  const std::vector<Operatable*> hints = {hint(0, {0.1f, 0.7f, 0.2f}), hint(3, {0.3f, 0.3f, 0.4f})};
  m_blender.m_strokes = hints;
  m_blender.m_matches = {{0, 0}, {1, 6}};
  testing::internal::CaptureStdout();
  Eigen::VectorXd w(6), g, gp, gm;
  w << 0.4, -0.2, 1.3, 0.25, 0.5, 0.1;
  m_blender.blendObjective(w, g);
  for (int k = 0; k < 6; ++k) {
    const double h = 1e-6;
    Eigen::VectorXd up = w, down = w;
    up[k] += h;
    down[k] -= h;
    const double numeric =
        (m_blender.blendObjective(up, gp) - m_blender.blendObjective(down, gm)) / (2 * h);
    EXPECT_NEAR(g[k], numeric, 1e-4 * std::max(1.0, std::fabs(numeric))) << "weight " << k;
  }

  // One group without matches: starting weights 1/K already sum to 1, so the start is a
  // minimum of f 0; a weight of -0.5 adds 0.25 to f and -1 to its entry beyond the sum term.
  m_blender.m_perMatchWeights = false;
  m_blender.m_matches.clear();
  Eigen::VectorXf start = Eigen::VectorXf::Constant(3, 1.0f / 3.0f), gs;
  EXPECT_FLOAT_EQ(m_blender.blendObjective(start, gs), 0.0f);
  EXPECT_LT(gs.norm(), 1e-2f);
  Eigen::VectorXf negative(3), gn;
  negative << -0.5f, 1.0f, 0.5f;  // sums to 1: the sum term adds nothing
  EXPECT_FLOAT_EQ(m_blender.blendObjective(negative, gn), 0.25f);
  EXPECT_FLOAT_EQ(gn[0], -1.0f);
  EXPECT_FLOAT_EQ(gn[1], 0.0f);
  EXPECT_THAT(testing::internal::GetCapturedStdout(),
              HasSubstr("fx: 0.250000 (0.000000, 0.000000, 0.000000, 0.000000)\n"));
}

TEST_F(HairBlenderTest, MatchingRefinesNearKeyStrandsOnly) {
  // u = (0, 0, 0.2): each case lists the strands as (key, base, variation) and the match.
  struct Case {
    const char* what;
    std::vector<std::tuple<bool, Floats, Floats>> strands;
    int32_t best;
    const char* line;
  };
  const std::vector<Case> cases = {
      {"a key strand's variation beats a nearer base",
       {{true, {0, 0, 0.23f}, {0, 0, 0.5f}}, {true, {0, 0, 0.5f}, {0, 0, -0.3f}}},
       1,
       "min 1, 0.000000\n"},
      {"a candidate beyond 10 x dmin + 0.01 ends the refinement",
       {{true, {0, 0, 0.23f}, {0, 0, 0.5f}}, {true, {0, 0, 0.6f}, {0, 0, -0.4f}}},
       0,
       "min 0, 0.010000\n"},
      {"the first pass takes key strands only",
       {{false, {0, 0, 0.2f}, {0, 0, 0}}, {true, {0, 0, 0.26f}, {0, 0, 0.5f}}},
       1,
       "min 1, 0.020000\n"},
      {"a non-key strand's variation distance counts ten times when no key strand is there",
       {{false, {0, 0, 0.26f}, {0, 0, -0.03f}}},
       0,
       "min 0, 0.100000\n"},
      {"equal distances keep the first",
       {{true, {0, 0, 0.23f}, {0, 0, 0.5f}}, {true, {0, 0, 0.23f}, {0, 0, 0.5f}}},
       0,
       "min 0, 0.010000\n"},
  };
  for (const Case& c : cases) {
    SmallHairstyle small;
    for (const auto& s : c.strands) small.add(std::get<0>(s), {std::get<1>(s), std::get<2>(s)});
    HairBlender blender;
    blender.m_comparePoints = 1;
    ASSERT_TRUE(small.handTo(blender));
    Operatable* u = own(makeHintStroke({0, 0, 0.2f}));
    blender.m_strokes = {u};
    const std::string printed = printedBy([&] { blender.parseHairstyle("h"); });
    EXPECT_EQ(blender.m_matches, (Matches{{0, c.best}})) << c.what;
    EXPECT_THAT(printed, HasSubstr(c.line)) << c.what;
  }
}

TEST_F(HairBlenderTest, AFitIsCachedByTheNewestStrokeAndOtherHairIdsRequestAPrediction) {
  addHairstyle(60);
  const std::vector<Operatable*> hints = {hint(0, {0.2f, 0.5f, 0.3f})};
  update(hints);
  model().m_history[5]->m_control.assign(60, 0.0f);  // re-applying rebuilds it
  const std::string second = update(hints);
  EXPECT_EQ(second, "found: 1\n");
  EXPECT_EQ(m_blender.m_hairstyleName, "h");
  EXPECT_EQ(model().m_history[5]->m_control.size(), 60u);
  EXPECT_NE(model().m_history[5]->m_control[0], 0.0f);

  // Hair ids outside the predictions ask for a prediction, which goes nowhere without a target.
  ASSERT_EQ(g_requestClient, nullptr);
  for (int id : {-1, 1}) {
    g_modeState[3] = id;
    EXPECT_EQ(update({hint(3, {0.2f, 0.5f, 0.3f})}), "") << id;
    EXPECT_EQ(m_blender.m_hairstyleName, "") << id;
  }
  HairstyleRequest target;
  target.m_batch.add_guid_strokes();
  target.m_batch.add_guid_strokes();
  g_requestClient = &target;
  Operatable* unsampled = own(makeStroke(1, 0, 1));
  Operatable* bent = hint(3, {0.2f, 0.5f, 0.3f});
  ASSERT_GT(bent->m_samples.size(), 1u);
  update({unsampled, bent});
  g_requestClient = nullptr;
  EXPECT_EQ(target.m_state, 3);
  // The batch it held is replaced: 20 positions along each stroke's samples, the origin without.
  const quillax::DataBatch& batch = target.m_batch;
  ASSERT_EQ(batch.guid_strokes_size(), 2);
  EXPECT_EQ(batch.pred_strokes_size() + batch.data_samples_size(), 0);
  const float last = static_cast<float>(bent->m_samples.size() - 1);
  Floats expected;
  for (int i = 0; i < 20; ++i) {
    const Vec3f p = bent->samplePositionAt(static_cast<float>(i) * last / 19.0f);
    expected.insert(expected.end(), {p[0], p[1], p[2]});
  }
  EXPECT_THAT(Floats(batch.guid_strokes(1).pos().begin(), batch.guid_strokes(1).pos().end()),
              floatsAre(expected));
  EXPECT_EQ(Floats(batch.guid_strokes(0).pos().begin(), batch.guid_strokes(0).pos().end()),
            Floats(60, 0.0f));
  // A hint stroke whose control vector is not of the strands' length is named and skipped.
  g_modeState[3] = 0;
  Operatable* odd = own(makeHintStroke({0, 1, 0, 0, 1.1f, 0}));
  EXPECT_THAT(update({odd}),
              HasSubstr("hint stroke 0: 6 control floats, the strands hold 60; not matched\n"));
  EXPECT_TRUE(m_blender.m_matches.empty());
}

TEST_F(HairBlenderTest, ApplyingBendsFromTheRootAndLeavesAttachedStrandsAlone) {
  addHairstyle(30);
  Operatable* attached = model().m_history[4];
  attached->m_operation->set_shape(1);
  const quillax::Color before = attached->m_operation->color();
  const Floats attachedControl = attached->m_control;
  g_currentColor.set_green(0.5f);

  // The hint's root is 5 cm off strand 0's root: the root stays, the tip follows the hint.
  Floats u = blendedControl(m_strands[0], {0.2f, 0.5f, 0.3f});
  for (size_t i = 0; i < u.size(); i += 3) u[i] += 0.05f;
  const std::vector<Operatable*> hints = {own(makeHintStroke(u))};
  update(hints);
  ASSERT_EQ(m_blender.m_matches, (Matches{{0, 0}}));
  const Floats& c = model().m_history[0]->m_control;
  const Floats& base = m_strands[0].m_vectors[0];
  EXPECT_THAT(Floats(c.begin(), c.begin() + 3), floatsAre(Floats(base.begin(), base.begin() + 3)));
  EXPECT_NEAR(c[57], u[57], 0.01f);
  EXPECT_EQ(model().m_history[0]->m_operation->color().green(), 0.5f);
  EXPECT_EQ(attached->m_control, attachedControl);
  EXPECT_EQ(attached->m_operation->color().SerializeAsString(), before.SerializeAsString());
}

TEST_F(HairBlenderTest, AStrandIsHiddenWhereTheUsersStrokesCoverItMoreThanSixTenths) {
  // Five pen strokes' samples of one ring point each, 0.5 apart, in a grid of 0.1 cells; a
  // filler element in a sample's cell makes it occupancy 1, the others are far from any.
  struct Filler : coreNeighborable {
    Vec3f p;
    void getPoints(std::vector<Vec3f>& out) const override { out.push_back(p); }
  };
  EGrider grid("grid");
  grid.setGrid(Vec3f(-1, -1, -1), Vec3f(3, 3, 1), Vec<3, int16_t>(40, 40, 20));
  g_parameters.set_sampling_space(1);
  std::unique_ptr<BufferUndoer> strokes(new BufferUndoer);
  std::vector<Operatable*> list;
  for (int s = 0; s < 4; ++s) {
    list.push_back(makeStroke(0, 0, 5, 0.5f * static_cast<float>(s), 0.0f, 0.5f));
    ASSERT_EQ(list.back()->buildSamples(), 5);
  }
  list.push_back(new Operatable(0));  // no samples
  strokes->pushList(list, false);
  std::vector<std::unique_ptr<Filler>> fillers;
  const std::vector<int> covered = {5, 3, 4, 0};  // samples of stroke s in filled cells
  for (int s = 0; s < 4; ++s) {
    for (int k = 0; k < covered[s]; ++k) {
      std::vector<Vec3f> points;
      list[s]->m_samples[k]->getPoints(points);
      ASSERT_EQ(points.size(), 1u);
      fillers.emplace_back(new Filler);
      fillers.back()->p = points[0];
      grid.addElement(fillers.back().get());
    }
  }
  const std::vector<StrandRecord> records(5, StrandRecord{{Floats(3, 0.0f)}, 0, 3});
  HairBlender blender;
  ASSERT_TRUE(blender.addReferenceHairstyle("h", std::move(strokes), records,
                                            std::vector<Floats>(5, Floats(5, 0.5f))));
  blender.m_hairstyleName = "h";
  blender.attachHairGrid(&grid);
  blender.hideCoveredStrands();
  // Covered 5/5 and 4/5 hide; exactly 3/5 = 0.6 and none stay; a stroke without samples stays.
  std::vector<bool> visible;
  for (Operatable* op : list) visible.push_back(op->isVisible());
  EXPECT_EQ(visible, (std::vector<bool>{false, true, false, true, true}));
}

TEST_F(HairBlenderTest, OpacityFollowsTheToolAndTheHandsDistanceFromTheHead) {
  g_uiValues[9] = -1.0f;
  updateSuggestionOpacity();
  EXPECT_EQ(g_uiValues[9], -1.0f);  // no head: untouched

  Modeler modeler;
  g_modeler = &modeler;
  auto* head = new HeadModel("head");
  auto* box = new BoundingBox("box");
  box->m_min = Vec3f(-0.1f, 0.9f, -0.1f);
  box->m_max = Vec3f(0.1f, 1.1f, 0.1f);
  head->setAttached(box);
  head->updateTransform();
  modeler.m_models[0] = head;
  struct Case {
    int mode;
    bool hintTool;
    float handX;
    float opacity;
  };
  const std::vector<Case> cases = {
      {0, false, 0.4f, 0.3f}, {0, false, 0.2f, 0.1f}, {0, false, 0.7f, 0.5f},  // brush, by distance
      {3, false, 0.0f, 0.6f},                                                  // transform tool
      {0, true, 0.0f, 0.6f},                                                   // select, mode 0
      {1, false, 0.0f, 0.0f}, {2, false, 0.0f, 0.0f},                          // others
  };
  for (const Case& c : cases) {
    g_modeState[2] = c.mode;
    g_flags[FLAG_HINT_MODE] = c.hintTool;
    g_brushShape = c.hintTool ? 4 : 0;
    g_drawingHandMatrix[0] = c.handX;
    g_drawingHandMatrix[1] = 1.0f;
    g_drawingHandMatrix[2] = 0.0f;
    updateSuggestionOpacity();
    EXPECT_NEAR(g_uiValues[9], c.opacity, 1e-5f) << c.mode << " " << c.handX;
  }
  g_modeler = nullptr;
  std::fill(g_drawingHandMatrix, g_drawingHandMatrix + 3, 0.0f);
}

TEST_F(HairBlenderTest, ASolverFailureLeavesNoSuggestionAndNothingCached) {
  addHairstyle(30);
  m_strands[0].m_vectors[1][10] = std::numeric_limits<float>::quiet_NaN();
  m_blender.m_referenceStrands.at("h")[0].m_vectors[1][10] =
      std::numeric_limits<float>::quiet_NaN();
  const std::vector<Operatable*> hints = {own(makeHintStroke(m_strands[0].m_vectors[0]))};
  EXPECT_THAT(update(hints), HasSubstr("fit: the line search"));
  EXPECT_EQ(m_blender.m_hairstyleName, "");
  EXPECT_TRUE(m_blender.m_cache.empty());
}

TEST_F(HairBlenderTest, ReferenceDataThatDoesNotFitTogetherIsRefused) {
  auto refused = [&](int K, int D, int strays) {
    SmallHairstyle small;
    small.add(true, {Floats(3, 0.0f)});
    small.add(true, {Floats(3, 0.0f)});
    small.strands[1].m_variationCount = K;
    small.strands[1].m_size = D;
    if (strays) small.strands[1].m_vectors[0].push_back(0.0f);
    HairBlender blender;
    bool taken = false;
    const std::string printed = printedBy([&] { taken = small.handTo(blender); });
    return printed + (taken ? "taken" : "");
  };
  EXPECT_EQ(refused(0, 3, 0), "taken");
  EXPECT_EQ(refused(1, 3, 0),
            "reference hairstyle h: a strand record has other counts than the first; not taken\n");
  EXPECT_EQ(refused(0, 3, 1),
            "reference hairstyle h: a strand vector does not hold D floats; not taken\n");
}
