#!/usr/bin/env python3
"""Targets beyond the router, end to end: nasscout-cli against nasscout-sim on
the lab's routed subnet, only inside tests/lab/lab.sh:  targets_lab.py BUILD_DIR CASE"""
import glob, json, os, pty, socket, subprocess, sys, tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import check

FAR, FAR2 = "198.18.10.20", "198.18.10.21"


def far_devices():
    """Two boxes on the routed subnet, which only targets reach."""
    return lab.sim([dict(id="FAR%d" % k, address=a, host="far-%d" % k, maker="VIRNO") for k, a in ((1, FAR), (2, FAR2))],
                   where=lab.IN_ROUTED)


def run(*args, stderr=subprocess.PIPE):
    return subprocess.run([lab.CLI, *args], stdout=subprocess.PIPE, stderr=stderr, timeout=40)


def scan(*args):
    """Listed addresses (one per entry, so a double shows twice), the log text and stderr."""
    logdir = tempfile.mkdtemp(dir=lab.WORK)
    result = run("scan", "--format", "json", "--timeout", "2", "--log-dir", logdir, *args)
    err = result.stderr.decode(errors="replace")
    check(result.returncode == 0, "scan %s exited %d: %s" % (args, result.returncode, err))
    log = "".join(open(f, errors="replace").read() for f in glob.glob(os.path.join(logdir, "*")))
    return sorted(d["ip"] for d in json.loads(result.stdout)), log, err


def handed_over(log, ip):
    """Ports of the workers that handed a record from ip over."""
    return {int(line.split()[1]) for line in log.splitlines()
            if line.startswith("Handle ") and "Find Device ID" in line and "IP : %s " % ip in line}


def routed_box_is_found_only_as_a_target_by_both_protocols():
    found, _, _ = scan()
    check(FAR not in found, "found without targets: %s" % found)
    for spec, expected in (("198.18.10.0/24", [FAR, FAR2]), (FAR, [FAR])):
        found, log, err = scan("--target", spec, "--rate", "5000")
        check([ip for ip in found if ip.startswith("198.18.10.")] == expected, "--target %s listed %s" % (spec, found))
        check(handed_over(log, FAR) == {67, 1900}, "--target %s: %s handed over by %s" % (spec, FAR, handed_over(log, FAR)))
        check("asking targets" not in err, "progress on a stderr that is no terminal: %r" % err)
    watch = run("watch", "--rounds", "1", "--interval", "1", "--format", "jsonl", "--target", FAR)
    events = [json.loads(line) for line in watch.stdout.splitlines()]
    check(watch.returncode == 0 and [(e["event"], e["device"]["ip"]) for e in events] == [("added", FAR)],
          "watch: exit %d, %s" % (watch.returncode, events))
    master, slave = pty.openpty()
    run("scan", "--timeout", "0", "--target", "198.18.10.0/24", "--rate", "500", stderr=slave)
    os.close(slave)
    check(b"asking targets: " in os.read(master, 65536), "no progress on a terminal")


def sweep_falls_back_when_ports_67_and_1900_are_taken():
    holders = []
    for port in (67, 1900):
        holders.append(socket.socket(socket.AF_INET, socket.SOCK_DGRAM))
        holders[-1].bind(("0.0.0.0", port))
    # From the per-address worker of the route (1530), and without those
    # workers from one on a port the system picks; the request always from one.
    for extra, ssdp_ports in (((), {1530}), (("--single-address",), None)):
        found, log, _ = scan("--target", FAR, *extra)
        ports = handed_over(log, FAR)
        check(found == [FAR] and len(ports) == 2 and not ports & {67, 1900} and (ssdp_ports is None or ssdp_ports < ports),
              "%s: listed %s, handed over by %s" % (extra, found, ports))


def bad_targets_and_rates_exit_2_with_one_line():
    for args, named in ((["--target", "/8"], "'/8'"), (["--target", "300.1.1.1"], "'300.1.1.1'"),
                        (["--target", "10.0.0.0/33"], "'10.0.0.0/33'"), (["--target", "nas.example.org"], "nas.example"),
                        (["--target", ""], "''"), (["--target", "10.0.0.1,,10.0.0.2"], "'10.0.0.1,,10.0.0.2'"),
                        (["--rate", "0"], "'0'"), (["--rate", "100001"], "'100001'"), (["--rate", "fast"], "'fast'")):
        for command in ("scan", "watch"):
            result = run(command, *args)
            err = result.stderr.decode(errors="replace")
            check(result.returncode == 2 and result.stdout == b"" and err.count("\n") == 1
                  and err.startswith("nasscout-cli: ") and named in err,
                  "%s %s: exit %d, stderr %r" % (command, args, result.returncode, err))


def with_far_devices(case):
    with far_devices():
        case()


if __name__ == "__main__":
    lab.main({f.__name__: (lambda f=f: with_far_devices(f)) for f in (
        routed_box_is_found_only_as_a_target_by_both_protocols, sweep_falls_back_when_ports_67_and_1900_are_taken,
        bad_targets_and_rates_exit_2_with_one_line)})
