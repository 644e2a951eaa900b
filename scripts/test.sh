#!/usr/bin/env bash
# Runs every test: a normal build, then a build with AddressSanitizer and
# UndefinedBehaviorSanitizer. Only loopback addresses are ever used.
set -euo pipefail
cd "$(dirname "$0")/.."
export IPLIB_LOOPBACK_ONLY=1
scripts/setup.sh
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300)

cmake -S . -B build-sanitize -DCMAKE_BUILD_TYPE=Debug -DIPLIB_SANITIZE=ON
cmake --build build-sanitize -j "$jobs"
(cd build-sanitize && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
   ctest --output-on-failure -j "$jobs" --timeout 600)
