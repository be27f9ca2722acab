#!/usr/bin/env bash
# Installs what the project needs, builds it, runs every test (GL tests under Xvfb), then builds
# the fuzz targets with clang and runs each for 10 seconds.
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
xvfb-run -a -s "-screen 0 1280x1024x24" ctest --test-dir build --output-on-failure -j "$(nproc)"
bash tools/fuzz.sh 10
