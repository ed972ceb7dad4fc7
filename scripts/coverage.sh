#!/usr/bin/env bash
# coverage.sh [BUILD_DIR]: line and branch coverage of the product code from
# the counters a coverage build's test run left in BUILD_DIR (default
# build-coverage/), per directory and in all, plus an HTML report in
# BUILD_DIR/coverage/index.html. Branches that only exceptions take, and those
# the compiler proved unreachable, are left out of the branch figures.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build-coverage}" && pwd)
command -v gcovr >/dev/null || { echo "coverage.sh: gcovr is missing (make deps)" >&2; exit 1; }
mkdir -p "$build/coverage"
# Tests that end the process while worker threads still count (the exit soak,
# exit during hand-overs) can leave counters that do not add up, and gcov then
# derives a negative branch count; such lines are skipped and noted, not fatal.
gcovr --root "$root" --object-directory "$build" -j "$(nproc)" \
  --filter "$root/SearchDeviceLib/" --filter "$root/searchlib/" --filter "$root/src/" --filter "$root/tools/" \
  --exclude-throw-branches --exclude-unreachable-branches --gcov-ignore-parse-errors \
  --html-details "$build/coverage/index.html" --json-summary "$build/coverage/summary.json" \
  >/dev/null 2>"$build/coverage/gcovr.log" || { cat "$build/coverage/gcovr.log" >&2; exit 1; }
skipped=$(grep -c 'Unrecognized GCOV output' "$build/coverage/gcovr.log" || true)
[ "$skipped" = 0 ] || echo "($skipped gcov lines with inconsistent counters skipped; see $build/coverage/gcovr.log)"
python3 - "$build/coverage/summary.json" <<'PY'
import collections, json, sys
totals = collections.defaultdict(lambda: [0, 0, 0, 0])
for f in json.load(open(sys.argv[1]))["files"]:
    parts = f["filename"].split("/")
    key = "/".join(parts[:2]) if parts[0] in ("tools", "src") and len(parts) > 2 else parts[0]
    for k in (key, "all"):
        t = totals[k]
        t[0] += f["line_covered"]; t[1] += f["line_total"]; t[2] += f["branch_covered"]; t[3] += f["branch_total"]
pct = lambda a, b: "%5.1f%%" % (100.0 * a / b) if b else "    -"
print("%-16s %8s %13s %8s %13s" % ("directory", "lines", "", "branches", ""))
for k in sorted(totals, key=lambda k: (k == "all", k)):
    c, t, bc, bt = totals[k]
    print("%-16s %8s %6d/%-6d %8s %6d/%-6d" % (k, pct(c, t), c, t, pct(bc, bt), bc, bt))
PY
echo "HTML report: $build/coverage/index.html"
