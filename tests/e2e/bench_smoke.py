"""scripts/bench run whole, as a user runs it, once with small sizes: every part must still print
its figure, so that a change to one part can never again leave the whole bench without figures.
Not a measurement: no time is judged here."""
import os
import re
import subprocess

import harness

BENCH = os.path.join(harness.ROOT, "scripts", "bench")
FIGURES = ["1. Download", "2. Peak working set", "3. Process start", "4. Painting",
           "5. Install click to Done", "6. Size:", "7. Serving through the edge", "8. push into"]
NUMBER = re.compile(r"^-?\d+(\.\d+)?$")


def test_the_whole_bench_prints_every_figure():
    r = subprocess.run([BENCH], env=dict(os.environ, VARNOK_BENCH_SMOKE="1"),
                       stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=540)
    tail = r.stdout[-2000:] + "\n" + r.stderr[-2000:]
    assert r.returncode == 0, f"scripts/bench ended with {r.returncode}:\n{tail}"
    for slip in ("unbound variable", "syntax error", "command not found"):
        assert slip not in r.stderr, f"scripts/bench: {slip}:\n{tail}"
    heads = [line for line in r.stdout.splitlines() if re.match(r"^\d\. ", line)]
    missing = [f for f in FIGURES if not any(h.startswith(f) for h in heads)]
    assert not missing, f"figures missing: {missing}\n{tail}"
    # Every ratio the bench prints is a number: an empty one means a part measured nothing.
    ratios = re.findall(r"= (\S*)", r.stdout)
    assert ratios and all(NUMBER.match(x.rstrip(",;")) for x in ratios), \
        f"ratios that are not numbers: {[x for x in ratios if not NUMBER.match(x.rstrip(',;'))]}"


if __name__ == "__main__":
    harness.main([test_the_whole_bench_prints_every_figure])
