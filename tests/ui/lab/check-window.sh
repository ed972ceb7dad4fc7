#!/usr/bin/env bash
# check-window.sh NASSCOUT: runs the installed-style window binary in the lab
# (under with-sim.sh) until its countdown ends and checks the saved picture.
set -euo pipefail
shot="$WORK/window.png"
QT_QPA_PLATFORM=offscreen NASSCOUT_TICK_MS=100 NASSCOUT_SCREENSHOT="$shot" timeout 60 "$1" >"$WORK/window.log" 2>&1 || {
  status=$?; echo "nasscout exited with $status:" >&2; cat "$WORK/window.log" >&2; exit 1; }
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || { echo "no PNG written" >&2; exit 1; }
grep -q "application awakeFromNib........" "$WORK/window.log" || { echo "missing start-up line" >&2; exit 1; }
grep -q "fileToOpen = .*/lang/XML_" "$WORK/window.log" || { echo "language file not found beside the binary" >&2; exit 1; }
echo "nasscout started, counted down and saved its window"
