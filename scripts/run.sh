#!/usr/bin/env bash
# Builds the program in release mode and runs it; arguments go to the program.
# Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) it runs the demonstration
# song "Night drive" offscreen with a data folder of its own, exports it to a WAV file,
# saves a picture of the window and says where both are.
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
song="$data/exports/Night drive.wav"
mkdir -p -m 700 "$data"  # a data folder must be its user's alone to write in
rm -f "$picture" "$song"
echo "No display here, so Ostrel runs offscreen (QT_QPA_PLATFORM=offscreen) with its demonstration"
echo "song, keeps its settings and logs in $data, exports the song and saves a picture of its window."
status=0
# A 1920 x 1080 screen, which holds the window at its first size: the offscreen platform's
# own, 800 x 600, would open it at its smallest.
screen="$data/screen.json"
printf '%s\n' '{"screens": [{"name": "offscreen", "x": 0, "y": 0, "width": 1920, "height": 1080,' \
  ' "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]}' > "$screen"
# The picture ends the run; the export started before it is finished before the program exits.
QT_QPA_PLATFORM="offscreen:configfile=$screen" "$program" --data-dir "$data" --demo-project \
  --screenshot "$picture" --quit-after-ms 20000 "$@" || status=$?
echo
echo "Ostrel ended with exit code $status. Its log, $data/logs/ostrel.log, ends with:"
tail -n 12 "$data/logs/ostrel.log"
echo
if [ -f "$song" ]; then
  echo "The song:   $song"
else
  echo "No song was exported (see the log above)."
  if [ "$status" -eq 0 ]; then status=1; fi
fi
if [ -f "$picture" ]; then
  echo "The window: $picture"
fi
exit "$status"
