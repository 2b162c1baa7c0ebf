#!/usr/bin/env bash
# Builds everything and runs every test: both Windows DLLs (cross-compiled),
# the Linux build with its tests (the DLL inspection and the Wine host test
# included), the same tests again under AddressSanitizer and
# UndefinedBehaviorSanitizer, the tests of the worker threads (label
# `threads`) under ThreadSanitizer, and each fuzz harness for a minute on the
# committed corpus. Installs the Debian packages it needs first.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

scripts/install-deps.sh
jobs=$(nproc)

for preset in win32 win64 default sanitize tsan; do
  echo "== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
done

# A Windows check that cannot run must fail here, not skip.
export WEMB_REQUIRE_WINDOWS=1
echo "== tests"
ctest --preset default -j "$jobs"
echo "== tests under AddressSanitizer and UndefinedBehaviorSanitizer"
ctest --preset sanitize -j "$jobs"
echo "== threaded tests under ThreadSanitizer"
ctest --preset tsan -j "$jobs"
echo "== fuzzing: each harness for a minute on fuzz/corpus/"
scripts/fuzz.sh ci 60
