#!/usr/bin/env bash
# Shows nasscout finding the simulated devices of demo/network.json.
#
#   scripts/demo.sh [--cli] [--seconds N] [--build DIR]
#
# Builds a private two-subnet network in namespaces (scripts/lab/lab.sh), plays
# the demo devices there with nasscout-sim, and runs the window when a display
# is available, otherwise `nasscout-cli watch` for about 40 seconds. Nothing is
# sent outside the namespaces, which vanish when the demo ends.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="$here/build"
mode=auto
seconds=40
while [ $# -gt 0 ]; do
  case "$1" in
    --cli) mode=cli; shift ;;
    --gui) mode=gui; shift ;;
    --seconds) seconds="$2"; shift 2 ;;
    --build) build="$2"; shift 2 ;;
    -h|--help) sed -n '2,10p' "$0"; exit 0 ;;
    *) echo "demo.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
  esac
done

if [ "${DEMO_IN_LAB:-}" != 1 ]; then
  for bin in tools/cli/nasscout-cli tools/sim/nasscout-sim; do
    [ -x "$build/$bin" ] || { echo "demo.sh: $build/$bin is missing; run 'make build' first" >&2; exit 1; }
  done
  set +e
  DEMO_IN_LAB=1 "$here/scripts/lab/lab.sh" "$0" --build "$build" --seconds "$seconds" \
    $( [ "$mode" = cli ] && echo --cli ) $( [ "$mode" = gui ] && echo --gui )
  status=$?
  set -e
  if [ "$status" = 77 ]; then
    echo "demo.sh: this machine cannot create network namespaces, so the demo cannot run safely." >&2
  fi
  exit "$status"
fi

# ---- inside the lab ------------------------------------------------------
work=$(mktemp -d /tmp/nasscout-demo.XXXXXX)
trap 'kill $(jobs -p) 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
$LAB_IN_LAN "$build/tools/sim/nasscout-sim" run --config "$here/demo/network.json" \
  --ready-file "$work/ready" --duration $((seconds + 30)) 2>"$work/sim.log" &
for _ in $(seq 100); do grep -q ready "$work/ready" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$work/ready" 2>/dev/null || { echo "demo.sh: the simulator did not start:" >&2; cat "$work/sim.log" >&2; exit 1; }

echo "Demo network: 9 simulated devices on 198.51.100.0/24 and 203.0.113.0/24"
echo "(2 from makers nasscout does not list; 'late-nas' announces itself at ~12 s; 'leaving-nas' says byebye at ~20 s)"
echo

gui="$build/src/nasscout"
if [ "$mode" != cli ] && [ -x "$gui" ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec "$gui"
fi
[ "$mode" = gui ] && { echo "demo.sh: no display (DISPLAY/WAYLAND_DISPLAY) or no window build" >&2; exit 1; }
interval=5
rounds=$(( (seconds + interval - 1) / interval ))
"$build/tools/cli/nasscout-cli" watch --interval "$interval" --rounds "$rounds"
cat <<'EOF'

That was `nasscout-cli watch`: one line per change of the device list, '+' for a
device found, '-' for one that said goodbye or stopped answering ('~' changed).
Try next, from this directory:
  scripts/lab/lab.sh sh -c '$LAB_IN_LAN nasscout-sim run --config demo/network.json --duration 30 &
                          sleep 1; nasscout-cli scan --timeout 3'
  build/tools/cli/nasscout-cli --help     every option, the formats, the exit status
  make run                                the window on your real network (see README.md)
EOF
