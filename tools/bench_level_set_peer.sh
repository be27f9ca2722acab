#!/usr/bin/env bash
# Our head level set beside scikit-fmm on the same 60-cell grid from the same zero crossing.
# Usage: tools/bench_level_set_peer.sh [build folder, default build]
# Installs python3-scikit-fmm (Debian) when it is missing; it is needed for this comparison only.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
bench=$build/bench/level_set_bench
if [ ! -x "$bench" ]; then
  echo "no $bench: build it first (cmake --build $build --target level_set_bench)" >&2
  exit 1
fi

# Debian's python, which the package installs into (a python earlier on PATH may not see it).
py=/usr/bin/python3
if ! $py -c 'import numpy, skfmm' 2>/dev/null; then
  echo "installing python3-scikit-fmm"
  sudo=""
  [ "$(id -u)" = 0 ] || sudo=sudo
  $sudo apt-get install -y python3-scikit-fmm ||
    { $sudo apt-get update && $sudo apt-get install -y python3-scikit-fmm; }
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
TRESSLET_LEVELSET_EXPORT="$work/grid.bin" "$bench" --benchmark_repetitions=5 \
  --benchmark_report_aggregates_only=true \
  --benchmark_out="$work/ours.json" --benchmark_out_format=json
echo
$py "$root/tools/bench_level_set_peer.py" "$work/grid.bin" "$work/ours.json"
