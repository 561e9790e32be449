"""Logs still being written: a line cut short loses only the turn it belongs to, which
is reported as an error of that turn; every turn before it is checked."""
import json
import subprocess
import sys
from pathlib import Path

import pytest

import proofmark_core

PACKAGE_HOME = Path(proofmark_core.__file__).resolve().parent.parent
LOGS = Path(__file__).resolve().parent / "logs"
SESSION = Path(__file__).resolve().parent.parent / "examples" / "session.jsonl"

pytestmark = pytest.mark.timeout(60)


def check(path):
    done = subprocess.run([sys.executable, "-m", "proofmark_core", "check", "--format",
                           "jsonl", path], capture_output=True, cwd=PACKAGE_HOME, timeout=40)
    lines = [json.loads(line) for line in done.stdout.splitlines()]
    return done, lines


def cut(source, line, tmp_path, keep_after=False, after=None):
    """The log with its line (counting from 1) cut in the middle, or just after some
    text, and the rest dropped unless kept."""
    lines = source.read_bytes().splitlines(keepends=True)
    at = len(lines[line - 1]) // 2 if after is None else lines[line - 1].index(after) + len(after)
    broken = lines[line - 1][:at]
    rest = lines[line:] if keep_after else []
    path = tmp_path / source.name
    path.write_bytes(b"".join([*lines[:line - 1], broken, *rest]))
    return path


@pytest.mark.parametrize("source, line, after, kept, broken_turn", [
    # the first line of a turn, cut: the turn before it is whole
    (SESSION, 16, None, {0}, 1),
    (SESSION, 16, b"Post a short", {0}, 1),
    (LOGS / "codex" / "envelope-0.142.jsonl", 33, None, {0}, 1),
    (LOGS / "codex" / "legacy.jsonl", 18, None, {0}, 1),
    (LOGS / "openhands" / "msb-output.jsonl", 2, None, {0}, 1),
    # a line inside a turn: that turn is lost, those before it are kept
    (SESSION, 18, b'"type":"tool_result"', {0}, 1),
    (SESSION, 5, b'"file_path":"/home/dev/shop/src/', set(), 0),
    # cut before it says what it is: it takes nothing from the turn, which is kept
    (SESSION, 18, b'"isSidechain"', {0}, 2),
    # a JSON document cut short (an OpenHands trajectory whose second turn starts at 283)
    (LOGS / "openhands" / "trajectory.json", 300, None, {0}, 1),
    (LOGS / "openhands" / "trajectory.json", 265, None, set(), 0),
])
def test_a_cut_line_loses_only_its_own_turn(source, line, after, kept, broken_turn, tmp_path):
    done, lines = check(cut(source, line, tmp_path, after=after))
    turns = {row["turn"] for row in lines if "verdict" in row}
    errors = [row for row in lines if "error" in row]
    assert turns == kept
    assert len(errors) == 1 and errors[0]["line"] == line, errors
    assert errors[0]["record"] == broken_turn
    assert done.returncode == 2 and len(done.stderr.splitlines()) == 1
    assert f":{line}: turn {broken_turn}: invalid JSON" in done.stderr.decode()


def test_a_broken_line_in_the_middle_ends_the_reading_after_the_turns_before_it(tmp_path):
    done, lines = check(cut(SESSION, 16, tmp_path, keep_after=True))
    assert {row["turn"] for row in lines if "verdict" in row} == {0}
    assert [row["line"] for row in lines if "error" in row] == [16]
