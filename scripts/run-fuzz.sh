#!/bin/sh
# Builds the libFuzzer targets of the HTTP library with clang and runs each
# for a bounded time on its saved corpus and the protocol dictionary.
#
#   scripts/run-fuzz.sh [SECONDS_PER_TARGET]     (default 60)
#
# Environment: SOURCE_DIR (default: this repository), BUILD_DIR (default:
# SOURCE_DIR/build-fuzz), FUZZ_JOBS (build parallelism, default 2).
# New interesting inputs are kept in BUILD_DIR/corpus/TARGET, not in the
# repository. A crash leaves its input in BUILD_DIR/crashes and makes the
# script fail: fix the fault, then add the input to fuzz/corpus/TARGET so
# the replay tests keep checking it.
set -eu
SECONDS_PER_TARGET=${1:-60}
SOURCE_DIR=${SOURCE_DIR:-$(cd "$(dirname "$0")/.." && pwd)}
BUILD_DIR=${BUILD_DIR:-$SOURCE_DIR/build-fuzz}
FUZZ_JOBS=${FUZZ_JOBS:-2}
FUZZ_DIR=$SOURCE_DIR/fuzz

cmake -S "$SOURCE_DIR" -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DSIDERAMA_FUZZ=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$BUILD_DIR" --target fuzzers -j "$FUZZ_JOBS"

mkdir -p "$BUILD_DIR/crashes"
status=0
for target in RequestHead Header Url Multipart HeaderParameters; do
    mkdir -p "$BUILD_DIR/corpus/$target"
    echo "== fuzz_$target for ${SECONDS_PER_TARGET}s"
    if ! "$BUILD_DIR/fuzz/fuzz_$target" \
        -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -max_len=65536 -print_final_stats=1 \
        -dict="$FUZZ_DIR/http.dict" -artifact_prefix="$BUILD_DIR/crashes/$target-" \
        "$BUILD_DIR/corpus/$target" "$FUZZ_DIR/corpus/$target" 2>"$BUILD_DIR/fuzz_$target.log"; then
        status=1
        echo "fuzz_$target FAILED; see $BUILD_DIR/fuzz_$target.log and $BUILD_DIR/crashes"
    fi
    grep -E '^(stat::number_of_executed_units|stat::new_units_added)' "$BUILD_DIR/fuzz_$target.log" || true
done
exit $status
