#!/usr/bin/env bash
# Builds and runs every test: the threaded stress tests under ThreadSanitizer, each fuzz
# target for a while, and the main suites under AddressSanitizer and UBSan. Every stage runs
# even when one before it fails; the run ends with one line per stage and the overall result.
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
fuzz_seconds="${OSTREL_FUZZ_SECONDS:-20}"

configure() {  # dir, extra cmake arguments...
  local dir=$1; shift
  cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "$@" >/dev/null
}

summary=()
failed=0

# Configures, builds and tests one build directory, and notes the outcome for the summary.
stage() {  # name, dir, extra cmake arguments...
  local name=$1 dir=$2; shift 2
  local started=$SECONDS verdict=FAILED detail
  echo "== $name"
  if ! configure "$dir" "$@" || ! cmake --build "$dir" -j "$jobs"; then
    detail="did not build"
  else
    local log="$dir/ctest-output.txt" counts tested=0
    (cd "$dir" && ctest --output-on-failure -j "$jobs") | tee "$log" || tested=$?
    # ctest's own count line: "N% tests passed, M tests failed out of K".
    counts=$(grep -E '^[0-9]+% tests passed' "$log" | tail -n 1 || true)
    if [[ -z $counts ]]; then
      detail="ctest counted no tests (exit status $tested)"
    else
      detail=$counts
      if ((tested == 0)) && [[ $counts == *", 0 tests failed "* ]]; then verdict=passed; fi
    fi
  fi
  [[ $verdict == passed ]] || failed=$((failed + 1))
  summary+=("$verdict  $name: $detail ($((SECONDS - started)) s)")
}

stage "ThreadSanitizer: threaded stress tests" build/tsan -DOSTREL_TSAN=ON -DCMAKE_CXX_FLAGS=-O1
CC=clang-16 CXX=clang++-16 stage "libFuzzer: each target for $fuzz_seconds s" build/fuzz -DOSTREL_FUZZ=ON \
  -DCMAKE_CXX_FLAGS=-O1 -DOSTREL_FUZZ_SECONDS="$fuzz_seconds"
stage "AddressSanitizer and UBSan: every test" build/asan -DOSTREL_SANITIZE=ON -DCMAKE_CXX_FLAGS=-O1

echo
echo "== Summary"
printf '%s\n' "${summary[@]}"
if ((failed == 0)); then
  echo "All ${#summary[@]} stages passed."
else
  echo "FAILED: $failed of ${#summary[@]} stages failed."
  exit 1
fi
