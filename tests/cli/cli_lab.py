#!/usr/bin/env python3
"""End-to-end runs of the real nasscout-cli against nasscout-sim, only inside
tests/lab/lab.sh (which exports LAB_IN_LAN):  cli_lab.py --cli PATH --sim PATH CASE"""
import argparse, datetime, glob, json, os, queue, shlex, signal, socket, subprocess, sys, tempfile, threading, time


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def device(ident, address, host, maker="ORVALE", **extra):
    return dict(id=ident, address=address, host=host, maker=maker, product="DS-220", version="2.1.7", **extra)


class Lab:
    def __init__(self, args, workdir):
        self.cli, self.sim, self.workdir, self.sims = args.cli, args.sim, workdir, []

    def start_sim(self, *devices):
        config = os.path.join(self.workdir, "sim.json")
        with open(config, "w") as f:
            json.dump({"devices": devices}, f)
        self.sims.append(subprocess.Popen(shlex.split(os.environ["LAB_IN_LAN"]) + [
            self.sim, "run", "--config", config, "--duration", "40", "--ready-file", config + ".ready"],
            stdout=subprocess.DEVNULL, stderr=open(config + ".err", "w")))
        for _ in range(200):
            if os.path.exists(config + ".ready") and "ready" in open(config + ".ready").read():
                return
            time.sleep(0.05)
        raise Failure("nasscout-sim did not get ready: " + open(config + ".err").read())

    def run_cli(self, *args):
        return subprocess.run([self.cli, *args], capture_output=True, timeout=30)

    def scan_json(self, *extra):
        result = self.run_cli("scan", "--format", "json", "--timeout", "3", *extra)
        stderr = result.stderr.decode(errors="replace")
        check(result.returncode == 0, "scan exited %d: %s" % (result.returncode, stderr))
        try:
            devices = json.loads(result.stdout)
        except ValueError as e:
            raise Failure("stdout is not one JSON document (%s): %r" % (e, result.stdout[:400]))
        check(isinstance(devices, list), "stdout is not a JSON array")
        return {d["ip"]: d for d in devices}, stderr


class Watch:
    """A running `watch`; its jsonl events are collected as (event, ip) pairs."""

    def __init__(self, lab, *args):
        self.proc = subprocess.Popen([lab.cli, "watch", "--format", "jsonl", *args], stdout=subprocess.PIPE)
        self.lines, self.seen = queue.Queue(), []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def next(self, timeout):
        line = self.lines.get(timeout=timeout)
        if line is not None:
            event = json.loads(line)
            check(set(event) == {"event", "device"}, "unexpected keys in %r" % line)
            self.seen.append((event["event"], event["device"]["ip"]))
        return line

    def until(self, wanted):
        deadline = time.monotonic() + 30
        while wanted not in self.seen:
            check(self.next(max(0.0, deadline - time.monotonic())) is not None, "watch ended early")

    def finish(self):
        status = self.proc.wait(30)
        while self.next(5) is not None:
            pass
        return status


def scan_lists_accepted_devices_as_clean_json_and_logs(lab):
    lab.start_sim(device("A10", "198.51.100.10", "nas-a"),
                  device("B11", "198.51.100.11", "nas-b", maker="kestil", protocols=["broadcast"]),
                  device("C12", "198.51.100.12", "nas-c", maker="ACME"),
                  device("D10", "203.0.113.10", "nas-d", maker="TAMBU", protocols=["ssdp"]),
                  device("E11", "203.0.113.11", "nas-e", maker="VIRNO ", protocols=["ssdp"]),
                  device("F12", "203.0.113.12", "nas-f", maker="Solbrix"),
                  device("G13", "198.51.100.13", "nas-g", maker="SOLBRIXX", protocols=["broadcast"]))
    logdir = os.path.join(lab.workdir, "logs")  # given without the final '/'
    os.mkdir(logdir)
    days = {datetime.date.today()}
    found, stderr = lab.scan_json("--log-dir", logdir, "--verbose")  # the engine's lines go to stderr
    days.add(datetime.date.today())
    check(sorted(found) == ["198.51.100.10", "198.51.100.11", "203.0.113.10", "203.0.113.12"], "found %s" % found)
    check(found["198.51.100.11"]["factory"] == "KESTIL" and found["203.0.113.12"]["host"] == "nas-f"
          and all(isinstance(d["type"], int) and isinstance(d["lifetime"], int) for d in found.values()),
          "wrong records: %s" % found)
    files = glob.glob(os.path.join(logdir, "*"))
    check([os.path.basename(f) for f in files] in [["%s-SearchDeviceLog.txt" % d] for d in days], "logs: %s" % files)
    text = open(files[0], "rb").read().decode(errors="replace")
    for needle in ("------Start Log System-------\r\n", "SendThread 67 : Init Search Device Work Thread Value",
                   "Get Current Local IP, IP = 198.51.100.1  ", "Get Current Local IP, IP = 203.0.113.1  ",
                   "SendMessage : pdhcp is NULL "):
        check(needle in text, "log lacks %r" % needle)
    check("SendThread 1900" in stderr and "NewDeviceInfo.factory" in stderr, "--verbose did not copy to stderr")


def watch_reports_byebye_removal(lab):
    # One round only: its single ageing pass cannot remove a fresh record, so
    # a removal seen here comes from the byebye.
    lab.start_sim(device("BYE1", "198.51.100.10", "leaving", announce=[{"at": 3.0, "nts": "byebye"}]),
                  device("STAY", "198.51.100.11", "staying"))
    watch = Watch(lab, "--interval", "6", "--rounds", "1")
    watch.until(("removed", "198.51.100.10"))
    check(watch.finish() == 0, "watch failed")
    check(watch.seen.index(("added", "198.51.100.10")) < watch.seen.index(("removed", "198.51.100.10"))
          and ("added", "198.51.100.11") in watch.seen and ("removed", "198.51.100.11") not in watch.seen,
          "wrong events: %s" % watch.seen)


def watch_ages_out_silent_device_and_stops_on_sigterm(lab):
    lab.start_sim(device("ONCE", "198.51.100.10", "silent", answers=1), device("ALWAYS", "198.51.100.11", "chatty"))
    watch = Watch(lab, "--interval", "1")
    watch.until(("removed", "198.51.100.10"))
    watch.proc.send_signal(signal.SIGTERM)
    check(watch.finish() == 0, "watch did not end cleanly on SIGTERM")
    check(("added", "198.51.100.11") in watch.seen and ("removed", "198.51.100.11") not in watch.seen,
          "the answering device: %s" % watch.seen)


def taken_port_67_is_reported_and_ssdp_still_works(lab):
    lab.start_sim(device("S10", "198.51.100.10", "ssdp-one", protocols=["ssdp"]),
                  device("S20", "203.0.113.10", "ssdp-two", protocols=["ssdp"]),
                  device("B11", "198.51.100.11", "bcast-only", protocols=["broadcast"]))
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as holder:
        holder.bind(("0.0.0.0", 67))
        found, stderr = lab.scan_json()
    check(stderr.count("could not start on UDP port 67") == 1 and "Address already in use" in stderr,
          "port 67 failure not reported once with its reason: %r" % stderr)
    check(sorted(found) == ["198.51.100.10", "203.0.113.10"], "found %s" % found)


def bad_arguments_exit_2_with_usage(lab):
    missing = os.path.join(lab.workdir, "no-such-dir")
    for args in (["scan", "--timeout", "-1"], ["scan", "--format", "xml"], ["watch", "--rounds", "x"],
                 ["watch", "--interval", "0"], ["scan", "--bogus"], [], ["scan", "--log-dir", missing]):
        result = lab.run_cli(*args)
        err = result.stderr.decode(errors="replace")
        check(result.returncode == 2 and result.stdout == b"" and err.startswith("nasscout-cli: ")
              and "Usage: nasscout-cli" in err, "%s: exit %d, stdout %r, stderr %r" % (
                  args, result.returncode, result.stdout, err))
    check("no-such-dir" in err, "the missing log dir is not named: %r" % err)  # the last run


def main():
    cases = {f.__name__: f for f in (scan_lists_accepted_devices_as_clean_json_and_logs, watch_reports_byebye_removal,
                                     watch_ages_out_silent_device_and_stops_on_sigterm,
                                     taken_port_67_is_reported_and_ssdp_still_works, bad_arguments_exit_2_with_usage)}
    parser = argparse.ArgumentParser()
    parser.add_argument("--cli", required=True)
    parser.add_argument("--sim", required=True)
    parser.add_argument("case", choices=sorted(cases))
    args = parser.parse_args()
    if "LAB_IN_LAN" not in os.environ:
        print("cli_lab.py: must run inside tests/lab/lab.sh", file=sys.stderr)
        return 2
    with tempfile.TemporaryDirectory(prefix="cli-lab-") as workdir:
        lab = Lab(args, workdir)
        try:
            cases[args.case](lab)
        except (Failure, subprocess.TimeoutExpired, queue.Empty) as e:
            print("FAIL %s: %s" % (args.case, e), file=sys.stderr)
            return 1
        finally:
            for proc in lab.sims:
                proc.terminate()
                proc.wait(5)
    print("PASS %s" % args.case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
