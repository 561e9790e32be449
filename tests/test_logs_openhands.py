"""The OpenHands reader: each log shape read into exact run logs, and the shared samples."""

import importlib.util
import json
from pathlib import Path

import pytest

from proofmark_core import check_turn
from proofmark_core.logs import LogError, LogFile, openhands
from shared_data import TRAJECTORIES, samples

FIXTURES = Path(__file__).parent / "logs" / "openhands"
EXAMPLES = Path(__file__).resolve().parent.parent / "examples"


def ev(tool, output, command=None, payload=None, wrote=False):
    event = {"tool": tool, "wrote": wrote, "output": output}
    if wrote:
        event["payload"] = payload
    if command is not None:
        event["command"] = command
    return event


def wrote(tool, payload, output):
    return ev(tool, output, payload=payload, wrote=True)


def ran(command, exit_code, output):
    return {"command": command, "exit_code": exit_code, "output": output}


def log(events=(), commands=(), written=(), external=(), refused=()):
    run_log = {"events": list(events), "external": [{"args": a} for a in external],
               "written": list(written), "commands": list(commands)}
    if refused:
        run_log["refused"] = [{"path": path, "reason": why} for path, why in refused]
    return run_log


LISTING = ("Here's the files and directories up to 2 levels deep in /workspace/app, excluding "
           "hidden items:\n/workspace/app/\n/workspace/app/hello.py")
SERVER = "cd /workspace/app && python3 -m http.server 8000"
SERVING = "Serving HTTP on 0.0.0.0 port 8000 (http://0.0.0.0:8000/) ..."
A_CSS = ("[File: /workspace/src/a.css (3 lines total after edit)]\n1|body {\n2|  color: red;\n3|}"
         "\n[Jupyter current working directory: /workspace]")
CELL_A = ("edit_file_by_replace('/workspace/src/a.css', to_replace='color: black;', "
          "new_content='color: red;')")
CELL_B = "edit_file_by_replace('/workspace/src/b.tsx', to_replace='dark', new_content='light')"
CELL_NOTES = "with open('NOTES.md', 'w') as f:\n    f.write(notes)"
NO_MATCH = "[No exact match found in /workspace/src/b.tsx for\n```\ndark\n```\n]"
PONY = "/workspace/ponyc"
NOT_REPLACED = ("ERROR:\nNo replacement was performed, old_str `TK_LET` did not appear verbatim "
                f"in {PONY}/src/parser.c.")
PAIR_CELL = "edit_file_by_replace('/workspace/app.py', to_replace='helo', new_content='{}')"
PAIR_REFUSED = ("[Your proposed edit has introduced new syntax error(s). Please understand the "
                "errors and retry your edit command.]\nERRORS:\n/workspace/app.py:1:14: E999 "
                "SyntaxError: '(' was never closed")
PAIR_EDITED = ("[File: /workspace/app.py (1 lines total after edit)]\n1|print('hello')\n"
               "[File updated (edited at line 1).]")
DIFF = ("--- /workspace/app/hello.py\n+++ /workspace/app/hello.py\n@@ -0,0 +1 @@\n"
        "+print('hello')")

# Per fixture, each turn: (run log, the agent's messages, (line, session, cwd, version), skipped).
EXPECTED = {
    "trajectory.json": [
        (log([ev("terminal", "", "mkdir -p /workspace/app"),
              wrote("edit", "print('hello')\n", DIFF),
              ev("read_file", LISTING),
              ev("terminal", SERVING, SERVER),
              ev("terminal_input", "^C"),
              ev("think", "Your thought has been logged.")],
             [ran("mkdir -p /workspace/app", 0, ""), ran(SERVER, None, SERVING)],
             ["/workspace/app/hello.py"]),
         ["I'll start with a folder.", "Now the script:",
          "I created `/workspace/app/hello.py` and served it on port 8000."],
         (None, None, "/workspace", "v0"), {}),
        (log([ev("slack_post_message", '{"ok": true}'),
              ev("slack_list_channels", "#dev\n#random"),
              ev("browse", "hello")],
             external=[{"channel": "#dev", "text": "hello.py is ready"}]),
         ["Done.", "Posted the note to `#dev`."],
         (None, None, "/workspace/app", "v0"),
         {"action 'summon_wizard'": 1, "observation 'run' without its action": 1}),
    ],
    "msb-output.jsonl": [
        (log([ev("terminal", "bash: make: command not found", f"cd {PONY} && make"),
              wrote("edit", "actor Main\n", f"File created successfully at: {PONY}/test/x.pony"),
              ev("edit", NOT_REPLACED),
              wrote("edit", "  DONE();", f"The file {PONY}/src/parser.c has been edited."),
              wrote("edit", None, f"Last edit to {PONY}/src/lexer.c undone successfully."),
              ev("terminal", "ERROR: the previous command is still running.",
                 "grep -rn TK_LET src")],
             [ran(f"cd {PONY} && make", 127, "bash: make: command not found")],
             [f"{PONY}/test/x.pony", f"{PONY}/src/parser.c", f"{PONY}/src/lexer.c"],
             refused=[(f"{PONY}/src/parser.c", NOT_REPLACED.removeprefix("ERROR:\n"))]),
         ["Build first.", "Fixed the parser in `src/parser.c`."],
         (1, "ponylang__ponyc-4595", PONY, "v0"), {}),
        (log([ev("terminal", "lexer.c\nparser.c", "ls src")],
             [ran("ls src", 0, "lexer.c\nparser.c")]),
         ["Looking around."], (2, "ponylang__ponyc-4583", PONY, "v0"), {}),
    ],
    "record.json": [
        (log([wrote("write", "# Notes\n", "")], written=["/workspace/notes.md"]),
         ["Wrote `notes.md`."], (None, "demo__notes-1", None, "v0"), {}),
    ],
    "resolver.jsonl": [
        (log([ev("terminal", "README.md\r\nsrc\r\n", "ls"),
              ev("execute_code", A_CSS, CELL_A, "color: red;", wrote=True),
              ev("execute_code", NO_MATCH, CELL_B),
              ev("execute_code", "[Jupyter current working directory: /workspace]", CELL_NOTES,
                 wrote=True)],
             [ran("ls", 0, "README.md\r\nsrc\r\n")], ["/workspace/src/a.css", "NOTES.md"],
             refused=[("/workspace/src/b.tsx",
                       "No exact match found in /workspace/src/b.tsx for")]),
         ["Let me look.", "Edit the CSS.", "Should I also update the tests?"],
         (1, "acme/web#7", None, "v0-flat"), {}),
        (log(), ["The text is red now: see `src/a.css`."], (1, "acme/web#7", None, "v0-flat"), {}),
    ],
    # The earliest resolver output: [action, observation] pairs; the linter refused an edit.
    "paired-2024.jsonl": [
        (log([ev("terminal", "app.py\r\n", "ls /workspace"),
              ev("execute_code", PAIR_REFUSED, PAIR_CELL.format("hello(")),
              ev("execute_code", PAIR_EDITED, PAIR_CELL.format("hello"), "hello", wrote=True),
              ev("terminal", "hello\r\n", "python3 /workspace/app.py")],
             [ran("ls /workspace", 0, "app.py\r\n"),
              ran("python3 /workspace/app.py", 0, "hello\r\n")],
             ["/workspace/app.py"],
             refused=[("/workspace/app.py", PAIR_REFUSED.split("\n")[0].strip("[]"))]),
         ["Let me look.", "Fix the typo.", "Without the stray bracket.",
          "Fixed the typo in `/workspace/app.py`; it prints hello."],
         (1, "demo__hello-3", None, "v0-pairs"), {}),
    ],
    "conversation": [
        (log([wrote("file_editor", "print(1)\n", "File created successfully at: /work/proj/app.py"),
              ev("terminal", "1", "python3 app.py"),
              ev("file_editor", "Invalid `old_str` parameter: print(2) did not appear verbatim."),
              ev("terminal", "Not now.", "rm -rf build"),
              ev("read_file", "Here's the files and directories up to 2 levels deep in "
                              "/work/proj:\n/work/proj/app.py")],
             [ran("python3 app.py", 0, "1")], ["/work/proj/app.py"],
             refused=[("/work/proj/app.py",
                       "Invalid `old_str` parameter: print(2) did not appear verbatim.")]),
         ["Creating the file.", "Created `app.py`; it prints 1."],
         (None, "0c1d2e3f-0000-4000-8000-000000000001", "/work/proj", "v1"), {}),
        (log(), ["You're welcome."],
         (None, "0c1d2e3f-0000-4000-8000-000000000001", "/work/proj", "v1"), {}),
    ],
    "events.jsonl": [
        (log([ev("terminal", "Cannot execute multiple commands at once.", "A=1\necho $A"),
              ev("terminal", "no pull requests found", "gh pr view 5"),
              ev("github_add_comment", "ok"),
              ev("think", "Your thought has been logged."),
              ev("browser_navigate", "PR #5"),
              ev("terminal", "The tool call failed.", "sleep 1000")],
             [ran("gh pr view 5", 1, "no pull requests found")], external=[{"body": "LGTM"}]),
         ["I'll review it.", "Commented on the pull request."], (2, None, "/repo", "v1"),
         {"ObservationEvent without its action": 1, "action 'SpaceshipAction'": 1,
          "event 'HookEvent'": 1}),
    ],
}


def read(path):
    return list(openhands.read(LogFile(path)))


@pytest.mark.parametrize("name", EXPECTED)
def test_fixture_turns(name):
    turns = read(FIXTURES / name)
    got = [(turn.run_log(), turn.messages, (turn.line, turn.session, turn.cwd, turn.version),
            dict(turn.skipped)) for turn in turns]
    assert got == EXPECTED[name]


def test_conversation_read_from_its_events_folder():
    turns = read(FIXTURES / "conversation" / "events")
    assert [turn.session for turn in turns] == ["0c1d2e3f-0000-4000-8000-000000000001"] * 2


def test_companion_and_recognition_of_fixtures():
    assert openhands.companion(FIXTURES / "conversation" / "base_state.json")
    assert not openhands.companion(FIXTURES / "record.json")
    for name in EXPECTED:
        assert openhands.recognise(LogFile(FIXTURES / name).sample()), name


@pytest.mark.parametrize("sample", [
    [[{"role": "user", "content": "hi"}, {"role": "assistant", "content": "ls"}]],
    [{"run_log": {"events": []}, "claims": []}],
    [{"history": [{"role": "user", "content": "hi"}], "trajectory": []}],
    [[{"action": "ls -la", "observation": "total 0", "thought": ""}]],
    [{"type": "user", "message": {"role": "user", "content": "hi"}, "uuid": "u1"}],
    [{"timestamp": "t", "type": "response_item", "payload": {"type": "message"}}],
    [[]], [{"history": []}], [], ["text"],
], ids=["messages", "turn-record", "swe-agent", "swe-agent-steps", "claude-code", "codex",
        "empty-list", "empty-history", "nothing", "string"])
def test_refuses_other_shapes(sample):
    assert not openhands.recognise(sample)


@pytest.mark.parametrize("content, message", [
    (None, "{}: a folder without event files is not a log"),
    ("\n", "{}: empty log"),
    ('{"instance_id": "x", "history": {"id": 1}}\n',
     "{}:1: history: expected a list of events, got object"),
    ('[{"id": 0, "source": "user", "action": "message", "args": {}}, 42]',
     "{}:1: event[1]: expected an event object, got number"),
    ('"just text"', "{}:1: expected a list of events, an evaluation record or an event, got string"),
    ('{"id": "a", "source": "user", "kind": "MessageEvent"}\n{"id": "b", "sou\n',
     "{}:2: invalid JSON at column 13: Unterminated string starting at"),
], ids=["folder", "empty", "history", "event", "top-level", "truncated"])
def test_broken_logs(tmp_path, content, message):
    path = tmp_path
    if content is not None:
        path = tmp_path / ("log.jsonl" if content.endswith("\n") else "log.json")
        path.write_text(content)
    with pytest.raises(LogError) as caught:
        read(path)
    assert str(caught.value) == message.format(path)


def test_ids_are_optional_for_ordered_results(tmp_path):
    """A V0 observation without a cause answers the oldest call still open."""
    events = [{"source": "user", "action": "message", "args": {"content": "go"}},
              {"source": "agent", "action": "run", "args": {"command": "true"}},
              {"source": "agent", "action": "run", "args": {"command": "false"}},
              {"source": "agent", "observation": "run", "content": "", "extras": {"exit_code": 0}},
              {"source": "agent", "observation": "run", "content": "", "extras": {"exit_code": 1}}]
    (tmp_path / "log.json").write_text(json.dumps(events))
    [turn] = read(tmp_path / "log.json")
    assert turn.run_log()["commands"] == [ran("true", 0, ""), ran("false", 1, "")]


# The shared samples (skipped when the folder is absent).

SHARED = TRAJECTORIES / "openhands"
EDITED, RAN, SAW = ("file_changed", "Edited"), ("command_ran", "Ran"), ("other", "The output shows")
# Per sample: the turn and a claim of its real work: a path edited where the agent
# edited one, else a command it ran or what it saw.
WORK = [
    ("basic_gui_mode.json", 0, EDITED, "/workspace/todo-app/index.html"),
    ("wrong_initial_state.json", 0, EDITED, "/workspace/2048.py"),
    ("resolver-output.jsonl", 0, EDITED, "LICENSE"),
    ("resolver-output.jsonl", 1, EDITED, "/workspace/src/PullRequestViewer.tsx"),
    ("cd94562403b9487ebdd4018e3f531dfd", 0, EDITED, "tool_output.txt"),
    ("simple_echo_hello_world", 0, RAN, "echo hello world"),
    ("creating_agent_plan", 0, SAW, "Explore the codebase structure"),
    ("events.jsonl", 0, SAW, "SESSION_URL=<secret-hidden>"),
    ("oh-v0-basic-2048.json", 0, EDITED, "/workspace/game_2048.py"),
    ("oh-sdk-openagentsafety-gpt4o-output.jsonl", 1, RAN, "pip install openpyxl"),
]


def _claim(wording, target):
    kind, words = wording
    return [{"kind": kind, "text": f"{words} `{target}`", "targets": [target]}]


@pytest.mark.parametrize("name, index, wording, target", WORK)
def test_shared_sample_work_is_verified(name, index, wording, target):
    path = SHARED / name
    if not path.exists():
        pytest.skip(f"{path} is absent")
    run_log = read(path)[index].run_log()
    assert check_turn(run_log, _claim(wording, target))[0].verdict == "verified"
    assert check_turn(run_log, _claim(wording, "src/made_up_module.py"))[0].verdict == "unverified"


def test_failed_edits_of_the_resolver_sample_are_not_writes():
    path = SHARED / "resolver-output.jsonl"
    if not path.exists():
        pytest.skip(f"{path} is absent")
    run_log = read(path)[1].run_log()
    assert run_log["written"] == ["/workspace/src/App.css", "/workspace/src/PullRequestViewer.tsx"]
    assert check_turn(run_log, _claim(EDITED, "/workspace/src/App.tsx"))[0].verdict == "unverified"


def _logs(agent):
    return [path for path in samples(agent) if path.is_dir() or path.suffix in (".json", ".jsonl",
                                                                                 ".traj")]


@pytest.mark.parametrize("path", [path for agent in ("openhands", "mini-swe-agent", "swe-agent",
                                                     "claude-code", "codex")
                                  for path in _logs(agent)] + [EXAMPLES / "turn.json",
                                                               EXAMPLES / "claims.jsonl"],
                         ids=lambda path: f"{path.parent.name}/{path.name}")
def test_recognises_only_openhands(path):
    assert openhands.recognise(LogFile(path).sample()) == (path.parent.name == "openhands")


def _readers_merged():
    # read_turns tells formats apart with every reader and extracts claims: both come
    # from elsewhere, so this test waits until they are in the package.
    return all(importlib.util.find_spec(f"proofmark_core.{name}") is not None
               for name in ("claims", "logs.claude_code", "logs.codex"))


@pytest.mark.skipif(not _readers_merged(), reason="the other readers are not in this package")
@pytest.mark.parametrize("path", _logs("openhands") + [FIXTURES / name for name in EXPECTED],
                         ids=lambda path: path.name)
def test_read_turns_picks_openhands(path):
    from proofmark_core import read_turns

    turns = list(read_turns(path))
    assert turns and {turn.source["agent"] for turn in turns} == {"openhands"}


def test_an_edit_the_linter_refused_is_no_write(tmp_path):
    events = [{"id": 1, "source": "user", "action": "message", "args": {"content": "go"}},
              {"id": 2, "source": "agent", "action": "edit",
               "args": {"path": "/w/a.py", "content": "x = (", "start": 1, "end": 1}},
              {"id": 3, "source": "agent", "observation": "edit", "cause": 2,
               "content": "[Your proposed edit has introduced new syntax error(s). Please "
                          "understand the errors and retry your edit command.]\nERRORS: E999",
               "extras": {"path": "/w/a.py"}}]
    (tmp_path / "log.json").write_text(json.dumps(events))
    [turn] = read(tmp_path / "log.json")
    run_log = turn.run_log()
    assert (run_log["written"], run_log["events"][0]["wrote"]) == ([], False)
    assert run_log["refused"] == [{"path": "/w/a.py", "reason": "Your proposed edit has "
                                   "introduced new syntax error(s). Please understand the errors "
                                   "and retry your edit command."}]
