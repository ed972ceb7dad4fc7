#!/usr/bin/env python3
"""Hostile traffic against the real engine; only through tests/lab/lab.sh:
    hostile_lab_test.py BUILD_DIR GROUP [N]
The engine runs in the host namespace; raw datagrams, floods and simulated
devices come from the LAN namespace through nasscout-sim. The decoders' rules
are the unit tests'; here: the real sockets, the cut at 1024 bytes, DHCP
traffic on the shared ports, floods, bursts and exits under load."""
import json, os, re, subprocess, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import HOST1, HOST2, NET1, NET2, ST, check

MAKERS = {"ORVALE", "KESTIL", "TAMBU", "VIRNO", "SOLBRIX"}
QUAD = re.compile(r"^((25[0-5]|2[0-4]\d|1\d\d|[1-9]?\d)(\.|$)){4}$")


def ssdp_answer(id, location, maker=b"ORVALE", host=b"nas", first=b"HTTP/1.1 200 OK", pad=0):
    """`pad` adds a header before USN."""
    return b"\r\n".join([first, b"LOCATION: http://" + location + b":5000/desc.xml",
                         b"SERVER: Linux/5.10 RUZO/1.0, UPnP/1.0, " + maker + b"/" + host + b"/DS-1",
                         b"X-PAD: " + b"p" * pad, b"USN: uuid:" + id + b"::" + ST.encode(), b"", b""])


def sized(id, location, size):
    data = ssdp_answer(id, location)
    return ssdp_answer(id, location, pad=size - len(data))


def broadcast_answer(op, options, code=1, size=148):
    data = (bytes([op, code, 0, 0, 255, 255, 255, 255]) + bytes(12) + options)[:size]
    return data + bytes(size - len(data))


def dhcp_like(size=300):
    """A DHCP discover, as a real DHCP client sends it."""
    data = (bytes([1, 1, 6, 0]) + bytes.fromhex("39a3c2d1") + bytes(20) + bytes.fromhex("020000000001") + bytes(202)
            + bytes.fromhex("63825363") + bytes([53, 1, 1, 55, 3, 1, 3, 6, 255]))
    return data + bytes(size - len(data))


def well_formed(watch):
    """Only accepted makers, dotted-quad addresses and texts of at most 31 characters are ever listed."""
    for d in (d for devices in watch.seen.values() for d in devices):
        check(d["factory"] in MAKERS and QUAD.match(d["ip"]), "listed: %r" % d)
        check(all(len(d[k]) <= 31 for k in ("id", "host", "product", "extra", "version", "factory")), "long: %r" % d)


def good_device_after(watch, id, address, protocols):
    with lab.sim([lab.device(id, address, maker="tambu", protocols=protocols)]):
        watch.until(lambda w: id in w.ids(address))


def Malformed():
    w = lab.Watch("--interval", "1")
    lab.bound()
    a = lambda n: ("%s.%d" % (NET1, n)).encode()
    must_list = {a(101): sized(b"EDGE-1024", a(101), 1024),  # identifier in the last byte still read
                 a(102): ssdp_answer(b"L" * 100, a(102), host=b"h" * 40),
                 a(103): ssdp_answer(b"HIGH", a(103), host=bytes(range(0x80, 0x9f)) + b"\xff\xc3\xa9")}
    must_not_list = [sized(b"CUT-1500", a(111), 1500), ssdp_answer(b"ACME", a(112), maker=b"ACME"),
                     ssdp_answer(b"SEARCH", a(113), first=b"M-SEARCH * HTTP/1.1"),
                     ssdp_answer(b"NO-COLON", a(114)).replace(b"USN: uuid:", b"USN uuid:")]
    odd = [b"LOCATION\r\nUSN\r\nSERVER\r\n\r\nRUZO", ssdp_answer(b"LONG-LOC", b"9" * 80)]
    odd += [ssdp_answer(b"ODD", loc) for loc in (b"127.1", b"[::1]", b"1.2.3.4@evil", b"localhost")]
    for to, sender in (("%s:1900" % HOST1, ".20"), (lab.GROUP + ":1900", ".21"), ("%s:1530" % HOST1, ".22"),
                       ("%s:1550" % HOST2, ".20")):
        lab.raw(to, must_not_list + odd + list(must_list.values()), sender=(NET2 if "1550" in to else NET1) + sender)

    opts = b"id=B&host=bc&vendor=ORVALE&product=BC-1"
    wrong = [broadcast_answer(op, opts, size=n) for op in range(256) for n in (147, 149)]
    wrong += [broadcast_answer(op, opts) for op in range(256) if op != 12] + [broadcast_answer(12, opts, size=1024)]
    lab.raw("%s:67" % HOST1, wrong + [broadcast_answer(12, opts, code=c) for c in (0, 3, 5, 255)], sender=NET1 + ".23")
    # DHCP traffic of the usual size on the ports it shares with the search.
    lab.raw("%s:67" % HOST1, [dhcp_like(300), dhcp_like(548)], sender=NET1 + ".24")
    lab.raw("255.255.255.255:67", [dhcp_like(300)], sender=NET1 + ".24:68")
    lab.raw("255.255.255.255:68", [dhcp_like(300)], sender=NET1 + ".24:67")
    long_opts = b"id=" + b"I" * 40 + b"&host=\x80\xff\xfe" + b"&vendor=solbrix&product=" + b"P" * 100
    lab.raw("%s:67" % HOST1, [broadcast_answer(12, long_opts[:128])], sender=NET1 + ".25")

    good_device_after(w, "GOOD", NET2 + ".10", ["ssdp"])
    w.until(lambda w: all(ip.decode() in w.seen for ip in must_list) and NET1 + ".25" in w.seen)
    w.stop()
    well_formed(w)
    listed = set(w.seen) - {ip.decode() for ip in must_list} - {NET1 + ".25", NET2 + ".10"}
    check(not listed, "hostile datagrams listed: %s" % {ip: w.seen[ip] for ip in listed})
    check(w.seen[a(101).decode()][0]["id"] == "EDGE-1024", "the 1024th byte is still read")
    d = w.seen[NET1 + ".25"][0]
    check(d["id"] == "I" * 31 and d["factory"] == "SOLBRIX" and d["product"] == "P" * 31, "cut fields: %r" % d)


def Flood():
    """Thousands of distinct answers on every protocol: the list stays bounded, every sender listed."""
    w = lab.Watch("--interval", "1")
    lab.bound()
    procs = [lab.spawn(lab.IN_LAN + [lab.SIM, "flood", "--protocol", p, "--to", to, "--count", "5000", "--id-prefix",
                                     p[:2].upper()], stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
             for p, to in (("broadcast", HOST1 + ":67"), ("ssdp", HOST1 + ":1530"), ("ssdp", HOST2 + ":1550"),
                           ("ssdp", lab.GROUP + ":1900"))]
    for p in procs:
        out, err = p.communicate(timeout=120)
        check(p.returncode == 0 and out.strip() == "sent 5000", "flood failed: %s %s" % (out, err))
    good_device_after(w, "GOOD-AFTER-FLOOD", NET2 + ".29", ["ssdp"])
    w.stop()
    well_formed(w)
    check(w.most <= 4096, "the list grew to %d" % w.most)
    missing = ["%s.%d" % (net, 10 + k) for net in (NET1, NET2) for k in range(int(os.environ["LAB_ADDRS"]))
               if "%s.%d" % (net, 10 + k) not in w.seen]
    check(not missing, "flooding addresses never listed: %s" % missing)


def Burst():
    """Five answers per address to one broadcast search within 50 ms, and to one
    M-SEARCH over 3 s: each is handed over, every address listed."""
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
        missing = ["%s.%d" % (net, 10 + k) for k in range(addrs) if "%s.%d" % (net, 10 + k) not in result["listed"]]
        check(not missing, "%s burst: addresses not listed: %s" % (name, missing))


def ExitSoak(runs="30"):
    """Short scans, each ended while answers pour in: never a crash, never a hang."""
    floods = [lab.spawn(lab.IN_LAN + [lab.SIM, "flood", "--protocol", p, "--to", to, "--count", "100000000",
                                      "--rate", "4000"], stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
              for p, to in (("broadcast", HOST1 + ":67"), ("ssdp", HOST1 + ":1530"))]
    for i in range(int(runs)):  # a hang raises TimeoutExpired
        r = subprocess.run([lab.CLI, "scan", "--timeout", "0.3", "--format", "json"], capture_output=True,
                           text=True, timeout=30)
        check(r.returncode == 0, "run %d: exit status %d: %s" % (i, r.returncode, r.stderr[-2000:]))
        json.loads(r.stdout)
        check(all(p.poll() is None for p in floods), "a flood ended early")


if __name__ == "__main__":
    lab.main({f.__name__: f for f in (Malformed, Flood, Burst, ExitSoak)})
