#!/usr/bin/env bash
# check-package.sh DEB: Debian's checker, the AppStream validator and the
# desktop-entry validator on a built package. Each must pass without a word
# (lintian: no error and no warning). A tool that is not installed is
# skipped with a note; exit 77 when none is.
set -uo pipefail
deb=$1
tree=$(mktemp -d)
trap 'rm -rf "$tree"' EXIT
dpkg-deb -x "$deb" "$tree" || exit 1
ran=0 fail=0
check() {  # check NAME COMMAND...: fails on a non-zero status or on any output
    local name=$1 out status
    shift
    command -v "$1" >/dev/null || { echo "check-package: $name skipped ('$1' is not installed)"; return; }
    ran=1
    out=$("$@" 2>&1)
    status=$?
    # What lintian says to root (as in CI, where it still checks fully) and
    # the validator's word of success are no findings.
    out=$(grep -v -e '^running with root privileges is not recommended!$' -e 'Validation was successful' <<<"$out")
    if [ "$status" != 0 ] || [ -n "$out" ]; then
        echo "check-package: $name failed (status $status):"; echo "$out"; fail=1
    else
        echo "check-package: $name clean"
    fi
}
check lintian lintian --fail-on error,warning "$deb"
for f in "$tree"/usr/share/metainfo/*.xml; do
    [ -e "$f" ] && check "appstreamcli ($(basename "$f"))" appstreamcli validate --no-net --no-color "$f"
done
for f in "$tree"/usr/share/applications/*.desktop; do
    [ -e "$f" ] && check "desktop-file-validate ($(basename "$f"))" desktop-file-validate "$f"
done
[ "$ran" = 1 ] || exit 77
exit "$fail"
