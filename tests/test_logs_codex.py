"""Codex rollouts read as turns: each layout and tool generation against exact RunLogs."""

from __future__ import annotations

import importlib.util
import json
import tempfile
from collections.abc import Iterator, Sequence
from pathlib import Path
from typing import TYPE_CHECKING, Any

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from proofmark_core import check_turn
from proofmark_core import read_turns
from proofmark_core.logs import AGENTS, LogError, codex, sniff
from proofmark_core.logs._codemode import Expression, tool_calls
from proofmark_core.logs._codex_calls import ShellResult, shell_result
from proofmark_core.logs._file import LogFile
from proofmark_core.logs._patch import Patch, parse_patch, patch_in_command
from shared_data import TRAJECTORIES, needs, samples

if TYPE_CHECKING:
    from proofmark_core.verify import Claim

FIXTURES = Path(__file__).parent / "logs" / "codex"
SAMPLE_SESSION = "019a93b9-f380-7600-98ff-940e6b99603c"
SAMPLE = f"rollout-2025-11-17T15-30-28-{SAMPLE_SESSION}.jsonl"


def sh(command: str, output: str | None, code: int | None = 0,
       ran: bool = True) -> tuple[dict[str, object], ...]:
    """A shell call's event and, when it ran (it has an output), its command record."""
    event = {"tool": "terminal", "wrote": False, "output": output, "command": command}
    if output is None or not ran:
        return (event,)
    return event, {"command": command, "exit_code": code, "output": output}


def call(tool: str, output: str | None, payload: str | None = None) -> dict[str, object]:
    event: dict[str, object] = {"tool": tool, "wrote": payload is not None, "output": output}
    if payload is not None:
        event["payload"] = payload
    return event


def turn(line: int, calls: list[object], written: list[str], messages: list[str],
         external: Sequence[object] = (), skipped: dict[str, int] | None = None,
         refused: Sequence[tuple[str, str]] = ()) -> dict[str, object]:
    events = [c[0] if isinstance(c, tuple) else c for c in calls]
    commands = [c[1] for c in calls if isinstance(c, tuple) and len(c) == 2]
    run_log = {"events": events, "external": list(external), "written": written,
               "commands": commands}
    if refused:
        run_log["refused"] = [{"path": path, "reason": why} for path, why in refused]
    return {"line": line, "run_log": run_log, "messages": messages, "skipped": skipped or {}}


def spelled(cwd: str, *paths: str) -> list[str]:
    """Each path written relative to a Windows working directory, in its four spellings."""
    return [form for path in paths for form in (
        path, path.replace("/", "\\"), f"{cwd}\\{path}".replace("/", "\\"),
        f"{cwd}/{path}".replace("\\", "/"))]


def success(*changes: str) -> str:
    return "Success. Updated the following files:\n" + "".join(f"{c}\n" for c in changes)


FINAL_142 = ("Added [status.md](D:/app/docs/status.md) and moved `src/old.ts` to `src/new.ts`. "
             "`npm run lint` still fails (exit 1); filed issue #12.")
FINAL_144 = ("`npm run build` passed; `npm test` failed (1 of 10). "
             "Started the e2e run into `e2e.log`.")
CHILD_TURN = turn(16, [sh("rg -n http docs", "docs/links.md:3:http://old.example\n"),
                       call("apply_patch", success("M docs/links.md"), "https://new.example"),
                       call("send_message", "delivered")],
                  spelled("D:\\app\\docs", "docs/links.md"),
                  ["Fixed one link in `docs/links.md`."])

# Per fixture: (session, cwd of the last turn, version) and the turns.
EXPECTED: dict[str, tuple[tuple[str, str | None, str | None], list[dict[str, object]]]] = {
    "legacy.jsonl": (("5f0c2a9e-0000-4000-8000-000000000001", "/home/me/notes", None), [
        turn(5, [sh("ls docs", "fs-scanner.md\n"),
                 call("apply_patch", success("M docs/fs-scanner.md"), "Walks the tree once."),
                 call("task-master-ai__set_task_status", "Task 7 status set to done"),
                 call("memory__read_graph", '{"entities":[]}')],
             ["docs/fs-scanner.md"],
             ["Documented the scanner in `docs/fs-scanner.md` and set task 7 to done."],
             [{"args": {"id": "7", "status": "done"}}]),
        turn(18, [sh("pytest -q > test.log", "", 1)], ["test.log"],
             ["Ran `pytest -q`: 2 tests fail."]),
    ]),
    "envelope-0.58.jsonl": (("019a93b9-0000-7000-8000-000000000058", "/home/me/app", "0.58.0"), [
        turn(4, [sh("rg -n MAX_RETRIES", "src/config.py:3:MAX_RETRIES = 3\n"),
                 call("update_plan", "Plan updated"),
                 call("apply_patch", "apply_patch verification failed: Failed to find expected "
                                     "lines in src/config.py:\nMAX_RETRIES = 4\n"),
                 call("apply_patch", success("A src/retry.py", "M src/config.py"),
                      'MAX_RETRIES = int(os.environ.get("MAX_RETRIES", "5"))\n'
                      "def retry(fn):\n    return fn"),
                 sh("sed -i 's/3/5/' setup.cfg && pytest -q", "1 failed, 4 passed\n", 1)],
             ["setup.cfg", "src/config.py", "src/retry.py"],
             ["Made `MAX_RETRIES` read from the environment; `pytest -q` still fails."],
             skipped={"item 'future_item'": 1},
             refused=[("src/config.py", "apply_patch verification failed: Failed to find "
                                        "expected lines in src/config.py:")]),
        # An exit code from exec_command_end alone; then saved mid-turn: the last call has
        # no output, so it is no command record.
        turn(24, [sh("git diff --stat", " 2 files changed\n"), sh("git diff", None)], [], []),
    ]),
    "envelope-0.142.jsonl": (("019f0000-0000-7000-8000-000000000142", "D:\\app", "0.142.5"), [
        turn(2, [sh("Get-ChildItem -Name", "README.md\nsrc\n"),
                 sh("npm run lint", "> lint\nsrc/a.ts: 2 problems\n", 1),
                 call("apply_patch", success("A docs/status.md", "M src/new.ts", "D src/gone.ts"),
                      "# Status\nAll green.\nexport const a = 2"),
                 call("apply_patch", "apply_patch verification failed: Failed to find expected "
                                     "lines in D:\\app\\src\\missing.ts:\nold line"),
                 call("read_thread", "Thread: earlier lint work"),
                 call("github__create_issue", "Created issue #12"),
                 call("linear__list_issues", "[]"),
                 call("slack__post_message", "channel not found"),
                 call("web_search", "eslint flat config")],
             # Deleted files count too: patch_apply_end names them.
             spelled("D:\\app", "docs/status.md", "src/old.ts", "src/new.ts")
             + ["D:\\app\\src\\gone.ts", "D:/app/src/gone.ts", "src\\gone.ts", "src/gone.ts"],
             ["Lint still fails; filing an issue.", FINAL_142],
             [{"args": {"repo": "me/app", "title": "Lint fails"}}],
             refused=[("src/missing.ts", "apply_patch verification failed: Failed to find "
                                         "expected lines in D:\\app\\src\\missing.ts:")]),
        # The user refused the push: an event, but no command record.
        turn(33, [sh("git push", "exec command rejected by user", ran=False)], [],
             ["Checking the config.", "Two rules in `eslint.config.js` conflict."]),
    ]),
    "envelope-0.144.jsonl": (("019f4738-0000-7000-8000-000000000144", "D:\\app", "0.144.2"), [
        turn(2, [sh("npm run build", "built in 2s\n"), sh("npm test", "1 failed, 9 passed\n", 1),
                 sh("npm run e2e > e2e.log", ""),
                 call("apply_patch", success("A notes/e2e.md"), "e2e run started"),
                 {**call("execute_code", 'Script completed\nWall time: 0.0 seconds\n{"ok":true}'),
                  "command": "text(JSON.stringify({ ok: true }));\n"}],
             ["e2e.log", "D:\\app\\e2e.log", "D:/app/e2e.log", *spelled("D:\\app", "notes/e2e.md")],
             [FINAL_144],
             skipped={"event 'hook_started'": 1, "tool 'browser_navigate'": 1,
                      "item 'new_item_kind'": 1}),
    ]),
    # A compaction hand-off (tasks no prompt started) continues the turn; a patch held in a
    # variable; two commands' results in one text; a cell whose script failed.
    "compaction-0.144.jsonl": (("019f4800-0000-7000-8000-000000000144", "D:\\app", "0.144.2"), [
        turn(2, [call("apply_patch", success("M src/date.ts"), "parseISO(x)"),
                 sh("npm run lint", "lint ok\n"), sh("npm test", "1 failed, 4 passed\n", 1),
                 sh("npm run build", "Script failed\nWall time: 0.5 seconds\nOutput:\nScript "
                                     "error: Error: tsc not found\n    at cell:1:7", 1),
                 call("apply_patch", "patch rejected by user")],
             ["D:\\app\\src\\date.ts", "D:/app/src/date.ts", "src\\date.ts", "src/date.ts",
              "D:\\app\\src\\old_date.ts", "D:/app/src/old_date.ts", "src\\old_date.ts",
              "src/old_date.ts"],
             ["Switched `src/date.ts` to `parseISO`; `npm run lint` passes, `npm test` fails "
              "and `npm run build` could not run."],
             refused=[("docs/build.md", "patch rejected by user")]),
    ]),
    # The parent's copied history (CHANGELOG.md, its prompts) is not the subagent's turn.
    "fork-0.144.jsonl": (("019f5000-0000-7000-8000-00000000c41d", "D:\\app\\docs", "0.144.2"),
                         [CHILD_TURN]),
    "fork-items-only.jsonl": (("019f5000-0000-7000-8000-00000000c41d", "D:\\app\\docs", "0.144.2"),
                              [{**CHILD_TURN, "line": 7}]),
}


@pytest.mark.parametrize("name", EXPECTED)
def test_fixture_turns(name: str) -> None:
    (session, cwd, version), expected = EXPECTED[name]
    turns = list(codex.read(LogFile(FIXTURES / name)))
    assert [{"line": t.line, "run_log": t.run_log(), "messages": t.messages,
             "skipped": dict(t.skipped)} for t in turns] == expected
    assert (turns[-1].session, turns[-1].cwd, turns[-1].version) == (session, cwd, version)


def test_fixtures_cover_every_file() -> None:
    assert sorted(path.name for path in FIXTURES.iterdir()) == sorted(EXPECTED)


# The turn that edited the path, per shared sample.
EDITED = {SAMPLE: (0, "components/chat/chat-helpers/index.ts")}


@needs(TRAJECTORIES / "codex")
@pytest.mark.parametrize("path", samples("codex"), ids=lambda path: path.name)
def test_shared_sample_claims(path: Path) -> None:
    index, edited = EDITED[path.name]
    run_log = list(codex.read(LogFile(path)))[index].run_log()
    claims: list[Claim] = [
        {"kind": "file_changed", "text": f"Edited `{target}`", "targets": [target]}
        for target in (edited, "src/made_up_module.py")]
    assert [r.verdict for r in check_turn(run_log, claims)] == ["verified", "unverified"]


@needs(TRAJECTORIES / "codex" / SAMPLE)
def test_shared_sample_shape() -> None:
    turns = list(codex.read(LogFile(TRAJECTORIES / "codex" / SAMPLE)))
    run_log = turns[0].run_log()
    assert (len(turns), len(run_log["events"]), len(run_log["commands"])) == (1, 39, 35)
    assert [(c["command"], c["exit_code"]) for c in run_log["commands"] if c["exit_code"]] == [
        ("ls lib/ai", 2), ('rg -n "eventsource-parser" -n src -g"*.ts"', 2),
        ('rg -n "OLLAMA" -n', 1)]
    assert (turns[0].session, turns[0].version) == (SAMPLE_SESSION, "0.58.0")


# Auto-detection tries every reader, and read_turns extracts claims: both need the whole package.
WHOLE = pytest.mark.skipif(
    not all(importlib.util.find_spec(f"proofmark_core.{module}") for module in (
        "claims", *(f"logs.{agent.replace('-', '_')}" for agent in AGENTS))),
    reason="not every reader, or no claim extraction, on this branch")


@WHOLE
@pytest.mark.parametrize("path", [*FIXTURES.iterdir(), *samples("codex")], ids=lambda p: p.name)
def test_read_turns(path: Path) -> None:
    assert sniff(LogFile(path)) == "codex"
    turns = list(read_turns(path))
    assert turns and all(t.source["agent"] == "codex" for t in turns)


def _logs() -> list[Path]:
    return [*sorted(TRAJECTORIES.glob("*/*")), *FIXTURES.iterdir()] if TRAJECTORIES.is_dir() \
        else list(FIXTURES.iterdir())


@pytest.mark.parametrize("path", [p for p in _logs() if p.suffix != ".md"],
                         ids=lambda p: f"{p.parent.name}/{p.name}")
def test_recognises_only_codex(path: Path) -> None:
    assert codex.recognise(LogFile(path).sample()) == (path.parent.name == "codex")


def test_refuses_turn_records() -> None:
    assert not codex.recognise([{"run_log": {}, "claims": []}])


ENVELOPE = '{"timestamp":"t","type":"session_meta","payload":{"id":"s"}}\n'


@pytest.mark.parametrize(("text", "message"), [
    (ENVELOPE + '{"timestamp":"t","type":"event_msg","payl', "2: invalid JSON"),
    (ENVELOPE + '["not", "a", "line"]\n', "2: expected a JSON object, got an array"),
    (ENVELOPE + '{"timestamp":"t","type":"event_msg"}\n',
     "2: a rollout line needs a string 'type' and an object 'payload'"),
    ('{"type":"user","message":{}}\n', "1: not a Codex rollout: the first line is neither a "
                                       "session header nor a {timestamp, type, payload} line"),
])
def test_broken_rollouts(tmp_path: Path, text: str, message: str) -> None:
    path = tmp_path / "rollout.jsonl"
    path.write_text(text)
    with pytest.raises(LogError) as error:
        list(codex.read(LogFile(path)))
    assert str(error.value).startswith(f"{path}:{message}")
    assert "\n" not in str(error.value)


@pytest.mark.parametrize(("code", "calls"), [
    # Calls in comments and strings are not calls; a shorthand field is an expression.
    ('/* tools.a() */ const s = "tools.b()";\nawait tools.shell_command({command});',
     [("shell_command", [{"command": Expression("command")}])]),
    ("tools.shell_command({'command': 'echo \\'hi\\' \\u00e9\\\n!', timeout_ms: 5 * 60})",
     [("shell_command", [{"command": "echo 'hi' é!", "timeout_ms": Expression("5 * 60")}])]),
    ("tools.exec_command({cmd: [`bash`, '-lc', `ls ${dir}`], ...more}); tools.wait(",
     [("exec_command", [{"cmd": ["bash", "-lc", "ls ${dir}"]}]), ("wait", [])]),
    # Names bound to literals (String.raw keeps its backslashes); others stay expressions.
    ("const p = String.raw`*** Update File: app\\x.xml`; let n = f(1); var c = 'ls';\n"
     "tools.apply_patch(p); tools.shell_command({command: c, n});",
     [("apply_patch", ["*** Update File: app\\x.xml"]),
      ("shell_command", [{"command": "ls", "n": Expression("n")}])]),
])
def test_code_mode_calls(code: str, calls: list[tuple[str, list[object]]]) -> None:
    assert [(c.tool, c.args) for c in tool_calls(code)] == calls


@pytest.mark.parametrize(("command", "patch"), [
    (["apply_patch", "*** Begin Patch\n*** End Patch"], "*** Begin Patch\n*** End Patch"),
    (["bash", "-lc", "cd src && apply_patch <<'EOF'\n*** Begin Patch\n*** End Patch\nEOF"],
     "*** Begin Patch\n*** End Patch"),
    ("echo '*** Begin Patch' | grep apply_patch", None),
    (["git", "apply", "fix.patch"], None),
])
def test_patch_in_command(command: str | list[str], patch: str | None) -> None:
    assert patch_in_command(command) == patch


def test_patch_paths_and_added_lines() -> None:
    text = ("*** Begin Patch\n*** Delete File: old.txt\n*** Update File: a.py\n*** Move to: b.py\n"
            "@@\n-x = 1\n+x = 2\n keep\n*** Add File: a.py\n+new\n*** End Patch")
    assert parse_patch(text) == Patch(["a.py", "b.py"], "x = 2\nnew")


@pytest.mark.parametrize(("text", "result"), [
    ('{"output":"ok\\n","metadata":{"exit_code":2}}', ShellResult("ok\n", 2)),
    ("Exit code: 0\nWall time: 1 seconds\nOutput:\nExit code: 3\n",
     ShellResult("Exit code: 3\n", 0)),
    ("Chunk ID: 9\nWall time: 1 seconds\nProcess running with session ID 12\nOutput:\n",
     ShellResult("", None, "12")),
    ("Warning: truncated output (original token count: 9)\nProcess exited with code 137\n"
     "Output:\nx", ShellResult("x", 137)),
    ("aborted by the sandbox\nExit code: 1", ShellResult("aborted by the sandbox\nExit code: 1")),
])
def test_shell_results(text: str, result: ShellResult) -> None:
    assert shell_result(text) == result


def _places(value: object, path: tuple[object, ...] = ()) -> Iterator[tuple[object, ...]]:
    yield path
    children = value.items() if isinstance(value, dict) else enumerate(value) \
        if isinstance(value, list) else ()
    for key, child in children:
        yield from _places(child, (*path, key))


ODD_VALUES = st.one_of(st.none(), st.booleans(), st.integers(), st.text(max_size=30),
                       st.lists(st.text(max_size=5), max_size=2),
                       st.dictionaries(st.sampled_from(["text", "Ok", "Err", "output"]),
                                       st.text(max_size=5), max_size=2))


@settings(max_examples=300, deadline=None)
@given(st.data())
def test_odd_values_are_skipped_not_raised(data: st.DataObject) -> None:
    """Any value of any field of a rollout line may be of another type: still turns, or LogError."""
    name = data.draw(st.sampled_from(sorted(EXPECTED)))
    records = [json.loads(line) for line in (FIXTURES / name).read_text().splitlines()]
    places = [(index, place) for index, record in enumerate(records) if index
              for place in _places(record) if place]
    for index, place in data.draw(st.lists(st.sampled_from(places), min_size=1, max_size=4)):
        target: Any = records[index]
        try:  # an earlier change may have replaced the place's parent
            for key in place[:-1]:
                target = target[key]
            target[place[-1]] = data.draw(ODD_VALUES)
        except (KeyError, IndexError, TypeError):
            pass
    with tempfile.NamedTemporaryFile("w", suffix=".jsonl") as file:
        file.write("".join(json.dumps(record) + "\n" for record in records))
        file.flush()
        try:
            for turn in codex.read(LogFile(file.name)):
                json.dumps(turn.run_log())
        except LogError:
            pass


def _line(kind: str, payload: dict[str, object]) -> str:
    return json.dumps({"timestamp": "2026-03-04T10:00:00.000Z", "type": kind, "payload": payload})


def _event(kind: str, **payload: object) -> str:
    return _line("event_msg", {"type": kind, **payload})


def _shell(call_id: str, command: str) -> list[str]:
    return [_line("response_item", {"type": "function_call", "name": "shell_command",
                                    "call_id": call_id, "arguments": json.dumps({"command": command})}),
            _line("response_item", {"type": "function_call_output", "call_id": call_id,
                                    "output": "Exit code: 0\nWall time: 0.1 seconds\nOutput:\n"})]


@pytest.mark.parametrize(("lines", "commands"), [
    # a user message to a task under way is input to it: one turn, as the Stop hook reads it
    ([_event("task_started", turn_id="t1"), _event("user_message", message="Fix it"),
      *_shell("c1", "make"), _event("user_message", message="also run the tests"),
      *_shell("c2", "make test"), _event("task_complete", turn_id="t1", last_agent_message="Done.")],
     [["make", "make test"]]),
    # before any tool call too, once the task has its prompt
    ([_event("task_started", turn_id="t1"), _event("user_message", message="Fix it"),
      _event("user_message", message="in `src/` only"), *_shell("c1", "make"),
      _event("task_complete", turn_id="t1", last_agent_message="Done.")], [["make"]]),
    # a rollout that starts no tasks: every user message is a prompt
    ([_event("user_message", message="Fix it"), *_shell("c1", "make"),
      _event("user_message", message="Run the tests"), *_shell("c2", "make test")],
     [["make"], ["make test"]]),
    # after the task completed, a user message is the next prompt
    ([_event("task_started", turn_id="t1"), _event("user_message", message="Fix it"),
      *_shell("c1", "make"), _event("task_complete", turn_id="t1", last_agent_message="Done."),
      _event("user_message", message="Run the tests"), _event("task_started", turn_id="t2"),
      *_shell("c2", "make test"), _event("task_complete", turn_id="t2", last_agent_message="Ok.")],
     [["make"], ["make test"]]),
])
def test_user_messages_to_a_task_under_way(tmp_path: Path, lines: list[str],
                                           commands: list[list[str]]) -> None:
    meta = _line("session_meta", {"id": "s1", "cwd": "/w", "cli_version": "0.144.2"})
    path = tmp_path / "rollout.jsonl"
    path.write_text("\n".join([meta, *lines]) + "\n")
    turns = list(codex.read(LogFile(path)))
    assert [[call.command for call in turn.calls] for turn in turns] == commands
