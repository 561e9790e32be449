"""Benchmarks of verify: median microseconds per call and megabytes of log text per
second, on the fast path and on the forced Python-level fallback, plus scaling runs
and the real turns of ../shared/realdata when that folder is present.

    python3 bench/run.py                 # everything
    python3 bench/run.py --only sizes    # sizes | scaling | real
"""

import argparse
import gzip
import json
import os
import platform
import statistics
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.dirname(HERE), os.path.join(os.path.dirname(HERE), "tests"), HERE]

import workload  # noqa: E402
from fallback import forced_fallback  # noqa: E402
from proofmark_core.verify import verify  # noqa: E402

# The shared folder beside the checkout (or beside the folder of worktrees).
REALDATA_CANDIDATES = [os.path.join(os.path.dirname(HERE), *up, "shared", "realdata")
                       for up in (("..",), ("..", ".."))]
REPEATS = {"small": 200, "medium": 10, "large": 3}


def call_seconds(claim, run_log, repeats, warm_up=True):
    """Median wall time of one verify call; a first call warms up."""
    if warm_up:
        verify(claim, run_log)
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        verify(claim, run_log)
        times.append(time.perf_counter() - t0)
    return statistics.median(times)


def median_call(claims, run_log, repeats):
    return statistics.median(call_seconds(c, run_log, repeats) for c in claims)


def machine():
    cpu = platform.processor() or platform.machine()
    try:
        with open("/proc/cpuinfo") as f:
            cpu = next(line.split(":", 1)[1].strip() for line in f if line.startswith("model name"))
    except (OSError, StopIteration):
        pass
    return f"{cpu}, {os.cpu_count()} cores, {platform.system()} {platform.release()}, " \
           f"Python {platform.python_version()}"


def row(*cells):
    print("| " + " | ".join(str(c) for c in cells) + " |", flush=True)


def sizes(fallback_large):
    print("\n### Turn sizes (median per verify call over 24 claims)\n")
    row("turn", "log MB", "fast µs", "fast MB/s", "fallback µs", "fallback MB/s", "fast/fallback")
    row(*["---"] * 7)
    for size in ("small", "medium", "large"):
        t = workload.turn(size)
        mb = workload.log_text_bytes(t.run_log) / 1e6
        fast = median_call(t.claims, t.run_log, REPEATS[size])
        if size == "large" and not fallback_large:
            row(size, f"{mb:.2f}", f"{fast * 1e6:,.0f}", f"{mb / fast:,.0f}", "-", "-", "-")
            continue
        with forced_fallback():
            slow = median_call(t.claims, t.run_log, max(1, REPEATS[size] // 10))
        row(size, f"{mb:.2f}", f"{fast * 1e6:,.0f}", f"{mb / fast:,.0f}", f"{slow * 1e6:,.0f}",
            f"{mb / slow:,.0f}", f"{slow / fast:,.1f}x")


def missing_claim(n_literals):
    targets = [f"absent_literal_{i}_zz" for i in range(n_literals)]
    return {"kind": "other", "text": "Added " + ", ".join(targets), "targets": targets}


def scaling():
    print("\n### Scaling: log size (doubling), same claims\n")
    row("log MB", "µs per call", "µs per MB")
    row(*["---"] * 3)
    claims = workload.turn("small").claims
    for k in range(6):
        t = workload.scaled_turn(250_000 << k)
        mb = workload.log_text_bytes(t.run_log) / 1e6
        s = median_call(claims, t.run_log, 5)
        row(f"{mb:.2f}", f"{s * 1e6:,.0f}", f"{s * 1e6 / mb:,.0f}")
    print("\n### Scaling: number of literals (found nowhere), 2 MB log\n")
    row("literals", "µs per call", "µs per literal")
    row(*["---"] * 3)
    t = workload.scaled_turn(2_000_000)
    for n in (1, 2, 4, 8, 16):
        s = call_seconds(missing_claim(n), t.run_log, 5)
        row(n, f"{s * 1e6:,.0f}", f"{s * 1e6 / n:,.0f}")


def read_turns(folder, name):
    with gzip.open(os.path.join(folder, name), "rt", encoding="utf-8") as f:
        for line in f:
            yield json.loads(line)


def real(folder, fallback):
    if not folder or not os.path.isdir(folder):
        print("\n(no realdata folder: real turns skipped)")
        return
    print("\n### Real turns\n")
    row("workload", "turns", "claims", "log MB", "fast median µs", "fast MB/s (median turn)",
        "fallback median µs", "fast/fallback")
    row(*["---"] * 8)
    for name, per_turn in (("turns.jsonl.gz", None), ("big_turns.jsonl.gz", 10)):
        fast_calls, slow_calls, rates, mb_total, n_turns = [], [], [], 0.0, 0
        for t in read_turns(folder, name):
            claims = t["claims"][:per_turn] if per_turn else t["claims"]
            if not claims:
                continue
            n_turns += 1
            mb = workload.log_text_bytes(t["run_log"]) / 1e6
            mb_total += mb
            calls = [call_seconds(c, t["run_log"], 1) for c in claims]
            fast_calls += calls
            rates.append(mb / statistics.median(calls))
            if fallback and per_turn is None:
                with forced_fallback():
                    slow_calls += [call_seconds(c, t["run_log"], 1, warm_up=False)
                               for c in claims[:3]]
        slow = statistics.median(slow_calls) if slow_calls else None
        fast = statistics.median(fast_calls)
        row(name, n_turns, len(fast_calls), f"{mb_total:,.1f}", f"{fast * 1e6:,.0f}",
            f"{statistics.median(rates):,.0f}", f"{slow * 1e6:,.0f}" if slow else "-",
            f"{slow / fast:,.1f}x" if slow else "-")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--only", choices=("sizes", "scaling", "real"))
    ap.add_argument("--no-fallback-large", action="store_true",
                    help="skip the slow fallback measurement of the large turn")
    ap.add_argument("--no-fallback-real", action="store_true")
    ap.add_argument("--realdata", default=next(
        (p for p in REALDATA_CANDIDATES if os.path.isdir(p)), None),
        help="folder of turns.jsonl.gz and big_turns.jsonl.gz (read in place, never copied)")
    args = ap.parse_args()
    print(f"Machine: {machine()}")
    if args.only in (None, "sizes"):
        sizes(not args.no_fallback_large)
    if args.only in (None, "scaling"):
        scaling()
    if args.only in (None, "real"):
        real(args.realdata, not args.no_fallback_real)


if __name__ == "__main__":
    main()
