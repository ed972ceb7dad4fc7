#!/usr/bin/env bash
# Runs the demo in its terminal form for a few seconds and checks that the
# listed devices are exactly the demo network's accepted makers.
set -uo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
out=$("$here/scripts/demo.sh" --cli --seconds "${2:-6}" --build "$1" 2>&1)
status=$?
echo "$out"
[ "$status" = 77 ] && exit 77
[ "$status" = 0 ] || { echo "demo exited with $status"; exit 1; }
fail=0
for host in nas-office backup-01 media-vault archive lab-store leaving-nas; do
  echo "$out" | grep -q "$host" || { echo "demo did not list $host"; fail=1; }
done
for host in office-printer door-camera; do
  echo "$out" | grep -q "$host" && { echo "demo listed $host, whose maker is not accepted"; fail=1; }
done
echo "$out" | tail -n 8 | grep -q "'+' for a" || { echo "demo did not end by explaining its output"; fail=1; }
exit "$fail"
