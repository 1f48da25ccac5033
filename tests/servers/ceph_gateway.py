"""A throw-away single-node Ceph cluster with its RADOS Gateway (S3), for the tests and the
benchmark of `varnok-publish push`: one monitor, one OSD keeping everything in memory (memstore),
pools of one copy, and radosgw's beast frontend, all in one folder under build/ and stopped by
PID. From nothing to the first PUT takes a few seconds.

    127.0.0.1:port        the monitor (msgr2)
    127.0.0.1:port + 1    the gateway (plain HTTP S3)
    127.0.0.1:port + 2    the gateway over TLS, with the test CA's certificate for localhost
    127.0.0.2 and .3      the OSD's public and cluster side, on port .. port + 2
"""
import json
import os
import shutil
import signal
import socket
import subprocess
import time
import uuid

import make_test_ca

ACCESS_KEY, SECRET_KEY = "VARNOKTESTPUBLISHER0", "varnok-test-secret-not-for-anything-else"

CONF = """[global]
fsid = {fsid}
mon_host = v2:127.0.0.1:{mon}
ms_bind_msgr1 = false
auth_allow_insecure_global_id_reclaim = false
mon_allow_pool_size_one = true
mon_warn_on_pool_no_redundancy = false
mon_data_avail_warn = 1
osd_pool_default_size = 1
osd_pool_default_min_size = 1
osd_pool_default_pg_num = 8
osd_pool_default_pgp_num = 8
osd_pool_default_pg_autoscale_mode = off
osd_crush_chooseleaf_type = 0
paxos_propose_interval = 0.01
run_dir = {d}/run
admin_socket = {d}/run/$name.asok
log_file = {d}/log/$name.log
keyring = {d}/keyring
[mon]
mon_data = {d}/mon/$id
[osd]
osd_data = {d}/osd/$id
osd_objectstore = memstore
memstore_device_bytes = 1073741824
public_addr = 127.0.0.2
cluster_addr = 127.0.0.3
ms_bind_port_min = {mon}
ms_bind_port_max = {osd_max}
[client.rgw]
rgw_frontends = beast endpoint=127.0.0.1:{rgw} ssl_endpoint=127.0.0.1:{rgw_tls} ssl_certificate={ca}/localhost.pem ssl_private_key={ca}/localhost.key
# <bucket>.localhost for virtual-hosted requests (curl takes every *.localhost as loopback)
rgw_dns_name = localhost
rgw_data = {d}/rgw
"""

KEYS = [("mon.", ["mon", "allow *"]),
        ("client.admin", ["mon", "allow *", "osd", "allow *", "mgr", "allow *"]),
        ("osd.0", ["mon", "allow profile osd", "osd", "allow *"]),
        ("client.rgw", ["mon", "allow rw", "osd", "allow rwx"])]


def port_open(port, host="127.0.0.1"):
    try:
        with socket.create_connection((host, port), timeout=0.3):
            return True
    except OSError:
        return False


class Cluster:
    def __init__(self, state, port):
        self.state, self.port = state, port
        self.endpoint = f"http://127.0.0.1:{port + 1}"
        self.tls_endpoint = f"https://localhost:{port + 2}"
        ca = make_test_ca.ensure(make_test_ca.default_folder())
        self.ca_file = os.path.join(ca, "ca.pem")
        self.conf = os.path.join(state, "ceph.conf")
        self.procs, self.gateway = [], None
        for p in range(port, port + 3):
            assert not port_open(p), f"port {p} is taken: the gateway's ports follow the base URL's"
        shutil.rmtree(state, ignore_errors=True)
        for sub in ("run", "log", "mon/a", "osd/0", "rgw"):
            os.makedirs(os.path.join(state, sub))
        fsid = str(uuid.uuid4())
        with open(self.conf, "w") as f:
            f.write(CONF.format(fsid=fsid, d=state, mon=port, rgw=port + 1, rgw_tls=port + 2,
                                osd_max=port + 2, ca=ca))
        try:
            keyring = os.path.join(state, "keyring")
            for i, (name, caps) in enumerate(KEYS):
                self.run(["ceph-authtool", keyring, "--gen-key", "-n", name] +
                         (["--create-keyring"] if i == 0 else []) +
                         [a for j in range(0, len(caps), 2) for a in ("--cap", caps[j], caps[j + 1])])
            monmap = os.path.join(state, "monmap")
            self.run(["monmaptool", "--create", "--fsid", fsid, "--addv", "a",
                      f"[v2:127.0.0.1:{port}]", monmap])
            self.run(["ceph-mon", "-c", self.conf, "--mkfs", "-i", "a", "--monmap", monmap,
                      "--keyring", keyring])
            self.spawn("mon", ["ceph-mon", "-c", self.conf, "-f", "-i", "a"], port)
            osd = str(uuid.uuid4())
            self.run(["ceph", "-c", self.conf, "osd", "new", osd, "0"])
            self.run(["ceph-osd", "-c", self.conf, "-i", "0", "--mkfs", "--osd-uuid", osd])
            self.spawn("osd", ["ceph-osd", "-c", self.conf, "-f", "-i", "0"], port, "127.0.0.2")
            self.start_gateway()
            self.run(["radosgw-admin", "-c", self.conf, "user", "create", "--uid", "publisher",
                      "--display-name", "publisher", "--access-key", ACCESS_KEY,
                      "--secret", SECRET_KEY])
        except BaseException:
            self.stop()
            raise

    def run(self, cmd, timeout=60):
        r = subprocess.run(cmd, stdin=subprocess.DEVNULL, capture_output=True, text=True,
                           timeout=timeout)
        assert r.returncode == 0, f"{' '.join(cmd[:3])} failed: {r.stdout}{r.stderr}"
        return r.stdout

    def spawn(self, name, cmd, port, host="127.0.0.1", timeout=60):
        log = open(os.path.join(self.state, "log", name + ".out"), "ab")
        proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                start_new_session=True)
        self.procs.append(proc)
        deadline = time.time() + timeout
        while not port_open(port, host):
            if proc.poll() is not None or time.time() > deadline:
                raise AssertionError(f"{name} did not start on {host}:{port}; see {log.name}")
            time.sleep(0.05)
        return proc

    def start_gateway(self):
        self.gateway = self.spawn("rgw", ["radosgw", "-c", self.conf, "-f", "-n", "client.rgw"],
                                  self.port + 1)

    def stop_gateway(self):
        self._end(self.gateway)
        self.procs.remove(self.gateway)
        self.gateway = None

    def objects(self, bucket):
        """{key: size} of what the bucket holds, as the gateway's own admin tool lists it."""
        listing = json.loads(self.run(["radosgw-admin", "-c", self.conf, "bucket", "list",
                                       "--bucket", bucket]))
        return {o["name"]: o["meta"]["size"] for o in listing}

    def resident_bytes(self):
        total = 0
        for proc in self.procs:
            with open(f"/proc/{proc.pid}/status") as f:
                total += sum(int(line.split()[1]) * 1024 for line in f if line.startswith("VmRSS"))
        return total

    @staticmethod
    def _end(proc):
        if proc.poll() is None:
            os.killpg(proc.pid, signal.SIGTERM)
            try:
                proc.wait(10)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
                proc.wait(10)

    def stop(self):
        for proc in reversed(self.procs):
            self._end(proc)
        self.procs = []
        shutil.rmtree(self.state, ignore_errors=True)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.stop()
