#!/usr/bin/env python3
"""The bind helper as the engine runs it, only inside scripts/lab/lab.sh (root there may bind port 67):
bind_helper_lab.py BUILD_DIR hands_over_its_one_socket HELPER"""
import os, socket, sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labkit as lab
from labkit import check


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


def hands_over_its_one_socket(helper):
    for args in (["--port", "80"], [""]):
        status, stderr, sock = run(helper, *args)
        check(status == 2 and stderr and sock is None,
              "arguments %s: exit %d, %r, socket %s" % (args, status, stderr, sock))
    status, stderr, sock = run(helper)
    check(sock is not None, "no socket handed over: exit %d, %r" % (status, stderr))
    got = (sock.family, sock.type, sock.proto, sock.getsockname(),
           sock.getsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST) != 0, status)
    want = (socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP, ("0.0.0.0", 67), True, 0)
    check(got == want, "handed over %s, not %s" % (got, want))
    # Without address reuse a second one cannot share the port the first holds.
    status, stderr, second = run(helper)
    check(second is None and status != 0 and "Address already in use" in stderr,
          "a second helper while the port is held: exit %d, %r" % (status, stderr))


if __name__ == "__main__":
    lab.main({"hands_over_its_one_socket": hands_over_its_one_socket})
