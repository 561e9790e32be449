"""The Codex Stop hook on a synthetic 10 MB rollout.

    python3 bench/hook_codex.py            # about half a minute
    python3 bench/hook_codex.py --mb 50

Reports the CPU and wall time of ``proofmark hook codex`` run as Codex runs it (a new
interpreter, the payload on standard input; median of 10), next to the interpreter's own
start-up; the
in-process time of reading the turn from where its id begins, and of reading the whole
rollout through for its last turn, as a hook would without the search. Two rollouts: many
turns of about 10 KB each, and one turn that fills the whole file.
"""

import argparse
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, ROOT)

from proofmark_core.logs import LogFile  # noqa: E402
from proofmark_core.logs import codex  # noqa: E402

SESSION = "019b0c1d-2e3f-7a4b-8c5d-6e7f8a9b0c1d"
RUNS = 10
SOURCE = "".join(f"    value_{n} = compute({n}, retries=3)  # line {n}\n" for n in range(60))


class Rollout:
    """A Codex 0.144 rollout written line by line, with unique call ids."""

    def __init__(self, stream):
        self.stream = stream
        self.count = 0
        self.line("session_meta", {"id": SESSION, "timestamp": "2026-03-04T10:00:00.000Z",
                                   "cwd": "/work/app", "originator": "codex_cli_rs",
                                   "cli_version": "0.144.2", "source": "cli"})

    def line(self, kind, payload):
        self.count += 1
        record = {"timestamp": f"2026-03-04T10:00:00.{self.count:06d}Z", "type": kind,
                  "payload": payload}
        self.stream.write(json.dumps(record, separators=(",", ":")) + "\n")

    def prompt(self, turn, text):
        self.line("event_msg", {"type": "task_started", "turn_id": turn})
        self.line("turn_context", {"turn_id": turn, "cwd": "/work/app", "model": "gpt-5.4"})
        self.line("response_item", {"type": "message", "role": "user",
                                    "content": [{"type": "input_text", "text": text}]})
        self.line("event_msg", {"type": "user_message", "message": text, "images": []})

    def shell(self, command, code, output):
        call = f"call_{self.count:08d}"
        self.line("response_item", {"type": "function_call", "name": "shell_command",
                                    "arguments": json.dumps({"command": command}),
                                    "call_id": call})
        self.line("response_item", {"type": "function_call_output", "call_id": call,
                                    "output": f"Exit code: {code}\nWall time: 0.4 seconds\n"
                                              f"Output:\n{output}"})

    def work(self, n):
        path = f"src/module_{n}.py"
        self.shell(f"sed -n '1,80p' {path}", 0, SOURCE)
        call = f"call_{self.count:08d}"
        self.line("response_item", {"type": "custom_tool_call", "status": "completed",
                                    "call_id": call, "name": "apply_patch",
                                    "input": f"*** Begin Patch\n*** Update File: {path}\n@@\n"
                                             f"-retries=3\n+retries={n % 7}\n*** End Patch\n"})
        self.line("response_item", {"type": "custom_tool_call_output", "call_id": call,
                                    "output": f"Exit code: 0\nOutput:\nSuccess. Updated the "
                                              f"following files:\nM {path}\n"})
        self.shell("rg -n retries src", 0, "\n".join(f"src/module_{k}.py:3:retries"
                                                      for k in range(40)))
        failed = n % 3 == 0
        self.shell(f"pytest -q tests/test_{n}.py", int(failed),
                   "F" * 900 + "\n1 failed" if failed else "." * 900 + "\nok")

    def closing(self, turn, n):
        text = (f"Set `retries={n % 7}` in `src/module_{n}.py` and ran "
                f"`pytest -q tests/test_{n}.py`: all tests pass.")
        self.line("response_item", {"type": "message", "role": "assistant", "phase":
                                    "final_answer", "content": [{"type": "output_text",
                                                                 "text": text}]})
        self.line("event_msg", {"type": "agent_message", "message": text,
                                "phase": "final_answer"})
        self.line("event_msg", {"type": "task_complete", "turn_id": turn,
                                "last_agent_message": text})


def write_rollout(path, size, one_turn):
    """Turns of work until the size is reached; the last one's tests fail, its claim not."""
    with open(path, "w") as stream:
        rollout = Rollout(stream)
        n = 1
        while stream.tell() < size:
            if not one_turn or n == 1:
                rollout.prompt(f"turn-{n}", f"Task {n}: set the retries of module {n}")
            rollout.work(n)
            if not one_turn:
                rollout.closing(f"turn-{n}", n)
            n += 1
        last = "turn-1" if one_turn else "turn-0"
        if not one_turn:
            rollout.prompt(last, "Last task: module 0")
        rollout.work(0)
        rollout.closing(last, 0)
    return last


def hook_seconds(command, payload, state):
    """The median wall and CPU seconds of a run of the command (CPU time tells the work
    apart from waiting on a machine that other jobs keep busy)."""
    times, cpu = [], []
    for _ in range(RUNS):
        before = _children_cpu()
        started = time.perf_counter()
        done = subprocess.run(command, input=payload, capture_output=True, cwd=ROOT,
                              env={**os.environ, "XDG_STATE_HOME": state})
        times.append(time.perf_counter() - started)
        cpu.append(_children_cpu() - before)
    return statistics.median(times), statistics.median(cpu), done


def _children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def in_process(read):
    """CPU seconds of a call, and its wall time."""
    cpu, started = time.process_time(), time.perf_counter()
    read()
    return time.process_time() - cpu, time.perf_counter() - started


def read_through(path):
    for _ in codex.read(LogFile(path)):
        pass


def _ms(cpu, wall):
    return f"{cpu * 1000:.0f} ({wall * 1000:.0f})"


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--mb", type=float, default=10)
    size = int(parser.parse_args().mb * (1 << 20))
    print(f"{platform.processor() or platform.machine()}, {os.cpu_count()} cores, "
          f"Python {platform.python_version()}\n")
    hook = [sys.executable, "-m", "proofmark_core", "hook", "codex"]
    with tempfile.TemporaryDirectory() as folder:
        bare, bare_cpu, _ = hook_seconds([sys.executable, "-c", "pass"], b"", folder)
        print(f"interpreter start-up alone: {bare * 1000:.0f} ms, {bare_cpu * 1000:.0f} ms of "
              f"CPU (median of {RUNS})\n")
        print("Times are CPU ms (wall ms in brackets).\n")
        print("| rollout | MB | hook | turn from its id | read through |")
        print("| --- | --- | --- | --- | --- |")
        for name, one_turn in (("many turns", False), ("one turn", True)):
            path = os.path.join(folder, f"{name.replace(' ', '-')}.jsonl")
            turn = write_rollout(path, size, one_turn)
            payload = json.dumps({
                "session_id": SESSION, "turn_id": turn, "cwd": "/work/app",
                "transcript_path": path, "model": "gpt-5.4", "permission_mode": "default",
                "hook_event_name": "Stop", "stop_hook_active": False,
                "last_assistant_message": None}).encode()
            seconds, cpu, done = hook_seconds(hook, payload, folder)
            if done.returncode or not done.stdout.startswith(b'{"decision": "block"'):
                sys.exit(f"the hook did not block: {done}")
            by_id = in_process(lambda: codex.last_turn(path, turn))
            through = in_process(lambda: read_through(path))
            print(f"| {name} | {os.path.getsize(path) / (1 << 20):.1f} | {_ms(cpu, seconds)} | "
                  f"{_ms(*by_id)} | {_ms(*through)} |", flush=True)


if __name__ == "__main__":
    main()
