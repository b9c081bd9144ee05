#!/usr/bin/env bash
# Tests the release from the zips themselves: makes them (scripts/release.sh),
# unpacks each into a fresh folder and runs the unpacked programs, not the
# build tree's:
#   - each zip's files, SHA256SUMS, and of each exe the machine type, PE
#     subsystem and OS version 6.1, imports (only Windows DLLs, only what
#     Windows 7 exports) and version resource (scripts/check_release.py);
#   - the 64-bit wizard.exe through the main job's run (the driver's
#     wizard_demo) against the simulator, under 64-bit Wine;
#   - the 32-bit wizard.exe the same under 32-bit Wine (a WINEARCH=win32 prefix);
#   - the 64-bit wizard.exe against the 32-bit simulator (the Designer is a
#     32-bit program), under 64-bit Wine;
#   - pkgtool.exe --version and inspect of the package just written, from each zip;
#     the three packages' PackageData.xml read back on Linux and compared.
# The driver and the simulator are test tools and come from the build trees.
#   scripts/release_test.sh
set -uo pipefail
cd "$(dirname "$0")/.."
root="$(pwd)"

scripts/release.sh || exit 1
# The test tools of both build trees: release.sh builds only what the zips
# hold, and a fresh clone has no simulator or driver of either architecture.
cmake --build --preset windows --target designer_sim e2e_driver || exit 1
cmake --build --preset windows32 || exit 1

work="$root/build/release_test"
rm -rf "$work"
mkdir -p "$work"
failures=0
check() {  # check <what> <command...>
    local what="$1"; shift
    if "$@"; then echo "ok   $what"; else echo "FAIL $what"; failures=$((failures + 1)); fi
}

version="$(sed -n 's/^#define WIZARD_VERSION_TEXT "\(.*\)"$/\1/p' build/windows/generated/WizardVersion.h)"
declare -A unpacked
for arch in win64 win32; do
    zip="dist/1c82-package-wizard-$version-$arch.zip"
    mkdir -p "$work/$arch"
    unzip -q "$zip" -d "$work/$arch"
    unpacked[$arch]="$work/$arch/1c82-package-wizard-$version-$arch"
    echo "== $zip: files and executables"
    /usr/bin/python3 scripts/check_release.py "${unpacked[$arch]}" "$arch" "$version" || failures=$((failures + 1))
done

# The check itself refuses what it must: the 64-bit programs taken for 32-bit
# ones of another version (their x64-only imports are no 32-bit exports
# either); and an export list without one function they import and with
# another listed as Windows 8.
/usr/bin/python3 scripts/check_release.py "${unpacked[win64]}" win32 9.9.9 >"$work/refused.txt" 2>&1
check "check_release.py refuses a wrong machine and version" diff -u - <(grep '^FAIL' "$work/refused.txt" | cut -d: -f1,2) <<'END'
FAIL wizard.exe: machine win32
FAIL wizard.exe: every imported function is in Windows 7
FAIL wizard.exe: version resource 9.9.9 (9, 9, 9, 0)
FAIL pkgtool.exe: machine win32
FAIL pkgtool.exe: every imported function is in Windows 7
FAIL pkgtool.exe: version resource 9.9.9 (9, 9, 9, 0)
END
# A wizard.exe whose header says OS version 5.2 (XP x64), patched in a copy.
cp -r "${unpacked[win64]}" "$work/patched"
/usr/bin/python3 -c 'import pefile, sys
pe = pefile.PE(sys.argv[1]); pe.OPTIONAL_HEADER.MajorOperatingSystemVersion = 5
pe.OPTIONAL_HEADER.MinorOperatingSystemVersion = 2; pe.write(sys.argv[1] + ".new")' "$work/patched/wizard.exe"
mv "$work/patched/wizard.exe.new" "$work/patched/wizard.exe"
/usr/bin/python3 scripts/check_release.py "$work/patched" win64 "$version" >"$work/refused_os.txt" 2>&1
check "check_release.py refuses an older OS version in the header" diff -u - <(grep '^FAIL' "$work/refused_os.txt" | cut -d: -f1,2) <<'END'
FAIL SHA256SUMS: wizard.exe
FAIL wizard.exe: subsystem and OS version 6.1
END
sed -e '/CompareStringOrdinal/d' -e 's/^\(bcrypt.dll *BCryptGenRandom *\)6.0/\16.2/' \
    release/windows7-exports.txt >"$work/exports.txt"
/usr/bin/python3 scripts/check_release.py --exports "$work/exports.txt" "${unpacked[win64]}" win64 "$version" \
    >"$work/refused_imports.txt" 2>&1
check "check_release.py refuses an unlisted and a too new import" diff -u - <(grep '^FAIL' "$work/refused_imports.txt") <<'END'
FAIL wizard.exe: every imported function is in Windows 7: not in exports.txt: kernel32.dll!CompareStringOrdinal; newer than Windows 7: bcrypt.dll!BCryptGenRandom (6.2)
FAIL pkgtool.exe: every imported function is in Windows 7: not in exports.txt: kernel32.dll!CompareStringOrdinal; newer than Windows 7: bcrypt.dll!BCryptGenRandom (6.2)
END

# demo <name> <winrun --arch> <tools build> <simulator build> <unpacked zip>:
# the main job's run of the unpacked wizard, then the unpacked pkgtool on its package.
demo() {
    local name="$1" arch="$2" tools="build/$3" sim="build/$4" zipdir="$5"
    local out="$work/$name"
    mkdir -p "$out"
    echo "== $name: wizard.exe of $(basename "$zipdir") against $sim's simulator, Wine $arch"
    (cd "$out" && "$root/scripts/winrun.sh" --arch "$arch" "$root/$tools/tools/e2e_driver/e2e_driver.exe" \
        --sim "$root/$sim/tools/designer_sim/designer_sim.exe" --wizard "$zipdir/wizard.exe" \
        --set report="$root/samples/report.txt" --set config="$root/samples/configuration.txt" \
        --set agreement="$root/samples/agreement.txt" --set description="$root/samples/description.txt" \
        --set out="$out/Пакет.1c82pkg" --set keyfile="$out/key.txt" wizard_demo) >"$out/demo.log" 2>&1
    check "$name: the wizard's run ends without a failed check" grep -q '^[1-9][0-9]* passed, 0 failed' "$out/demo.log"
    grep -E '^(package|key):|^# log: ' "$out/demo.log" | sed 's/^/     /'
    local key
    key="$(cat "$out/key.txt" 2>/dev/null)"
    "$root/scripts/winrun.sh" --arch "$arch" "$zipdir/pkgtool.exe" --version >"$out/version.txt" 2>&1
    check "$name: pkgtool.exe --version prints \"pkgtool $version\"" grep -qxF "pkgtool $version" <(tr -d '\r' <"$out/version.txt")
    "$root/scripts/winrun.sh" --arch "$arch" "$zipdir/pkgtool.exe" inspect --key "$key" "$out/Пакет.1c82pkg" \
        >"$out/inspect.txt" 2>&1
    check "$name: pkgtool.exe inspect: every CRC verified, 5 objects, matches the layout" \
        grep -qE '^PackageData.xml: [0-9]+ bytes, 5 objects, every CRC verified, matches the package layout' \
        <(tr -d '\r' <"$out/inspect.txt")
    tr -d '\r' <"$out/inspect.txt" | grep '^PackageData.xml:' | sed 's/^/     /'
}

demo demo64 win64 windows windows "${unpacked[win64]}"
demo demo32 win32 windows32 windows32 "${unpacked[win32]}"
# A 32-bit Windows has no 64-bit system beneath its programs (WoW64 would set
# PROCESSOR_ARCHITEW6432).
scripts/winrun.sh --arch win32 cmd /c 'echo %PROCESSOR_ARCHITECTURE% %PROCESSOR_ARCHITEW6432%' >"$work/arch32.txt" 2>&1
check "demo32's Wine is a 32-bit Windows (x86, no WoW64)" grep -qx 'x86 %PROCESSOR_ARCHITEW6432%' <(tr -d '\r' <"$work/arch32.txt")
demo demo64_sim32 win64 windows windows32 "${unpacked[win64]}"

echo "== the packages read back on Linux"
python3 scripts/show_package.py "$work/demo64/Пакет.1c82pkg" "$(cat "$work/demo64/key.txt" 2>/dev/null)" |
    sed 's/^/     /'
for name in demo32 demo64_sim32; do
    check "$name: PackageData.xml byte for byte as demo64's" \
        python3 scripts/show_package.py "$work/$name/Пакет.1c82pkg" "$(cat "$work/$name/key.txt" 2>/dev/null)" \
            --same-document "$work/demo64/Пакет.1c82pkg" "$(cat "$work/demo64/key.txt" 2>/dev/null)" \
            >"$work/$name/readback.txt" 2>&1
done

echo "release test: $failures failed"
[ "$failures" -eq 0 ]
