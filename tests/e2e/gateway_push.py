"""`varnok-publish push` into a real object store: a throw-away Ceph cluster's RADOS Gateway
(tests/servers/ceph_gateway.py), public read through a bucket policy, behind the edge of
tools/edge/ with gateway-origin.vcl as its origin. The publishing guide's push block runs as
written; the real installer installs through hitch -> Varnish -> gateway; then releases, conflicts,
an outage before the manifest and wrong credentials, each judged by what the bucket holds afterwards.

usage: gateway_push.py <VarnokClientSetup.exe> <VarnokClientStandIn.exe>
"""
import base64
import hashlib
import os
import re
import shutil
import socket
import ssl
import subprocess
import sys
import threading
import urllib.error
import urllib.request

import harness
import install_env as env
import installer_window
import update_server
from update_server import ensure_tool, publish

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import ceph_gateway  # noqa: E402
import edge  # noqa: E402

EXE, STANDIN = sys.argv[1], sys.argv[2]
SCRATCH = os.path.join(harness.ROOT, "build", "e2e-gateway")
PUBLISHER = os.path.join(SCRATCH, "publisher")
WWW = os.path.join(PUBLISHER, "www")
PORT = update_server.PORT
BASE = f"https://localhost:{PORT}"
BUCKET = "varnok-updates"
MANIFEST = "api/updates/manifest"
# The edge takes PORT..PORT + 3, the cluster the ports after it; the outage proxy sits on the
# nginx origin's port, unused with the gateway as the origin.
PROXY_PORT = PORT + 2
CREDENTIALS = {"AWS_ACCESS_KEY_ID": ceph_gateway.ACCESS_KEY,
               "AWS_SECRET_ACCESS_KEY": ceph_gateway.SECRET_KEY}
PUB = os.path.join(harness.ROOT, "tests", "fixtures", "dev-manifest-key.pub.hex")
cluster = front = None


def guide_block(marker):
    text = open(os.path.join(harness.ROOT, "docs", "publishing.md")).read()
    m = re.search(rf"<!-- {marker}:begin -->\s*```sh\n(.*?)```\s*<!-- {marker}:end -->", text, re.S)
    assert m, f"docs/publishing.md has no {marker} block"
    return m.group(1)


def expected_headers(key):
    """(Content-Type, Cache-Control) that the nginx origin's location for the key gives."""
    text = re.sub(r"#[^\n]*", "", open(edge.PATHS_CONF).read())
    default, path = re.search(r"\ndefault_type\s+([^;]+);", text).group(1), "/" + key
    for spec, body in re.findall(r"location\s+([^{@]+?)\s*\{([^}]*)\}", text):
        if (spec == "= " + path or (spec[0] == "~" and re.search(spec[2:], path)) or
                (spec[0] == "/" and spec != "/" and path.startswith(spec))):
            kind = re.search(r"default_type\s+([^;]+);", body)
            return kind.group(1) if kind else default, re.search(r'Cache-Control\s+"([^"]*)"', body).group(1)
    raise AssertionError(f"{key} is not served by nginx-updates-paths.conf")


def s3(method, key="", body=None, headers=()):
    """A signed request of the publisher's own, with curl as the publishing guide makes it."""
    data = b"" if body is None else body
    cmd = ["curl", "-sS", "-o", "/dev/null", "-w", "%{http_code}", "-X", method,
           "--aws-sigv4", "aws:amz:us-east-1:s3", "--user",
           f"{ceph_gateway.ACCESS_KEY}:{ceph_gateway.SECRET_KEY}",
           "-H", "x-amz-content-sha256: " + hashlib.sha256(data).hexdigest()]
    for header in headers:
        cmd += ["-H", header]
    cmd.append(f"{cluster.endpoint}/{BUCKET}/{key}")
    if body is not None:
        cmd[-1:-1] = ["--data-binary", "@-"]
    r = subprocess.run(cmd, input=data, capture_output=True, timeout=60)
    return int(r.stdout or 0)


def public(key):
    """What anyone (the CDN) gets from the gateway without credentials."""
    with urllib.request.urlopen(f"{cluster.endpoint}/{BUCKET}/{key}", timeout=30) as resp:
        return resp.headers, resp.read()


def push(*extra, endpoint=None, creds=CREDENTIALS):
    cmd = [ensure_tool(), "push", "--tree", WWW, "--to", f"s3://{BUCKET}",
           "--endpoint", endpoint or cluster.endpoint, "--pub", PUB] + list(extra)
    environment = {k: v for k, v in os.environ.items() if not k.startswith("AWS_")}
    return subprocess.run(cmd, capture_output=True, text=True, timeout=300,
                          env=dict(environment, **creds))


def reported(r, outcome):
    """The keys push reported with this outcome ("uploaded", "already there", "refused")."""
    return [line[17:].split()[0] for line in r.stdout.splitlines()
            if line.startswith(outcome.ljust(17))]


def uploaded(r):
    return reported(r, "uploaded")


def local(key):
    with open(os.path.join(WWW, key), "rb") as f:
        return f.read()


def release(version, size=1 << 20):
    client = os.path.join(SCRATCH, f"client-{version}.exe")
    with open(client, "wb") as f:
        f.write(b"MZ" + os.urandom(size - 2))
    return os.path.relpath(publish(WWW, client, version, int(version.split(".")[0])), WWW)


def stored_manifest():
    return public(MANIFEST)[1]


class StopBeforeManifest:
    """Between push and the gateway: the first request for the manifest finds the gateway gone,
    as an outage in the middle of a push would have it."""

    def __init__(self):
        self.server = socket.create_server(("127.0.0.1", PROXY_PORT))
        threading.Thread(target=self.accept, daemon=True).start()

    def accept(self):
        while True:
            try:
                conn, _ = self.server.accept()
            except OSError:
                return
            threading.Thread(target=self.relay, args=(conn,), daemon=True).start()

    def relay(self, conn):
        with conn:
            head = conn.recv(65536)
            if f"/{MANIFEST} ".encode() in head.split(b"\r\n")[0] and cluster.gateway:
                cluster.stop_gateway()
            try:
                up = socket.create_connection(("127.0.0.1", cluster.port + 1))
            except OSError:
                return
            with up:
                up.sendall(head)
                threading.Thread(target=self.pump, args=(conn, up), daemon=True).start()
                self.pump(up, conn)

    @staticmethod
    def pump(src, dst):
        try:
            while data := src.recv(65536):
                dst.sendall(data)
            dst.shutdown(socket.SHUT_WR)
        except OSError:
            pass

    def close(self):
        self.server.close()


# --- the checks ---------------------------------------------------------------------------------

def the_guide_pushes_a_fresh_tree_into_an_empty_bucket_and_verify_passes_through_the_edge():
    assert s3("PUT") == 200, "the bucket could not be made"
    script = guide_block("publisher-push")
    for example, here in (("https://s3.eu-central-1.amazonaws.com", cluster.endpoint),
                          ("https://updates.example", f"{BASE} --ca-file {front.ca_file}"),
                          ("publisher/", PUBLISHER + "/")):
        assert example in script, f"the push guide no longer says {example}"
        script = script.replace(example, here)
    r = subprocess.run(["bash", "-euo", "pipefail", "-c", script], cwd=harness.ROOT,
                       capture_output=True, text=True, timeout=300, env=dict(os.environ, **CREDENTIALS))
    assert r.returncode == 0, f"the push guide failed ({r.returncode}): {r.stdout}{r.stderr}"
    keys = [PAYLOADS[0], "VarnokClientSetup-1.0.0.exe", "VarnokClientSetup.exe",
            "VarnokClientSetup.exe.sha256", MANIFEST]
    assert uploaded(r) == keys, f"uploaded in another order: {r.stdout}"
    assert r.stdout.count("PASS ") == 9 and "FAIL " not in r.stdout, r.stdout
    # Nothing but what is served: no history, no lock, no dot-file left in the tree.
    assert sorted(cluster.objects(BUCKET)) == sorted(keys), cluster.objects(BUCKET)
    for key in keys:
        headers, body = public(key)
        assert body == local(key), f"{key} is not stored as the tree has it"
        seen = (headers["Content-Type"], headers["Cache-Control"])
        assert seen == expected_headers(key), f"{key} is served with {seen}"
        assert headers["x-amz-meta-sha256"] == hashlib.sha256(body).hexdigest(), key
    try:
        public("")  # a listing of the bucket
        raise AssertionError("anyone may list the bucket")
    except urllib.error.HTTPError as e:
        assert e.code == 403, e.code
    # A client's x-amz-* headers never reach the store: with an SSE-C key claimed, the gateway
    # would refuse the object (and the first miss would decide for everyone). The versioned
    # installer is asked through the edge for the first time here, so the gateway is asked.
    key = bytes(32)
    sse_c = {"x-amz-server-side-encryption-customer-algorithm": "AES256",
             "x-amz-server-side-encryption-customer-key": base64.b64encode(key).decode(),
             "x-amz-server-side-encryption-customer-key-MD5":
                 base64.b64encode(hashlib.md5(key).digest()).decode()}
    context = ssl.create_default_context(cafile=front.ca_file)
    asked = urllib.request.Request(f"{BASE}/VarnokClientSetup-1.0.0.exe", headers=sse_c)
    with urllib.request.urlopen(asked, context=context, timeout=30) as resp:
        assert resp.read() == local("VarnokClientSetup-1.0.0.exe")
    # A request line without a path is no file: 404, not a failed VCL.
    with socket.create_connection(("localhost", PORT), timeout=30) as raw, \
            context.wrap_socket(raw, server_hostname="localhost") as tls:
        tls.sendall(b"GET https://localhost HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n")
        assert tls.recv(64).startswith(b"HTTP/1.1 404"), "an empty path is not answered 404"
    # A payload not uploaded yet is never kept at the edge as missing.
    try:
        urllib.request.urlopen(f"{BASE}/api/updates/files/VarnokClient-9-0123456789abcdef.exe",
                               context=ssl.create_default_context(cafile=front.ca_file), timeout=30)
        raise AssertionError("a missing payload was served")
    except urllib.error.HTTPError as e:
        assert e.headers["Cache-Control"] == "no-store", (e.code, dict(e.headers))


def the_installer_installs_through_the_edge_from_the_bucket():
    env.clean_slate()
    subprocess.run(["bash", os.path.join(harness.ROOT, "tests", "servers", "trust-test-ca.sh")],
                   check=True, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    w = installer_window.Window(EXE)
    try:
        w.click(250, 238)  # Launch after install, cleared
        w.click(200, 285)  # Install
        w.wait_for(installer_window.is_done, "the Done screen", timeout=90)
    finally:
        w.close()
    assert env.read(env.CLIENT) == env.read(STANDIN), "the installed client is not the pushed one"


def a_second_push_uploads_nothing_and_a_new_release_only_its_payload_and_the_manifest():
    # Asked the other way, as <bucket>.<endpoint host>, the bucket holds the same.
    r = push("--virtual-host", endpoint=f"http://localhost:{cluster.port + 1}")
    assert r.returncode == 0 and uploaded(r) == [], f"{r.stdout}{r.stderr}"
    assert len(reported(r, "already there")) == 5, r.stdout
    PAYLOADS.append(release("2.0.0"))
    r = push()
    assert r.returncode == 0 and uploaded(r) == [PAYLOADS[1], MANIFEST], f"{r.stdout}{r.stderr}"
    assert set(PAYLOADS) <= set(cluster.objects(BUCKET)), "an older payload left the bucket"
    assert stored_manifest() == local(MANIFEST)


def a_payload_name_with_other_bytes_in_the_bucket_stops_the_push_before_anything_more():
    live = stored_manifest()
    PAYLOADS.append(release("3.0.0"))
    # Other bytes of the payload's length that claim its digest: only the bytes count.
    rogue = b"MZ" + os.urandom(len(local(PAYLOADS[2])) - 2)
    forged = "x-amz-meta-sha256: " + hashlib.sha256(local(PAYLOADS[2])).hexdigest()
    assert s3("PUT", PAYLOADS[2], rogue, [forged]) == 200
    r = push()
    assert r.returncode == 1 and uploaded(r) == [], f"{r.stdout}{r.stderr}"
    for digest in (hashlib.sha256(rogue).hexdigest(), hashlib.sha256(local(PAYLOADS[2])).hexdigest()):
        assert digest in r.stderr, f"the refusal does not name {digest}: {r.stderr}"
    assert reported(r, "refused") == [PAYLOADS[2]], r.stdout
    assert stored_manifest() == live and public(PAYLOADS[2])[1] == rogue
    assert s3("DELETE", PAYLOADS[2]) == 204


def an_outage_before_the_manifest_keeps_the_old_one_live_and_wrong_credentials_change_nothing():
    live, before = stored_manifest(), cluster.objects(BUCKET)
    proxy = StopBeforeManifest()
    try:
        r = push(endpoint=f"http://127.0.0.1:{PROXY_PORT}")
    finally:
        proxy.close()
    assert r.returncode == 1 and MANIFEST not in uploaded(r), f"{r.stdout}{r.stderr}"
    assert PAYLOADS[2] in uploaded(r) and cluster.gateway is None, r.stdout
    cluster.start_gateway()
    assert stored_manifest() == live, "the new manifest went live without its push finishing"
    after = cluster.objects(BUCKET)
    bad = push(creds=dict(CREDENTIALS, AWS_SECRET_ACCESS_KEY="not-the-secret"))
    assert bad.returncode == 1 and uploaded(bad) == [], f"{bad.stdout}{bad.stderr}"
    for words in ("refused the credentials", "AWS_SECRET_ACCESS_KEY", "nothing was uploaded"):
        assert words in bad.stderr, bad.stderr
    assert cluster.objects(BUCKET) == after and stored_manifest() == live
    # The rest over TLS, as a real store is asked (the gateway's certificate is the test CA's).
    r = push("--verify", BASE, "--ca-file", front.ca_file, endpoint=cluster.tls_endpoint)
    assert r.returncode == 0 and uploaded(r) == [MANIFEST], f"{r.stdout}{r.stderr}"
    assert r.stdout.count("PASS ") == 9, r.stdout
    assert stored_manifest() == local(MANIFEST) and len(cluster.objects(BUCKET)) == len(before) + 1


PAYLOADS = []


def prepare_tree():
    shutil.rmtree(SCRATCH, ignore_errors=True)
    os.makedirs(PUBLISHER)
    shutil.copyfile(PUB, os.path.join(PUBLISHER, "manifest-key.hex"))
    PAYLOADS.append(os.path.relpath(publish(WWW, STANDIN, "1.0.0", 1), WWW))
    # What scripts/release writes into the tree, and what a publish under way leaves beside it.
    for name in ("VarnokClientSetup.exe", "VarnokClientSetup-1.0.0.exe"):
        shutil.copyfile(EXE, os.path.join(WWW, name))
    with open(os.path.join(WWW, "VarnokClientSetup.exe.sha256"), "w") as f:
        f.write(f"{env.digest(EXE)}  VarnokClientSetup.exe\n")
    with open(os.path.join(WWW, "api", "updates", "files", ".VarnokClient-9.exe.tmp"), "wb") as f:
        f.write(b"MZ half")


if __name__ == "__main__":
    prepare_tree()
    origin = open(os.path.join(edge.EDGE_DIR, "gateway-origin.vcl")).read()
    origin = origin.replace("7480", str(PORT + 5)).replace("/varnok-updates", "/" + BUCKET)
    with ceph_gateway.Cluster(os.path.join(SCRATCH, "ceph"), PORT + 4) as cluster, \
            edge.Edge(WWW, PORT, os.path.join(SCRATCH, "edge"), origin_vcl=origin) as front:
        harness.main([
            the_guide_pushes_a_fresh_tree_into_an_empty_bucket_and_verify_passes_through_the_edge,
            the_installer_installs_through_the_edge_from_the_bucket,
            a_second_push_uploads_nothing_and_a_new_release_only_its_payload_and_the_manifest,
            a_payload_name_with_other_bytes_in_the_bucket_stops_the_push_before_anything_more,
            an_outage_before_the_manifest_keeps_the_old_one_live_and_wrong_credentials_change_nothing,
        ])
