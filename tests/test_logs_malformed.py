"""A log holding a value of an unexpected type anywhere is read up to where that matters,
then ends in one error naming the file (and the record's line in a JSONL log): never an
exception of another kind, which would end a whole run with a traceback."""

import json
import random
import tempfile
from pathlib import Path

import pytest
from hypothesis import given, settings, strategies as st

from proofmark_core import read_turns
from proofmark_core.logs import LogError

LOGS = Path(__file__).parent / "logs"
# Every log of the fixtures that is a file of its own (an event file is part of a folder).
FILES = sorted(path for path in LOGS.rglob("*") if path.is_file()
               and "conversation" not in path.parts and "subagents" not in path.parts)
ODD = [None, 0, -1, 1.5, True, "", "x", [], {}, [None], {"a": None}, [[]]]


def nodes(value, parent=None, key=None):
    """Every (container, key) under the value, the value itself as (None, None)."""
    yield parent, key
    children = value.items() if isinstance(value, dict) else enumerate(value) \
        if isinstance(value, list) else ()
    for child_key, child in list(children):
        yield from nodes(child, value, child_key)


def spoiled(value, rng):
    parent, key = rng.choice(list(nodes(value)))
    if parent is None:
        return rng.choice(ODD)
    if isinstance(parent, dict) and rng.random() < 0.3:
        del parent[key]
    else:
        parent[key] = rng.choice(ODD)
    return value


@settings(max_examples=300, deadline=None)
@given(st.sampled_from(FILES), st.integers(0, 2**32))
def test_a_value_of_an_unexpected_type_anywhere_is_a_log_error(path, seed):
    rng = random.Random(seed)
    lines = path.read_text().splitlines()
    if path.suffix == ".jsonl":
        at = rng.choice([i for i, line in enumerate(lines) if line.strip()])
        lines[at] = json.dumps(spoiled(json.loads(lines[at]), rng))
    else:
        lines = [json.dumps(spoiled(json.loads("\n".join(lines)), rng))]
    with tempfile.TemporaryDirectory() as folder:
        log = Path(folder, path.name)
        log.write_text("\n".join(lines) + "\n")
        try:
            list(read_turns(log))
        except LogError as exc:
            assert exc.file == str(log) and "\n" not in exc.message


@pytest.mark.parametrize("record, message", [
    ({"type": [None]}, "unhashable type: 'list'"),
    ({"type": "assistant", "message": {"role": "assistant", "content": [{"type": {}}]}},
     "unhashable type: 'dict'"),
])
def test_the_error_names_the_record_and_what_was_unexpected(record, message, tmp_path):
    lines = (LOGS / "claude-code/1.0/3f1d6c2e-8a41-4b7e-9c55-0e2a7b9d4f10.jsonl").read_text()
    first, *rest = lines.splitlines()
    log = tmp_path / "session.jsonl"
    log.write_text("\n".join([first, json.dumps({**json.loads(first), **record}), *rest]))
    with pytest.raises(LogError) as caught:
        list(read_turns(log))
    assert caught.value.line == 2
    # Python 3.14 words the TypeError at more length, around the same words.
    assert caught.value.message.startswith("unexpected content for a claude-code log (TypeError: ")
    assert message in caught.value.message
