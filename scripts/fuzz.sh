#!/usr/bin/env bash
# Runs every libFuzzer harness of build-fuzz for SECONDS each (default 60).
#
#   scripts/fuzz.sh [SECONDS] [HARNESS...]
#
# One process per harness, one after the other: the machine is shared. The fuzzer reads the
# committed seeds (fuzz/corpus/NAME) and grows a working corpus in
# build-fuzz/corpus/NAME, kept between runs; crashes land in
# build-fuzz/findings/NAME/. With FUZZ_UPDATE_CORPUS=1 the inputs that add
# coverage are merged into fuzz/corpus/NAME afterwards. Any finding makes the
# script exit 1.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-60}
shift || true
build="${FUZZ_BUILD:-$here/build-fuzz}/fuzz"
harnesses=("$@")
if [ ${#harnesses[@]} -eq 0 ]; then
  harnesses=(broadcast_answer ssdp_message option_key language_file device_url)
fi

declare -A maxlen=([language_file]=4096)
declare -A dict=([broadcast_answer]=broadcast [ssdp_message]=ssdp [option_key]=broadcast
                 [language_file]=language [device_url]=url)
status=0
for name in "${harnesses[@]}"; do
  bin="$build/fuzz_$name"
  if [ ! -x "$bin" ]; then echo "fuzz.sh: $bin not built, skipped" >&2; continue; fi
  corpus="$here/fuzz/corpus/$name"
  work="$here/build-fuzz/corpus/$name"
  findings="$here/build-fuzz/findings/$name"
  mkdir -p "$findings" "$work"
  opts=(-max_total_time="$seconds" -max_len="${maxlen[$name]:-1200}" -timeout=10 -rss_limit_mb=1024
        -print_final_stats=1 -artifact_prefix="$findings/")
  d="$here/fuzz/dict/${dict[$name]:-}.dict"
  [ -f "$d" ] && opts+=(-dict="$d")
  echo "== $name: ${seconds}s" >&2
  if ! (cd "$findings" && "$bin" "${opts[@]}" "$work" "$corpus") >"$findings/run.log" 2>&1; then
    echo "fuzz.sh: FINDING in $name:" >&2
    grep -E 'ERROR|check failed|Test unit written' "$findings/run.log" | head -5 >&2 || true
    status=1
  fi
  grep -E 'stat::number_of_executed_units|stat::new_units_added' "$findings/run.log" | sed "s/^/  $name /" >&2 || true
  if [ "${FUZZ_UPDATE_CORPUS:-0}" = 1 ]; then
    "$bin" -merge=1 "$corpus" "$work" >/dev/null 2>&1 || true
  fi
done
exit "$status"
