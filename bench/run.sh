#!/usr/bin/env bash
# Builds the library and the benchmarks in Release (folder build-bench) and runs both
# benchmarks against the real library program, on loopback addresses only.
#
#   bench/run.sh            the full run: 1000 terminals, 20 s per measurement
#   bench/run.sh --quick    100 terminals and short periods, for trying changes
#   bench/run.sh [--quick] -- ARGS   ARGS are passed on to both benchmarks
#
# The figures go to standard output and to build-bench/bench-results.txt.
set -euo pipefail
cd "$(dirname "$0")/.."
export IPLIB_LOOPBACK_ONLY=1

packets_args=()
commands_args=()
if [ "${1:-}" = "--quick" ]; then
  shift
  packets_args=(--terminals 100 --period 5 --idle 3 --drain 5)
  commands_args=(--terminals 100 --period 5 --drain 5 --round-trips 1000)
fi
if [ "${1:-}" = "--" ]; then
  shift
  packets_args+=("$@")
  commands_args+=("$@")
fi

jobs=$(( $(nproc) < 2 ? $(nproc) : 2 ))
cmake -S . -B build-bench -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j "$jobs" --target iplib packets_bench commands_bench

results=build-bench/bench-results.txt
{
  echo "# $(date -u '+%Y-%m-%d %H:%M UTC'), $(nproc) cores, $(uname -sr), commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
  build-bench/bench/packets_bench --iplib build-bench/iplib "${packets_args[@]}" || echo "packets_bench ended with status $?"
  echo
  build-bench/bench/commands_bench --iplib build-bench/iplib "${commands_args[@]}" || echo "commands_bench ended with status $?"
} 2>&1 | tee "$results"
