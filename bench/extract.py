"""Claim extraction on closing messages of pathological shapes.

    python3 bench/extract.py               # about ten seconds
    python3 bench/extract.py --size 400000

For each shape, the best of a few runs of ``extract_claims`` on a message of ``--size``
characters and on one four times smaller: linear rules take about four times as long on
the larger one, quadratic ones sixteen.
"""

import argparse
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.dirname(HERE))

from proofmark_core.claims import extract_claims  # noqa: E402

RUNS = 3


def nested_list(size):
    lines, depth, length = [], 0, 0
    while length < size:
        lines.append(" " * depth + "- Changed:\n")
        length += len(lines[-1])
        depth += 1
    return "".join(lines) + " " * depth + "- `a.py`\n"


def unmatched_backticks(size):
    runs, length, k = [], 0, 2
    while length < size:
        runs.append("`" * k)
        length += k + 1
        k += 1
    return "Added `a.py` x" + "x".join(runs)


SHAPES = {
    "spaces before a dash": lambda n: " " * n + "-\nAdded `a.py`.",
    "spaces in a table rule": lambda n: "|" + " " * n + "-\nAdded `a.py`.",
    "list markers on one line": lambda n: "- " * (n // 2) + "Added `a.py`",
    "nested lead-in items": nested_list,
    "a run of dots": lambda n: "Added `a.py`" + "." * n + "x",
    "question marks": lambda n: "Added `a.py` " + "?-" * (n // 2) + "x",
    "markup before a colon": lambda n: "Added `a.py` " + " *_" * (n // 3) + "x:",
    "unmatched backtick runs": unmatched_backticks,
    "spaces in a heading": lambda n: "# Added `a.py`" + " " * n + "x",
    "spaces in a link": lambda n: "Added `a.py` [b](c" + " " * n + "d",
    "tabs before an item": lambda n: "\t" * n + "- Added `a.py`",
    "many sentences": lambda n: "Added `a.py`. " * (n // 14),
    "many list items": lambda n: "- Fixed `b.py`:\n" * (n // 16),
}


def best_time(message):
    best = float("inf")
    for _ in range(RUNS):
        start = time.perf_counter()
        extract_claims([message])
        best = min(best, time.perf_counter() - start)
    return best


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--size", type=int, default=100_000, help="characters per message")
    size = parser.parse_args().size
    print(f"| shape | {size // 4:,} chars, s | {size:,} chars, s | ratio |")
    print("| --- | --- | --- | --- |")
    for name, make in SHAPES.items():
        small, large = best_time(make(size // 4)), best_time(make(size))
        print(f"| {name} | {small:.3f} | {large:.3f} | {large / max(small, 1e-9):.1f} |", flush=True)


if __name__ == "__main__":
    main()
