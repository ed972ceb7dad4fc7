#!/usr/bin/env python3
"""The package's firewall rules in Debian's own firewalld and ufw, each run with a
private configuration in the lab's mount and network namespaces, only inside
scripts/lab/lab.sh:  firewall_lab.py BUILD_DIR CASE"""
import json, os, shutil, subprocess, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import check, device

# Two boxes per protocol, one of each on both subnets.
BOXES = [device(i, a, protocols=[p]) for i, a, p in (("B10", "198.51.100.10", "broadcast"), ("B20", "203.0.113.10",
         "broadcast"), ("S11", "198.51.100.11", "ssdp"), ("S21", "203.0.113.11", "ssdp"))]
FILES = os.path.join(sys.argv[1] if len(sys.argv) > 1 else "", "packaging/firewall")


def run(*args):
    r = subprocess.run(args, capture_output=True, text=True, timeout=60)
    return r.returncode, r.stdout + r.stderr


def skip_without(*tools, probe=None, why=""):
    missing = [t for t in tools if not shutil.which(t)]
    status, out = (1, "not installed: " + " ".join(missing)) if missing else run(*probe) if probe else (0, "")
    if status != 0:
        print("SKIP: %s%s" % (why, out.strip()[-300:]))
        sys.exit(77)


def private(path, edit=lambda copy: None):
    """A scratch copy of path mounted over it: only this lab's mount namespace sees what changes there."""
    copy = os.path.join(lab.WORK, path.strip("/").replace("/", "_"))
    shutil.copytree(path, copy, symlinks=True) if os.path.isdir(path) else shutil.copy2(path, copy)
    edit(copy)
    subprocess.run(["mount", "--bind", copy, path], check=True)


def private_run():
    """A /run of its own: the system bus socket, ufw's lock."""
    subprocess.run(["mount", "-t", "tmpfs", "lab-run", "/run"], check=True)
    os.mkdir("/run/dbus")


def before_and_after(name, allow, fix, where=""):
    """No box through the firewall and doctor names it with the fix; every box once `allow` ran."""
    with lab.sim(BOXES):
        for allowed in (False, True):
            found = sorted(lab.scan(timeout="2")[0])
            status, out, _ = lab.cli("doctor", "--format", "json", "--timeout", "1")
            f = {f["check"]: f for f in json.loads(out)["findings"]}.get(name, {})
            check(found == (sorted(d["address"] for d in BOXES) if allowed else []), "found %s" % found)
            check((status, f.get("status")) == ((0, "ok") if allowed else (1, "blocking")) and
                  (allowed or where in f["message"] and f["fix"] == fix), "doctor: exit %d, %s" % (status, f))
            status, out = (0, "") if allowed else run(*allow)
            check(status == 0, "%s: %s" % (allow, out))


def firewalld_admits_every_answer_with_the_service_and_no_tcp():
    skip_without("firewalld", "firewall-offline-cmd", "dbus-daemon", "nft", probe=["nft", "-c", "add", "table", "ip", "p"],
                 why="nftables, firewalld's back end, cannot run in this network namespace: ")
    private("/etc/firewalld")
    private("/usr/lib/firewalld", lambda copy: shutil.copy(os.path.join(FILES, "nasscout.xml"), copy + "/services"))
    private_run()
    status, out = run("firewall-offline-cmd", "--check-config")
    check(status == 0, "the configuration with the package's service: %s" % out)
    subprocess.run(["dbus-daemon", "--system", "--fork", "--nopidfile"], check=True, timeout=30)
    log = lab.scratch(b"")
    daemon = lab.spawn(["firewalld", "--nofork", "--nopid", "--log-target", "console"], stdout=open(log, "w"),
                       stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 60
    while run("firewall-cmd", "--state")[1].strip() != "running":
        check(daemon.poll() is None and time.monotonic() < deadline, "firewalld did not start: " + open(log).read())
        time.sleep(0.2)
    status, out = run("firewall-cmd", "--info-service=nasscout")
    ports = [line.split()[1:] for line in out.splitlines() if line.strip().startswith("ports:")]
    check(status == 0 and ports == [["67/udp", "1900/udp", "1530-1850/udp"]] and "tcp" not in out, out)
    check(run("firewall-cmd", "--get-default-zone")[1].strip() == "public", "the default zone is not public")
    before_and_after("firewalld", ["firewall-cmd", "--add-service=nasscout"],
                     "sudo firewall-cmd --permanent --add-service=nasscout && sudo firewall-cmd --reload", "zone public")


def ufw_admits_every_answer_with_the_profile():
    skip_without("ufw")
    private("/etc/ufw", lambda copy: shutil.copy(os.path.join(FILES, "nasscout"), copy + "/applications.d"))
    # The kernel settings ufw applies are not what is tested here.
    private("/etc/default/ufw", lambda copy: subprocess.run(
        ["sed", "-i", "s|^IPT_SYSCTL=.*|IPT_SYSCTL=%s|" % lab.scratch(b""), copy], check=True))
    private_run()
    status, out = run("ufw", "app", "info", "nasscout")
    check(status == 0 and out.split("Ports:")[-1].split() == ["67,1900,1530:1850/udp"], "ufw app info: %s" % out)
    skip_without("iptables", probe=["ufw", "--force", "enable"], why="ufw cannot run in this network namespace: ")
    before_and_after("ufw", ["ufw", "allow", "nasscout"], "sudo ufw allow nasscout")


if __name__ == "__main__":
    lab.main({f.__name__: f for f in (firewalld_admits_every_answer_with_the_service_and_no_tcp,
                                      ufw_admits_every_answer_with_the_profile)})
