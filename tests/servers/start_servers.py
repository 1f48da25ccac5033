#!/usr/bin/env python3
"""Starts the test servers for one test run and says where they are.

nginx (its own configuration, prefix, pid file, logs and temp paths under --state) and the
fault-injecting server, both on 127.0.0.1 only, on ports chosen at start. Writes
<state>/servers.json (ports, files and their digests, the fault server's request log) and
<state>/pids (one "name pid" per line), which stop_servers.py uses to stop them by PID.
Both servers are detached from the caller, so a test fixture can start them and return.
"""
import argparse
import hashlib
import json
import os
import signal
import socket
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import fault_server  # noqa: E402  (the same byte pattern)
import make_test_ca  # noqa: E402
import stop_servers  # noqa: E402

CLIENT_SIZE = 3 * 1024 * 1024 + 123
TAMPERED_OFFSET = 1_500_000


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def write_if_changed(path, data):
    if os.path.exists(path) and os.path.getsize(path) == len(data):
        with open(path, "rb") as f:
            if f.read() == data:
                return
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def make_files(root):
    client = fault_server.pattern_body(CLIENT_SIZE)
    tampered = bytearray(client)
    tampered[TAMPERED_OFFSET] ^= 0x01
    small = fault_server.pattern_body(1000)
    files = {
        "client": ("/api/updates/files/client.bin", client, client),
        "small": ("/files/small.bin", small, small),
        "empty": ("/files/empty.bin", b"", b""),
        # Served with one byte changed; its digest is the one of the right content.
        "tampered": ("/files/tampered.bin", bytes(tampered), client),
    }
    listing = {}
    for name, (url_path, served, meant) in files.items():
        write_if_changed(os.path.join(root, url_path.lstrip("/")), served)
        listing[name] = {"path": url_path, "size": len(meant),
                         "sha256": hashlib.sha256(meant).hexdigest()}
    return listing


def wait_port(port, proc, seconds=15):
    end = time.time() + seconds
    while time.time() < end:
        if proc.poll() is not None:
            return False
        try:
            with socket.create_connection(("127.0.0.1", port), timeout=0.5):
                return True
        except OSError:
            time.sleep(0.05)
    return False


def detached(cmd, log):
    out = open(log, "ab")
    return subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.STDOUT,
                            start_new_session=True, close_fds=True)


def start_fault(state, ca):
    port_file = os.path.join(state, "fault-ports.json")
    if os.path.exists(port_file):
        os.unlink(port_file)
    log = os.path.join(state, "fault-requests.log")
    open(log, "w").close()
    proc = detached([sys.executable, os.path.join(HERE, "fault_server.py"),
                     "--cert", os.path.join(ca, "localhost.pem"),
                     "--key", os.path.join(ca, "localhost.key"),
                     "--port-file", port_file, "--log", log],
                    os.path.join(state, "fault-server.out"))
    end = time.time() + 15
    while not os.path.exists(port_file):
        if proc.poll() is not None or time.time() > end:
            raise RuntimeError("the fault server did not start; see fault-server.out")
        time.sleep(0.05)
    with open(port_file) as f:
        ports = json.load(f)
    return proc, ports, log


def start_nginx(state, ca, root):
    with open(os.path.join(HERE, "nginx.conf.in")) as f:
        template = f.read()
    for tmp in ("body", "proxy", "fastcgi", "uwsgi", "scgi"):
        os.makedirs(os.path.join(state, "nginx-tmp", tmp), exist_ok=True)
    for attempt in range(5):  # a chosen port can be taken before nginx binds it
        ports = {"trusted_port": free_port(), "other_name_port": free_port(),
                 "rogue_ca_port": free_port()}
        if len(set(ports.values())) < 3:
            continue
        conf = template
        # As root, workers would otherwise run as nobody and might not read the build tree.
        conf = conf.replace("@USER@", "user root;" if os.geteuid() == 0 else "")
        for key, value in (("STATE", state), ("CA", ca), ("ROOT", root),
                           ("TRUSTED_PORT", ports["trusted_port"]),
                           ("OTHER_NAME_PORT", ports["other_name_port"]),
                           ("ROGUE_CA_PORT", ports["rogue_ca_port"])):
            conf = conf.replace("@%s@" % key, str(value))
        conf_path = os.path.join(state, "nginx.conf")
        with open(conf_path, "w") as f:
            f.write(conf)
        proc = detached(["nginx", "-p", state + "/", "-c", conf_path,
                         "-e", os.path.join(state, "nginx-error.log")],
                        os.path.join(state, "nginx.out"))
        if all(wait_port(p, proc) for p in ports.values()):
            return proc, ports
        stop_servers.stop_pid(proc.pid)
        proc.wait()
    raise RuntimeError("nginx did not start; see nginx-error.log and nginx.out")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--state", required=True, help="folder for configuration, logs and pids")
    args = parser.parse_args()
    state = os.path.abspath(args.state)
    os.makedirs(state, exist_ok=True)
    stop_servers.stop_all(state)  # what a crashed earlier run may have left

    ca = make_test_ca.ensure(make_test_ca.default_folder())
    # A CA made after the prefix was must be trusted there too (no-op when it already is).
    subprocess.run(["bash", os.path.join(HERE, "trust-test-ca.sh")], check=True,
                   stdin=subprocess.DEVNULL)

    root = os.path.join(state, "www")
    files = make_files(root)
    pids = []
    try:
        fault, fault_ports, log = start_fault(state, ca)
        pids.append(("fault_server", fault.pid))
        nginx, nginx_ports = start_nginx(state, ca, root)
        pids.append(("nginx", nginx.pid))
    finally:
        with open(os.path.join(state, "pids"), "w") as f:
            f.writelines("%s %d\n" % p for p in pids)
    info = {
        "nginx": nginx_ports,
        "fault": dict(fault_ports, log=log),
        "closed_port": free_port(),
        "www": root,
        "files": files,
    }
    with open(os.path.join(state, "servers.json.tmp"), "w") as f:
        json.dump(info, f, indent=2)
    os.replace(os.path.join(state, "servers.json.tmp"), os.path.join(state, "servers.json"))
    print("servers up: nginx %s, fault server %s" % (nginx_ports, fault_ports))
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except (RuntimeError, subprocess.CalledProcessError) as e:
        sys.stderr.write("%s\n" % e)
        sys.exit(1)
