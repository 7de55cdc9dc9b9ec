#!/usr/bin/env bash
# The main job: set up, build the offline renderer, and render the built-in test signal through the
# plug-in's processor into out/render.wav. Extra arguments go to kestrune-render (e.g. type="Dark Room").
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)" --target kestrune-render
mkdir -p out
build/release/tools/kestrune-render/kestrune-render --out out/render.wav "$@"
