"""Reading turn records: a long run of blank lines, and the memory a long line takes.

    python3 bench/reading.py                  # 200 MB of blank lines, a 200 MB line
    python3 bench/reading.py --mb 50
    python3 bench/reading.py --root DIR       # the package found in DIR instead

Blank lines: the wall time to read a file of that many megabytes of newlines and one
record after them, from a stream and in place (spans of the file). Long line: the peak
resident memory of a process that reads one record holding a string of that size, from
a stream and in place, against the line's size. Each in a fresh process.
"""

import argparse
import json
import os
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
RECORD = {"run_log": {"events": [], "external": [], "written": [], "commands": []},
          "claims": []}

CHILD = """
import resource, sys, time
sys.path.insert(0, sys.argv[1])
try:
    from proofmark_core.records import input as reading
except ImportError:  # the package as it was before it was grouped by stage
    from proofmark_core import _input as reading
path, how = sys.argv[2], sys.argv[3]
started = time.perf_counter()
if how == "stream":
    with open(path, "rb") as stream:
        items = [reading.decoded(item) for item in reading.read_records(stream, jsonl=True)]
else:
    items = [reading.decoded(item) for item in reading.line_spans(path)]
assert len(items) == 1 and items[0].error is None, items[:1]
print(time.perf_counter() - started, resource.getrusage(resource.RUSAGE_SELF).ru_maxrss)
"""


def measure(root: str, path: str, how: str) -> tuple[float, int]:
    done = subprocess.run([sys.executable, "-c", CHILD, root, path, how],
                          capture_output=True, text=True, check=True)
    seconds, kilobytes = done.stdout.split()
    return float(seconds), int(kilobytes) >> 10


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mb", type=int, default=200)
    parser.add_argument("--root", default=ROOT)
    options = parser.parse_args()
    size = options.mb << 20
    with tempfile.TemporaryDirectory() as folder:
        blank = os.path.join(folder, "blank.jsonl")
        with open(blank, "wb") as out:
            out.write(b"\n" * size + json.dumps(RECORD).encode() + b"\n")
        long = os.path.join(folder, "long.jsonl")
        with open(long, "w") as out:
            out.write(json.dumps({**RECORD, "pad": "x" * size}) + "\n")
        for how in ("stream", "in place"):
            mode = how.split()[0] if how == "stream" else "spans"
            seconds, _ = measure(options.root, blank, mode)
            print(f"{options.mb} MB of blank lines, {how}: {seconds:.2f} s")
            started = time.perf_counter()
            _, peak = measure(options.root, long, mode)
            print(f"a {options.mb} MB line, {how}: peak {peak} MB "
                  f"({peak / options.mb:.1f}x; {time.perf_counter() - started:.1f} s)")


if __name__ == "__main__":
    main()
