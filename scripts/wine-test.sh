#!/usr/bin/env bash
# Runs the 64-bit wemb.dll inside Wine, the way Windows hosts load it: the
# module is installed into a fresh Wine prefix, registered as the handler of
# `wemb` (vidc.wemb under Drivers32), and tests/wine/vfw_host.cpp drives it
# through the compression manager. Arguments are passed on to vfw_host.
#
#   scripts/wine-test.sh [FILE...]
#
# Environment:
#   WEMB_WIN64_DIR   the win64 build directory (default: build/win64 of this tree)
#   WINE, WINESERVER the Wine loader and server (default: Debian's wine64 and
#                    wineserver under /usr/lib/wine, else whatever is on PATH)
#
# Exit status: vfw_host's (0 when every check passed); 77 when Wine or the
# win64 build is missing, which CTest reports as a skipped test.
set -u

here=$(cd "$(dirname "$0")/.." && pwd)
build=${WEMB_WIN64_DIR:-$here/build/win64}
skip=77

find_tool() {  # find_tool VARIABLE-VALUE CANDIDATE...
    local chosen=$1
    shift
    if [ -n "$chosen" ]; then
        echo "$chosen"
        return
    fi
    for candidate in "$@"; do
        if [ -x "$candidate" ]; then
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
    echo "wine-test: no Wine found (install Debian's wine64, or set WINE and WINESERVER)"
    exit $skip
fi
for file in "$build/wemb.dll" "$build/vfw_host.exe"; do
    if [ ! -f "$file" ]; then
        echo "wine-test: $file is missing: build it with" \
             "'cmake --preset win64 && cmake --build build/win64'"
        exit $skip
    fi
done

prefix=$(mktemp -d "${TMPDIR:-/tmp}/wemb-wine.XXXXXX")
export WINEPREFIX=$prefix
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win64

cleanup() {
    "$wineserver" -k >/dev/null 2>&1
    "$wineserver" -w >/dev/null 2>&1
    rm -rf "$prefix"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Wine's first start builds the prefix (registry, system directory). The
# installer's complaints about 32-bit parts this 64-bit-only Wine lacks are
# noise, so they are shown only when the start fails.
if ! "$wine" wineboot.exe -i >"$prefix/wineboot.log" 2>&1; then
    cat "$prefix/wineboot.log"
    echo "wine-test: wineboot failed"
    exit 1
fi

# Install and register the codec as its .inf would.
cp "$build/wemb.dll" "$prefix/drive_c/windows/system32/wemb.dll" || exit 1
if ! "$wine" reg.exe add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\Drivers32' \
        /v vidc.wemb /t REG_SZ /d wemb.dll /f >"$prefix/reg.log" 2>&1; then
    cat "$prefix/reg.log"
    echo "wine-test: registering vidc.wemb failed"
    exit 1
fi

"$wine" "$build/vfw_host.exe" "$@"
status=$?
exit $status
