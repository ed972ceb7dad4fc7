#!/usr/bin/env python3
"""Hostile traffic against the real engine; run only through tests/lab/lab.sh.

    hostile_lab_test.py BUILD_DIR GROUP [N]

The engine runs in the host namespace; raw datagrams, floods and simulated
devices come from the LAN namespace through nasscout-sim."""
import re, atexit, json, os, queue, signal, subprocess, sys, tempfile, threading, time

BUILD = sys.argv[1] if len(sys.argv) > 1 else ""
GROUP = sys.argv[2] if len(sys.argv) > 2 else ""
CLI = os.path.join(BUILD, "tools/cli/nasscout-cli")
SIM = os.path.join(BUILD, "tools/sim/nasscout-sim")
LAB_HOST = os.path.join(BUILD, "tests/hostile/lab_host")
IN_LAN = os.environ.get("LAB_IN_LAN", "").split()
NET1, NET2 = "198.51.100", "203.0.113"
HOST1, HOST2 = NET1 + ".1", NET2 + ".1"
ST = "urn:schemas-upnp-org:device:LarkvatDevice:1"
MAKERS = {"ORVALE", "KESTIL", "TAMBU", "VIRNO", "SOLBRIX"}
# The engine's sockets in the lab: broadcast, multicast, and the per-address
# workers (the host name resolves to HOST1 first, then lan1's address).
PORTS = (67, 1900, 1530, 1550)
SCRATCH = tempfile.mkdtemp(prefix="nasscout-hostile-")
CHILDREN = []


def spawn(args, **kw):
    proc = subprocess.Popen(args, **kw)
    CHILDREN.append(proc)
    return proc


@atexit.register
def _reap():
    for proc in CHILDREN:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    subprocess.run(["rm", "-rf", SCRATCH])


def fail(message):
    sys.exit("FAIL: " + message)


def check(condition, message):
    if not condition:
        fail(message)


def ssdp_answer(id, location, maker=b"ORVALE", host=b"nas", product=b"DS-1", version=b"1.0",
                first="HTTP/1.1 200 OK", eol=b"\r\n", pad=0):
    """`location` None leaves LOCATION out; `pad` adds a header before USN."""
    lines = [first.encode(), b"CACHE-CONTROL: max-age=1800"]
    if location is not None:
        lines.append(b"LOCATION: http://" + location + b":5000/desc.xml")
    lines.append(b"SERVER: Linux/5.10 RUZO/" + version + b", UPnP/1.0, " + b"/".join([maker, host, product]))
    lines.append(b"ST: " + ST.encode())
    if pad:
        lines.append(b"X-PAD: " + b"p" * pad)
    lines.append(b"USN: uuid:" + id + b"::" + ST.encode())
    return eol.join(lines) + eol + eol


def sized(build, size):
    """The datagram that build(pad) gives, padded to exactly `size` bytes."""
    data = build(size - len(build(1)) + 1)
    assert len(data) == size, (len(data), size)
    return data


def notify(id, location, nts, root=True):
    nt = b"upnp:rootdevice" if root else b"urn:x:service:y:1"
    lines = [b"NOTIFY * HTTP/1.1", b"HOST: 239.143.255.250:1900",
             b"LOCATION: http://" + location + b":5000/desc.xml",
             b"NT: " + nt, b"NTS: " + nts,
             b"SERVER: Linux RUZO/1.0, UPnP/1.0, ORVALE/nas/DS", b"USN: uuid:" + id + b"::" + nt]
    return b"\r\n".join(lines) + b"\r\n\r\n"


def broadcast_answer(op, options, code=1, size=148):
    data = (bytes([op, code, 0, 0, 255, 255, 255, 255]) + bytes(12) + options)[:size]
    return data + bytes(size - len(data))


def dhcp_like(size=300):
    """A DHCP discover, as a real DHCP client sends it."""
    data = (bytes([1, 1, 6, 0]) + bytes.fromhex("39a3c2d1") + bytes(20) + bytes.fromhex("020000000001") + bytes(202)
            + bytes.fromhex("63825363") + bytes([53, 1, 1, 55, 3, 1, 3, 6, 255]))
    return data + bytes(size - len(data))


def send_raw(to, datagrams, sender=None):
    """Sends each datagram once, in order, from the LAN namespace."""
    paths = []
    for data in datagrams:
        paths.append(os.path.join(SCRATCH, "d%05d" % len(os.listdir(SCRATCH))))
        with open(paths[-1], "wb") as f:
            f.write(data)
    for i in range(0, len(paths), 200):
        args = IN_LAN + [SIM, "raw", "--to", to] + (["--from", sender] if sender else []) + paths[i:i + 200]
        r = subprocess.run(args, capture_output=True, text=True, timeout=60)
        check(r.returncode == 0, "nasscout-sim raw failed: " + r.stderr)


def wait_for_ports(ports, limit=30):
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        with open("/proc/net/udp") as f:
            if set(ports) <= {int(line.split()[1].split(":")[1], 16) for line in f.readlines()[1:]}:
                return
        time.sleep(0.02)
    fail("the engine did not bind %s within %ss" % (ports, limit))


class Watch:
    """nasscout-cli watch --format jsonl; remembers every device it reported."""

    def __init__(self):
        self.proc = spawn([CLI, "watch", "--interval", "1", "--format", "jsonl"],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.events = queue.Queue()
        self.seen = {}  # ip -> every record reported for it
        self.current = {}  # ip -> device, as the list is now
        self.most = 0
        threading.Thread(target=self._read, daemon=True).start()
        wait_for_ports(PORTS)

    def _read(self):
        for line in self.proc.stdout:
            self.events.put(line)
        self.events.put(None)

    def _take(self, line):
        if line is None:
            fail("nasscout-cli watch ended early: %s" % self.proc.stderr.read())
        event = json.loads(line)
        device = event["device"]
        if event["event"] == "removed":
            self.current.pop(device["ip"], None)
        else:
            self.current[device["ip"]] = device
            self.seen.setdefault(device["ip"], []).append(device)
        self.most = max(self.most, len(self.current))

    def until(self, predicate, limit=60):
        deadline = time.monotonic() + limit
        while not predicate(self):
            try:
                self._take(self.events.get(timeout=max(0.01, deadline - time.monotonic())))
            except queue.Empty:
                fail("gave up waiting; devices seen: %s" % sorted(self.seen))

    def ids(self, ip):
        return [d["id"] for d in self.seen.get(ip, [])]

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        status = self.proc.wait(timeout=30)
        try:
            for line in iter(lambda: self.events.get(timeout=5), None):
                self._take(line)
        except queue.Empty:
            pass
        check(status == 0, "nasscout-cli watch exited with %s: %s" % (status, self.proc.stderr.read()))


class Sim:
    def __init__(self, config):
        path = os.path.join(SCRATCH, "sim%d.json" % time.monotonic_ns())
        self.ready = path + ".ready"
        with open(path, "w") as f:
            json.dump(config, f)
        self.proc = spawn(IN_LAN + [SIM, "run", "--config", path, "--ready-file", self.ready],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
        deadline = time.monotonic() + 30
        while not os.path.exists(self.ready):
            if self.proc.poll() is not None:
                fail("nasscout-sim run ended: " + self.proc.stderr.read())
            check(time.monotonic() < deadline, "nasscout-sim run did not get ready")
            time.sleep(0.02)

    def stop(self):
        self.proc.send_signal(signal.SIGTERM)
        self.proc.wait(timeout=30)


def well_formed_listing(watch):
    """Only accepted makers, an address, and texts of at most 31 characters are ever listed."""
    for d in (d for devices in watch.seen.values() for d in devices):
        check(d["factory"] in MAKERS and d["ip"] != "", "listed: %r" % d)
        check(all(len(d[k]) <= 31 for k in ("id", "ip", "host", "product", "extra", "version", "factory")),
              "a field longer than 31 characters: %r" % d)


def good_device_after(watch, id, address, protocols):
    sim = Sim({"devices": [{"id": id, "address": address, "host": "good", "maker": "tambu",
                            "product": "GD-1", "protocols": protocols}]})
    try:
        watch.until(lambda w: id in w.ids(address))
    finally:
        sim.stop()


def malformed():
    w = Watch()
    a = lambda n: ("%s.%d" % (NET1, n)).encode()
    must_list = {
        a(101): sized(lambda p: ssdp_answer(b"EDGE-1024", a(101), pad=p), 1024),  # identifier in the last header
        a(102): ssdp_answer(b"L" * 100, a(102), host=b"h" * 40, product=b"p" * 100, version=b"v" * 60),
        a(103): ssdp_answer(b"HIGH", a(103), host=bytes(range(0x80, 0x9f)), product=b"\xff\xfe\xc3\xa9"),
        ("%s.104" % NET2).encode(): ssdp_answer(b"ELSEWHERE", ("%s.104" % NET2).encode()),
    }
    must_not_list = {
        a(111): sized(lambda p: ssdp_answer(b"CUT-1500", a(111), pad=p), 1500),
        a(112): sized(lambda p: ssdp_answer(b"CUT-4000", a(112), pad=p), 4000),
        a(113): ssdp_answer(b"NO-CR", a(113), eol=b"\n"),
        a(114): ssdp_answer(b"NO-COLON", a(114)).replace(b"USN: uuid:", b"USN uuid:"),
        a(115): b"HTTP/1.1 200 OK\r\n\x00" + ssdp_answer(b"ZERO", a(115))[17:],
        a(116): ssdp_answer(b"ACME", a(116), maker=b"ACME"),
        a(117): ssdp_answer(b"BLANK", a(117), maker=b"ORVALE "),
        a(118): ssdp_answer(b"LONGER", a(118), maker=b"ORVALEX"),
        a(119): ssdp_answer(b"SEARCH", a(119), first="M-SEARCH * HTTP/1.1"),
        a(120): notify(b"LEAF", a(120), b"ssdp:alive", root=False),
        a(121): ssdp_answer(b"LOWER-USN", a(121)).replace(b"USN:", b"usn:"),
        a(122): notify(b"UNKNOWN-NTS", a(122), b"ssdp:update"),
    }
    # Header names inside other names: nothing breaks. LOCATION texts that are no address: never listed.
    odd = [ssdp_answer(b"EMBED-LOC", None).replace(b"CACHE", b"XLOCATION: http://%s:80/\r\nCACHE" % a(131)),
           ssdp_answer(b"EMBED-USN", a(132)).replace(b"USN:", b"NOUSN:"),
           ssdp_answer(b"EMPTY", b"").replace(b"LOCATION: http://", b"LOCATION:\r\nUSN:\r\nSERVER:\r\nX: "),
           b"LOCATION\r\nUSN\r\nSERVER\r\n\r\nRUZO",
           ssdp_answer(b"LONG-LOC", b"9" * 80)]
    odd += [ssdp_answer(b"ODD-%d" % i, loc) for i, loc in
            enumerate([b"127.1", b"0x7f.0.0.1", b"[::1]", b"1.2.3.4@evil", b"localhost", b"198.51.100.300"])]
    hostile = list(must_list.values()) + list(must_not_list.values()) + odd

    # Every SSDP socket of the engine gets the whole set.
    for to, sender in (("%s:1900" % HOST1, ".20"), ("239.143.255.250:1900", ".21"), ("%s:1530" % HOST1, ".22")):
        send_raw(to, hostile, sender=NET1 + sender)
    send_raw("%s:1550" % HOST2, hostile, sender=NET2 + ".20")
    # A lower-case LOCATION name is no LOCATION: the sender is listed.
    send_raw("%s:1530" % HOST1, [ssdp_answer(b"LOWER-LOC", a(140)).replace(b"LOCATION:", b"location:")],
             sender=NET1 + ".23")

    good_device_after(w, "GOOD-SSDP", NET2 + ".10", ["ssdp"])
    w.until(lambda w: all(ip.decode() in w.seen for ip in must_list) and NET1 + ".23" in w.seen)
    w.stop()

    well_formed_listing(w)
    for ip in must_not_list:
        check(ip.decode() not in w.seen, "malformed answer listed: %r" % w.seen.get(ip.decode()))
    check(a(140).decode() not in w.seen and NET1 + ".23" in w.seen, "a lower-case LOCATION name is no LOCATION")
    long_device = w.seen[a(102).decode()][0]
    check(long_device["id"] == "L" * 31 and long_device["host"] == "h" * 31 and long_device["version"] == "v" * 31,
          "long values are cut to 31 characters: %r" % long_device)
    check(w.seen[a(101).decode()][0]["id"] == "EDGE-1024", "the 1024th byte is still read")
    quad = re.compile(r"^(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])(\.(25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])){3}$")
    check(all(quad.match(ip) for ip in w.seen), "a LOCATION text that is no address was listed: %r"
          % sorted(ip for ip in w.seen if not quad.match(ip)))


def broadcast():
    w = Watch()
    opts = b"id=B&host=bc&vendor=ORVALE&product=BC-1"
    wrong = [broadcast_answer(op, opts, size=n) for op in range(256) for n in (147, 149)]
    wrong += [broadcast_answer(op, opts) for op in range(256) if op != 12]
    wrong += [broadcast_answer(12, opts, size=1500), broadcast_answer(12, opts, size=1024)]
    send_raw("%s:67" % HOST1, wrong, sender=NET1 + ".20")
    # DHCP traffic of the usual size on the ports it shares with the search.
    send_raw("%s:67" % HOST1, [dhcp_like(300), dhcp_like(548)], sender=NET1 + ".21")
    send_raw("255.255.255.255:67", [dhcp_like(300)], sender=NET1 + ".21:68")
    send_raw("255.255.255.255:68", [dhcp_like(300)], sender=NET1 + ".21:67")
    send_raw("%s:68" % HOST1, [dhcp_like(300)], sender=NET1 + ".21")
    # Type codes that neither add nor remove.
    send_raw("%s:67" % HOST1, [broadcast_answer(12, opts, code=c) for c in (0, 3, 5, 255)], sender=NET1 + ".22")
    # Over-long values, bytes above 0x7f, no terminator.
    long_opts = b"id=" + b"I" * 40 + b"&host=\x80\xff\xfe" + b"&vendor=solbrix&product=" + b"P" * 100
    send_raw("%s:67" % HOST1, [broadcast_answer(12, long_opts[:128])], sender=NET1 + ".23")
    good_device_after(w, "GOOD-BC", NET1 + ".10", ["broadcast"])
    w.until(lambda w: NET1 + ".23" in w.seen)
    w.stop()

    well_formed_listing(w)
    for sender in (".20", ".21", ".22"):
        check(NET1 + sender not in w.seen, "listed: %r" % w.seen.get(NET1 + sender))
    d = w.seen[NET1 + ".23"][0]
    check(d["id"] == "I" * 31 and d["factory"] == "SOLBRIX" and d["product"] == "P" * 31, "cut fields: %r" % d)


def flood():
    """Thousands of distinct answers on every protocol: the list stays bounded, every sender listed."""
    w = Watch()
    floods = [IN_LAN + [SIM, "flood", "--protocol", p, "--to", to, "--count", "5000", "--id-prefix", p[:2].upper()]
              for p, to in (("broadcast", HOST1 + ":67"), ("ssdp", HOST1 + ":1530"), ("ssdp", HOST2 + ":1550"),
                            ("ssdp", "239.143.255.250:1900"))]
    procs = [spawn(f, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True) for f in floods]
    for p in procs:
        out, err = p.communicate(timeout=120)
        check(p.returncode == 0 and out.strip() == "sent 5000", "flood failed: %s %s" % (out, err))
    good_device_after(w, "GOOD-AFTER-FLOOD", NET2 + ".29", ["ssdp"])
    w.stop()
    well_formed_listing(w)
    check(w.most <= 4096, "the list grew to %d" % w.most)
    senders = ["%s.%d" % (net, 10 + k) for net in (NET1, NET2) for k in range(int(os.environ["LAB_ADDRS"]))]
    missing = [ip for ip in senders if ip not in w.seen]
    check(not missing, "flooding addresses never listed: %s" % missing)


def burst():
    """Five answers per address to one broadcast search within 50 ms, and to one
    M-SEARCH over 3 s: each is handed over, every address listed."""
    addrs = int(os.environ["LAB_ADDRS"])
    sent = addrs * 5
    for name, net, spread, port in (("broadcast", NET1, 0.05, "67"), ("ssdp", NET2, 3.0, "1550")):
        sim = Sim({"generate": [{"count": addrs, "net": net, "first": 10, "id_prefix": "%s%d-" % (name[0], k),
                                 "maker": "VIRNO", "protocols": [name], "max_delay": spread} for k in range(5)]})
        try:
            r = subprocess.run([LAB_HOST, "engine", "--search", "--seconds", "30", "--quiet", "2",
                                "--expect", str(sent)], capture_output=True, text=True, timeout=60)
        finally:
            sim.stop()
        check(r.returncode == 0, "lab_host failed: " + r.stderr)
        result = json.loads(r.stdout.strip().splitlines()[-1])
        handed = result["handed"].get(port, 0)
        check(handed == sent, "%s burst lost answers: %d of %d handed over (%d receive-buffer drops)"
              % (name, handed, sent, result["rcvbuf_errors"]))
        missing = ["%s.%d" % (net, 10 + k) for k in range(addrs) if "%s.%d" % (net, 10 + k) not in result["listed"]]
        check(not missing, "%s burst: addresses not listed: %s" % (name, missing))


def exit_soak(runs):
    """Short scans, each ended while answers pour in: never a crash, never a hang."""
    floods = [spawn(IN_LAN + [SIM, "flood", "--protocol", p, "--to", to, "--count", "100000000", "--rate", "4000"],
                    stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
              for p, to in (("broadcast", HOST1 + ":67"), ("ssdp", HOST1 + ":1530"))]
    try:
        for i in range(runs):  # a hang raises TimeoutExpired
            r = subprocess.run([CLI, "scan", "--timeout", "0.3", "--format", "json"],
                               capture_output=True, text=True, timeout=30)
            check(r.returncode == 0, "run %d: exit status %d: %s" % (i, r.returncode, r.stderr[-2000:]))
            json.loads(r.stdout)
            for p in floods:
                if p.poll() is not None:
                    fail("the flood ended early: %s" % p.stderr.read())
    finally:
        for p in floods:
            p.kill()
            p.wait()


if __name__ == "__main__":
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # so the children are reaped
    if not IN_LAN:
        print("run me through tests/lab/lab.sh", file=sys.stderr)
        sys.exit(77)
    groups = {"Malformed": malformed, "Broadcast": broadcast, "Flood": flood, "Burst": burst,
              "ExitSoak": lambda: exit_soak(int(sys.argv[3]) if len(sys.argv) > 3 else 30)}
    if GROUP not in groups:
        fail("unknown group %r (%s)" % (GROUP, ", ".join(groups)))
    groups[GROUP]()
