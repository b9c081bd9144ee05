#!/usr/bin/env bash
# The project's test command: installs what is missing, then builds and runs
#   1. unit tests, native (GoogleTest through CTest);
#   2. the same under AddressSanitizer, LeakSanitizer and UBSan;
#   2b. the tests of the threaded code (the package write, inspect) under ThreadSanitizer;
#   3. read-back tests of written archives by independent readers (part of 1 and 2);
#   4. the Windows build under Wine inside Xvfb (smoke program, end-to-end tests);
#   4b. the release zips, 64-bit and 32-bit, checked and run from the zips
#       (scripts/release_test.sh: a few runs, not a second Wine suite);
#   5. a short run of each fuzz target.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all

step() { printf '\n== %s\n' "$*"; }

# Configure, build and test one preset.
run_preset() {
  step "$2"
  cmake --preset "$1" >/dev/null
  cmake --build --preset "$1"
  ctest --preset "$1"
}

run_preset native "native build and unit tests"
run_preset asan "sanitizer build and unit tests"
run_preset tsan "ThreadSanitizer build, tests of the threaded code"
run_preset windows "Windows build, run under Wine"

step "release zips (64-bit and 32-bit), run from the zips under 64-bit and 32-bit Wine"
scripts/release_test.sh

if [ -x scripts/fuzz.sh ]; then
  step "fuzz targets, short run"
  scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
fi
