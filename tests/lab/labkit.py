"""Plumbing shared by the lab drivers, which run only inside scripts/lab/lab.sh as
DRIVER.py BUILD_DIR CASE [ARGS...]. Every wait ends on something observable (a
ready file, an event, a count); the limits only turn a hang into a failure."""
import atexit, contextlib, ctypes, glob, json, os, shutil, signal, socket, subprocess, sys, tempfile, time

IN_LAN = os.environ.get("LAB_IN_LAN", "").split()
IN_ROUTED = os.environ.get("LAB_IN_ROUTED", "").split()
GROUP, ST = "239.143.255.250", "urn:schemas-upnp-org:device:LarkvatDevice:1"
NET1, NET2 = "198.51.100", "203.0.113"
HOST1, HOST2 = NET1 + ".1", NET2 + ".1"
REQUEST = bytes([11, 1, 0, 0, 255, 255, 255, 255]) + bytes(140)  # the broadcast search request
CLI = SIM = LAB_HOST = WINDOW = WORK = ""
LAB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lab", "lab.sh")
CHILDREN = []


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def wait_for(condition, what, limit=30, proc=None):
    deadline = time.monotonic() + limit
    while not condition():
        if proc is not None and proc.poll() is not None:
            raise Failure("%s: the process ended with %s" % (what, proc.returncode))
        check(time.monotonic() < deadline, "gave up waiting for " + what)
        time.sleep(0.02)


def spawn(args, **kw):
    CHILDREN.append(subprocess.Popen(args, **kw))
    return CHILDREN[-1]


def scratch(data, suffix=""):
    """A new file in the work directory holding data (bytes, or JSON for anything else)."""
    fd, path = tempfile.mkstemp(suffix=suffix, dir=WORK)
    with os.fdopen(fd, "wb") as f:
        f.write(data if isinstance(data, bytes) else json.dumps(data).encode())
    return path


def device(ident, address, host=None, maker="ORVALE", **keys):
    return dict(id=ident, address=address, host=host or "h-" + ident, maker=maker, product="P-" + ident, **keys)


@contextlib.contextmanager
def sim(devices=None, config=None, where=None):
    """nasscout-sim run in the LAN namespace (or `where`, such as IN_ROUTED), ready for the block."""
    path = scratch(config or {"devices": devices}, ".json")
    err = open(path + ".err", "w+")
    proc = spawn((where or IN_LAN) + [SIM, "run", "--config", path, "--ready-file", path + ".ready"],
                 stdout=subprocess.DEVNULL, stderr=err)
    try:
        wait_for(lambda: os.path.exists(path + ".ready"), "nasscout-sim to get ready", proc=proc)
        yield proc
    finally:
        proc.send_signal(signal.SIGTERM)
        status = proc.wait(10)
    err.seek(0)
    check(status == 0, "nasscout-sim ended with %s: %s" % (status, err.read()))


def run_sim(*args, status=None):
    r = subprocess.run(IN_LAN + [SIM, *args], capture_output=True, text=True, timeout=60)
    check(status is None or r.returncode == status, "nasscout-sim %s: exit %d: %s" % (args, r.returncode, r.stderr))
    return r


def cli(*args, limit=60):
    """nasscout-cli run to its end (within `limit` seconds): exit status, stdout and stderr."""
    r = subprocess.run([CLI, *args], capture_output=True, text=True, errors="replace", timeout=limit)
    return r.returncode, r.stdout, r.stderr


def scan(*args, timeout="2", limit=60):
    """A JSON scan that logs: the devices by address (none listed twice), stderr, and {log file name: text}."""
    logdir = tempfile.mkdtemp(dir=WORK)
    status, out, err = cli("scan", "--format", "json", "--timeout", timeout, "--log-dir", logdir, *args, limit=limit)
    check(status == 0, "scan %s exited %d: %s" % (args, status, err))
    devices = json.loads(out)  # a ValueError if stdout is not one JSON document
    found = {d["ip"]: d for d in devices}
    check(len(found) == len(devices), "an address listed twice: %s" % devices)
    return found, err, {os.path.basename(f): open(f, errors="replace", newline="").read() for f in glob.glob(logdir + "/*")}


def started(*args, **kw):
    """nasscout-cli with its output in files, for reading while it runs: the process and both paths."""
    out, err = scratch(b""), scratch(b"")
    return spawn([CLI, *args], stdout=open(out, "w"), stderr=open(err, "w"), **kw), out, err


def appears(path, text):
    wait_for(lambda: os.path.exists(path) and text in open(path).read(), "%r in %s" % (text, path))


class Watch:
    """nasscout-cli watch --format jsonl, its events read from a file as it grows."""

    def __init__(self, *args):
        self.proc, self.out, self.err = started("watch", "--format", "jsonl", *args)

    def events(self):
        """(event, address, id, the address a moved box was at or None) of every event so far."""
        events = [json.loads(line) for line in open(self.out).read().split("\n")[:-1]]
        keys = lambda e: {"event", "device"} | ({"from"} if e["event"] == "moved" else set())
        check(all(set(e) == keys(e) for e in events), "unexpected keys: %s" % events[-5:])
        return [(e["event"], e["device"]["ip"], e["device"]["id"], e.get("from")) for e in events]

    def until(self, predicate, limit=60):
        wait_for(lambda: predicate(self.events()), "the watch's events", limit, self.proc)

    def stop(self):
        """SIGTERM, as from a service manager: its events."""
        self.proc.send_signal(signal.SIGTERM)
        status = self.proc.wait(30)
        check(status == 0, "watch exited with %s: %s" % (status, open(self.err).read()))
        return self.events()


def bound(ports=(67, 1900, 1530, 1550)):
    """Waits until the engine's sockets are bound: datagrams sent before would be lost."""
    wait_for(lambda: set(ports) <= {int(line.split()[1].split(":")[1], 16)
                                    for line in open("/proc/net/udp").readlines()[1:]}, "the engine to bind %s" % (ports,))


def udp(bind, broadcast=False, reuse=True):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, int(reuse))
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, int(broadcast))
    s.bind(bind)
    return s


def collect(sock, count, grace=0.3):
    """Datagrams until `count` came (none for 10 s ends it early), then any more within `grace` seconds."""
    got = []
    with contextlib.suppress(socket.timeout):
        while True:
            sock.settimeout(grace if len(got) >= count else 10)
            got.append(sock.recvfrom(70000))
    return got


def sniff(inside, interface):
    """A capture of every IPv4 packet on `interface` of the namespace that the prefix `inside` (such as IN_LAN) enters."""
    libc = ctypes.CDLL(None, use_errno=True)
    with open("/proc/self/ns/net") as home, open("/proc/%s/ns/net" % inside[2]) as there:
        check(libc.setns(there.fileno(), 0x40000000) == 0, "cannot enter the namespace of %s" % inside[2])
        try:
            s = socket.socket(socket.AF_PACKET, socket.SOCK_DGRAM, socket.htons(0x0800))
            s.bind((interface, 0))
        finally:
            check(libc.setns(home.fileno(), 0x40000000) == 0, "cannot come back from %s" % inside[2])
    s.setblocking(False)
    return s


def udp_to(capture, port):
    """The UDP datagrams to `port` in a capture so far: (source, source port, destination, payload)."""
    got = []
    with contextlib.suppress(BlockingIOError):
        while True:
            p = capture.recv(70000)
            at = 4 * (p[0] & 15)
            if p[9] == 17 and int.from_bytes(p[at + 2:at + 4], "big") == port:
                got.append((socket.inet_ntoa(p[12:16]), int.from_bytes(p[at:at + 2], "big"),
                            socket.inet_ntoa(p[16:20]), p[at + 8:]))
    return got


@atexit.register
def _reap():
    for proc in CHILDREN:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
    if WORK:
        shutil.rmtree(WORK, ignore_errors=True)


def main(cases, outside=()):
    """Runs the case named on the command line; exit 0 pass, 1 fail, 77 outside the lab
    (or, for the cases named in `outside`, which build labs themselves, inside one)."""
    global CLI, SIM, LAB_HOST, WINDOW, WORK
    case = sys.argv[2] if len(sys.argv) > 2 else ""
    if case not in cases or bool(IN_LAN) == (case in outside):
        print("run as: scripts/lab/lab.sh %s BUILD_DIR {%s}" % (os.path.basename(sys.argv[0]), ",".join(cases)),
              file=sys.stderr)
        sys.exit(77 if not IN_LAN and case in cases else 2)
    build = sys.argv[1]
    CLI, SIM = os.path.join(build, "tools/cli/nasscout-cli"), os.path.join(build, "tools/sim/nasscout-sim")
    LAB_HOST, WINDOW = os.path.join(build, "tests/hostile/lab_host"), os.path.join(build, "src/nasscout")
    WORK = tempfile.mkdtemp(prefix="nasscout-lab-")
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(1))  # a CTest timeout still reaps the children
    try:
        cases[case](*sys.argv[3:])
    except (Failure, AssertionError, ValueError, subprocess.TimeoutExpired) as e:
        print("FAIL %s: %s" % (case, e), file=sys.stderr)
        sys.exit(1)
    print("PASS " + case)
