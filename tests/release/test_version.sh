#!/usr/bin/env bash
# cmake/Version.cmake on source trees made here: no git, a checkout without a
# tag, at a tag, after it, a folder inside a checkout, and a version set by hand.
#   test_version.sh VERSION_CMAKE
set -uo pipefail
script="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
failures=0
expect() {  # expect <what> <wanted> <source dir> [cmake -D...]
    local what="$1" want="$2" dir="$3"; shift 3
    local got
    got="$(cmake "$@" -DWIZARD_SOURCE_DIR="$dir" -P "$script" 2>&1)"
    if [ "$got" = "$want" ]; then echo "ok   $what"; else echo "FAIL $what: got '$got', want '$want'"; failures=$((failures + 1)); fi
}
git_in() { git -C "$work/repo" -c user.name=t -c user.email=t@t -c commit.gpgsign=false "$@" >/dev/null; }

mkdir -p "$work/plain" "$work/repo/sub"
expect "no git: the fallback" "1.0.0;1, 0, 0, 0" "$work/plain"
git_in init -q
echo a >"$work/repo/a" && git_in add a && git_in commit -qm one
expect "a checkout without a tag: the fallback" "1.0.0;1, 0, 0, 0" "$work/repo"
git_in tag v2.3.4
git_in tag other-9.9.9
expect "at the tag" "2.3.4;2, 3, 4, 0" "$work/repo"
echo b >"$work/repo/b" && git_in add b && git_in commit -qm two
echo c >"$work/repo/c" && git_in add c && git_in commit -qm three
hash="$(git -C "$work/repo" rev-parse --short HEAD)"
expect "two commits after the tag" "2.3.4-2-g$hash;2, 3, 4, 2" "$work/repo"
expect "a folder inside a checkout is no checkout of its own" "1.0.0;1, 0, 0, 0" "$work/repo/sub"
expect "set by hand" "5.6.7;5, 6, 7, 0" "$work/repo" -DWIZARD_VERSION=5.6.7
if cmake -DWIZARD_VERSION=1.70000.0 -DWIZARD_SOURCE_DIR="$work/plain" -P "$script" 2>"$work/err" ||
    ! grep -q '70000 does not fit a version resource' "$work/err"; then
    echo "FAIL a number over 65535 is refused"; failures=$((failures + 1))
else
    echo "ok   a number over 65535 is refused"
fi
[ "$failures" -eq 0 ]
