#!/usr/bin/env python3
"""The package's firewall rules in Debian's own firewalld and ufw, each run with a
private configuration in the lab's mount and network namespaces, only inside
tests/lab/lab.sh:  firewall_lab.py BUILD_DIR CASE"""
import json, os, shutil, subprocess, sys, time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import check, device

# Two boxes per protocol, one of each on both subnets.
BOXES = [device("B10", "198.51.100.10", protocols=["broadcast"]), device("B20", "203.0.113.10", protocols=["broadcast"]),
         device("S11", "198.51.100.11", protocols=["ssdp"]), device("S21", "203.0.113.11", protocols=["ssdp"])]
ALL = sorted(d["address"] for d in BOXES)
PORTS = ["67", "1900", "1530-1850"]
BUILD = sys.argv[1] if len(sys.argv) > 1 else ""


def skip(why):
    print("SKIP: " + why)
    sys.exit(77)


def run(*args, limit=30):
    r = subprocess.run(args, capture_output=True, text=True, timeout=limit)
    return r.returncode, r.stdout + r.stderr


def private(path, edit=None):
    """A scratch copy of path mounted over it: this lab's mount namespace alone sees what changes there."""
    copy = os.path.join(lab.WORK, path.strip("/").replace("/", "_"))
    shutil.copytree(path, copy, symlinks=True) if os.path.isdir(path) else shutil.copy2(path, copy)
    if edit:
        edit(copy)
    subprocess.run(["mount", "--bind", copy, path], check=True)


def private_run():
    """A /run of its own: the system bus socket, ufw's lock."""
    subprocess.run(["mount", "-t", "tmpfs", "lab-run", "/run"], check=True)
    os.mkdir("/run/dbus")


def found():
    return sorted(lab.scan(timeout="2")[0])


def doctor():
    status, out, _ = lab.cli("doctor", "--format", "json", "--timeout", "1")
    return status, {f["check"]: f for f in json.loads(out)["findings"]}


def needs(*tools):
    missing = [t for t in tools if not shutil.which(t)]
    if missing:
        skip("not installed: " + " ".join(missing))


def firewalld_admits_every_answer_with_the_service_and_no_tcp():
    needs("firewalld", "firewall-cmd", "firewall-offline-cmd", "dbus-daemon", "nft")
    status, out = run("nft", "add", "table", "inet", "lab_probe")
    if status != 0:
        skip("nftables, firewalld's back end, cannot make a table in this network namespace: " + out.strip())
    run("nft", "delete", "table", "inet", "lab_probe")
    private("/etc/firewalld")
    private("/usr/lib/firewalld", lambda copy: shutil.copy(os.path.join(BUILD, "packaging/firewall/nasscout.xml"),
                                                           os.path.join(copy, "services")))
    private_run()
    status, out = run("firewall-offline-cmd", "--check-config")
    check(status == 0, "the configuration with the package's service: %s" % out)
    subprocess.run(["dbus-daemon", "--system", "--fork", "--nopidfile"], check=True, timeout=30)
    log = lab.scratch(b"")
    daemon = lab.spawn(["firewalld", "--nofork", "--nopid", "--log-target", "console"],
                       stdout=open(log, "w"), stderr=subprocess.STDOUT)
    deadline = time.monotonic() + 60
    while run("firewall-cmd", "--state")[1].strip() != "running":
        check(daemon.poll() is None and time.monotonic() < deadline,
              "firewalld did not start: %s" % open(log).read()[-2000:])
        time.sleep(0.2)
    status, out = run("firewall-cmd", "--info-service=nasscout")
    ports = [line.split(":", 1)[1].split() for line in out.splitlines() if line.strip().startswith("ports:")]
    check(status == 0 and ports == [[p + "/udp" for p in PORTS]] and "tcp" not in out, "the service: %s" % out)
    check(run("firewall-cmd", "--get-default-zone")[1].strip() == "public", "the default zone is not public")

    with lab.sim(BOXES):
        check(found() == [], "found through the public zone: %s" % found())
        status, findings = doctor()
        f = findings.get("firewalld", {})
        check(status == 1 and f.get("status") == "blocking" and "zone public" in f["message"]
              and f["fix"] == "sudo firewall-cmd --permanent --add-service=nasscout && sudo firewall-cmd --reload",
              "doctor: exit %d, %s" % (status, f))
        status, out = run("firewall-cmd", "--add-service=nasscout")
        check(status == 0, "--add-service: %s" % out)
        check(found() == ALL, "found with the service: %s" % found())
        status, findings = doctor()
        check(status == 0 and findings.get("firewalld", {}).get("status") == "ok",
              "doctor: exit %d, %s" % (status, findings))


def private_ufw():
    def profile(copy):
        shutil.copy(os.path.join(BUILD, "packaging/firewall/nasscout"), os.path.join(copy, "applications.d"))

    def no_sysctl(copy):  # the kernel settings ufw would apply are not what is tested
        text = open(copy).read().replace("IPT_SYSCTL=/etc/ufw/sysctl.conf", "IPT_SYSCTL=" + lab.scratch(b""))
        open(copy, "w").write(text)
    private("/etc/ufw", profile)
    private("/etc/default/ufw", no_sysctl)
    private_run()


def ufw_reads_the_profile():
    needs("ufw")
    private_ufw()
    status, out = run("ufw", "app", "info", "nasscout")
    check(status == 0 and out.split("Ports:")[-1].split() == ["67,1900,1530:1850/udp"], "ufw app info: %s" % out)


def ufw_admits_every_answer_with_the_profile():
    needs("ufw", "iptables")
    private_ufw()
    status, out = run("ufw", "--force", "enable")
    if status != 0 and "iptables" in out:
        skip("ufw's iptables cannot run in this network namespace: " + out.strip()[-300:])
    check(status == 0, "ufw enable: %s" % out)
    with lab.sim(BOXES):
        check(found() == [], "found through ufw: %s" % found())
        status, findings = doctor()
        f = findings.get("ufw", {})
        check(status == 1 and f.get("status") == "blocking" and f["fix"] == "sudo ufw allow nasscout",
              "doctor: exit %d, %s" % (status, f))
        status, out = run("ufw", "allow", "nasscout")
        check(status == 0, "ufw allow: %s" % out)
        check(found() == ALL, "found with the profile allowed: %s" % found())
        status, findings = doctor()
        check(status == 0 and findings.get("ufw", {}).get("status") == "ok", "doctor: exit %d, %s" % (status, findings))


if __name__ == "__main__":
    lab.main({"firewalld_admits_every_answer_with_the_service_and_no_tcp":
              firewalld_admits_every_answer_with_the_service_and_no_tcp,
              "ufw_reads_the_profile": ufw_reads_the_profile,
              "ufw_admits_every_answer_with_the_profile": ufw_admits_every_answer_with_the_profile})
