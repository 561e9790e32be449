"""The line of each turn's closing message, where reports place the turn's claims."""

import json
from pathlib import Path

import pytest

from proofmark_core import read_turns

LOGS = Path(__file__).resolve().parent / "logs"
EXAMPLE = Path(__file__).resolve().parent.parent / "examples" / "session.jsonl"
JSONL_LOGS = [EXAMPLE, *sorted((LOGS / "codex").glob("*.jsonl")),
              *sorted((LOGS / "claude-code").glob("*/*.jsonl"))]


def _strings(value):
    if isinstance(value, str):
        yield value
    elif isinstance(value, dict | list):
        for item in value.values() if isinstance(value, dict) else value:
            yield from _strings(item)


@pytest.mark.parametrize("path", JSONL_LOGS, ids=lambda path: path.name)
def test_the_closing_line_holds_the_closing_message(path):
    lines = path.read_text(encoding="utf-8").splitlines()
    turns = [turn for turn in read_turns(path) if turn.claims]
    for turn in turns:
        assert turn.closing_line >= turn.line
        record = json.loads(lines[turn.closing_line - 1])
        assert any(turn.claims[-1]["text"].split("`")[0].strip() in text for text in _strings(record))
