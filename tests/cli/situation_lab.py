#!/usr/bin/env python3
"""Desktops unlike the lab's usual one: scripts/lab/lab.sh --situation NAME situation_lab.py BUILD_DIR NAME [WINDOW].
A broadcast-only and an SSDP-only box on the network the situation is about are
found by the CLI (and by the window when WINDOW is 1); every network watched
gets the request as described from the host's own address there, a tunnel none."""
import os, sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.join(HERE, "..", "lab"), os.path.join(HERE, "..", "ui", "lab")]
import labkit as lab
from labkit import REQUEST, check, device
import window_lab

LAN = ("LAB_IN_LAN", "dev0", "LAB_NET1", "LAB_HOST_IP1")
SITUATIONS = {  # the boxes' network (where, interface, subnet, the host's address there) first, then others watched
    "second-nic": [("LAB_IN_NET2", "dev1", "LAB_NET2", "LAB_HOST_IP2"), LAN],
    "vpn": [LAN, ("LAB_IN_TUNNEL", "tun1", "", "")],  # no address: nothing may arrive there
    "no-default-route": [LAN],
    "link-local": [("LAB_IN_LINK", "box0", "LAB_LINK_NET", "LAB_LINK_HOST_IP")],
}


def situation(name, window="0"):
    check(os.environ.get("LAB_SITUATION") == name, "not in a lab of --situation " + name)
    nets = [(os.environ.get(w, ""), face, os.environ.get(n, ""), os.environ.get(h, "")) for w, face, n, h in SITUATIONS[name]]
    inside, _, subnet, _ = nets[0]
    boxes = [device("B", subnet + ".10", protocols=["broadcast"]), device("S", subnet + ".11", protocols=["ssdp"])]
    captures = [lab.sniff(where.split(), face) for where, face, _, _ in nets]
    with lab.sim(boxes, where=inside.split()):
        if window == "1":  # first, so that no box the CLI remembers is listed without answering
            shown = window_lab.window("--verbose")
            check("vListDevice.size() = 2" in shown, "the window did not list both boxes: " + shown[-2000:])
        found, err, _ = lab.scan()
        check(sorted(found) == [b["address"] for b in boxes], "found %s, stderr %r" % (sorted(found), err))
    for capture, (_, face, _, host) in zip(captures, nets):
        got = lab.udp_to(capture, 68)
        check(bool(got) == bool(host), "%d requests on %s" % (len(got), face))
        check(all(g == (host, 67, "255.255.255.255", REQUEST) for g in got),
              "on %s not only the request from %s: %s" % (face, host, [(*g[:3], g[3] == REQUEST) for g in got]))


lab.main({name: lambda *a, name=name: situation(name, *a) for name in SITUATIONS})
