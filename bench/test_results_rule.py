"""The cost of the test-results rule beside the engine's, on the real turns.

For each file of ../shared/realdata/ (or --realdata PATH), read in place: the engine's
time for every turn (``check_turn``), then the rule's over the engine's results (each
turn its own session: its runs read once, every claim of it judged), and how many
claims the rule judged.

    python3 bench/test_results_rule.py
"""

import argparse
import gzip
import json
import os
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [os.path.dirname(HERE), HERE]

from run import REALDATA_CANDIDATES, machine  # noqa: E402

from proofmark_core.api import check_turn  # noqa: E402
from proofmark_core.rules.context import Session  # noqa: E402
from proofmark_core.rules.test_results import judge_test_claim  # noqa: E402

FILES = ("turns.jsonl.gz", "big_turns.jsonl.gz")


def measure(path: str) -> str:
    with gzip.open(path, "rt", encoding="utf-8") as f:
        records = [json.loads(line) for line in f]
    started = time.perf_counter()
    results = [check_turn(r["run_log"], r["claims"]) for r in records]
    engine = time.perf_counter() - started
    started = time.perf_counter()
    judged = sum(judge_test_claim(Session((r["run_log"],)), result) is not None
                 for r, found in zip(records, results) for result in found)
    rule = time.perf_counter() - started
    claims = sum(len(found) for found in results)
    return (f"| {os.path.basename(path)} | {len(records)} | {claims} | {judged} | "
            f"{engine:.2f} | {rule:.2f} | {rule / engine:.2f} |")


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--realdata", help="folder of the real turns")
    args = parser.parse_args()
    folder = args.realdata or next((p for p in REALDATA_CANDIDATES if os.path.isdir(p)), None)
    if folder is None:
        sys.exit("no folder of real turns; name one with --realdata")
    print(machine())
    print("| file | turns | claims | judged | engine s | rule s | rule / engine |")
    print("| --- | --- | --- | --- | --- | --- | --- |")
    for name in FILES:
        path = os.path.join(folder, name)
        if os.path.exists(path):
            print(measure(path), flush=True)


if __name__ == "__main__":
    main()
