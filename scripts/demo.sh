#!/usr/bin/env bash
# The main job on a machine without a sensor: sets up and builds the toolkit,
# starts the virtual KL31 sensor on a COM port and talks to it.
#
#   bash scripts/demo.sh          the service tool window (when a display is there),
#                                 otherwise the command-line probe
#   bash scripts/demo.sh probe    the command-line probe only
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
mode=${1:-auto}
bash "$here/scripts/setup.sh"
bash "$here/scripts/build.sh" "$here/build"
bin="$here/build/bin"

# The demo's ports live in a folder of their own, so it never shadows a real adapter.
export KL31_PORTS_DIR=${KL31_PORTS_DIR:-$HOME/.kl31/demo-ports}
mkdir -p "$KL31_PORTS_DIR"
COM=${KL31_DEMO_COM:-5}

# A sensor somewhere the tool has to search for: 19200 bit/s, address 7, paced
# like a real line. Flags 0x30: baud code 4 (19200), and bit 5 so that it
# answers the search's broadcast with its own address. Its virtual tank holds
# 60 litres; lines written to the pipe "$KL31_PORTS_DIR/tank" pour and drain.
# Its output goes to a file of this run only, and the demo waits for the line
# this sensor prints when it is up, so an earlier run's output can never pass
# for it. A sensor of an earlier demo that was killed hard left its link; the
# new one replaces it. One that still runs keeps the name, and this one says so.
out=$(mktemp "${TMPDIR:-/tmp}/kl31-demo-sensor.XXXXXX")
"$bin/virtual_sensor" --com "$COM" --baud 19200 --address 7 --set flags=0x30 --pace \
  --set tank=1 --set tank_litres=60 --control "$KL31_PORTS_DIR/tank" > "$out" 2>&1 &
vs=$!
trap 'kill $vs 2>/dev/null; wait $vs 2>/dev/null || true; rm -f "$out"' EXIT
up=
for _ in $(seq 100); do
  up=$(grep -m1 "^COM$COM -> " "$out" || true)
  [ -n "$up" ] && break
  kill -0 "$vs" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$up" ]; then
  echo "demo: the virtual sensor did not start on COM$COM:" >&2
  cat "$out" >&2
  exit 1
fi
echo "virtual sensor: $up"

# The demo's settings live apart from the program's own, so it never changes
# what a technician set up; the first demo run starts on the demo's port at
# another rate, so the search has something to find.
export KL31_CONFIG_DIR=${KL31_CONFIG_DIR:-$HOME/.kl31/demo-config}
mkdir -p "$KL31_CONFIG_DIR"
[ -e "$KL31_CONFIG_DIR/KL31_Install_Service.ini" ] ||
  printf '[UART]\r\nNUM=%s\r\nBAUD=9600\r\nADDR=1\r\n' "$COM" > "$KL31_CONFIG_DIR/KL31_Install_Service.ini"

# The demo reads its texts from a language folder of its own, a fresh copy of
# the build's language file each run; a language chosen in the demo is kept in
# its settings folder. Neither touches the program's own language file.
if [ -z "${KL31_LANG_DIR:-}" ]; then
  export KL31_LANG_DIR=$HOME/.kl31/demo-lang
  mkdir -p "$KL31_LANG_DIR"
  cp "$bin/KL31_Install_Service.lng" "$KL31_LANG_DIR/"
fi

if [ "$mode" = auto ] && [ -x "$bin/KL_Install" ]; then
  if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "demo: there is no display here (DISPLAY is not set), so the window cannot open."
    echo "demo: running the command-line probe instead; for pictures of the window see scripts/screenshots.sh."
    mode=probe
  else
    echo "demo: in KL_Install pick COM$COM in the port list and press \"Поиск устройства\"."
    (cd "$bin" && ./KL_Install)
    exit 0
  fi
fi
"$bin/kl31_probe" "COM$COM"
