#!/usr/bin/env bash
# Makes the benchmark frames: a 1920x1080 crop of the KDE "Path" wallpaper,
# re-encoded with cjpeg at quality 90 in several layouts.
#
#   scripts/make-bench-frames.sh [OUTDIR]      (default: build/bench-frames)
#
# Needs only libjpeg-turbo-progs (jpegtran, djpeg, cjpeg); installs it with
# apt-get when cjpeg is missing. The frames are not committed.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=${1:-$ROOT/build/bench-frames}
SOURCE=${WEMB_IMAGES:-/work/shared/images}/forest-path-2560x1600.jpg

if ! command -v cjpeg >/dev/null; then
    apt-get update
    apt-get install -y libjpeg-turbo-progs
fi

mkdir -p "$OUT"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

# Lossless crop on 16-pixel boundaries of the 4:2:0 source, then raw pixels.
jpegtran -crop 1920x1080+320+256 -outfile "$WORK/crop.jpg" "$SOURCE"
djpeg -pnm -outfile "$WORK/crop.ppm" "$WORK/crop.jpg"

encode() {
    local name=$1
    shift
    cjpeg -quality 90 "$@" -outfile "$OUT/$name" "$WORK/crop.ppm"
}

encode forest-1920x1080-ycc420-q90.jpg       -sample 2x2
encode forest-1920x1080-ycc422-q90.jpg       -sample 2x1
encode forest-1920x1080-ycc444-q90.jpg       -sample 1x1
encode forest-1920x1080-grey-q90.jpg         -grayscale
encode forest-1920x1080-ycc420-rst1row-q90.jpg -sample 2x2 -restart 1
encode forest-1920x1080-ycc420-prog-q90.jpg  -sample 2x2 -progressive

ls -l "$OUT"
