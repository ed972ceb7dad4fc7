#!/usr/bin/env bash
# make bench: micro benchmarks, then the lab figures, then a 200-run exit soak.
#
#   scripts/bench.sh [--no-lab] [--soak N]
#
# Figures are printed and kept as JSON in build-bench/bench-results/;
# docs/performance.md records them by hand with the machine they came from.
# Benchmarks report; nothing here passes or fails on a figure. The lab parts
# run only inside scripts/lab/lab.sh; where namespaces cannot be built they are
# skipped and the script says so.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build="${BENCH_BUILD:-$here/build-bench}"
out="$build/bench-results"
lab=1
soak=200
while [ $# -gt 0 ]; do
  case "$1" in
    --no-lab) lab=0; shift ;;
    --soak) soak="$2"; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    *) echo "bench.sh: unknown option $1" >&2; exit 2 ;;
  esac
done
mkdir -p "$out"

echo "== machine"
echo "  nproc $(nproc); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'); kernel $(uname -r)"

echo "== micro benchmarks (log off)"
for b in decode_bench list_bench; do
  "$build/bench/$b" --benchmark_min_time=0.5 --benchmark_repetitions=3 --benchmark_report_aggregates_only=true \
    --benchmark_out="$out/$b.json" --benchmark_out_format=json 2>&1 \
    | grep -v '^\*\*\*WARNING\*\*\* Library was built as DEBUG'
done

if [ "$lab" = 1 ]; then
  echo "== lab figures"
  set +e
  "$here/scripts/lab/lab.sh" --addrs 200 python3 "$here/bench/lab_bench.py" "$build" "$out/lab.json"
  status=$?
  set -e
  if [ "$status" = 77 ]; then
    echo "bench.sh: the lab cannot be built on this machine (no network namespaces): lab figures skipped" >&2
    lab=0
  elif [ "$status" != 0 ]; then
    echo "bench.sh: the lab figures failed (status $status)" >&2
    exit "$status"
  fi
fi

if [ "$lab" = 1 ] && [ "$soak" -gt 0 ]; then
  echo "== exit soak: $soak scans of 0.3 s under a flood"
  "$here/scripts/lab/lab.sh" python3 "$here/tests/hostile/hostile_lab_test.py" "$build" ExitSoak "$soak"
fi
