"""The speed targets of reading, checking and writing real turns, each a ratio of two
timings taken in one run on this machine, the runs to be compared taking turns (best of
--repeat each), so that a busy moment of a shared machine falls on all of them alike:

- `check --format jsonl --jobs 1 big_turns.jsonl.gz` against `zcat big_turns.jsonl.gz`;
- `--jobs 2` against `--jobs 1` on the same file;
- `check --format jsonl turns.jsonl.gz` against a script that reads the same file with
  `gzip` and `json.loads` and calls `verify` claim by claim, both whole processes;
- the peak memory (RSS) of `--jobs 1` on big_turns against its largest line plus the
  interpreter with the package imported;
- with --ray PYTHON (an interpreter that has ray[data] and pyarrow): `claim_rows` on a
  local Ray of 2 CPUs, started once in its driver (best of the runs after the first),
  against `check --jobs 2`, on big_turns.jsonl.gz and on a folder of one file per turn.

    python3 bench/targets.py                          # about two minutes
    python3 bench/targets.py --ray /work/venv-ray/bin/python

The real turns are read in place from ../shared/realdata/ (or --realdata PATH).
"""

import argparse
import gzip
import os
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [HERE]

from run import REALDATA_CANDIDATES, machine, row  # noqa: E402

ENV = dict(os.environ, PYTHONPATH=ROOT + os.pathsep + os.environ.get("PYTHONPATH", ""))
PER_CLAIM = """
import gzip, json, sys
from proofmark_core.verify import verify
with gzip.open(sys.argv[1], "rb") as lines:
    for line in lines:
        record = json.loads(line.decode("utf-8"))
        run_log = record["run_log"]
        for claim in record["claims"]:
            verify(claim, run_log)
"""
IMPORTED = "import proofmark_core.cli, proofmark_core._turn, proofmark_core.verify"
PIPELINE = """
import os, sys, time
import ray, ray.data
from proofmark_core.ray import claim_rows
ray.init(num_cpus=2, include_dashboard=False, log_to_driver=False, configure_logging=False)
ray.data.DataContext.get_current().execution_options.preserve_order = True
for _ in range(int(sys.argv[2])):
    started = time.perf_counter()
    rows = claim_rows(ray.data.from_items([{"path": os.path.abspath(sys.argv[1])}]))
    sum(batch.num_rows for batch in rows.iter_batches(batch_format="pyarrow", batch_size=None))
    print(time.perf_counter() - started, flush=True)
ray.shutdown()
"""


def run(command, python=sys.executable):
    """Wall seconds and peak RSS (MiB) of one child process."""
    started = time.perf_counter()
    child = subprocess.Popen(command if not command[0].startswith("-") else [python, *command],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=ENV, cwd=ROOT)
    _, status, usage = os.wait4(child.pid, 0)
    took = time.perf_counter() - started
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode not in (0, 1):
        raise SystemExit(f"{' '.join(command)} failed: {child.stderr.read().decode()[-500:]}")
    child.stderr.close()
    return took, usage.ru_maxrss / 1024


def best(runs, repeat):
    """The best time (and the peak RSS of that run) of each command, taking turns."""
    found = {label: (float("inf"), 0.0) for label in runs}
    for _ in range(repeat):
        for label, command in runs.items():
            found[label] = min(found[label], run(command))
    return found


def check(path, *options):
    return ["-m", "proofmark_core", "check", "--format", "jsonl", *options, path]


def ray_seconds(python, path, repeat):
    done = subprocess.run([python, "-c", PIPELINE, path, str(1 + repeat)], capture_output=True,
                          check=True, cwd=ROOT, env=ENV)
    return min(map(float, done.stdout.split()[1:]))


def one_file_per_turn(big, folder):
    os.makedirs(folder)
    with gzip.open(big, "rb") as lines:
        for index, line in enumerate(lines):
            with open(os.path.join(folder, f"turn-{index:03}.jsonl"), "wb") as out:
                out.write(line)
    return folder


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--realdata", help="folder of big_turns.jsonl.gz and turns.jsonl.gz")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--ray", metavar="PYTHON", help="an interpreter with ray[data]")
    args = parser.parse_args()
    folder = args.realdata or next((c for c in REALDATA_CANDIDATES if os.path.isdir(c)), None)
    if folder is None:
        raise SystemExit("no realdata folder: pass --realdata")
    big, small = (os.path.join(folder, name) for name in ("big_turns.jsonl.gz", "turns.jsonl.gz"))
    print(f"Machine: {machine()}; best of {args.repeat}\n")
    found = best({"zcat": ["sh", "-c", f"zcat {big} > /dev/null"],
                  "jobs 1": check(big, "--jobs", "1"), "jobs 2": check(big, "--jobs", "2"),
                  "interpreter": ["-c", IMPORTED]}, args.repeat)
    found |= best({"per claim": ["-c", PER_CLAIM, small], "turns": check(small),
                   "turns jobs 1": check(small, "--jobs", "1")}, args.repeat)
    with gzip.open(big, "rb") as lines:
        largest = max(len(line) for line in lines) / (1 << 20)
    seconds = {label: took for label, (took, _) in found.items()}
    row("target", "measured", "ratio", "goal")
    row(*["---"] * 4)
    row("check --jobs 1 big_turns / zcat", f"{seconds['jobs 1']:.2f} s / {seconds['zcat']:.2f} s",
        f"{seconds['jobs 1'] / seconds['zcat']:.2f}x", "at most 1.3x")
    row("check --jobs 1 / --jobs 2 on big_turns",
        f"{seconds['jobs 1']:.2f} s / {seconds['jobs 2']:.2f} s",
        f"{seconds['jobs 1'] / seconds['jobs 2']:.2f}x", "at least 1.7x")
    row("per-claim verify / check on turns (--jobs 1)",
        f"{seconds['per claim']:.2f} s / {seconds['turns']:.2f} s ({seconds['turns jobs 1']:.2f} s)",
        f"{seconds['per claim'] / seconds['turns']:.2f}x "
        f"({seconds['per claim'] / seconds['turns jobs 1']:.2f}x)", "at least 1.5x")
    peak, interpreter = found["jobs 1"][1], found["interpreter"][1]
    row("peak RSS of --jobs 1 on big_turns / (2 x largest turn + interpreter)",
        f"{peak:.0f} MiB / (2 x {largest:.1f} + {interpreter:.0f} MiB)",
        f"{peak / (2 * largest + interpreter):.2f}x", "at most 1x")
    if args.ray:
        with tempfile.TemporaryDirectory() as tmp:
            turns = one_file_per_turn(big, os.path.join(tmp, "turns"))
            for label, path in (("big_turns.jsonl.gz", big), ("a folder of 20 turn files", turns)):
                jobs2, _ = best({"jobs 2": check(path, "--jobs", "2")}, args.repeat)["jobs 2"]
                on_ray = ray_seconds(args.ray, path, args.repeat)
                row(f"claim_rows on Ray / check --jobs 2, {label}",
                    f"{on_ray:.2f} s / {jobs2:.2f} s", f"{on_ray / jobs2:.2f}x", "at most 1.3x")


if __name__ == "__main__":
    main()
