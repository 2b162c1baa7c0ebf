#!/bin/sh
# Builds the libFuzzer harnesses (preset "fuzz": Clang, ASan, UBSan) and runs
# them.
#
#   scripts/fuzz.sh [decode|check|avi|all] [SECONDS] [-- libFuzzer options]
#       fuzz for SECONDS per harness (default 600), one after the other
#   scripts/fuzz.sh ci [SECONDS]
#       each harness for SECONDS (default 60) on the committed corpus only,
#       new inputs kept in a temporary directory; fails on any finding
#       (scripts/test.sh runs this)
#   scripts/fuzz.sh campaign decode|check|avi RUNS [-- libFuzzer options]
#       RUNS executions per harness, a fifth at each instruction-set level
#       (WEMB_FUZZ_SIMD_LEVEL), WEMB_FUZZ_JOBS levels at a time (default 2);
#       prints executions, exec/s and libFuzzer's cov and ft per level, then
#       the line coverage of the corpus (llvm-cov); logs in build/fuzz/logs/
#   scripts/fuzz.sh repro decode|check|avi FILE...    run inputs once
#   scripts/fuzz.sh coverage decode|check|avi         line coverage of the corpus
#   scripts/fuzz.sh minimize decode|avi
#       merges the working corpus into the committed one (fuzz/corpus/)
#
# Harnesses: decode (decode_fuzzer: survival of DriverProc and the decoder),
# check (decode_check_fuzzer: the same, and every picture libjpeg-turbo
# decodes without a warning must match the codec's), avi (avi_fuzzer: the
# AVI reader and wemb-decode's decoding pipeline). decode and check share
# one input format and one corpus.
#
# Corpora: fuzz/corpus/{decode,avi} is committed (minimized, with every input
# that ever found a fault); the working corpora grow in build/fuzz/corpus/
# and start from it and from the seeds wemb_fuzz_seeds writes (testdata/*.jpg,
# small AVI files from the tests' AVI builder). Findings land in
# build/fuzz/artifacts/. Environment: WEMB_FUZZ_TIMEOUT (seconds per input,
# default 25), WEMB_FUZZ_RSS_MB (default 2048).
set -eu

root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/fuzz"
timeout=${WEMB_FUZZ_TIMEOUT:-25}
rss=${WEMB_FUZZ_RSS_MB:-2048}

configure_and_build() {
    if [ ! -f "$build/CMakeCache.txt" ]; then
        cmake --preset fuzz -S "$root" >/dev/null
    fi
    cmake --build "$build" -j2 --target decode_fuzzer decode_check_fuzzer avi_fuzzer wemb_fuzz_seeds
}

make_seeds() {
    mkdir -p "$build/seeds/decode" "$build/seeds/avi"
    "$build/fuzz/wemb_fuzz_seeds" "$root/testdata" "$root/samples/forest-pan.avi" \
        "$build/seeds/decode" "$build/seeds/avi"
}

# The binary, corpus, dictionary and longest input of a harness.
harness() {
    case $1 in
        decode) binary=decode_fuzzer corpus=decode dict=jpeg.dict max_len=65536 ;;
        check) binary=decode_check_fuzzer corpus=decode dict=jpeg.dict max_len=65536 ;;
        avi) binary=avi_fuzzer corpus=avi dict=avi.dict max_len=32768 ;;
        *) echo "unknown harness: $1 (decode, check or avi)" >&2; exit 2 ;;
    esac
}

# fuzz NAME [libFuzzer options and corpus directories]
fuzz() {
    harness "$1"
    shift
    "$build/fuzz/$binary" \
        -timeout="$timeout" \
        -rss_limit_mb="$rss" \
        -max_len="$max_len" \
        -report_slow_units=5 \
        -print_final_stats=1 \
        -dict="$root/fuzz/$dict" \
        "$@"
}

run() {
    name=$1 seconds=$2
    shift 2
    harness "$name"
    mkdir -p "$build/corpus/$corpus" "$build/artifacts"
    echo "== $binary for $seconds s" >&2
    fuzz "$name" -max_total_time="$seconds" -artifact_prefix="$build/artifacts/$name-" "$@" \
        "$build/corpus/$corpus" "$root/fuzz/corpus/$corpus" "$build/seeds/$corpus"
}

ci() {
    seconds=$1
    scratch=$(mktemp -d)
    trap 'rm -rf "$scratch"' EXIT
    for name in decode check avi; do
        harness "$name"
        mkdir -p "$scratch/$name"
        echo "== $binary for $seconds s on fuzz/corpus/$corpus" >&2
        fuzz "$name" -max_total_time="$seconds" -seed=1 -artifact_prefix="$scratch/$name-" \
            "$scratch/$name" "$root/fuzz/corpus/$corpus" 2>"$scratch/$name.log" || {
            tail -n 60 "$scratch/$name.log" >&2
            echo "$binary found a fault; the input is in the log above" >&2
            exit 1
        }
        grep -E '^Done|stat::number_of_executed_units|stat::peak_rss' "$scratch/$name.log" >&2 || true
    done
}

# Executions and libFuzzer's coverage counters from a log.
summarise() {
    level=$1 log=$2
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
    counters=$(grep -E '^#[0-9]+.*(DONE|pulse|NEW|REDUCE)' "$log" | tail -n 1 |
        sed -n 's/.*\(cov: [0-9]*\) \(ft: [0-9]*\).*/\1 \2/p')
    printf '  level %s: %s executions, %s exec/s, %s\n' "$level" "${runs:-?}" "${speed:-?}" "${counters:-?}"
}

campaign() {
    name=$1 runs=$2
    shift 2
    harness "$name"
    logs="$build/logs"
    mkdir -p "$build/corpus/$corpus" "$build/artifacts" "$logs"
    per_level=$((runs / 5))
    jobs=${WEMB_FUZZ_JOBS:-2}
    echo "== $binary: $runs executions, $per_level at each instruction-set level" >&2
    level=0
    while [ $level -lt 5 ]; do
        batch=""
        while [ $level -lt 5 ] && [ "$(echo $batch | wc -w)" -lt "$jobs" ]; do
            WEMB_FUZZ_SIMD_LEVEL=$level fuzz "$name" -runs="$per_level" \
                -artifact_prefix="$build/artifacts/$name-level$level-" "$@" \
                "$build/corpus/$corpus" "$root/fuzz/corpus/$corpus" "$build/seeds/$corpus" \
                >"$logs/$name-level$level.log" 2>&1 &
            batch="$batch $!"
            level=$((level + 1))
        done
        status=0
        for pid in $batch; do wait "$pid" || status=1; done
        if [ $status -ne 0 ]; then
            echo "$binary found a fault: see $logs/ and $build/artifacts/" >&2
        fi
    done
    echo "$binary (levels 0 AVX2, 1 AVX, 2 SSSE3, 3 SSE2, 4 scalar):"
    level=0
    while [ $level -lt 5 ]; do
        summarise $level "$logs/$name-level$level.log"
        level=$((level + 1))
    done
}

line_coverage() {
    name=$1
    harness "$name"
    cov="$root/build/fuzz-cov"
    if [ ! -f "$cov/CMakeCache.txt" ]; then
        cmake -S "$root" -B "$cov" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
            -DWEMB_FUZZ=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo \
            -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
            -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null
    fi
    cmake --build "$cov" -j2 --target "$binary" >&2
    rm -f "$cov"/*.profraw
    mkdir -p "$build/corpus/$corpus"
    LLVM_PROFILE_FILE="$cov/$name-%p.profraw" "$cov/fuzz/$binary" -runs=0 -rss_limit_mb="$rss" \
        "$build/corpus/$corpus" "$root/fuzz/corpus/$corpus" >/dev/null 2>&1
    llvm-profdata merge -sparse "$cov"/$name-*.profraw -o "$cov/$name.profdata"
    case $name in
        decode | check) sources="$root/jpeg $root/primitives $root/driver" ;;
        avi) sources="$root/tools" ;;
    esac
    # shellcheck disable=SC2086
    llvm-cov report "$cov/fuzz/$binary" -instr-profile="$cov/$name.profdata" $sources
}

what=${1:-all}
[ $# -gt 0 ] && shift

case $what in
    repro)
        name=${1:?repro needs decode, check or avi}
        shift
        harness "$name"
        configure_and_build
        exec "$build/fuzz/$binary" -runs=1 -rss_limit_mb="$rss" "$@"
        ;;
    coverage)
        line_coverage "${1:?coverage needs decode, check or avi}"
        exit 0
        ;;
    minimize)
        name=${1:?minimize needs decode or avi}
        harness "$name"
        configure_and_build
        make_seeds
        merged=$(mktemp -d)
        # The smallest set of inputs that reaches every edge the corpora
        # reach (hit counts left aside: they would keep thousands).
        fuzz "$name" -set_cover_merge=1 -use_counters=0 "$merged" "$root/fuzz/corpus/$corpus" "$build/seeds/$corpus" \
            "$build/corpus/$corpus"
        # Inputs that found faults stay whatever coverage they add.
        cp "$root/fuzz/corpus/$corpus"/regression-* "$merged/" 2>/dev/null || true
        rm -f "$root/fuzz/corpus/$corpus"/*
        cp "$merged"/* "$root/fuzz/corpus/$corpus/"
        rm -rf "$merged"
        echo "fuzz/corpus/$corpus: $(ls "$root/fuzz/corpus/$corpus" | wc -l) inputs"
        exit 0
        ;;
    ci)
        configure_and_build >/dev/null
        ci "${1:-60}"
        exit 0
        ;;
    campaign)
        name=${1:?campaign needs decode, check or avi}
        runs=${2:?campaign needs a number of executions}
        shift 2
        [ $# -gt 0 ] && [ "$1" = -- ] && shift
        configure_and_build
        make_seeds
        campaign "$name" "$runs" "$@"
        line_coverage "$name"
        exit 0
        ;;
esac

seconds=600
if [ $# -gt 0 ] && [ "$1" != -- ]; then
    seconds=$1
    shift
fi
[ $# -gt 0 ] && [ "$1" = -- ] && shift

configure_and_build
make_seeds
case $what in
    decode | check | avi) run "$what" "$seconds" "$@" ;;
    all)
        run decode "$seconds" "$@"
        run check "$seconds" "$@"
        run avi "$seconds" "$@"
        ;;
    *) echo "usage: $0 [decode|check|avi|all|ci|campaign|repro|coverage|minimize] ..." >&2; exit 2 ;;
esac
