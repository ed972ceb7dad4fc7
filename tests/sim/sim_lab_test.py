#!/usr/bin/env python3
"""Drives nasscout-sim inside the lab (tests/lab/lab.sh): sim_lab_test.py SIM GROUP.
The simulator runs in the LAN namespace; this script is the host side."""
import contextlib, json, os, random, re, signal, socket, subprocess, sys, tempfile, time, unittest

SIM = sys.argv[1] if len(sys.argv) > 1 else ""
IN_LAN = os.environ.get("LAB_IN_LAN", "").split()
GROUP = "239.143.255.250"
ST = "urn:schemas-upnp-org:device:LarkvatDevice:1"
SEARCH = "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: %s\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n"
REQUEST = bytes([11, 1, 0, 0, 255, 255, 255, 255]) + bytes(140)


def udp(bind, broadcast=False):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, int(broadcast))
    s.bind(bind)
    return s


def collect(sock, count, grace=0.5, limit=10.0):
    """Datagrams until `count` came (or `limit` passed), then `grace` seconds more for extras."""
    got, end = [], time.monotonic() + (grace if count == 0 else limit)
    while time.monotonic() < end:
        sock.settimeout(max(0.01, end - time.monotonic()))
        try:
            got.append(sock.recvfrom(70000))
        except socket.timeout:
            continue
        if len(got) == count:
            end = time.monotonic() + grace
    return got


def sim(*args, check=None):
    r = subprocess.run(IN_LAN + [SIM, *args], capture_output=True, text=True, timeout=30)
    assert check is None or r.returncode == check, (r.returncode, r.stderr)
    return r


def in_lan_python(code):
    """A Python process in the LAN namespace that has printed its first line."""
    proc = subprocess.Popen(IN_LAN + [sys.executable, "-c", code], stdout=subprocess.PIPE, text=True)
    assert proc.stdout.readline() == "up\n"
    return proc


WORK = tempfile.TemporaryDirectory(prefix="sim-lab-")  # removed at exit


def config_file(devices):
    fd, path = tempfile.mkstemp(suffix=".json", dir=WORK.name)
    with os.fdopen(fd, "w") as f:
        json.dump({"devices": devices}, f)
    return path


@contextlib.contextmanager
def Sim(devices):
    """nasscout-sim run with the given devices, until the block ends."""
    config = config_file(devices)
    proc = subprocess.Popen(IN_LAN + [SIM, "run", "--config", config, "--ready-file", config + ".ready"],
                            stderr=subprocess.PIPE, text=True)
    while not os.path.exists(config + ".ready"):
        assert proc.poll() is None, "simulator ended: " + proc.stderr.read()
        time.sleep(0.02)
    yield
    proc.send_signal(signal.SIGTERM)
    assert proc.wait(timeout=10) == 0, proc.stderr.read()


def dev(id, address, **keys):
    return dict(id=id, address=address, host="h-" + id, product="P-" + id, **keys)


def options(answer):
    return dict(kv.split("=", 1) for kv in answer[20:].rstrip(b"\0").decode().split("&"))


def answer_text(id, address, version="1.0", extra=""):
    return ("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nLOCATION: http://%s:5000/desc.xml\r\n"
            "SERVER: Linux/5.10 RUZO/%s, UPnP/1.0, ORVALE/h-%s/P-%s%s\r\nST: %s\r\nUSN: uuid:%s::%s\r\n\r\n"
            % (address, version, id, id, "/" + extra if extra else "", ST, id, ST)).encode()


class Broadcast(unittest.TestCase):
    def test_each_device_answers_from_its_own_address_on_its_own_subnet_only(self):
        with Sim([dev("A", "198.51.100.10", code=4, maker="ACME"), dev("B", "198.51.100.11"),
                  dev("C", "198.51.100.12", protocols=["ssdp"]), dev("D", "203.0.113.10")]):
            s = udp(("198.51.100.1", 67), broadcast=True)
            s.sendto(REQUEST[:147], ("255.255.255.255", 68))   # wrong size: no answer
            s.sendto(bytes([12]) + REQUEST[1:], ("255.255.255.255", 68))   # not a request
            s.sendto(REQUEST, ("255.255.255.255", 68))
            got = {a[0]: d for d, a in collect(s, 2)}
            self.assertEqual(sorted(got), ["198.51.100.10", "198.51.100.11"])
            a = got["198.51.100.10"]
            self.assertEqual((len(a), a[:2], a[4:20]), (148, bytes([12, 4]), b"\xff" * 4 + bytes(12)))
            self.assertEqual(options(a), {"id": "A", "host": "h-A", "vendor": "ACME", "product": "P-A"})
            s2 = udp(("203.0.113.1", 67), broadcast=True)   # leaves through lan1
            s2.sendto(REQUEST, ("255.255.255.255", 68))
            self.assertEqual([(a[0], options(d)["id"]) for d, a in collect(s2, 1)], [("203.0.113.10", "D")])


class Ssdp(unittest.TestCase):
    def test_msearch_is_answered_by_the_devices_of_the_subnet_it_came_from(self):
        with Sim([dev("P", "198.51.100.10"), dev("Q", "203.0.113.10", extra="x", version="2.1"),
                  dev("R", "203.0.113.11"), dev("S", "203.0.113.12", protocols=["broadcast"])]):
            for target, expected in ((ST, 2), ("upnp:rootdevice", 0), ("ssdp:all", 2)):
                m = udp(("203.0.113.1", 0))
                m.sendto((SEARCH % target).encode(), (GROUP, 1900))
                got = sorted((a[0], d) for d, a in collect(m, expected))
                self.assertEqual(got, [("203.0.113.10", answer_text("Q", "203.0.113.10", "2.1", "x")),
                                       ("203.0.113.11", answer_text("R", "203.0.113.11"))][:expected], target)


class Announce(unittest.TestCase):
    def test_notify_reaches_a_group_member_on_the_host_side(self):
        g = udp(("0.0.0.0", 1900))
        g.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                     socket.inet_aton(GROUP) + socket.inet_aton("198.51.100.1"))
        with Sim([dev("N1", "198.51.100.10", announce=[{"at": 0.2, "nts": "alive"}, {"at": 1.2, "nts": "byebye"}]),
                  dev("N2", "198.51.100.11", protocols=[], announce=[{"at": 0.6, "nts": "odd value"}]),
                  dev("N3", "203.0.113.10", announce=[{"at": 0.1, "nts": "alive"}])]):   # other subnet
            got = collect(g, 3)
        seen = [(a[0], re.search(rb"NTS: ([^\r]*)", d).group(1).decode()) for d, a in got]
        self.assertEqual(seen, [("198.51.100.10", "ssdp:alive"), ("198.51.100.11", "ssdp:odd value"),
                                ("198.51.100.10", "ssdp:byebye")])
        self.assertEqual(got[0][0], (
            "NOTIFY * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nLOCATION: http://198.51.100.10:5000/desc.xml\r\n"
            "NT: upnp:rootdevice\r\nNTS: ssdp:alive\r\nSERVER: Linux/5.10 RUZO/1.0, UPnP/1.0, ORVALE/h-N1/P-N1\r\n"
            "USN: uuid:N1::upnp:rootdevice\r\n\r\n").encode())


class Senders(unittest.TestCase):
    def test_raw_sends_files_byte_for_byte_and_flood_sends_distinct_answers_round_robin(self):
        d = WORK.name
        files = {"small": bytes(random.randrange(256) for _ in range(1000)) + bytes(3), "empty": b"",
                 "max": os.urandom(65507), "over": bytes(65508)}
        for name, data in files.items():
            with open(os.path.join(d, name), "wb") as f:
                f.write(data)
        r = udp(("198.51.100.1", 4000))
        with Sim([dev("A", "198.51.100.10")]):   # shares port 68 with raw --from
            sim("raw", "--to", "198.51.100.1:4000", "--from", "198.51.100.10:68", "--repeat", "2",
                *(os.path.join(d, n) for n in ("small", "empty", "max")), check=0)
        got = collect(r, 6)
        self.assertEqual([d for d, _ in got], [files["small"], b"", files["max"]] * 2)
        self.assertEqual({a for _, a in got}, {("198.51.100.10", 68)})
        sim("raw", "--to", "198.51.100.1:4000", os.path.join(d, "over"), check=2)

        self.assertEqual(sim("flood", "--protocol", "broadcast", "--to", "198.51.100.1:4000", "--count", "100",
                             "--from", "198.51.100.10,198.51.100.11,198.51.100.12", check=0).stdout, "sent 100\n")
        got = collect(r, 100)
        self.assertEqual(sorted(options(d)["id"] for d, _ in got), sorted("FLOOD%d" % n for n in range(1, 101)))
        self.assertEqual({a[0] for _, a in got}, {"198.51.100.10", "198.51.100.11", "198.51.100.12"})
        sim("flood", "--protocol", "ssdp", "--to", "198.51.100.1:4000", "--count", "20", "--rate", "200",
            "--from", "198.51.100.10,198.51.100.11", "--maker", "ACME", "--id-prefix", "X", check=0)
        got = collect(r, 20)
        self.assertEqual(sorted(re.search(rb"uuid:(\w+)::", d).group(1) for d, _ in got),
                         sorted(b"X%d" % n for n in range(1, 21)))
        for data, (address, _) in got:
            self.assertIn(b"LOCATION: http://%s:5000/" % address.encode(), data)
            self.assertIn(b", ACME/flood-", data)

    def test_safety_net_refuses_destinations_outside_the_lab(self):
        for args in (["raw", "--to", "10.0.0.1:9", "/dev/null"], ["raw", "--to", "239.255.255.250:1900", "/dev/null"],
                     ["flood", "--protocol", "ssdp", "--to", "10.0.0.1:1900", "--count", "1"]):
            self.assertIn("refusing to send to", sim(*args, check=2).stderr)
        config = config_file([dev("X", "10.0.0.5")])
        self.assertIn("10.0.0.5", sim("run", "--config", config, "--duration", "0", check=2).stderr)
        # Lifted, it reaches the loopback of the LAN namespace, and nothing beyond.
        listener = in_lan_python("import socket; s=socket.socket(2,2); s.bind(('127.0.0.1',7000)); print('up',"
                                 "flush=True); s.settimeout(10); print(s.recv(100).decode())")
        with tempfile.NamedTemporaryFile() as f:
            f.write(b"hello")
            f.flush()
            sim("raw", "--to", "127.0.0.1:7000", f.name, check=2)
            sim("raw", "--to", "127.0.0.1:7000", "--allow-any-destination", f.name, check=0)
        self.assertEqual(listener.communicate(timeout=10)[0], "hello\n")


class Errors(unittest.TestCase):
    def test_config_and_runtime_errors_are_one_clear_line(self):
        blocker = in_lan_python("import socket,time; s=socket.socket(2,2); s.bind(('0.0.0.0',68)); "
                                "print('up',flush=True); time.sleep(30)")
        try:
            for devices, status, message in (([dev("A", "198.51.100.10", colour="red")], 2, 'unknown key "colour"'),
                                              ([dev("A", "198.51.100.250")], 2, "198.51.100.250 is not on this host"),
                                              ([dev("A", "198.51.100.10")], 1, "port 68")):
                r = sim("run", "--config", config_file(devices), "--duration", "5")
                self.assertEqual((r.returncode, r.stderr.count("\n")), (status, 1), r.stderr)
                self.assertIn(message, r.stderr)
        finally:
            blocker.kill()
        sim("run", "--config", "/dev/null", "--duration", "0", check=2)


if __name__ == "__main__":
    if not IN_LAN or not SIM:
        print("sim_lab_test.py: run me through tests/lab/lab.sh with the simulator's path", file=sys.stderr)
        sys.exit(77)
    group = sys.argv[2] if len(sys.argv) > 2 else None
    unittest.main(argv=[sys.argv[0]] + ([group] if group else []), verbosity=2)
