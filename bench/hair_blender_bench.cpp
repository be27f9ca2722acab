// One suggestion update as a user's hint strokes make it: matching against a reference
// hairstyle of 1,000 strands (20 control points, K = 6), the L-BFGS fit, and bending every
// strand; for 5 and 20 hint strokes, with one group of weights and one per match.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "bench/bench_support.h"
#include "strokes/hair_blender.h"
#include "tests/support/synthetic_hairstyle.h"

namespace {

constexpr int kStrands = 1000;
constexpr int kControlPoints = 20;
constexpr int kVariations = 6;

// The component prints every objective evaluation: that goes to /dev/null while it runs, so
// only the benchmark's report reaches the terminal.
class QuietStdout {
 public:
  QuietStdout() {
    std::fflush(stdout);
    m_saved = dup(1);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(m_saved, 1);
    close(m_saved);
  }

 private:
  int m_saved = -1;
};

void BM_SuggestionUpdate(benchmark::State& state) {
  const int hints = static_cast<int>(state.range(0));
  const bool perMatch = state.range(1) != 0;
  setBrushState();

  SyntheticHairstyle h = makeSyntheticHairstyle(kStrands, kControlPoints, kVariations);
  std::vector<std::unique_ptr<Operatable>> owned;
  std::vector<Operatable*> strokes;
  const std::vector<float> weights = {0.1f, 0.2f, 0.15f, 0.25f, 0.2f, 0.1f};
  for (int i = 0; i < hints; ++i) {
    const int strand = 3 * (i * (kStrands / 3) / hints);  // key strands spread over the head
    owned.emplace_back(
        makeHintStroke(blendedControl(h.strands[static_cast<size_t>(strand)], weights)));
    strokes.push_back(owned.back().get());
  }
  HairBlender blender;
  blender.m_perMatchWeights = perMatch;
  blender.addReferenceHairstyle("h", std::move(h.model), std::move(h.strands),
                                std::move(h.affinity));
  blender.m_strokes = strokes;

  size_t matches = 0;
  {
    QuietStdout quiet;
    for (auto _ : state) {
      blender.parseHairstyle("h");
      matches = blender.m_matches.size();
    }
  }
  state.counters["matches"] = static_cast<double>(matches);
  state.counters["shown"] = blender.currentModel() ? 1 : 0;
}

}  // namespace

BENCHMARK(BM_SuggestionUpdate)
    ->ArgNames({"hints", "perMatch"})
    ->Args({5, 0})
    ->Args({20, 0})
    ->Args({5, 1})
    ->Args({20, 1})
    ->Unit(benchmark::kMillisecond);
