#!/usr/bin/env bash
# Builds the benchmarks in release mode and runs them; arguments go to every benchmark binary.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_DIR="${CCACHE_DIR:-$PWD/build/ccache}" CCACHE_NOHASHDIR=1
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_APP=OFF >/dev/null
cmake --build build/bench -j "$(nproc)"
for b in build/bench/bench/*_bench; do
  echo "== $b"
  "$b" "$@"
done
