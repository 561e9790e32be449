"""Importing and checking a 10 MB agent session of each JSONL format, in one process.

    python3 bench/logs.py            # claude-code, codex and openhands sessions
    python3 bench/logs.py --mb 50

Each session is a fixture of tests/logs/ repeated until it reaches the size: many turns,
as a long session has. Reported: the wall time of ``read_turns`` (claims extracted) plus
``check_turn`` over every turn, and the peak of Python's allocations (tracemalloc)
against the file's size; then the same with the product rules, which keep the session's
earlier turns (lean) and look through them. The best of three runs is kept.
"""

import argparse
import os
import sys
import tempfile
import time
import tracemalloc

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [ROOT, HERE]

from proofmark_core import check_turn  # noqa: E402
from proofmark_core import read_turns  # noqa: E402
from proofmark_core.rules import SessionLog, apply  # noqa: E402
from run import machine  # noqa: E402

FIXTURES = os.path.join(ROOT, "tests", "logs")
SESSIONS = {
    "claude-code": "claude-code/1.0/3f1d6c2e-8a41-4b7e-9c55-0e2a7b9d4f10.jsonl",
    "codex": "codex/envelope-0.142.jsonl",
    "openhands": "openhands/events.jsonl",
}


def session_of(fixture, size, folder):
    """The fixture repeated until the file holds ``size`` bytes."""
    with open(os.path.join(FIXTURES, fixture), "rb") as f:
        text = f.read().rstrip(b"\n") + b"\n"
    path = os.path.join(folder, os.path.basename(fixture))
    with open(path, "wb") as out:
        out.write(text * max(1, size // len(text)))
    return path


def import_and_check(path, rules=False):
    turns = claims = 0
    session = SessionLog()
    for turn in read_turns(path):
        turns += 1
        results = check_turn(turn.run_log, turn.claims)
        if rules:
            results = apply(session.session(turn.run_log), results)
            session.add(turn.run_log)
        claims += len(results)
    return turns, claims


def measure(path, rules=False):
    best = float("inf")
    for _ in range(3):
        started = time.perf_counter()
        turns, claims = import_and_check(path, rules)
        best = min(best, time.perf_counter() - started)
    tracemalloc.start()
    import_and_check(path, rules)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return turns, claims, best, peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mb", type=float, default=10)
    args = parser.parse_args()
    print(f"Machine: {machine()}\n")
    print("| agent | MB | turns | claims | seconds | peak memory / size "
          "| with rules: seconds | peak memory / size |")
    print("| --- | --- | --- | --- | --- | --- | --- | --- |")
    with tempfile.TemporaryDirectory() as folder:
        for agent, fixture in SESSIONS.items():
            path = session_of(fixture, int(args.mb * 1e6), folder)
            size = os.path.getsize(path)
            turns, claims, seconds, peak = measure(path)
            _, _, ruled_seconds, ruled_peak = measure(path, rules=True)
            print(f"| {agent} | {size / 1e6:.1f} | {turns:,} | {claims:,} | {seconds:.2f} | "
                  f"{peak / size:.2f}x | {ruled_seconds:.2f} | {ruled_peak / size:.2f}x |",
                  flush=True)


if __name__ == "__main__":
    main()
