"""The Claude Code Stop hook and reader on a synthetic 10 MB session transcript.

    python3 bench/hook.py            # about half a minute
    python3 bench/hook.py --mb 50

Reports the wall time of ``proofmark hook claude-code`` run as Claude Code runs it (a new
interpreter, the payload on standard input), next to the interpreter's own start-up;
the in-process time of reading the last turn; and importing and checking the whole
session (every turn), with its peak memory. Two transcripts: many turns of about 10 KB
each, and one turn that fills the whole file (the hook then has to read it all).
"""

import argparse
import json
import os
import platform
import statistics
import subprocess
import sys
import tempfile
import time
import tracemalloc

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, ROOT)

from proofmark_core import check_turn  # noqa: E402
from proofmark_core import read_turns  # noqa: E402
from proofmark_core.logs.claude_code import last_turn  # noqa: E402

SESSION = "0b7e2c1d-5a6f-4e3b-9c8d-7f6e5d4c3b2a"
RUNS = 10
SOURCE = "".join(f"    value_{n} = compute({n}, retries=3)  # line {n}\n" for n in range(60))


class Transcript:
    """A Claude Code 2.x session written record by record, with unique ids."""

    def __init__(self, stream):
        self.stream = stream
        self.count = 0

    def record(self, kind, content, **extra):
        self.count += 1
        message = {"role": kind, "content": content}
        if kind == "assistant":
            message.update(id=f"msg_{self.count:08d}", model="claude-sonnet-4-5")
        record = {"parentUuid": None, "isSidechain": False, "userType": "external",
                  "cwd": "/work/app", "sessionId": SESSION, "version": "2.1.38", "type": kind,
                  "message": message, "uuid": f"u-{self.count:08d}",
                  "timestamp": f"2026-02-10T10:00:00.{self.count:06d}Z", **extra}
        self.stream.write(json.dumps(record, separators=(",", ":")) + "\n")

    def call(self, name, args, output, error=False):
        call_id = f"toolu_{self.count:08d}"
        self.record("assistant", [{"type": "tool_use", "id": call_id, "name": name,
                                   "input": args}])
        self.record("user", [{"type": "tool_result", "tool_use_id": call_id, "content": output,
                              "is_error": error}])

    def work(self, n):
        path = f"/work/app/src/module_{n}.py"
        self.record("assistant", [{"type": "text", "text": f"Looking at `{path}`."}])
        self.call("Read", {"file_path": path}, SOURCE)
        self.call("Edit", {"file_path": path, "old_string": "retries=3",
                           "new_string": f"retries={n % 7}"}, f"The file {path} has been updated.")
        self.call("Grep", {"pattern": "retries", "path": "/work/app"},
                  "\n".join(f"src/module_{k}.py:3:retries" for k in range(40)))
        self.call("Bash", {"command": f"pytest -q tests/test_{n}.py"},
                  "Exit code 1\n" + "F" * 900 + "\n1 failed" if n % 3 == 0 else "." * 900 + "\nok",
                  error=n % 3 == 0)

    def closing(self, n):
        self.record("assistant", [{"type": "text", "text":
                    f"Set `retries={n % 7}` in `/work/app/src/module_{n}.py` and ran "
                    f"`pytest -q tests/test_{n}.py`: all tests pass."}])


def write_transcript(path, size, one_turn):
    """Turns of work until the size is reached; the last one's tests fail, its claim not."""
    with open(path, "w") as stream:
        transcript = Transcript(stream)
        n = 1
        while stream.tell() < size:
            if not one_turn or n == 1:
                transcript.record("user", f"Task {n}: set the retries of module {n}")
            transcript.work(n)
            if not one_turn:
                transcript.closing(n)
            n += 1
        if not one_turn:
            transcript.record("user", "Last task: module 0")
        transcript.work(0)
        transcript.closing(0)


def hook_seconds(path, command, state):
    payload = json.dumps({"session_id": SESSION, "transcript_path": path, "cwd": "/work/app",
                          "hook_event_name": "Stop", "stop_hook_active": False}).encode()
    times = []
    for _ in range(RUNS):
        started = time.perf_counter()
        done = subprocess.run(command, input=payload, capture_output=True, cwd=ROOT,
                              env={**os.environ, "XDG_STATE_HOME": state})
        times.append(time.perf_counter() - started)
    return statistics.median(times), done


def import_and_check(path):
    started = time.perf_counter()
    turns = claims = 0
    for turn in read_turns(path):
        turns += 1
        claims += len(check_turn(turn.run_log, turn.claims))
    seconds = time.perf_counter() - started
    tracemalloc.start()
    for turn in read_turns(path):
        check_turn(turn.run_log, turn.claims)
    peak = tracemalloc.get_traced_memory()[1]
    tracemalloc.stop()
    return seconds, turns, claims, peak


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mb", type=float, default=10)
    size = int(parser.parse_args().mb * (1 << 20))
    print(f"{platform.processor() or platform.machine()}, {os.cpu_count()} cores, "
          f"Python {platform.python_version()}\n")
    hook = [sys.executable, "-m", "proofmark_core", "hook", "claude-code"]
    with tempfile.TemporaryDirectory() as folder:
        bare, _ = hook_seconds(os.devnull, [sys.executable, "-c", "pass"], folder)
        print(f"interpreter start-up alone: {bare * 1000:.0f} ms (median of {RUNS})\n")
        print("| transcript | MB | turns | hook ms | last turn ms | import+check ms | "
              "claims | peak MB |")
        print("| --- | --- | --- | --- | --- | --- | --- | --- |")
        for name, one_turn in (("many turns", False), ("one turn", True)):
            path = os.path.join(folder, f"{name.replace(' ', '-')}.jsonl")
            write_transcript(path, size, one_turn)
            seconds, done = hook_seconds(path, hook, folder)
            if done.returncode or not done.stdout.startswith(b'{"decision": "block"'):
                sys.exit(f"the hook did not block: {done}")
            started = time.perf_counter()
            last_turn(path)
            last = time.perf_counter() - started
            whole, turns, claims, peak = import_and_check(path)
            print(f"| {name} | {os.path.getsize(path) / (1 << 20):.1f} | {turns} | "
                  f"{seconds * 1000:.0f} | {last * 1000:.0f} | {whole * 1000:.0f} | {claims} | "
                  f"{peak / (1 << 20):.1f} |", flush=True)


if __name__ == "__main__":
    main()
