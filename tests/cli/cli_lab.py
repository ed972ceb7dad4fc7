#!/usr/bin/env python3
"""nasscout-cli against nasscout-sim in situations of real desktops, only inside
scripts/lab/lab.sh:  cli_lab.py BUILD_DIR CASE"""
import datetime, json, os, pty, resource, select, signal, socket, sqlite3, subprocess, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import GROUP, check, device

FAR, FAR2 = "198.18.10.20", "198.18.10.21"
RESOLVER = "198.51.100.53"
# A name server that notes every query and never answers.
HOLDER = ("import socket, sys\ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\ns.bind((sys.argv[1], 53))\n"
          "log = open(sys.argv[2], 'a', buffering=1)\nwhile s.recv(512):\n    log.write('query\\n')\n")


def announcer(ident, address):
    """A box that never answers a search and says alive every half second."""
    return device(ident, address, "ann-" + ident, answers=-1,
                  announce=[{"at": 0.5 * k, "nts": "alive"} for k in range(1, 60)])


def handed_over(logs, ip):
    """Ports of the workers that handed a record from ip over."""
    return {int(line.split()[1]) for line in "".join(logs.values()).splitlines()
            if line.startswith("Handle ") and "Find Device ID" in line and "IP : %s " % ip in line}


def scan_lists_accepted_devices_as_clean_json_and_logs():
    # The addresses of a down interface and of the loopback cover no LAN: no search may start from them.
    for command in ("link add down0 type veth peer name down1", "addr add 203.0.113.250/32 dev down0",
                    "addr add 198.51.100.250/32 dev lo"):
        subprocess.run(["ip", *command.split()], check=True)
    with lab.sim([device("A10", "198.51.100.10", "nas-a"),
                  device("B11", "198.51.100.11", maker="kestil", protocols=["broadcast"]),
                  device("C12", "198.51.100.12", maker="ACME"),
                  device("D10", "203.0.113.10", maker="TAMBU", protocols=["ssdp"]),
                  device("E11", "203.0.113.11", maker="VIRNO ", protocols=["ssdp"]),
                  device("F12", "203.0.113.12", "nas-f", maker="Solbrix"),
                  device("G13", "198.51.100.13", maker="SOLBRIXX", protocols=["broadcast"])]):
        days = {datetime.date.today()}
        found, stderr, logs = lab.scan("--verbose")  # the engine's lines go to stderr too
        days.add(datetime.date.today())
    check(sorted(found) == ["198.51.100.10", "198.51.100.11", "203.0.113.10", "203.0.113.12"], "found %s" % found)
    check(found["198.51.100.11"]["factory"] == "KESTIL" and found["203.0.113.12"]["host"] == "nas-f"
          and all(isinstance(d["type"], int) and isinstance(d["lifetime"], int) for d in found.values()),
          "wrong records: %s" % found)
    # The log directory is given without its final '/'.
    check(list(logs) in [["%s-SearchDeviceLog.txt" % d] for d in days], "logs: %s" % list(logs))
    text = "".join(logs.values())
    for needle in ("------Start Log System-------\r\n", "SendThread 67 : Init Search Device Work Thread Value",
                   "Get Current Local IP, IP = 198.51.100.1  *", "Get Current Local IP, IP = 203.0.113.1  *",
                   "SendMessage : pdhcp is NULL "):
        check(needle in text, "log lacks %r" % needle)
    for address in ("203.0.113.250", "198.51.100.250"):
        check(address not in text, "a search starts from %s: %s" % (address, text))
    check("SendThread 1900" in stderr and "NewDeviceInfo.factory" in stderr, "--verbose did not copy to stderr")
    # Every user, not just root, must resolve the lab's host name from its /etc/hosts.
    check(os.stat("/etc/hosts").st_mode & 0o044 == 0o044 and "lab-host" in open("/etc/hosts").read(),
          "the lab's /etc/hosts: %o" % os.stat("/etc/hosts").st_mode)


def watch_removes(interval, gone, stays):
    """A watch that sees `gone` added and then removed, and `stays` added only."""
    def case():
        with lab.sim([gone, stays]):
            watch = lab.Watch("--interval", interval)
            watch.until(lambda events: ("removed", gone["address"], gone["id"], None) in events)
            e = [event[:2] for event in watch.stop()]  # checks the exit status after SIGTERM
        check(e.index(("added", gone["address"])) < e.index(("removed", gone["address"]))
              and ("added", stays["address"]) in e and ("removed", stays["address"]) not in e, "events: %s" % e)
    return case


def bad_arguments_exit_2_with_one_clear_message():
    """Mistakes in the usual options show the usage; a bad target or rate is one line naming it."""
    rows = [(args.split(), "", True) for args in ("scan --timeout -1", "scan --timeout nan", "scan --format xml",
                                                   "watch --rounds x", "watch --interval 0", "scan --bogus", "",
                                                   "doctor --format table", "doctor --timeout -1")]
    rows.append((["scan", "--log-dir", os.path.join(lab.WORK, "no-such-dir")], "no-such-dir", True))
    for option, value in [("--target", v) for v in ("/8", "300.1.1.1", "10.0.0.0/33", "", "10.0.0.1,,10.0.0.2")] + [
            ("--rate", v) for v in ("0", "100001", "fast")] + [("--target", "nas.example.org")]:
        named = "nas.example" if value == "nas.example.org" else "'%s'" % value
        rows += [([command, option, value], named, False) for command in ("scan", "watch")]
    for args, named, usage in rows:
        status, out, err = lab.cli(*args)
        check(status == 2 and out == "" and err.startswith("nasscout-cli: ") and named in err
              and ("Usage: nasscout-cli" in err if usage else err.count("\n") == 1),
              "%s: exit %d, stdout %r, stderr %r" % (args, status, out, err))


def routed_box_is_found_only_as_a_target_even_when_ports_67_and_1900_are_taken():
    far = [dict(id="FAR%d" % k, address=a, host="far-%d" % k, maker="VIRNO") for k, a in ((1, FAR), (2, FAR2))]
    with lab.sim(far, where=lab.IN_ROUTED):
        check(FAR not in lab.scan()[0], "found without targets")
        for spec, expected in (("198.18.10.0/24", [FAR, FAR2]), (FAR, [FAR])):
            found, err, logs = lab.scan("--target", spec, "--rate", "5000")
            check([ip for ip in sorted(found) if ip.startswith("198.18.10.")] == expected, "%s: %s" % (spec, found))
            check(handed_over(logs, FAR) == {67, 1900}, "%s: handed over by %s" % (spec, handed_over(logs, FAR)))
            check("asking targets" not in err, "progress on a stderr that is no terminal: %r" % err)
        status, out, _ = lab.cli("watch", "--rounds", "1", "--interval", "1", "--format", "jsonl", "--target", FAR)
        events = [(e["event"], e["device"]["ip"]) for e in map(json.loads, out.splitlines())]
        check(status == 0 and events == [("added", FAR)], "watch: exit %d, %s" % (status, events))
        master, slave = pty.openpty()
        subprocess.run([lab.CLI, "scan", "--timeout", "0", "--target", "198.18.10.0/24", "--rate", "500"],
                       stdout=subprocess.DEVNULL, stderr=slave, timeout=40)
        os.close(slave)
        check(b"asking targets: " in os.read(master, 65536), "no progress on a terminal")
        holders = [lab.udp(("0.0.0.0", port), reuse=False) for port in (67, 1900)]
        # With the ports taken, from the per-address worker of the route (1530), and without
        # those workers from one on a port the system picks; the request always from one.
        for extra, ssdp_ports in (((), {1530}), (("--single-address",), set())):
            found, _, logs = lab.scan("--target", FAR, *extra)
            ports = handed_over(logs, FAR)
            check(list(found) == [FAR] and len(ports) == 2 and not ports & {67, 1900} and ssdp_ports <= ports,
                  "%s: listed %s, handed over by %s" % (extra, list(found), ports))


def unreachable_resolver_does_not_delay_a_scan():
    # The host name is in no hosts file and the name server holds every query
    # for 30 s: a scan that waits on the lookup cannot end in time.
    for path, text in (("/etc/resolv.conf", "nameserver %s\noptions timeout:30 attempts:1\n" % RESOLVER),
                       ("/etc/nsswitch.conf", "hosts: files dns\n")):
        subprocess.run(["mount", "--bind", lab.scratch(text.encode()), path], check=True)
    subprocess.run(["hostname", "unknown-box"], check=True)
    queries = os.path.join(lab.WORK, "queries")
    subprocess.run(lab.IN_LAN + ["ip", "addr", "add", RESOLVER + "/24", "dev", "dev0"], check=True)
    lab.spawn(lab.IN_LAN + [sys.executable, "-c", HOLDER, RESOLVER, queries])
    lab.appears(queries, "")
    with lab.sim([device("A10", "198.51.100.10", "nas-a")]):
        found = lab.scan(timeout="1", limit=15)[0]
    check(list(found) == ["198.51.100.10"], "found %s" % found)
    check("query" in open(queries).read(), "the host name was never looked up: the case tests nothing")


def neighbour(reuse):
    """Another SSDP program, on port 1900 of the host side."""
    sock = lab.udp(("0.0.0.0", 1900), reuse=reuse)
    sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP, socket.inet_aton(GROUP) + socket.inet_aton("0.0.0.0"))
    return sock


def ports_1900_and_67_shared_or_taken():
    """A neighbour on port 1900, there before nasscout or after, still hears the group; nasscout warns once
    when it cannot share the port or shares it in single-address mode. A taken port 67 is named with its
    reason, SSDP still works. Announcing boxes are listed on both subnets (the group joined on each)."""
    ssdp = ["198.51.100.10", "203.0.113.10"]
    everything = sorted(ssdp + ["198.51.100.11", "198.51.100.20", "203.0.113.20"])
    with lab.sim([device("S10", "198.51.100.10", "ssdp-one", protocols=["ssdp"]), announcer("A1", "198.51.100.20"),
                  device("S20", "203.0.113.10", "ssdp-two", protocols=["ssdp"]), announcer("A2", "203.0.113.20"),
                  device("B11", "198.51.100.11", protocols=["broadcast"])]):
        for reuse, after, extra, warnings, wanted in (
                (True, False, [], (), everything), (True, True, [], (), everything),
                (True, False, ["--single-address"], ("UDP port 1900 is shared with another SSDP program",), None),
                (False, False, [], ("could not start on UDP port 67 (bind: Address already in use)",
                                    "Another program holds UDP port 67", "could not start on UDP port 1900"), ssdp)):
            sock = None if after else neighbour(reuse)
            holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
            if not reuse:  # then port 67 is taken too
                holder.bind(("0.0.0.0", 67))
            proc, out, err = lab.started("scan", "--timeout", "3", "--format", "json", "--verbose", *extra)
            if after:  # --verbose alone shows the trace, so the start can be seen
                lab.appears(err, "SendThread 1900 : Begin Search Device Work Thread")
                sock = neighbour(reuse)
            check(select.select([sock], [], [], 10)[0] and sock.recv(2048), "the neighbour hears nothing beside nasscout")
            proc.wait(30)
            found, stderr = sorted(d["ip"] for d in json.load(open(out))), open(err).read()
            warned = stderr[stderr.find("nasscout-cli: warning"):] if "nasscout-cli: warning" in stderr else ""
            check(all(warned.count(w) == 1 for w in warnings) and bool(warned) == bool(warnings)
                  and wanted in (None, found), "%s: warnings %r, found %s" % ((reuse, after, extra), warned, found))
            sock.close()
            holder.close()


def interrupted_scan_prints_what_it_found():
    with lab.sim([device("A10", "198.51.100.10", "nas-a")]):
        for sig, fmt in ((signal.SIGINT, "json"), (signal.SIGTERM, "table")):
            proc, out, err = lab.started("scan", "--timeout", "60", "--format", fmt, "--verbose")
            lab.appears(err, "NewDeviceInfo.factory = ORVALE")
            # --verbose without --log-dir traces every datagram as the log file would.
            lab.appears(err, "Recive Socket Protocol IP : 198.51.100.10, nLen : ")
            proc.send_signal(sig)
            check(proc.wait(10) == 128 + sig, "%s: exit %d" % (sig.name, proc.returncode))
            text = open(out).read()
            check("198.51.100.10" in (json.loads(text)[0]["ip"] if fmt == "json" else text), "printed %r" % text)
    # A second Ctrl-C ends at once a scan whose result waits for the store another process holds.
    with lab.sim([device("A10", "198.51.100.10", "nas-a")]):
        proc, out, err = lab.started("scan", "--timeout", "60", "--verbose")
        lab.appears(err, "NewDeviceInfo.factory = ORVALE")
        holder = sqlite3.connect(os.path.join(os.environ["XDG_STATE_HOME"], "nasscout", "boxes.db"))
        holder.execute("BEGIN EXCLUSIVE")
        proc.send_signal(signal.SIGINT)
        time.sleep(0.5)
        check(proc.poll() is None, "the scan did not wait for the store")
        proc.send_signal(signal.SIGINT)
        check(proc.wait(3) == 130, "exit %d after the second SIGINT" % proc.returncode)
        holder.close()


def any_address_workers_come_at_a_later_search():
    with lab.sim([device("B11", "198.51.100.11", "bcast-only", protocols=["broadcast"])]):
        soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
        proc, out, err = lab.started("watch", "--interval", "1", "--format", "jsonl", "--verbose",
                                 preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (5, hard)))
        lab.appears(err, "Create Search Device Worker Error : port 67")  # no descriptor left for a worker
        resource.prlimit(proc.pid, resource.RLIMIT_NOFILE, (soft, hard))
        lab.appears(out, '"ip":"198.51.100.11"')


def sweep_without_descriptors_makes_its_own_sockets_once():
    # No descriptor is left for a socket: the sweep says its datagrams failed,
    # and tries a socket of its own once per protocol, not once per address.
    # With one fewer no search socket is made at all: the refused sweep is said, and the scan fails.
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]

    def scan(limit):
        proc, out, err = lab.started("scan", "--no-store", "--timeout", "0", "--target", "198.51.100.0/26", "--verbose",
                                     preexec_fn=lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (limit, hard)))
        return proc.wait(30), open(err).read()
    text = scan(6)[1]
    check("124 of 124 datagrams to the targets could not be sent" in text, "no warning: %s" % text[-400:])
    tries = text.count("Sweep Targets : Create Worker Error")
    check(tries == 2, "%d tries to make a socket of its own" % tries)
    status, text = scan(5)
    check(status == 1 and "warning: the targets were not asked: the search engine is not running" in text,
          "exit %d: %s" % (status, text[-400:]))


def lab_processes_end_with_it():
    # Background processes on both sides hold the pipe open while they live.
    proc = subprocess.Popen([lab.LAB, "sh", "-c", "$LAB_IN_LAN sleep 60 & sleep 60 & echo started"],
                            stdout=subprocess.PIPE)
    check(proc.stdout.readline() == b"started\n" and proc.wait(30) == 0, "the lab did not run its command")
    check(select.select([proc.stdout], [], [], 10)[0] and proc.stdout.read() == b"", "processes outlived the lab")


if __name__ == "__main__":
    cases = {f.__name__: f for f in (
        scan_lists_accepted_devices_as_clean_json_and_logs, bad_arguments_exit_2_with_one_clear_message,
        unreachable_resolver_does_not_delay_a_scan, ports_1900_and_67_shared_or_taken,
        interrupted_scan_prints_what_it_found, any_address_workers_come_at_a_later_search,
        sweep_without_descriptors_makes_its_own_sockets_once,
        routed_box_is_found_only_as_a_target_even_when_ports_67_and_1900_are_taken, lab_processes_end_with_it)}
    # No ageing pass within the long interval: the removal comes from the byebye.
    cases["watch_reports_byebye_removal"] = watch_removes(
        "60", device("BYE1", "198.51.100.10", announce=[{"at": 1.0, "nts": "byebye"}]), device("STAY", "198.51.100.11"))
    cases["watch_ages_out_silent_device_and_stops_on_sigterm"] = watch_removes(
        "1", device("ONCE", "198.51.100.10", answers=1), device("ALWAYS", "198.51.100.11"))
    lab.main(cases, outside=("lab_processes_end_with_it",))
