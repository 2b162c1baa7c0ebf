#!/usr/bin/env bash
# Regenerates every test stream in testdata/ from the photographs in
# /work/shared/images (or the folder given as $WEMB_IMAGES).
#
# Needs: cjpeg (libjpeg-turbo-progs), ffmpeg, /usr/bin/python3 with PIL
# (python3-pil), and what the default preset builds with (for
# scripts/testdata/encode4.c, built by CMake into build/default).
# The output is deterministic: running it twice gives the same bytes.
# testdata/README.md describes every file; keep the two in step.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
OUT=$ROOT/testdata
PY=/usr/bin/python3
TOOL=("$PY" "$ROOT/scripts/testdata/jpegtool.py")
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

export WEMB_IMAGES=${WEMB_IMAGES:-/work/shared/images}

for tool in cjpeg ffmpeg cmake; do
    command -v "$tool" >/dev/null || { echo "missing tool: $tool" >&2; exit 1; }
done
"$PY" -c 'import PIL' || { echo "/usr/bin/python3 lacks PIL (apt-get install python3-pil)" >&2; exit 1; }

(cd "$ROOT" && cmake --preset default >/dev/null && cmake --build --preset default --target encode4 >/dev/null)
ENCODE4=$ROOT/build/default/scripts/testdata/encode4

mkdir -p "$OUT"
rm -f "$OUT"/*.jpg

# ---------------------------------------------------------------- inputs
# prep NAME SOURCE BOX SIZE MODE: a crop (x0,y0,x1,y1) of a source photograph
# scaled to SIZE, written to $WORK as NAME.ppm (rgb), NAME.pgm (grey) or
# NAME.cmyk (raw C, M, Y, K bytes, Adobe polarity: 255 means no ink).
prep() {
    local name=$1 src=$2 box=$3 size=$4 mode=$5 ext
    case $mode in rgb) ext=ppm ;; grey) ext=pgm ;; *) ext=cmyk ;; esac
    "${TOOL[@]}" prep --src "$src" --box "$box" --size "$size" --mode "$mode" "$WORK/$name.$ext"
}

prep f64x48   forest 1000,700,1640,1180  64x48   rgb
prep f227x149 forest 600,500,1281,947    227x149 rgb
prep f512x384 forest 320,200,2240,1640   512x384 rgb
prep f17x9    forest 1200,800,1370,890   17x9    rgb
prep f33x17   forest 900,700,1230,870    33x17   rgb
prep f1x1     forest 1280,800,1290,810   1x1     rgb
prep f8x8     forest 1100,900,1180,980   8x8     rgb
prep f16x16   forest 1100,900,1260,1060  16x16   rgb
prep f64x1    forest 0,800,2560,840      64x1    rgb
prep f1x64    forest 1260,0,1300,1600    1x64    rgb
prep a320x240 astronaut 0,64,512,448     320x240 rgb
prep g64x48   forest 1000,700,1640,1180  64x48   grey
prep g17x9    forest 1200,800,1370,890   17x9    grey
prep g33x17   forest 900,700,1230,870    33x17   grey
prep g1x1     forest 1280,800,1290,810   1x1     grey
prep g8x8     forest 1100,900,1180,980   8x8     grey
prep g64x1    forest 0,800,2560,840      64x1    grey
prep c64x48   forest 1000,700,1640,1180  64x48   cmyk
prep k64x48   forest 1000,700,1640,1180  64x48   cmyk-inverted
prep k33x17   forest 900,700,1230,870    33x17   cmyk-inverted

# cj OUTNAME INPUT CJPEG-OPTIONS...: encode with cjpeg into testdata/.
cj() {
    local name=$1 input=$2
    shift 2
    cjpeg "$@" -outfile "$OUT/$name" "$WORK/$input"
}

# Quantization tables for three-table streams (natural order; cjpeg scales them).
cat >"$WORK/three-tables.txt" <<'EOF'
16 11 10 16 24 40 51 61  12 12 14 19 26 58 60 55  14 13 16 24 40 57 69 56
14 17 22 29 51 87 80 62  18 22 37 56 68 109 103 77  24 35 55 64 81 104 113 92
49 64 78 87 103 121 120 101  72 92 95 98 112 100 103 99
17 18 24 47 99 99 99 99  18 21 26 66 99 99 99 99  24 26 56 99 99 99 99 99
47 66 99 99 99 99 99 99  99 99 99 99 99 99 99 99  99 99 99 99 99 99 99 99
99 99 99 99 99 99 99 99  99 99 99 99 99 99 99 99
24 24 24 24 24 24 24 24  24 24 24 24 24 24 24 24  24 24 24 24 24 24 24 24
24 24 24 24 24 24 24 24  24 24 24 24 24 24 24 24  24 24 24 24 24 24 24 24
24 24 24 24 24 24 24 24  24 24 24 24 24 24 24 24
EOF

# ---------------------------------------------------------------- sequential, grey
cj grey_64x48_q75.jpg          g64x48.pgm -grayscale -quality 75
cj grey_17x9_q90.jpg           g17x9.pgm  -grayscale -quality 90
cj grey_1x1_q90.jpg            g1x1.pgm   -grayscale -quality 90
cj grey_8x8_q90.jpg            g8x8.pgm   -grayscale -quality 90
cj grey_64x1_q90.jpg           g64x1.pgm  -grayscale -quality 90
cj grey_opt_33x17_q90.jpg      g33x17.pgm -grayscale -quality 90 -optimize
cj grey_rst1mcu_64x48_q75.jpg  g64x48.pgm -grayscale -quality 75 -restart 1B
cj grey_sof1_q16bit_64x48_q2.jpg g64x48.pgm -grayscale -quality 2

# ---------------------------------------------------------------- sequential, YCbCr 4:4:4
cj ycc444_64x48_q85.jpg        f64x48.ppm   -sample 1x1 -quality 85
cj ycc444_227x149_q85.jpg      f227x149.ppm -sample 1x1 -quality 85
cj ycc444_8x8_q85.jpg          f8x8.ppm     -sample 1x1 -quality 85
cj ycc444_17x9_q85.jpg         f17x9.ppm    -sample 1x1 -quality 85
cj ycc444_rst3mcu_33x17_q85.jpg f33x17.ppm  -sample 1x1 -quality 85 -restart 3B

# ---------------------------------------------------------------- sequential, YCbCr 4:2:2
cj ycc422_64x48_q85.jpg        f64x48.ppm   -sample 2x1 -quality 85
cj ycc422_227x149_q85.jpg      f227x149.ppm -sample 2x1 -quality 85
cj ycc422_16x16_q85.jpg        f16x16.ppm   -sample 2x1 -quality 85
cj ycc422_33x17_q85.jpg        f33x17.ppm   -sample 2x1 -quality 85
cj ycc422_1x1_q85.jpg          f1x1.ppm     -sample 2x1 -quality 85
cj ycc422_rst2row_227x149_q85.jpg f227x149.ppm -sample 2x1 -quality 85 -restart 2

# ---------------------------------------------------------------- sequential, YCbCr 4:2:0
cj ycc420_64x48_q85.jpg        f64x48.ppm   -quality 85
cj ycc420_227x149_q85.jpg      f227x149.ppm -quality 85
# Large enough that the codec shares its work between threads.
cj ycc420_512x384_q85.jpg      f512x384.ppm -quality 85
cj ycc420_1x1_q85.jpg          f1x1.ppm     -quality 85
cj ycc420_8x8_q85.jpg          f8x8.ppm     -quality 85
cj ycc420_16x16_q85.jpg        f16x16.ppm   -quality 85
cj ycc420_17x9_q85.jpg         f17x9.ppm    -quality 85
cj ycc420_33x17_q85.jpg        f33x17.ppm   -quality 85
cj ycc420_64x1_q85.jpg         f64x1.ppm    -quality 85
cj ycc420_1x64_q85.jpg         f1x64.ppm    -quality 85
cj ycc420_320x240_q90.jpg      a320x240.ppm -quality 90
cj ycc420_opt_227x149_q85.jpg  f227x149.ppm -quality 85 -optimize
cj ycc420_rst1row_227x149_q85.jpg f227x149.ppm -quality 85 -restart 1
cj ycc420_rst1mcu_227x149_q85.jpg f227x149.ppm -quality 85 -restart 1B
cj ycc420_rst7mcu_227x149_q85.jpg f227x149.ppm -quality 85 -restart 7B
cj ycc420_64x48_q50.jpg        f64x48.ppm   -quality 50
cj ycc420_64x48_q5.jpg         f64x48.ppm   -quality 5 -baseline
cj ycc420_64x48_q100.jpg       f64x48.ppm   -quality 100
cj ycc420_sof1_q16bit_64x48_q5.jpg f64x48.ppm -quality 5
cj ycc420_3qt_64x48_q85.jpg    f64x48.ppm   -quality 85 -qtables "$WORK/three-tables.txt" -qslots 0,1,2

# ---------------------------------------------------------------- sampling the codec does not take
cj ycc440_64x48_q85.jpg        f64x48.ppm   -sample 1x2 -quality 85
cj ycc411_64x48_q85.jpg        f64x48.ppm   -sample 4x1 -quality 85

# ---------------------------------------------------------------- RGB (cjpeg -rgb writes Adobe APP14, transform 0)
cj rgb_64x48_q90.jpg           f64x48.ppm   -rgb -quality 90
cj rgb_33x17_q90.jpg           f33x17.ppm   -rgb -quality 90

# ---------------------------------------------------------------- Adobe APP14 added afterwards
"${TOOL[@]}" adobe --transform 1 --drop-jfif "$OUT/ycc420_64x48_q85.jpg" "$OUT/ycc420_adobe1_64x48_q85.jpg"
"${TOOL[@]}" adobe --transform 1 --drop-jfif "$OUT/grey_64x48_q75.jpg" "$OUT/grey_adobe1_64x48_q75.jpg"

# ---------------------------------------------------------------- four components
"${TOOL[@]}" pil --cmyk 64x48 --quality 90 "$WORK/c64x48.cmyk" "$OUT/cmyk_pil_64x48_q90.jpg"
"${TOOL[@]}" pil --cmyk 64x48 --quality 90 --progressive "$WORK/c64x48.cmyk" "$OUT/cmyk_pil_prog_64x48_q90.jpg"
"$ENCODE4" 64 48 "$WORK/k64x48.cmyk" "$OUT/cmyk420_64x48_q90.jpg"   cmyk 90 2x2,1x1,1x1,2x2
"$ENCODE4" 64 48 "$WORK/k64x48.cmyk" "$OUT/ycck444_64x48_q90.jpg"   ycck 90 1x1,1x1,1x1,1x1
"$ENCODE4" 64 48 "$WORK/k64x48.cmyk" "$OUT/ycck420_64x48_q90.jpg"   ycck 90 2x2,1x1,1x1,2x2
"$ENCODE4" 33 17 "$WORK/k33x17.cmyk" "$OUT/ycck422_33x17_q90.jpg"   ycck 90 2x1,1x1,1x1,2x1
"$ENCODE4" 64 48 "$WORK/k64x48.cmyk" "$OUT/ycck420_prog_64x48_q90.jpg" ycck 90 2x2,1x1,1x1,2x2 progressive
"$ENCODE4" 64 48 "$WORK/k64x48.cmyk" "$OUT/ycck420_k1x1_64x48_q90.jpg" ycck 90 2x2,1x1,1x1,1x1

# ---------------------------------------------------------------- other encoders
"${TOOL[@]}" pil --quality 80 --subsampling 1 "$WORK/f64x48.ppm" "$OUT/ycc422_pil_64x48_q80.jpg"
"${TOOL[@]}" pil --quality 95 --subsampling 0 --optimize "$WORK/f64x48.ppm" "$OUT/ycc444_pil_opt_64x48_q95.jpg"
"${TOOL[@]}" pil --quality 85 --subsampling 2 --progressive "$WORK/f64x48.ppm" "$OUT/ycc420_pil_prog_64x48_q85.jpg"
ff() {
    local name=$1 input=$2 pixfmt=$3
    ffmpeg -v error -y -i "$WORK/$input" -c:v mjpeg -pix_fmt "$pixfmt" -q:v 3 -threads 1 \
        -fflags +bitexact -flags +bitexact -frames:v 1 -f image2 "$OUT/$name"
}
ff ycc420_ffmpeg_227x149.jpg          f227x149.ppm yuvj420p
ff ycc422_ffmpeg_h2v2-h1v2_64x48.jpg  f64x48.ppm   yuvj422p
ff ycc444_ffmpeg_h1v2_64x48.jpg       f64x48.ppm   yuvj444p

# ---------------------------------------------------------------- progressive
cat >"$WORK/spectral.scans" <<'EOF'
0,1,2: 0-0, 0, 0;
0: 1-5, 0, 0;
2: 1-63, 0, 0;
0: 6-63, 0, 0;
1: 1-20, 0, 0;
1: 21-63, 0, 0;
EOF
cat >"$WORK/succapprox.scans" <<'EOF'
0,1,2: 0-0, 0, 2;
0: 1-63, 0, 3;
1: 1-63, 0, 1;
2: 1-63, 0, 1;
0,1,2: 0-0, 2, 1;
0: 1-63, 3, 2;
0: 1-63, 2, 1;
0,1,2: 0-0, 1, 0;
2: 1-63, 1, 0;
1: 1-63, 1, 0;
0: 1-63, 1, 0;
EOF
cat >"$WORK/dconly.scans" <<'EOF'
0,1,2: 0-0, 0, 0;
EOF
cat >"$WORK/grey-dconly.scans" <<'EOF'
0: 0-0, 0, 0;
EOF
cat >"$WORK/dcsplit.scans" <<'EOF'
0: 0-0, 0, 0;
1: 0-0, 0, 0;
2: 0-0, 0, 0;
0: 1-63, 0, 0;
1: 1-63, 0, 0;
2: 1-63, 0, 0;
EOF
cat >"$WORK/dcmixed.scans" <<'EOF'
0,2: 0-0, 0, 1;
1: 0-0, 0, 1;
2: 1-63, 0, 0;
0: 1-63, 0, 0;
0,1,2: 0-0, 1, 0;
1: 1-63, 0, 0;
EOF
cj grey_prog_64x48_q85.jpg      g64x48.pgm   -grayscale -quality 85 -progressive
cj grey_prog_17x9_q85.jpg       g17x9.pgm    -grayscale -quality 85 -progressive
cj ycc444_prog_64x48_q85.jpg    f64x48.ppm   -sample 1x1 -quality 85 -progressive
cj ycc422_prog_227x149_q85.jpg  f227x149.ppm -sample 2x1 -quality 85 -progressive
cj ycc420_prog_227x149_q85.jpg  f227x149.ppm -quality 85 -progressive
cj ycc420_prog_33x17_q85.jpg    f33x17.ppm   -quality 85 -progressive
cj ycc420_prog_1x1_q85.jpg      f1x1.ppm     -quality 85 -progressive
cj ycc420_prog_320x240_q90.jpg  a320x240.ppm -quality 90 -progressive
cj rgb_prog_64x48_q90.jpg       f64x48.ppm   -rgb -quality 90 -progressive
cj ycc420_prog_spectral_227x149_q85.jpg   f227x149.ppm -quality 85 -scans "$WORK/spectral.scans"
cj ycc420_prog_succapprox_227x149_q85.jpg f227x149.ppm -quality 85 -scans "$WORK/succapprox.scans"
cj ycc420_prog_dconly_64x48_q85.jpg  f64x48.ppm -quality 85 -scans "$WORK/dconly.scans"
cj grey_prog_dconly_64x48_q85.jpg    g64x48.pgm -grayscale -quality 85 -scans "$WORK/grey-dconly.scans"
cj ycc420_prog_dcsplit_64x48_q85.jpg f64x48.ppm -quality 85 -scans "$WORK/dcsplit.scans"
cj ycc420_prog_dcmixed_33x17_q85.jpg f33x17.ppm -quality 85 -scans "$WORK/dcmixed.scans"
cj ycc420_prog_rst1row_227x149_q85.jpg f227x149.ppm -quality 85 -progressive -restart 1
cj ycc420_prog_rst1mcu_64x48_q85.jpg   f64x48.ppm   -quality 85 -progressive -restart 1B
cj grey_prog_rst3mcu_33x17_q85.jpg     g33x17.pgm   -grayscale -quality 85 -progressive -restart 3B

# ---------------------------------------------------------------- markers, fill bytes, table layout
"${TOOL[@]}" fill --count 3 "$OUT/ycc420_rst1mcu_227x149_q85.jpg" "$OUT/ycc420_fill_rst1mcu_227x149_q85.jpg"
"${TOOL[@]}" fill --count 1 "$OUT/ycc420_prog_rst1mcu_64x48_q85.jpg" "$OUT/ycc420_prog_fill_rst1mcu_64x48_q85.jpg"
"${TOOL[@]}" extras "$OUT/ycc420_64x48_q85.jpg" "$OUT/ycc420_extras_64x48_q85.jpg"
"${TOOL[@]}" merge  "$OUT/ycc420_64x48_q85.jpg" "$OUT/ycc420_merged_tables_64x48_q85.jpg"
"${TOOL[@]}" slots  "$OUT/ycc420_64x48_q85.jpg" "$OUT/ycc420_slots23_64x48_q85.jpg"
"${TOOL[@]}" slots  "$OUT/ycc420_prog_rst1mcu_64x48_q85.jpg" "$OUT/ycc420_prog_slots23_64x48_q85.jpg"

# Every stream must decode with libjpeg-turbo without a warning.
for f in "$OUT"/*.jpg; do
    djpeg -strict "$f" >/dev/null 2>"$WORK/djpeg.err" || { echo "djpeg fails on $f:" >&2; cat "$WORK/djpeg.err" >&2; exit 1; }
done
echo "$(ls "$OUT"/*.jpg | wc -l) streams, $(du -cb "$OUT"/*.jpg | tail -1 | cut -f1) bytes in $OUT"
