#!/usr/bin/env bash
# Makes the benchmark frames: a 1920x1080 crop of the KDE "Path" wallpaper,
# re-encoded with cjpeg at quality 90 in several layouts, and the wallpaper
# scaled down to 320x180 in the same layouts (small frames show what a frame
# costs besides its pixels).
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

# The small frames: the whole wallpaper at 1/8 (320x200, djpeg scales by
# eighths only), 180 of its rows.
djpeg -scale 1/8 -crop 320x180+0+10 -pnm -outfile "$WORK/small.ppm" "$SOURCE"

encode() {
    local size=$1 name=$2
    shift 2
    local source="$WORK/crop.ppm"
    [ "$size" = 320x180 ] && source="$WORK/small.ppm"
    cjpeg -quality 90 "$@" -outfile "$OUT/forest-$size-$name-q90.jpg" "$source"
}

for size in 1920x1080 320x180; do
    encode $size ycc420         -sample 2x2
    encode $size ycc422         -sample 2x1
    encode $size ycc444         -sample 1x1
    encode $size grey           -grayscale
    encode $size ycc420-rst1row -sample 2x2 -restart 1
    encode $size ycc420-prog    -sample 2x2 -progressive
done

ls -l "$OUT"
