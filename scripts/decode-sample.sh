#!/usr/bin/env bash
# The main job: builds the host program and decodes the bundled sample clip
# through the codec, writing one BMP per frame into build/sample-frames/.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

# A first configuration leaves the tests and the benchmark out, so that the
# job needs neither GoogleTest, Google Benchmark nor libjpeg; a build folder
# that scripts/test.sh has already configured keeps them.
if [[ -f build/default/CMakeCache.txt ]]; then
  cmake build/default >/dev/null
else
  cmake --preset default -DWEMB_BUILD_TESTS=OFF -DWEMB_BUILD_BENCH=OFF >/dev/null
fi
cmake --build --preset default -j "$(nproc)" --target wemb-decode
rm -rf build/sample-frames
mkdir -p build/sample-frames
build/default/tools/wemb-decode --info samples/forest-pan.avi
build/default/tools/wemb-decode samples/forest-pan.avi -o build/sample-frames/
echo "frames written to build/sample-frames/"
