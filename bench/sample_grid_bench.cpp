// Radius queries of the stroke sample grid over 100,000 samples of hair-like strokes around a
// head-sized sphere, beside a k-d tree (nanoflann) over the same sample positions, same radius.
// Both report the samples whose position lies within the radius of the query point. The grid is
// the head's (50 cells a side over the shipped head's grid box, 10 mm cells).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <nanoflann.hpp>
#include <random>
#include <utility>
#include <vector>

#include "render/head_model.h"
#include "render/sample_grid.h"

namespace {

constexpr size_t kSamples = 100000;
constexpr float kRadius = 0.02f;       // metres: a few stroke widths
constexpr float kSpacing = 0.036f;     // sampling distance 0.012 x sampling space 3

// A stroke sample filed by its position, so that the grid and the tree index the same points.
class BenchSample : public coreNeighborable {
 public:
  explicit BenchSample(const Vec3f& position) : m_position(position) {}
  void getPoints(std::vector<Vec3f>& points) const override { points.push_back(m_position); }
  Vec3f m_position;
};

struct PointCloud {
  std::vector<Vec3f> pts;
  size_t kdtree_get_point_count() const { return pts.size(); }
  float kdtree_get_pt(size_t i, size_t dim) const { return pts[i][static_cast<int>(dim)]; }
  template <class BBox>
  bool kdtree_get_bbox(BBox&) const { return false; }
};
using KdTree = nanoflann::KDTreeSingleIndexAdaptor<
    nanoflann::L2_Simple_Adaptor<float, PointCloud>, PointCloud, 3>;

struct Scene {
  EGrider grid{"hairGrider"};
  std::vector<std::unique_ptr<BenchSample>> samples;
  PointCloud cloud;
  std::unique_ptr<KdTree> tree;
  std::vector<Vec3f> queries;
};

// Strokes rooted on the upper part of a sphere of radius 0.1 (the cranium of the shipped
// head's box), growing outward, then falling with gravity and a little curl.
Scene* buildScene() {
  Scene* s = new Scene;
  Vec3f gridMin, gridMax;
  headGridBox(Vec3f(-0.08f, -0.215f, -0.12f), Vec3f(0.08f, 0.121f, 0.12f), gridMin, gridMax);
  s->grid.setGrid(gridMin, gridMax, Vec<3, int16_t>(50, 50, 50));
  const Vec3f centre(0.0f, 0.01f, 0.0f);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> unit(0.0f, 1.0f);
  std::normal_distribution<float> jitter(0.0f, 1.0f);
  while (s->samples.size() < kSamples) {
    Vec3f root;
    do {
      root = normalized(Vec3f(jitter(rng), jitter(rng), jitter(rng)));
    } while (root[1] < -0.2f || root[2] > 0.6f);  // no hair on the face
    Vec3f p = centre + root * 0.1f;
    Vec3f dir = root;
    const int count = 4 + static_cast<int>(unit(rng) * 6.0f);  // 0.11 to 0.32 m long
    // The grid files nothing outside its box; hair that leaves it ends there.
    auto inGrid = [&](const Vec3f& x) {
      for (int a = 0; a < 3; ++a)
        if (!(x[a] > gridMin[a] && x[a] < gridMax[a])) return false;
      return true;
    };
    for (int i = 0; i < count && s->samples.size() < kSamples && inGrid(p); ++i) {
      s->samples.emplace_back(new BenchSample(p));
      dir = normalized(dir + Vec3f(0.0f, -0.35f, 0.0f) +
                       Vec3f(jitter(rng), jitter(rng), jitter(rng)) * 0.15f);
      p += dir * kSpacing;
      // Keep off the sphere.
      const Vec3f off = p - centre;
      if (length(off) < 0.105) p = centre + normalized(off) * 0.105f;
    }
  }
  for (auto& e : s->samples) {
    s->grid.addElement(e.get());
    s->cloud.pts.push_back(e->m_position);
  }
  s->tree.reset(new KdTree(3, s->cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10)));
  s->tree->buildIndex();
  // Query points near the hair: samples moved by up to a centimetre.
  for (int q = 0; q < 4096; ++q) {
    const Vec3f& at = s->samples[static_cast<size_t>(unit(rng) * (kSamples - 1))]->m_position;
    s->queries.push_back(at + Vec3f(jitter(rng), jitter(rng), jitter(rng)) * 0.005f);
  }
  return s;
}

Scene& scene() {
  static Scene* s = buildScene();
  return *s;
}

// The grid's exact query.
size_t gridQuery(Scene& s, const Vec3f& q, std::vector<coreNeighborable*>& out) {
  out.clear();
  s.grid.queryRadius(q, kRadius, out);
  return out.size();
}

// The candidate query of the neighbour search: the cells within the radius, then the caller's
// exact test on each candidate, marks cleared.
size_t candidateQuery(Scene& s, const Vec3f& q, std::vector<coreNeighborable*>& candidates) {
  candidates.clear();
  s.grid.queryNeighbors(q, 0, kRadius, candidates);
  size_t found = 0;
  const float r2 = kRadius * kRadius;
  for (coreNeighborable* c : candidates) {
    c->setSelected(false);
    if (squaredLength(static_cast<BenchSample*>(c)->m_position - q) <= r2) ++found;
  }
  return found;
}

size_t treeQuery(Scene& s, const Vec3f& q, std::vector<std::pair<uint32_t, float>>& m) {
  nanoflann::SearchParams params;
  params.sorted = false;
  return s.tree->radiusSearch(q.data(), kRadius * kRadius, m, params);
}

// All three must find the same samples, or the comparison means nothing.
bool sameAnswers() {
  Scene& s = scene();
  std::vector<coreNeighborable*> found;
  std::vector<std::pair<uint32_t, float>> matches;
  for (const Vec3f& q : s.queries) {
    gridQuery(s, q, found);
    treeQuery(s, q, matches);
    if (found.size() != matches.size() || candidateQuery(s, q, found) != matches.size())
      return false;
    gridQuery(s, q, found);
    std::sort(found.begin(), found.end());
    for (const auto& m : matches)
      if (!std::binary_search(found.begin(), found.end(), s.samples[m.first].get())) return false;
  }
  return true;
}

template <size_t (*query)(Scene&, const Vec3f&, std::vector<coreNeighborable*>&)>
void BM_SampleGrid(benchmark::State& state) {
  Scene& s = scene();
  static const bool same = sameAnswers();
  if (!same) {
    state.SkipWithError("the grid and the tree disagree");
    return;
  }
  std::vector<coreNeighborable*> out;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += query(s, s.queries[i++ & 4095], out);
    benchmark::DoNotOptimize(found);
  }
  state.counters["found/query"] =
      benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK_TEMPLATE(BM_SampleGrid, gridQuery)->Name("BM_SampleGridRadiusQuery");
BENCHMARK_TEMPLATE(BM_SampleGrid, candidateQuery)->Name("BM_SampleGridCandidatesThenExactTest");

void BM_KdTreeRadiusQuery(benchmark::State& state) {
  Scene& s = scene();
  std::vector<std::pair<uint32_t, float>> matches;
  size_t i = 0, found = 0;
  for (auto _ : state) {
    found += treeQuery(s, s.queries[i++ & 4095], matches);
    benchmark::DoNotOptimize(found);
  }
  state.counters["found/query"] =
      benchmark::Counter(static_cast<double>(found), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_KdTreeRadiusQuery);

// Filing every sample of the scene again, as loading a painting does.
void BM_SampleGridFileAll(benchmark::State& state) {
  Scene& s = scene();
  for (auto _ : state) {
    s.grid.reset();
    for (auto& e : s.samples) s.grid.addElement(e.get());
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kSamples));
}
BENCHMARK(BM_SampleGridFileAll)->Unit(benchmark::kMillisecond);

}  // namespace
