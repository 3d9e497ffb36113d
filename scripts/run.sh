#!/usr/bin/env bash
# Builds the program in release mode and runs it; arguments go to the program.
# Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) it runs the window
# offscreen for a few seconds with a data folder of its own, saves a picture of the
# window and shows what the program logged.
set -euo pipefail
cd "$(dirname "$0")/.."
export CCACHE_DIR="${CCACHE_DIR:-$PWD/build/ccache}" CCACHE_NOHASHDIR=1
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF >/dev/null
cmake --build build/release -j "$(nproc)"
program=build/release/src/ostrel/ostrel

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program" "$@"
fi

data="$PWD/build/run-data"
picture="$data/window.png"
mkdir -p "$data"
echo "No display here, so Ostrel runs offscreen (QT_QPA_PLATFORM=offscreen) for a few seconds,"
echo "keeps its settings and logs in $data,"
echo "and saves a picture of its window to $picture."
status=0
QT_QPA_PLATFORM=offscreen "$program" --data-dir "$data" --quit-after-ms 5000 --screenshot "$picture" "$@" || status=$?
echo
echo "Ostrel ended with exit code $status. Its log, $data/logs/ostrel.log, ends with:"
tail -n 12 "$data/logs/ostrel.log"
if [ -f "$picture" ]; then
  echo
  echo "The window: $picture"
fi
exit "$status"
