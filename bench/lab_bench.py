#!/usr/bin/env python3
"""Lab figures for make bench; runs inside scripts/lab/lab.sh --addrs 200.

    lab_bench.py BUILD_DIR OUT_JSON [GROUP,...]

GROUPs (default all, in this order): receive, cpu, bursts, idle, sweeps, resolver.

Ingest: answers per second that one engine worker hands over (log off)
against a bare recvfrom loop on the same port, both draining the same
backlog of queued answers, and the CPU time each spends per answer at a
steady 50 000 answers per second. Bursts: answers handed over of those sent.
Idle: CPU time of a running `nasscout-cli watch` between searches. Sweeps:
target sweeps through the lab's router, their pacing seen where datagrams
leave the host, their CPU time, and 500 devices on the routed subnet.
Resolver: how long the engine calls that the window makes on its main thread
take where the host name is in no hosts file and the name server never
answers (runs last: it changes the lab's host name and resolver).
Every datagram stays inside the lab's namespaces.
"""
import json, os, signal, statistics, subprocess, sys, tempfile, time

BUILD, OUT = sys.argv[1], sys.argv[2]
SIM = os.path.join(BUILD, "tools/sim/nasscout-sim")
CLI = os.path.join(BUILD, "tools/cli/nasscout-cli")
LAB_HOST = os.path.join(BUILD, "bench/lab_host")
IN_LAN = os.environ["LAB_IN_LAN"].split()
IN_ROUTED = os.environ["LAB_IN_ROUTED"].split()
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


def drain_once(mode, protocol, port, count):
    """The receiver is stopped while `count` answers queue up, then drains them."""
    if mode == "engine":
        args = ["engine", "--seconds", "60", "--quiet", "2", "--expect", str(count)]
    else:
        bind = "0.0.0.0:%d" % port if port == 67 else "%s:%d" % (HOST1, port)
        args = ["bare", "--bind", bind, "--rcvbuf", str(4 << 20), "--seconds", "60", "--quiet", "2",
                "--expect", str(count)] + (["--batch", "32"] if mode == "recvmmsg" else [])
    proc = probe(args)
    os.kill(proc.pid, signal.SIGSTOP)
    flood(protocol, "%s:%d" % (HOST1, port), count, sources=["%s.%d" % (NET1, 10 + k) for k in range(20)])
    time.sleep(0.2)
    os.kill(proc.pid, signal.SIGCONT)
    return result(proc)


def drain(protocol, port, count=2000, reps=11):
    """Engine, bare recvfrom loop and bare recvmmsg loop (the floor of batched
    receives) in turns, so that all meet the same machine load; a drain lasts
    only milliseconds, so single runs scatter widely."""
    runs = {"engine": [], "bare": [], "recvmmsg": []}
    for _ in range(reps):
        for mode in runs:
            runs[mode].append(drain_once(mode, protocol, port, count))
    out = {mode: {"per_s_median": statistics.median(r["per_s"] for r in rs), "per_s": [r["per_s"] for r in rs],
                  "received": [r["received"] for r in rs], "queued": count} for mode, rs in runs.items()}
    out["ratio"] = round(statistics.median(e["per_s"] / b["per_s"] for e, b in zip(runs["engine"], runs["bare"])), 3)
    return out


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


def cpu_once(mode, protocol, port, count, rate):
    """CPU time (user + system) per answer received at a steady rate, less an
    idle run of the same length; 20 sender addresses keep the list small."""
    if mode == "engine":
        args = ["engine", "--seconds", "60", "--quiet", "1"]
    else:
        bind = "0.0.0.0:%d" % port if port == 67 else "%s:%d" % (HOST1, port)
        args = ["bare", "--bind", bind, "--rcvbuf", str(4 << 20), "--seconds", "60", "--quiet", "1"]
    proc = probe(args + ["--expect", str(count)])
    flood(protocol, "%s:%d" % (HOST1, port), count, rate=rate, sources=["%s.%d" % (NET1, 10 + k) for k in range(20)])
    busy = result(proc)
    idle = result(probe([a if a != "60" else "%.3f" % busy["wall_s"] for a in args]))
    return {"received": busy["received"], "cpu_s": busy["cpu_s"], "idle_cpu_s": idle["cpu_s"],
            "context_switches": busy["switches"],
            "us_per_answer": 1e6 * (busy["cpu_s"] - idle["cpu_s"]) / max(busy["received"], 1)}


def cpu_per_answer(protocol, port, count=100000, rate=50000, reps=5):
    runs = {"engine": [], "bare": []}
    for _ in range(reps):
        for mode in runs:
            runs[mode].append(cpu_once(mode, protocol, port, count, rate))
    out = {mode: {"runs": rs, "us_per_answer_median": statistics.median(r["us_per_answer"] for r in rs)}
           for mode, rs in runs.items()}
    out.update(sent=count, rate=rate, ratio=round(statistics.median(
        b["us_per_answer"] / e["us_per_answer"] for e, b in zip(runs["engine"], runs["bare"])), 3))
    return out


SWEEP_BLOCK = "198.18.0.0/16"


def sweep_routes(add):
    """The whole benchmarking /16 is local to the routed namespace (behind the
    lab's router) while the sweep figures run, so every probe ends there."""
    verb = "add" if add else "del"
    subprocess.run(IN_ROUTED + ["ip", "route", verb, "local", SWEEP_BLOCK, "dev", "lo"], check=True)
    subprocess.run(IN_LAN + ["ip", "route", verb, SWEEP_BLOCK, "via", "198.18.10.10"], check=True)
    subprocess.run(["ip", "route", verb, SWEEP_BLOCK, "via", os.environ["LAB_ROUTER_IP"]], check=True)


def sweep(target, rate, datagrams):
    """A sweep by the engine, paced as seen leaving the host (lan0)."""
    sink = probe(["sink", "--bind", "lan0", "--rate", str(rate), "--expect", str(datagrams), "--quiet", "2",
                  "--seconds", str(datagrams / rate + 30)])
    engine = result(probe(["engine", "--target", target, "--rate", str(rate), "--seconds", "0.1"]))
    seen = result(sink)
    s = engine["sweep"]
    ideal = (datagrams - 1) / rate
    return {"target": target, "rate": rate, "datagrams": s["sent"] + s["failed"], "failed": s["failed"],
            "seconds": s["seconds"], "ideal_seconds": round(ideal, 4), "over_ideal": round(s["seconds"] / ideal - 1, 4),
            "achieved": s["achieved"], "cpu_s": s["cpu_s"], "cpu_percent": round(100 * s["cpu_s"] / s["seconds"], 2),
            "seen": {k: seen[k] for k in ("received", "nominal_gap_us", "gap_us", "below_half_nominal",
                                          "below_half_share")}}


def routed_devices(devices=500, addresses=200, rate=1000):
    """`devices` simulated boxes on `addresses` addresses of the routed subnet,
    answering one sweep of the /24 with both protocols."""
    config = {"generate": []}
    left, k = devices, 0
    while left > 0:
        n = min(left, addresses)
        config["generate"].append({"count": n, "net": "198.18.10", "first": 10, "id_prefix": "R%d-" % k,
                                   "maker": "SOLBRIX"})
        left, k = left - n, k + 1
    path = os.path.join(SCRATCH, "routed.json")
    with open(path, "w") as f:
        json.dump(config, f)
    ready = path + ".ready"
    sim = subprocess.Popen(IN_ROUTED + [SIM, "run", "--config", path, "--ready-file", ready],
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    while not os.path.exists(ready):
        time.sleep(0.02)
    try:
        r = result(probe(["engine", "--target", "198.18.10.0/24", "--rate", str(rate), "--seconds", "30",
                          "--quiet", "2", "--expect", str(2 * devices)]))
    finally:
        sim.terminate()
        sim.wait()
    listed = {ip for ip in r["listed"] if ip.startswith("198.18.10.")}
    return {"devices": devices, "addresses": addresses, "answers_sent": 2 * devices, "handed": r["handed"],
            "handed_total": sum(r["handed"].values()), "addresses_listed": len(listed),
            "sweep_seconds": r["sweep"]["seconds"], "rcvbuf_errors": r["rcvbuf_errors"]}


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


def resolver_figures(figures):
    u = figures["unreachable_resolver"] = unreachable_resolver()
    line("unreachable resolver", "longest engine call: start %.1f ms, search %.1f ms, list copy/clear %.3f ms "
         "(5 runs of a start and 4 searches)" % (u["init_ms_max"], u["search_ms_max"], u["copy_clear_ms_max"]))


def line(name, text):
    print("  %-26s %s" % (name, text), flush=True)


def receive_figures(figures):
    for protocol, port in (("ssdp", 1530), ("broadcast", 67)):
        i = figures["ingest_" + protocol] = drain(protocol, port)
        line("ingest %s" % protocol, "engine %.0f/s, bare recvfrom %.0f/s, ratio %.2f; bare recvmmsg %.0f/s "
             "(medians of 11 turns, 2000 queued)" % (i["engine"]["per_s_median"], i["bare"]["per_s_median"],
                                                     i["ratio"], i["recvmmsg"]["per_s_median"]))
        s = figures["sustained_" + protocol] = {"engine": sustained("engine", protocol, port),
                                                "bare": sustained("bare", protocol, port)}
        line("flood %s" % protocol, "engine %d/%d, bare %d/%d received (20000 at full speed in %.2f s)"
             % (s["engine"]["received"], s["engine"]["sent"], s["bare"]["received"], s["bare"]["sent"],
                s["engine"]["send_seconds"]))


def cpu_figures(figures):
    for protocol, port in (("ssdp", 1530), ("broadcast", 67)):
        c = figures["cpu_per_answer_" + protocol] = cpu_per_answer(protocol, port)
        line("cpu per answer %s" % protocol, "engine %.2f us, bare recvfrom %.2f us, ratio %.2f "
             "(100000 at 50000/s, medians of 5 turns)"
             % (c["engine"]["us_per_answer_median"], c["bare"]["us_per_answer_median"], c["ratio"]))


def burst_figures(figures):
    for name, b in (("burst_broadcast_50ms", sim_burst(NET1, ["broadcast"], 0.05, 67)),
                    ("burst_ssdp_3s", sim_burst(NET2, ["ssdp"], 3.0, 1550))):
        figures[name] = b
        line(name, "%d/%d handed over, %d/%d addresses listed" % (b["handed"], b["sent"], b["addresses_listed"],
                                                                   b["addresses"]))
    for name, b in (("burst_tight_broadcast", tight_burst("broadcast", 67)),
                    ("burst_tight_ssdp", tight_burst("ssdp", 1530))):
        figures[name] = b
        line(name, "found %s of %d each" % (b["found"], b["sent_each"]))


def idle_figures(figures):
    c = figures["idle_cpu"] = idle_cpu()
    line("idle cpu", "%.2f s CPU in %d s (%.3f%%)" % (c["cpu_seconds"], c["seconds"], c["cpu_percent"]))


def sweep_figures(figures):
    sweep_routes(True)
    try:
        for name, target, rate, addresses in (("sweep_16_rate_20000", SWEEP_BLOCK, 20000, 65534),
                                              ("sweep_20_rate_1000", "198.18.0.0/20", 1000, 4094)):
            w = figures[name] = sweep(target, rate, 2 * addresses)
            g = w["seen"]["gap_us"]
            line(name, "%d datagrams in %.3f s (ideal %.3f s, %+.1f%%), %.0f/s, CPU %.1f%%; gaps (us) min %.1f "
                 "p1 %.1f p50 %.1f p99 %.1f max %.1f; %.2f%% below half the nominal %.1f us"
                 % (w["datagrams"], w["seconds"], w["ideal_seconds"], 100 * w["over_ideal"], w["achieved"],
                    w["cpu_percent"], g["min"], g["p1"], g["p50"], g["p99"], g["max"],
                    100 * w["seen"]["below_half_share"], w["seen"]["nominal_gap_us"]))
    finally:
        sweep_routes(False)
    r = figures["routed_500_devices"] = routed_devices()
    line("routed 500 devices", "%d/%d answers handed over %s, %d/%d addresses listed, sweep %.2f s"
         % (r["handed_total"], r["answers_sent"], r["handed"], r["addresses_listed"], r["addresses"],
            r["sweep_seconds"]))


GROUPS = {"receive": receive_figures, "cpu": cpu_figures, "bursts": burst_figures, "idle": idle_figures,
          "sweeps": sweep_figures, "resolver": resolver_figures}


def main():
    chosen = sys.argv[3].split(",") if len(sys.argv) > 3 else list(GROUPS)
    unknown = [g for g in chosen if g not in GROUPS]
    if unknown:
        raise SystemExit("lab_bench.py: unknown group(s) %s; groups: %s" % (unknown, ", ".join(GROUPS)))
    figures = {}
    print("lab figures (all traffic inside the lab's namespaces):", flush=True)
    for name in chosen:
        GROUPS[name](figures)
    with open(OUT, "w") as f:
        json.dump(figures, f, indent=1)


if __name__ == "__main__":
    main()
