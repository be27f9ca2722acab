#include "strokes/hair_blender.h"

#include <LBFGS.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <iterator>
#include <limits>
#include <sstream>

#include "core/geometry.h"
#include "core/hand_frames.h"
#include "core/settings.h"
#include "platform/clock.h"
#include "render/grider.h"
#include "render/head_model.h"
#include "render/modeler.h"
#include "render/sample_grid.h"
#include "strokes/buffer_undoer.h"
#include "strokes/operatable.h"
#include "strokes/sample.h"

HairstyleRequest* g_requestClient = nullptr;

namespace {

constexpr float kNoDistance = 1e9f;
constexpr int32_t kCandidates = 20;
constexpr int kPackedPoints = 20;

// Hint stroke s's control vector when it holds exactly D floats, else null.
const std::vector<float>* controlOf(const std::vector<Operatable*>& strokes, int32_t s, int32_t D) {
  if (s < 0 || static_cast<size_t>(s) >= strokes.size() || !strokes[static_cast<size_t>(s)])
    return nullptr;
  const std::vector<float>& u = strokes[static_cast<size_t>(s)]->m_control;
  return u.size() == static_cast<size_t>(D) ? &u : nullptr;
}

bool isKeyStrand(const Operatable* stroke) {
  return stroke && ((stroke->m_flags >> kKeyStrandBit) & 1u) != 0;
}

// Remembers the best finite point the solver evaluated, so a failed line search still leaves
// the fit where it got to.
struct TrackedObjective {
  HairBlender* blender;
  Eigen::VectorXf best;
  float bestValue = std::numeric_limits<float>::quiet_NaN();

  float operator()(const Eigen::VectorXf& x, Eigen::VectorXf& g) {
    const float f = blender->blendObjective(x, g);
    if (std::isfinite(f) && x.allFinite() && !(f >= bestValue)) {
      best = x;
      bestValue = f;
    }
    return f;
  }
};

}  // namespace

HairBlender::HairBlender() = default;

HairBlender::~HairBlender() { releaseHairGrid(); }

void HairBlender::reset() {
  m_matches.clear();
  m_hairstyleName.clear();
  // The hint strokes belong to the brush history, which is emptied with this reset.
  m_strokes.clear();
}

bool HairBlender::addReferenceHairstyle(const std::string& name,
                                        std::unique_ptr<BufferUndoer> model,
                                        std::vector<StrandRecord> strands,
                                        std::vector<std::vector<float>> affinity) {
  auto refuse = [&](const char* why) {
    std::printf("reference hairstyle %s: %s; not taken\n", name.c_str(), why);
    return false;
  };
  if (!model) return refuse("no model");
  if (strands.empty()) return refuse("no strands");
  const size_t n = strands.size();
  if (model->m_history.size() != n) return refuse("the model holds another number of strands");
  const int32_t K = strands[0].m_variationCount;
  const int32_t D = strands[0].m_size;
  if (K < 0 || D < 3 || D % 3 != 0) return refuse("the counts are not K >= 0 and whole points");
  for (const StrandRecord& strand : strands) {
    if (strand.m_variationCount != K || strand.m_size != D ||
        strand.m_vectors.size() != static_cast<size_t>(K) + 1)
      return refuse("a strand record has other counts than the first");
    for (const std::vector<float>& v : strand.m_vectors)
      if (v.size() != static_cast<size_t>(D))
        return refuse("a strand vector does not hold D floats");
  }
  if (affinity.size() != n) return refuse("the affinity table has another number of rows");
  for (const std::vector<float>& row : affinity)
    if (row.size() != n) return refuse("an affinity row has another number of values");
  for (const Operatable* stroke : model->m_history)
    if (!stroke) return refuse("a strand has no stroke");

  for (size_t j = 0; j < n; ++j) {
    Operatable* stroke = model->m_history[j];
    stroke->m_control = strands[j].m_vectors[0];
    stroke->setTarget(strands[j].m_vectors[0]);
  }
  if (model->m_buffer) model->m_buffer->setFlag9(true);
  for (StrokeBufferRender* buffer : model->m_fullBuffers) buffer->setFlag9(true);

  for (auto it = m_cache.begin(); it != m_cache.end();)
    it = it->second.m_name == name ? m_cache.erase(it) : std::next(it);
  if (m_hairstyleName == name) reset();
  m_referenceModels[name] = std::move(model);
  m_referenceStrands[name] = std::move(strands);
  m_strandAffinity[name] = std::move(affinity);
  return true;
}

void HairBlender::attachHairGrid(EGrider* grid) {
  releaseHairGrid();
  if (!grid) return;
  m_hairGrid = grid;
  m_gridReleaseHandle = addGridReleaseListener([this](coreGrider* released) {
    if (released == m_hairGrid) releaseHairGrid();
  });
}

void HairBlender::releaseHairGrid() {
  if (m_gridReleaseHandle >= 0) removeGridReleaseListener(m_gridReleaseHandle);
  m_gridReleaseHandle = -1;
  m_hairGrid = nullptr;
}

BufferUndoer* HairBlender::currentModel() const {
  if (m_hairstyleName.empty()) return nullptr;
  auto it = m_referenceModels.find(m_hairstyleName);
  return it == m_referenceModels.end() ? nullptr : it->second.get();
}

void HairBlender::updateSuggestion(const std::vector<Operatable*>& strokes) {
  m_hairstyleName.clear();
  m_strokes = strokes;
  if (strokes.empty() || !strokes.back()) return;
  const int64_t key = static_cast<int64_t>(strokes.back()->m_id);

  auto cached = m_cache.find(key);
  if (cached != m_cache.end()) {
    std::printf("found: %zu\n", strokes.size());
    const BlendRecord& record = cached->second;
    if (record.m_matches.empty()) return;
    m_matches = record.m_matches;
    m_hairstyleName = record.m_name;
    applyBlend(record.m_weights);
    return;
  }
  const int32_t h = modeStateAt(STATE_HAIR_ID, -1);
  if (h >= 0 && static_cast<size_t>(h) < m_predictions.size())
    parseHairstyle(m_predictions[static_cast<size_t>(h)]);
  else
    requestPrediction();
}

void packHintStrokes(const std::vector<Operatable*>& strokes, quillax::DataBatch& batch) {
  for (const Operatable* stroke : strokes) {
    quillax::DataBatch_stroke* packed = batch.add_guid_strokes();
    const int S = stroke ? static_cast<int>(stroke->m_samples.size()) : 0;
    for (int i = 0; i < kPackedPoints; ++i) {
      const Vec3f p =
          stroke ? stroke->samplePositionAt(static_cast<float>(i) * static_cast<float>(S - 1) /
                                            static_cast<float>(kPackedPoints - 1))
                 : Vec3f();
      for (int a = 0; a < 3; ++a) packed->add_pos(p[a]);
    }
  }
}

void HairBlender::requestPrediction() {
  if (m_strokes.empty() || !g_requestClient) return;
  g_requestClient->m_batch.Clear();
  packHintStrokes(m_strokes, g_requestClient->m_batch);
  g_requestClient->m_state = 3;
}

void HairBlender::parseHairstyle(const std::string& name) {
  std::printf("parse: %s\n", name.c_str());
  auto found = m_referenceStrands.find(name);
  if (found == m_referenceStrands.end()) return;
  m_hairstyleName = name;
  m_matches.clear();
  const std::vector<StrandRecord>& strands = found->second;
  const std::vector<Operatable*>& model = m_referenceModels.find(name)->second->m_history;
  const int32_t K = strands[0].m_variationCount;
  const int32_t D = strands[0].m_size;

  std::vector<float> d(strands.size());
  std::vector<int32_t> candidates;
  for (size_t i = 0; i < m_strokes.size(); ++i) {
    const std::vector<float>* u = controlOf(m_strokes, static_cast<int32_t>(i), D);
    if (!u) {
      const size_t held = m_strokes[i] ? m_strokes[i]->m_control.size() : 0;
      std::printf("hint stroke %zu: %zu control floats, the strands hold %d; not matched\n", i,
                  held, D);
      continue;
    }
    int32_t best = -1;
    float dmin = kNoDistance;
    for (size_t j = 0; j < strands.size(); ++j) {
      d[j] = isKeyStrand(model[j]) ? distanceL1(*u, strands[j].m_vectors[0]) : kNoDistance;
      if (d[j] < dmin) {
        dmin = d[j];
        best = static_cast<int32_t>(j);
      }
    }
    candidates.clear();
    smallestIndices(d, kCandidates, candidates);
    const float limit = dmin * 10.0f;
    for (int32_t c : candidates) {
      if (limit + 0.01f < d[static_cast<size_t>(c)]) break;
      const StrandRecord& strand = strands[static_cast<size_t>(c)];
      const bool key = isKeyStrand(model[static_cast<size_t>(c)]);
      float e = d[static_cast<size_t>(c)];
      for (int32_t v = 1; v <= K; ++v) {
        float t = distanceL1(*u, strand.m_vectors[static_cast<size_t>(v)], &strand.m_vectors[0]);
        if (!key) t *= 10.0f;
        e = std::min(e, t);
      }
      if (e < dmin) {
        dmin = e;
        best = c;
      }
    }
    std::printf("min %i, %f\n", best, dmin);
    if (best >= 0) m_matches.push_back({static_cast<int32_t>(i), best});
  }

  const uint32_t start = platform::timeGetTime();
  uint32_t* stepTimer = timerSlot(TIMER_SUGGESTION_STEP);
  if (stepTimer) *stepTimer = start;
  std::vector<float> weights;
  if (!fitBlendWeights(weights)) {
    m_hairstyleName.clear();
    return;
  }
  applyBlend(weights);
  const uint32_t now = platform::timeGetTime();
  std::printf("time blend %u\n", now - start);
  if (stepTimer) *stepTimer = now;
  if (!m_strokes.empty() && m_strokes.back())
    m_cache.emplace(static_cast<int64_t>(m_strokes.back()->m_id),
                    BlendRecord{name, weights, m_matches});
}

bool HairBlender::fitBlendWeights(std::vector<float>& weights) {
  auto found = m_referenceStrands.find(m_hairstyleName);
  if (found == m_referenceStrands.end()) return false;
  const int32_t K = found->second[0].m_variationCount;
  const int32_t G = m_perMatchWeights ? static_cast<int32_t>(m_matches.size()) : 1;
  const int32_t N = K * G;
  if (N == 0) return false;

  Eigen::VectorXf x = Eigen::VectorXf::Constant(N, 1.0f / static_cast<float>(K));
  TrackedObjective objective{this, x};
  float fx = std::numeric_limits<float>::quiet_NaN();
  int iterations = 0;
  setModeStateAt(STATE_FIT_ITERATION, 0);
  try {
    // The solver keeps a reference to its parameters: they are declared first so they outlive it.
    LBFGSpp::LBFGSParam<float> param;
    param.m = 6;
    param.epsilon = 1e-5f;
    param.past = 0;
    param.delta = 0.0f;
    param.max_iterations = 50;
    param.linesearch = LBFGSpp::LBFGS_LINESEARCH_BACKTRACKING_ARMIJO;
    param.max_linesearch = 20;
    param.min_step = 1e-20f;
    param.max_step = 1e20f;
    param.ftol = 1e-4f;
    param.wolfe = 0.9f;
    LBFGSpp::LBFGSSolver<float> solver(param);
    iterations = solver.minimize(objective, x, fx);
  } catch (const std::exception& e) {
    // A backtracking search in float can fail close to the minimum: the best point stands.
    std::printf("fit: %s\n", e.what());
    iterations = modeStateAt(STATE_FIT_ITERATION, 0);
    x = objective.best;
    fx = objective.bestValue;
  } catch (...) {
    std::printf("fit: the solver failed\n");
    iterations = modeStateAt(STATE_FIT_ITERATION, 0);
    x = objective.best;
    fx = objective.bestValue;
  }
  std::printf("%d iterations\n", iterations);
  std::ostringstream values;
  values << x;
  std::printf("param: %s\n", values.str().c_str());
  if (std::isnan(fx) || x.size() != N) return false;
  weights.assign(x.data(), x.data() + N);
  return true;
}

template <typename Scalar>
Scalar HairBlender::blendObjective(const Eigen::Matrix<Scalar, Eigen::Dynamic, 1>& w,
                                   Eigen::Matrix<Scalar, Eigen::Dynamic, 1>& g) {
  const Eigen::Index N = w.size();
  g.setZero(N);
  auto found = m_referenceStrands.find(m_hairstyleName);
  if (found == m_referenceStrands.end() || N == 0) return Scalar(0);
  const std::vector<StrandRecord>& strands = found->second;
  const Eigen::Index K = strands[0].m_variationCount;
  const int32_t D = strands[0].m_size;
  const Eigen::Index G = K > 0 ? N / K : 0;
  Scalar f(0), sumTerm(0), smoothTerm(0), dataTerm(0);

  for (Eigen::Index q = 0; q < G; ++q) {
    const Scalar s = w.segment(q * K, K).sum() - Scalar(1);
    f += Scalar(10000) * s * s;
    sumTerm += s * s;
    g.segment(q * K, K).setConstant(Scalar(20000) * s);
  }
  for (Eigen::Index k = 0; k < N; ++k) {
    if (w[k] < Scalar(0)) {
      f += w[k] * w[k];
      g[k] += Scalar(2) * w[k];
    } else if (w[k] > Scalar(1)) {
      f += (w[k] - Scalar(1)) * (w[k] - Scalar(1));
      g[k] += Scalar(2) * (w[k] - Scalar(1));
    }
  }
  if (G > 1) {
    for (Eigen::Index a = 0; a < G; ++a)
      for (Eigen::Index b = a + 1; b < G; ++b)
        for (Eigen::Index k = 0; k < K; ++k) {
          const Scalar d = w[a * K + k] - w[b * K + k];
          f += d * d;
          smoothTerm += d * d;
          g[a * K + k] += Scalar(2) * d;
          g[b * K + k] -= Scalar(2) * d;
        }
  }
  // Compared floats: whole leading control points, never past the vectors' end.
  const int32_t M = std::min(3 * std::max(m_comparePoints, 0), D);
  for (size_t m = 0; m < m_matches.size(); ++m) {
    const Eigen::Index q = m_perMatchWeights ? static_cast<Eigen::Index>(m) : 0;
    if (q >= G) break;
    const std::vector<float>* u = controlOf(m_strokes, m_matches[m].m_stroke, D);
    const int32_t c = m_matches[m].m_strand;
    if (!u || c < 0 || static_cast<size_t>(c) >= strands.size()) continue;
    const std::vector<std::vector<float>>& V = strands[static_cast<size_t>(c)].m_vectors;
    const std::vector<float>& B = V[0];
    const Scalar r0[3] = {Scalar(B[0]) - Scalar((*u)[0]), Scalar(B[1]) - Scalar((*u)[1]),
                          Scalar(B[2]) - Scalar((*u)[2])};
    for (int32_t i = 0; i < M; ++i) {
      Scalar b(0);
      for (Eigen::Index k = 1; k <= K; ++k)
        b += Scalar(V[static_cast<size_t>(k)][i]) * w[q * K + k - 1];
      const Scalar fade = Scalar(1) - Scalar(i) / Scalar(M - 1);
      const Scalar shift = fade * r0[i % 3];
      const Scalar r = (b + Scalar(B[i])) - (shift + Scalar((*u)[i]));
      f += Scalar(1000) * r * r;
      dataTerm += r * r;
      for (Eigen::Index k = 1; k <= K; ++k)
        g[q * K + k - 1] += Scalar(2000) * r * Scalar(V[static_cast<size_t>(k)][i]);
    }
  }
  int32_t counter = modeStateAt(STATE_FIT_ITERATION, 0);
  std::printf("iter: %d, fx: %f (%f, %f, %f, %f)\n", counter, static_cast<double>(f),
              static_cast<double>(sumTerm), 0.0, static_cast<double>(smoothTerm),
              static_cast<double>(dataTerm));
  setModeStateAt(STATE_FIT_ITERATION, ++counter);
  return f;
}

template float HairBlender::blendObjective<float>(const Eigen::VectorXf&, Eigen::VectorXf&);
template double HairBlender::blendObjective<double>(const Eigen::VectorXd&, Eigen::VectorXd&);

void HairBlender::blendStrand(const StrandRecord& strand, const float* weights,
                              std::vector<float>& inout) const {
  const size_t D = static_cast<size_t>(std::max(strand.m_size, 0));
  if (inout.size() != D) inout.assign(D, 0.0f);
  if (strand.m_vectors.empty()) return;
  const size_t K = std::min(static_cast<size_t>(std::max(strand.m_variationCount, 0)),
                            strand.m_vectors.size() - 1);
  for (size_t k = 1; k <= K; ++k) {
    const std::vector<float>& V = strand.m_vectors[k];
    const float wk = weights[k - 1];
    for (size_t i = 0; i < D && i < V.size(); ++i) inout[i] += V[i] * wk;
  }
}

void HairBlender::strandWeights(const std::vector<float>& weights, int32_t strand,
                                std::vector<float>& out) const {
  auto strands = m_referenceStrands.find(m_hairstyleName);
  if (strands == m_referenceStrands.end()) return;
  const size_t K = static_cast<size_t>(strands->second[0].m_variationCount);
  if (out.size() != K) out.assign(K, 0.0f);
  const std::vector<float>* row = affinityRow(strand);
  std::vector<float> x, a;
  if (!row || !matchAffinities(*row, x)) return;
  toNormalizedWeights(x, a, false);
  for (size_t k = 0; k < K; ++k) {
    float sum = 0.0f;
    for (size_t m = 0; m < a.size() && m * K + k < weights.size(); ++m)
      sum += weights[m * K + k] * a[m];
    out[k] = sum;
  }
}

void HairBlender::propagateResiduals(const std::vector<std::vector<float>>& residuals,
                                     int32_t strand, std::vector<float>& inout) const {
  if (residuals.empty() || m_matches.empty()) return;
  const std::vector<float>* row = affinityRow(strand);
  std::vector<float> x, a;
  if (!row || !matchAffinities(*row, x)) return;
  if (inout.size() != residuals[0].size()) inout.assign(residuals[0].size(), 0.0f);
  toNormalizedWeights(x, a, true);
  for (size_t m = 0; m < a.size() && m < residuals.size(); ++m)
    addScaled(inout, residuals[m], a[m]);
}

const std::vector<float>* HairBlender::affinityRow(int32_t strand) const {
  auto table = m_strandAffinity.find(m_hairstyleName);
  if (table == m_strandAffinity.end() || strand < 0 ||
      static_cast<size_t>(strand) >= table->second.size())
    return nullptr;
  return &table->second[static_cast<size_t>(strand)];
}

bool HairBlender::matchAffinities(const std::vector<float>& row, std::vector<float>& x) const {
  x.clear();
  for (const BlendMatch& match : m_matches) {
    if (match.m_strand < 0 || static_cast<size_t>(match.m_strand) >= row.size()) return false;
    x.push_back(row[static_cast<size_t>(match.m_strand)]);
  }
  return true;
}

const float* HairBlender::groupWeights(const std::vector<float>& weights, int32_t strand,
                                       std::vector<float>& scratch) const {
  if (!m_perMatchWeights) return weights.data();
  strandWeights(weights, strand, scratch);
  return scratch.data();
}

void HairBlender::applyBlend(const std::vector<float>& weights) {
  BufferUndoer* model = currentModel();
  auto found = m_referenceStrands.find(m_hairstyleName);
  if (!model || found == m_referenceStrands.end()) return;
  const std::vector<StrandRecord>& strands = found->second;
  const size_t K = static_cast<size_t>(strands[0].m_variationCount);
  const size_t D = static_cast<size_t>(strands[0].m_size);
  // Weights of another shape than these matches (a hairstyle handed in again) are not applied.
  const size_t groups = m_perMatchWeights ? m_matches.size() : 1;
  if (weights.size() != K * groups) return;
  for (const BlendMatch& match : m_matches)
    if (match.m_strand < 0 || static_cast<size_t>(match.m_strand) >= strands.size()) return;

  std::vector<float> falloff(D);
  for (size_t i = 0; i < D; ++i) falloff[i] = 1.0f - std::exp(-0.5f * static_cast<float>(i / 3));

  std::vector<std::vector<float>> residuals;
  std::vector<float> scratch, b;
  for (const BlendMatch& match : m_matches) {
    const StrandRecord& strand = strands[static_cast<size_t>(match.m_strand)];
    b = strand.m_vectors[0];
    blendStrand(strand, groupWeights(weights, match.m_strand, scratch), b);
    std::vector<float> residual(D, 0.0f);
    // A hint stroke that is no longer in the list pulls nothing.
    if (const std::vector<float>* u = controlOf(m_strokes, match.m_stroke, static_cast<int32_t>(D)))
      for (size_t i = 0; i < D; ++i) residual[i] = ((*u)[i] - b[i]) * falloff[i];
    residuals.push_back(std::move(residual));
  }

  for (size_t j = 0; j < strands.size() && j < model->m_history.size(); ++j) {
    Operatable* stroke = model->m_history[j];
    if (stroke->m_operation->shape() == BRUSH_ATTACH) continue;
    b = strands[j].m_vectors[0];
    blendStrand(strands[j], groupWeights(weights, static_cast<int32_t>(j), scratch), b);
    propagateResiduals(residuals, static_cast<int32_t>(j), b);
    stroke->m_control = b;
    stroke->deform();
    *stroke->m_operation->mutable_color() = g_currentColor;
    if (StrokeBufferRender* buffer = model->bufferOf(stroke)) buffer->writeOperation(stroke, false);
  }
  hideCoveredStrands();
}

void HairBlender::hideCoveredStrands() {
  BufferUndoer* model = currentModel();
  if (!m_hairGrid || !model) return;
  std::vector<Vec3f> points;
  for (Operatable* stroke : model->m_history) {
    float sum = 0.0f;
    size_t count = 0;
    for (const Sample* sample : stroke->m_samples) {
      points.clear();
      sample->getPoints(points);
      for (const Vec3f& p : points) sum += m_hairGrid->cellOccupancy(m_hairGrid->cellOf(p));
      count += points.size();
    }
    stroke->setVisible(sum <= 0.6f * static_cast<float>(count));
  }
}

void updateSuggestionOpacity() {
  HeadModel* head = findHeadModel();
  if (!head) return;
  const int32_t tool = updateCurrentToolId();
  float opacity = 0.0f;
  if (tool == TOOL_MOVE || (tool == TOOL_SELECT && modeStateAt(STATE_UI_MODE, -1) == UI_MODE_BRUSH)) {
    opacity = 0.6f;
  } else if (tool == TOOL_BRUSH) {
    opacity = 0.5f;
    if (const BoundingBox* box = head->box()) {
      const Vec3f hand(g_drawingHandMatrix[0], g_drawingHandMatrix[1], g_drawingHandMatrix[2]);
      const float d = static_cast<float>(length(box->center(true) - hand));
      if (d < 0.3f)
        opacity = 0.1f;
      else if (d <= 0.5f)
        opacity = 0.1f + (d - 0.3f) * 2.0f;
    }
  }
  setUiValueAt(VALUE_SUGGESTION_OPACITY, opacity);
}
