"""Per-literal facts, the decision chain rule by rule, and the combination rows."""
import pytest

from proofmark_core.verify import verify
from runlogs import claim, event, ran, read, run_log, wrote

NOTES_READ = run_log([read("# notes/todo.md\n- ship it")])


@pytest.mark.parametrize(
    "kind, text, target, log, expected",
    [
        # rule 1: every command holding the literal failed
        ("command_ran", "Ran `pytest -q`", "pytest -q", run_log(commands=[ran("pytest -q", 1)]),
         ("contradicted", "`pytest -q` ran but FAILED (exit 1)")),
        ("command_ran", "Ran `pytest -q`", "pytest -q",
         run_log(commands=[ran("pytest -q", 1), ran("pytest -q", 0)]),
         ("verified", "`pytest -q` in command (exit ok)")),
        ("command_ran", "Ran `pytest -q`", "pytest -q",
         run_log([wrote("run pytest -q")], commands=[ran("pytest -q", 1)]),
         ("contradicted", "`pytest -q` ran but FAILED (exit 1)")),
        ("other", "Ran `pytest -q`", "pytest -q", run_log(commands=[ran("pytest -q", 1)]),
         ("unverified", "`pytest -q` not found in any write, command or output")),
        # rule 2
        ("file_changed", "Edited", "src/a.py", run_log([wrote("# src/a.py")]),
         ("verified", "`src/a.py` in write")),
        # rule 3: a phrase in a successful command counts only if the command writes
        ("other", "Ran it", "make build", run_log(commands=[ran("make build | tee log")]),
         ("verified", "`make build` in command (exit ok)")),
        ("file_changed", "Edited", "src/a.py", run_log(commands=[ran("black src/a.py")]),
         ("verified", "`src/a.py` in command (exit ok)")),
        ("other", "Ran it", "make build", run_log(commands=[ran("make build")]),
         ("verified", "words of `make build` in command (exit ok)")),
        ("file_changed", "Ran it", "make build", run_log(commands=[ran("make build")]),
         ("unverified", "`make build` not found in any write, command or output")),
        # rule 4
        ("other", "Sent it", "#releases", run_log(external=[{"channel": "#releases"}]),
         ("verified", "`#releases` in external action")),
        # rules 5 and 6: output counts for a file change only for numbers and phrases
        ("other", "Edited `notes/todo.md`", "notes/todo.md", NOTES_READ,
         ("verified", "`notes/todo.md` in output")),
        ("file_changed", "Set the limit", "42", run_log([event("terminal", command="make", output="limit=42")]),
         ("verified", "`42` in output")),
        ("file_changed", "Edited", "src/a.py", run_log([event("terminal", command="make", output="src/a.py")]),
         ("unverified", "`src/a.py` not found in any write, command or output")),
        # rule 5 needs the literal itself; its file name alone in read output is rule 7
        ("other", "Edited `src/app/main.py`", "src/app/main.py", run_log([read("main.py")]),
         ("unverified", "`src/app/main.py` seen only in read output; no write or command touched it")),
        # rule 9, and its one-text rule
        ("other", "Fixed it", "config file", run_log([event(output="the file config")]),
         ("verified", "words of `config file` in output")),
        ("other", "Fixed it", "config file",
         run_log([event(output="config"), event(output="file")]),
         ("unverified", "`config file` not found in any write, command or output")),
        # rule 10: a search that printed only whitespace
        ("other", "grep found no matches", "legacy hook",
         run_log(commands=[ran("git log", output=""), ran("grep -rn hook src", 1, " \n")]),
         ("verified", "empty search result matches claim")),
        ("other", "Searched", "no results here",
         run_log(commands=[ran("rg -n x src", 1, "")]),
         ("verified", "empty search result matches claim")),
        ("other", "grep found no matches", "legacy hook",
         run_log(commands=[ran("grep -rn hook src", 0, "src/x.py:1: hook")]),
         ("unverified", "`legacy hook` not found in any write, command or output")),
        ("other", "grep found no matches", "legacy hook",
         run_log(commands=[ran("git log", output="")]),
         ("unverified", "`legacy hook` not found in any write, command or output")),
    ],
)
def test_decision_chain(kind, text, target, log, expected):
    assert verify(claim(kind, text, target), log) == expected


@pytest.mark.parametrize(
    "target, log",
    [
        # candidate forms: the file name of a path, when longer than 3 characters
        ("src/app/main.py", run_log(commands=[ran("python main.py")])),
        # the written-path test: a plain substring of the normal form, no threshold
        ("a/b.c", run_log(written=["x/B.c"])),
        ("src/utils/", run_log(written=["lib/utils.py"])),
        ("main.py", run_log(written=["tests/test_main.py"])),
    ],
)
def test_file_name_facts_find(target, log):
    assert verify(claim("file_changed", "Edited", target), log)[0] == "verified"


def test_short_file_name_is_no_candidate_form():
    log = run_log(commands=[ran("cc b.c")])
    assert verify(claim("file_changed", "Edited", "a/b.c"), log)[0] == "unverified"


@pytest.mark.parametrize(
    "kind, text, targets, log, expected",
    [
        # row 1 names the failed literals only
        ("command_ran", "Ran `pytest -q`", ["pytest -q", "a.py"],
         run_log([wrote("a.py")], commands=[ran("pytest -q", 1)]),
         ("contradicted", "`pytest -q` ran but FAILED (exit 1)")),
        # row 2: read-only literals come before missing ones
        ("file_changed", "Edited", ["src/a.py", "src/b.py", "src/c.py"],
         run_log([wrote("src/a.py"), read("src/b.py")]),
         ("verified", "`src/a.py` in write \u00b7 unchecked: `src/b.py`, `src/c.py`")),
        ("file_changed", "Edited", ["a.py", "a.py"], run_log([wrote("a.py")]),
         ("verified", "`a.py` in write; `a.py` in write")),
        # row 3 and its neighbours
        ("file_changed", "Added `notes/todo.md`", ["notes/todo.md"], NOTES_READ,
         ("pre-existing", "`notes/todo.md` appears only in content the agent read; "
                          "never in anything it wrote or ran")),
        ("file_changed", "Touched up `notes/todo.md`", ["notes/todo.md"], NOTES_READ,
         ("unverified", "`notes/todo.md` seen only in read output; no write or command touched it")),
        ("file_changed", "Didn't add `notes/todo.md`", ["notes/todo.md"], NOTES_READ,
         ("unverified", "`notes/todo.md` seen only in read output; no write or command touched it")),
        # row 4: a mention; verbs inside back-quotes do not count
        ("mention", "See `docs/a.md` and `it is`", ["docs/a.md", "fix-7"], run_log(),
         ("unchecked", "a mention, not a claim of work: `docs/a.md`, `fix-7` not in this turn's log")),
        ("other", "See `docs/a.md`", ["docs/a.md", "src/app/main.py"], run_log([read("main.py")]),
         ("unchecked", "a mention, not a claim of work: `src/app/main.py`, `docs/a.md` "
                       "not in this turn's log")),
        ("mention", "See it is `docs/a.md`", ["docs/a.md"], run_log(),
         ("unverified", "`docs/a.md` not found in any write, command or output")),
        ("file_changed", "See `docs/a.md`", ["docs/a.md"], run_log(),
         ("unverified", "`docs/a.md` not found in any write, command or output")),
        # row 5 leaves the missing literal unnamed
        ("file_changed", "Edited", ["src/app.py", "src/gone.py"], run_log([read("src/app.py")]),
         ("unverified", "`src/app.py` seen only in read output; no write or command touched it")),
    ],
)
def test_combination(kind, text, targets, log, expected):
    assert verify(claim(kind, text, *targets), log) == expected


@pytest.mark.parametrize(
    "targets",
    [[], [None, "", 0], ["abc"], "abc.py", ["a \u2192 b \u2192 c"]],
)
def test_nothing_literal_needs_no_run_log(targets):
    assert verify({"kind": "other", "targets": targets}, {}) == (
        "unchecked", "nothing literal to check")


def test_claim_defaults():
    assert verify({}, {}) == ("unchecked", "nothing literal to check")
    # "kind" defaults to "other": a log-less mention
    assert verify({"targets": ["abcd"]}, run_log()) == (
        "unchecked", "a mention, not a claim of work: `abcd` not in this turn's log")


def test_non_text_targets_go_through_str():
    log = run_log([wrote("limit 1024 and 3.5")])
    assert verify(claim("other", "Set", 1024, 3.5), log) == (
        "verified", "`1024` in write; `3.5` in write")
