#!/usr/bin/env python3
"""Serving figures for scripts/bench: requests per second and p99 latency (wrk) for the manifest
and a 16 MiB payload through the edge (hitch, Varnish, tools/edge/) against the origin alone
(nginx with tools/nginx-updates-paths.conf over TLS), as ratios from one run; then a short load
run of installer-like clients through the edge with its hit ratio. Prints figures, never fails on
a time.

usage: edge_bench.py <varnok-publish> <varnok-edge-load> <seconds per wrk run>
"""
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import edge  # noqa: E402
import update_server  # noqa: E402

TOOL, LOAD, SECONDS = sys.argv[1], sys.argv[2], int(sys.argv[3])
WORK = os.path.join(ROOT, "build", "bench-edge")
WWW = os.path.join(WORK, "www")
KEY = os.path.join(ROOT, "tests", "fixtures", "dev-manifest-key.NOT-FOR-RELEASE.pem")
PUB = os.path.join(ROOT, "tests", "fixtures", "dev-manifest-key.pub.hex")
PORT = update_server.PORT


def wrk(url, connections):
    """(requests per second, p99 in ms) of one wrk run."""
    r = subprocess.run(["wrk", "-t2", f"-c{connections}", f"-d{SECONDS}s", "--latency",
                        "-H", "User-Agent: VarnokClientSetup/1.0", url],
                       capture_output=True, text=True, timeout=SECONDS + 60)
    rate = re.search(r"Requests/sec:\s+([\d.]+)", r.stdout)
    p99 = re.search(r"^\s+99%\s+([\d.]+)(us|ms|s)\s*$", r.stdout, re.M)
    errors = re.search(r"Non-2xx or 3xx responses: (\d+)|Socket errors: .*", r.stdout)
    if not rate or not p99:
        sys.exit(f"wrk gave no figures for {url}:\n{r.stdout}{r.stderr}")
    scale = {"us": 0.001, "ms": 1.0, "s": 1000.0}[p99.group(2)]
    return float(rate.group(1)), float(p99.group(1)) * scale, errors.group(0) if errors else ""


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    payload = os.path.join(WORK, "client.exe")
    with open(payload, "wb") as f:
        f.write(b"MZ" + os.urandom(16 * 1024 * 1024 - 2))
    subprocess.run([TOOL, "publish", "--key", KEY, "--exe", payload, "--version", "1.0.0",
                    "--build", "1", "--out", WWW], check=True, capture_output=True)
    name = [n for n in os.listdir(os.path.join(WWW, "api", "updates", "files"))
            if not n.startswith(".")][0]
    paths = {"manifest": ("/api/updates/manifest", 16), "16 MiB payload":
             ("/api/updates/files/" + name, 4)}
    with edge.Edge(WWW, PORT, os.path.join(WORK, "servers")) as e:
        print(f"  wrk, 2 threads, {SECONDS} s a run; the edge is hitch + Varnish on one machine with "
              "the origin, so it adds work here where a CDN would add machines")
        for what, (path, connections) in paths.items():
            figures = {}
            for where, port in (("edge", PORT), ("origin alone", PORT + 3)):
                figures[where] = wrk(f"https://localhost:{port}{path}", connections)
            (er, ep, ee), (orr, op, oe) = figures["edge"], figures["origin alone"]
            print(f"  {what} ({connections} connections): edge {er:.0f} req/s, p99 {ep:.2f} ms; "
                  f"origin alone {orr:.0f} req/s, p99 {op:.2f} ms; edge / origin: rate "
                  f"{er / orr:.2f}, p99 {ep / op:.2f} {ee} {oe}".rstrip())
        # The load run installs a 1 MiB client, as the test's does.
        with open(payload, "wb") as f:
            f.write(b"MZ" + os.urandom(1024 * 1024 - 2))
        subprocess.run([TOOL, "publish", "--key", KEY, "--exe", payload, "--version", "2.0.0",
                        "--build", "2", "--out", WWW], check=True, capture_output=True)
        hits, misses, _ = e.hit_ratio()
        before = len(e.origin_requests())
        out = os.path.join(WORK, "installs.txt")
        start = time.time()
        r = subprocess.run([LOAD, f"https://localhost:{PORT}", open(PUB).read().strip(),
                            e.ca_file, "64", str(SECONDS * 2), "10000", "500", out],
                           capture_output=True, text=True, timeout=SECONDS * 2 + 120)
        took = time.time() - start
        h2, m2, _ = e.hit_ratio()
        origin = len(e.origin_requests()) - before
    hits, misses = h2 - hits, m2 - misses
    print(f"  load run, 64 installer-like clients for {took:.0f} s (1 MiB client): "
          f"{r.stdout.strip()}; edge hit ratio {hits / max(1, hits + misses):.4f} "
          f"({hits} hits, {misses} misses), origin asked {origin} times")
    shutil.rmtree(WWW, ignore_errors=True)


if __name__ == "__main__":
    main()
