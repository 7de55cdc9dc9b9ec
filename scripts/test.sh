#!/usr/bin/env bash
# Sets up, builds and runs every test: the engine alone and then the processor under AddressSanitizer
# and UBSan (with every fuzzer over its seeds, and a minute's fuzzing of the render tool's WAV input),
# the threading test under ThreadSanitizer, the engine with fused multiply-adds available, then
# everything in release.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build/sanitize -G Ninja -DCMAKE_BUILD_TYPE=Debug -DKESTRUNE_WITH_JUCE=OFF -DKESTRUNE_SANITIZE=ON
cmake --build build/sanitize -j "$jobs"
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/sanitize -j "$jobs" --output-on-failure

# The processor under AddressSanitizer and UBSan, with clang so that libFuzzer links: the processor's
# tests (those that host the built bundles aside), the render tool's WAV input and argument tests, and
# every fuzzer once over its seed corpus.
CC=clang CXX=clang++ cmake -S . -B build/sanitize-juce -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_SANITIZE=ON
cmake --build build/sanitize-juce -j "$jobs" --target plugin_tests kestrune_render_tests fuzzers
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/sanitize-juce -j "$jobs" --output-on-failure -R '^[A-Z][A-Za-z]*\.|_corpus$'

# Then a minute's fuzzing of kestrune-render's WAV input from its seeds into a scratch folder, each input
# held to 2 s and 64 MB a request.
fuzz_scratch=$(mktemp -d)
build/sanitize-juce/tests/fuzz/wav_fuzzer -max_total_time=60 -timeout=2 -malloc_limit_mb=64 -rss_limit_mb=512 \
    "$fuzz_scratch" tests/fuzz/corpus/wav
rm -rf "$fuzz_scratch"

# The processor under ThreadSanitizer: parameter automation against running blocks. Address-space
# randomisation is turned off for the run because some kernels' layouts confuse the sanitizer.
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_TSAN=ON
cmake --build build/tsan -j "$jobs" --target plugin_tests
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" \
    setarch "$(uname -m)" -R build/tsan/tests/plugin/plugin_tests --gtest_filter='Threading.*'

# The engine where the processor offers fused multiply-adds (-mfma): its output must still be the
# reference's to the bit, so no compiler may fuse a * b + c on its own.
if grep -qw fma /proc/cpuinfo; then
    cmake -S . -B build/fma -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKESTRUNE_WITH_JUCE=OFF -DCMAKE_CXX_FLAGS=-mfma
    cmake --build build/fma -j "$jobs" --target engine_tests
    build/fma/tests/engine_tests
fi

# Everything else in release, last so that the run ends with CTest's summary.
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build/release -j "$jobs"
ctest --test-dir build/release -j "$jobs" --output-on-failure
