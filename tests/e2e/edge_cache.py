"""The update tree behind a real edge cache: hitch and Varnish configured by tools/edge/, nginx
with tools/nginx-updates-paths.conf as the origin (tests/servers/edge.py). Spellings of a
payload's URL share one cached copy, and dot-files and what is not served are 404 at the edge
and the origin without reaching the origin. The real installer installs through it under Wine; installer-like clients load it while three releases are
published; `varnok-publish verify` passes through it, and fails when a deliberately wrong edge
keeps the manifest an hour.

usage: edge_cache.py <VarnokClientSetup.exe> <VarnokClientStandIn.exe>
"""
import hashlib
import http.client
import os
import re
import ssl
import subprocess
import sys
import time

import harness
import install_env as env
import installer_window
import update_server
from update_server import ensure_tool, publish

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import edge  # noqa: E402

EXE, STANDIN = sys.argv[1], sys.argv[2]
SCRATCH = os.path.join(harness.ROOT, "build", "e2e-edge")
STATE = os.path.join(SCRATCH, "servers")
WWW = os.path.join(SCRATCH, "www")
PUB = os.path.join(harness.ROOT, "tests", "fixtures", "dev-manifest-key.pub.hex")
WRONG_VCL = os.path.join(os.path.dirname(os.path.abspath(__file__)), "edge_wrong_lifetime.vcl")
LOAD = os.path.join(harness.ROOT, "build", "host", "tests", "tools", "varnok-edge-load")
BASE = f"https://localhost:{update_server.PORT}"


def manifest_lifetime():
    """The manifest's max-age as the origin's configuration gives it (what the run is held to)."""
    with open(edge.PATHS_CONF) as f:
        m = re.search(r"location = /api/updates/manifest \{[^}]*max-age=(\d+)", f.read())
    assert m, "nginx-updates-paths.conf gives the manifest no max-age"
    return int(m.group(1))


LIFETIME = manifest_lifetime()


def ensure_load_client():
    if not os.access(LOAD, os.X_OK):
        ensure_tool()
        subprocess.run(["cmake", "--build", "--preset", "host", "--target", "varnok-edge-load"],
                       cwd=harness.ROOT, check=True, capture_output=True, timeout=900)
    return LOAD


def fresh_tree():
    subprocess.run(["rm", "-rf", SCRATCH], check=True)
    os.makedirs(SCRATCH)


def stand_in_payload(version, size=1 << 20):
    """Publishes a client of `size` bytes the tool and the installers accept: "MZ" and bytes of
    its own (a real client is not needed where nothing runs it)."""
    path = os.path.join(SCRATCH, f"client-{version}.exe")
    with open(path, "wb") as f:
        f.write(b"MZ" + os.urandom(size - 2))
    publish(WWW, path, version, int(version.split(".")[0]))


def stand_in_installer():
    """What scripts/release lays beside the tree, which verify fetches too: an installer under
    its stable name and the digest file naming it (bytes of their own; nothing runs them)."""
    data = b"MZ" + os.urandom(70000)
    with open(os.path.join(WWW, "VarnokClientSetup.exe"), "wb") as f:
        f.write(data)
    with open(os.path.join(WWW, "VarnokClientSetup.exe.sha256"), "w") as f:
        f.write(hashlib.sha256(data).hexdigest() + "  VarnokClientSetup.exe\n")


def verify(edge_server):
    return subprocess.run([ensure_tool(), "verify", BASE, "--pub", PUB, "--ca-file",
                           edge_server.ca_file], capture_output=True, text=True, timeout=300)


def payload_paths(requests):
    return [p for p in requests if p.startswith("/api/updates/files/")]


def get(port, path, host="localhost", ca=None):
    """(status, headers, body) of one GET with exactly this request line and Host: over TLS to
    the edge with `ca`, plain HTTP to the origin without."""
    conn = (http.client.HTTPSConnection("localhost", port, timeout=30,
                                        context=ssl.create_default_context(cafile=ca))
            if ca else http.client.HTTPConnection("127.0.0.1", port, timeout=30))
    conn.putrequest("GET", path, skip_host=True)
    conn.putheader("Host", host)
    conn.endheaders()
    r = conn.getresponse()
    return r.status, r.headers, r.read()


# --- the checks ---------------------------------------------------------------------------------

def the_installer_installs_through_the_edge():
    fresh_tree()
    env.clean_slate()
    client = os.path.join(SCRATCH, "standin.exe")
    with open(client, "wb") as f:
        f.write(env.read(STANDIN))
    publish(WWW, client, "1.0.0", 1)
    # The test CA, trusted inside the prefix only (a no-op when it already is).
    subprocess.run(["bash", os.path.join(harness.ROOT, "tests", "servers", "trust-test-ca.sh")],
                   check=True, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    with edge.Edge(WWW, update_server.PORT, STATE) as e:
        w = installer_window.Window(EXE)
        try:
            w.click(250, 238)  # Launch after install, cleared
            w.click(200, 285)  # Install
            w.wait_for(installer_window.is_done, "the Done screen", timeout=90)
        finally:
            w.close()
        hits, misses, _ = e.hit_ratio()
        origin = e.origin_requests()
    assert env.read(env.CLIENT) == env.read(client), "the installed client is not the published one"
    assert hits + misses >= 2, f"the installer's requests did not pass the edge ({hits}, {misses})"
    assert len(payload_paths(origin)) == 1, f"the origin saw {origin}"


def a_payload_has_one_spelling_and_nothing_else_reaches_the_origin():
    fresh_tree()
    stand_in_payload("1.0.0")
    files = os.path.join(WWW, "api", "updates", "files")
    name = os.listdir(files)[0]
    path, payload = "/api/updates/files/" + name, env.read(os.path.join(files, name))
    with open(os.path.join(files, ".VarnokClient-1.0.0.42.tmp"), "wb") as f:
        f.write(b"MZ an unreleased build")  # what a publish once left there
    variants = ([(path + q, "localhost") for q in ("?x=1", "?x=2", "?", "?a=1&b=2", "?" + "a" * 500,
                                                   "#f", "?x=%2F..")] +
                [(path, h) for h in ("evil.example", "LOCALHOST", "127.0.0.1", "a.b:1", "x")] +
                [(p, "localhost") for p in ("/" + path, path.replace("/updates/", "//updates//"),
                                            path.replace("/files/", "//files///"), "///" + path[1:],
                                            "https://x.example" + path, "//" + path + "?x=3")] +
                [("/" + path + "?x=4", "evil.example"), (path + "?y", "updates.example")])
    hidden = ["/api/updates/files/.VarnokClient-1.0.0.42.tmp", "/api/updates/.publish.lock",
              "/api/updates/history.json", "/api/updates/files/%2eVarnokClient-1.0.0.42.tmp",
              "/api/updates/files/", "/api/updates/files/./" + name,
              "https://x.example", "http://localhost?x=1"]  # absolute, without a path
    with edge.Edge(WWW, update_server.PORT, STATE) as e:
        for url, host in variants + [(path, "localhost")]:
            status, headers, body = get(update_server.PORT, url, host, e.ca_file)
            assert status == 200 and body == payload, f"{url} (Host {host}): {status}"
        fetched = e.origin_requests()
        assert len(variants) == 20 and fetched == [path], f"origin fetches: {fetched[:3]}"
        assert len(headers["X-Varnish"].split()) == 2, f"not a hit: {headers['X-Varnish']}"
        for url in hidden:
            status, headers, _ = get(update_server.PORT, url, ca=e.ca_file)
            assert (status, headers["Cache-Control"]) == (404, "no-store"), (url, status)
        assert e.origin_requests() == [path], f"the edge asked the origin {e.origin_requests()}"
        for url in hidden[:4]:  # the origin's own answer to dot-files and the records
            assert get(update_server.PORT + 2, url)[0] == 404, f"the origin served {url}"


def verify_passes_through_the_edge_also_once_the_manifest_has_expired():
    fresh_tree()
    stand_in_payload("1.0.0")
    stand_in_installer()
    with edge.Edge(WWW, update_server.PORT, STATE) as e:
        for when in ("first", f"after {LIFETIME + 2} s"):
            if when != "first":
                time.sleep(LIFETIME + 2)  # the edge now holds a copy past its lifetime
            r = verify(e)
            lines = r.stdout.strip().splitlines()
            assert r.returncode == 0 and len(lines) == 9, \
                f"verify {when} ended {r.returncode}: {r.stdout}{r.stderr}"
            assert all(line.startswith("PASS ") for line in lines), r.stdout
        assert len(payload_paths(e.origin_requests())) == 1, e.origin_requests()


def verify_fails_when_the_edge_keeps_the_manifest_an_hour():
    fresh_tree()
    stand_in_payload("1.0.0")
    stand_in_installer()
    with edge.Edge(WWW, update_server.PORT, STATE, vcl=WRONG_VCL) as e:
        first = verify(e)
        assert first.returncode == 0, f"a fresh copy should pass: {first.stdout}{first.stderr}"
        time.sleep(LIFETIME + 2)
        r = verify(e)
    assert r.returncode == 1, f"verify accepted an edge that ignores the lifetime: {r.stdout}"
    failed = [line for line in r.stdout.splitlines() if line.startswith("FAIL ")]
    assert len(failed) == 1 and failed[0].startswith("FAIL manifest caching: served "), r.stdout
    assert "(Age: " in failed[0] and f"max-age={LIFETIME}" in failed[0], failed[0]


CLIENTS, SECONDS, PAUSE_MS = 64, 60, 500
MAX_LOOPS = 400  # per client: at most one every PAUSE_MS anyway
RELEASES = [(0, "1.0.0"), (10, "2.0.0"), (10 + LIFETIME + 12, "3.0.0")]  # seconds into the run


def a_load_run_through_the_edge_sees_every_release_without_a_failure():
    fresh_tree()
    load = ensure_load_client()
    key = open(PUB).read().strip()
    out = os.path.join(SCRATCH, "installs.txt")
    published = {}
    with edge.Edge(WWW, update_server.PORT, STATE) as e:
        start = time.time()
        stand_in_payload("1.0.0")
        published["1.0.0"] = time.time()
        proc = subprocess.Popen([load, BASE, key, e.ca_file, str(CLIENTS), str(SECONDS),
                                 str(MAX_LOOPS), str(PAUSE_MS), out],
                                stdout=subprocess.PIPE, text=True)
        try:
            for at, version in RELEASES[1:]:
                time.sleep(max(0, start + at - time.time()))
                stand_in_payload(version)
                published[version] = time.time()  # the manifest is renamed in last
            summary, _ = proc.communicate(timeout=SECONDS + 60)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        hits, misses, ratio = e.hit_ratio()
        origin = e.origin_requests()
    assert proc.returncode == 0, f"the load client ended with {proc.returncode}"
    installs = []
    with open(out) as f:
        for line in f:
            client, start_ms, version, outcome = line.split()
            installs.append((int(client), int(start_ms) / 1000, version, outcome))
    failures = [i for i in installs if i[3] != "ok"]
    mismatches = [i for i in failures if i[3] in ("payload_size_mismatch", "payload_sha256_mismatch",
                                                  "payload_size_exceeded")]
    print(f"  {summary.strip()}: {len(mismatches)} size or hash mismatches; edge hits {hits}, "
          f"misses {misses}, hit ratio {ratio:.4f}; origin asked {len(origin)} times")
    assert not failures, f"{len(failures)} installs failed, first: {failures[:5]}"
    assert len(installs) >= CLIENTS * 20, f"only {len(installs)} installs"

    order = [v for _, v in RELEASES]
    for version, when in published.items():
        deadline = when + LIFETIME + 1
        stale = [i for i in installs if i[1] > deadline and order.index(i[2]) < order.index(version)]
        assert not stale, (f"{len(stale)} installs started over {LIFETIME + 1} s after {version} was "
                           f"published still got an older version, first: {stale[:3]}")
        seen = {i[0] for i in installs if i[2] == version}
        assert len(seen) == CLIENTS, f"only {len(seen)} of {CLIENTS} clients ever got {version}"
    per_payload = {p: payload_paths(origin).count(p) for p in set(payload_paths(origin))}
    assert len(per_payload) == len(RELEASES), per_payload
    assert max(per_payload.values()) <= 3, f"the origin sent payloads again and again: {per_payload}"


if __name__ == "__main__":
    harness.main([
        a_payload_has_one_spelling_and_nothing_else_reaches_the_origin,
        the_installer_installs_through_the_edge,
        verify_passes_through_the_edge_also_once_the_manifest_has_expired,
        verify_fails_when_the_edge_keeps_the_manifest_an_hour,
        a_load_run_through_the_edge_sees_every_release_without_a_failure,
    ])
