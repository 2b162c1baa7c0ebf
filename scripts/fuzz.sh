#!/bin/sh
# Builds the libFuzzer harnesses (preset "fuzz": Clang, ASan, UBSan) and runs
# one or both of them for a given time, one process each, one after the other.
#
#   scripts/fuzz.sh [decode|avi|all] [SECONDS] [-- extra libFuzzer options]
#   scripts/fuzz.sh repro decode|avi FILE...    run inputs once (reproducers)
#
# SECONDS is per harness (default 600). The working corpora live under
# build/fuzz/corpus/ (not committed) and start from seeds written by
# wemb_fuzz_seeds: testdata/*.jpg and small AVI files from the tests' AVI
# builder. Crashes, leaks and timeouts land in build/fuzz/artifacts/.
# Environment: WEMB_FUZZ_TIMEOUT (seconds per input, default 5),
# WEMB_FUZZ_RSS_MB (default 2048).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"

configure_and_build() {
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake --preset fuzz -S "$root" >/dev/null
    fi
    cmake --build "$build" -j2 --target decode_fuzzer avi_fuzzer wemb_fuzz_seeds
}

make_seeds() {
    mkdir -p "$build/seeds/decode" "$build/seeds/avi"
    "$build/fuzz/wemb_fuzz_seeds" "$root/testdata" "$root/samples/forest-pan.avi" \
        "$build/seeds/decode" "$build/seeds/avi"
}

run() {
    name=$1 seconds=$2
    shift 2
    case $name in
        decode) dict="$root/fuzz/jpeg.dict" max_len=65536 ;;
        avi) dict="$root/fuzz/avi.dict" max_len=32768 ;;
        *) echo "unknown harness: $name" >&2; exit 2 ;;
    esac
    corpus="$build/corpus/$name"
    mkdir -p "$corpus" "$build/artifacts"
    echo "== ${name}_fuzzer for ${seconds} s" >&2
    "$build/fuzz/${name}_fuzzer" \
        -max_total_time="$seconds" \
        -timeout="${WEMB_FUZZ_TIMEOUT:-5}" \
        -rss_limit_mb="${WEMB_FUZZ_RSS_MB:-2048}" \
        -max_len="$max_len" \
        -report_slow_units=2 \
        -print_final_stats=1 \
        -dict="$dict" \
        -artifact_prefix="$build/artifacts/$name-" \
        "$@" "$corpus" "$build/seeds/$name"
}

what=${1:-all}
[ $# -gt 0 ] && shift

if [ "$what" = repro ]; then
    name=${1:?repro needs decode or avi}
    shift
    configure_and_build
    exec "$build/fuzz/${name}_fuzzer" -runs=1 "$@"
fi

seconds=600
if [ $# -gt 0 ] && [ "$1" != -- ]; then
    seconds=$1
    shift
fi
[ $# -gt 0 ] && [ "$1" = -- ] && shift

configure_and_build
make_seeds
case $what in
    decode | avi) run "$what" "$seconds" "$@" ;;
    all)
        run decode "$seconds" "$@"
        run avi "$seconds" "$@"
        ;;
    *) echo "usage: $0 [decode|avi|all] [SECONDS] [-- libFuzzer options]" >&2; exit 2 ;;
esac
