#!/usr/bin/env bash
# Makes the release: dist/1c82-package-wizard-<version>-win64.zip and
# ...-win32.zip, each with wizard.exe, pkgtool.exe, the user guide
# (guide.html), the licence texts and SHA256SUMS (release/CMakeLists.txt,
# packed by CPack's ZIP generator). The version comes from `git describe`
# (cmake/Version.cmake). Installs what it needs; prints each zip's path and
# SHA-256 checksum.
#   scripts/release.sh
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/setup.sh all
mkdir -p dist
zips=()
for preset in windows windows32; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" --target release_stage
  name="$(cat "build/$preset/release/release-name.txt")"
  rm -f "dist/$name.zip"
  cpack --config "build/$preset/release/CPackReleaseConfig.cmake" >"build/$preset/release/cpack.log" ||
    { cat "build/$preset/release/cpack.log" >&2; exit 1; }
  [ -f "dist/$name.zip" ] || { echo "release: CPack made no dist/$name.zip" >&2; exit 1; }
  zips+=("dist/$name.zip")
done

echo
for zip in "${zips[@]}"; do
  echo "release: $(realpath "$zip") ($(stat -c %s "$zip") bytes)"
  echo "         sha256 $(sha256sum "$zip" | cut -d' ' -f1)"
done
