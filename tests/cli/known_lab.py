#!/usr/bin/env python3
"""The boxes nasscout-cli remembers, against nasscout-sim, only inside
scripts/lab/lab.sh:  known_lab.py BUILD_DIR CASE"""
import glob, json, os, stat, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import check, device

OLD, NEW, FAR = "198.51.100.10", "198.51.100.23", "198.18.10.20"
OFFICE = dict(host="nas-office", version="2.1.7")
# Notes every URL it is given, as the desktop's opener would take it.
OPENER = "#!/bin/sh\necho \"$1\" >>\"$OPENED\"\n"


def private_state():
    """A stand-in xdg-open first on PATH: the store's path (in the lab's own state folder)."""
    bin_dir = os.path.join(lab.WORK, "bin")
    os.makedirs(bin_dir)
    open(os.path.join(bin_dir, "xdg-open"), "w").write(OPENER)
    os.chmod(os.path.join(bin_dir, "xdg-open"), 0o755)
    os.environ.update(PATH=bin_dir + ":" + os.environ["PATH"], OPENED=os.path.join(lab.WORK, "opened"))
    return os.path.join(os.environ["XDG_STATE_HOME"], "nasscout", "boxes.db")


def known():
    status, out, err = lab.cli("known", "--format", "json")
    check(status == 0, "known: exit %d: %s" % (status, err))
    return json.loads(out)


def opened():
    path = os.environ["OPENED"]
    return open(path).read().split() if os.path.exists(path) else []


def moved_box_is_remembered_once_under_its_new_address():
    db = private_state()
    with lab.sim([device("A1", OLD, **OFFICE)]):
        lab.scan("--no-store")
        check(not os.path.exists(db), "--no-store wrote the store")
        # A damaged store is set aside, and the scan goes on with a new one.
        os.makedirs(os.path.dirname(db))
        open(db, "wb").write(b"not a database" * 100)
        found, err, _ = lab.scan()
    check(list(found) == [OLD], "found %s" % found)
    aside = glob.glob(db + ".bad-*")
    check(len(aside) == 1 and open(aside[0], "rb").read().startswith(b"not a database")
          and err.count("was damaged") == 1 and aside[0] in err, "damaged store: %s, %r" % (aside, err))
    with lab.sim([device("A1", NEW, **OFFICE)]):
        found, err, _ = lab.scan()
    check(list(found) == [NEW] and set(found[NEW]) >= {"id", "ip", "host", "type"}, "stdout changed shape: %s" % found)
    moved = [line for line in err.splitlines() if "is now at" in line]
    check(moved == ["nasscout-cli: nas-office (ORVALE A1) is now at %s, was %s" % (NEW, OLD)], "stderr: %r" % err)
    boxes = known()
    check(len(boxes) == 1, "remembered %s" % boxes)
    box = boxes[0]
    check(box["ip"] == NEW and [a["ip"] for a in box["addresses"]] == [OLD] and box["id"] == "A1"
          and box["version"] == "2.1.7" and box["protocols"] == ["broadcast", "ssdp"]
          and box["first_seen"] <= box["addresses"][0]["last_seen"] <= box["last_seen"]
          and box["last_seen"].endswith("Z"), "remembered %s" % box)
    check(stat.S_IMODE(os.stat(db).st_mode) == 0o600, "store mode %o" % os.stat(db).st_mode)


def watch_reports_a_box_announcing_from_another_address_as_moved():
    private_state()
    announcing = dict(answers=-1, announce=[{"at": 0.3 * k, "nts": "alive"} for k in range(1, 100)], **OFFICE)
    watch = lab.Watch("--interval", "60")
    for address in (OLD, NEW):
        with lab.sim([device("A1", address, **announcing)]):
            watch.until(lambda events: any(ip == address for _, ip, _, _ in events))
    got = [(event, moved_from, ip) for event, ip, _, moved_from in watch.stop()]
    check(got == [("added", None, OLD), ("moved", OLD, NEW)], "events: %s" % got)


def open_and_resolve_reach_the_current_address():
    private_state()
    twins = [device("T%d" % k, "198.51.100.%d" % (25 + k), "twin") for k in (1, 2)]
    with lab.sim([device("A1", OLD, **OFFICE)] + twins):
        lab.scan()
    with lab.sim([device("A1", NEW, **OFFICE)] + twins):
        for args, status, printed, url in ((["resolve", "nas-office"], 0, NEW + "\n", None),
                                           (["open", "NAS-Office"], 0, "", "http://" + NEW),
                                           (["open", "A1", "--share"], 0, "", "smb://" + NEW),
                                           (["resolve", "no-such-box", "--timeout", "1"], 3, "", None),
                                           (["open", "twin"], 4, "", None)):
            before, start = opened(), time.monotonic()
            got, out, err = lab.cli(*args, "--timeout", "30") if "--timeout" not in args else lab.cli(*args)
            check(got == status and out == printed and opened()[len(before):] == ([url] if url else []),
                  "%s: exit %d, stdout %r, opened %s, stderr %r" % (args, got, out, opened(), err))
            check(time.monotonic() - start < 10, "%s waited for the whole timeout" % args)
        # An address it had before still names it.
        check(lab.cli("resolve", OLD, "--timeout", "30")[1] == NEW + "\n", "resolve by the old address")
    status, _, err = lab.cli("resolve", "nas-office", "--timeout", "0.5")
    check(status == 3 and NEW in err, "a box that is gone: exit %d, %r" % (status, err))
    check(lab.cli("open")[0] == 2 and lab.cli("forget", "twin", "--all")[0] == 2, "bad arguments not refused")
    check(lab.cli("forget", "nas-office")[0] == 0 and {b["host"] for b in known()} == {"twin"}, "forget BOX")
    check(lab.cli("forget", "--all")[0] == 0 and lab.cli("known")[1] == "No boxes known.\n", "forget --all")


def routed_box_found_once_as_a_target_is_opened_by_name():
    private_state()
    with lab.sim([device("FAR1", FAR, "far-box", maker="VIRNO")], where=lab.IN_ROUTED):
        check(FAR in lab.scan("--target", FAR)[0], "not found as a target")
        status, _, err = lab.cli("open", "far-box", "--timeout", "30")
    check(status == 0 and opened() == ["http://" + FAR], "open: exit %d, opened %s, %r" % (status, opened(), err))


if __name__ == "__main__":
    lab.main({f.__name__: f for f in (
        moved_box_is_remembered_once_under_its_new_address, watch_reports_a_box_announcing_from_another_address_as_moved,
        open_and_resolve_reach_the_current_address, routed_box_found_once_as_a_target_is_opened_by_name)})
