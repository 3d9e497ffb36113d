#!/usr/bin/env bash
# Builds the program in release mode and runs it; arguments go to the program, and --help,
# --help-all and --version (-h, -v) go straight to it. What the build prints goes to stderr,
# so stdout holds only what the program and this script say.
# The build is the checkout owner's: run by root in another user's checkout, the script builds
# as that user, so build/ stays theirs; any other user is told to run it as the owner.
# Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) it runs the demonstration
# song "Night drive" offscreen in the data folder given with --data-dir, else in one of its
# own, build/run-data; exports the song to a WAV file there, saves a picture of the window
# there and says where both are. The song and picture of an earlier run are replaced only by
# new ones; when no song comes, it says what the program said.
set -euo pipefail
checkout=$(cd "$(dirname "$0")/.." && pwd)
owner=$(stat -c %U -- "$checkout")
me=$(id -un)

if [ -n "${OSTREL_RUN_PROGRAM:-}" ]; then
  program=$OSTREL_RUN_PROGRAM  # the tests' hook: a program already built, and no build
else
  cache="${CCACHE_DIR:-$checkout/build/ccache}"
  builder=()
  if [ "$(id -u)" != "$(stat -c %u -- "$checkout")" ]; then
    if [ "$(id -u)" != 0 ]; then
      echo "This checkout belongs to the user $owner, and a build as $me would leave its build folder" \
        "$me's: run scripts/run.sh as $owner." >&2
      exit 1
    fi
    echo "This checkout belongs to the user $owner, so it is built as $owner: its build folder stays theirs." >&2
    builder=(runuser -u "$owner" --)
    cache="$checkout/build/ccache"  # root's own cache may be closed to the owner
  fi
  (
    cd "$checkout"
    "${builder[@]}" env CCACHE_DIR="$cache" CCACHE_NOHASHDIR=1 cmake -S . -B build/release -G Ninja \
      -DCMAKE_BUILD_TYPE=Release -DOSTREL_TESTS=OFF -DOSTREL_BENCH=OFF >/dev/null
    "${builder[@]}" env CCACHE_DIR="$cache" CCACHE_NOHASHDIR=1 cmake --build build/release -j "$(nproc)" >&2
  )
  program=$checkout/build/release/src/ostrel/ostrel
fi

for argument in "$@"; do
  case $argument in
    --) break ;;
    -h | --help | --help-all | -v | --version) exec "$program" "$@" ;;
  esac
done
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$program" "$@"
fi

# The data folder: the first --data-dir given, as the program takes it, else the script's own.
arguments=("$@")
given=""
data=""
for ((i = 0; i < ${#arguments[@]}; i++)); do
  case ${arguments[i]} in
    --data-dir) given=yes; data=${arguments[i + 1]-}; break ;;
    --data-dir=*) given=yes; data=${arguments[i]#--data-dir=}; break ;;
  esac
done
if [ -n "$given" ] && [ -z "$data" ]; then
  exec "$program" "$@"  # it refuses a data folder without a name, and says why
fi
if [ -z "$given" ]; then
  data="$checkout/build/run-data"
  if [ "$owner" = "$me" ]; then
    mkdir -p -m 700 "$data"  # a data folder must be its user's alone to write in
  fi
  set -- --data-dir "$data" "$@"
fi
picture="$data/window.png"
fresh="$data/window.next.png"  # becomes the picture once the run has ended well
song="$data/exports/Night drive.wav"
log="$data/logs/ostrel.log"
rm -f "$fresh"
# The script's own files go to a folder of its own: the data folder may yet be refused.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
said="$scratch/stderr.txt"

# A file's inode and time: an export replaces its file by renaming a new one over it, so
# either changes when this run writes it.
signature() { stat -c '%i %y' -- "$1" 2>/dev/null || true; }
songBefore=$(signature "$song")
logBefore=$(signature "$log")

echo "No display here, so Ostrel runs offscreen (QT_QPA_PLATFORM=offscreen) with its demonstration"
echo "song, keeps its settings and logs in $data, exports the song and saves a picture of its window."
# A 1920 x 1080 screen, which holds the window at its first size: the offscreen platform's
# own, 800 x 600, would open it at its smallest.
screen="$scratch/screen.json"
printf '%s\n' '{"screens": [{"name": "offscreen", "x": 0, "y": 0, "width": 1920, "height": 1080,' \
  ' "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]}' > "$screen"
# The picture ends the run; the export started before it is finished before the program exits.
# What the program says on stderr is shown as it comes and kept; tee ignores Ctrl-C and a
# closed stderr so the program, closing, never writes into a pipe nobody reads.
set +e
{
  QT_QPA_PLATFORM="offscreen:configfile=$screen" "$program" --demo-project \
    --screenshot "$fresh" --quit-after-ms 20000 "$@" 2>&1 >&3 3>&- | tee -i -p "$said" >&2
  status=${PIPESTATUS[0]}
} 3>&1
set -e

echo
echo "Ostrel ended with exit code $status."
if [ "$(signature "$log")" != "$logBefore" ]; then
  # A record's first line says what happened; the indented lines under an ERROR (the action,
  # the recent steps) can be dozens, and would push that line out of view.
  echo "Its log, $log, ends with these records (their first lines):"
  grep -v '^[[:space:]]' -- "$log" | tail -n 12 || true
fi
echo
# The picture is whole when the program ended well.
window=""
if [ "$status" -eq 0 ] && [ -f "$fresh" ]; then
  mv -f "$fresh" "$picture"
  window=$picture
fi
rm -f "$fresh"
if [ -f "$song" ] && [ "$(signature "$song")" != "$songBefore" ]; then
  echo "The song:   $song"
else
  echo "No song was exported."
  if [ -s "$said" ]; then
    echo "Ostrel said:"
    tail -n 12 "$said"
  fi
  if [ "$(signature "$log")" != "$logBefore" ]; then
    echo "Its log, above, may say why."
  elif [ ! -s "$said" ]; then
    echo "Ostrel said nothing on stderr and wrote nothing in its log."
  fi
  if [ "$status" -eq 5 ] && [ -z "$given" ]; then
    if [ "$owner" != "$me" ]; then
      echo "This checkout belongs to the user $owner, so Ostrel run as $me may not keep its data in it:" \
        "run scripts/run.sh as $owner, or give it --data-dir with a folder of your own."
    else
      echo "To keep Ostrel's data elsewhere, give scripts/run.sh --data-dir with a folder of your own."
    fi
  fi
  if [ -f "$song" ]; then
    echo "The song of an earlier run is still there: $song"
  fi
  if [ "$status" -eq 0 ]; then status=1; fi
fi
if [ -n "$window" ]; then
  echo "The window: $window"
fi
exit "$status"
