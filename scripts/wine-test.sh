#!/usr/bin/env bash
# Runs the 64-bit wemb.dll inside Wine, the way Windows hosts load it: the
# module is installed into a fresh Wine prefix, registered as the handler of
# `wemb` (vidc.wemb under Drivers32), and tests/wine/vfw_host.cpp drives it
# through the compression manager. Unless told otherwise it also decodes a
# real JPEG frame with ICDecompress and plays samples/forest-pan.avi through
# Wine's own AVI reader (AVIFile, AVIStreamGetFrame), and compares every
# picture bit for bit with the Linux host's (tools/wemb-decode), which this
# script runs first. Further arguments are passed on to vfw_host.
#
#   scripts/wine-test.sh [VFW_HOST-ARGUMENT...]
#
# Environment:
#   WEMB_WIN64_DIR   the win64 build directory (default: build/win64 of this tree)
#   WEMB_DECODE      the Linux host that makes the reference pictures
#                    (default: build/default/tools/wemb-decode of this tree)
#   WEMB_WINE_PICTURES 1 (default): run the picture checks; 0: leave them out
#                    (vfw_host --no-pictures), wemb-decode is then not needed
#   WEMB_WINE_INSTALL how the codec is installed: "copy" (default: copy into
#                    system32 and `reg add` the Drivers32 value), "inf"
#                    (resources/wemb.inf through setupapi) or "reg"
#                    (copy, then import resources/wemb.reg with regedit)
#   WEMB_REQUIRE_WINDOWS when 1, a missing Wine, win64 build or wemb-decode
#                    fails the run instead of skipping it
#   WINE, WINESERVER the Wine loader and server (default: Debian's wine64 and
#                    wineserver under /usr/lib/wine, else whatever is on PATH)
#
# Exit status: vfw_host's (0 when every check passed); 77 when Wine, the
# win64 build or wemb-decode is missing, which CTest reports as a skipped
# test (1 instead under WEMB_REQUIRE_WINDOWS=1); 1 for any other failure.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
build=${WEMB_WIN64_DIR:-$here/build/win64}
decode=${WEMB_DECODE:-$here/build/default/tools/wemb-decode}
pictures=${WEMB_WINE_PICTURES:-1}
clip=$here/samples/forest-pan.avi
frame=$here/testdata/ycc420_227x149_q85.jpg

# A missing tool skips the test, unless the run must not skip (in CI, where
# the Windows builds and Wine are meant to be there).
unavailable() {
    echo "wine-test: $*"
    if [ "${WEMB_REQUIRE_WINDOWS:-0}" = 1 ]; then
        echo "wine-test: WEMB_REQUIRE_WINDOWS=1: failing instead of skipping"
        exit 1
    fi
    exit 77
}

# Prints the first candidate that is an executable file or a command on
# PATH; the variable's value, when set, is the only candidate.
find_tool() {  # find_tool VARIABLE-VALUE CANDIDATE...
    local chosen=$1
    shift
    if [ -n "$chosen" ]; then
        set -- "$chosen"
    fi
    for candidate in "$@"; do
        if [ -f "$candidate" ] && [ -x "$candidate" ]; then
            echo "$candidate"
            return
        fi
        if command -v "$candidate" >/dev/null 2>&1; then
            command -v "$candidate"
            return
        fi
    done
}

wine=$(find_tool "${WINE:-}" /usr/lib/wine/wine64 wine64 wine)
wineserver=$(find_tool "${WINESERVER:-}" /usr/lib/wine/wineserver wineserver64 wineserver)
if [ -z "$wine" ] || [ -z "$wineserver" ]; then
    unavailable "no Wine found (install Debian's wine64, or set WINE and WINESERVER" \
        "to the programs)"
fi
for file in "$build/wemb.dll" "$build/vfw_host.exe"; do
    if [ ! -f "$file" ]; then
        unavailable "$file is missing: build it with" \
            "'cmake --preset win64 && cmake --build build/win64'"
    fi
done
case $pictures in
    1)
        if [ ! -x "$decode" ]; then
            unavailable "$decode is missing: build it with" \
                "'cmake --preset default && cmake --build build/default'"
        fi ;;
    0) ;;
    *)
        echo "wine-test: WEMB_WINE_PICTURES=$pictures (0 or 1)"
        exit 1 ;;
esac

install=${WEMB_WINE_INSTALL:-copy}
case $install in
    copy | inf | reg) ;;
    *)
        echo "wine-test: unknown WEMB_WINE_INSTALL=$install (copy, inf or reg)"
        exit 1 ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/wemb-wine.XXXXXX") || exit 1
work=$(cd "$work" && pwd)
prefix=$work/prefix
reference=$work/reference
mkdir "$prefix" "$reference" || exit 1
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
# No .NET or Gecko installers, and no menu entries in the user's desktop.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEARCH=win64

cleanup() {
    "$wineserver" -k >/dev/null 2>&1
    "$wineserver" -w >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Wine sees the Unix root as drive Z:.
windows_path() {
    printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"
}

# The Linux host's pictures, to compare with what the codec gives under Wine:
# the JPEG frame alone, and every frame of the clip (frame-000000.bmp, ...).
if [ "$pictures" = 1 ]; then
    mkdir "$reference/clip" || exit 1
    if ! { "$decode" -q -j 2 -o "$reference/frame.bmp" "$frame" &&
           "$decode" -q -j 2 -o "$reference/clip/" "$clip"; } >"$work/decode.log" 2>&1; then
        cat "$work/decode.log"
        echo "wine-test: the Linux host ($decode) failed to make the reference pictures"
        exit 1
    fi
    host_arguments=(--frame "$(windows_path "$frame")" "$(windows_path "$reference/frame.bmp")"
                    --clip "$(windows_path "$clip")" "$(windows_path "$reference/clip")")
else
    host_arguments=(--no-pictures)
fi

# No X server is needed: Wine's null display driver lets windows (the About
# box) be created and driven without one. The choice is in the user registry
# before the first start, so that the desktop process starts with it.
cat >"$prefix/user.reg" <<'REGISTRY'
WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\Wine\\Drivers]
"Graphics"="null"
REGISTRY

# Wine's first start builds the prefix (registry, system directory). The
# installer's complaints about 32-bit parts this 64-bit-only Wine lacks are
# noise, so they are shown only when the start fails.
if ! "$wine" wineboot.exe -i >"$work/wineboot.log" 2>&1; then
    cat "$work/wineboot.log"
    echo "wine-test: wineboot failed"
    exit 1
fi

echo "wine-test: Wine prefix ready after ${SECONDS} s"

# Install and register the codec.
setup="$prefix/drive_c/wemb-setup"
mkdir -p "$setup"
cp "$build/wemb.dll" "$here/resources/wemb.inf" "$here/resources/wemb.reg" "$setup/" || exit 1
case $install in
    copy)
        cp "$build/wemb.dll" "$prefix/drive_c/windows/system32/wemb.dll" &&
            "$wine" reg.exe add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' \
                /v vidc.wemb /t REG_SZ /d wemb.dll /f ;;
    inf)
        "$wine" rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 128 \
            'C:\wemb-setup\wemb.inf' ;;
    reg)
        cp "$build/wemb.dll" "$prefix/drive_c/windows/system32/wemb.dll" &&
            "$wine" regedit.exe /S 'C:\wemb-setup\wemb.reg' ;;
esac >"$work/install.log" 2>&1
install_status=$?
if [ $install_status -ne 0 ] || [ ! -f "$prefix/drive_c/windows/system32/wemb.dll" ]; then
    cat "$work/install.log"
    echo "wine-test: installing the codec ($install) failed"
    exit 1
fi

# A hung host must not hang the test run.
timeout --kill-after=10 300 "$wine" "$build/vfw_host.exe" "${host_arguments[@]}" "$@"
status=$?
echo "wine-test: vfw_host done after ${SECONDS} s"
exit $status
