#!/usr/bin/env python3
"""Runs every command of README.md's sh and console blocks, as a user would in
a fresh clone after `make demo` and `make test`:  readme_test.py REPO

Each command runs from the top of the tree inside tests/lab/lab.sh, with the
demo network playing (commands that call lab.sh themselves build their own),
so nothing reaches a real network. Commands that change the machine run in a
safe form: `make` targets install into a scratch DESTDIR whose bin/ comes first
on PATH afterwards (so later commands see "installed" programs), `apt-get
install` only simulates, `sudo` is dropped. The set-up commands themselves are
not run. A console block's sample output must not name an address that the
real run did not print."""
import os, re, shlex, subprocess, sys, tempfile, time

SETUP = {"make demo", "make test"}
SKIPPED = "skipped"
ADDRESS = re.compile(r"\b(?:198\.51\.100|203\.0\.113|198\.18\.10)\.\d+\b")
PRELUDE = ('$LAB_IN_LAN nasscout-sim run --config demo/network.json --ready-file "$1" & sim=$!; '
           'until grep -qs ready "$1"; do kill -0 $sim || exit 97; sleep 0.05; done; '
           'export PATH="$2/usr/local/bin:$PATH"; ')


def commands(readme):
    """(command, sample output lines) for every command of the runnable blocks, in order."""
    blocks = re.findall(r"^```(sh|console|bash|shell)\n(.*?)^```", readme, re.S | re.M)
    for kind, body in blocks:
        pending, sample = None, []
        for line in body.splitlines():
            if pending is not None and not complete(pending):
                pending += "\n" + line
            elif kind != "console" or line.startswith("$ "):
                if pending is not None:
                    yield pending, sample
                pending, sample = line[2:] if kind == "console" else line, []
            elif pending is not None:
                sample.append(line)
        if pending is not None:
            yield pending, sample


def complete(text):
    try:
        return not text.endswith("\\") and shlex.split(text, comments=True) is not None
    except ValueError:  # an open quote continues on the next line
        return False


def safe_form(command, words, stage):
    if words[0] == "sudo":
        command, words = command.split("sudo", 1)[1], words[1:]
    if words[0] == "make":  # the build itself was done by the set-up commands
        words = ["make", "-o", "deps", "-o", "build"] + words[1:] + ["DESTDIR=" + stage]
    elif words[:2] == ["apt-get", "install"]:
        words = words[:2] + ["--simulate"] + words[2:]
    else:
        return command
    return " ".join(words)  # globs such as nasscout_*.deb stay for the shell


def run(repo, command, sample, stage, ready):
    words = shlex.split(command, comments=True)
    if not words or " ".join(words) in SETUP:
        return SKIPPED
    script = safe_form(command, words, stage)
    if words[0] == "tests/lab/lab.sh":  # builds its own lab
        args = ["bash", "-c", command]
    else:
        args = [os.path.join(repo, "tests/lab/lab.sh"), "bash", "-c", PRELUDE + script, "readme", ready, stage]
    endless = words[:2] == ["nasscout-cli", "watch"] and "--rounds" not in words
    out = tempfile.TemporaryFile()
    proc = subprocess.Popen(args, cwd=repo, stdout=out, stderr=subprocess.STDOUT)
    wanted = set(ADDRESS.findall("\n".join(sample)))
    deadline = time.monotonic() + 90
    while proc.poll() is None and time.monotonic() < deadline:
        out.seek(0)
        if endless and wanted <= set(ADDRESS.findall(out.read().decode(errors="replace"))):
            break  # a user would press Ctrl-C here
        time.sleep(0.2)
    still_running = proc.poll() is None
    proc.kill()
    proc.wait()
    if os.path.exists(ready):
        os.remove(ready)
    out.seek(0)
    text = out.read().decode(errors="replace")
    missing = wanted - set(ADDRESS.findall(text))
    if (proc.returncode != 0 and not (endless and still_running)) or missing:
        return "exit %s%s:\n%s" % (proc.returncode, missing and ", sample addresses not printed %s" % sorted(missing),
                                   text[-3000:])
    return None


def main():
    repo = os.path.abspath(sys.argv[1])
    if subprocess.run([os.path.join(repo, "tests/lab/lab.sh"), "true"]).returncode == 77:
        return 77
    with tempfile.TemporaryDirectory(prefix="readme-") as scratch:
        stage, ready = os.path.join(scratch, "stage"), os.path.join(scratch, "ready")
        failures = 0
        for command, sample in commands(open(os.path.join(repo, "README.md")).read()):
            problem = run(repo, command, sample, stage, ready)
            status = "skip" if problem is SKIPPED else "FAIL" if problem else "ok  "
            print("%s  %s" % (status, command.splitlines()[0]), flush=True)
            if problem and problem is not SKIPPED:
                failures += 1
                print(problem)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
