// Neighbour queries of stroke samples in the head's stroke sample grid: 5,000 stored strokes of
// 100 points (about 170,000 samples filed by their ring points), and for one stroke's samples at
// a time the samples of other strokes within a radius of their rings. findNeighbors (served from
// the grid's packed points) beside nanoflann's radius search over the same filed points, its
// answers de-duplicated per sample, and beside the grid's cell candidates followed by an exact
// test on each candidate's ring.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <nanoflann.hpp>
#include <random>
#include <utility>
#include <vector>

#include "app/brush_state.h"
#include "bench/shipped_head.h"
#include "core/geometry.h"
#include "core/settings.h"
#include "render/sample_grid.h"
#include "strokes/operatable.h"
#include "strokes/sample.h"

namespace {

constexpr int kStrokes = 5000;
constexpr int kPoints = 100;
constexpr float kRadius = 0.01f;  // head units: about a stroke width and a half in the scene
constexpr int kQueryStrokes = 64;

struct Cloud {
  std::vector<Vec3f> pts;
  std::vector<uint32_t> owner;  // the sample each point rings
  size_t kdtree_get_point_count() const { return pts.size(); }
  float kdtree_get_pt(size_t i, size_t dim) const { return pts[i][static_cast<int>(dim)]; }
  template <class BBox>
  bool kdtree_get_bbox(BBox&) const { return false; }
};
using KdTree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, Cloud>, Cloud, 3>;

struct Scene {
  EGrider grid{"hairGrider"};
  std::vector<std::unique_ptr<Operatable>> strokes;
  Cloud cloud;
  std::unique_ptr<KdTree> tree;
  bool ok = false;
};

// Strokes rooted on the cranium, growing out, then falling with gravity and a little curl, 1.2 cm
// (scene) between points; what leaves the grid is not filed.
Scene& scene() {
  static Scene* s = [] {
    Scene* sc = new Scene;
    const ShippedHead& h = shippedHead();
    if (!h.ok) return sc;
    restoreBrushState(nullptr);  // the first-run brush and the cross-section profiles
    sc->grid.setGrid(h.gridMin, h.gridMax, Vec<3, int16_t>(50, 50, 50));
    const float spacing = 0.012f / h.placement[0];
    const Vec3f centre(0.0f, 0.01f, 0.0f);
    std::mt19937 rng(11);
    std::normal_distribution<float> jitter(0.0f, 1.0f);
    for (int k = 0; k < kStrokes; ++k) {
      Vec3f root;
      do {
        root = normalized(Vec3f(jitter(rng), jitter(rng), jitter(rng)));
      } while (root[1] < -0.2f || root[2] > 0.6f);  // no hair on the face
      auto* op = new quillax::Operation;
      op->set_texture(HAIR_TEXTURE_DENSE + k % 3);
      op->set_curvature(k % 4);
      op->set_width(0.012f);
      Vec3f p = centre + root * 0.102f, dir = root;
      for (int i = 0; i < kPoints; ++i) {
        setPoint(op->add_points(), p);
        setPoint(op->add_pitches(), normalized(cross(dir, Vec3f(0, 1, 0)) + Vec3f(0, 0, 1e-3f)));
        dir = normalized(dir + Vec3f(0.0f, -0.12f, 0.0f) +
                         Vec3f(jitter(rng), jitter(rng), jitter(rng)) * 0.05f);
        p += dir * spacing;
        const Vec3f off = p - centre;
        if (length(off) < 0.104) p = centre + normalized(off) * 0.104f;
      }
      sc->strokes.emplace_back(new Operatable(op));  // frames and samples built
    }
    std::vector<Vec3f> ring;
    for (auto& stroke : sc->strokes)
      for (Sample* sample : stroke->m_samples) {
        if (!sc->grid.addElement(sample)) continue;
        ring.clear();
        sample->getPoints(ring);
        for (const Vec3f& q : ring) {
          if (isNoCell(sc->grid.cellOf(q))) continue;
          sc->cloud.pts.push_back(q);
          sc->cloud.owner.push_back(static_cast<uint32_t>(sample->m_gridIndex));
        }
      }
    sc->tree.reset(new KdTree(3, sc->cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10)));
    sc->tree->buildIndex();
    sc->ok = true;
    return sc;
  }();
  return *s;
}

const std::vector<Sample*>& queryStroke(Scene& s, size_t i) {
  return s.strokes[(i * 79) % kStrokes]->m_samples;  // spread over the head
}

// The neighbours of each sample of one stroke; returns how many were found in all.
size_t gridNeighbors(Scene& s, const std::vector<Sample*>& samples,
                     std::vector<coreNeighborable*>& out) {
  const float query[2] = {0.0f, kRadius};
  size_t found = 0;
  for (Sample* sample : samples) {
    out.clear();
    sample->findNeighbors(&s.grid, query, nullptr, out);
    found += out.size();
  }
  return found;
}

size_t treeNeighbors(Scene& s, const std::vector<Sample*>& samples, std::vector<uint32_t>& out) {
  static std::vector<std::pair<uint32_t, float>> matches;
  static std::vector<uint32_t> stamps;
  static uint32_t stamp = 0;
  if (stamps.size() != s.grid.m_elements.size()) stamps.assign(s.grid.m_elements.size(), 0);
  nanoflann::SearchParams params;
  params.sorted = false;
  std::vector<Vec3f> ring;
  size_t found = 0;
  for (Sample* sample : samples) {
    out.clear();
    ring.clear();
    sample->getPoints(ring);
    ++stamp;
    for (const Vec3f& q : ring) {
      s.tree->radiusSearch(q.data(), kRadius * kRadius, matches, params);
      for (const auto& m : matches) {
        const uint32_t owner = s.cloud.owner[m.first];
        if (stamps[owner] == stamp) continue;
        stamps[owner] = stamp;
        out.push_back(owner);
      }
    }
    found += out.size();
  }
  return found;
}

// The grid's cell candidates around each ring point, then each candidate's ring tested.
size_t candidateNeighbors(Scene& s, const std::vector<Sample*>& samples,
                          std::vector<coreNeighborable*>& out) {
  std::vector<Vec3f> ring, other;
  std::vector<coreNeighborable*> candidates;
  const float r2 = kRadius * kRadius;
  size_t found = 0;
  for (Sample* sample : samples) {
    out.clear();
    candidates.clear();
    ring.clear();
    sample->getPoints(ring);
    for (const Vec3f& q : ring) s.grid.queryNeighbors(q, 0, kRadius, candidates);
    for (coreNeighborable* c : candidates) {
      c->setSelected(false);
      other.clear();
      c->getPoints(other);
      bool near = false;
      for (const Vec3f& a : other) {
        if (isNoCell(s.grid.cellOf(a))) continue;
        for (const Vec3f& q : ring) near = near || squaredLength(a - q) <= r2;
      }
      if (near) out.push_back(c);
    }
    found += out.size();
  }
  return found;
}

// The three must find the same samples, or the comparison means nothing.
bool sameAnswers(Scene& s) {
  std::vector<coreNeighborable*> grid, candidates;
  std::vector<uint32_t> tree;
  for (size_t i = 0; i < kQueryStrokes; ++i) {
    for (Sample* sample : queryStroke(s, i)) {
      const std::vector<Sample*> one{sample};
      gridNeighbors(s, one, grid);
      treeNeighbors(s, one, tree);
      candidateNeighbors(s, one, candidates);
      std::vector<uint32_t> a, c;
      for (coreNeighborable* e : grid) a.push_back(static_cast<uint32_t>(e->m_gridIndex));
      for (coreNeighborable* e : candidates) c.push_back(static_cast<uint32_t>(e->m_gridIndex));
      std::sort(a.begin(), a.end());
      std::sort(tree.begin(), tree.end());
      std::sort(c.begin(), c.end());
      if (a != tree || c != tree) return false;
    }
  }
  return true;
}

bool ready(benchmark::State& state) {
  Scene& s = scene();
  if (!s.ok) {
    state.SkipWithError(("cannot read the head in " + shippedHeadFolder()).c_str());
    return false;
  }
  static const bool same = sameAnswers(s);
  if (!same) state.SkipWithError("the grid and the tree disagree");
  return same;
}

template <typename Out, size_t (*query)(Scene&, const std::vector<Sample*>&, Out&)>
void BM_Neighbors(benchmark::State& state) {
  if (!ready(state)) return;
  Scene& s = scene();
  Out out;
  size_t i = 0, found = 0, samples = 0;
  for (auto _ : state) {
    const std::vector<Sample*>& stroke = queryStroke(s, i++ % kQueryStrokes);
    found += query(s, stroke, out);
    samples += stroke.size();
    benchmark::DoNotOptimize(found);
  }
  state.counters["found/sample"] = static_cast<double>(found) / std::max<size_t>(samples, 1);
  state.counters["filed points"] = static_cast<double>(s.cloud.pts.size());
}
BENCHMARK_TEMPLATE(BM_Neighbors, std::vector<coreNeighborable*>, gridNeighbors)
    ->Name("BM_FindNeighborsOfAStroke")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Neighbors, std::vector<uint32_t>, treeNeighbors)
    ->Name("BM_KdTreeNeighborsOfAStroke")->Unit(benchmark::kMicrosecond);
BENCHMARK_TEMPLATE(BM_Neighbors, std::vector<coreNeighborable*>, candidateNeighbors)
    ->Name("BM_CellCandidatesThenExactTestOfAStroke")->Unit(benchmark::kMicrosecond);

}  // namespace
