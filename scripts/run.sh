#!/usr/bin/env bash
# The main job: set up, build, and run the engine's self-check.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$(nproc)" --target engine_tests
build/release/tests/engine_tests
