"""SWE-agent runs as turns: 0.x and 1.x trajectories, history-only files, the samples."""

import pytest

from proofmark_core import read_turns
from proofmark_core.logs import swe_agent
from proofmark_core.logs._file import LogFile
from text_agent_logs import (FIXTURES, edit_verdicts, every_log, log_id, needs_all_readers,
                             read, read_error, sample)

MADE_UP = "src/made_up_module.py"
CREATED = "[File: /demo__repo/greet.py (1 lines total)]\n1:\n"
UPDATED = "[File: /demo__repo/greet.py (1 lines total)]\n1:print('hello')\nFile updated.\n"
REFUSED = ("Your proposed edit has introduced new syntax error(s).\n"
           "Your changes have NOT been applied.\n")
OPENED = "[File: src/app.py (2 lines total)]\r\n1:def greet():\r\n2:    return 'helo'"
QUIET = "Your command ran successfully and did not produce any output."
DIFF = "\ndiff --git a/greet.py b/greet.py\nnew file mode 100644\n+print('hello')\n"
EDITED = ("The file /repo/src/app.py has been edited. Here's the result of running `cat -n` on a "
          "snippet of /repo/src/app.py:\r\n     2\t    return 'hello'")
NO_REPLACEMENT = ("No replacement was performed, old_str `bye` did not appear verbatim in "
                  "/repo/src/app.py.")


def event(tool, output, **fields):
    return {"tool": tool, "wrote": "payload" in fields, "output": output, **fields}


def run_log(events, written, *commands, refused=()):
    """A run log whose commands (line, output) ran without an exit code, as SWE-agent logs them."""
    log = {"events": events, "external": [], "written": written,
           "commands": [{"command": line, "exit_code": None, "output": output}
                        for line, output in commands]}
    if refused:
        log["refused"] = [{"path": path, "reason": why} for path, why in refused]
    return log


TURNS = {
    "0x.traj": [
        (run_log([event("create", CREATED, payload=""),
                  event("edit", UPDATED, payload="print('hello')")],
                 ["greet.py", "/demo__repo/greet.py"]),
         ["First I create `greet.py`.", "Now the greeting:"], (None, "/demo__repo", "0.x")),
        (run_log([event("edit", REFUSED), event("terminal", "hello\n", command="python greet.py"),
                  event("terminal", DIFF, command="submit")], [],
                 ("python greet.py", "hello\n"), ("submit", DIFF),
                 refused=[("/demo__repo/greet.py",
                           "Your proposed edit has introduced new syntax error(s).")]),
         ["Print it twice.", "Run it.", "Created `greet.py`, which prints hello."],
         (None, "/demo__repo", "0.x")),
    ],
    "1x.traj": [
        (run_log([
            event("read_file", OPENED),
            event("search_files",
                  'Found 1 matches for "helo" in /repo:\r\n/repo/src/app.py (1 matches)'),
            event("edit", "Replaced 1 occurrences.\r\n[File: /repo/src/app.py (2 lines total)]",
                  payload="return 'hello'"),
            event("insert", "[File: /repo/src/app.py (3 lines total)]", payload='"""Greetings."""'),
            event("terminal", "1 passed in 0.01s", command="pytest -q tests"),
            event("terminal", "\r\ndiff --git a/src/app.py b/src/app.py\r\n", command="submit"),
        ], ["/repo/src/app.py"], ("pytest -q tests", "1 passed in 0.01s"),
            ("submit", "\r\ndiff --git a/src/app.py b/src/app.py\r\n")),
         ["Let's open `src/app.py`.", "Is the typo anywhere else?", "Fix the typo.",
          "Add a docstring.", "Run the tests.",
          "Fixed the typo in `src/app.py`; `pytest -q tests` passes."],
         ("demo__repo-7", "/repo", "1.x")),
    ],
    # An edit with no file open, and the str_replace_editor tool: a refused edit is no write.
    "1x-editor.traj": [
        (run_log([event("read_file", "File src/lock.py not found"),
                  event("edit", "No file open. Use the `open` command first."),
                  event("read_file", "Here's the result of running `cat -n` on /repo/src/app.py:"
                                     "\r\n     1\tdef greet():\r\n     2\t    return 'helo'"),
                  event("str_replace_editor", EDITED, payload="hello"),
                  event("str_replace_editor", NO_REPLACEMENT),
                  event("str_replace_editor", "File created successfully at: /repo/notes.md",
                        payload="# Notes\nFixed the greeting."),
                  event("terminal", "diff --git a/src/app.py b/src/app.py\r\n", command="submit")],
                 ["/repo/src/app.py", "/repo/notes.md"],
                 ("submit", "diff --git a/src/app.py b/src/app.py\r\n"),
                 refused=[("src/lock.py", "No file open. Use the `open` command first."),
                          ("/repo/src/app.py", NO_REPLACEMENT)]),
         ["Open the lock module.", "Return the handle.", "Look at the app.", "Fix the typo.",
          "And the farewell.", "Write it down.",
          "Fixed the typo in `src/app.py` and wrote `notes.md`."], (None, "/repo", "1.x")),
    ],
    "1x-history.traj": [
        (run_log([event("read_file", OPENED), event("edit", "Text replaced.", payload="'hello'"),
                  event("terminal", QUIET, command="python -c 'import src.app'"),
                  event("exit_cost", None)],
                 ["/repo/src/app.py"], ("python -c 'import src.app'", QUIET)),
         ["Open it.", "Fix the typo in `src/app.py`.", "Check that it imports.",
          "Out of budget before submitting."], (None, "/repo", "1.x")),
    ],
}
SKIPPED = {"1x-history.traj": {"history role 'reviewer'": 1}}


@pytest.mark.parametrize("name", TURNS)
def test_each_prompt_is_a_turn_with_its_steps_and_their_thoughts(name):
    turns = read(swe_agent, FIXTURES / "swe-agent" / name)
    assert [(turn.run_log(), turn.messages, (turn.session, turn.cwd, turn.version))
            for turn in turns] == TURNS[name]
    assert turns[-1].skipped == SKIPPED.get(name, {})


@pytest.mark.parametrize(("path", "edited"), [
    sample("swe-agent", "6e44b9__sweagenttestrepo-1c2844.traj", "tests/missing_colon.py"),
    sample("swe-agent", "function_calling_simple.traj", "tests/missing_colon.py"),
    sample("swe-agent", "marshmallow-code__marshmallow-1867.traj", "src/marshmallow/fields.py"),
    sample("swe-agent", "pydicom__pydicom-1458.traj",
           "pydicom/pixel_data_handlers/numpy_handler.py"),
    sample("swe-agent", "swe-agent__test-repo-i1.traj", "tests/missing_colon.py"),
    sample("swe-agent", "sa101-pandas-dev__pandas.95280573.pr_53652.traj",
           "pandas/core/indexes/base.py"),
    sample("swe-agent", "demo-xml-marshmallow-1867.traj", "src/marshmallow/fields.py"),
    sample("swe-agent", "enigma-ctf-rev-rock.traj", "solve.py"),
])
def test_a_sample_run_verifies_its_edit_and_no_made_up_one(path, edited):
    assert swe_agent.recognise(LogFile(path).sample())
    [turn] = read(swe_agent, path)
    assert turn.messages and not turn.skipped and turn.cwd
    assert edit_verdicts(turn.run_log(), edited, MADE_UP) == ["verified", "unverified"]


@needs_all_readers
def test_read_turns_tells_a_run_from_its_content():
    turns = list(read_turns(FIXTURES / "swe-agent" / "0x.traj"))
    assert [(turn.source["agent"], turn.source["turn"]) for turn in turns] == [
        ("swe-agent", 0), ("swe-agent", 1)]


@pytest.mark.parametrize("case", every_log(), ids=log_id)
def test_only_swe_agent_runs_are_recognised(case):
    agent, path = case
    assert swe_agent.recognise(LogFile(path).sample()) == (agent == "swe-agent")


@pytest.mark.parametrize(("content", "message"), [
    pytest.param('{"trajectory": [', "invalid JSON at column 17: Expecting value", id="truncated"),
    pytest.param("[]", 'expected an object with "trajectory" or "history"', id="top-level-list"),
    pytest.param('{"trajectory": {}}', '"trajectory" is not a list', id="trajectory-not-a-list"),
    pytest.param('{"trajectory": [{"action": "ls", "observation": ""}, {"observation": ""}]}',
                 'trajectory[1]: expected a step with an "action" text', id="step-without-action"),
    pytest.param('{"history": [{"role": "user", "agent": "main"}, []]}',
                 "history[1]: expected an object", id="history-entry-not-an-object"),
])
def test_a_broken_run_is_one_error_naming_file_and_place(tmp_path, content, message):
    path = tmp_path / "run.traj"
    line = ":1" if message.startswith("invalid JSON") else ""
    assert read_error(swe_agent, path, content) == f"{path}{line}: {message}"
