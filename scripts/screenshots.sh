#!/usr/bin/env bash
# screenshots.sh <folder> [build-dir]: runs the service tool under a virtual
# display against the virtual sensor and saves a PNG of each page into <folder>:
#   0-splash.png       KL_Install's splash, a second after start
#   0-start.png        KL_Install itself, as a technician sees it after start
#   1-program.png ...  each page, and the status bar and the program page after
#                      a search that finds the sensor at 38400 bit/s, address 5,
#                      on COM15
#   en-1-program.png   the program page with English chosen in the language file
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
out=${1:?usage: screenshots.sh <folder> [build-dir]}
build=${2:-$here/build}
mkdir -p "$out"
out=$(cd "$out" && pwd)
bin="$build/bin"
for p in KL_Install KL_Install_snapshots virtual_sensor; do
  [ -x "$bin/$p" ] || { echo "screenshots: $bin/$p missing; build first (scripts/build.sh)" >&2; exit 1; }
done
command -v Xvfb >/dev/null || { echo "screenshots: Xvfb is not installed (scripts/setup.sh installs it)" >&2; exit 1; }
command -v import >/dev/null || { echo "screenshots: ImageMagick's import is missing (scripts/setup.sh installs it)" >&2; exit 1; }

work=$(mktemp -d /tmp/kl31-shots.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private ports folder and settings folder, so nothing of the user's changes.
export KL31_PORTS_DIR="$work/ports" KL31_CONFIG_DIR="$work/config"
mkdir -p "$KL31_PORTS_DIR" "$KL31_CONFIG_DIR"
unset QT_QPA_PLATFORM

display=:$(( 90 + RANDOM % 100 ))
Xvfb "$display" -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display
for _ in $(seq 1 100); do xdpyinfo >/dev/null 2>&1 && break; [ -e "/tmp/.X11-unix/X${display#:}" ] && break; sleep 0.1; done

# Flags 52: baud code 5 (38400) and answers to the broadcast address under
# its own address, so the search reports address 5.
printf 'baud=38400\naddress=5\nflags=52\n' > "$work/sensor.state"
"$bin/virtual_sensor" --com 15 --state "$work/sensor.state" > "$work/sensor.txt" &
pids+=($!)
for _ in $(seq 1 100); do [ -s "$work/sensor.txt" ] && break; sleep 0.1; done
echo "sensor: $(cat "$work/sensor.txt")"

# The program itself: splash, then the main window about two seconds later.
"$bin/KL_Install" >/dev/null 2>&1 &
app=$!
pids+=($app)
sleep 1
import -window root "$out/0-splash.png"
echo "saved $out/0-splash.png"
sleep 3
import -window root "$out/0-start.png"
echo "saved $out/0-start.png"
kill "$app" 2>/dev/null || true

"$bin/KL_Install_snapshots" "$out" 15

# The same program with English chosen, from a copy of the shipped language file.
mkdir -p "$work/lang"
sed 's/^SELECTED=.*/SELECTED=English/' "$bin/KL31_Install_Service.lng" > "$work/lang/KL31_Install_Service.lng"
KL31_LANG_DIR="$work/lang" "$bin/KL_Install_snapshots" --prefix en- "$out" 15
