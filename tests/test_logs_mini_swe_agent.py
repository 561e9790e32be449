"""mini-swe-agent runs as turns: every observation generation, the samples, broken files."""

import pytest

from proofmark_core import read_turns
from proofmark_core.logs import mini_swe_agent
from proofmark_core.logs._file import LogFile
from text_agent_logs import (FIXTURES, edit_verdicts, every_log, log_id, needs_all_readers,
                             read, read_error, sample)

NOT_RUN = "not run"
SUBMIT = "echo COMPLETE_TASK_AND_SUBMIT_FINAL_OUTPUT && git add -A && git diff --cached"
DIFF = "diff --git a/app/hello.py b/app/hello.py\n"


def run_log(calls, written):
    """Every call is a shell command; those that ran are CommandRecords too."""
    return {
        "events": [{"tool": "terminal", "wrote": False, "output": output, "command": command}
                   for command, _, output in calls],
        "external": [], "written": written,
        "commands": [{"command": command, "exit_code": code, "output": output}
                     for command, code, output in calls if code != NOT_RUN]}


FIXTURE_CASES = [
    pytest.param("v1.1-tools.traj.json", [
        ("cat app/hello.py", 0, "print('helo')"),
        ("ls tests", 2, "ls: cannot access 'tests': No such file or directory"),
        ("sed -i 's/helo/hello/' app/hello.py", 0, ""),
        ("echo COMPLETE_TASK_AND_SUBMIT_FINAL_OUTPUT && git diff", None, DIFF),
    ], ["app/hello.py"], [
        "Let me look at the file and the tests.",
        "The fix:\n\n```bash\nrm -rf app\n```\n\nis not what I run.", "Forgot the call.",
        "Fixed the greeting in `app/hello.py`.",
    ], ("demo__hello-2", "/testbed", "2.2.7"), id="v1.1-tool-calls"),
    pytest.param("v1.traj.json", [
        ("cat app/hello.py", 0, "print('helo')"),
        ("cat <<'EOF' > app/hello.py\nprint('hello')\nEOF", 0, ""),
        ("sleep 1000", NOT_RUN, "The last command <command>sleep 1000</command> timed out and "
                                "has been killed.\nPlease try another command."),
        ("python -m pytest -q", 1, "F..\n1200 characters elided\n1 failed, 2 passed"),
        (SUBMIT, None, DIFF + "-print('helo')\n+print('hello')\n"),
    ], ["app/hello.py"], [
        "Let me read the file.",
        "Two looks at once.\n\n```bash\nls\n```\n\n```bash\npwd\n```",
        "The fix is\n\n```python\nprint('hello')\n```\n\nso I rewrite the file.",
        "Wait for the server.", "Run the tests.", "Fixed the greeting in `app/hello.py`.",
    ], ("demo__hello-1", "/testbed", "1.15.0"), id="v1"),
    pytest.param("v2-messages.json", [
        ("grep -rn helo .", 0, "./app/hello.py:1:print('helo')"),
        ("sed -i 's/helo/hello/' app/hello.py", 0, ""),
        ("echo COMPLETE_TASK_AND_SUBMIT_FINAL_OUTPUT", None, ""),
    ], ["app/hello.py"], [
        "I'll look for it.", "Fixing it.\n\n```bash\nsed -i 's/helo/hello/' app/hello.py\n```",
        "Fixing it.", "Replaced helo with hello in `app/hello.py`.",
    ], (None, None, None), id="v2-bare-list"),
    pytest.param("2025-07-09.json", [
        ("cat hello.py", 1, "cat: hello.py: No such file or directory"),
        ("python3 app/hello.py | tee out.txt", 0, "helo"),
        ("echo MICRO_SWE_AGENT_FINAL_OUTPUT && git diff", None, "diff --git a/out.txt b/out.txt\n"),
    ], ["out.txt"], ["Let me look.", "It is under app.", "Done."], (None, None, None),
        id="2025-07-09-stderr-stdout"),
    pytest.param("2025-07-01.json", [
        ("sed -i 's/helo/hello/' app/hello.py && python3 app/hello.py", 0, "hello"),
        ("echo NANO_SWE_AGENT_FINAL_OUTPUT && git add -A && git diff --cached", None, DIFF),
    ], ["app/hello.py"], ["Fix it in place.", "Submitting."], (None, None, None),
        id="2025-07-01-args"),
    pytest.param("v2.0.traj.json", [
        ("ls nope", 2, "ls: cannot access 'nope': No such file or directory"),
        ("sed -i 's/helo/hello/' app/hello.py && echo COMPLETE_TASK_AND_SUBMIT_FINAL_OUTPUT"
         " && git diff", None, DIFF),
    ], ["app/hello.py"], ["Is there a config?", "No config; fixing `app/hello.py` directly."],
        (None, "/work", "2.0.0"), id="v2.0-extra-exit"),
]


@pytest.mark.parametrize(("name", "calls", "written", "messages", "source"), FIXTURE_CASES)
def test_a_run_is_one_turn_with_each_command_and_the_agent_prose(
        name, calls, written, messages, source):
    [turn] = read(mini_swe_agent, FIXTURES / "mini-swe-agent" / name)
    assert turn.run_log() == run_log(calls, written)
    assert turn.messages == messages
    assert (turn.session, turn.cwd, turn.version) == source
    assert not turn.skipped


MADE_UP = "src/made_up_module.py"


@pytest.mark.parametrize(("path", "edited"), [
    sample("mini-swe-agent", "c23c543-github_issue.traj.json", "tests/missing_colon.py"),
    sample("mini-swe-agent", "django__django-16527.traj.json",
           "django/contrib/admin/templatetags/admin_modify.py"),
    sample("mini-swe-agent", "github_issue.traj.json", "tests/missing_colon.py"),
    sample("mini-swe-agent", "local.traj.json", None),  # it only echoes
    sample("mini-swe-agent", "sympy__sympy-23534.traj.json", "sympy/core/symbol.py"),
    sample("mini-swe-agent", "traj.json", "tests/missing_colon.py"),
    sample("mini-swe-agent", "msa115-gemini3-pallets__flask-5014.traj.json",
           "src/flask/blueprints.py"),
    sample("mini-swe-agent", "msa227-deepseek-django__django-14752.traj.json",
           "django/contrib/admin/views/autocomplete.py"),
    sample("mini-swe-agent", "msa230-deepseek-astropy__astropy-12907.traj.json",
           "astropy/modeling/separable.py"),
])
def test_a_sample_run_verifies_its_edit_and_no_made_up_one(path, edited):
    assert mini_swe_agent.recognise(LogFile(path).sample())
    [turn] = read(mini_swe_agent, path)
    assert turn.messages and not turn.skipped
    assert edit_verdicts(turn.run_log(), MADE_UP) == ["unverified"]
    if edited:
        assert edit_verdicts(turn.run_log(), edited) == ["verified"]


@needs_all_readers
def test_read_turns_tells_a_run_from_its_content():
    [turn] = read_turns(FIXTURES / "mini-swe-agent" / "v2.0.traj.json")
    assert turn.source["agent"] == "mini-swe-agent"
    assert (turn.source["session"], turn.source["cwd"]) == (None, "/work")


@pytest.mark.parametrize("case", every_log(), ids=log_id)
def test_only_mini_swe_agent_runs_are_recognised(case):
    agent, path = case
    assert mini_swe_agent.recognise(LogFile(path).sample()) == (agent == "mini-swe-agent")


@pytest.mark.parametrize(("content", "message"), [
    pytest.param('[{"role": "user", "content": "x"',
                 "invalid JSON at column 33: Expecting ',' delimiter", id="truncated"),
    pytest.param('{"messages": {}}', 'expected a list of messages or an object with "messages"',
                 id="messages-not-a-list"),
    pytest.param('"text"', 'expected a list of messages or an object with "messages"',
                 id="top-level-text"),
    pytest.param('[{"role": "system", "content": ""}, 7]',
                 'messages[1]: expected an object with a "role"', id="message-not-an-object"),
])
def test_a_broken_run_is_one_error_naming_file_and_place(tmp_path, content, message):
    path = tmp_path / "run.traj.json"
    line = ":1" if message.startswith("invalid JSON") else ""
    assert read_error(mini_swe_agent, path, content) == f"{path}{line}: {message}"
