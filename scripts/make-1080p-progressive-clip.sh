#!/usr/bin/env bash
# Makes build/clip-1080p-prog.avi, the progressive clip for timing wemb-decode's
# threads: a 4 s pan across the forest photograph, 1920x1080, 25 fps (100
# frames), every frame a progressive 4:2:0 JPEG stream from cjpeg at quality
# 90, in an AVI whose video stream carries the FOURCC `wemb`. Made on demand,
# never committed.
#
# Usage: scripts/make-1080p-progressive-clip.sh [OUT.avi]   (needs ffmpeg, cjpeg)
# Then:  build/default/tools/wemb-decode -q build/clip-1080p-prog.avi
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
IMAGES=${WEMB_IMAGES:-/work/shared/images}
OUT=${1:-$ROOT/build/clip-1080p-prog.avi}
FRAMES=100
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

mkdir -p "$(dirname "$OUT")"

# The frames as PPM files: a 16:9 window of the 16:10 photograph, zoomed by
# 1.25 and swept across its free width, so that every frame differs.
ffmpeg -v error -y -loop 1 -framerate 25 -i "$IMAGES/forest-path-2560x1600.jpg" -frames:v "$FRAMES" \
    -vf "crop=2560:1440:0:80,zoompan=z=1.25:x='(iw-iw/zoom)*on/($FRAMES-1)':y='(ih-ih/zoom)/2':d=1:s=1920x1080:fps=25" \
    -fflags +bitexact -flags +bitexact -threads 1 "$WORK/%04d.ppm"

for ppm in "$WORK"/*.ppm; do
    cjpeg -quality 90 -sample 2x2 -progressive -outfile "${ppm%.ppm}.jpg" "$ppm"
    rm "$ppm"
done

# The JPEG streams go into the AVI file unchanged (-c:v copy). -vtag wemb
# needs -strict unofficial: the AVI muxer knows JPEG video under other tags.
ffmpeg -v error -y -framerate 25 -i "$WORK/%04d.jpg" -c:v copy -vtag wemb -strict unofficial \
    -fflags +bitexact -flags +bitexact "$OUT"

echo "$OUT: $(stat -c %s "$OUT") bytes"
