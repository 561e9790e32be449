"""The speed targets of reading, checking and writing real turns, each a ratio of two
timings taken in one run on this machine, the runs to be compared taking turns (best of
--repeat each), so that a busy moment of a shared machine falls on all of them alike:

- `check --format jsonl --jobs 1 big_turns.jsonl.gz` against `zcat big_turns.jsonl.gz`;
- `--jobs 2` against `--jobs 1` on the same file;
- `check --format jsonl turns.jsonl.gz` against a script that reads the same file with
  `gzip` and `json.loads` and calls `verify` claim by claim, both whole processes;
- the peak memory (RSS) of `--jobs 1` on big_turns against its largest line plus the
  interpreter with the package imported;
- with --strict, every check above (and on Ray) without the product rules, as the
  engine judges;
- with --ray PYTHON (an interpreter that has ray[data] and pyarrow): `claim_rows` on a
  local Ray of 2 CPUs, started once in its driver (best of the runs after the first),
  against `check --jobs 2`, on big_turns.jsonl.gz and on a folder of one file per turn.

    python3 bench/targets.py                          # about two minutes
    python3 bench/targets.py --before /tmp/before     # and the same with an older checkout
    python3 bench/targets.py --ray /work/venv-ray/bin/python
    python3 bench/targets.py --strict

An older checkout to compare with: `git worktree add /tmp/before COMMIT`, then copy the
built modules (proofmark_core/*.so) of that commit into its proofmark_core/.

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
    rows = claim_rows(ray.data.from_items([{"path": os.path.abspath(sys.argv[1])}]),
                      strict=sys.argv[3] == "strict")
    sum(batch.num_rows for batch in rows.iter_batches(batch_format="pyarrow", batch_size=None))
    print(time.perf_counter() - started, flush=True)
ray.shutdown()
"""


def run(command, root=ROOT):
    """Wall seconds, peak RSS (MiB) and processor seconds of one child process that
    imports the package from `root`."""
    env = dict(ENV, PYTHONPATH=root + os.pathsep + os.environ.get("PYTHONPATH", ""))
    started = time.perf_counter()
    child = subprocess.Popen(command if not command[0].startswith("-") else
                             [sys.executable, *command],
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=env, cwd=root)
    _, status, usage = os.wait4(child.pid, 0)
    took = time.perf_counter() - started
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode not in (0, 1):
        raise SystemExit(f"{' '.join(command)} failed: {child.stderr.read().decode()[-500:]}")
    child.stderr.close()
    return took, usage.ru_maxrss / 1024, usage.ru_utime + usage.ru_stime


def best(runs, repeat, roots):
    """For each command and root: the best wall time (with the peak RSS of that run) and
    the least processor time, the runs taking turns."""
    found = {(root, label): (float("inf"), 0.0, float("inf")) for label in runs for root in roots}
    for _ in range(repeat):
        for label, command in runs.items():
            for root in roots:
                took, peak, cpu = run(command, root)
                old = found[root, label]
                found[root, label] = (*min(old[:2], (took, peak)), min(old[2], cpu))
    return found


STRICT = []  # ["--strict"] with --strict


def check(path, *options):
    return ["-m", "proofmark_core", "check", "--format", "jsonl", *STRICT, *options, path]


def ray_seconds(python, path, repeat, root):
    env = dict(ENV, PYTHONPATH=root + os.pathsep + os.environ.get("PYTHONPATH", ""))
    mode = "strict" if STRICT else "rules"
    done = subprocess.run([python, "-c", PIPELINE, path, str(1 + repeat), mode],
                          capture_output=True, check=True, cwd=root, env=env)
    return min(map(float, done.stdout.split()[1:]))


def one_file_per_turn(big, folder):
    os.makedirs(folder)
    with gzip.open(big, "rb") as lines:
        for index, line in enumerate(lines):
            with open(os.path.join(folder, f"turn-{index:03}.jsonl"), "wb") as out:
                out.write(line)
    return folder


def targets(found, root, largest):
    """The rows of the targets as measured with the package at `root`."""
    wall = {label: found[root, label][0] for _, label in found if _ == root}
    cpu = {label: found[root, label][2] for _, label in found if _ == root}
    peak, interpreter = found[root, "jobs 1"][1], found[root, "interpreter"][1]
    return [
        ("check --jobs 1 big_turns / zcat", wall["jobs 1"], wall["zcat"], "at most 1.3x"),
        ("check --jobs 1 / --jobs 2, big_turns", wall["jobs 1"], wall["jobs 2"], "at least 1.7x"),
        ("per-claim verify / check, turns", wall["per claim"], wall["turns"], "at least 1.5x"),
        ("per-claim verify / check --jobs 1, turns", wall["per claim"], wall["turns jobs 1"],
         "at least 1.5x"),
        ("processor time: check --jobs 1 / zcat, big_turns", cpu["jobs 1"], cpu["zcat"], ""),
        ("processor time: check --jobs 2 / --jobs 1, big_turns", cpu["jobs 2"], cpu["jobs 1"], ""),
        ("processor time: per-claim verify / check, turns", cpu["per claim"], cpu["turns"], ""),
        ("peak RSS MiB of --jobs 1 on big_turns / (2 x largest turn + interpreter)", peak,
         2 * largest + interpreter, "at most 1x"),
    ]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--realdata", help="folder of big_turns.jsonl.gz and turns.jsonl.gz")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--before", metavar="CHECKOUT",
                        help="a checkout of the package as it was, run in turn with this one")
    parser.add_argument("--ray", metavar="PYTHON", help="an interpreter with ray[data]")
    parser.add_argument("--strict", action="store_true",
                        help="check without the product rules, as the engine judges")
    args = parser.parse_args()
    STRICT[:] = ["--strict"] if args.strict else []
    folder = args.realdata or next((c for c in REALDATA_CANDIDATES if os.path.isdir(c)), None)
    if folder is None:
        raise SystemExit("no realdata folder: pass --realdata")
    big, small = (os.path.join(folder, name) for name in ("big_turns.jsonl.gz", "turns.jsonl.gz"))
    roots = [os.path.abspath(args.before), ROOT] if args.before else [ROOT]
    print(f"Machine: {machine()}; best of {args.repeat}\n")
    found = best({"zcat": ["sh", "-c", f"zcat {big} > /dev/null"],
                  "jobs 1": check(big, "--jobs", "1"), "jobs 2": check(big, "--jobs", "2"),
                  "interpreter": ["-c", IMPORTED]}, args.repeat, roots)
    found |= best({"per claim": ["-c", PER_CLAIM, small], "turns": check(small),
                   "turns jobs 1": check(small, "--jobs", "1")}, args.repeat, roots)
    with gzip.open(big, "rb") as lines:
        largest = max(len(line) for line in lines) / (1 << 20)
    measured = [targets(found, root, largest) for root in roots]
    row("target", *(f"{when} a / b" for when in ("before", "after")[-len(roots):]),
        *(f"{when} ratio" for when in ("before", "after")[-len(roots):]), "goal")
    row(*["---"] * (2 + 2 * len(roots)))
    for rows in zip(*measured):
        row(rows[0][0], *(f"{a:.2f} / {b:.2f}" for _, a, b, _ in rows),
            *(f"{a / b:.2f}x" for _, a, b, _ in rows), rows[0][3])
    if args.ray:
        with tempfile.TemporaryDirectory() as tmp:
            turns = one_file_per_turn(big, os.path.join(tmp, "turns"))
            for label, path in (("big_turns.jsonl.gz", big), ("a folder of 20 turn files", turns)):
                for root in roots:
                    jobs2 = best({"jobs 2": check(path, "--jobs", "2")}, args.repeat,
                                 [root])[root, "jobs 2"][0]
                    on_ray = ray_seconds(args.ray, path, args.repeat, root)
                    row(f"claim_rows on Ray / check --jobs 2, {label}"
                        + (" (before)" if root != ROOT else ""),
                        f"{on_ray:.2f} / {jobs2:.2f}", f"{on_ray / jobs2:.2f}x", "at most 1.3x")


if __name__ == "__main__":
    main()
