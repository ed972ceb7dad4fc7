#!/usr/bin/env bash
# screenshot.sh [--build DIR] [--config JSON] [--out PNG] [--lang CODE]
#
# Writes a picture of the window after its countdown, with devices played by
# nasscout-sim. Everything runs in the private namespaces of scripts/lab/lab.sh
# and on a virtual X display (Xvfb), so nothing reaches the real network.
# Defaults: build/, demo/network.json, docs/screenshot.png, English.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
config="$here/demo/network.json"
out="$here/docs/screenshot.png"
lang=en
while [ $# -gt 0 ]; do
  case "$1" in
    --build) build=$(cd "$2" && pwd); shift 2 ;;
    --config) config=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --out) out=$(cd "$(dirname "$2")" && pwd)/$(basename "$2"); shift 2 ;;
    --lang) lang="$2"; shift 2 ;;
    -h|--help) sed -n '2,9p' "$0"; exit 0 ;;
    *) echo "screenshot.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

if [ "${SCREENSHOT_IN_LAB:-}" != 1 ]; then
  for bin in src/nasscout tools/sim/nasscout-sim; do
    [ -x "$build/$bin" ] || { echo "screenshot.sh: $build/$bin is missing; build first" >&2; exit 1; }
  done
  command -v xvfb-run >/dev/null || { echo "screenshot.sh: xvfb-run is missing (package xvfb)" >&2; exit 1; }
  exec env SCREENSHOT_IN_LAB=1 "$here/scripts/lab/lab.sh" "$here/scripts/with-sim.sh" \
    "$build/tools/sim/nasscout-sim" "$config" "$0" --build "$build" --out "$out" --lang "$lang"
fi

# ---- inside the lab, the simulator ready --------------------------------
# A short tick keeps the wait brief; the picture is taken once the buttons
# are enabled, i.e. after the whole countdown.
export XDG_CONFIG_HOME="$WORK/config"  # the user's own settings (other networks) stay out
LANGUAGE="$lang" LC_ALL=C.UTF-8 NASSCOUT_TICK_MS=300 NASSCOUT_SCREENSHOT="$out" QT_QPA_PLATFORM=xcb \
  timeout 120 xvfb-run -a -s "-screen 0 1024x768x24" "$build/src/nasscout" >"$WORK/window.log" 2>&1 || {
    echo "screenshot.sh: the window failed:" >&2; cat "$WORK/window.log" >&2; exit 1; }
echo "screenshot.sh: wrote $out"
