#!/usr/bin/env bash
# check-window.sh NASSCOUT: runs the installed-style window binary in the lab
# (under with-sim.sh): --help and --version with no display at all; a run
# until its countdown ends, whose picture is saved and whose diagnostic lines
# stay off the terminal; a run with --verbose, which copies them there and
# shows that both simulated devices were listed.
set -euo pipefail
fail() { echo "$*" >&2; exit 1; }
help=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" --help) || fail "--help failed without a display"
grep -q '^Usage: nasscout' <<<"$help" || fail "--help printed no usage: $help"
[[ $(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$1" --version) =~ ^nasscout\ [0-9]+\.[0-9]+ ]] ||
  fail "--version printed no version"

shot="$WORK/window.png"
export XDG_CONFIG_HOME="$WORK/config"  # the user's own settings (other networks) stay out
run() {  # run LOG [ARGS]: until the countdown ends and the picture is saved
  local log=$1; shift
  QT_QPA_PLATFORM=offscreen NASSCOUT_TICK_MS=${TICK:-100} NASSCOUT_SCREENSHOT="$shot" timeout 60 "$NASSCOUT" "$@" >"$log" 2>&1 ||
    { status=$?; echo "nasscout exited with $status:" >&2; cat "$log" >&2; exit 1; }
}
NASSCOUT=$1
run "$WORK/quiet.log"
[ "$(head -c 8 "$shot" | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] || fail "no PNG written"
! grep -q -e "awakeFromNib" -e "fileToOpen" -e "KEY1=" -e "vListDevice" "$WORK/quiet.log" ||
  fail "diagnostic lines on the terminal without --verbose: $(cat "$WORK/quiet.log")"
TICK=300 run "$WORK/verbose.log" --verbose  # time for the delayed device
grep -q "nasscout.*application awakeFromNib........" "$WORK/verbose.log" || fail "missing start-up line"
grep -q "fileToOpen = .*/lang/XML_" "$WORK/verbose.log" || fail "language file not found beside the binary"
grep -q "vListDevice.size() = 2" "$WORK/verbose.log" || fail "the two simulated devices were not listed"
echo "nasscout: --help and --version without a display; listed the devices, counted down, saved its window; quiet unless --verbose"
