#!/usr/bin/env bash
# check-window.sh NASSCOUT: runs the window program in the lab (under
# with-sim.sh) until its countdown ends: both simulated devices are listed, the
# language file is found beside the binary, and the saved picture is a PNG.
set -euo pipefail
shot="$WORK/window.png"
QT_QPA_PLATFORM=offscreen NASSCOUT_TICK_MS=300 NASSCOUT_SCREENSHOT="$shot" timeout 60 "$1" >"$WORK/window.log" 2>&1 || {
  status=$?; echo "nasscout exited with $status:" >&2; cat "$WORK/window.log" >&2; exit 1; }
fail() { echo "$*" >&2; cat "$WORK/window.log" >&2; exit 1; }
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "no PNG written"
grep -q "application awakeFromNib........" "$WORK/window.log" || fail "missing start-up line"
grep -q "fileToOpen = .*/lang/XML_" "$WORK/window.log" || fail "language file not found beside the binary"
grep -q "vListDevice.size() = 2" "$WORK/window.log" || fail "the two simulated devices were not listed"
echo "nasscout listed the devices, counted down and saved its window"
