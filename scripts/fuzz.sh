#!/bin/sh
# Builds the libFuzzer harnesses (preset "fuzz": Clang, ASan, UBSan) and runs
# one or both of them for a given time, one process each, one after the other.
#
#   scripts/fuzz.sh [decode|avi|all] [SECONDS] [-- extra libFuzzer options]
#   scripts/fuzz.sh repro decode|avi FILE...    run inputs once (reproducers)
#   scripts/fuzz.sh coverage decode|avi         line coverage of the corpus so far
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

if [ "$what" = coverage ]; then
    # A separate build with Clang's source-based coverage: the corpus is run
    # once and llvm-cov reports the codec's (or the AVI reader's) lines.
    name=${1:?coverage needs decode or avi}
    cov="$root/build/fuzz-cov"
    if [ ! -f "$cov/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$cov" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
            -DWEMB_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
            -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
    fi
    cmake --build "$cov" -j2 --target "${name}_fuzzer"
    rm -f "$cov"/*.profraw
    LLVM_PROFILE_FILE="$cov/$name-%p.profraw" "$cov/fuzz/${name}_fuzzer" -runs=0 \
        -rss_limit_mb="${WEMB_FUZZ_RSS_MB:-2048}" "$build/corpus/$name" "$build/seeds/$name"
    llvm-profdata merge -sparse "$cov"/$name-*.profraw -o "$cov/$name.profdata"
    case $name in
        decode) sources="$root/jpeg $root/primitives $root/driver" ;;
        avi) sources="$root/tools/avi_reader.cpp $root/tools/avi_index.cpp $root/tools/riff_file.cpp" ;;
    esac
    # shellcheck disable=SC2086
    exec llvm-cov report "$cov/fuzz/${name}_fuzzer" -instr-profile="$cov/$name.profdata" $sources
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
