#!/bin/sh
# Installs what Siderama needs, builds it with its tests and runs the whole
# suite: the Release build, the solver tests under ThreadSanitizer, the HTTP
# library under AddressSanitizer and UBSan, and a short fuzzing run.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
scripts/build.sh
status=0
ctest --test-dir build --output-on-failure -j 2 --timeout 900 || status=1

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DSIDERAMA_TSAN=ON
cmake --build build-tsan -j "$(nproc)" --target test_solver
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan.supp" \
    ctest --test-dir build-tsan --output-on-failure -L tsan --timeout 900 || status=1

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=ON -DSIDERAMA_ASAN=ON
cmake --build build-asan -j "$(nproc)" --target http_tests http_tls_tests \
    http_fuzz_replay_RequestHead http_fuzz_replay_Header http_fuzz_replay_Url http_fuzz_replay_Multipart \
    http_fuzz_replay_HeaderParameters
ctest --test-dir build-asan --output-on-failure -L http --timeout 900 || status=1

scripts/run-fuzz.sh 20 || status=1
exit $status
