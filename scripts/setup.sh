#!/usr/bin/env bash
# Installs the Debian packages the library builds with, when any is missing.
set -euo pipefail
packages=(build-essential cmake libboost1.81-dev libboost-json1.81-dev libssl-dev
          libgtest-dev libgmock-dev libbenchmark-dev libfmt-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
