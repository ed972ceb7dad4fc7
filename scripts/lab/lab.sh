#!/usr/bin/env bash
# lab.sh — run a command on a simulated LAN built from network namespaces.
#
#   scripts/lab/lab.sh [--addrs N] [--situation NAME] [--] COMMAND [ARGS...]
#
# Nothing here touches the machine's real interfaces. COMMAND runs in the host
# namespace: lan0 198.51.100.1/24 and lan1 203.0.113.1/24 (default route lan0,
# so 255.255.255.255 and 239.x leave there only; "lab-host" is 198.51.100.1),
# veths to dev0 and dev1 of the LAN namespace, which hold .10 .. .(9+N) of each
# subnet. The LAN namespace also routes (198.51.100.254) to 198.18.10.0/24 in a
# third namespace (rt1 198.18.10.10 .. .(9+N)), which no broadcast or multicast
# reaches. 198.19.0.0/24 is unreachable: a send there is refused at once.
# COMMAND sees LAB_LAN_PID and LAB_IN_LAN (prefix that runs a command
# in the LAN namespace), LAB_HOST_IP1/2, LAB_NET1/2 (198.51.100, 203.0.113),
# LAB_ADDRS (N per subnet, default 20, at most 240), LAB_ROUTED_PID,
# LAB_IN_ROUTED, LAB_ROUTED_NET (198.18.10) and LAB_ROUTER_IP (198.51.100.254),
# and a fresh XDG_STATE_HOME, so that the boxes it remembers are the lab's.
# This tree's build/ programs come first on PATH. Every process started in the
# lab ends with it (a PID namespace).
# --situation changes it into one of the networks of other desktops, always with
# the LAN namespace's default route gone (a box answers only its own subnet):
#   second-nic        203.0.113's boxes in a namespace of their own on lan1
#                     (LAB_NET2_PID, LAB_IN_NET2); the default route stays on lan0
#   vpn               the default route through tun0 198.18.99.1, point-to-point
#                     to 198.18.99.2 in a tunnel namespace (LAB_TUNNEL_PID, LAB_IN_TUNNEL)
#   no-default-route  the host namespace has no default route
#   link-local        link0 holds only 169.254.1.1/16 (LAB_LINK_HOST_IP), its far
#                     end 169.254.10.10 .. (LAB_LINK_PID, LAB_IN_LINK, LAB_LINK_NET)
# COMMAND then sees LAB_SITUATION=NAME.
# Exit status: COMMAND's, or 77 (skipped) when the namespaces cannot be built.
set -euo pipefail

ADDRS=20 SITUATION=
while [ $# -gt 0 ]; do
  case "$1" in
    --addrs) ADDRS="$2"; shift 2 ;;
    --situation) SITUATION="$2"; shift 2 ;;
    --) shift; break ;;
    -h|--help) sed -n '2,30p' "$0"; exit 0 ;;
    *) break ;;
  esac
done
[ $# -gt 0 ] || { echo "lab.sh: no command given (see --help)" >&2; exit 2; }
[ "$ADDRS" -ge 1 ] && [ "$ADDRS" -le 240 ] || { echo "lab.sh: --addrs must be 1..240" >&2; exit 2; }
case "$SITUATION" in
  ""|second-nic|vpn|no-default-route|link-local) ;;
  *) echo "lab.sh: unknown --situation '$SITUATION' (see --help)" >&2; exit 2 ;;
esac
fail() { echo "lab.sh: SKIP: $*" >&2; exit 77; }

if [ "${LAB_INSIDE:-}" != 1 ]; then
  # Fresh network, UTS, mount and PID namespaces (behind a user namespace for
  # others than root). This script becomes the PID namespace's first process:
  # when it ends, or unshare is killed, the kernel ends every process inside.
  userns=()
  [ "$(id -u)" = 0 ] || userns=(--user --map-root-user)
  for tool in unshare nsenter ip; do command -v "$tool" >/dev/null || fail "'$tool' is not installed"; done
  spaces=(--net --uts --mount --pid --fork --kill-child --mount-proc)
  unshare "${userns[@]}" "${spaces[@]}" true 2>/dev/null || fail "cannot create network and PID namespaces here"
  exec env LAB_INSIDE=1 unshare "${userns[@]}" "${spaces[@]}" --propagation private \
    "$0" --addrs "$ADDRS" ${SITUATION:+--situation "$SITUATION"} -- "$@"
fi

# ---- now inside the host namespace -------------------------------------
holders=()
trap 'kill "${holders[@]}" 2>/dev/null || true' EXIT
netns() {  # netns: REPLY = PID of a new process that holds a new network namespace
  unshare --net sleep infinity &
  holders+=("$!") REPLY=$!
  # until it is in its own namespace (or gone)
  while [ "$(readlink /proc/$REPLY/ns/net 2>/dev/null)" = "$(readlink /proc/self/ns/net)" ]; do sleep 0.01; done
}
devices() {  # devices NET DEV [LENGTH]: the device addresses of one subnet, for ip -batch
  for k in $(seq 1 "$ADDRS"); do echo "addr add $1.$((9 + k))/${3:-24} dev $2"; done
}

netns && LAN_PID=$REPLY && netns && ROUTED_PID=$REPLY
ip -batch - <<EOF || fail "cannot configure the host namespace"
link set lo up
link add lan0 type veth peer name dev0 netns $LAN_PID
link add lan1 type veth peer name dev1 netns $LAN_PID
addr add 198.51.100.1/24 dev lan0
addr add 203.0.113.1/24 dev lan1
link set lan0 up
link set lan1 up
route add default dev lan0
EOF
# The LAN namespace routes unicast only: the kernel never forwards the limited
# broadcast, and without a multicast routing daemon no group traffic crosses.
{
  echo "link set lo up"
  devices 198.51.100 dev0
  devices 203.0.113 dev1
  printf 'link set dev0 up\nlink set dev1 up\nroute add default dev dev0\naddr add 198.51.100.254/24 dev dev0\n'
  printf 'link add rt0 type veth peer name rt1 netns %s\naddr add 198.18.10.1/24 dev rt0\nlink set rt0 up\n' "$ROUTED_PID"
} | nsenter -t "$LAN_PID" -n ip -batch - && nsenter -t "$LAN_PID" -n sh -c 'echo 1 >/proc/sys/net/ipv4/ip_forward' ||
  fail "cannot configure the LAN namespace and its router"
{
  echo "link set lo up"
  devices 198.18.10 rt1
  printf 'link set rt1 up\nroute add default via 198.18.10.1\n'
} | nsenter -t "$ROUTED_PID" -n ip -batch - || fail "cannot configure the routed namespace"
ip route add 198.18.10.0/24 via 198.51.100.254 || fail "cannot route to the routed subnet"
ip route add unreachable 198.19.0.0/24 || fail "cannot add the unreachable block"

# The situations, each on top of the lab above; ups counts the veth ends to wait for.
ups=6 nets=("$LAN_PID" "$ROUTED_PID")
boxes_ns() {  # boxes_ns HOSTEND BOXEND ADDRESS NET LENGTH: REPLY = a new namespace of boxes on a new veth
  netns && nets+=("$REPLY")
  ip -batch - <<<"link add $1 type veth peer name $2 netns $REPLY
addr add $3 dev $1
link set $1 up" || fail "cannot add $1"
  { echo "link set lo up"; devices "$4" "$2" "$5"; echo "link set $2 up"; } |
    nsenter -t "$REPLY" -n ip -batch - || fail "cannot configure the boxes behind $1"
}
situation_second_nic() {
  ip link del lan1 || fail "cannot remove lan1"
  boxes_ns lan1 dev1 203.0.113.1/24 203.0.113 24
  export LAB_NET2_PID="$REPLY" LAB_IN_NET2="nsenter -t $REPLY -n --"
}
situation_vpn() {  # no ipip or gre module needed: two tun devices joined by a script; tun0 is UP too
  netns && TUNNEL_PID=$REPLY ups=7
  ip -batch - <<<"tuntap add tun0 mode tun
addr add 198.18.99.1 peer 198.18.99.2 dev tun0
link set tun0 up
route replace default dev tun0" || fail "cannot make the tunnel"
  nsenter -t "$TUNNEL_PID" -n ip -batch - <<<"link set lo up
tuntap add tun1 mode tun
addr add 198.18.99.2 peer 198.18.99.1 dev tun1
link set tun1 up" || fail "cannot make the tunnel's far end"
  exec 3< <(exec python3 "$(dirname "$0")/tunnel.py" tun0 tun1 "$TUNNEL_PID") && holders+=("$!")
  read -r -u 3 _ && exec 3<&- || fail "the tunnel did not start"
  export LAB_TUNNEL_PID="$TUNNEL_PID" LAB_IN_TUNNEL="nsenter -t $TUNNEL_PID -n --"
}
situation_no_default_route() { ip route del default || fail "cannot remove the default route"; }
situation_link_local() {
  boxes_ns link0 box0 169.254.1.1/16 169.254.10 16 && ups=8
  export LAB_LINK_PID="$REPLY" LAB_IN_LINK="nsenter -t $REPLY -n --" LAB_LINK_NET=169.254.10 LAB_LINK_HOST_IP=169.254.1.1
}
if [ -n "$SITUATION" ]; then
  nsenter -t "$LAN_PID" -n ip route del default || fail "cannot remove the LAN namespace's default route"
  "situation_${SITUATION//-/_}"
  export LAB_SITUATION="$SITUATION"
fi

hostname lab-host
hosts=$(mktemp /tmp/lab-hosts.XXXXXX)
chmod 644 "$hosts"  # mktemp's 0600 would send every other user to DNS for "lab-host"
printf '127.0.0.1 localhost\n198.51.100.1 lab-host\n' >"$hosts"
mount --bind "$hosts" /etc/hosts || fail "cannot bind-mount /etc/hosts"
rm -f "$hosts"  # the bind mount keeps the file alive
for _ in $(seq 200); do  # links come up asynchronously: lan0 lan1, dev0 dev1 rt0, rt1
  links=$(ip -br link; for pid in "${nets[@]}"; do nsenter -t "$pid" -n ip -br link; done)
  [ "$(grep -c ' UP ' <<<"$links")" = "$ups" ] && break
  sleep 0.01
done

repo=$(cd "$(dirname "$0")/../.." && pwd)
for dir in "$repo/build/tools/cli" "$repo/build/tools/sim" "$repo/build/src"; do
  [ -d "$dir" ] && PATH="$dir:$PATH"
done
export PATH LAB_LAN_PID="$LAN_PID" LAB_IN_LAN="nsenter -t $LAN_PID -n --" LAB_ADDRS="$ADDRS"
export LAB_HOST_IP1=198.51.100.1 LAB_HOST_IP2=203.0.113.1 LAB_NET1=198.51.100 LAB_NET2=203.0.113
export LAB_ROUTED_PID="$ROUTED_PID" LAB_IN_ROUTED="nsenter -t $ROUTED_PID -n --" LAB_ROUTED_NET=198.18.10
export LAB_ROUTER_IP=198.51.100.254
# The lab's simulated boxes stay out of the user's known boxes.
XDG_STATE_HOME=$(mktemp -d /tmp/lab-state.XXXXXX) && export XDG_STATE_HOME || fail "cannot make a state folder"
trap 'kill "${holders[@]}" 2>/dev/null || true; rm -rf "$XDG_STATE_HOME"' EXIT
unset LAB_INSIDE
set +e
"$@"
