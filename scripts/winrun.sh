#!/usr/bin/env bash
# Runs one Windows program under Wine inside a private Xvfb and passes its exit
# code through.  Used by CI, by the demo, by developers and as CMake's
# CMAKE_CROSSCOMPILING_EMULATOR (then called as `winrun.sh program.exe args`).
#
#   scripts/winrun.sh [--arch win64|win32] [--screenshot out.png] [--] program.exe [args...]
#
# --arch win64 (default): a 64-bit prefix, which runs 64-bit and (WoW64)
# 32-bit programs; --arch win32: a 32-bit prefix, as a 32-bit Windows is.
#
# Environment:
#   WINRUN_BUILD_DIR  where the locale, the prefix and the logs live (default <repo>/build)
#   WINRUN_PREFIX     the Wine prefix (default $WINRUN_BUILD_DIR/wineprefix, with --arch win32
#                     $WINRUN_BUILD_DIR/wineprefix32)
#   WINRUN_VERBOSE=1  narrate the steps on stderr
#
# The program sees WINRUN_SCREENSHOT_REQUEST, a Unix path: writing a file there
# asks the runner to save a screenshot now (into the --screenshot file, or into
# the path written in the request file); the runner deletes the request when
# the picture is saved.
set -uo pipefail

usage() {
    echo "usage: $0 [--arch win64|win32] [--screenshot out.png] [--] program.exe [args...]" >&2
    exit 2
}

screenshot=""
arch=win64
while [ $# -gt 0 ]; do
    case "$1" in
        --arch) [ $# -ge 2 ] || usage; arch="$2"; shift 2 ;;
        --arch=*) arch="${1#--arch=}"; shift ;;
        --screenshot) [ $# -ge 2 ] || usage; screenshot="$2"; shift 2 ;;
        --screenshot=*) screenshot="${1#--screenshot=}"; shift ;;
        --) shift; break ;;
        -h|--help) usage ;;
        *) break ;;
    esac
done
[ $# -ge 1 ] || usage
case "$arch" in win64|win32) ;; *) usage ;; esac

repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
build="${WINRUN_BUILD_DIR:-$repo/build}"
mkdir -p "$build"
build="$(cd "$build" && pwd)"
default_prefix="$build/wineprefix"
[ "$arch" = win32 ] && default_prefix="$build/wineprefix32"
prefix="${WINRUN_PREFIX:-$default_prefix}"
case "$prefix" in /*) ;; *) prefix="$PWD/$prefix" ;; esac
logdir="$build/winrun"
mkdir -p "$logdir"
case "$screenshot" in ""|/*) ;; *) screenshot="$PWD/$screenshot" ;; esac

say() { [ "${WINRUN_VERBOSE:-0}" = 1 ] && echo "winrun: $*" >&2; return 0; }
die() { echo "winrun: $*" >&2; exit 125; }

# --- packages: install only what is missing -------------------------------
# One list for the whole project: scripts/setup.sh, quiet when all is there.
need_packages() {
    "$repo/scripts/setup.sh" wine >"$logdir/apt.log" 2>&1 || die "package install failed, see $logdir/apt.log"
}

# --- locale: code pages 1251/866 come from LC_ALL only ---------------------
# Wine derives the ANSI and OEM code pages from LC_ALL, and the locale must
# exist; a private copy keeps /etc untouched.
setup_locale() {
    local dir="$build/locale"
    if [ ! -d "$dir/ru_RU.UTF-8" ]; then
        say "compiling the ru_RU.UTF-8 locale"
        mkdir -p "$dir"
        localedef -i ru_RU -f UTF-8 "$dir/ru_RU.UTF-8.tmp.$$" >"$logdir/localedef.log" 2>&1 ||
            [ -f "$dir/ru_RU.UTF-8.tmp.$$/LC_CTYPE" ] || die "localedef failed, see $logdir/localedef.log"
        mv -T "$dir/ru_RU.UTF-8.tmp.$$" "$dir/ru_RU.UTF-8" 2>/dev/null || rm -rf "$dir/ru_RU.UTF-8.tmp.$$"
    fi
    export LOCPATH="$dir"
    # bash itself cannot load the private locale and would warn; children can.
    # WINRUN_LOCALE (e.g. C.UTF-8, ANSI code page 1252) runs a program on a
    # machine that is not Russian.
    { export LC_ALL="${WINRUN_LOCALE:-ru_RU.UTF-8}"; } 2>/dev/null
    unset LANGUAGE
}

need_packages
setup_locale

export WINEPREFIX="$prefix" WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="mscoree,mshtml="
# A prefix's architecture is fixed when wineboot makes it. Debian's wine 8.0
# runs 32-bit programs in a win64 prefix through its old-style WoW64 (the
# wine32:i386 package's loader; system32 holds the 64-bit DLLs, syswow64 the
# 32-bit ones), and makes a real 32-bit prefix with WINEARCH=win32.
export WINEARCH="$arch"

# One run at a time per prefix: a prefix has one wineserver and one desktop.
mkdir -p "$(dirname "$prefix")"
exec 9>"$prefix.lock"
flock 9 || die "cannot lock $prefix.lock"

xvfb_pid=""
watch_pid=""
run_dir="$(mktemp -d "$logdir/run.XXXXXX")"
# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
    # Close fd 9 in everything we start here; the lock must die with this script.
    [ -n "$watch_pid" ] && kill "$watch_pid" 2>/dev/null
    wineserver -k 9>&- >/dev/null 2>&1
    wineserver -w 9>&- >/dev/null 2>&1
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$run_dir"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# --- display: a private Xvfb on a free display number ----------------------
start_xvfb() {
    local fdfile="$run_dir/display"
    Xvfb -displayfd 8 -screen 0 1024x768x24 -nolisten tcp 8>"$fdfile" 9>&- \
        </dev/null >"$logdir/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$fdfile" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || die "Xvfb did not start, see $logdir/xvfb.log"
        sleep 0.1
    done
    [ -s "$fdfile" ] || die "Xvfb gave no display number"
    DISPLAY=":$(head -n1 "$fdfile")"
    export DISPLAY
    say "Xvfb on $DISPLAY (pid $xvfb_pid)"
}

# The wineserver and the helper processes inherit the descriptors of whoever
# starts them first; starting the server here with its output in a file keeps
# a caller's pipe (ctest, $(...)) from being held open after the run.
start_wineserver() {
    wineserver -p 9>&- </dev/null >>"$logdir/wineserver.log" 2>&1
}

# --- prefix: created once, with the virtual desktop that makes hit-testing work
# (The marker's number goes up whenever the prefix's setup changes, so that
# an older prefix is made again.)
ready_marker=".winrun-ready-3"
setup_prefix() {
    [ -f "$prefix/$ready_marker" ] && return 0
    local t0=$SECONDS
    echo "winrun: creating Wine prefix $prefix" >&2
    rm -rf "$prefix"
    wineboot -i 9>&- </dev/null >"$logdir/wineboot.log" 2>&1 || die "wineboot failed, see $logdir/wineboot.log"
    wineserver -w 9>&-
    # Without a window manager Wine's own virtual desktop draws the captions,
    # so WindowFromPoint and WM_NCHITTEST see the frame and HTCAPTION.
    wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f \
        9>&- </dev/null >>"$logdir/wineboot.log" 2>&1 || die "reg add failed"
    wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
        9>&- </dev/null >>"$logdir/wineboot.log" 2>&1 || die "reg add failed"
    # The wizard's font is MS Sans Serif, which Windows has as bitmap fonts
    # (sserife*.fon, one per code page). Debian's Wine does not see the copies
    # that fonts-wine installs, and falls back to a wider face that cuts the
    # panel's labels; in the prefix's Fonts folder it finds them.
    cp /usr/share/wine/fonts/sserife*.fon "$prefix/drive_c/windows/Fonts/" 2>>"$logdir/wineboot.log" \
        || die "the MS Sans Serif fonts of fonts-wine are missing"
    wineserver -w 9>&-
    touch "$prefix/$ready_marker"
    echo "winrun: prefix ready in $((SECONDS - t0)) s" >&2
}

# Under Wine's virtual desktop a top-level window opened after the first one
# reads back black from the root window although its own contents are right
# (seen with message boxes and owned windows); so the picture is the root with
# every mapped window of the desktop pasted over it, bottom to top.
take_screenshot() {
    local out="$1" shot="$run_dir/shot" parent id w h x y
    local log="$logdir/screenshot.log"
    mkdir -p "$(dirname "$out")"
    if ! xwd -root -silent -display "$DISPLAY" 2>>"$log" | xwdtopnm >"$shot.ppm" 2>>"$log"; then
        echo "winrun: screenshot failed, see $log" >&2
        return 1
    fi
    parent="$(xwininfo -root -children -display "$DISPLAY" 2>>"$log" |
        sed -n 's/^ *\(0x[0-9a-f]*\) "[^"]* - Wine desktop".*/\1/p' | head -n1)"
    local target=(-root)
    [ -n "$parent" ] && target=(-id "$parent")
    # xwininfo lists children top first; each line ends in WxH+X+Y  +absX+absY.
    xwininfo -children -display "$DISPLAY" "${target[@]}" 2>>"$log" |
        sed -n 's/^ *\(0x[0-9a-f]*\) .* \([0-9]*\)x\([0-9]*\)+-\{0,1\}[0-9]*+-\{0,1\}[0-9]*  *+\(-\{0,1\}[0-9]*\)+\(-\{0,1\}[0-9]*\)$/\1 \2 \3 \4 \5/p' |
        tac | while read -r id w h x y; do
            # Helper windows are 1x1; pnmpaste needs the window inside the screen.
            if [ "$w" -le 1 ] || [ "$h" -le 1 ] || [ "$x" -lt 0 ] || [ "$y" -lt 0 ] ||
                [ $((x + w)) -gt 1024 ] || [ $((y + h)) -gt 768 ]; then
                continue
            fi
            xwininfo -id "$id" -display "$DISPLAY" 2>/dev/null | grep -q 'Map State: IsViewable' || continue
            xwd -id "$id" -silent -display "$DISPLAY" 2>>"$log" | xwdtopnm >"$shot.win.ppm" 2>>"$log" &&
                pnmpaste "$shot.win.ppm" "$x" "$y" "$shot.ppm" >"$shot.next.ppm" 2>>"$log" &&
                mv -f "$shot.next.ppm" "$shot.ppm"
        done
    if ! pnmtopng "$shot.ppm" >"$out.tmp" 2>>"$log"; then
        rm -f "$out.tmp"
        echo "winrun: screenshot failed, see $log" >&2
        return 1
    fi
    mv -f "$out.tmp" "$out"
    say "screenshot saved to $out"
}

# Serves screenshot requests of the program while it runs.
watch_requests() {
    local req="$1" target
    while :; do
        if [ -f "$req" ]; then
            target="$(head -n1 "$req" | tr -d '\r')"
            [ -n "$target" ] || target="$screenshot"
            [ -n "$target" ] || target="$build/screenshot.png"
            case "$target" in /*) ;; *) target="$PWD/$target" ;; esac
            take_screenshot "$target" && [ "$target" = "$screenshot" ] && touch "$run_dir/shot.taken"
            rm -f "$req"
        fi
        sleep 0.1
    done
}

start_xvfb
setup_prefix
start_wineserver

export WINRUN_SCREENSHOT_REQUEST="$run_dir/screenshot.request"
watch_requests "$WINRUN_SCREENSHOT_REQUEST" 9>&- </dev/null &
watch_pid=$!

say "running $*"
program="$1"
shift
wine "$program" "$@" 9>&-
rc=$?
if [ -n "$screenshot" ]; then
    # A requested picture wins; otherwise show what is left on the screen.
    [ -f "$run_dir/shot.taken" ] || take_screenshot "$screenshot"
fi
exit "$rc"
