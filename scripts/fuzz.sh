#!/usr/bin/env bash
# Builds the libFuzzer targets with the fuzz preset and runs each of them.
#   scripts/fuzz.sh [seconds]   total running time, shared by the targets (default 60)
# Each target starts from its committed seeds in tests/fuzz/corpus/<name>/ and
# keeps what it finds in build/fuzz/corpus/<name>/ (reused by later runs).
# A crash leaves its input in build/fuzz/artifacts/ and fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."

total="${1:-60}"
case "$total" in ''|*[!0-9]*) echo "usage: $0 [seconds]" >&2; exit 2 ;; esac

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz --target fuzz_targets

targets=()
for exe in build/fuzz/tests/fuzz/fuzz_*; do
  if [ -f "$exe" ] && [ -x "$exe" ]; then targets+=("$exe"); fi
done
if [ ${#targets[@]} -eq 0 ]; then
  echo "fuzz: no fuzz targets were built" >&2
  exit 1
fi

per=$(( total / ${#targets[@]} ))
if [ "$per" -lt 1 ]; then per=1; fi
mkdir -p build/fuzz/artifacts
for exe in "${targets[@]}"; do
  name="$(basename "$exe")"
  name="${name#fuzz_}"
  work="build/fuzz/corpus/$name"
  log="build/fuzz/$name.log"
  mkdir -p "$work"
  seeds=()
  if [ -d "tests/fuzz/corpus/$name" ]; then seeds=("tests/fuzz/corpus/$name"); fi
  echo "== fuzz $name for ${per}s"
  # One process only (no -jobs/-workers): the machine's cores are shared.
  status=0
  "$exe" -max_total_time="$per" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
         -artifact_prefix="build/fuzz/artifacts/$name-" "$work" "${seeds[@]}" >"$log" 2>&1 || status=$?
  grep -E '^(#[0-9]+[[:space:]]+(INITED|DONE)|stat::|==[0-9]+==|SUMMARY|Test unit written)' "$log" || true
  if [ "$status" -ne 0 ]; then
    echo "fuzz: $name failed (exit $status); the log is $log, the input in build/fuzz/artifacts/" >&2
    exit "$status"
  fi
done
