#!/usr/bin/env bash
# Starts the library on a demo drive root with three simulated terminals punching, so a
# newcomer sees packets arrive in the link folder. A small consumer plays the customer's
# software: it prints each FILE_PAQ.OK and FILE_MSG.OK and deletes it (set
# IPLIB_DEMO_CONSUMER=0 to leave them in place). Everything stays on loopback.
#   scripts/start.sh [demo-root]     (default: ./demo-root; Ctrl-C stops everything)
set -euo pipefail
cd "$(dirname "$0")/.."
export IPLIB_LOOPBACK_ONLY=1
scripts/setup.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)" --target iplib qbxsim

root="$(realpath -m "${1:-demo-root}")"
config="$root/VESKAL.CFG/TCP_LIB_IP"
mkdir -p "$config"
if [ ! -f "$config/TCPIP.CFG" ]; then
  {
    printf 'VIDE\r\n 10 \r\n'
    for _ in $(seq 12); do printf ' 0 \r\n'; done
    printf ' 0 \r\n'
    for n in 1 2 3; do
      printf '%04d,127.0.0.%d,1024,=WAIT FOR THE ANSWER,0,Ethernet\r\n' "$n" $((n + 1))
    done
  } > "$config/TCPIP.CFG"
fi

build/tools/qbxsim --count 3 --first 127.0.0.2 --port 1024 --punch-rate 0.5 --quiet &
sim=$!
consumer=""
if [ "${IPLIB_DEMO_CONSUMER:-1}" != 0 ]; then
  (
    while sleep 0.5; do
      for f in FILE_MSG.OK FILE_PAQ.OK; do
        if [ -f "$config/$f" ]; then
          sed "s/^/[$f] /" "$config/$f" | cat -v
          rm -f "$config/$f"
        fi
      done
    done
  ) &
  consumer=$!
fi
trap 'kill "$sim" $consumer 2>/dev/null || true' EXIT
echo "Demo root: $root  (packets appear in $config/FILE_PAQ.OK)"
IPLIB_ROOT="$root" build/iplib -MUL
