#!/usr/bin/env python3
"""End-to-end runs of the real nasscout-cli against nasscout-sim.

Run only through tests/lab/lab.sh, which builds the namespaces and exports
LAB_IN_LAN; this script refuses to run anywhere else.

    lab.sh -- python3 cli_lab.py --cli PATH --sim PATH CASE
"""
import argparse
import datetime
import glob
import json
import os
import queue
import shlex
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time

CASES = {}


def case(fn):
    CASES[fn.__name__] = fn
    return fn


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def device(ident, address, host, maker="ORVALE", product="DS-220", **extra):
    d = {"id": ident, "address": address, "host": host, "maker": maker, "product": product, "version": "2.1.7"}
    d.update(extra)
    return d


class Lab:
    def __init__(self, args, workdir):
        self.cli = args.cli
        self.sim_path = args.sim
        self.workdir = workdir
        self.sims = []

    def start_sim(self, devices, duration=40):
        config = os.path.join(self.workdir, "sim%d.json" % len(self.sims))
        ready = config + ".ready"
        with open(config, "w") as f:
            json.dump({"devices": devices}, f)
        err = open(config + ".err", "w")
        cmd = shlex.split(os.environ["LAB_IN_LAN"]) + [
            self.sim_path, "run", "--config", config, "--duration", str(duration), "--ready-file", ready]
        proc = subprocess.Popen(cmd, stdout=subprocess.DEVNULL, stderr=err)
        self.sims.append(proc)
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline:
            if os.path.exists(ready) and "ready" in open(ready).read():
                return
            if proc.poll() is not None:
                break
            time.sleep(0.05)
        raise Failure("nasscout-sim did not get ready: " + open(config + ".err").read())

    def run_cli(self, *args, timeout=30):
        return subprocess.run([self.cli, *args], capture_output=True, timeout=timeout)

    def stop(self):
        for proc in self.sims:
            if proc.poll() is None:
                proc.terminate()
                try:
                    proc.wait(5)
                except subprocess.TimeoutExpired:
                    proc.kill()


def scan_json(lab, *extra):
    result = lab.run_cli("scan", "--format", "json", "--timeout", "3", *extra)
    check(result.returncode == 0, "scan exited %d: %s" % (result.returncode, result.stderr.decode(errors="replace")))
    try:
        devices = json.loads(result.stdout)
    except ValueError as e:
        raise Failure("stdout is not one JSON document (%s): %r" % (e, result.stdout[:400]))
    check(isinstance(devices, list), "stdout is not a JSON array")
    return devices, result.stderr.decode(errors="replace")


class Watch:
    """A running `watch` whose jsonl events are read as they come."""

    def __init__(self, lab, *args):
        self.proc = subprocess.Popen([lab.cli, "watch", "--format", "jsonl", *args],
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.events = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()
        self.seen = []

    def _read(self):
        for line in self.proc.stdout:
            self.events.put(line)
        self.events.put(None)

    def until(self, predicate, limit=30):
        """Collects events until predicate(seen) holds; fails after `limit` seconds."""
        deadline = time.monotonic() + limit
        while not predicate(self.seen):
            try:
                line = self.events.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                raise Failure("watch gave no expected event; seen: %s" % self.summary())
            if line is None:
                raise Failure("watch ended early (%s); seen: %s" % (self.proc.wait(), self.summary()))
            self._record(line)

    def _record(self, line):
        try:
            event = json.loads(line)
        except ValueError:
            raise Failure("not a JSON line: %r" % line)
        check(set(event) == {"event", "device"}, "unexpected keys in %r" % line)
        self.seen.append((event["event"], event["device"]["ip"]))

    def finish(self):
        """Waits for the end, collecting every remaining event; returns the exit status."""
        status = self.proc.wait(30)
        while (line := self.events.get(timeout=5)) is not None:
            self._record(line)
        return status

    def summary(self):
        return ", ".join("%s %s" % e for e in self.seen) or "nothing"


@case
def scan_lists_accepted_devices_once(lab):
    lab.start_sim([
        device("A10", "198.51.100.10", "nas-a"),
        device("B11", "198.51.100.11", "nas-b", maker="kestil", protocols=["broadcast"]),
        device("C12", "198.51.100.12", "nas-c", maker="ACME"),
        device("D10", "203.0.113.10", "nas-d", maker="TAMBU", protocols=["ssdp"]),
        device("E11", "203.0.113.11", "nas-e", maker="VIRNO ", protocols=["ssdp"]),
        device("F12", "203.0.113.12", "nas-f", maker="Solbrix", product="MX-2"),
        device("G13", "198.51.100.13", "nas-g", maker="SOLBRIXX", protocols=["broadcast"]),
    ])
    devices, _ = scan_json(lab)
    ips = [d["ip"] for d in devices]
    check(sorted(ips) == ["198.51.100.10", "198.51.100.11", "203.0.113.10", "203.0.113.12"],
          "unexpected devices: %s" % ips)
    by_ip = {d["ip"]: d for d in devices}
    check(by_ip["198.51.100.11"]["factory"] == "KESTIL", "maker not upper-cased: %r" % by_ip["198.51.100.11"])
    check(by_ip["203.0.113.12"]["host"] == "nas-f" and by_ip["203.0.113.12"]["product"] == "MX-2",
          "wrong record: %r" % by_ip["203.0.113.12"])
    for d in devices:
        check(isinstance(d["type"], int) and isinstance(d["lifetime"], int), "types wrong in %r" % d)


@case
def watch_reports_byebye_removal(lab):
    # One round only: its single ageing pass cannot remove a fresh record, so
    # a removal seen here comes from the byebye.
    lab.start_sim([
        device("BYE1", "198.51.100.10", "leaving", announce=[{"at": 3.0, "nts": "byebye"}]),
        device("STAY", "198.51.100.11", "staying"),
    ])
    watch = Watch(lab, "--interval", "6", "--rounds", "1")
    watch.until(lambda s: ("removed", "198.51.100.10") in s)
    status = watch.finish()
    check(status == 0, "watch exited %d" % status)
    check(("added", "198.51.100.10") in watch.seen and ("added", "198.51.100.11") in watch.seen,
          "devices not added: %s" % watch.summary())
    check(watch.seen.index(("added", "198.51.100.10")) < watch.seen.index(("removed", "198.51.100.10")),
          "removed before added: %s" % watch.summary())
    check(("removed", "198.51.100.11") not in watch.seen, "a live device was removed: %s" % watch.summary())


@case
def watch_ages_out_silent_device_and_stops_on_sigterm(lab):
    lab.start_sim([
        device("ONCE", "198.51.100.10", "silent", answers=1),
        device("ALWAYS", "198.51.100.11", "chatty"),
    ])
    watch = Watch(lab, "--interval", "1")
    watch.until(lambda s: ("removed", "198.51.100.10") in s)
    watch.proc.send_signal(signal.SIGTERM)
    status = watch.finish()
    check(status == 0, "watch did not end cleanly on SIGTERM: %d" % status)
    check(("added", "198.51.100.11") in watch.seen, "answering device missing: %s" % watch.summary())
    check(("removed", "198.51.100.11") not in watch.seen, "answering device aged out: %s" % watch.summary())


@case
def log_dir_writes_dated_log_and_stdout_stays_clean(lab):
    lab.start_sim([device("A10", "198.51.100.10", "nas-a")])
    logdir = os.path.join(lab.workdir, "logs")  # given without the final '/'
    os.mkdir(logdir)
    days = {datetime.date.today()}
    devices, stderr = scan_json(lab, "--log-dir", logdir, "--verbose")
    days.add(datetime.date.today())
    check([d["ip"] for d in devices] == ["198.51.100.10"], "unexpected devices: %s" % devices)
    files = [os.path.basename(p) for p in glob.glob(os.path.join(logdir, "*"))]
    check(len(files) == 1 and files[0] in {"%s-SearchDeviceLog.txt" % d.isoformat() for d in days},
          "unexpected log files: %s" % files)
    text = open(os.path.join(logdir, files[0]), "rb").read().decode(errors="replace")
    check(text.startswith("------Start Log System-------\r\n"), "no banner: %r" % text[:80])
    for needle in ("SendThread 67 : Init Search Device Work Thread Value",
                   "SendThread 1900 : Init Search Device Work Thread Value",
                   "Get Current Local IP, IP = 198.51.100.1  ",
                   "Get Current Local IP, IP = 203.0.113.1  ",
                   "SendMessage : pdhcp is NULL "):
        check(needle in text, "log lacks %r" % needle)
    check("SendThread 1900" in stderr and "NewDeviceInfo.factory" in stderr,
          "--verbose did not copy the engine's lines to stderr")


@case
def taken_port_67_is_reported_and_ssdp_still_works(lab):
    lab.start_sim([
        device("S10", "198.51.100.10", "ssdp-one", protocols=["ssdp"]),
        device("S20", "203.0.113.10", "ssdp-two", protocols=["ssdp"]),
        device("B11", "198.51.100.11", "bcast-only", protocols=["broadcast"]),
    ])
    holder = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    holder.bind(("0.0.0.0", 67))
    try:
        devices, stderr = scan_json(lab)
    finally:
        holder.close()
    check(stderr.count("could not start on UDP port 67") == 1, "port 67 failure not reported once: %r" % stderr)
    check("Address already in use" in stderr, "reason missing: %r" % stderr)
    check(sorted(d["ip"] for d in devices) == ["198.51.100.10", "203.0.113.10"],
          "unexpected devices: %s" % devices)


@case
def bad_arguments_exit_2_with_usage(lab):
    missing = os.path.join(lab.workdir, "no-such-dir")
    for args in (["scan", "--timeout", "-1"], ["scan", "--format", "xml"], ["watch", "--rounds", "x"],
                 ["watch", "--interval", "0"], ["scan", "--bogus"], [], ["scan", "--log-dir", missing]):
        result = lab.run_cli(*args, timeout=10)
        err = result.stderr.decode(errors="replace")
        check(result.returncode == 2, "%s exited %d" % (args, result.returncode))
        check(result.stdout == b"", "%s wrote to stdout: %r" % (args, result.stdout))
        check("Usage: nasscout-cli" in err and err.startswith("nasscout-cli: "), "%s: stderr %r" % (args, err))
    check("no-such-dir" in lab.run_cli("scan", "--log-dir", missing).stderr.decode(), "log dir not named")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    if "LAB_IN_LAN" not in os.environ:
        print("cli_lab.py: must run inside tests/lab/lab.sh", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="cli-lab-") as workdir:
        lab = Lab(args, workdir)
        try:
            CASES[args.case](lab)
        except (Failure, subprocess.TimeoutExpired) as e:
            print("FAIL %s: %s" % (args.case, e), file=sys.stderr)
            return 1
        finally:
            lab.stop()
    print("PASS %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
