#!/usr/bin/env python3
"""Situations of real desktops, rebuilt in the lab: a second subnet, a host name
that does not resolve, another SSDP program on port 1900, Ctrl-C, no descriptors
left.  tests/lab/lab.sh desktop_lab.py BUILD_DIR CASE (lab_processes_end_with_it
runs outside the lab: it builds labs itself)."""
import json, os, resource, select, signal, socket, subprocess, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import GROUP, check, device

RESOLVER = "198.51.100.53"
# A name server that notes every query and never answers.
HOLDER = ("import socket, sys\ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\ns.bind((sys.argv[1], 53))\n"
          "log = open(sys.argv[2], 'a', buffering=1)\nwhile s.recv(512):\n    log.write('query\\n')\n")


def announcer(ident, address):
    """A box that never answers a search and says alive every half second."""
    return device(ident, address, "ann-" + ident, answers=-1,
                  announce=[{"at": 0.5 * k, "nts": "alive"} for k in range(1, 60)])


def cli(*args, **kw):
    """nasscout-cli with its output in files, for reading while it runs."""
    out, err = (os.path.join(lab.WORK, "%s.%d" % (s, time.monotonic_ns())) for s in ("out", "err"))
    return lab.spawn([lab.CLI, *args], stdout=open(out, "w"), stderr=open(err, "w"), **kw), out, err


def appears(path, text):
    lab.wait_for(lambda: os.path.exists(path) and text in open(path).read(), "%r in %s" % (text, path))


def finish(proc, out, err, seconds=30):
    proc.wait(seconds)
    return {d["ip"]: d for d in json.load(open(out))}, open(err).read()


def announcements_from_every_subnet():
    with lab.sim([announcer("A1", "198.51.100.20"), announcer("A2", "203.0.113.20")]):
        found, _ = lab.scan(timeout="3")
    check(sorted(found) == ["198.51.100.20", "203.0.113.20"], "found %s" % sorted(found))


def unreachable_resolver_delays_neither_scan_nor_window():
    # The host name is in no hosts file and the name server holds every query
    # for 30 s: a program that waits on the lookup cannot end in time.
    for path, text in (("/etc/resolv.conf", "nameserver %s\noptions timeout:30 attempts:1\n" % RESOLVER),
                       ("/etc/nsswitch.conf", "hosts: files dns\n")):
        subprocess.run(["mount", "--bind", lab.scratch(text.encode()), path], check=True)
    subprocess.run(["hostname", "unknown-box"], check=True)
    queries = os.path.join(lab.WORK, "queries")
    subprocess.run(lab.IN_LAN + ["ip", "addr", "add", RESOLVER + "/24", "dev", "dev0"], check=True)
    lab.spawn(lab.IN_LAN + [sys.executable, "-c", HOLDER, RESOLVER, queries])
    appears(queries, "")
    with lab.sim([device("A10", "198.51.100.10", "nas-a")]):
        found, _ = finish(*cli("scan", "--timeout", "1", "--format", "json"), seconds=15)
        check(list(found) == ["198.51.100.10"], "found %s" % found)
        if os.path.exists(lab.WINDOW):
            shot = os.path.join(lab.WORK, "window.png")
            env = dict(os.environ, QT_QPA_PLATFORM="offscreen", NASSCOUT_TICK_MS="100", NASSCOUT_SCREENSHOT=shot)
            window = subprocess.run([lab.WINDOW], env=env, capture_output=True, timeout=20)
            check(window.returncode == 0 and os.path.exists(shot), "the window did not count down: %r" % window.stderr)
    check("query" in open(queries).read(), "the host name was never looked up: the case tests nothing")


class Neighbour:
    """Another SSDP program, on port 1900 of the host side."""

    def __init__(self, reuse):
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, int(reuse))
        self.sock.bind(("0.0.0.0", 1900))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                             socket.inet_aton(GROUP) + socket.inet_aton("0.0.0.0"))

    def hears(self):
        return bool(select.select([self.sock], [], [], 10)[0]) and len(self.sock.recv(2048)) > 0


def port_1900_is_shared_with_other_ssdp_programs():
    everything = ["198.51.100.10", "198.51.100.20", "203.0.113.10"]
    with lab.sim([device("S10", "198.51.100.10", "ssdp-one", protocols=["ssdp"]),
                  device("S20", "203.0.113.10", "ssdp-two", protocols=["ssdp"]), announcer("A1", "198.51.100.20")]):
        for reuse, after, extra, warning, wanted in (
                (True, False, [], None, everything), (True, True, [], None, everything),
                (True, False, ["--single-address"], "UDP port 1900 is shared with another SSDP program", None),
                (False, False, [], "could not start on UDP port 1900", None)):
            neighbour = None if after else Neighbour(reuse)
            proc, out, err = cli("scan", "--timeout", "3", "--format", "json", "--verbose", *extra)
            if after:  # --verbose alone shows the trace, so the start can be seen
                appears(err, "SendThread 1900 : Begin Search Device Work Thread")
                neighbour = Neighbour(reuse)
            check(neighbour.hears(), "the neighbour hears nothing beside nasscout")
            found, stderr = finish(proc, out, err)
            row = (reuse, after, extra)
            warned = stderr[stderr.find("nasscout-cli: warning"):] if "nasscout-cli: warning" in stderr else ""
            check(warning in warned if warning else not warned, "%s: warnings %r" % (row, warned))
            check(wanted is None or sorted(found) == wanted, "%s: found %s" % (row, sorted(found)))
            neighbour.sock.close()


def interrupted_scan_prints_what_it_found():
    with lab.sim([device("A10", "198.51.100.10", "nas-a")]):
        for sig, fmt in ((signal.SIGINT, "json"), (signal.SIGTERM, "table")):
            proc, out, err = cli("scan", "--timeout", "60", "--format", fmt, "--verbose")
            appears(err, "NewDeviceInfo.factory = ORVALE")
            proc.send_signal(sig)
            check(proc.wait(10) == 128 + sig, "%s: exit %d" % (sig.name, proc.returncode))
            text = open(out).read()
            check("198.51.100.10" in (json.loads(text)[0]["ip"] if fmt == "json" else text), "printed %r" % text)


def any_address_workers_come_at_a_later_search():
    with lab.sim([device("B11", "198.51.100.11", "bcast-only", protocols=["broadcast"])]):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        proc, out, err = cli("watch", "--interval", "1", "--format", "jsonl", "--verbose",
                             preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (5, hard)))
        appears(err, "Create Search Device Worker Error : port 67")  # no descriptor left for a worker
        resource.prlimit(proc.pid, resource.RLIMIT_NOFILE, (soft, hard))
        appears(out, '"ip":"198.51.100.11"')


def hosts_file_is_readable_by_everyone():
    check(os.stat("/etc/hosts").st_mode & 0o044 == 0o044 and "lab-host" in open("/etc/hosts").read(),
          "the lab's /etc/hosts: %o" % os.stat("/etc/hosts").st_mode)


def lab_processes_end_with_it():
    # Background processes on both sides hold the pipe open while they live.
    proc = subprocess.Popen([lab.LAB, "sh", "-c", "$LAB_IN_LAN sleep 60 & sleep 60 & echo started"],
                            stdout=subprocess.PIPE)
    check(proc.stdout.readline() == b"started\n" and proc.wait(30) == 0, "the lab did not run its command")
    check(select.select([proc.stdout], [], [], 10)[0] and proc.stdout.read() == b"", "processes outlived the lab")


if __name__ == "__main__":
    lab.main({f.__name__: f for f in (
        announcements_from_every_subnet, unreachable_resolver_delays_neither_scan_nor_window,
        port_1900_is_shared_with_other_ssdp_programs, interrupted_scan_prints_what_it_found,
        any_address_workers_come_at_a_later_search, hosts_file_is_readable_by_everyone, lab_processes_end_with_it)},
        outside=("lab_processes_end_with_it",))
