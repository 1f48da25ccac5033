#!/usr/bin/env python3
"""Stops, by PID, the servers that start_servers.py recorded in <state>/pids."""
import argparse
import os
import signal
import sys
import time

MARKERS = {"nginx": b"nginx", "fault_server": b"fault_server.py"}


def alive(pid):
    try:
        os.kill(pid, 0)
    except ProcessLookupError:
        return False
    except PermissionError:
        return True
    # A zombie of ours counts as gone.
    try:
        with open("/proc/%d/stat" % pid) as f:
            return f.read().split(")")[-1].split()[0] != "Z"
    except OSError:
        return False


def is_ours(pid, name):
    try:
        with open("/proc/%d/cmdline" % pid, "rb") as f:
            return MARKERS.get(name, b"") in f.read()
    except OSError:
        return False


def stop_pid(pid, seconds=5):
    try:
        os.kill(pid, signal.SIGTERM)
    except ProcessLookupError:
        return
    end = time.time() + seconds
    while time.time() < end and alive(pid):
        time.sleep(0.05)
    if alive(pid):
        try:
            os.kill(pid, signal.SIGKILL)
        except ProcessLookupError:
            pass


def stop_all(state):
    path = os.path.join(state, "pids")
    if not os.path.exists(path):
        return
    with open(path) as f:
        entries = [line.split() for line in f if line.strip()]
    for name, pid in entries:
        # A recorded PID is stopped only while it is still the server we started.
        if is_ours(int(pid), name):
            stop_pid(int(pid))
    os.unlink(path)


if __name__ == "__main__":
    parser = argparse.ArgumentParser(description=__doc__)
    parser.add_argument("--state", required=True)
    stop_all(os.path.abspath(parser.parse_args().state))
    sys.exit(0)
