"""What the product rules add to ``proofmark check``: its CPU time with and without
``--strict``, and each rule's own CPU time, on the real turns and the largest agent log.

For each input: the best of --repeat runs of ``check --format jsonl --jobs 1`` in a
child process (user + system time, so other load on the machine counts little), with
and without ``--strict``; then one run in this process with each rule timed.

    python3 bench/rules_cost.py [--repeat 3] [PATH ...]
"""

import argparse
import os
import resource
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path[:0] = [ROOT, HERE]

from run import REALDATA_CANDIDATES, machine  # noqa: E402

import proofmark_core.rules as rules  # noqa: E402
from proofmark_core.cli import main as cli_main  # noqa: E402

def child_cpu(path: str, strict: bool) -> float:
    """CPU seconds of one ``proofmark check`` of the path in a child process."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    subprocess.run([sys.executable, "-m", "proofmark_core", "check", "--format", "jsonl",
                    "--jobs", "1", "-o", os.devnull, *(["--strict"] if strict else []), path],
                   cwd=ROOT, env={**os.environ, "PYTHONPATH": ROOT}, check=False)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def rule_times(path: str) -> dict[str, float]:
    """CPU seconds each rule spent over the path's claims, in this process."""
    spent = {rule.__name__: 0.0 for rule in rules.RULES}

    def timed(rule):
        def run(session, result):
            started = time.process_time()
            try:
                return rule(session, result)
            finally:
                spent[rule.__name__] += time.process_time() - started
        return run

    original = rules.RULES
    rules.RULES = tuple(timed(rule) for rule in original)
    try:
        cli_main(["check", "--format", "jsonl", "--jobs", "1", "-o", os.devnull, path])
    except SystemExit:
        pass
    finally:
        rules.RULES = original
    return spent


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("paths", nargs="*", help="inputs (default: the real turns and "
                        "the largest claude-code log)")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    paths = args.paths
    if not paths:
        folder = next((p for p in REALDATA_CANDIDATES if os.path.isdir(p)), None)
        paths = [os.path.join(folder, name) for name in ("turns.jsonl.gz", "big_turns.jsonl.gz")
                 if folder and os.path.exists(os.path.join(folder, name))]
        logs = os.path.join(os.path.dirname(folder or "."), "trajectories", "claude-code")
        if os.path.isdir(logs):
            paths.append(max((os.path.join(logs, name) for name in os.listdir(logs)),
                             key=os.path.getsize))
    if not paths:
        sys.exit("nothing to measure; name inputs")
    print(machine())
    names = [rule.__name__ for rule in rules.RULES]
    print("| input | --strict CPU s | rules on CPU s | rules add | "
          + " | ".join(f"{name} s" for name in names) + " |")
    print("| --- " * (4 + len(names)) + "|")
    for path in paths:
        strict = min(child_cpu(path, True) for _ in range(args.repeat))
        ruled = min(child_cpu(path, False) for _ in range(args.repeat))
        spent = rule_times(path)
        print(f"| {os.path.basename(path)} | {strict:.2f} | {ruled:.2f} | "
              f"{(ruled - strict) / strict:+.0%} | "
              + " | ".join(f"{spent[name]:.2f}" for name in names) + " |", flush=True)


if __name__ == "__main__":
    main()
