"""Mutation fuzzing of the command over agent logs and turn records.

Every mutant of a seed log (byte mutations, structural mutations of its JSON, gzip
faults) is checked in a forked child of this process, which has the package loaded
already, under a memory limit and a time limit. A run fails when the command exits
with a status other than 0, 1 or 2, prints a traceback, runs out of memory or time;
each such mutant is kept in the findings folder with what the command said.

    python tools/fuzz_inputs.py SEEDS... [--minutes 60] [--findings DIR] [--seed N]

SEEDS are files or folders of agent logs or turn records (``*.jsonl.gz`` turn records
give their first lines only). Progress and a summary go to standard error.
"""

from __future__ import annotations

import argparse
import contextlib
import gzip
import io
import json
import os
import random
import resource
import signal
import sys
import time
import traceback
import zlib
from collections import Counter
from collections.abc import Callable
from pathlib import Path

from proofmark_core import cli

MEMORY = 2 << 30
SECONDS = 60
LIMIT = ["--size-limit", "4M"]
SEED_BYTES = 2 << 20
TURN_LINES = 40
COMMANDS = (["check", "--format", "jsonl"], ["check"], ["import"],
            ["check", "--format", "html"], ["check", "--jobs", "2"])
UGLY_VALUES = [None, True, 0, -1, 1e308, "", "\udc80", "\u202e", [], {}, "x" * 100_000,
               [[[[[]]]]], {"": {"": {}}}, 2**64, "\x00", "NaN", "\x01HUGE", "\x01DEEP"]
# Values json.dumps cannot write, put in its text afterwards.
AFTERWARDS = {b'"\\u0001HUGE"': b"9" * 5000, b'"\\u0001DEEP"': b"[" * 100_000 + b"]" * 100_000}
UGLY_TEXTS = [b"NaN", b"Infinity", b"-0", b"1e999", b"9" * 5000, b"[" * 100_000,
              b"{\"a\":" * 50_000, b'"\\ud800"', b'"\\u0000"', b"\xff\xfe", b"\xef\xbb\xbf",
              b"\x00", b"\r\n", b"\n" * 1000, b" " * 70_000 + b"-", b'"' + b"\\" * 1001 + b'"']


# Seeds

def seeds(paths: list[str]) -> list[tuple[str, bytes]]:
    found = []
    for name in paths:
        path = Path(name)
        files = sorted(p for p in path.rglob("*") if p.is_file()) if path.is_dir() else [path]
        for file in files:
            if file.suffix == ".md":
                continue
            if file.name.endswith(".jsonl.gz"):
                with gzip.open(file, "rb") as stream:
                    data = b"".join(stream.readline() for _ in range(TURN_LINES))
                found.append((file.name.removesuffix(".gz"), data))
            elif file.stat().st_size <= SEED_BYTES:
                found.append((file.name, file.read_bytes()))
    return found


# Mutations: each takes the bytes and a random source, and gives the mutant.

def flip(data: bytes, rng: random.Random) -> bytes:
    if not data:
        return b"\x00"
    at = rng.randrange(len(data))
    return data[:at] + bytes([data[at] ^ (1 << rng.randrange(8))]) + data[at + 1:]


def insert(data: bytes, rng: random.Random) -> bytes:
    at = rng.randrange(len(data) + 1)
    return data[:at] + rng.choice(UGLY_TEXTS) + data[at:]


def delete(data: bytes, rng: random.Random) -> bytes:
    at = rng.randrange(len(data) + 1)
    return data[:at] + data[at + rng.randrange(1, 200):]


def duplicate(data: bytes, rng: random.Random) -> bytes:
    at = rng.randrange(len(data) + 1)
    piece = data[at:at + rng.randrange(1, 5000)]
    return data[:at] + piece * rng.randrange(2, 20) + data[at:]


def truncate(data: bytes, rng: random.Random) -> bytes:
    return data[:rng.randrange(len(data) + 1)]


def cut_line(data: bytes, rng: random.Random) -> bytes:
    """A live file: the rest cut in the middle of one of its lines."""
    lines = data.splitlines(keepends=True)
    if not lines:
        return data
    at = rng.randrange(len(lines))
    return b"".join(lines[:at]) + lines[at][:rng.randrange(len(lines[at]) + 1)]


def line_endings(data: bytes, rng: random.Random) -> bytes:
    return rng.choice([data.replace(b"\n", b"\r\n"), b"\xef\xbb\xbf" + data,
                       data.replace(b"\n", b"\n\n\n"), data.replace(b"\n", b"\r")])


def swap_lines(data: bytes, rng: random.Random) -> bytes:
    lines = data.splitlines(keepends=True)
    if len(lines) > 1:
        a, b = rng.randrange(len(lines)), rng.randrange(len(lines))
        lines[a], lines[b] = lines[b], lines[a]
        if rng.random() < 0.3:
            del lines[rng.randrange(len(lines))]
    return b"".join(lines)


def structural(data: bytes, rng: random.Random) -> bytes:
    """A value somewhere in the JSON (of one line, for JSONL) replaced, removed or nested."""
    lines = data.splitlines(keepends=True)
    whole = True
    try:
        value = json.loads(data)
    except (ValueError, RecursionError):
        if not lines:
            return data
        whole = False
        index = rng.randrange(len(lines))
        try:
            value = json.loads(lines[index])
        except (ValueError, RecursionError):
            return flip(data, rng)
    value = _mutate_value(value, rng, depth=0)
    try:
        text = json.dumps(value, ensure_ascii=rng.random() < 0.5).encode("utf-8", "surrogatepass")
    except RecursionError:  # nested deeper than json.dumps goes
        return flip(data, rng)
    for marker, replacement in AFTERWARDS.items():
        text = text.replace(marker, replacement)
    if whole:
        return text
    lines[index] = text + b"\n"
    return b"".join(lines)


def _mutate_value(value: object, rng: random.Random, depth: int) -> object:
    containers = isinstance(value, dict | list) and value
    if not containers or depth > 30 or rng.random() < 0.15:
        choice = rng.random()
        if choice < 0.6:
            return rng.choice(UGLY_VALUES)
        if choice < 0.8:
            nested: object = value
            for _ in range(rng.choice([2, 100, 900])):
                nested = [nested]
            return nested
        return {"x": value, **({"y": value} if rng.random() < 0.5 else {})}
    if isinstance(value, dict):
        key = rng.choice(list(value))
        if rng.random() < 0.2:
            del value[key]
        else:
            value[key] = _mutate_value(value[key], rng, depth + 1)
        return value
    assert isinstance(value, list)
    index = rng.randrange(len(value))
    roll = rng.random()
    if roll < 0.1:
        del value[index]
    elif roll < 0.2:
        value.insert(index, value[index])
    else:
        value[index] = _mutate_value(value[index], rng, depth + 1)
    return value


BYTE_MUTATIONS: list[Callable[[bytes, random.Random], bytes]] = [
    flip, insert, delete, duplicate, truncate, cut_line, line_endings, swap_lines]


def gzip_fault(data: bytes, rng: random.Random) -> bytes:
    packed = gzip.compress(data)
    roll = rng.random()
    if roll < 0.25:
        return packed[:rng.randrange(len(packed) + 1)]
    if roll < 0.45:
        return flip(packed, rng)
    if roll < 0.6:
        return packed + rng.choice([b"\0" * 100, b"garbage", packed])
    if roll < 0.75:
        return packed[:-8] + os.urandom(8)  # a wrong checksum and length
    # One member that inflates to a line far longer than the limit the run is given.
    return gzip.compress(data[:1] + b" " * (8 << 20) + data[1:], compresslevel=1)


def mutant(name: str, data: bytes, rng: random.Random) -> tuple[str, bytes, str]:
    for _ in range(rng.choice([1, 1, 1, 2, 3])):
        if rng.random() < 0.3:
            data = structural(data, rng)
            kind = "structural"
        else:
            mutation = rng.choice(BYTE_MUTATIONS)
            data, kind = mutation(data, rng), mutation.__name__
    if rng.random() < 0.12:
        return name + ".gz", gzip_fault(data, rng), kind + "+gzip"
    return name, data, kind


# Running the command on a mutant

def run_child(args: list[str], out: Path) -> int:
    """The command's exit status, run in a forked child with its output in files."""
    pid = os.fork()
    if pid == 0:
        try:
            resource.setrlimit(resource.RLIMIT_AS, (MEMORY, MEMORY))
            os.setpgid(0, 0)
            with open(out / "stdout", "wb") as stdout, open(out / "stderr", "wb") as stderr:
                os.dup2(os.open(os.devnull, os.O_RDONLY), 0)
                os.dup2(stdout.fileno(), 1)
                os.dup2(stderr.fileno(), 2)
            sys.stdin = io.TextIOWrapper(io.BufferedReader(io.FileIO(0, "r")))
            sys.stdout = io.TextIOWrapper(io.BufferedWriter(io.FileIO(1, "w")))
            sys.stderr = io.TextIOWrapper(io.BufferedWriter(io.FileIO(2, "w")),
                                          line_buffering=True)
            status = cli.main(args)
            sys.stdout.flush()
        except SystemExit as exc:
            status = exc.code if isinstance(exc.code, int) else 2
        except BaseException:
            traceback.print_exc()
            status = 99
        with contextlib.suppress(Exception):
            sys.stderr.flush()
        os._exit(status)
    deadline = time.monotonic() + SECONDS
    while True:
        done, status = os.waitpid(pid, os.WNOHANG)
        if done:
            return os.waitstatus_to_exitcode(status)
        if time.monotonic() > deadline:
            with contextlib.suppress(ProcessLookupError):
                os.killpg(pid, signal.SIGKILL)
            os.waitpid(pid, 0)
            return -999
        time.sleep(0.005)


def problem(status: int, stderr: bytes) -> str | None:
    if status == -999:
        return "hang"
    if b"MemoryError" in stderr:
        return "memory"
    if b"Traceback" in stderr:
        return "traceback"
    if status not in (0, 1, 2):
        return f"status {status}"
    if status == 2 and not stderr.strip():
        return "exit 2 without a word"
    return None


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("seeds", nargs="+")
    parser.add_argument("--minutes", type=float, default=60)
    parser.add_argument("--findings", default="/tmp/proofmark-fuzz-findings")
    parser.add_argument("--seed", type=int, default=int(time.time()))
    parser.add_argument("--work", default=None, help="the folder mutants are written in")
    options = parser.parse_args()
    rng = random.Random(options.seed)
    corpus = seeds(options.seeds)
    findings = Path(options.findings)
    findings.mkdir(parents=True, exist_ok=True)
    work = Path(options.work or f"/tmp/proofmark-fuzz-{os.getpid()}")
    work.mkdir(parents=True, exist_ok=True)
    stop = time.monotonic() + options.minutes * 60
    started, runs, found = time.monotonic(), 0, Counter[str]()
    statuses = Counter[int]()
    while time.monotonic() < stop:
        name, data, kind = mutant(*rng.choice(corpus), rng)
        path = work / name
        path.write_bytes(data)
        command = rng.choice(COMMANDS)
        args = [*command, *LIMIT, str(path)]
        if rng.random() < 0.1:
            args[1:1] = ["--from", rng.choice(["turns", "claude-code", "codex", "openhands",
                                               "swe-agent", "mini-swe-agent"])]
        status = run_child(args, work)
        runs += 1
        statuses[status] += 1
        stderr = (work / "stderr").read_bytes()
        if what := problem(status, stderr):
            found[what] += 1
            case = findings / f"{runs:06d}-{what.replace(' ', '-')}"
            case.mkdir(exist_ok=True)
            (case / name).write_bytes(data)
            (case / "said").write_bytes(f"{args}\n{kind}\nstatus {status}\n".encode() + stderr)
        if runs % 200 == 0:
            print(f"fuzz: {runs} mutants in {time.monotonic() - started:.0f} s; "
                  f"statuses {dict(statuses)}; findings {dict(found)}", file=sys.stderr)
    print(f"fuzz: done: {runs} mutants of {len(corpus)} seeds in "
          f"{time.monotonic() - started:.0f} s (seed {options.seed}); statuses "
          f"{dict(statuses)}; findings {dict(found) or 'none'}", file=sys.stderr)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
