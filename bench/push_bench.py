#!/usr/bin/env python3
"""The push figures for scripts/bench: `varnok-publish push` of a tree with a 64 MiB payload into
a throw-away Ceph RADOS Gateway (tests/servers/ceph_gateway.py), beside a bare signed PUT of the
same payload with `curl --aws-sigv4` (its SHA-256 computed first, as a signed PUT needs it) to
the same gateway in the same run. Each run pushes under a prefix of its own, so everything is
uploaded. Medians of the runs; prints figures, never fails on a time.

usage: push_bench.py <varnok-publish> <runs>
"""
import hashlib
import os
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, os.path.join(ROOT, "tests", "servers"))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))
import ceph_gateway  # noqa: E402
import update_server  # noqa: E402

TOOL, RUNS = sys.argv[1], int(sys.argv[2])
WORK = os.path.join(ROOT, "build", "bench-push")
WWW = os.path.join(WORK, "www")
KEY = os.path.join(ROOT, "tests", "fixtures", "dev-manifest-key.NOT-FOR-RELEASE.pem")
PUB = os.path.join(ROOT, "tests", "fixtures", "dev-manifest-key.pub.hex")
SIZE = int(os.environ.get("VARNOK_BENCH_PUSH_MIB", "64")) << 20
ENV = dict(os.environ, AWS_ACCESS_KEY_ID=ceph_gateway.ACCESS_KEY,
           AWS_SECRET_ACCESS_KEY=ceph_gateway.SECRET_KEY)
BUCKET = "bench"


def curl(method, url, path=None):
    start = time.perf_counter()
    if path:
        r = subprocess.run(["sha256sum", path], capture_output=True, text=True, check=True)
        digest = r.stdout.split()[0]
    else:
        digest = hashlib.sha256(b"").hexdigest()
    cmd = ["curl", "-sS", "-o", "/dev/null", "-w", "%{http_code}", "-X", method,
           "--aws-sigv4", "aws:amz:us-east-1:s3", "--user",
           f"{ceph_gateway.ACCESS_KEY}:{ceph_gateway.SECRET_KEY}",
           "-H", f"x-amz-content-sha256: {digest}", url] + (["-T", path] if path else [])
    r = subprocess.run(cmd, capture_output=True, text=True, timeout=300)
    assert r.stdout == "200", f"{method} {url}: {r.stdout} {r.stderr}"
    return time.perf_counter() - start


def main():
    shutil.rmtree(WORK, ignore_errors=True)
    os.makedirs(WORK)
    client = os.path.join(WORK, "client.exe")
    with open(client, "wb") as f:
        f.write(b"MZ" + os.urandom(SIZE - 2))
    subprocess.run([TOOL, "publish", "--key", KEY, "--exe", client, "--version", "1.0.0",
                    "--build", "1", "--out", WWW], check=True, capture_output=True, timeout=300)
    started = time.perf_counter()
    with ceph_gateway.Cluster(os.path.join(WORK, "ceph"), update_server.PORT + 4) as cluster:
        up = time.perf_counter() - started
        idle = cluster.resident_bytes()
        curl("PUT", f"{cluster.endpoint}/{BUCKET}")
        pushes, bare, objects, sent = [], [], 0, 0
        for run in range(RUNS):
            start = time.perf_counter()
            r = subprocess.run([TOOL, "push", "--tree", WWW, "--to", f"s3://{BUCKET}/run{run}",
                                "--endpoint", cluster.endpoint, "--pub", PUB],
                               capture_output=True, text=True, timeout=600, env=ENV)
            pushes.append(time.perf_counter() - start)
            assert r.returncode == 0, r.stderr
            m = re.search(r"pushed (\d+) objects .*: (\d+) uploaded \((\d+) bytes\)", r.stdout)
            objects, sent = int(m.group(2)), int(m.group(3))
            bare.append(curl("PUT", f"{cluster.endpoint}/{BUCKET}/bare{run}", client))
        resident = cluster.resident_bytes()
    push_s, bare_s = statistics.median(pushes), statistics.median(bare)
    mib = SIZE / 1048576
    print(f"    cluster up to the first request: {up:.1f} s; the three daemons resident "
          f"{idle / 1e6:.0f} MB idle, {resident / 1e6:.0f} MB holding {2 * RUNS} copies of the "
          f"payload in memory")
    print(f"    push: {objects} objects, {sent} bytes in {push_s:.2f} s "
          f"({mib / push_s:.0f} MiB/s of payload, check and hashing included)")
    print(f"    bare signed curl PUT of the payload (sha256sum + curl --aws-sigv4): {bare_s:.2f} s "
          f"({mib / bare_s:.0f} MiB/s)")
    print(f"    push / bare PUT throughput = {bare_s / push_s:.2f} (runs: push "
          f"{', '.join(f'{t:.2f}' for t in pushes)}; bare {', '.join(f'{t:.2f}' for t in bare)})")


if __name__ == "__main__":
    main()
