#!/usr/bin/env bash
# faultcheck.sh [--full] [--tests-from REV] [PATCH...]: does the suite catch each seeded fault?
# Each patch (default: tests/faults/*.patch) is applied alone to a copy of this tree, working
# changes included, which is built incrementally and tested with the default ctest preset; a
# failing suite catches the fault. Header lines before a patch's diff narrow both to keep it
# fast: "# ctest: -R REGEX" (ctest arguments) and "# build: TARGET..." (instead of all); --full
# ignores them. --tests-from REV takes tests/ from a git revision, to show that a fault went
# unnoticed before a test was added. Prints "caught" or "missed" per patch, then "N caught,
# M missed"; exits 1 when any was missed. The copy, its build and each run's logs/ stay in
# $NASSCOUT_FAULTS_DIR (default build-faults/). Nothing is sent but by the suite, whose every
# sending test runs inside scripts/lab/lab.sh.
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
WORK=${NASSCOUT_FAULTS_DIR:-$ROOT/build-faults}
TREE=$WORK/tree LOGS=$WORK/logs JOBS=${JOBS:-2}
full=0 testsFrom= patches=()
while [ $# -gt 0 ]; do
  case "$1" in
    --full) full=1; shift ;;
    --tests-from) testsFrom=$2; shift 2 ;;
    -h|--help) sed -n '2,11p' "$0"; exit 0 ;;
    -*) echo "faultcheck.sh: unknown option $1 (see --help)" >&2; exit 2 ;;
    *) patches+=("$(realpath "$1")"); shift ;;
  esac
done
[ ${#patches[@]} -gt 0 ] || patches=("$ROOT"/tests/faults/*.patch)
export CMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER:-ccache}
export CMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER:-ccache}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-/work} CCACHE_DIR=${CCACHE_DIR:-/work/.ccache}

mkdir -p "$TREE" "$LOGS"
stage=$(mktemp -d "$WORK/stage.XXXXXX")
trap 'rm -rf "$stage"' EXIT
git -C "$ROOT" ls-files -z -co --exclude-standard | (cd "$ROOT" && xargs -0 tar -cf - --no-recursion) |
  tar -xf - -C "$stage"
if [ -n "$testsFrom" ]; then
  rm -rf "$stage/tests"
  git -C "$ROOT" archive "$testsFrom" tests | tar -xf - -C "$stage"
  cp -r "$ROOT/tests/faults" "$stage/tests/"  # the patches themselves
fi
# Only files whose text changed are rewritten, so make rebuilds only what differs.
(cd "$stage" && find . -type f) | while IFS= read -r f; do
  cmp -s "$stage/$f" "$TREE/$f" || { mkdir -p "$(dirname "$TREE/$f")" && cp --preserve=mode "$stage/$f" "$TREE/$f"; }
done
(cd "$TREE" && find . -path ./build -prune -o -type f -print) | while IFS= read -r f; do
  [ -e "$stage/$f" ] || rm "$TREE/$f"
done

cd "$TREE"
cmake --preset default >"$LOGS/configure.log" 2>&1 || { echo "faultcheck.sh: cmake failed, see $LOGS/configure.log" >&2; exit 2; }
caught=0 missed=0
for patch in "${patches[@]}"; do
  name=$(basename "$patch" .patch) ctestArgs=() buildArgs=()
  log=$LOGS/$name.log
  if [ $full = 0 ]; then
    read -ra ctestArgs <<<"$(sed -n 's/^# ctest: //p' "$patch" | head -1)"
    for t in $(sed -n 's/^# build: //p' "$patch" | head -1); do buildArgs+=(--target "$t"); done
  fi
  if ! patch -p1 --forward --silent <"$patch" >"$log" 2>&1; then
    echo "$name: missed (does not apply)"
    missed=$((missed + 1))
    patch -p1 -R --silent --force <"$patch" >/dev/null 2>&1 || true  # undo the hunks that did apply
    continue
  fi
  if ! cmake --build --preset default -j "$JOBS" "${buildArgs[@]}" >>"$log" 2>&1; then
    verdict="missed (does not build)"
  elif ctest --preset default -N "${ctestArgs[@]}" 2>/dev/null | grep -q '^Total Tests: 0$'; then
    verdict="missed (no test matches)"
  elif ctest --preset default -j "$JOBS" "${ctestArgs[@]}" >>"$log" 2>&1; then
    verdict=missed
  else
    verdict=caught
  fi
  # Reversing rewrites the files, so the next build compiles them again.
  patch -p1 -R --silent <"$patch" >>"$log" 2>&1 || { echo "faultcheck.sh: cannot undo $name" >&2; exit 2; }
  echo "$name: $verdict${ctestArgs[*]:+ (ctest ${ctestArgs[*]})}"
  if [ "$verdict" = caught ]; then caught=$((caught + 1)); else missed=$((missed + 1)); fi
done
echo "$caught caught, $missed missed"
[ $missed = 0 ]
