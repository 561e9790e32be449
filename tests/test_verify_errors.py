"""When verify fails, with which error; hostile callbacks; rebinding module names."""
import pytest

import proofmark_core.verify as m
from proofmark_core.verify import verify
from runlogs import claim, event, ran, read, run_log, wrote

EDITED = claim("other", "Edited", "hello world")


def without(log, key):
    del log[key]
    return log


@pytest.mark.parametrize(
    "claim_, log, key",
    [
        (EDITED, {}, "events"),
        (EDITED, {"events": []}, "external"),
        # "written" is read only when no payload holds the literal, whatever its kind
        (EDITED, without(run_log(), "written"), "written"),
        (EDITED, without(run_log([wrote("hello world")]), "commands"), "commands"),
        # pass 3 reads the output of every event
        (EDITED, run_log([{"tool": "patch", "wrote": False, "command": None}]), "output"),
        # the words test over commands reads every exit code
        (EDITED, run_log(commands=[{"command": "ls", "output": ""}]), "exit_code"),
        # the empty-search test reads the output of search commands only
        (claim("other", "grep: no matches", "hello world"),
         run_log(commands=[ran("make", 1), {"command": "grep -r x", "exit_code": 1}]), "output"),
    ],
)
def test_missing_key_raises_when_first_needed(claim_, log, key):
    with pytest.raises(KeyError) as e:
        verify(claim_, log)
    assert e.value.args == (key,)


@pytest.mark.parametrize(
    "claim_, log, expected",
    [
        (EDITED, without(run_log([wrote("hello world")]), "written"), "verified"),
        (claim("file_changed", "Edited", "hello world"),
         run_log(commands=[{"command": "ls", "output": ""}]), "unverified"),
        (claim("other", "grep: no matches", "hello world"),
         run_log(commands=[{"command": "git log", "exit_code": 0}]), "unverified"),
        # the file-name test stops at the first written path that holds the name
        (claim("file_changed", "Edited", "src/a.py"), run_log(written=["src/a.py", None]), "verified"),
    ],
)
def test_keys_never_needed_may_be_absent(claim_, log, expected):
    assert verify(claim_, log)[0] == expected


@pytest.mark.parametrize(
    "claim_, log",
    [
        ({"text": None, "targets": ["abcd"]}, run_log()),
        ({"targets": 5}, {}),
        ({"targets": None}, {}),
        (EDITED, run_log([event(["read_file"], output="x")])),
        (EDITED, run_log([wrote(42)])),
        (EDITED, run_log(external=[{1, 2}])),
        (claim("file_changed", "Edited", "src/a.py"), run_log(written=[None])),
        (None, {}),
    ],
)
def test_wrong_value_types_raise_type_error(claim_, log):
    with pytest.raises(TypeError):
        verify(claim_, log)


def test_text_is_not_needed_without_literals():
    assert verify({"text": None}, {}) == ("unchecked", "nothing literal to check")


class Boom(Exception):
    pass


class Raising:
    def __eq__(self, other):
        raise Boom("eq")

    def __str__(self):
        raise Boom("str")

    __hash__ = object.__hash__


def raises_midway(items):
    yield from items
    raise Boom("walk")


@pytest.mark.parametrize(
    "claim_, log, message",
    [
        (claim("command_ran", "ran", "pytest -q"), run_log(commands=[ran("pytest -q", Raising())]), "eq"),
        (claim("other", "x", "abcd", Raising()), {}, "str"),
        ({"targets": raises_midway(["abcd"])}, {}, "walk"),
        (EDITED, {**run_log(), "events": raises_midway([event(output="x")])}, "walk"),
    ],
)
def test_callback_errors_propagate_unchanged(claim_, log, message):
    with pytest.raises(Boom, match=message):
        verify(claim_, log)


class Mutating(dict):
    """An event that changes the events list when its "wrote" is read."""

    def __init__(self, events, change, **fields):
        super().__init__(fields)
        self.events, self.change = events, change

    def __getitem__(self, key):
        if key == "wrote":
            self.change(self.events)
        return super().__getitem__(key)


@pytest.mark.parametrize(
    "change, expected",
    [
        (list.clear, "unverified"),  # the walks stop early, even the outputs pass
        (lambda ev: ev.append(wrote("hello world")) if len(ev) < 3 else None, "verified"),
        (lambda ev: ev.__setitem__(slice(None), [wrote("hello world")] * 5), "verified"),
    ],
)
def test_events_mutated_during_the_walk(change, expected):
    events = []
    events.append(Mutating(events, change, tool="patch", wrote=False, output="x"))
    events.append(wrote("nothing"))
    assert verify(EDITED, {**run_log(), "events": events})[0] == expected


def test_rebinding_in_changes_the_verdict(monkeypatch):
    log = run_log([wrote("hello world")])
    assert verify(EDITED, log)[0] == "verified"
    monkeypatch.setattr(m, "_in", lambda lit, texts: False)
    assert verify(EDITED, log)[0] == "unverified"


def test_rebinding_read_tools_changes_the_verdict(monkeypatch):
    added = claim("file_changed", "Added `notes/todo.md`", "notes/todo.md")
    log = run_log([read("notes/todo.md", tool="open_file")])
    assert verify(added, log)[0] == "unverified"
    monkeypatch.setattr(m, "READ_TOOLS", ("open_file",))
    assert verify(added, log)[0] == "pre-existing"
