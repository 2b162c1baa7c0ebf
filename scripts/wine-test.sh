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
#   WEMB_WINE_INSTALL how the codec is installed: "copy" (default: copy into
#                    system32 and `reg add` the Drivers32 value), "inf"
#                    (resources/wemb.inf through setupapi) or "reg"
#                    (copy, then import resources/wemb.reg with regedit)
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

install=${WEMB_WINE_INSTALL:-copy}
case $install in
    copy | inf | reg) ;;
    *)
        echo "wine-test: unknown WEMB_WINE_INSTALL=$install (copy, inf or reg)"
        exit 1 ;;
esac

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
if ! "$wine" wineboot.exe -i >"$prefix/wineboot.log" 2>&1; then
    cat "$prefix/wineboot.log"
    echo "wine-test: wineboot failed"
    exit 1
fi

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
esac >"$prefix/install.log" 2>&1
install_status=$?
if [ $install_status -ne 0 ] || [ ! -f "$prefix/drive_c/windows/system32/wemb.dll" ]; then
    cat "$prefix/install.log"
    echo "wine-test: installing the codec ($install) failed"
    exit 1
fi

# A hung host must not hang the test run.
timeout --kill-after=10 300 "$wine" "$build/vfw_host.exe" "$@"
status=$?
exit $status
