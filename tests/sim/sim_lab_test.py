#!/usr/bin/env python3
"""nasscout-sim in the LAN namespace, this script the host side: scripts/lab/lab.sh sim_lab_test.py BUILD_DIR CASE.
Its announcements, raw sends and floods are proven by the CLI and hostile lab runs."""
import os, subprocess, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import GROUP, REQUEST, ST, check, collect, device, udp

SEARCH = "M-SEARCH * HTTP/1.1\r\nHOST: 239.143.255.250:1900\r\nST: %s\r\nMAN: \"ssdp:discover\"\r\nMX: 3\r\n\r\n"


def Answers():
    """Each device answers only the requests of its protocols, from its own address, on its own subnet."""
    with lab.sim([device("A", "198.51.100.10", code=4, maker="ACME"), device("B", "198.51.100.11"),
                  device("C", "198.51.100.12", protocols=["ssdp"]), device("D", "203.0.113.10"),
                  device("Q", "203.0.113.11", extra="x", version="2.1"),
                  device("S", "203.0.113.12", protocols=["broadcast"])]):
        s = udp(("198.51.100.1", 67), broadcast=True)
        s.sendto(REQUEST, ("255.255.255.255", 68))  # the unit tables hold the requests that are none
        answers = collect(s, 2)
        got = {a[0]: d for d, a in answers}
        check(sorted(a[0] for _, a in answers) == ["198.51.100.10", "198.51.100.11"], "answered by %s" % answers)
        a = got["198.51.100.10"]
        check((len(a), a[:2], a[4:20]) == (148, bytes([12, 4]), b"\xff" * 4 + bytes(12)), "answer %r" % a)
        options = dict(kv.split("=", 1) for kv in a[20:].rstrip(b"\0").decode().split("&"))
        check(options == {"id": "A", "host": "h-A", "vendor": "ACME", "product": "P-A"}, "options %r" % a)
        for target, answering in ((ST, ["D", "Q"]), ("upnp:rootdevice", []), ("ssdp:all", ["D", "Q"])):
            m = udp(("203.0.113.1", 0))
            m.sendto((SEARCH % target).encode(), (GROUP, 1900))
            got = sorted(collect(m, len(answering)), key=lambda g: g[1])
            check([a[0] for _, a in got] == ["203.0.113.%d" % (10 + i) for i in range(len(answering))], target)
        check(got[1][0] == ("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nLOCATION: http://203.0.113.11:5000/desc.xml"
                            "\r\nSERVER: Linux/5.10 RUZO/2.1, UPnP/1.0, ORVALE/h-Q/P-Q/x\r\nST: %s\r\nUSN: uuid:Q::%s\r\n\r\n"
                            % (ST, ST)).encode(), "SSDP answer %r" % got[1][0])


def Errors():
    """Traffic stays in the lab; configuration and runtime errors are one clear line."""
    for args in (["raw", "--to", "10.0.0.1:9", "/dev/null"], ["raw", "--to", "239.255.255.250:1900", "/dev/null"],
                 ["flood", "--protocol", "ssdp", "--to", "10.0.0.1:1900", "--count", "1"]):
        check("refusing to send to" in lab.run_sim(*args, status=2).stderr, "sent: %s" % args)
    lab.run_sim("raw", "--to", "198.51.100.1:9", lab.scratch(bytes(65508)), status=2)

    holder = "import socket,time; s=socket.socket(2,2); s.bind(('0.0.0.0',68)); print('up',flush=True); time.sleep(30)"
    blocker = lab.spawn(lab.IN_LAN + [sys.executable, "-c", holder], stdout=subprocess.PIPE, text=True)
    check(blocker.stdout.readline() == "up\n", "the port 68 holder did not start")
    # A mistake in the configuration (exit 2) or a port taken on the host (exit 1).
    for devices, status, message in (([device("X", "10.0.0.5")], 2, "10.0.0.5"),
                                     ([device("A", "198.51.100.250")], 2, "198.51.100.250 is not on this host"),
                                     ([device("A", "198.51.100.10")], 1, "port 68")):
        r = lab.run_sim("run", "--config", lab.scratch({"devices": devices}), "--duration", "5", status=status)
        check(r.stderr.count("\n") == 1 and message in r.stderr, "one line naming %r: %r" % (message, r.stderr))
    blocker.kill()


if __name__ == "__main__":
    lab.main({f.__name__: f for f in (Answers, Errors)})
