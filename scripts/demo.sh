#!/usr/bin/env bash
# The main job: builds the Windows programs, runs the Designer simulator with
# a short driver tour under Wine and saves a screenshot of it, then builds a
# package from a comparison report against the simulator (report walk, object
# capture over Win32, assembly) and reads the package back on Linux.
#   scripts/demo.sh [out.png]      (default build/demo.png)
set -euo pipefail
cd "$(dirname "$0")/.."

out="$(realpath -m "${1:-build/demo.png}")"
scripts/setup.sh all
cmake --preset windows >/dev/null
cmake --build --preset windows

# The simulator's log (e2e_demo.sim.log) lands in the working directory.
bin=build/windows/tools
mkdir -p build/demo
(cd build/demo && ../../scripts/winrun.sh --screenshot "$out" \
  "../../$bin/e2e_driver/e2e_driver.exe" --sim "../../$bin/designer_sim/designer_sim.exe" demo build_package)
python3 tests/e2e/check_package.py build/demo/build_out
echo "demo: screenshot saved to $out"
echo "demo: package written to $(realpath build/demo/build_out)/Пакет.1c82pkg (key in expected.key)"
