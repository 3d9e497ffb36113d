#!/usr/bin/env bash
# Builds and runs every test: the main suites under AddressSanitizer and UBSan,
# the threaded stress tests under ThreadSanitizer, and each fuzz target for a while.
# Exits non-zero on any failure.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
export CCACHE_DIR="${CCACHE_DIR:-$PWD/build/ccache}" CCACHE_NOHASHDIR=1
export QT_QPA_PLATFORM=offscreen
# Sanitizer defaults; tests that need their own handlers set these for their children.
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}"
export TSAN_OPTIONS="${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}"

configure() {  # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
}

status=0

echo "== ThreadSanitizer: threaded stress tests"
configure build/tsan -DOSTREL_TSAN=ON -DCMAKE_CXX_FLAGS=-O1
cmake --build build/tsan -j "$jobs"
(cd build/tsan && ctest --output-on-failure -j "$jobs") || status=1

echo "== libFuzzer: each target for ${OSTREL_FUZZ_SECONDS:-20} s"
CC=clang-16 CXX=clang++-16 configure build/fuzz -DOSTREL_FUZZ=ON -DCMAKE_CXX_FLAGS=-O1 \
  -DOSTREL_FUZZ_SECONDS="${OSTREL_FUZZ_SECONDS:-20}"
cmake --build build/fuzz -j "$jobs"
(cd build/fuzz && ctest --output-on-failure -j "$jobs") || status=1

echo "== AddressSanitizer and UBSan: every test"
configure build/asan -DOSTREL_SANITIZE=ON -DCMAKE_CXX_FLAGS=-O1
cmake --build build/asan -j "$jobs"
(cd build/asan && ctest --output-on-failure -j "$jobs") || status=1

exit $status
