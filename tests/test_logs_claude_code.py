"""The Claude Code reader: turns, RunLogs and messages of 1.0.x and 2.1.x sessions."""

import json
import shutil
from pathlib import Path

import pytest

from proofmark_core import check_turn
from proofmark_core import read_turns
from proofmark_core.logs import LogError
from proofmark_core.logs._file import LogFile
from proofmark_core.logs.claude_code import companion, last_turn, read, recognise
from shared_data import TRAJECTORIES, needs, samples

FIXTURES = Path(__file__).resolve().parent / "logs" / "claude-code"
V1 = FIXTURES / "1.0" / "3f1d6c2e-8a41-4b7e-9c55-0e2a7b9d4f10.jsonl"
V2 = FIXTURES / "2.1" / "8b2e4f90-1c3d-4e5f-a6b7-c8d9e0f1a2b3.jsonl"
SUBAGENTS = V2.with_suffix("") / "subagents"
REJECTED = ("The user doesn't want to proceed with this tool use. The tool use was rejected "
            "(eg. if it was a file edit, the new_string was NOT written to the file). STOP what "
            "you are doing and wait for the user to tell you how to proceed.")
BACKGROUND = ("Command running in background with ID: bash_1. Output is being written to: "
              "/tmp/claude/tasks/bash_1.output\n<status>completed</status>\n<exit_code>0</exit_code>"
              "\n<stdout>Compiled successfully</stdout>")


def ev(tool, output, command=None, payload=None, wrote=None):
    event = {"tool": tool, "wrote": payload is not None if wrote is None else wrote,
             "output": output}
    if event["wrote"]:
        event["payload"] = payload
    if command is not None:
        event["command"] = command
    return event


def cmd(command, exit_code, output):
    return {"command": command, "exit_code": exit_code, "output": output}


def log(events, commands=(), written=(), external=(), refused=()):
    run_log = {"events": events, "external": list(external), "written": list(written),
               "commands": list(commands)}
    if refused:
        run_log["refused"] = [{"path": path, "reason": why} for path, why in refused]
    return run_log


INTERRUPTED = "[Request interrupted by user for tool use]"
FAILED_TEST = "FAILED tests/test_fetch.py::test_retry - AssertionError\n1 failed, 4 passed"
BUILD_ERROR = "Exit code 2\nnpm ERR! src/app.ts: port is not a number"
# (line, messages, run_log) of every turn.
EXPECTED = {
    "1.0": (V1, "/repo", "1.0.98", [
        # Opened by /init: a turn of its own; the denied Write wrote nothing.
        (2, ["I'll look around first.",
             "I could not write `CLAUDE.md`: permission was not granted."],
         log([ev("terminal", "README.md\nfetch.py", "ls"),
              ev("Write", "Claude requested permissions to write to /repo/CLAUDE.md, but you "
                          "haven't granted it yet.")],
             [cmd("ls", 0, "README.md\nfetch.py")],
             refused=[("/repo/CLAUDE.md", "Claude requested permissions to write to "
                       "/repo/CLAUDE.md, but you haven't granted it yet.")])),
        # The inline sidechain's calls are the turn's; its closing text is not.
        (10, ["I'll hand the edit to a subagent.",
              "Added a retry loop to `fetch.py` and set `RETRIES = 3` in `config.py`; "
              "`pytest -q` passes."],
         log([ev("Task", "Done: `fetch.py` retries `RETRIES` times."),
              ev("read_file", "     1→def fetch(url):\n     2→    return get(url)"),
              ev("Edit", "The file /repo/fetch.py has been updated.",
                 payload="    for _ in range(RETRIES):\n        return get(url)"),
              ev("MultiEdit", "Applied 2 edits to /repo/config.py",
                 payload="RETRIES = 3\nDELAY = 1.5"),
              ev("Edit", "<tool_use_error>File has not been read yet. Read it first before "
                         "writing to it.</tool_use_error>"),
              ev("search_files", "/repo/config.py:1:RETRIES = 3"),
              ev("terminal", FAILED_TEST, "pytest -q"),
              ev("terminal", REJECTED, "rm -rf build > build.log"),
              ev("terminal", INTERRUPTED, "npm run e2e")],
             [cmd("pytest -q", 1, FAILED_TEST), cmd("npm run e2e", "interrupted", INTERRUPTED)],
             ["/repo/fetch.py", "/repo/config.py"],
             refused=[("/repo/setup.py", "File has not been read yet. Read it first before "
                       "writing to it.")])),
        (36, ["You're welcome."], log([])),
    ]),
    "2.1": (V2, "/work/app", "2.1.38", [
        # Split records; agent a1b2c3d from its file (not its agent_progress copy),
        # b4c5d6e from agent_progress; the Stop hook feedback continues the turn.
        (3, ["Let me run the build.",
             "Fixed `src/app.ts`: `npm run build` passes and I told `#dev`.",
             "Correction: `npm test` was interrupted; the build passes."],
         log([ev("terminal", BUILD_ERROR, "npm run build"),
              ev("search_files", "/work/app/src/app.ts"),
              ev("Edit", "The file /work/app/src/app.ts has been updated.",
                 payload="const port = 8080;"),
              ev("Task", "`port` is used once, in `src/app.ts`.\nagentId: a1b2c3d (for resuming "
                         "to continue this agent's work if needed)"),
              ev("read_file", "     1→const port = 8080;"),
              ev("search_files", "src/app.ts:1:const port = 8080;"),
              ev("Task", "Only `src/app.ts` changed."),
              ev("terminal", " M src/app.ts", "git status --short"),
              ev("terminal", BACKGROUND, "npm run build"),
              ev("BashOutput", BACKGROUND.split("\n", 1)[1]),
              ev("mcp__slack__post_message", '{"ok": true}'),
              ev("mcp__github__get_issue", "Issue 7: build broken since the port change"),
              ev("terminal", "PASS src/app.test.ts", "npm test"),
              ev("read_file", "<tool_use_error>Sibling tool call errored</tool_use_error>")],
             [cmd("npm run build", 2, BUILD_ERROR),
              cmd("git status --short", 0, " M src/app.ts"),
              cmd("npm run build", 0, BACKGROUND),
              cmd("npm test", "interrupted", "PASS src/app.test.ts")],
             ["/work/app/src/app.ts"],
             [{"args": {"channel": "#dev", "text": "Build fixed: port is 8080"}}])),
        # A prompt with an image; a rejected MCP call is no external action; agent
        # a9f8e7d, named by no result, started in this turn.
        (44, ["Wrote `NOTES.md`."],
         log([ev("Write", "File created successfully at: /work/app/NOTES.md",
                 payload="# 1.2.0\n- Port is 8080\n"),
              ev("mcp__linear__create_issue", REJECTED),
              ev("terminal", "", "cp NOTES.md NOTES.md.bak")],
             [cmd("cp NOTES.md NOTES.md.bak", 0, "")],
             ["/work/app/NOTES.md"])),
    ]),
}


@pytest.mark.parametrize("version", EXPECTED)
def test_turns_of_each_version(version):
    path, cwd, agent_version, expected = EXPECTED[version]
    turns = list(read(LogFile(path)))
    assert [(turn.line, turn.messages, turn.run_log()) for turn in turns] == expected
    assert {(turn.session, turn.cwd, turn.version) for turn in turns} == \
        {(path.stem, cwd, agent_version)}


def test_skipped_kinds_are_counted():
    first = next(read(LogFile(V2)))
    assert first.skipped == {"content block 'server_tool_use'": 1,
                             "record type 'custom-title'": 1}


@pytest.mark.parametrize("name, messages, events", [
    ("agent-a1b2c3d.jsonl", ["Looking.", "`port` is used once, in `src/app.ts`."],
     ["read_file", "search_files"]),
    # A compaction file: its request is the prompt, its summary the reply.
    ("agent-acompact-5e6f7a.jsonl", ["<summary>The port was fixed in `src/app.ts`.</summary>"],
     []),
])
def test_subagent_file_read_on_its_own(name, messages, events):
    [turn] = read(LogFile(SUBAGENTS / name))
    assert (turn.messages, [call.tool for call in turn.calls]) == (messages, events)


def test_a_lone_compaction_file_of_a_continued_session_is_one_turn(tmp_path):
    # Its first user message is the summary that continued the session: still the prompt.
    lines = (SUBAGENTS / "agent-acompact-5e6f7a.jsonl").read_text().splitlines()
    lines[0] = lines[0].replace("Your task is", "This session is being continued from a "
                                "previous conversation. Your task is")
    alone = tmp_path / "agent-acompact-5e6f7a.jsonl"
    alone.write_text("\n".join(lines) + "\n")
    [turn] = read_turns(alone)
    assert turn.claims and turn.source["session"] == "8b2e4f90-1c3d-4e5f-a6b7-c8d9e0f1a2b3"


def test_subagent_files_are_companions_only_beside_their_session(tmp_path):
    alone = tmp_path / "subagents" / "agent-a1b2c3d.jsonl"
    alone.parent.mkdir()
    shutil.copy(SUBAGENTS / "agent-a1b2c3d.jsonl", alone)
    assert [companion(path) for path in (SUBAGENTS / "agent-a1b2c3d.jsonl",
                                         SUBAGENTS / "agent-acompact-5e6f7a.jsonl",
                                         V2, alone)] == [True, True, False, False]


@pytest.mark.parametrize("path", [V1, V2], ids=["1.0", "2.1"])
def test_last_turn_is_the_last_of_the_session(path, tmp_path):
    *_, expected = read(LogFile(path))
    # Written as it runs: a cut line at the end is left out; a broken line before the
    # last prompt is never read.
    copy = tmp_path / path.name
    lines = path.read_bytes().splitlines(keepends=True)
    copy.write_bytes(b"".join(lines[:5]) + b"{broken\n" + b"".join(lines[5:]) + b'{"type":"us')
    if path.with_suffix("").is_dir():
        shutil.copytree(path.with_suffix(""), copy.with_suffix(""))
    turn = last_turn(copy)
    assert (turn.line, turn.messages, turn.run_log()) == \
        (expected.line + 1, expected.messages, expected.run_log())


def test_last_turn_of_an_empty_file(tmp_path):
    (tmp_path / "empty.jsonl").write_bytes(b"")
    assert last_turn(tmp_path / "empty.jsonl") is None


@pytest.mark.parametrize("lines, message", [
    ([b'{"type":"user","message":{"role":"user","content":"hi"}}', b'{"type":"user","mess'],
     "2: invalid JSON at column"),
    ([b'{"type":"user","message":{"role":"user","content":"hi"}}', b'[1, 2]'],
     "2: expected a JSON object, got a list"),
    ([b'{"type":"user","message":{"role":"user","content":"hi"}}', b'{"type":"assistant"}'],
     "2: assistant record without a message object"),
    ([b'{"type":"assistant","message":{"content":[1]}}'],
     "1: content block is a number, not an object"),
])
def test_broken_sessions_name_file_and_line(lines, message, tmp_path):
    path = tmp_path / "broken.jsonl"
    path.write_bytes(b"\n".join(lines) + b"\n")
    with pytest.raises(LogError) as raised:
        list(read(LogFile(path)))
    assert str(raised.value).startswith(f"{path}:{message}")


@needs(TRAJECTORIES)
@pytest.mark.parametrize("path", sorted(
    path for path in TRAJECTORIES.glob("*/*") if path.name != "FORMATS.md"),
    ids=lambda path: f"{path.parent.name}/{path.name}")
def test_recognised_from_content_alone(path):
    assert recognise(LogFile(path).sample()) == (path.parent.name == "claude-code")


def test_recognises_the_fixtures():
    assert all(recognise(LogFile(path).sample()) for path in FIXTURES.rglob("*.jsonl"))


# (sample, turn, a path the agent really edited, or a command it ran)
SHARED_CLAIMS = [
    ("fe5e1c67-53e7-4862-81ae-d0e013e3270b.jsonl", 0, "file_changed",
     "/path/to/Demo/components/TodoItem.tsx"),
    ("fe5e1c67-53e7-4862-81ae-d0e013e3270b.jsonl", 1, "file_changed", "/path/to/Demo/CLAUDE.md"),
    ("subagent.jsonl", 0, "file_changed", "/home/marco/projects/spotter/plan.md"),
    ("1af7fc5e-8455-4414-9ccd-011d40f70b2a.jsonl", 0, "command_ran", "ls -la"),
    ("agent-a2898e3.jsonl", 0, "command_ran",
     "ls -la /home/USER/projects/spotter-worktrees/spotter-dov/assets/"),
    ("tool_heavy.jsonl", 0, "command_ran", "mix phx.server"),
    ("short.jsonl", 0, None, None),
    ("069508a5-1193-487c-a9b5-a6f5f3ae4f98.jsonl", 0, "command_ran", "nvidia-smi"),
    ("0a725fb5-6378-432a-9e84-9f3f49d4043d.jsonl", 6, "file_changed",
     "/home/kenth56/vsla/docs/papers/src/paper-status.md"),
    ("258c7280-ae70-4798-800f-63464d01a85d.jsonl", 0, "file_changed",
     "lib/spotter/transcripts/annotation.ex"),
    ("2cba43de-c8d2-4a69-add8-9fae3ad93900.jsonl", 3, "file_changed", "STATUS.md"),
    ("f67ab274-e83b-41ac-ac85-77488d6b5c28.jsonl", 16, "file_changed",
     "/home/kenth56/vsla/STATUS.md"),
]
# The turns of each sample: a background command's notice and a compaction continue a turn.
SHARED_TURNS = {
    "069508a5-1193-487c-a9b5-a6f5f3ae4f98.jsonl": 3,
    "0a725fb5-6378-432a-9e84-9f3f49d4043d.jsonl": 7,
    "1af7fc5e-8455-4414-9ccd-011d40f70b2a.jsonl": 1,
    "258c7280-ae70-4798-800f-63464d01a85d.jsonl": 2,
    "2cba43de-c8d2-4a69-add8-9fae3ad93900.jsonl": 4,
    "agent-a2898e3.jsonl": 1,
    "f67ab274-e83b-41ac-ac85-77488d6b5c28.jsonl": 17,
    "fe5e1c67-53e7-4862-81ae-d0e013e3270b.jsonl": 2,
    "short.jsonl": 1, "subagent.jsonl": 2, "tool_heavy.jsonl": 2,
}


@needs(TRAJECTORIES)
@pytest.mark.parametrize("name, index, kind, target", SHARED_CLAIMS)
def test_shared_sample_claims(name, index, kind, target):
    turns = list(read_turns(TRAJECTORIES / "claude-code" / name))
    assert {turn.source["agent"] for turn in turns} == {"claude-code"}
    run_log = turns[index].run_log
    made_up = {"kind": "file_changed", "text": "Edited `src/made_up.py`",
               "targets": ["src/made_up.py"]}
    claims = [made_up] if kind is None else \
        [{"kind": kind, "text": f"Did `{target}`", "targets": [target]}, made_up]
    assert [result.verdict for result in check_turn(run_log, claims)] == \
        ["verified"] * (kind is not None) + ["unverified"]


@needs(TRAJECTORIES)
@pytest.mark.parametrize("name, count", SHARED_TURNS.items())
def test_shared_sample_turns(name, count):
    assert len(list(read_turns(TRAJECTORIES / "claude-code" / name))) == count


def test_every_shared_sample_is_in_the_table():
    names = {path.name for path in samples("claude-code")}
    assert names <= {name for name, *_ in SHARED_CLAIMS} and names <= set(SHARED_TURNS)


def test_a_background_command_notice_continues_the_turn_and_gives_the_exit_code(tmp_path):
    def record(kind, content, **extra):
        return json.dumps({"type": kind, "sessionId": "s1", "uuid": f"u{len(lines)}",
                           "isSidechain": False, "cwd": "/w", "timestamp": f"t{len(lines)}",
                           "message": {"role": kind, "content": content}, **extra})
    lines: list[str] = []
    for kind, content, extra in [
            ("user", "Run the tests", {}),
            ("assistant", [{"type": "tool_use", "id": "b1", "name": "Bash",
                            "input": {"command": "mix test", "run_in_background": True}}], {}),
            ("user", [{"type": "tool_result", "tool_use_id": "b1", "content":
                       "Command running in background with ID: bd0afab."}],
             {"toolUseResult": {"backgroundTaskId": "bd0afab"}}),
            ("assistant", [{"type": "text", "text": "Started."}], {}),
            ("user", "<task-notification>\n<task-id>bd0afab</task-id>\n<status>failed</status>\n"
                     "<summary>Background command \"mix test\" failed (exit code 2)</summary>\n"
                     "</task-notification>", {}),
            ("assistant", [{"type": "text", "text": "`mix test` failed."}], {})]:
        lines.append(record(kind, content, **extra))
    path = tmp_path / "s1.jsonl"
    path.write_text("\n".join(lines) + "\n")
    [turn] = read(LogFile(path))
    assert turn.messages == ["Started.", "`mix test` failed."]
    assert [(c["command"], c["exit_code"]) for c in turn.run_log()["commands"]] == \
        [("mix test", 2)]
