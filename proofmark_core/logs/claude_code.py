"""Claude Code sessions: ``~/.claude/projects/<project>/<session-uuid>.jsonl``, 1.0.x and 2.x.

One record per line. ``assistant`` records hold one content block each (text, thinking
or a ``tool_use``), several of them sharing one API message; ``user`` records hold the
prompts and the ``tool_result`` blocks. Records are taken in line order: the work of an
abandoned branch (a prompt edited and sent again) really ran, so it stays in its turn.

A turn starts at a real prompt. Slash commands and their output, meta records, the
"[Request interrupted by user]" notices, Stop hook feedback and the summary that
continues a compacted session are not prompts. What comes before the first prompt (a
session opened with ``/init``) is a turn of its own when it holds any work.

A subagent's work is the work of the turn that started it, and its prose is never the
turn's message. 1.0.x writes it into the session as ``isSidechain`` records; 2.1.x into
``<session-uuid>/subagents/agent-<id>.jsonl`` beside the session file, and a copy into
``agent_progress`` records (used when the file is not there). A subagent file joins the
turn whose tool result names its agent id, else the turn during which it started; read
on its own, it is a session of its own (what precedes its first prompt, a turn of its
own too). ``agent-acompact-*`` files hold a compaction request and summary: in a session they
add nothing; read on their own, the request is the prompt and the summary the reply.

Bash exit codes: success records none, so it is 0; a failure starts with ``Exit code N``
in 2.x, and is taken as 1 when it does not (1.0.x gives only the error text); a command
the user interrupted gets "interrupted"; one started in the background gets its code
from the ``BashOutput`` (2.1.39: ``TaskOutput``) call that polls it, or from the
``<task-notification>`` Claude Code sends when it ends (a notice that continues the
turn, not a prompt). A call the user rejected, or that never started (permission not
granted, a tool error before it ran), is no command, and a write or edit whose result is
an error wrote nothing: the RunLog names it as refused, with the error's first line.
"""

from __future__ import annotations

import json
import mmap
import os
import re
from collections.abc import Iterable, Iterator
from dataclasses import dataclass
from pathlib import Path
from typing import TYPE_CHECKING, Any

from proofmark_core.logs._file import LogFile
from proofmark_core.records.files import open_path
from proofmark_core.logs._runlog import Call, TurnLog
from proofmark_core.logs._shell import command_text
from proofmark_core.logs._tail import line_number, lines_from
from proofmark_core.records.values import as_text

if TYPE_CHECKING:
    from proofmark_core.verify import ExternalAction

NAME = "claude-code"

CONVERSATION = frozenset({"user", "assistant"})
# Records that hold nothing of a turn's work or prose.
QUIET_TYPES = frozenset({"system", "summary", "file-history-snapshot", "queue-operation"})
QUIET_BLOCKS = frozenset({"thinking", "redacted_thinking"})
READ_TOOLS = frozenset({"Read", "NotebookRead"})
SEARCH_TOOLS = frozenset({"Grep", "Glob", "LS"})
WRITE_TOOLS = frozenset({"Write", "Edit", "MultiEdit", "NotebookEdit"})
SUBAGENT_TOOLS = frozenset({"Task", "Agent"})
NOT_PROMPT_RE = re.compile(
    r"\s*(?:<(?:command-name|command-message|command-args|local-command-\w+|bash-\w+"
    r"|user-memory-input|task-notification)>|\[Request interrupted by user|Stop hook feedback:"
    r"|This session is being continued from a previous conversation)")
NEVER_RAN_RE = re.compile(r"The user doesn't want to (?:proceed|take this action)"
                          r"|<tool_use_error>|requested permissions to")
REJECTED = "User rejected tool use"
INTERRUPTED = "[Request interrupted by user"
EXIT_CODE_RE = re.compile(r"Exit code (-?\d+)")
# The tools that poll a background command, and the argument naming it.
POLL_TOOLS = {"BashOutput": "bash_id", "TaskOutput": "task_id"}
POLLED_EXIT_RE = re.compile(r"<exit_code>(-?\d+)</exit_code>|\(exit code (-?\d+)\)")
# Claude Code's own notice, as a user message, that a background command ended.
NOTIFICATION_RE = re.compile(r"\s*<task-notification>\s*<task-id>(\w+)</task-id>")
BACKGROUND_RE = re.compile(r"running in background with ID: (\w+)")
AGENT_ID_RE = re.compile(r"agentId: (\w+)")
COMPACTION_AGENT = "acompact"
# An MCP tool is an action outside the workspace unless its name only reads.
MCP_WORD_RE = re.compile(r"[A-Z]?[a-z]+|[A-Z]+(?![a-z])")
MCP_READ_WORDS = frozenset({
    "get", "list", "search", "read", "fetch", "query", "find", "view", "show", "describe",
    "lookup", "browse", "count", "resolve", "retrieve", "inspect", "status", "snapshot"})
MCP_WRITE_WORDS = frozenset({
    "create", "post", "send", "update", "delete", "write", "add", "remove", "set", "put",
    "edit", "push", "merge", "comment", "close", "run", "execute", "exec", "eval", "upload",
    "move", "rename", "assign", "publish", "reply", "react", "approve", "archive", "insert",
    "upsert", "patch"})


def recognise(sample: list[object]) -> bool:
    return bool(sample) and all(isinstance(record, dict) for record in sample) \
        and any(_claude_record(record) for record in sample if isinstance(record, dict))


def _claude_record(record: dict[str, Any]) -> bool:
    kind = record.get("type")
    if kind in ("user", "assistant", "system", "progress"):
        return "sessionId" in record and "uuid" in record
    if kind == "summary":
        return "leafUuid" in record
    if kind == "file-history-snapshot":
        return "snapshot" in record
    return kind == "queue-operation" and "sessionId" in record


def companion(path: Path) -> bool:
    """A subagent file beside its session file is read as part of that session."""
    return path.parent.name == "subagents" and path.name.startswith("agent-") \
        and _session_of(path).is_file()


def _session_of(agent_file: Path) -> Path:
    folder = agent_file.parent.parent
    return folder.with_name(folder.name + ".jsonl")


def read(log: LogFile) -> Iterator[TurnLog]:
    yield from _Session(log, log.records()).turns()


def last_turn(path: str | Path) -> TurnLog | None:
    """The last turn of a session, read from its last prompt on.

    The file is searched backwards for the prompt, so a long session costs only its last
    turn. The session may still be being written: a last line cut short is left out.
    """
    log = LogFile(path)
    with open_path(path) as stream:
        if not os.fstat(stream.fileno()).st_size:
            return None
        with mmap.mmap(stream.fileno(), 0, access=mmap.ACCESS_READ) as data:
            side = _file_is_subagent(data)
            start = _last_prompt(data, side)
            line = line_number(data, start)
            turn = None
            for turn in _Session(log, lines_from(log, data, start, line)).turns():
                pass
            return turn


@dataclass(slots=True)
class _Pending:
    """A tool call waiting for its result."""

    call: Call
    name: str
    args: dict[str, Any]
    # The external action it made, for an MCP tool that does more than read.
    action: ExternalAction | None = None


class _Session:
    """Turns assembled from the records of one session file (and its subagent files)."""

    def __init__(self, log: LogFile, records: Iterable[tuple[int | None, object]]) -> None:
        self.log = log
        self.records = records
        self.turn = TurnLog()
        self.prompted = False
        # Whether this file's own chain is the sidechain: a subagent file read on its own.
        self.side: bool | None = None
        self.pending: dict[str, _Pending] = {}
        self.seen_calls: set[str] = set()
        self.background: dict[str, Call] = {}
        self.agent_files = _agent_files(log.path)
        self.agent_starts: dict[str, str] | None = None
        self.merged: set[str] = set()

    def turns(self) -> Iterator[TurnLog]:
        for line, record in self.records:
            if not isinstance(record, dict):
                raise self.log.error(f"expected a JSON object, got {_type_name(record)}", line)
            if self.side is None and record.get("type") in CONVERSATION:
                self.side = record.get("isSidechain") is True
            if not self.side and str(record.get("agentId", "")).startswith(COMPACTION_AGENT):
                continue
            main = (record.get("isSidechain") is True) == self.side
            if main and _is_prompt(record):
                finished = self._begin(line, record)
                if finished is not None:
                    yield finished
            else:
                self._take(self.log, line, record, main)
        self._merge_agents_started_before(None)
        if self.prompted or _has_work(self.turn):
            yield self.turn

    def _begin(self, line: int | None, prompt: dict[str, Any]) -> TurnLog | None:
        """Start the turn of a prompt; the turn it ends, unless that is an empty preamble."""
        timestamp = prompt.get("timestamp")
        if isinstance(timestamp, str):
            self._merge_agents_started_before(timestamp)
        finished = self.turn if self.prompted or _has_work(self.turn) else None
        self.turn = TurnLog()
        self.prompted = True
        self.pending.clear()
        self.background.clear()
        self._stamp(line, prompt)
        return finished

    def _stamp(self, line: int | None, record: dict[str, Any]) -> None:
        turn = self.turn
        if turn.line is None:
            turn.line = line
            turn.cwd = as_text(record.get("cwd"))
        turn.session = turn.session or as_text(record.get("sessionId"))
        turn.version = turn.version or as_text(record.get("version"))

    def _take(self, log: LogFile, line: int | None, record: dict[str, Any], main: bool) -> None:
        kind = record.get("type")
        if main and kind in CONVERSATION:
            self._stamp(line, record)
        if kind == "assistant":
            self._assistant(log, line, record, main)
        elif kind == "user":
            for block in _blocks(log, line, record):
                if block.get("type") == "tool_result":
                    self._result(block, record)
                elif block.get("type") == "text" and (
                        notice := NOTIFICATION_RE.match(text := as_text(block.get("text")) or "")):
                    self._polled(notice.group(1), text, None)
        elif kind == "progress":
            self._progress(log, line, record)
        elif kind not in QUIET_TYPES:
            self.turn.skip(f"record type {kind!r}")

    def _assistant(self, log: LogFile, line: int | None, record: dict[str, Any],
                   main: bool) -> None:
        message = record.get("message")
        if record.get("isApiErrorMessage") is True or \
                isinstance(message, dict) and message.get("model") == "<synthetic>":
            return  # written by Claude Code itself, not the model
        for block in _blocks(log, line, record):
            kind = block.get("type")
            if kind == "text":
                if main:
                    self.turn.say(as_text(block.get("text")) or "", line)
            elif kind == "tool_use":
                self._call(block)
            elif kind not in QUIET_BLOCKS:
                self.turn.skip(f"content block {kind!r}")

    def _call(self, block: dict[str, Any]) -> None:
        call_id = as_text(block.get("id")) or ""
        if call_id in self.seen_calls:
            return  # the same call recorded twice
        self.seen_calls.add(call_id)
        name = as_text(block.get("name")) or "?"
        args = block.get("input")
        args = args if isinstance(args, dict) else {}
        self.pending[call_id] = _open_call(self.turn, name, args)

    def _result(self, block: dict[str, Any], record: dict[str, Any]) -> None:
        call_id = as_text(block.get("tool_use_id")) or ""
        pending = self.pending.pop(call_id, None)
        if pending is None:
            if call_id not in self.seen_calls:
                self.turn.skip("tool result without its call")
            return
        text = _content_text(block.get("content"))
        failed = block.get("is_error") is True
        outcome = record.get("toolUseResult")
        call = pending.call
        if failed and (call.wrote or pending.action is not None or NEVER_RAN_RE.search(text)
                       or outcome == REJECTED):
            self._undo(pending, text)
            call.rejected(text)
        elif call.shell:
            call.result(text, _exit_code(text, failed, outcome))
            if (task := _background_id(text, outcome)) is not None:
                call.exit_code = None  # still running; a poll may tell how it ended
                self.background[task] = call
        else:
            call.result(text)
        if pending.name in POLL_TOOLS and not call.refused:
            self._polled(pending.args.get(POLL_TOOLS[pending.name]), text, outcome)
        if pending.name in SUBAGENT_TOOLS and (agent := _agent_id(text, outcome)) is not None:
            self._merge_agent(agent)

    def _undo(self, pending: _Pending, text: str) -> None:
        """The call never ran, or failed to write or act: it did nothing."""
        if pending.call.wrote:
            self.turn.refuse(pending.call, _write_path(pending.args), text)
        if pending.action is not None:
            self.turn.external.remove(pending.action)

    def _polled(self, task: object, text: str, outcome: object) -> None:
        command = self.background.get(str(task))
        if command is None:
            return
        command.output = f"{command.output}\n{text}" if command.output else text
        code = outcome.get("exitCode") if isinstance(outcome, dict) else None
        if not isinstance(code, int) and (found := POLLED_EXIT_RE.search(text)):
            code = int(found.group(1) or found.group(2))
        if isinstance(code, int):
            command.exit_code = code

    def _progress(self, log: LogFile, line: int | None, record: dict[str, Any]) -> None:
        data = record.get("data")
        if not isinstance(data, dict) or data.get("type") != "agent_progress":
            return
        message = data.get("message")
        # When the subagent's own file is there, it is merged whole at its result.
        if isinstance(message, dict) and str(data.get("agentId")) not in self.agent_files:
            self._take(log, line, message, main=False)

    def _merge_agent(self, agent: str) -> None:
        path = self.agent_files.get(agent)
        if path is None or agent in self.merged:
            return
        self.merged.add(agent)
        sub = LogFile(path)
        for line, record in sub.records():
            if not isinstance(record, dict):
                raise sub.error(f"expected a JSON object, got {_type_name(record)}", line)
            self._take(sub, line, record, main=False)

    def _merge_agents_started_before(self, timestamp: str | None) -> None:
        """Subagent files no tool result named join the turn during which they started.

        Those that started before the first record read belong to turns not read.
        """
        if self.agent_starts is None:
            self.agent_starts = {agent: start for agent, path in self.agent_files.items()
                                 if (start := _first_timestamp(path)) is not None}
        started = self.turn.line is not None or self.prompted
        unnamed = sorted((start, agent) for agent, start in self.agent_starts.items()
                         if agent not in self.merged
                         and (timestamp is None or start < timestamp))
        for _, agent in unnamed:
            if started:
                self._merge_agent(agent)
            else:
                self.merged.add(agent)


def _open_call(turn: TurnLog, name: str, args: dict[str, Any]) -> _Pending:
    """The call a tool_use makes."""
    if name == "Bash":
        return _Pending(turn.shell(command_text(as_text(args.get("command")) or "")), name, args)
    if name in READ_TOOLS:
        return _Pending(turn.read(), name, args)
    if name in SEARCH_TOOLS:
        return _Pending(turn.search(), name, args)
    if name in WRITE_TOOLS:
        return _Pending(turn.write(name, _write_path(args), _written_text(name, args)), name, args)
    if name.startswith("mcp__") and not _reads_only(name):
        call = turn.act(name, args)
        return _Pending(call, name, args, turn.external[-1])
    return _Pending(turn.other(name), name, args)


def _write_path(args: dict[str, Any]) -> str | None:
    return as_text(args.get("file_path") or args.get("notebook_path"))


def _written_text(name: str, args: dict[str, Any]) -> str | None:
    if name == "Write":
        return as_text(args.get("content"))
    if name == "Edit":
        return as_text(args.get("new_string"))
    if name == "NotebookEdit":
        return as_text(args.get("new_source"))
    edits = args.get("edits")
    if not isinstance(edits, list):
        return None
    return "\n".join(text for edit in edits if isinstance(edit, dict)
                     and (text := as_text(edit.get("new_string"))) is not None)


def _reads_only(name: str) -> bool:
    """Whether an MCP tool's name (``mcp__server__tool``) says it only reads."""
    words = {word.lower() for word in MCP_WORD_RE.findall(name.split("__", 2)[-1])}
    return bool(words & MCP_READ_WORDS) and not words & MCP_WRITE_WORDS


def _exit_code(text: str, failed: bool, outcome: object) -> int | str:
    if isinstance(outcome, dict) and outcome.get("interrupted") is True \
            or text.startswith(INTERRUPTED):
        return "interrupted"
    if not failed:
        return 0
    found = EXIT_CODE_RE.match(text)
    return int(found.group(1)) if found else 1


def _background_id(text: str, outcome: object) -> str | None:
    if isinstance(outcome, dict) and isinstance(task := outcome.get("backgroundTaskId"), str):
        return task
    found = BACKGROUND_RE.search(text)
    return found.group(1) if found else None


def _agent_id(text: str, outcome: object) -> str | None:
    if isinstance(outcome, dict) and isinstance(agent := outcome.get("agentId"), str):
        return agent
    found = AGENT_ID_RE.search(text)
    return found.group(1) if found else None


def _is_prompt(record: dict[str, Any]) -> bool:
    """A user record holding something the user typed (text or an image), not a tool result."""
    if record.get("type") != "user" or record.get("isMeta") is True \
            or record.get("isCompactSummary") is True \
            or record.get("isVisibleInTranscriptOnly") is True:
        return False
    message = record.get("message")
    content = message.get("content") if isinstance(message, dict) else None
    if isinstance(content, str):
        text = content
    elif isinstance(content, list):
        kinds = {block.get("type") for block in content if isinstance(block, dict)}
        if "tool_result" in kinds or not kinds & {"text", "image"}:
            return False
        text = "\n".join(block.get("text", "") for block in content
                         if isinstance(block, dict) and block.get("type") == "text"
                         and isinstance(block.get("text"), str))
        if not text.strip():
            return "image" in kinds
    else:
        return False
    return bool(text.strip()) and not NOT_PROMPT_RE.match(text)


def _blocks(log: LogFile, line: int | None, record: dict[str, Any]) -> list[dict[str, Any]]:
    """The content blocks of a user or assistant record; a plain string is one text block."""
    message = record.get("message")
    if not isinstance(message, dict):
        raise log.error(f"{record.get('type')} record without a message object", line)
    content = message.get("content")
    if isinstance(content, str):
        return [{"type": "text", "text": content}]
    if not isinstance(content, list):
        raise log.error("message content is neither a string nor a list", line)
    for block in content:
        if not isinstance(block, dict):
            raise log.error(f"content block is {_type_name(block)}, not an object", line)
    return content


def _content_text(content: object) -> str:
    """A tool result's text: a string, or its text blocks joined."""
    if isinstance(content, str):
        return content
    if isinstance(content, list):
        return "\n".join(block["text"] for block in content if isinstance(block, dict)
                         and isinstance(block.get("text"), str))
    return ""


def _agent_files(session: Path) -> dict[str, Path]:
    """The subagent files of a session, by agent id (compaction requests left out)."""
    folder = session.with_suffix("") / "subagents"
    if session.parent.name == "subagents" or not folder.is_dir():
        return {}
    return {path.name[len("agent-"):-len(".jsonl")]: path
            for path in sorted(folder.glob("agent-*.jsonl"))
            if not path.name.startswith(f"agent-{COMPACTION_AGENT}")}


def _first_timestamp(path: Path) -> str | None:
    with open_path(path) as stream:
        for raw in stream:
            try:
                record = json.loads(raw)
            except ValueError:
                return None
            if isinstance(record, dict) and isinstance(stamp := record.get("timestamp"), str):
                return stamp
    return None


def _has_work(turn: TurnLog) -> bool:
    return bool(turn.calls or turn.messages)


def _type_name(value: object) -> str:
    return {dict: "an object", list: "a list", str: "a string", bool: "a boolean",
            type(None): "null"}.get(type(value), "a number")


# Reading the last turn only: a backwards search for its prompt.

def _file_is_subagent(data: mmap.mmap) -> bool:
    """Whether the file's own chain is the sidechain (a subagent file)."""
    start = 0
    while start < len(data):
        end = data.find(b"\n", start)
        end = len(data) if end < 0 else end
        if data.find(b'"isSidechain"', start, end) >= 0:
            try:
                record = json.loads(data[start:end])
            except ValueError:
                return False
            if isinstance(record, dict) and record.get("type") in CONVERSATION:
                return record.get("isSidechain") is True
        start = end + 1
    return False


def _last_prompt(data: mmap.mmap, side: bool) -> int:
    """Where the line of the last prompt starts (0 when there is none)."""
    end = len(data)
    while end > 0:
        start = data.rfind(b"\n", 0, end - 1) + 1
        if _may_be_prompt(data, start, end):
            try:
                record = json.loads(data[start:end])
            except ValueError:
                record = None  # the line being written
            if isinstance(record, dict) and (record.get("isSidechain") is True) == side \
                    and _is_prompt(record):
                return start
        end = start
    return 0


def _may_be_prompt(data: mmap.mmap, start: int, end: int) -> bool:
    # Every tool result names its call; a prompt that quotes "tool_use_id" is missed,
    # which only makes the turn reach back to the prompt before it.
    return (data.find(b'"type":"user"', start, end) >= 0
            or data.find(b'"type": "user"', start, end) >= 0) \
        and data.find(b'"tool_use_id"', start, end) < 0
