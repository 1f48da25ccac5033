"""An update server behind a real edge cache, as tools/edge/ describes it: hitch (TLS) on the
installer's port, Varnish behind it with tools/edge/varnish.vcl, and nginx as the origin with
tools/nginx-updates-paths.conf, each unchanged. Every process keeps its files in one folder under
build/, listens on loopback ports derived from the build's base-URL port, and is stopped by PID.

    port      hitch, the address installers are built for (https://localhost:port)
    port + 1  Varnish (plain HTTP, only hitch asks it)
    port + 2  the origin (plain HTTP, only Varnish asks it)
    port + 3  the same origin over TLS, for comparing the edge with the origin alone
"""
import os
import shutil
import signal
import socket
import subprocess
import time

import make_test_ca

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EDGE_DIR = os.path.join(ROOT, "tools", "edge")
PATHS_CONF = os.path.join(ROOT, "tools", "nginx-updates-paths.conf")

ORIGIN = """{user}
worker_processes 1;
daemon off;
master_process on;
pid {state}/nginx.pid;
error_log {state}/nginx-error.log warn;
events {{ worker_connections 512; }}
http {{
    access_log {state}/origin-access.log;
    client_body_temp_path {state}/tmp;
    proxy_temp_path {state}/tmp;
    fastcgi_temp_path {state}/tmp;
    uwsgi_temp_path {state}/tmp;
    scgi_temp_path {state}/tmp;
    sendfile on;
    keepalive_timeout 10;
    ssl_protocols TLSv1.2 TLSv1.3;
    server {{
        listen 127.0.0.1:{plain};
        listen 127.0.0.1:{tls} ssl;
        server_name localhost;
        ssl_certificate {ca}/localhost.pem;
        ssl_certificate_key {ca}/localhost.key;
        root {root};
        include {paths};
    }}
}}
"""


def port_open(port):
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=0.3):
            return True
    except OSError:
        return False


class Edge:
    """Origin, Varnish and hitch for `root` on `port`..`port + 3`. `vcl` replaces varnish.vcl
    (a test's deliberately wrong edge); it may include "varnish.vcl". With `origin_vcl` (the text
    of an origin.vcl, such as a copy of gateway-origin.vcl) Varnish asks that origin and no nginx
    is started."""

    def __init__(self, root, port, state, vcl=None, origin_vcl=None):
        self.port, self.state = port, state
        self.procs = []
        ca = make_test_ca.ensure(make_test_ca.default_folder())
        self.ca_file = os.path.join(ca, "ca.pem")
        for p in range(port, port + 4):
            assert not port_open(p), f"port {p} is taken: the edge's ports follow the base URL's"
        shutil.rmtree(state, ignore_errors=True)
        os.makedirs(os.path.join(state, "tmp"))
        try:
            if origin_vcl is None:
                self._start_origin(root, ca)
            self._start_varnish(vcl, origin_vcl)
            self._start_hitch(ca)
        except BaseException:
            self.stop()
            raise

    def _spawn(self, name, cmd, port):
        log = open(os.path.join(self.state, name + ".out"), "ab")
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                start_new_session=True)
        self.procs.append(proc)
        deadline = time.time() + 20
        while not port_open(port):
            if proc.poll() is not None or time.time() > deadline:
                raise AssertionError(f"{name} did not start on {port}; see {log.name}")
            time.sleep(0.05)

    def _start_origin(self, root, ca):
        conf = os.path.join(self.state, "nginx.conf")
        with open(conf, "w") as f:
            f.write(ORIGIN.format(user="user root;" if os.geteuid() == 0 else "", state=self.state,
                                  plain=self.port + 2, tls=self.port + 3, ca=ca,
                                  root=os.path.abspath(root), paths=PATHS_CONF))
        self._spawn("nginx", ["nginx", "-p", self.state + "/", "-c", conf, "-e",
                              os.path.join(self.state, "nginx-error.log")], self.port + 2)

    def _start_varnish(self, vcl, origin_vcl=None):
        # The shipped VCL includes origin.vcl; this run's own comes first on the VCL path.
        with open(os.path.join(self.state, "origin.vcl"), "w") as f:
            f.write(origin_vcl or
                    f'backend origin {{ .host = "127.0.0.1"; .port = "{self.port + 2}"; }}\n')
        self.varnish_dir = os.path.join(self.state, "varnish")
        self._spawn("varnishd", [
            "varnishd", "-F", "-j", "none", "-n", self.varnish_dir, "-T", "none",
            "-a", f"127.0.0.1:{self.port + 1}", "-f", vcl or os.path.join(EDGE_DIR, "varnish.vcl"),
            "-p", f"vcl_path={self.state}:{EDGE_DIR}", "-s", "malloc,256m"], self.port + 1)

    def _start_hitch(self, ca):
        pem = os.path.join(self.state, "localhost-chain-and-key.pem")
        with open(pem, "w") as out:
            for part in ("localhost.key", "localhost.pem"):
                with open(os.path.join(ca, part)) as f:
                    out.write(f.read())
        ocsp = os.path.join(self.state, "ocsp")
        os.makedirs(ocsp)
        cmd = ["hitch", "--config=" + os.path.join(EDGE_DIR, "hitch.conf"),
               f"--frontend=[127.0.0.1]:{self.port}", f"--backend=[127.0.0.1]:{self.port + 1}",
               "--ocsp-dir=" + ocsp, pem]
        if os.geteuid() == 0:
            cmd.insert(2, "--user=nobody")  # hitch runs no worker as root
        self._spawn("hitch", cmd, self.port)

    def origin_requests(self):
        """The paths the origin was asked for, in order."""
        paths = []
        try:
            with open(os.path.join(self.state, "origin-access.log")) as f:
                for line in f:
                    parts = line.split('"')
                    if len(parts) > 1 and " " in parts[1]:
                        paths.append(parts[1].split(" ")[1])
        except FileNotFoundError:
            pass
        return paths

    def counters(self, *names):
        r = subprocess.run(["varnishstat", "-n", self.varnish_dir, "-1"] +
                           [a for n in names for a in ("-f", n)],
                           capture_output=True, text=True, timeout=30)
        values = {}
        for line in r.stdout.splitlines():
            parts = line.split()
            if len(parts) >= 2 and parts[0] in names:
                values[parts[0]] = int(parts[1])
        return values

    def hit_ratio(self):
        """(hits, misses, hits / (hits + misses)) since Varnish started."""
        c = self.counters("MAIN.cache_hit", "MAIN.cache_miss")
        hits, misses = c.get("MAIN.cache_hit", 0), c.get("MAIN.cache_miss", 0)
        return hits, misses, hits / max(1, hits + misses)

    def stop(self):
        for proc in reversed(self.procs):
            if proc.poll() is None:
                os.killpg(proc.pid, signal.SIGTERM)
                try:
                    proc.wait(10)
                except subprocess.TimeoutExpired:
                    os.killpg(proc.pid, signal.SIGKILL)
                    proc.wait(10)
        self.procs = []

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
