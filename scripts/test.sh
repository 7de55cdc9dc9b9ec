#!/usr/bin/env bash
# Sets up, builds and runs every test: the engine under AddressSanitizer and UBSan, the render tool's
# WAV fuzzer, the threading test under ThreadSanitizer, then everything in release.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_WITH_JUCE=OFF -DKESTRUNE_SANITIZE=ON
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/sanitize -j "$jobs" --output-on-failure

# kestrune-render's WAV input under libFuzzer (clang, AddressSanitizer and UBSan): every seed, then a
# minute's fuzzing from them into a scratch folder. Each input is held to 2 s and 64 MB a request.
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DKESTRUNE_SANITIZE=ON
cmake --build build/fuzz -j "$jobs" --target wav_fuzzer
fuzz_scratch=$(mktemp -d)
build/fuzz/tests/fuzz/wav_fuzzer -max_total_time=60 -timeout=2 -malloc_limit_mb=64 -rss_limit_mb=512 \
    "$fuzz_scratch" tests/fuzz/wav-corpus
rm -rf "$fuzz_scratch"

# The processor under ThreadSanitizer: parameter automation against running blocks. Address-space
# randomisation is turned off for the run because some kernels' layouts confuse the sanitizer.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_TSAN=ON
cmake --build build/tsan -j "$jobs" --target plugin_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    setarch "$(uname -m)" -R build/tsan/tests/plugin/plugin_tests --gtest_filter='Threading.*'

# Everything else in release, last so that the run ends with CTest's summary.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$jobs"
ctest --test-dir build/release -j "$jobs" --output-on-failure
