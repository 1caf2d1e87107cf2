#!/usr/bin/env bash
# Installs what the build needs (Debian 12), then configures and builds. Sourced by run.sh and
# test.sh; the targets to build are passed as arguments.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."

packages=(g++ cmake ninja-build pkg-config qt6-base-dev libgtest-dev libgmock-dev)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  if [ "$(id -u)" -eq 0 ]; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
  else
    echo "These packages are missing. Install them as root with:" >&2
    echo "  apt-get install -y ${missing[*]}" >&2
    exit 1
  fi
fi

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMURMUR_BUILD_TESTS=ON >/dev/null
cmake --build build --parallel "$(nproc)" ${1:+--target "$@"}
