#!/usr/bin/env python3
"""Lab figures for make bench; runs inside tests/lab/lab.sh --addrs 200.

    lab_bench.py BUILD_DIR OUT_JSON

Ingest: answers per second that one engine worker hands over (log off)
against a bare recvfrom loop on the same port, both draining the same
backlog of queued answers. Bursts: answers handed over of those sent.
Idle: CPU time of a running `nasscout-cli watch` between searches.
Unreachable resolver: how long the engine calls that the window makes on its
main thread take where the host name is in no hosts file and the name server
never answers (runs last: it changes the lab's host name and resolver).
Every datagram stays inside the lab's namespaces.
"""
import json, os, signal, statistics, subprocess, sys, tempfile, time

BUILD, OUT = sys.argv[1], sys.argv[2]
SIM = os.path.join(BUILD, "tools/sim/nasscout-sim")
CLI = os.path.join(BUILD, "tools/cli/nasscout-cli")
LAB_HOST = os.path.join(BUILD, "bench/lab_host")
IN_LAN = os.environ["LAB_IN_LAN"].split()
HOST1, NET1, NET2 = "198.51.100.1", "198.51.100", "203.0.113"
SCRATCH = tempfile.mkdtemp(prefix="nasscout-bench-")


def probe(args):
    """Starts lab_host, waits until its sockets are bound; returns the process."""
    err = open(os.path.join(SCRATCH, "probe.err"), "w+")
    proc = subprocess.Popen([LAB_HOST] + args, stdout=subprocess.PIPE, stderr=err, text=True)
    deadline = time.monotonic() + 20
    while time.monotonic() < deadline:
        err.seek(0)
        if "ready" in err.read():
            return proc
        time.sleep(0.02)
    proc.kill()
    raise SystemExit("lab_host did not get ready")


def result(proc):
    out, _ = proc.communicate(timeout=120)
    return json.loads(out.strip().splitlines()[-1])


def flood(protocol, to, count, rate=None, sources=None):
    args = IN_LAN + [SIM, "flood", "--protocol", protocol, "--to", to, "--count", str(count)]
    if rate:
        args += ["--rate", str(rate)]
    if sources:
        args += ["--from", ",".join(sources)]
    subprocess.run(args, check=True, stdout=subprocess.DEVNULL, timeout=300)


def drain(mode, protocol, port, count=2000, reps=5):
    """The receiver is stopped while `count` answers queue up, then drains them."""
    rates, got = [], []
    for _ in range(reps):
        if mode == "engine":
            args = ["engine", "--seconds", "60", "--quiet", "2", "--expect", str(count)]
        else:
            bind = "0.0.0.0:%d" % port if port == 67 else "%s:%d" % (HOST1, port)
            args = ["bare", "--bind", bind, "--rcvbuf", str(4 << 20), "--seconds", "60", "--quiet", "2",
                    "--expect", str(count)]
        proc = probe(args)
        os.kill(proc.pid, signal.SIGSTOP)
        flood(protocol, "%s:%d" % (HOST1, port), count, sources=["%s.%d" % (NET1, 10 + k) for k in range(20)])
        time.sleep(0.2)
        os.kill(proc.pid, signal.SIGCONT)
        r = result(proc)
        rates.append(r["per_s"])
        got.append(r["received"])
    return {"per_s_median": statistics.median(rates), "per_s": rates, "received": got, "queued": count}


def sustained(mode, protocol, port, count=20000):
    if mode == "engine":
        proc = probe(["engine", "--seconds", "60", "--quiet", "2", "--expect", str(count)])
    else:
        bind = "0.0.0.0:%d" % port if port == 67 else "%s:%d" % (HOST1, port)
        proc = probe(["bare", "--bind", bind, "--rcvbuf", str(4 << 20), "--seconds", "60", "--quiet", "2",
                      "--expect", str(count)])
    t0 = time.monotonic()
    flood(protocol, "%s:%d" % (HOST1, port), count, sources=["%s.%d" % (NET1, 10 + k) for k in range(20)])
    sent_s = time.monotonic() - t0
    r = result(proc)
    return {"sent": count, "received": r["received"], "send_seconds": round(sent_s, 3), "per_s": r["per_s"],
            "rcvbuf_errors": r["rcvbuf_errors"]}


def sim_burst(net, protocols, spread, port, per_address=5, addresses=200):
    config = {"generate": [{"count": addresses, "net": net, "first": 10, "id_prefix": "B%d-" % k,
                            "maker": "VIRNO", "protocols": protocols, "max_delay": spread}
                           for k in range(per_address)]}
    path = os.path.join(SCRATCH, "burst.json")
    with open(path, "w") as f:
        json.dump(config, f)
    ready = path + ".ready"
    if os.path.exists(ready):
        os.remove(ready)
    sim = subprocess.Popen(IN_LAN + [SIM, "run", "--config", path, "--ready-file", ready],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.exists(ready):
        time.sleep(0.02)
    try:
        sent = addresses * per_address
        r = result(probe(["engine", "--search", "--seconds", "30", "--quiet", "2", "--expect", str(sent)]))
    finally:
        sim.terminate()
        sim.wait()
    return {"sent": sent, "handed": r["handed"].get(str(port), 0), "span_s": r["span_s"],
            "addresses_listed": len(set(r["listed"])), "addresses": addresses}


def tight_burst(protocol, port, reps=5, count=1000):
    found = []
    for _ in range(reps):
        proc = probe(["engine", "--seconds", "20", "--quiet", "1", "--expect", str(count)])
        flood(protocol, "%s:%d" % (HOST1, port), count, sources=["%s.%d" % (NET1, 10 + k) for k in range(20)])
        found.append(result(proc)["received"])
    return {"sent_each": count, "found": found}


def idle_cpu(seconds=10):
    """utime+stime of a watch between two searches, with devices around."""
    path = os.path.join(SCRATCH, "idle.json")
    with open(path, "w") as f:
        json.dump({"generate": [{"count": 20, "net": NET1, "first": 10, "maker": "ORVALE"}]}, f)
    sim = subprocess.Popen(IN_LAN + [SIM, "run", "--config", path], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
    watch = subprocess.Popen([CLI, "watch", "--interval", "60"], stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    try:
        time.sleep(3)  # the first search and its answers are over

        def ticks():
            with open("/proc/%d/stat" % watch.pid) as f:
                fields = f.read().rsplit(")", 1)[1].split()
            return int(fields[11]) + int(fields[12])  # utime, stime

        before = ticks()
        time.sleep(seconds)
        used = (ticks() - before) / os.sysconf("SC_CLK_TCK")
    finally:
        watch.terminate()
        watch.wait()
        sim.terminate()
        sim.wait()
    return {"seconds": seconds, "cpu_seconds": used, "cpu_percent": round(100 * used / seconds, 3)}


def unreachable_resolver(reps=5):
    for path, text in (("/etc/resolv.conf", "nameserver %s.53\n" % NET1), ("/etc/nsswitch.conf", "hosts: files dns\n")):
        copy = os.path.join(SCRATCH, os.path.basename(path))
        with open(copy, "w") as f:
            f.write(text)
        subprocess.run(["mount", "--bind", copy, path], check=True)
    subprocess.run(["hostname", "unknown-box"], check=True)
    subprocess.run(IN_LAN + ["ip", "addr", "replace", NET1 + ".53/24", "dev", "dev0"], check=True)
    silent = ("import socket\ns = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
              "s.bind(('%s.53', 53))\nprint('bound', flush=True)\nwhile True:\n    s.recv(512)\n" % NET1)
    holder = subprocess.Popen(IN_LAN + [sys.executable, "-c", silent], stdout=subprocess.PIPE, text=True)
    try:
        holder.stdout.readline()  # a query sent before the bind would be refused at once
        runs = [result(probe(["engine", "--searches", "4", "--every", "0.5", "--seconds", "0.5"]))["calls_ms"]
                for _ in range(reps)]
    finally:
        holder.kill()
        holder.wait()
    return {"runs": runs, "init_ms_max": max(r["init"] for r in runs),
            "search_ms_max": max(max(r["searches"]) for r in runs),
            "copy_clear_ms_max": max(max(r["copy"], r["clear"]) for r in runs)}


def main():
    figures = {}
    for protocol, port in (("ssdp", 1530), ("broadcast", 67)):
        engine, bare = drain("engine", protocol, port), drain("bare", protocol, port)
        figures["ingest_" + protocol] = {"engine": engine, "bare": bare,
                                         "ratio": round(engine["per_s_median"] / bare["per_s_median"], 3)}
        figures["sustained_" + protocol] = {"engine": sustained("engine", protocol, port),
                                            "bare": sustained("bare", protocol, port)}
    figures["burst_broadcast_50ms"] = sim_burst(NET1, ["broadcast"], 0.05, 67)
    figures["burst_ssdp_3s"] = sim_burst(NET2, ["ssdp"], 3.0, 1550)
    figures["burst_tight_broadcast"] = tight_burst("broadcast", 67)
    figures["burst_tight_ssdp"] = tight_burst("ssdp", 1530)
    figures["idle_cpu"] = idle_cpu()
    figures["unreachable_resolver"] = unreachable_resolver()
    with open(OUT, "w") as f:
        json.dump(figures, f, indent=1)

    def line(name, text):
        print("  %-26s %s" % (name, text))
    print("lab figures (all traffic inside the lab's namespaces):")
    for p in ("ssdp", "broadcast"):
        i = figures["ingest_" + p]
        line("ingest %s" % p, "engine %.0f/s, bare recvfrom %.0f/s, ratio %.2f (medians of 5, 2000 queued)"
             % (i["engine"]["per_s_median"], i["bare"]["per_s_median"], i["ratio"]))
        s = figures["sustained_" + p]
        line("flood %s" % p, "engine %d/%d, bare %d/%d received (20000 at full speed in %.2f s)"
             % (s["engine"]["received"], s["engine"]["sent"], s["bare"]["received"], s["bare"]["sent"],
                s["engine"]["send_seconds"]))
    for name in ("burst_broadcast_50ms", "burst_ssdp_3s"):
        b = figures[name]
        line(name, "%d/%d handed over, %d/%d addresses listed" % (b["handed"], b["sent"], b["addresses_listed"],
                                                                   b["addresses"]))
    for name in ("burst_tight_broadcast", "burst_tight_ssdp"):
        b = figures[name]
        line(name, "found %s of %d each" % (b["found"], b["sent_each"]))
    c = figures["idle_cpu"]
    line("idle cpu", "%.2f s CPU in %d s (%.3f%%)" % (c["cpu_seconds"], c["seconds"], c["cpu_percent"]))
    u = figures["unreachable_resolver"]
    line("unreachable resolver", "longest engine call: start %.1f ms, search %.1f ms, list copy/clear %.3f ms "
         "(5 runs of a start and 4 searches)" % (u["init_ms_max"], u["search_ms_max"], u["copy_clear_ms_max"]))


if __name__ == "__main__":
    main()
