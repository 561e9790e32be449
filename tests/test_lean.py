"""Records decoded by msgspec for checking give what json.loads gives: the same verdicts,
errors and messages; whatever msgspec would read otherwise goes to json.loads."""

import json
import subprocess
import sys

import pytest
from shared_data import REALDATA
from test_cli import PACKAGE_HOME

from proofmark_core.records import lean
from proofmark_core.records.input import Item, Line
from proofmark_core.run.checking import check_unit
from proofmark_core.run.units import Unit, Where

pytest.importorskip("msgspec")

EVENT = {"tool": "terminal", "wrote": False, "payload": None, "command": "pytest -q",
         "output": "3 passed in 0.2s", "when": "extra"}
COMMAND = {"command": "pytest -q", "exit_code": 0, "output": "3 passed in 0.2s"}
CLAIMS = [{"text": "All 3 tests pass.", "kind": "number", "targets": ["3"], "note": [1.5, None]}]


def record(event=None, command=None, claims=None):
    return {"run_log": {"events": [{**EVENT, **(event or {})}], "external": [{"args": {"q": 1}}],
                        "written": ["a.py"], "commands": [{**COMMAND, **(command or {})}],
                        "meta": {"agent": "x"}},
            "claims": CLAIMS if claims is None else claims,
            "source": {"agent": "codex", "session": "s", "turn": 2}, "resolved": True}


def line(value):
    return json.dumps(value).encode()


def deep(depth):
    return "[" * depth + "]" * depth


LINES = {
    "plain": line(record()),
    "a number as exit code": line(record(command={"exit_code": 1.0})),
    "a refused write, which a product rule reads": line({**record(claims=[
        {"text": "Added `b.py`.", "kind": "file_changed", "targets": ["b.py"]}]), "run_log": {
        **record()["run_log"], "written": ["b.py"],
        "refused": [{"path": "b.py", "reason": "permission denied"}]}}),
    "a huge exit code": line(record(command={"exit_code": 10 ** 30})),
    "an exit code too large for a float":
        line(record()).replace(b'"exit_code": 0', b'"exit_code": 1e400'),
    "NaN": line(record()).replace(b'"exit_code": 0', b'"exit_code": NaN'),
    "a lone surrogate": line(record(event={"output": "half \ud83d of it"})),
    "a lone surrogate in a claim": line(record(claims=[{"text": "\udcff", "targets": ["x"]}])),
    "not UTF-8": line(record()).replace(b"3 passed", b"3 \xff passed"),
    "a control character": line(record()).replace(b"3 passed", b"3\tpassed"),
    "a tool that is a number": line(record(event={"tool": 7})),
    "an output missing": line(record()).replace(b'"output": "3 passed in 0.2s", "when"', b'"when"'),
    "wrote twice": line(record()).replace(b'"wrote": false', b'"wrote": false, "wrote": true'),
    "not JSON": b'{"run_log": {"events": [}',
    "a list": b"[1, 2]",
    "claims not a list": line({**record(), "claims": {"text": "x"}}),
    "nested deep in a field no check reads": line(record()).replace(
        b'"agent": "x"', b'"agent": ' + deep(985).encode()),
    "nested too deep in a field no check reads": line(record()).replace(
        b'"agent": "x"', b'"agent": ' + deep(5000).encode()),
    "nested deep in a claim":
        line(record(claims=[{"text": "x", "targets": [json.loads(deep(150))]}])),
}


def outcome(text, monkeypatch, fast):
    with monkeypatch.context() as patch:
        if not fast:
            patch.setattr(lean, "_DECODER", None)  # as without msgspec
        return check_unit(Unit(Where("turns.jsonl", 3, 0), Item(3, Line(text)), {}))


@pytest.mark.parametrize("text", LINES.values(), ids=LINES.keys())
def test_checking_a_line_gives_what_json_loads_gives(text, monkeypatch):
    assert outcome(text, monkeypatch, fast=True) == outcome(text, monkeypatch, fast=False)


def test_a_plain_record_keeps_only_what_checking_reads():
    record = lean.lean_record(LINES["plain"])
    assert list(record) == ["run_log", "claims", "source"]
    assert record["claims"] == CLAIMS
    assert "when" not in record["run_log"]["events"][0] and "meta" not in record["run_log"]


# --- the real turns, read and checked both ways -------------------------------------

# The command line with neither msgspec nor zlib-ng: json.loads and zlib, the reference.
REFERENCE = ("import sys; sys.modules['msgspec'] = sys.modules['zlib_ng'] = None; "
             "from proofmark_core.cli import main; sys.exit(main(sys.argv[1:]))")
REAL_FILES = sorted(REALDATA.glob("*.jsonl.gz")) if REALDATA.is_dir() else []


def command(path, jobs, reference):
    start = ["-c", REFERENCE] if reference else ["-m", "proofmark_core"]
    done = subprocess.run([sys.executable, *start, "check", "--format", "jsonl", "--jobs",
                           str(jobs), str(path)], capture_output=True, cwd=PACKAGE_HOME)
    assert done.returncode in (0, 1), done.stderr
    return done.stdout


@pytest.mark.large
@pytest.mark.parametrize("path", REAL_FILES, ids=lambda path: path.name)
def test_the_real_turns_give_the_same_bytes_as_the_reference(path):
    expected = command(path, 1, reference=True)
    assert b'"verdict"' in expected
    assert command(path, 1, reference=False) == expected
    assert command(path, 2, reference=False) == expected
