#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang in build-fuzz/ and runs each one for the given
# number of seconds (default 20) from its seed corpus in fuzz/corpus/<target>/, with the words of
# fuzz/<target>.dict (else fuzz/messages.dict). New inputs the fuzzer finds go to
# build-fuzz/corpus/<target>/, findings to build-fuzz/findings/<target>/; the script fails when
# any target finds a crash, a leak, a hang or undefined behaviour.
# Usage: tools/fuzz.sh [seconds per target] [target ...]
set -euo pipefail
cd "$(dirname "$0")/.."
# Absolute paths: a target may change its working directory (the autosave is read from there).
root="$(pwd)"
seconds="${1:-20}"
shift || true

# -O1 with line tables: the usual fuzzing build, quick to compile, with readable stacks.
launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
mkdir -p build-fuzz
if ! { CC=clang CXX=clang++ cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=Release \
         -DCMAKE_CXX_FLAGS_RELEASE="-O1 -gline-tables-only" "${launcher[@]}" \
         -DTRESSLET_FUZZ=ON -DTRESSLET_TESTS=OFF -DTRESSLET_BENCH=OFF &&
       cmake --build build-fuzz --target fuzzers -j "$(nproc)"; } >build-fuzz/build.log 2>&1; then
  tail -40 build-fuzz/build.log
  exit 1
fi

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for seeds in fuzz/corpus/*/; do targets+=("$(basename "$seeds")"); done
fi

status=0
for target in "${targets[@]}"; do
  work="$root/build-fuzz/corpus/$target"
  findings="$root/build-fuzz/findings/$target"
  mkdir -p "$work" "$findings"
  log="build-fuzz/$target.log"
  # The target's own dictionary, else the message schema's words.
  dict="$root/fuzz/$target.dict"
  [ -f "$dict" ] || dict="$root/fuzz/messages.dict"
  if "build-fuzz/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -max_len=65536 -dict="$dict" -artifact_prefix="$findings/" "$work" "$root/fuzz/corpus/$target" \
      >"$log" 2>&1; then
    echo "fuzz: $target: $(grep -Eo '#[0-9]+' "$log" | tail -1 | tr -d '#') inputs, nothing found"
  else
    echo "fuzz: $target FOUND a problem; see $log and $findings/"
    tail -30 "$log"
    status=1
  fi
done
exit $status
