#!/usr/bin/env bash
# The package installed the way users install it: installed_deb.sh DEB_DIR.
# Only where dpkg knows no nasscout package (someone's copy is left alone);
# purged again on every exit. Checks that the bind helper alone carries a
# capability, that the postinst survives a machine without setcap, and, in the
# lab, that a normal user's installed nasscout-cli finds a broadcast-only box
# and, once the helper lost its capability, says why and how to grant it.
set -euo pipefail
helper=/usr/libexec/nasscout/nasscout-bind67
repo=$(cd "$(dirname "$0")/../.." && pwd)
lab=$repo/scripts/lab/lab.sh
[ "$(id -u)" = 0 ] || { echo "SKIP: installing a package needs root"; exit 77; }
if dpkg-query -W nasscout >/dev/null 2>&1; then echo "SKIP: a nasscout package is known to dpkg; left alone"; exit 77; fi
"$lab" true || exit  # 77 where the lab cannot be built, before anything is installed

export DEBIAN_FRONTEND=noninteractive
trap 'apt-get purge -y -q -o DPkg::Lock::Timeout=120 nasscout >/dev/null 2>&1 || dpkg --purge nasscout' EXIT
trap 'exit 1' INT TERM HUP
apt-get install -y -q --no-install-recommends -o DPkg::Lock::Timeout=120 "$1"/nasscout_*.deb >/dev/null

fail() { echo "FAIL: $*"; exit 1; }
caps=$(dpkg -L nasscout | xargs -d '\n' getcap)
[ "$caps" = "$helper cap_net_bind_service=ep" ] || fail "capabilities on the package's files: '${caps:-none}'"
out=$(env PATH=/nonexistent /bin/sh /var/lib/dpkg/info/nasscout.postinst configure 2>&1) ||
  fail "the postinst fails without setcap: $out"
grep -qF "sudo setcap cap_net_bind_service=ep $helper" <<<"$out" || fail "the postinst without setcap says: $out"

scan() {  # the installed nasscout-cli's output (both streams) to user 65534, the demo network playing
  "$lab" -- bash -c 'ready=$(mktemp -u); $LAB_IN_LAN /usr/bin/nasscout-sim run --config "$0" --ready-file $ready &
    until grep -qs ready $ready; do kill -0 $! || exit 97; sleep 0.05; done
    setpriv --reuid=65534 --regid=65534 --clear-groups /usr/bin/nasscout-cli scan --timeout 2 --no-store 2>&1' \
    "$repo/demo/network.json"
}
# backup-01 (198.51.100.11) answers only the broadcast search.
out=$(scan) || fail "scan as a normal user: $out"
grep -q '198\.51\.100\.11\b' <<<"$out" && ! grep -q 'port 67' <<<"$out" || fail "with the helper's capability: $out"
setcap -r "$helper"
out=$(scan) || fail "scan as a normal user: $out"
grep -q 'Port 67 needs privileges' <<<"$out" && grep -qF "sudo setcap cap_net_bind_service=ep $helper" <<<"$out" &&
  ! grep -q '198\.51\.100\.11\b' <<<"$out" || fail "without the helper's capability: $out"
echo "PASS installed package"
