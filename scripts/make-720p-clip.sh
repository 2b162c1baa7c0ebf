#!/usr/bin/env bash
# Makes build/clip-720p.avi, the clip for timing wemb-decode on several threads:
# a 10 s pan across the forest photograph, 1280x720, 25 fps (250 frames), every
# frame a baseline 4:2:0 JPEG stream in an AVI whose video stream carries the
# FOURCC `wemb`. The clip is large and made on demand, never committed.
#
# Usage: scripts/make-720p-clip.sh [OUT.avi]      (needs ffmpeg)
# Then:  build/default/tools/wemb-decode -q build/clip-720p.avi -j 1
#        build/default/tools/wemb-decode -q build/clip-720p.avi -j 2
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
IMAGES=${WEMB_IMAGES:-/work/shared/images}
OUT=${1:-$ROOT/build/clip-720p.avi}

mkdir -p "$(dirname "$OUT")"

# crop: a 16:9 window of the 16:10 photograph. zoompan at a fixed zoom of 1.5
# sweeps x across the free width over the 250 frames, so that every frame
# differs. -vtag wemb needs -strict unofficial: the AVI muxer knows MJPEG
# under other tags only.
ffmpeg -v error -y -loop 1 -framerate 25 -i "$IMAGES/forest-path-2560x1600.jpg" -frames:v 250 \
    -vf "crop=2560:1440:0:80,zoompan=z=1.5:x='(iw-iw/zoom)*on/249':y='(ih-ih/zoom)/2':d=1:s=1280x720:fps=25,format=yuvj420p" \
    -c:v mjpeg -q:v 3 -vtag wemb -strict unofficial -an \
    -fflags +bitexact -flags +bitexact -threads 1 "$OUT"

echo "$OUT: $(stat -c %s "$OUT") bytes"
