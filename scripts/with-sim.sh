#!/usr/bin/env bash
# with-sim.sh SIM CONFIG COMMAND [ARGS...]
# Inside scripts/lab/lab.sh: plays the devices of CONFIG with nasscout-sim on
# the LAN side, waits until it is ready, then runs COMMAND on the host side.
set -euo pipefail
[ -n "${LAB_IN_LAN:-}" ] || { echo "with-sim.sh: run me inside scripts/lab/lab.sh" >&2; exit 77; }
sim=$1 config=$2
shift 2
work=$(mktemp -d /tmp/nasscout-ui-lab.XXXXXX)
$LAB_IN_LAN "$sim" run --config "$config" --ready-file "$work/ready" --duration 60 2>"$work/sim.log" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; wait $sim_pid 2>/dev/null; rm -rf "$work"' EXIT
for _ in $(seq 200); do
  grep -q ready "$work/ready" 2>/dev/null && break
  kill -0 $sim_pid 2>/dev/null || break
  sleep 0.05
done
if ! grep -q ready "$work/ready" 2>/dev/null; then
  echo "with-sim.sh: the simulator did not start:" >&2
  cat "$work/sim.log" >&2
  exit 1
fi
set +e
WORK="$work" "$@"
