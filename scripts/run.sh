#!/usr/bin/env bash
# Builds the program in release mode and runs it.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_DIR="${CCACHE_DIR:-$PWD/build/ccache}" CCACHE_NOHASHDIR=1
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
if [ -x build/release/src/app/ostrel ]; then
  exec build/release/src/app/ostrel "$@"
fi
echo "Ostrel's libraries are built; the program's window is not part of this version yet."
