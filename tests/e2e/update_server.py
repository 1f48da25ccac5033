"""The update server the installer is built to talk to (https://localhost:8443 in the default
build), for end-to-end tests: a tree laid out by the publisher's tool, served by nginx with the
test CA's certificate for localhost, with its access log read back.

The publisher's tool is a host program; it is built here when the host build does not have it.
"""
import hashlib
import os
import shutil
import signal
import socket
import subprocess
import sys
import time

import harness

sys.path.insert(0, os.path.join(harness.ROOT, "tests", "servers"))
import make_test_ca  # noqa: E402


def _configured_port():
    """The port of the base URL this build tree's installer was configured with (8443 unless a
    worktree chose another, so that two trees can run their end-to-end tests side by side)."""
    import re
    header = os.path.join(harness.ROOT, "build", "windows", "generated", "build_config.h")
    try:
        text = open(header, encoding="utf-8").read()
    except OSError:
        return 8443
    m = re.search(r'kWebBaseUrl\[\] = "https://localhost:(\d+)"', text)
    return int(m.group(1)) if m else 8443


PORT = _configured_port()
TOOL = os.path.join(harness.ROOT, "build", "host", "tools", "varnok-publish")
DEV_KEY = os.path.join(harness.ROOT, "tests", "fixtures", "dev-manifest-key.NOT-FOR-RELEASE.pem")
STATE = os.path.join(harness.ROOT, "build", "e2e-update-server")
MANIFEST = "/api/updates/manifest"

def nginx_conf(state, http_body):
    """A whole nginx.conf that keeps everything nginx writes in `state` (run as root, its worker
    would otherwise be nobody and might not read the build tree); `http_body` goes into http."""
    return f"""{"user root;" if os.geteuid() == 0 else ""}
worker_processes 1;
daemon off;
master_process on;
pid {state}/nginx.pid;
error_log {state}/error.log warn;
events {{ worker_connections 64; }}
http {{
    access_log {state}/access.log;
    client_body_temp_path {state}/tmp;
    proxy_temp_path {state}/tmp;
    fastcgi_temp_path {state}/tmp;
    uwsgi_temp_path {state}/tmp;
    scgi_temp_path {state}/tmp;
{http_body}
}}
"""


SERVER = """
    types {{ }}
    default_type application/octet-stream;
    keepalive_timeout 10;
    ssl_protocols TLSv1.2 TLSv1.3;
    server {{
        listen 127.0.0.1:{port} ssl;
        server_name localhost;
        ssl_certificate {ca}/{cert}.pem;
        ssl_certificate_key {ca}/{cert}.key;
        root {root};
        location /api/updates/files/ {{ {rate} }}
    }}"""


def ensure_tool():
    if os.access(TOOL, os.X_OK):
        return TOOL
    for cmd in (["cmake", "--preset", "host"],
                ["cmake", "--build", "--preset", "host", "--target", "varnok-publish"]):
        subprocess.run(cmd, cwd=harness.ROOT, check=True, capture_output=True, timeout=900)
    return TOOL


def publish(root, exe, version="1.0.0", build=1, key=DEV_KEY, published_at=None, token=None):
    """Lays out root/api/updates/manifest and the payload with the tool; returns the payload's
    path, files/VarnokClient-<version>-<first 16 hex digits of its SHA-256>.exe. With a
    softhsm_token.Token, `key` is the URI of a key in it."""
    cmd = [ensure_tool(), "publish", "--key", key, "--exe", exe, "--version", version,
           "--build", str(build), "--out", root]
    if published_at is not None:
        cmd += ["--published-at", str(published_at)]
    if token is not None:
        cmd += token.options()
    r = subprocess.run(cmd, capture_output=True, text=True, timeout=120,
                       env=token.env() if token is not None else None)
    assert r.returncode == 0, f"publish failed: {r.stderr.strip()}"
    with open(exe, "rb") as f:
        digest = hashlib.sha256(f.read()).hexdigest()
    served = os.path.join(root, "api", "updates", "files", f"VarnokClient-{version}-{digest[:16]}.exe")
    assert os.path.isfile(served), f"publish did not lay out {served}: {r.stdout.strip()}"
    return served


def make_key(folder):
    """A second key pair, which installers built with the development key do not trust."""
    key = os.path.join(folder, "other-key.pem")
    if not os.path.exists(key):
        r = subprocess.run([ensure_tool(), "keygen", "--out", key], capture_output=True,
                           text=True, timeout=60)
        assert r.returncode == 0, f"keygen failed: {r.stderr.strip()}"
    return key


def port_open():
    try:
        with socket.create_connection(("127.0.0.1", PORT), timeout=0.3):
            return True
    except OSError:
        return False


class UpdateServer:
    """nginx on the installer's port serving `root`; `rate` slows the client files (nginx
    limit_rate, for example "64k") so that a download lasts long enough to be cancelled; `cert`
    "rogue-localhost" answers with a certificate for localhost from a CA nobody trusts."""

    def __init__(self, root, rate=None, cert="localhost"):
        ca = make_test_ca.ensure(make_test_ca.default_folder())
        # A CA made after the prefix must be trusted in it too (no-op when it already is).
        subprocess.run(["bash", os.path.join(harness.ROOT, "tests", "servers", "trust-test-ca.sh")],
                       check=True, stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        assert not port_open(), f"port {PORT} is taken: the installer's server address is fixed"
        shutil.rmtree(STATE, ignore_errors=True)
        os.makedirs(os.path.join(STATE, "tmp"))
        conf = os.path.join(STATE, "nginx.conf")
        with open(conf, "w") as f:
            f.write(nginx_conf(STATE, SERVER.format(
                port=PORT, ca=ca, cert=cert, root=os.path.abspath(root),
                rate=f"limit_rate {rate};" if rate else "")))
        self.proc = subprocess.Popen(["nginx", "-p", STATE + "/", "-c", conf, "-e",
                                      os.path.join(STATE, "error.log")],
                                     stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL, start_new_session=True)
        deadline = time.time() + 15
        while not port_open():
            if self.proc.poll() is not None or time.time() > deadline:
                self.stop()
                raise AssertionError(f"nginx did not start on {PORT}; see " + STATE + "/error.log")
            time.sleep(0.05)

    def requests(self):
        """The request paths nginx has logged so far, in order."""
        log = os.path.join(STATE, "access.log")
        if not os.path.exists(log):
            return []
        paths = []
        with open(log) as f:
            for line in f:
                parts = line.split('"')
                if len(parts) > 1 and " " in parts[1]:
                    paths.append(parts[1].split(" ")[1])
        return paths

    def manifest_requests(self):
        return self.requests().count(MANIFEST)

    def stop(self):
        if self.proc.poll() is None:
            os.killpg(self.proc.pid, signal.SIGTERM)
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, signal.SIGKILL)
                self.proc.wait(10)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
