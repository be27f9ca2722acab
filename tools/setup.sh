#!/usr/bin/env bash
# Installs every Debian package tresslet needs to build, test and benchmark.
# python3-numpy serves the asset generators in tools/ (their output is committed); clang and its
# runtime libraries build the fuzz targets (tools/fuzz.sh).
# Idempotent: packages already present are skipped, and apt runs only when something is missing.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  libprotobuf-dev protobuf-compiler
  libeigen3-dev
  libopencv-core-dev libopencv-imgcodecs-dev
  libassimp-dev
  libglew-dev
  liblbfgspp-dev
  libx11-dev libgl-dev
  libgtest-dev libgmock-dev
  libbenchmark-dev
  xvfb xauth libgl1-mesa-dri
  libnanoflann-dev
  python3 python3-numpy
  clang libclang-rt-14-dev
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
echo "setup: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
