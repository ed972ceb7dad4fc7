#!/usr/bin/env bash
# Installs the build tree into a scratch DESTDIR and checks the layout users
# and the package rely on.
set -euo pipefail
build="$1"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null

missing=0
expect() {
  if [ ! -e "$stage/usr/$1" ]; then echo "missing: /usr/$1"; missing=1; fi
}
expect bin/nasscout-cli
expect bin/nasscout-sim
for lang in en de fr es it nl da pl pt; do expect "share/nasscout/lang/XML_$lang.xml"; done
expect share/man/man1/nasscout.1
expect share/man/man1/nasscout-cli.1
expect share/man/man1/nasscout-sim.1
if grep -q '^NASSCOUT_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
  expect bin/nasscout
  expect share/applications/nasscout.desktop
  expect share/icons/hicolor/scalable/apps/nasscout.svg
fi
[ "$missing" = 0 ] || exit 1

# The installed programs must run from their new place.
"$stage/usr/bin/nasscout-cli" --version | grep -q '[0-9]\.[0-9]'
"$stage/usr/bin/nasscout-sim" --version | grep -q '[0-9]\.[0-9]'
for page in "$stage"/usr/share/man/man1/*.1; do
  man -l "$page" >/dev/null 2>&1 || { command -v man >/dev/null || break; echo "man page does not render: $page"; exit 1; }
done
echo "install layout: ok"
