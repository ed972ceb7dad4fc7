#!/usr/bin/env python3
"""The window in the lab: scripts/lab/lab.sh window_lab.py BUILD_DIR CASE DEVICES
runs nasscout as installed while the devices of DEVICES answer, on the LAN
(program) or behind the lab's router (targets)."""
import json, os, re, shutil, subprocess, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "lab"))
import labkit as lab
from labkit import check


PLATFORM = {"QT_QPA_PLATFORM": "offscreen"}


def window(*args, env=None, tick="100"):
    env = env or dict(os.environ, **PLATFORM, NASSCOUT_TICK_MS=tick, XDG_CONFIG_HOME=lab.WORK,
                      NASSCOUT_SCREENSHOT=os.path.join(lab.WORK, "window.png"))  # the user's settings stay out
    r = subprocess.run([lab.WINDOW, *args], env=env, capture_output=True, text=True, timeout=60)
    check(r.returncode == 0, "nasscout %s exited with %d: %s" % (args, r.returncode, r.stdout + r.stderr))
    return r.stdout + r.stderr


def program(devices):
    bare = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM")}
    check(window("--help", env=bare).startswith("Usage: nasscout"), "--help printed no usage")
    check(re.match(r"nasscout \d+\.\d+", window("--version", env=bare)), "--version printed no version")
    with open(devices) as config, lab.sim(config=json.load(config)):
        quiet = window()
        with open(os.path.join(lab.WORK, "window.png"), "rb") as shot:
            check(shot.read(8) == b"\x89PNG\r\n\x1a\n", "no PNG written")
        verbose = window("--verbose", tick="300")  # time for the delayed device
    check(not re.search("awakeFromNib|fileToOpen|KEY1=|vListDevice", quiet), "diagnostics without --verbose")
    for line in (r"nasscout.*application awakeFromNib\.{8}", "fileToOpen = .*/lang/XML_",
                 r"vListDevice\.size\(\) = 2"):
        check(re.search(line, verbose), "no %r with --verbose: %s" % (line, verbose))


def targets(devices):
    """A box behind the router hears only unicast: it is listed once the settings name it."""
    with open(devices) as config, lab.sim(config=json.load(config), where=lab.IN_ROUTED):
        check(not re.search(r"vListDevice\.size\(\) = [1-9]", window("--verbose")), "listed without being named")
        os.makedirs(os.path.join(lab.WORK, "nasscout"))
        with open(os.path.join(lab.WORK, "nasscout", "nasscout.conf"), "w") as settings:
            settings.write("[General]\ntargets=198.18.10.20\n")
        check("vListDevice.size() = 1" in window("--verbose"), "the box named in the settings was not listed")


def wayland(devices):
    """The program case again, on a headless weston of the lab's own (its PID namespace ends it)."""
    runtime = os.path.join(lab.WORK, "runtime")
    os.mkdir(runtime)
    os.chmod(runtime, 0o700)
    log = open(runtime + ".log", "w+")
    proc = shutil.which("weston") and lab.spawn(
        ["weston", "--backend=headless-backend.so", "--socket=w1", "--no-config", "--idle-time=0"],
        env=dict(os.environ, XDG_RUNTIME_DIR=runtime), stdout=log, stderr=subprocess.STDOUT)
    try:
        check(proc, "no weston on PATH")
        lab.wait_for(lambda: os.path.exists(os.path.join(runtime, "w1")), "weston's socket", limit=20, proc=proc)
    except lab.Failure as e:
        log.seek(0)
        print("SKIP wayland: weston could not start: %s %s" % (e, log.read()[-400:]), file=sys.stderr)
        sys.exit(77)
    PLATFORM.update(QT_QPA_PLATFORM="wayland", WAYLAND_DISPLAY="w1", XDG_RUNTIME_DIR=runtime)
    program(devices)
    check(proc.poll() is None, "weston ended while the window ran")


if __name__ == "__main__":
    lab.main({"program": program, "targets": targets, "wayland": wayland})
