"""The stand-in client records each start: its arguments exactly as given and its working folder."""
import json
import os
import subprocess
import sys
import tempfile

import harness

STANDIN = sys.argv[1]


def test_standin_records_arguments_and_working_folder():
    with tempfile.TemporaryDirectory(dir=harness.WINE_ROOT) as scratch:
        log = os.path.join(scratch, "launches.log")
        win_log = "Z:" + log.replace("/", "\\")
        args = ["morvanta://join?server=1&name=a b", "two words", ""]
        r = subprocess.run(["wine", STANDIN] + args, cwd=scratch, timeout=60, capture_output=True,
                           env=harness.wine_env({"VARNOK_STANDIN_LOG": win_log}))
        assert r.returncode == 0, f"exit code {r.returncode}"
        lines = open(log, encoding="utf-8").read().splitlines()
        assert len(lines) == 1, f"{len(lines)} records"
        record = json.loads(lines[0])
        assert record["args"] == args, record["args"]
        assert record["cwd"].lower() == ("Z:" + scratch.replace("/", "\\")).lower(), record["cwd"]
        assert record["time"].endswith("Z")


if __name__ == "__main__":
    harness.main([test_standin_records_arguments_and_working_folder])
