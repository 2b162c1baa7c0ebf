#!/usr/bin/env bash
# Makes the bundled sample clip samples/forest-pan.avi: a slow pan with a gentle
# zoom over the KDE "Path" wallpaper, 512x288, 25 fps, 90 frames (3.6 s), every
# frame a complete baseline 4:2:0 JPEG stream (own DQT and DHT) in an AVI whose
# video stream carries the FOURCC `wemb`.
#
# Needs ffmpeg, djpeg and /usr/bin/python3. Deterministic (bit-exact ffmpeg
# flags, one thread). samples/README.md records the command below.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
IMAGES=${WEMB_IMAGES:-/work/shared/images}
OUT=$ROOT/samples/forest-pan.avi
TOOL=(/usr/bin/python3 "$ROOT/scripts/testdata/jpegtool.py")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

mkdir -p "$ROOT/samples"

# crop: a 16:9 window of the 16:10 photograph, so that zoompan keeps the aspect.
# zoompan: zoom from 1.6 to 1.96, x sweeps the whole free width over the clip.
# -vtag wemb needs -strict unofficial: the AVI muxer knows MJPEG under other tags.
ffmpeg -v error -y -loop 1 -framerate 25 -i "$IMAGES/forest-path-2560x1600.jpg" -frames:v 90 \
    -vf "crop=2560:1440:0:80,zoompan=z='1.6+0.004*on':x='(iw-iw/zoom)*on/89':y='(ih-ih/zoom)*0.6':d=1:s=512x288:fps=25,format=yuvj420p" \
    -c:v mjpeg -q:v 7 -vtag wemb -strict unofficial -an \
    -fflags +bitexact -flags +bitexact -threads 1 "$OUT"

# ffmpeg sets AVIF_TRUSTCKTYPE (0x800) in the main header. With it, Video for
# Windows readers take the chunk id 'dc' as "not a key frame" and decode every
# frame from frame 0 on; every frame of this clip is a key frame (a complete
# JPEG stream), as the idx1 flags say, so the flag is cleared.
/usr/bin/python3 - "$OUT" <<'PY'
import struct, sys
path = sys.argv[1]
data = bytearray(open(path, 'rb').read())
at = data.index(b'avih')
flags_at = at + 8 + 12  # chunk id, size, then dwMicroSecPerFrame, dwMaxBytesPerSec, dwPaddingGranularity
flags = struct.unpack_from('<I', data, flags_at)[0]
struct.pack_into('<I', data, flags_at, flags & ~0x800)
open(path, 'wb').write(data)
PY

# Every frame must be a complete interchange stream with its own tables.
"${TOOL[@]}" avi "$OUT" >"$WORK/frames.txt"
frames=$(wc -l <"$WORK/frames.txt")
complete=$(grep -c ': SOI .*DQT.*DHT.*SOF0 SOS EOI$' "$WORK/frames.txt" || true)
if [[ $frames -ne 90 || $complete -ne $frames ]]; then
    echo "expected 90 complete frames, found $complete of $frames:" >&2
    cat "$WORK/frames.txt" >&2
    exit 1
fi
for index in 0 45 89; do
    "${TOOL[@]}" avi --frame "$index" "$OUT" "$WORK/frame.jpg"
    djpeg -strict "$WORK/frame.jpg" >/dev/null
done
echo "$OUT: $frames frames, $(stat -c %s "$OUT") bytes"
