#!/usr/bin/env python3
"""The bind helper as the engine runs it, only inside scripts/lab/lab.sh (root there may bind port 67):
bind_helper_lab.py HELPER"""
import os, socket, subprocess, sys


def run(helper, *args):
    """The helper with our end of a socket pair on its descriptor 3: exit status, stderr, descriptor or None."""
    ours, theirs = socket.socketpair()
    err = os.open(os.devnull, os.O_WRONLY)
    r, w = os.pipe()
    pid = os.posix_spawn(helper, [helper, *args], {}, file_actions=[
        (os.POSIX_SPAWN_DUP2, theirs.fileno(), 3), (os.POSIX_SPAWN_DUP2, w, 2), (os.POSIX_SPAWN_CLOSE, err)])
    theirs.close(), os.close(w), os.close(err)
    status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
    stderr = os.read(r, 4096).decode()
    ours.setblocking(False)
    try:
        fds = socket.recv_fds(ours, 1, 1)[1]
    except BlockingIOError:
        fds = []
    return status, stderr, socket.socket(fileno=fds[0]) if fds else None


def main():
    if not os.environ.get("LAB_IN_LAN"):
        print("run as: scripts/lab/lab.sh bind_helper_lab.py HELPER", file=sys.stderr)
        return 77
    helper, failures = sys.argv[1], []
    for args in (["--port", "80"], [""]):
        status, stderr, sock = run(helper, *args)
        if status != 2 or not stderr or sock is not None:
            failures.append("arguments %s: exit %d, %r, socket %s" % (args, status, stderr, sock))
    status, stderr, sock = run(helper)
    if sock is None:
        failures.append("no socket handed over: exit %d, %r" % (status, stderr))
    else:
        got = (sock.family, sock.type, sock.proto, sock.getsockname(),
               sock.getsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST) != 0, status)
        want = (socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP, ("0.0.0.0", 67), True, 0)
        if got != want:
            failures.append("handed over %s, not %s" % (got, want))
        # Without address reuse a second one cannot share the port the first holds.
        status, stderr, second = run(helper)
        if second is not None or status == 0 or "Address already in use" not in stderr:
            failures.append("a second helper while the port is held: exit %d, %r" % (status, stderr))
    print("\n".join(failures) or "PASS bind helper")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
