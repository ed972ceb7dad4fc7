#!/usr/bin/env python3
"""nasscout-cli doctor on machines where a search is blocked, or not, only inside
scripts/lab/lab.sh:  doctor_lab.py BUILD_DIR CASE"""
import json, os, subprocess, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import check, device

NOBODY = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"]
# A stateful desktop firewall: answers to a broadcast or multicast request match no connection.
STATEFUL = """table inet lab {
    chain input { type filter hook input priority filter; policy drop; ct state established,related accept; iif "lo" accept; }
}"""
BOXES = [device("B10", "198.51.100.10", "bcast-only", protocols=["broadcast"]),
         device("S10", "203.0.113.10", "ssdp-only", protocols=["ssdp"])]


def hold_1900():
    """A program that binds port 1900 without sharing it."""
    return "python3 (pid %d)" % os.getpid(), lab.udp(("0.0.0.0", 1900), reuse=False)


def no_default_route():
    subprocess.run(["ip", "route", "del", "default"], check=True)
    return "none", None


def stateful_firewall():
    subprocess.run(["nft", "-f", "-"], input=STATEFUL, text=True, check=True)
    return "chain inet lab input", None


# name: (setup returning (expected text, held object), prefix, exit status, the finding that shows it, boxes found)
CASES = {
    "unprivileged_user_is_told_port_67_and_its_fix": (
        lambda: ("UDP port 67", None), NOBODY, 1, ("port 67", "blocking", "sudo "), ["203.0.113.10"]),
    "port_1900_held_without_sharing_names_the_program": (
        hold_1900, [], 0, ("port 1900", "warning", "SO_REUSEADDR"), ["198.51.100.10", "203.0.113.10"]),
    "no_default_route_still_finds_both_boxes": (
        no_default_route, [], 0, ("default route", "ok", ""), ["198.51.100.10", "203.0.113.10"]),
    "firewall_that_drops_the_answers_blocks": (
        stateful_firewall, [], 1, ("nftables", "blocking", "sudo nft insert rule inet lab input udp dport { 67, 1900"), []),
    "everything_in_order_lists_the_boxes": (
        lambda: ("", None), [], 0, None, ["198.51.100.10", "203.0.113.10"]),
}


def run_case(setup, prefix, status, finding, boxes):
    text, held = setup()
    with lab.sim(BOXES):
        r = subprocess.run(prefix + [lab.CLI, "doctor", "--format", "json", "--timeout", "2"],
                           capture_output=True, text=True, timeout=60)
        people = subprocess.run(prefix + [lab.CLI, "doctor", "--timeout", "1"], capture_output=True, text=True,
                                timeout=60).stdout
    doc = json.loads(r.stdout)
    findings = {f["check"]: f for f in doc["findings"]}
    blocking = [f["check"] for f in doc["findings"] if f["status"] == "blocking"]
    check(r.returncode == status and doc["ok"] == (status == 0) and bool(blocking) == (status == 1),
          "exit %d, blocking %s: %s" % (r.returncode, blocking, r.stderr))
    if finding:
        name, state, fix = finding
        f = findings.get(name, {})
        check(f.get("status") == state and text in f["message"] and fix in f["fix"], "%s: %s" % (name, f))
        check(state == "ok" or people.splitlines()[2].startswith(state.upper()), "not first: %r" % people)
    check(sorted(d["ip"] for d in doc["search"]["devices"]) == boxes, "found %s" % doc["search"]["devices"])
    if boxes:  # the answers per protocol and interface, and the boxes for people
        answers = {(a["protocol"], a["interface"]) for a in doc["search"]["answers"]}
        check(("SSDP", "lan1") in answers and ("broadcast", "lan0") in answers or "198.51.100.10" not in boxes,
              "answers %s" % doc["search"]["answers"])
        check(all(b in people for b in boxes), "people's form lacks the boxes: %r" % people)
    if held is not None:
        held.close()


if __name__ == "__main__":
    lab.main({name: (lambda row: lambda: run_case(*row))(row) for name, row in CASES.items()})
