// The shipped head's level set on its 60-cell grid, phase by phase: binning the level-set mesh,
// direct values near the surface, the fast march, the foot-point walk; the whole build (the
// walks then run beside the march when there is a second core); and rays marched through it.
//
// With TRESSLET_LEVELSET_EXPORT=<file> the grid's signed values after the march (exact near the
// surface, so the same zero crossing) are written for tools/bench_level_set_peer.sh: three int32
// counts (x, y, z), the double cell size, then the doubles with x outermost, z innermost.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "bench/shipped_head.h"
#include "render/level_set.h"

namespace {

const Vec<3, int16_t> kCells(60, 60, 60);

double cellSize(const GLGrider& g) {
  return (static_cast<double>(g.m_cellSize[0]) + g.m_cellSize[1] + g.m_cellSize[2]) / 3.0;
}

// A grid with the head's vertices binned.
GLGrider* binnedGrid() {
  const ShippedHead& h = shippedHead();
  GLGrider* g = new GLGrider("levelsetGrider");
  g->setGrid(h.gridMin, h.gridMax, kCells);
  g->pushStream(h.V, h.N);
  return g;
}

void exportValues(const GLGrider& g) {
  const char* path = std::getenv("TRESSLET_LEVELSET_EXPORT");
  if (!path || !*path) return;
  FILE* f = std::fopen(path, "wb");
  if (!f) {
    std::printf("cannot write %s\n", path);
    return;
  }
  const int32_t counts[3] = {g.m_counts[0], g.m_counts[1], g.m_counts[2]};
  const double h = cellSize(g);
  std::fwrite(counts, sizeof(counts), 1, f);
  std::fwrite(&h, sizeof(h), 1, f);
  std::fwrite(g.m_distanceGrid.data(), sizeof(double), g.m_distanceGrid.size(), f);
  std::fclose(f);
}

bool ready(benchmark::State& state) {
  if (shippedHead().ok) return true;
  state.SkipWithError(("cannot read the head meshes in " + shippedHeadFolder()).c_str());
  return false;
}

void BM_LevelsetBinning(benchmark::State& state) {
  if (!ready(state)) return;
  for (auto _ : state) {
    GLGrider* g = binnedGrid();
    benchmark::DoNotOptimize(g->m_vertices.data());
    delete g;
  }
  state.counters["vertices"] = static_cast<double>(shippedHead().V.rows());
}
BENCHMARK(BM_LevelsetBinning)->Unit(benchmark::kMillisecond);

void BM_LevelsetDirectValues(benchmark::State& state) {
  if (!ready(state)) return;
  GLGrider* g = binnedGrid();
  for (auto _ : state) {
    g->computeDirectValues();
    benchmark::DoNotOptimize(g->m_distanceGrid.data());
  }
  delete g;
}
BENCHMARK(BM_LevelsetDirectValues)->Unit(benchmark::kMillisecond);

void BM_LevelsetMarch(benchmark::State& state) {
  if (!ready(state)) return;
  GLGrider* g = binnedGrid();
  g->computeDirectValues();
  const std::vector<double> direct = g->m_distanceGrid;
  const std::vector<Vec3f> normals = g->m_normalGrid;
  std::vector<GridCell> accepted;
  for (auto _ : state) {
    state.PauseTiming();
    g->m_distanceGrid = direct;
    g->m_normalGrid = normals;
    state.ResumeTiming();
    fastMarch(g->m_distanceGrid, g->m_normalGrid, g->m_counts, accepted, cellSize(*g));
  }
  exportValues(*g);
  state.counters["cells"] = static_cast<double>(accepted.size());
  delete g;
}
BENCHMARK(BM_LevelsetMarch)->Unit(benchmark::kMillisecond);

void BM_LevelsetRefinement(benchmark::State& state) {
  if (!ready(state)) return;
  GLGrider* g = binnedGrid();
  g->computeDirectValues();
  std::vector<GridCell> accepted;
  fastMarch(g->m_distanceGrid, g->m_normalGrid, g->m_counts, accepted, cellSize(*g));
  const std::vector<Vec3f> feet = g->m_footGrid;
  for (auto _ : state) {
    state.PauseTiming();
    g->m_footGrid = feet;
    state.ResumeTiming();
    g->refineFootPoints(accepted);
  }
  delete g;
}
BENCHMARK(BM_LevelsetRefinement)->Unit(benchmark::kMillisecond);

// What loading the head costs: binning and computeLevelset, as the head model runs them (the
// two messages silenced).
void BM_LevelsetWhole(benchmark::State& state) {
  if (!ready(state)) return;
  std::cout.setstate(std::ios::failbit);
  for (auto _ : state) {
    GLGrider* g = binnedGrid();
    g->computeLevelset();
    benchmark::DoNotOptimize(g->m_footGrid.data());
    delete g;
  }
  std::cout.clear();
}
BENCHMARK(BM_LevelsetWhole)->Unit(benchmark::kMillisecond);

// What the menu's ray test adds to a frame: rays from 1 m out, on a ring round the head at the
// height of the mouth, aimed across the head at offsets from straight through to grazing it.
void BM_LevelsetRayHit(benchmark::State& state) {
  if (!ready(state)) return;
  std::cout.setstate(std::ios::failbit);
  GLGrider* g = binnedGrid();
  g->computeLevelset();
  std::cout.clear();
  std::vector<std::pair<Vec3f, Vec3f>> rays;
  for (int a = 0; a < 16; ++a) {
    const float angle = 0.3927f * static_cast<float>(a);
    const Vec3f from(std::sin(angle), -0.05f, std::cos(angle));
    for (float offset : {0.0f, 0.04f, 0.07f, 0.09f}) {
      const Vec3f side(std::cos(angle), 0.0f, -std::sin(angle));
      rays.push_back({from, normalized(side * offset - from)});
    }
  }
  size_t hits = 0;
  for (auto _ : state) {
    hits = 0;
    for (const auto& ray : rays) hits += g->rayHit(ray.first, ray.second, 2.0f) >= 0.0f;
    benchmark::DoNotOptimize(hits);
  }
  state.counters["rays"] = static_cast<double>(rays.size());
  state.counters["hits"] = static_cast<double>(hits);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * rays.size()));
  delete g;
}
BENCHMARK(BM_LevelsetRayHit)->Unit(benchmark::kMicrosecond);

}  // namespace
