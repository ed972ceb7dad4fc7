#!/usr/bin/env python3
"""End-to-end runs of the real nasscout-cli against nasscout-sim, only inside
tests/lab/lab.sh:  cli_lab.py BUILD_DIR CASE"""
import datetime, glob, os, socket, subprocess, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import check, device


def scan_lists_accepted_devices_as_clean_json_and_logs():
    # Addresses of an interface that is down and of the loopback interface
    # cover no LAN: no search may start from them.
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
        logdir = os.path.join(lab.WORK, "logs")  # given without the final '/'
        os.mkdir(logdir)
        days = {datetime.date.today()}
        found, stderr = lab.scan("--log-dir", logdir, "--verbose")  # the engine's lines go to stderr
        days.add(datetime.date.today())
    check(sorted(found) == ["198.51.100.10", "198.51.100.11", "203.0.113.10", "203.0.113.12"], "found %s" % found)
    check(found["198.51.100.11"]["factory"] == "KESTIL" and found["203.0.113.12"]["host"] == "nas-f"
          and all(isinstance(d["type"], int) and isinstance(d["lifetime"], int) for d in found.values()),
          "wrong records: %s" % found)
    files = glob.glob(os.path.join(logdir, "*"))
    check([os.path.basename(f) for f in files] in [["%s-SearchDeviceLog.txt" % d] for d in days], "logs: %s" % files)
    text = open(files[0], "rb").read().decode(errors="replace")
    for needle in ("------Start Log System-------\r\n", "SendThread 67 : Init Search Device Work Thread Value",
                   "Get Current Local IP, IP = 198.51.100.1  *", "Get Current Local IP, IP = 203.0.113.1  *",
                   "SendMessage : pdhcp is NULL "):
        check(needle in text, "log lacks %r" % needle)
    for address in ("203.0.113.250", "198.51.100.250"):
        check(address not in text, "a search starts from %s: %s" % (address, text))
    check("SendThread 1900" in stderr and "NewDeviceInfo.factory" in stderr, "--verbose did not copy to stderr")


def watch_reports_byebye_removal():
    # No ageing pass within the long interval: a removal seen here comes from the byebye.
    with lab.sim([device("BYE1", "198.51.100.10", announce=[{"at": 1.0, "nts": "byebye"}]),
                  device("STAY", "198.51.100.11")]):
        watch = lab.Watch("--interval", "60")
        watch.until(lambda w: ("removed", "198.51.100.10") in w.events)
        watch.stop()
    e = watch.events
    check(e.index(("added", "198.51.100.10")) < e.index(("removed", "198.51.100.10"))
          and ("added", "198.51.100.11") in e and ("removed", "198.51.100.11") not in e, "wrong events: %s" % e)


def watch_ages_out_silent_device_and_stops_on_sigterm():
    with lab.sim([device("ONCE", "198.51.100.10", answers=1), device("ALWAYS", "198.51.100.11")]):
        watch = lab.Watch("--interval", "1")
        watch.until(lambda w: ("removed", "198.51.100.10") in w.events)
        watch.stop()  # checks the exit status after SIGTERM
    check(("added", "198.51.100.11") in watch.events and ("removed", "198.51.100.11") not in watch.events,
          "the answering device: %s" % watch.events)


def taken_port_67_is_reported_and_ssdp_still_works():
    with lab.sim([device("S10", "198.51.100.10", protocols=["ssdp"]), device("S20", "203.0.113.10", protocols=["ssdp"]),
                  device("B11", "198.51.100.11", protocols=["broadcast"])]):
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as holder:
            holder.bind(("0.0.0.0", 67))
            found, stderr = lab.scan()
    check(stderr.count("could not start on UDP port 67") == 1 and "Address already in use" in stderr,
          "port 67 failure not reported once with its reason: %r" % stderr)
    check(sorted(found) == ["198.51.100.10", "203.0.113.10"], "found %s" % found)


def bad_arguments_exit_2_with_usage():
    missing = os.path.join(lab.WORK, "no-such-dir")
    for args in (["scan", "--timeout", "-1"], ["scan", "--timeout", "nan"], ["scan", "--format", "xml"],
                 ["watch", "--rounds", "x"], ["watch", "--interval", "0"], ["scan", "--bogus"], [],
                 ["scan", "--log-dir", missing]):
        r = subprocess.run([lab.CLI, *args], capture_output=True, text=True, timeout=30)
        check(r.returncode == 2 and r.stdout == "" and r.stderr.startswith("nasscout-cli: ")
              and "Usage: nasscout-cli" in r.stderr, "%s: exit %d, stdout %r, stderr %r" % (
                  args, r.returncode, r.stdout, r.stderr))
    check("no-such-dir" in r.stderr, "the missing log dir is not named: %r" % r.stderr)  # the last run


if __name__ == "__main__":
    lab.main({f.__name__: f for f in (scan_lists_accepted_devices_as_clean_json_and_logs, watch_reports_byebye_removal,
                                      watch_ages_out_silent_device_and_stops_on_sigterm,
                                      taken_port_67_is_reported_and_ssdp_still_works, bad_arguments_exit_2_with_usage)})
