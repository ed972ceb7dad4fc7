#!/usr/bin/env python3
"""Floods, bursts and exits under load against the real engine in the host namespace, sent by nasscout-sim
from the LAN namespace (malformed input is the decoders' tables' and the fuzz replays'); only through
scripts/lab/lab.sh:  hostile_lab_test.py BUILD_DIR GROUP [N]"""
import json, os, subprocess, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import HOST1, HOST2, NET1, NET2, check


def unlisted(listed, *nets):
    """The lab's device addresses on nets that are not in listed."""
    addrs = int(os.environ["LAB_ADDRS"])
    return [ip for ip in ("%s.%d" % (net, 10 + k) for net in nets for k in range(addrs)) if ip not in listed]


def Flood():
    """Thousands of distinct answers on every protocol: no crash, every sender listed."""
    w = lab.Watch("--interval", "1")
    lab.bound()
    procs = [lab.spawn(lab.IN_LAN + [lab.SIM, "flood", "--protocol", p, "--to", to, "--count", "5000", "--id-prefix",
                                     p[:2].upper()], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
             for p, to in (("broadcast", HOST1 + ":67"), ("ssdp", HOST1 + ":1530"), ("ssdp", HOST2 + ":1550"),
                           ("ssdp", lab.GROUP + ":1900"))]
    for p in procs:
        out, err = p.communicate(timeout=120)
        check(p.returncode == 0 and out.strip() == "sent 5000", "flood failed: %s %s" % (out, err))
    with lab.sim([lab.device("GOOD-AFTER-FLOOD", NET2 + ".29", maker="tambu", protocols=["ssdp"])]):
        w.until(lambda events: any(ident == "GOOD-AFTER-FLOOD" for _, _, ident, _ in events))
    never = unlisted({ip for _, ip, _, _ in w.stop()}, NET1, NET2)
    check(not never, "flooding addresses never listed: %s" % never)


def Burst():
    """Five answers per address to a broadcast search within 50 ms, and to an M-SEARCH over 3 s: all listed."""
    addrs = int(os.environ["LAB_ADDRS"])
    for name, net, spread, port in (("broadcast", NET1, 0.05, "67"), ("ssdp", NET2, 3.0, "1550")):
        with lab.sim(config={"generate": [{"count": addrs, "net": net, "first": 10, "id_prefix": "%s%d-" % (name[0], k),
                                           "maker": "VIRNO", "protocols": [name], "max_delay": spread}
                                          for k in range(5)]}):
            r = subprocess.run([lab.LAB_HOST, "engine", "--search", "--seconds", "30", "--quiet", "2",
                                "--expect", str(addrs * 5)], capture_output=True, text=True, timeout=60)
        check(r.returncode == 0, "lab_host failed: " + r.stderr)
        result = json.loads(r.stdout.strip().splitlines()[-1])
        check(result["handed"].get(port, 0) == addrs * 5, "%s burst lost answers: %s of %d handed over (%d receive-"
              "buffer drops)" % (name, result["handed"].get(port), addrs * 5, result["rcvbuf_errors"]))
        check(not unlisted(result["listed"], net), "%s burst: not listed: %s" % (name, unlisted(result["listed"], net)))


def ExitSoak(runs="30"):
    """Short scans, each ended while answers pour in: never a crash, never a hang."""
    floods = [lab.spawn(lab.IN_LAN + [lab.SIM, "flood", "--protocol", p, "--to", to, "--count", "100000000",
                                      "--rate", "4000"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
              for p, to in (("broadcast", HOST1 + ":67"), ("ssdp", HOST1 + ":1530"))]
    for i in range(int(runs)):  # a hang raises TimeoutExpired
        status, out, err = lab.cli("scan", "--timeout", "0.3", "--format", "json", limit=30)
        check(status == 0, "run %d: exit status %d: %s" % (i, status, err[-2000:]))
        json.loads(out)
        check(all(p.poll() is None for p in floods), "a flood ended early")


if __name__ == "__main__":
    lab.main({f.__name__: f for f in (Flood, Burst, ExitSoak)})
