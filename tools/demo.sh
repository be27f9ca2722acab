#!/usr/bin/env bash
# Installs what the project needs, builds it, and runs tresslet from assets/run/ with the
# simulated headset replaying assets/traces/demo.trace (or the trace given as the first argument).
# Uses the real display when there is one, else a virtual one (Xvfb).
set -euo pipefail
cd "$(dirname "$0")/.."
bash tools/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target tresslet
trace=$(realpath "${1:-assets/traces/demo.trace}")
mkdir -p assets/run
cd assets/run
# A first run's brush: this file sets the stroke's colour (brown) and width; the trace picks the
# hair texture itself, so its stroke is saved as a painting and its OBJ under ../data/record/ when
# it closes. Later runs keep the brush of the run before.
if [ ! -e autosaves.txt ]; then
  printf 'operation {\n  width: 0.01\n  color {\n    red: 0.55\n    green: 0.35\n    blue: 0.2\n    lightness: 1\n  }\n}\n' > autosaves.txt
fi
export TRESSLET_VR_TRACE="$trace"
if [ -n "${DISPLAY:-}" ]; then
  exec ../../build/tresslet
else
  exec xvfb-run -a -s "-screen 0 1920x1080x24" ../../build/tresslet
fi
