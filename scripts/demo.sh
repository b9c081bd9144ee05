#!/usr/bin/env bash
# The main job: builds everything, then runs the wizard itself under Wine
# against the Designer simulator. The end-to-end driver plays the user: it
# points at the simulator's caption to capture it, fills the fields, generates
# a key and clicks "Сформировать". The package is then read back on Linux.
#   scripts/demo.sh [report [configuration [package]]]
# report: a comparison report (Windows-1251), default samples/report.txt;
# configuration: the simulator's tree (UTF-8), default samples/configuration.txt;
# package: where to write the package, default build/demo/Пакет.1c82pkg.
# Screenshots of the collapsed form, the expanded form and the form during the
# build go to build/demo/wizard-*.png.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

report="$(realpath -m "${1:-samples/report.txt}")"
configuration="$(realpath -m "${2:-samples/configuration.txt}")"
package="$(realpath -m "${3:-build/demo/Пакет.1c82pkg}")"
for f in "$report" "$configuration"; do
  [ -f "$f" ] || { echo "demo: no such file: $f" >&2; exit 2; }
done

scripts/setup.sh all
cmake --preset windows >/dev/null
cmake --build --preset windows

bin="$root/build/windows"
demo="$root/build/demo"
mkdir -p "$demo" "$(dirname "$package")"
rm -f "$demo"/wizard-*.png "$demo/key.txt"
(cd "$demo" && "$root/scripts/winrun.sh" "$bin/tools/e2e_driver/e2e_driver.exe" \
  --sim "$bin/tools/designer_sim/designer_sim.exe" --wizard "$bin/app/wizard.exe" \
  --set report="$report" --set config="$configuration" \
  --set agreement="$root/samples/agreement.txt" --set description="$root/samples/description.txt" \
  --set out="$package" --set keyfile="$demo/key.txt" --set shots="$demo" wizard_demo)

key="$(cat "$demo/key.txt")"
echo
echo "demo: package $package"
echo "demo: key     $key"
python3 scripts/show_package.py "$package" "$key"
echo "demo: screenshots $(ls "$demo"/wizard-*.png | tr '\n' ' ')"
