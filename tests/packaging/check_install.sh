#!/usr/bin/env bash
# Installs the build tree into a scratch DESTDIR and checks the layout users
# and the package rely on; the installed programs must run from there.
set -euo pipefail
build="$1"
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null

expected="bin/nasscout-cli bin/nasscout-sim share/man/man1/nasscout.1.gz share/man/man1/nasscout-cli.1.gz
  share/man/man1/nasscout-sim.1.gz share/doc/nasscout/copyright share/doc/nasscout/changelog.gz
  share/doc/nasscout/README.md share/bash-completion/completions/nasscout-cli
  share/bash-completion/completions/nasscout-sim libexec/nasscout/nasscout-bind67"
if grep -q '^NASSCOUT_GUI:BOOL=ON' "$build/CMakeCache.txt"; then
  expected="$expected bin/nasscout share/applications/nasscout.desktop share/icons/hicolor/scalable/apps/nasscout.svg
    share/metainfo/io.github.nasscout.nasscout.metainfo.xml $(printf 'share/nasscout/lang/XML_%s.xml ' en de fr es it nl da pl pt)"
fi
for f in $expected; do [ -e "$stage/usr/$f" ] || { echo "missing: /usr/$f"; exit 1; }; done
# The firewall rules: firewalld's under the prefix, ufw's where ufw alone looks.
for f in usr/lib/firewalld/services/nasscout.xml etc/ufw/applications.d/nasscout; do
  [ -e "$stage/$f" ] || { echo "missing: /$f"; exit 1; }
done
for program in nasscout-cli nasscout-sim; do "$stage/usr/bin/$program" --version | grep -q '[0-9]\.[0-9]'; done
echo "install layout: ok"
