#!/usr/bin/env bash
# The main job: builds the host program and decodes the bundled sample clip
# through the codec, writing one BMP per frame into build/sample-frames/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target wemb-decode
rm -rf build/sample-frames
mkdir -p build/sample-frames
build/default/tools/wemb-decode --info samples/forest-pan.avi
build/default/tools/wemb-decode samples/forest-pan.avi -o build/sample-frames/
echo "frames written to build/sample-frames/"
