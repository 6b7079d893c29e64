#!/bin/sh
# Configures and builds Siderama in build/ (Release, tests included).
# Usage: scripts/build.sh [extra cmake arguments...]
set -e
cd "$(dirname "$0")/.."
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=ON "$@"
cmake --build build -j "$(nproc)"
