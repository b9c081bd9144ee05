#!/usr/bin/env bash
# pkgtool.exe under Wine: --version, preview of a sample report, inspect
# of the package that the build_package scenario wrote (its key, its
# PackageData.xml byte for byte, a wrong key refused), and build's refusals
# (no such Designer, a key too long; the builds themselves: e2e_pkgtool_build).
#   wine_pkgtool.sh WINRUN PKGTOOL_EXE BUILD_OUT DATA_DIR WORK_DIR VERSION
# VERSION: the version the build was configured with.
set -uo pipefail
winrun="$1" exe="$2" out="$3" data="$4" work="$5" version="$6"
mkdir -p "$work"
failures=0
check() {  # check <what> <command...>
    local what="$1"; shift
    if "$@"; then echo "ok: $what"; else echo "FAIL: $what"; failures=$((failures + 1)); fi
}
run() {  # run <stdout file> <args...>: the exit status of pkgtool.exe
    local file="$1"; shift
    "$winrun" "$exe" "$@" >"$work/$file" 2>"$work/$file.err"
}

run version.txt --version
check "--version" grep -qxF "pkgtool $version" "$work/version.txt"

run preview.txt preview "$data/report.txt"
check "preview exits 0" test $? -eq 0
check "preview prints what a build would capture" cmp -s "$work/preview.txt" "$data/report.preview.txt"

# The key file holds the Windows-1251 bytes of the key; the command line takes UTF-8.
key="$(iconv -f CP1251 -t UTF-8 "$out/expected.key")"
run package.xml inspect --key "$key" --xml "$out/Пакет.1c82pkg"
check "inspect --xml exits 0" test $? -eq 0
check "inspect --xml gives PackageData.xml byte for byte" cmp -s "$work/package.xml" "$out/expected.xml"

run inspect.txt inspect --key "$key" "$out/Пакет.1c82pkg"
check "inspect exits 0" test $? -eq 0
check "inspect lists the agreement" grep -q "^  Пользовательское соглашение.txt	" "$work/inspect.txt"
check "inspect checks the layout" grep -q "matches the package layout" "$work/inspect.txt"

run wrong.txt inspect --key "not-the-key" "$out/Пакет.1c82pkg"
check "a wrong key exits 1" test $? -eq 1
# "Wrong password for ..." when the encryption header's check byte disagrees;
# one wrong key in 256 passes that byte and fails at the data instead, with
# "... (damaged, or a wrong password)".
check "a wrong key is named" grep -qi "wrong password" "$work/wrong.txt.err"

run build.txt build --report "$data/report.txt" --package "$work/p.1c82pkg" --window "Нет такого конфигуратора"
check "build without such a Designer: exit 1" test $? -eq 1
check "build says why" grep -q "No running Designer has \"Нет такого конфигуратора\" in its caption" "$work/build.txt.err"
run build-key.txt build --report "$data/report.txt" --package "$work/p.1c82pkg" --key 0123456789012345678901234567890123456
check "build with a 37-character key: exit 2" test $? -eq 2
check "build wrote nothing" test ! -e "$work/p.1c82pkg"

if [ "$failures" -ne 0 ]; then
    echo "$failures check(s) failed; outputs in $work"
    exit 1
fi
