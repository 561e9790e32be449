"""Benchmarks of the turn engine against the per-claim path, each a ratio measured in
one run on this machine:

- end to end: ``proofmark check --format jsonl`` over the real turns, once with every
  record's claims checked together (the turn engine) and once claim by claim
  (``verify`` per claim, the path ``proofmark check`` took before);
- the cost of one turn against its number of claims (1, 10, 100, 1,000 claims on a
  turn of about 5 MB of log text), beside the two costs it should stay near: one
  normal-form pass over the turn's texts and the JSON parsing of the turn.

The real turns are read in place from ../shared/realdata/ (or --realdata PATH) and
decompressed into a temporary folder for the command line; they are never copied
into the project.

    python3 bench/turns.py                    # everything (about 3 minutes)
    python3 bench/turns.py --only claims      # or: end-to-end
    python3 bench/turns.py --skip-big-per-claim   # the slow per-claim run of big_turns
"""

import argparse
import gzip
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [ROOT, HERE]

from run import REALDATA_CANDIDATES, machine, row  # noqa: E402

import proofmark_core.verify as engine  # noqa: E402
from proofmark_core._turn import check_claims  # noqa: E402

# Runs the command line with the turn engine, or with it replaced by verify per claim.
DRIVER = """
import sys
import proofmark_core._turn as turn
import proofmark_core.verify as engine
if sys.argv[1] == "per-claim":
    turn.check_claims = lambda claims, run_log: [engine.verify(c, run_log) for c in claims]
from proofmark_core.cli import main
sys.exit(main(sys.argv[2:]))
"""
CLAIM_COUNTS = (1, 10, 100, 1000)
TURN_BYTES = 5_000_000


def end_to_end_seconds(path, road, out, jobs=1):
    """Wall time of one `proofmark check --format jsonl --jobs N` run in a child process."""
    env = dict(os.environ, PYTHONPATH=ROOT + os.pathsep + os.environ.get("PYTHONPATH", ""))
    t0 = time.perf_counter()
    with open(out, "wb") as stdout:
        done = subprocess.run([sys.executable, "-c", DRIVER, road, "check", "--format", "jsonl",
                               "--jobs", str(jobs), path], stdout=stdout, env=env)
    seconds = time.perf_counter() - t0
    if done.returncode not in (0, 1):
        sys.exit(f"proofmark check failed on {path} ({road}): exit {done.returncode}")
    return seconds


def end_to_end(folder, tmp, big_per_claim, repeats):
    cores = len(os.sched_getaffinity(0))
    print("\n### End to end: `proofmark check --format jsonl`\n")
    print(f"Per claim and turn engine with `--jobs 1`; the last columns with `--jobs {cores}`, "
          "the default.\n")
    row("input", "records", "claims", "per-claim s", "turn engine s", "speed-up", "same output",
        f"--jobs {cores} s", "speed-up", "against --jobs 1")
    row(*["---"] * 10)
    for name in ("turns.jsonl.gz", "big_turns.jsonl.gz"):
        path = os.path.join(tmp, name[:-3])
        with gzip.open(os.path.join(folder, name), "rb") as src, open(path, "wb") as dst:
            shutil.copyfileobj(src, dst)
        records, claims = 0, 0
        with open(path, encoding="utf-8") as f:
            for line in f:
                records += 1
                claims += len(json.loads(line)["claims"])
        # The one-worker and every-core runs take turns, so that a busy moment of the
        # machine falls on both alike; the per-claim run of big_turns takes minutes: once
        # is enough.
        turn_s = all_s = float("inf")
        for _ in range(repeats):
            turn_s = min(turn_s, end_to_end_seconds(path, "turn", path + ".turn"))
            all_s = min(all_s, end_to_end_seconds(path, "turn", path + ".all", cores))
        n = repeats if name.startswith("turns") else 1
        if name.startswith("big") and not big_per_claim:
            row(name, records, claims, "-", f"{turn_s:.2f}", "-", "-", f"{all_s:.2f}", "-",
                f"{turn_s / all_s:.2f}x")
            continue
        per_claim_s = min(end_to_end_seconds(path, "per-claim", path + ".claims")
                          for _ in range(n))
        same = open(path + ".turn", "rb").read() == open(path + ".claims", "rb").read()
        same = same and open(path + ".all", "rb").read() == open(path + ".claims", "rb").read()
        row(name, records, claims, f"{per_claim_s:.2f}", f"{turn_s:.2f}",
            f"{per_claim_s / turn_s:.1f}x", "yes" if same else "NO", f"{all_s:.2f}",
            f"{per_claim_s / all_s:.1f}x", f"{turn_s / all_s:.2f}x")


def read_lines(folder, name):
    with gzip.open(os.path.join(folder, name), "rt", encoding="utf-8") as f:
        yield from f


def log_texts(run_log):
    """Every distinct text the engine searches: payloads, outputs, command lines, written paths."""
    seen = {}
    for record in run_log["events"] + run_log["commands"]:
        for key in ("payload", "output", "command"):
            value = record.get(key)
            if isinstance(value, str):
                seen[id(value)] = value
    for path in run_log["written"]:
        seen[id(path)] = path
    return list(seen.values())


def best_seconds(fn, repeats):
    """The best of ``repeats`` timings: the one least disturbed by the machine's other work."""
    times = []
    for _ in range(repeats):
        t0 = time.perf_counter()
        fn()
        times.append(time.perf_counter() - t0)
    return min(times)


def claims_table(folder, repeats):
    """One turn of about 5 MB; its own claims first, then those of the other big turns."""
    lines = list(read_lines(folder, "big_turns.jsonl.gz"))
    turns = [json.loads(line) for line in lines]
    sizes = [sum(len(t.encode("utf-8", "surrogatepass")) for t in log_texts(turn["run_log"]))
             for turn in turns]
    pick = min(range(len(turns)), key=lambda i: abs(sizes[i] - TURN_BYTES))
    turn, line = turns[pick], lines[pick]
    run_log = turn["run_log"]
    claims = turn["claims"] + [c for i, t in enumerate(turns) if i != pick for c in t["claims"]]
    claims = claims[:max(CLAIM_COUNTS)]

    parse = best_seconds(lambda: json.loads(line), repeats)
    # The native normal form over all the turn's text in two calls (its ASCII texts, then
    # the others, each kind joined into one string): the pass itself, without a call
    # from Python per text, whose fixed cost would otherwise outweigh it.
    texts = log_texts(run_log)
    ascii_text = "\n".join(t for t in texts if t.isascii())
    other_text = "\n".join(t for t in texts if not t.isascii())
    norm_pass = best_seconds(lambda: (engine._norm(ascii_text), engine._norm(other_text)),
                             repeats)
    bound = 2 * (norm_pass + parse)

    print(f"\n### Cost of a turn against its number of claims ({sizes[pick] / 1e6:.1f} MB of "
          f"log text, {len(run_log['events'])} events, {len(run_log['commands'])} commands)\n")
    print(f"One normal-form pass over its {len(texts):,} texts: {norm_pass * 1e3:.1f} ms; "
          f"JSON parsing of the "
          f"turn: {parse * 1e3:.1f} ms; bound at 1,000 claims: 2 x their sum = "
          f"{bound * 1e3:.1f} ms.\n")
    row("claims", "turn engine ms", "ms per claim", "per-claim ms", "speed-up",
        "turn / (norm + parse)")
    row(*["---"] * 6)
    for n in CLAIM_COUNTS:
        some = claims[:n]
        turn_s = best_seconds(lambda: check_claims(some, run_log), repeats)
        # verify per claim: measured on up to 100 claims and scaled, since it is slow.
        sample = some[:100]
        per_claim_s = best_seconds(lambda: [engine.verify(c, run_log) for c in sample],
                                     1) * n / len(sample)
        row(n, f"{turn_s * 1e3:.1f}", f"{turn_s * 1e3 / n:.3f}", f"{per_claim_s * 1e3:,.0f}",
            f"{per_claim_s / turn_s:,.0f}x", f"{turn_s / (norm_pass + parse):.2f}")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--only", choices=("end-to-end", "claims"))
    ap.add_argument("--skip-big-per-claim", action="store_true",
                    help="skip the per-claim run of big_turns (several minutes)")
    ap.add_argument("--repeats", type=int, default=5)
    ap.add_argument("--realdata", default=next(
        (p for p in REALDATA_CANDIDATES if os.path.isdir(p)), None),
        help="folder of turns.jsonl.gz and big_turns.jsonl.gz (read in place, never copied)")
    args = ap.parse_args()
    if not args.realdata or not os.path.isdir(args.realdata):
        sys.exit("no realdata folder: nothing to measure")
    print(f"Machine: {machine()}")
    if args.only in (None, "claims"):
        claims_table(args.realdata, args.repeats)
    if args.only in (None, "end-to-end"):
        with tempfile.TemporaryDirectory() as tmp:
            end_to_end(args.realdata, tmp, not args.skip_big_per_claim, args.repeats)


if __name__ == "__main__":
    main()
