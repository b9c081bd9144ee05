#!/usr/bin/env bash
# The project's test command: installs what is missing, then builds and runs
#   1. unit tests, native (GoogleTest through CTest);
#   2. the same under AddressSanitizer, LeakSanitizer and UBSan;
#   2b. the tests of the threaded code (the package write, inspect) under ThreadSanitizer;
#   3. read-back tests of written archives by independent readers (part of 1 and 2);
#   4. the Windows build under Wine inside Xvfb (smoke program, end-to-end tests);
#   5. a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all

step() { printf '\n== %s\n' "$*"; }

step "native build and unit tests"
cmake --preset native >/dev/null
cmake --build --preset native
ctest --preset native

step "sanitizer build and unit tests"
cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

step "ThreadSanitizer build, tests of the threaded code"
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan

step "Windows build, run under Wine"
cmake --preset windows >/dev/null
cmake --build --preset windows
ctest --preset windows

if [ -x scripts/fuzz.sh ]; then
  step "fuzz targets, short run"
  scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
