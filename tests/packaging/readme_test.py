#!/usr/bin/env python3
"""Runs every command of README.md's sh and console blocks as a user would after `make demo` and
`make test`, inside scripts/lab/lab.sh with the demo network playing: readme_test.py REPO. No `sudo`;
`make` installs into a scratch DESTDIR put first on PATH; `apt-get install` simulates. Endless programs
stop once the demo addresses of their sample output showed, or after 5 s."""
import json, os, re, shlex, subprocess, sys, tempfile, time

# Targets never run: the set-up itself, whole test runs (no recursion), long
# runs, and what deletes the build or rewrites files of the tree.
NOT_RUN = {"demo", "test", "test-default", "test-asan", "test-tsan", "coverage", "bench", "fuzz", "clean", "screenshot"}
# They change the machine's firewall or installed files; the firewall lab and installed-package tests run them.
MACHINE_WIDE = {"firewall-cmd", "ufw", "setcap"}
ADDRESS = re.compile(r"\b\d+\.\d+\.\d+\.\d+\b")
# Command words, and the option that makes such a command end by itself.
ENDLESS = ((["nasscout-cli", "watch"], "--rounds"), (["nasscout-sim", "run"], "--duration"), (["nasscout"], None),
           (["make", "run"], None))
PRELUDE = ('ready=$(mktemp -u); $LAB_IN_LAN nasscout-sim run --config demo/network.json --ready-file $ready & '
           'until grep -qs ready $ready; do kill -0 $! || exit 97; sleep 0.05; done; export PATH="$1/usr/local/bin:$PATH"; ')


def commands(readme):
    """[command, sample output] of the runnable blocks, in order; an unfinished line goes on in the next."""
    for kind, body in re.findall(r"^```(sh|console|bash|shell)\n(.*?)^```", readme, re.S | re.M):
        found = []
        for line in body.splitlines():
            if found and not complete(found[-1][0]):
                found[-1][0] += "\n" + line
            elif kind != "console" or line.startswith("$ "):
                found.append([line[2:] if kind == "console" else line, ""])
            elif found:
                found[-1][1] += line + "\n"
        yield from found


def complete(text):
    try:
        shlex.split(text, comments=True)
    except ValueError:  # an open quote goes on in the next line
        return False
    return not text.endswith("\\")


def run(repo, command, words, wanted, stage):
    """Why the command failed, or None."""
    if words[0] == "make":  # the build itself is done by the set-up commands
        command = " ".join(["make", "-o", "deps", "-o", "build"] + words[1:] + ["DESTDIR=" + stage])
    elif words[:2] == ["apt-get", "install"]:
        command = " ".join(words[:2] + ["--simulate"] + words[2:])  # globs stay for the shell
    elif command.startswith("sudo"):
        command = command[4:]
    args = ["bash", "-c", command] if words[0] == "scripts/lab/lab.sh" else [
        os.path.join(repo, "scripts/lab/lab.sh"), "bash", "-c", PRELUDE + command, "readme", stage]
    endless = any(words[:len(start)] == start and end not in words for start, end in ENDLESS)
    out = tempfile.TemporaryFile()
    proc = subprocess.Popen(args, cwd=repo, stdout=out, stderr=subprocess.STDOUT,
                            env=dict(os.environ, QT_QPA_PLATFORM="offscreen"))
    started = time.monotonic()

    def printed():
        out.seek(0)
        return out.read().decode(errors="replace")

    while proc.poll() is None and time.monotonic() < started + 90 and not (
            endless and (wanted <= set(ADDRESS.findall(printed())) if wanted else time.monotonic() > started + 5)):
        time.sleep(0.2)
    stopped = proc.poll() is None
    proc.kill()
    missing = wanted - set(ADDRESS.findall(printed()))
    if (proc.wait() != 0 and not (endless and stopped)) or missing:
        return "exit %s, sample addresses not printed: %s\n%s" % (proc.returncode, sorted(missing), printed()[-3000:])


def main():
    repo = os.path.abspath(sys.argv[1])
    if subprocess.run([os.path.join(repo, "scripts/lab/lab.sh"), "true"]).returncode == 77:
        return 77
    demo = {d["address"] for d in json.load(open(os.path.join(repo, "demo/network.json")))["devices"]}
    failures = 0
    with tempfile.TemporaryDirectory(prefix="readme-") as stage:
        for command, sample in commands(open(os.path.join(repo, "README.md")).read()):
            words = [w for w in shlex.split(command, comments=True) if w != "sudo"]
            skip = not words or words[0] in MACHINE_WIDE or words[0] == "make" and bool(NOT_RUN & set(words[1:]))
            problem = None if skip else run(repo, command, words, set(ADDRESS.findall(sample)) & demo, stage)
            print("skip" if skip else "FAIL" if problem else "ok  ", command.splitlines()[0], problem or "", flush=True)
            failures += bool(problem)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
