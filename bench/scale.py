"""End-to-end runs of the command over the real turns: one worker, every core, and Ray.

    python3 bench/scale.py                  # big_turns and turns, --jobs 1 and 2, Ray
    python3 bench/scale.py --no-ray         # without the Ray runs

Each run is the whole command in a child process (start-up, reading, checking, writing
to /dev/null), timed by wall clock; the best of --repeat runs is kept, the runs to be
compared taking turns so that a busy moment of the machine falls on all of them alike.
Each file is read as it is (gzip) and decompressed into a temporary folder first, which
is never inside the project. A folder of agent logs made of the test fixtures (three
sessions of 3 MB of each JSONL format) is checked too.
"""

import argparse
import gzip
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [ROOT, HERE]

from logs import SESSIONS, session_of  # noqa: E402
from run import REALDATA_CANDIDATES, machine  # noqa: E402

LOG_SESSIONS_EACH = 3
LOG_SESSION_BYTES = 3_000_000


def seconds(args):
    started = time.perf_counter()
    done = subprocess.run([sys.executable, "-m", "proofmark_core", *args], cwd=ROOT,
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if done.returncode not in (0, 1):
        raise SystemExit(f"{' '.join(args)} failed: {done.stderr.decode()[-500:]}")
    return time.perf_counter() - started


def best_seconds(runs, repeat):
    """The best time of each command over `repeat` rounds that run each once in turn."""
    best = dict.fromkeys(runs, float("inf"))
    for _ in range(repeat):
        for label, command in runs.items():
            best[label] = min(best[label], seconds(command))
    return best


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
    print(time.perf_counter() - started)
ray.shutdown()
"""


def ray_pipeline_seconds(path, repeat):
    """claim_rows on a local Ray of 2 CPUs, run 1 + `repeat` times in one driver: the
    first run starts Ray's workers, the best of the others finds them ready."""
    done = subprocess.run([sys.executable, "-c", PIPELINE, path, str(1 + repeat)],
                          capture_output=True, check=True, cwd=ROOT,
                          env=dict(os.environ, PYTHONPATH=ROOT))
    first, *others = map(float, done.stdout.split())
    return first, min(others)


def ray_start_seconds():
    """What starting and stopping a local Ray costs, apart from any work."""
    code = "import ray; ray.init(num_cpus=2, include_dashboard=False); ray.shutdown()"
    started = time.perf_counter()
    subprocess.run([sys.executable, "-c", code], capture_output=True, check=True)
    return time.perf_counter() - started


def log_folder(tmp):
    folder = os.path.join(tmp, "logs")
    for agent, fixture in SESSIONS.items():
        for number in range(LOG_SESSIONS_EACH):
            session = os.path.join(folder, f"{agent}-{number}")
            os.makedirs(session)
            session_of(fixture, LOG_SESSION_BYTES, session)
    return folder


def report(name, path, args):
    check = ["check", "--format", "jsonl", path]
    runs = {"check --jobs 1": check + ["--jobs", "1"], "check --jobs 2": check + ["--jobs", "2"]}
    with_ray = not args.no_ray and path.endswith(".gz")
    if with_ray:
        runs["batch --ray local --jobs 2"] = ["batch", "--ray", "local", "--jobs", "2", path,
                                              "-o", os.devnull]
    best = best_seconds(runs, args.repeat)
    base = best["check --jobs 1"]
    for label, took in best.items():
        print(f"| {name} | {label} | {took:.2f} | {base / took:.2f}x |", flush=True)
    if with_ray:
        first, ready = ray_pipeline_seconds(path, args.repeat)
        print(f"| {name} | claim_rows on Ray, first run in the driver | {first:.2f} | "
              f"{base / first:.2f}x |")
        print(f"| {name} | claim_rows on Ray, best of the next runs | {ready:.2f} | "
              f"{base / ready:.2f}x |", flush=True)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--realdata", help="folder of big_turns.jsonl.gz and turns.jsonl.gz")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--no-ray", action="store_true")
    args = parser.parse_args()
    folder = args.realdata or next((c for c in REALDATA_CANDIDATES if os.path.isdir(c)), None)
    if folder is None:
        raise SystemExit("no realdata folder: pass --realdata")
    print(f"Machine: {machine()}\n")
    print("| input | run | seconds | against --jobs 1 |")
    print("| --- | --- | --- | --- |")
    with tempfile.TemporaryDirectory() as tmp:
        for name in ("big_turns.jsonl.gz", "turns.jsonl.gz"):
            packed = os.path.join(folder, name)
            plain = os.path.join(tmp, name.removesuffix(".gz"))
            with gzip.open(packed, "rb") as src, open(plain, "wb") as dst:
                shutil.copyfileobj(src, dst)
            for path in (packed, plain):
                report(os.path.basename(path), path, args)
        report("a folder of 9 agent logs", log_folder(tmp), args)
    if not args.no_ray:
        print(f"\nStarting and stopping a local Ray alone: {ray_start_seconds():.2f} s")


if __name__ == "__main__":
    main()
