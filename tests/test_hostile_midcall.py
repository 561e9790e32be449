"""Callbacks that change things while verify runs: the lists being walked, the
module's names, the home directory, or verify itself called again. Each call
must see every change when the Python-level road would, and both roads agree."""
import json
import os
import pathlib
import re

import pytest

import proofmark_core.verify as m
from fallback import ORIGINAL, DelegatingModule, outcome, same_both_ways
from hostile_inputs import EXPECTED, Boom, scenario

pytestmark = pytest.mark.usefixtures("pristine_namespace")

verify = ORIGINAL["verify"]


class Trigger(dict):
    """A record that runs `action` the first `times` times its `key` is read."""

    def __init__(self, fields, key, action, times=1):
        super().__init__(fields)
        self.key, self.action, self.left = key, action, times

    def __getitem__(self, key):
        if key == self.key and self.left:
            self.left -= 1
            self.action()
        return super().__getitem__(key)


def triggered(kind, collection, index, key, action, times=1):
    """scenario(kind) whose record L[collection][index] runs action(claim, L)."""
    claim, log = scenario(kind)
    records = log[collection]
    records[index] = Trigger(records[index], key, lambda: action(claim, log), times)
    return claim, log


def both_ways(make):
    return same_both_ways(make, check_unchanged=False)


# --- the list being walked changes under the walk ------------------------------

def append_copies(name):
    def action(claim, log):
        log[name].append(dict(log[name][-1]))
    return action


def clear(name):
    return lambda claim, log: log[name].clear()


def replace_all(name, records):
    def action(claim, log):
        log[name][:] = records
    return action


WRITE_OF_ALPHA = {"tool": "patch", "wrote": True, "payload": "alpha beta", "output": "ok"}


@pytest.mark.parametrize(
    "kind, collection, index, key, action, times, expected",
    [
        # pass 1 clears "events": passes 2 and 3 find nothing to walk
        ("other", "events", 0, "wrote", clear("events"), 1,
         ("verified", "empty search result matches claim; empty search result matches claim; "
                      "empty search result matches claim")),
        # pass 3 appends: the walk goes on to the new events
        ("other", "events", 3, "output", append_copies("events"), 3, EXPECTED["other"]),
        # pass 2 replaces the events: the event in hand is still read-only, pass 1
        # is over (no payload of the new events counts), pass 3 sees the new ones
        ("other", "events", 1, "tool", replace_all("events", [WRITE_OF_ALPHA] * 3), 1,
         ("verified", "empty search result matches claim; empty search result matches claim "
                      "\u00b7 unchecked: `src/app.py`")),
        # non-records take the place of the events: the walk goes on to them
        ("other", "events", 0, "payload", replace_all("events", [1, 2]), 1,
         (TypeError, "'int' object is not subscriptable")),
        # the record in hand is kept when the list under it changes
        ("command_ran", "commands", 0, "command", clear("commands"), 1, EXPECTED["command_ran"]),
        ("command_ran", "commands", 0, "command",
         replace_all("commands", [{"command": "pytest -q", "exit_code": 0}]), 1,
         EXPECTED["command_ran"]),
        ("command_ran", "commands", 2, "command", append_copies("commands"), 50,
         EXPECTED["command_ran"]),
        ("other", "external", 0, "args", replace_all("external", [None, 7]), 1,
         (TypeError, "'int' object is not subscriptable")),
        ("other", "external", 0, "args", clear("external"), 1, EXPECTED["other"]),
    ],
)
def test_walked_list_changes_under_the_walk(kind, collection, index, key, action, times,
                                            expected):
    result = both_ways(lambda: triggered(kind, collection, index, key, action, times))
    if isinstance(expected[0], type):
        assert result[1:3] == expected
    else:
        assert result == ("returned", expected)


@pytest.mark.parametrize(
    "action, expected",
    [
        # "external" is read after the third pass over the events
        (lambda claim, log: log.clear(), ("raised", KeyError, "'external'")),
        (lambda claim, log: log.pop("commands"), ("raised", KeyError, "'commands'")),
        # "commands" is read afresh for every literal
        (lambda claim, log: log.update(commands=[]),
         ("returned", ("verified", "`src/app.py` in output \u00b7 unchecked: `pytest -q`, "
                                   "`alpha beta`"))),
        # the claim was read once, at the start
        (lambda claim, log: claim.clear(), ("returned", EXPECTED["command_ran"])),
        (lambda claim, log: claim["targets"].clear(), ("returned", EXPECTED["command_ran"])),
    ],
)
def test_claim_or_log_changes_while_the_pools_are_gathered(action, expected):
    make = lambda: triggered("command_ran", "events", 3, "output", action)  # noqa: E731
    assert both_ways(make)[:len(expected)] == expected


class Target:
    """A target that changes the targets list when it is converted to text."""

    def __init__(self, text, change):
        self.text, self.change = text, change

    def __bool__(self):
        return True

    def __str__(self):
        self.change(self)
        return self.text


def targets_changing(change):
    claim, log = scenario("other")
    claim["targets"] = [Target("src/app.py", lambda t: change(claim["targets"], t)), "pytest -q"]
    return claim, log


@pytest.mark.parametrize(
    "change, expected",
    [
        (lambda targets, t: targets.clear(), "`src/app.py` in output"),
        (lambda targets, t: targets.append("alpha beta") if len(targets) < 3 else None,
         "`src/app.py` in output; empty search result matches claim; "
         "empty search result matches claim"),
        (lambda targets, t: targets.__setitem__(slice(None), [t, t]),
         "`src/app.py` in output; `src/app.py` in output"),
    ],
)
def test_targets_change_while_they_are_walked(change, expected):
    assert both_ways(lambda: targets_changing(change)) == ("returned", ("verified", expected))


def test_a_rebound_function_that_changes_a_pool():
    def drop_outputs(lit, texts):
        texts.clear()
        return ORIGINAL["_in"](lit, texts)

    def make():
        m._in = drop_outputs
        return scenario("other")
    # verify's pools are its own lists: a rebound _in may empty them for later tests
    assert both_ways(make) == ("returned", ("verified", "empty search result matches claim; "
                                                        "empty search result matches claim; "
                                                        "empty search result matches claim"))


# --- module names rebound while verify runs -------------------------------------

class NeverMatches(DelegatingModule):
    def __getattr__(self, name):
        if name in ("search", "match", "fullmatch"):
            return lambda pattern, s, flags=0: None
        return super().__getattr__(name)


class BlanksEverything(DelegatingModule):
    def __getattr__(self, name):
        if name == "sub":
            return lambda pattern, repl, s, flags=0: ""
        return super().__getattr__(name)


def rebind(name, value):
    return lambda claim, log: setattr(m, name, value)


def unbind(name):
    return lambda claim, log: delattr(m, name)


@pytest.mark.parametrize(
    "action, expected",
    [
        (rebind("_in", lambda lit, texts: True),
         ("returned", ("verified", "`pytest -q` in write; `src/app.py` in write; "
                                   "`alpha beta` in write"))),
        (rebind("READ_TOOLS", ("write_file",)), ("returned", EXPECTED["other"])),
        (rebind("re", NeverMatches(re)),
         ("returned", ("verified", "`src/app.py` in output \u00b7 unchecked: `pytest -q`, "
                                   "`alpha beta`"))),
        (unbind("re"), ("raised", NameError, "name 're' is not defined")),
        (unbind("_norm"), ("raised", NameError, "name '_norm' is not defined")),
        (unbind("EMPTY_RE"), ("raised", NameError, "name 'EMPTY_RE' is not defined")),
        (rebind("_norm", lambda s: 5), ("raised", AttributeError, "'int' object has no "
                                                                  "attribute 'replace'")),
        (rebind("_variants", lambda lit: [7]),
         ("raised", TypeError, "'in <string>' requires string as left operand, not int")),
        (rebind("Path", object), ("raised", AttributeError, "type object 'object' has no "
                                                            "attribute 'home'")),
        (rebind("EMPTY_RE", None), ("raised", AttributeError, "'NoneType' object has no "
                                                              "attribute 'search'")),
        (rebind("json", DelegatingModule(pathlib)),
         ("raised", AttributeError, "module 'pathlib' has no attribute 'dumps'")),
        (rebind("_words_in", lambda lit, texts: "yes"),
         ("returned", ("verified", "words of `pytest -q` in command (exit ok); "
                                   "`src/app.py` in output; "
                                   "words of `alpha beta` in command (exit ok)"))),
    ],
    # A rebinding action is known by its place: its repr holds an address.
    ids=lambda value: None if callable(value) else str(value),
)
def test_module_name_rebound_while_the_log_is_read(action, expected):
    # the first event's "wrote" is read when the pools are gathered, before any literal
    result = both_ways(lambda: triggered("other", "events", 0, "wrote", action))
    assert result[:len(expected)] == expected


@pytest.mark.parametrize("when", ["before", "during"])
def test_read_tools_changed_in_place(when):
    def make():
        claim, log = scenario("file_changed")
        claim["text"] = "Added `src/app.py`"
        claim["targets"] = ["src/app.py"]
        log["events"][1]["tool"] = "open_file"
        if when == "before":
            m.READ_TOOLS.add("open_file")
        else:
            log["events"][0] = Trigger(log["events"][0], "wrote",
                                       lambda: m.READ_TOOLS.add("open_file"))
        return claim, log

    try:
        result = both_ways(make)
    finally:
        m.READ_TOOLS.discard("open_file")
    assert result == ("returned", ("pre-existing", "`src/app.py` appears only in content the "
                                                   "agent read; never in anything it wrote or ran"))


# --- the home directory changes between two normalisations -----------------------

# The payload "~ is home" normalises to "<home> is home" each time it is looked at.
# Neither literal has a file name that could be found instead.
HOME_CLAIM = {"kind": "file_changed", "text": "Edited",
              "targets": ["/home/one is home", "/home/two is home"]}
BOTH_IN_WRITE = ("returned", ("verified", "`/home/one is home` in write; "
                                          "`/home/two is home` in write"))


def home_flipping(monkeypatch, flip):
    """The home changes while the first literal's commands are walked, after its
    write test and before the second literal's."""
    def make():
        monkeypatch.setenv("HOME", "/home/one")
        log = {"events": [{"tool": "write_file", "wrote": True, "payload": "~ is home",
                           "output": ""}],
               "external": [], "written": [],
               "commands": [Trigger({"command": "ls", "exit_code": 0}, "command", flip)]}
        return dict(HOME_CLAIM, targets=list(HOME_CLAIM["targets"])), log
    return make


def test_home_changed_by_environment_midcall(monkeypatch):
    flip = lambda: os.environ.__setitem__("HOME", "/home/two")  # noqa: E731
    assert both_ways(home_flipping(monkeypatch, flip)) == BOTH_IN_WRITE


def test_home_changed_by_patching_path_home_midcall(monkeypatch):
    monkeypatch.setattr(pathlib.Path, "home", pathlib.Path.home)
    unpatched = vars(pathlib.Path)["home"]

    def flip():
        pathlib.Path.home = classmethod(lambda cls: cls("/home/two"))

    def make():
        pathlib.Path.home = unpatched
        return home_flipping(monkeypatch, flip)()

    assert both_ways(make) == BOTH_IN_WRITE


def test_home_failing_midcall_fails_the_next_normalisation(monkeypatch):
    def no_home(path):
        raise Boom("home")

    flip = lambda: monkeypatch.setattr(os.path, "expanduser", no_home)  # noqa: E731
    assert both_ways(home_flipping(monkeypatch, flip))[1:3] == (Boom, "home")


def test_a_failing_home_reaches_every_normalisation(monkeypatch):
    def no_home(cls):
        raise Boom("home")
    monkeypatch.setattr(pathlib.Path, "home", classmethod(no_home))
    assert both_ways(lambda: scenario("other"))[1:3] == (Boom, "home")


# --- names rebound while a command record is read ---------------------------------

# `_in(l, [c["command"]])`: `_in` is looked up before the record is read, but what
# its body uses only afterwards.
EMPTY_SEARCH = "empty search result matches claim"


@pytest.mark.parametrize(
    "name, value, expected",
    [
        ("_variants", lambda lit: ["no such text"],
         f"{EMPTY_SEARCH}; words of `src/app.py` in output; {EMPTY_SEARCH}"),
        ("_norm", lambda s: "", f"{EMPTY_SEARCH}; {EMPTY_SEARCH}; {EMPTY_SEARCH}"),
        ("re", BlanksEverything(re), f"{EMPTY_SEARCH}; {EMPTY_SEARCH}; {EMPTY_SEARCH}"),
    ],
    ids=["_variants", "_norm", "re"],
)
def test_names_rebound_while_a_command_is_read(name, value, expected):
    make = lambda: triggered("command_ran", "commands", 0, "command",  # noqa: E731
                             rebind(name, value))
    assert both_ways(make) == ("returned", ("verified", expected))


# --- functions of the real `re` and `json` replaced in their modules ------------

@pytest.mark.parametrize("module, name", [(re, "sub"), (re, "search"), (re, "split"),
                                          (re, "match"), (re, "fullmatch"), (json, "dumps")])
def test_a_patched_library_function_is_called(monkeypatch, module, name):
    real = getattr(module, name)

    def patched(*args, **kwargs):
        raise Boom(name)

    # patched only while verify runs, so that nothing else meets it
    def make():
        claim, log = scenario("other")
        log["events"][0] = Trigger(log["events"][0], "wrote",
                                   lambda: setattr(module, name, patched))
        return claim, log

    try:
        result = both_ways(make)
    finally:
        setattr(module, name, real)
    assert result[:3] == ("raised", Boom, name)


@pytest.mark.parametrize("owner, name, message", [
    (re, "sub", "module 're' has no attribute 'sub'"),
    (re, "fullmatch", "module 're' has no attribute 'fullmatch'"),
    (pathlib.Path, "home", "type object 'Path' has no attribute 'home'"),
])
def test_a_library_function_deleted_midcall(owner, name, message):
    real = vars(owner)[name]

    def make():
        setattr(owner, name, real)
        claim, log = scenario("other")
        log["events"][0] = Trigger(log["events"][0], "wrote", lambda: delattr(owner, name))
        return claim, log

    try:
        result = both_ways(make)
    finally:
        setattr(owner, name, real)
    assert result[:3] == ("raised", AttributeError, message)


# --- verify called again from inside a callback ----------------------------------

def test_reentrant_call_from_a_record():
    inner = []

    def make():
        inner.clear()
        claim, log = scenario("other")
        log["events"][0] = Trigger(log["events"][0], "wrote",
                                   lambda: inner.append(verify(*scenario("command_ran"))))
        return claim, log

    assert both_ways(make) == ("returned", EXPECTED["other"])
    assert inner == [EXPECTED["command_ran"]]


def test_reentrant_call_on_the_same_log_nested_a_few_deep():
    depth = []

    def make():
        claim, log = scenario("other")

        def again():
            depth.append(1)
            if len(depth) < 5:
                assert verify(claim, log) == EXPECTED["other"]
        log["events"][0] = Trigger(log["events"][0], "wrote", again, times=10)
        return claim, log

    assert both_ways(make) == ("returned", EXPECTED["other"])


def test_unbounded_reentry_ends_in_recursion_error_and_the_module_still_works():
    class Again(dict):
        def __getitem__(self, key):
            verify(claim, log)
            return super().__getitem__(key)

    claim, log = scenario("other")
    log["events"][0] = Again(log["events"][0])
    assert outcome(verify, claim, log)[1] is RecursionError
    assert verify(*scenario("other")) == EXPECTED["other"]
