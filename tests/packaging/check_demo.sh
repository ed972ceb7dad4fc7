#!/usr/bin/env bash
# Runs the demo in its terminal form for a few seconds and checks that the
# listed devices are exactly the demo network's accepted makers.
set -uo pipefail
out=$("$(dirname "$0")/../../scripts/demo.sh" --cli --seconds "${2:-6}" --build "$1" 2>&1)
status=$?
echo "$out"
[ "$status" = 0 ] || { echo "demo exited with $status"; [ "$status" = 77 ] && exit 77; exit 1; }
fail=0
for host in nas-office backup-01 media-vault archive lab-store leaving-nas; do
  grep -q "$host" <<<"$out" || { echo "demo did not list $host"; fail=1; }
done
! grep -qE "office-printer|door-camera" <<<"$out" || { echo "demo listed a device whose maker is not accepted"; fail=1; }
tail -n 8 <<<"$out" | grep -q "'+' for a" || { echo "demo did not end by explaining its output"; fail=1; }
exit "$fail"
