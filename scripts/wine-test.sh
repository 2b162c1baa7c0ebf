#!/usr/bin/env bash
# Runs the 64-bit wemb.dll inside Wine, the way Windows hosts load it: the
# module is installed into a fresh Wine prefix, registered as the handler of
# `wemb` (vidc.wemb under Drivers32), and tests/wine/vfw_host.cpp drives it
# through the compression manager. Unless told otherwise it also decodes a
# JPEG frame with ICDecompress and plays samples/forest-pan.avi through
# Wine's own AVI reader, and compares every picture bit for bit with the
# Linux host's (tools/wemb-decode --raw --bottom-up), which this script runs
# first on one thread; it then decodes the frame through many instances opened and closed
# in turn and checks that they leave no thread or handle behind. Under Wine
# the codec decodes with worker threads.
#
# Environment:
#   WEMB_WIN64_DIR     the win64 build directory (unset: build/win64 of this tree;
#                      empty, as from a CMake build not told of one: missing)
#   WEMB_DECODE        the Linux host (default: build/default/tools/wemb-decode)
#   WEMB_WINE_PICTURES 1 (default): run the picture checks; 0: leave them out
#   WEMB_WINE_INSTALL  how the codec is installed: "copy" (default: copy into
#                      system32 and `reg add` the Drivers32 value), "inf"
#                      (resources/wemb.inf through setupapi) or "reg" (copy,
#                      then import resources/wemb.reg with regedit)
#   WEMB_THREADS       threads per codec instance under Wine (default 4; more
#                      than one, so that the worker threads take part)
#   WEMB_REQUIRE_WINDOWS when 1, a missing Wine, win64 build or wemb-decode
#                      fails the run instead of skipping it
#   WINE, WINESERVER   the Wine loader and server (default: Debian's wine64)
#
# Exit status: vfw_host's (0 when every check passed); 77, which CTest
# reports as a skipped test, when something it needs is missing (1 instead
# under WEMB_REQUIRE_WINDOWS=1); 1 for any other failure.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
build=${WEMB_WIN64_DIR-$here/build/win64}
decode=${WEMB_DECODE:-$here/build/default/tools/wemb-decode}
pictures=${WEMB_WINE_PICTURES:-1}
install=${WEMB_WINE_INSTALL:-copy}
threads=${WEMB_THREADS:-4}

unavailable() {
    echo "wine-test: $*"
    [ "${WEMB_REQUIRE_WINDOWS:-0}" = 1 ] && exit 1
    exit 77
}

wine=${WINE:-$(command -v /usr/lib/wine/wine64 wine64 wine | head -n 1)}
wineserver=${WINESERVER:-$(command -v /usr/lib/wine/wineserver wineserver64 wineserver | head -n 1)}
command -v "$wine" >/dev/null && command -v "$wineserver" >/dev/null ||
    unavailable "no Wine found (set WINE and WINESERVER)"
for file in "$build/wemb.dll" "$build/vfw_host.exe"; do
    [ -f "$file" ] || unavailable "$file is missing: cmake --preset win64 && cmake --build build/win64"
done
case $pictures in
    1) [ -x "$decode" ] || unavailable "$decode is missing: cmake --build build/default" ;;
    0) ;;
    *) echo "wine-test: WEMB_WINE_PICTURES=$pictures (0 or 1)"; exit 1 ;;
esac
case $install in
    copy | inf | reg) ;;
    *) echo "wine-test: WEMB_WINE_INSTALL=$install (copy, inf or reg)"; exit 1 ;;
esac

work=$(mktemp -d "${TMPDIR:-/tmp}/wemb-wine.XXXXXX") || exit 1
prefix=$work/prefix
mkdir "$prefix" || exit 1
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=${WINEDEBUG:--all}
# No .NET or Gecko installers, no menu entries in the user's desktop, and no
# debugger: a crash ends the host at once instead of at the timeout.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d;winedbg.exe=d"
trap '"$wineserver" -k &>/dev/null; "$wineserver" -w &>/dev/null; rm -rf "$work"' EXIT
trap 'exit 130' INT TERM

# Wine sees the Unix root as drive Z:.
windows_path() {
    printf 'Z:%s' "$(printf '%s' "$1" | tr / '\\')"
}

# The Linux host's pictures and the arguments that name them to vfw_host:
# each input, its size and the raw frames.
host_arguments=()
if [ "$pictures" = 1 ]; then
    frame=$here/testdata/ycc420_512x384_q85.jpg
    clip=$here/samples/forest-pan.avi
    # Rows bottom-up, as Video for Windows returns them to vfw_host.
    if ! { WEMB_THREADS=1 "$decode" -q --raw --bottom-up "$frame" >"$work/frame.raw" &&
           WEMB_THREADS=1 "$decode" -q -j 2 --raw --bottom-up "$clip" >"$work/clip.raw"; } 2>"$work/decode.log"; then
        cat "$work/decode.log"
        echo "wine-test: the Linux host ($decode) failed to make the reference pictures"
        exit 1
    fi
    for path in "$frame" 512x384 "$work/frame.raw" "$clip" 512x288 "$work/clip.raw"; do
        case $path in
            /*) host_arguments+=("$(windows_path "$path")") ;;
            *) host_arguments+=("$path") ;;
        esac
    done
fi

# No X server is needed: Wine's null display driver lets the About box be
# created and driven without one. The choice is in the user registry before
# the first start, so that the desktop process starts with it.
cat >"$prefix/user.reg" <<'REGISTRY'
WINE REGISTRY Version 2
;; All keys relative to \\User\\S-1-5-21-0-0-0-1000

#arch=win64

[Software\\Wine\\Drivers]
"Graphics"="null"
REGISTRY

# Wine's first start builds the prefix. Its complaints about the 32-bit
# parts this 64-bit-only Wine lacks are noise, shown only when it fails.
if ! "$wine" wineboot.exe -i >"$work/wineboot.log" 2>&1; then
    cat "$work/wineboot.log"
    echo "wine-test: wineboot failed"
    exit 1
fi

setup=$prefix/drive_c/wemb-setup
system32=$prefix/drive_c/windows/system32
mkdir -p "$setup" &&
    cp "$build/wemb.dll" "$here/resources/wemb.inf" "$here/resources/wemb.reg" "$setup/" || exit 1
case $install in
    copy)
        cp "$build/wemb.dll" "$system32/" &&
            "$wine" reg.exe add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' \
                /v vidc.wemb /t REG_SZ /d wemb.dll /f ;;
    inf)
        "$wine" rundll32.exe setupapi.dll,InstallHinfSection DefaultInstall 128 \
            'C:\wemb-setup\wemb.inf' ;;
    reg)
        cp "$build/wemb.dll" "$system32/" && "$wine" regedit.exe /S 'C:\wemb-setup\wemb.reg' ;;
esac >"$work/install.log" 2>&1
if [ $? -ne 0 ] || [ ! -f "$system32/wemb.dll" ]; then
    cat "$work/install.log"
    echo "wine-test: installing the codec ($install) failed"
    exit 1
fi

# A hung host must not hang the test run.
WEMB_THREADS=$threads timeout --kill-after=10 300 "$wine" "$build/vfw_host.exe" "${host_arguments[@]}"
