"""OpenHands logs: V0 event lists and evaluation records, and V1 conversations.

Three shapes are read, told apart event by event:

- V0 (2025): a JSON list of events (the trajectory export), or evaluation records
  (one per JSONL line, or one JSON document) whose ``history`` is such a list. An
  event has ``action`` + ``args``, or ``observation`` + ``content`` + ``extras`` and the
  ``cause`` that names its action's ``id``.
- Flat V0 (2024, resolver output): records whose ``history`` items hold the action's
  fields at top level and no ids; an observation answers the oldest action still open.
- V1 (software-agent-sdk): one event per file of a conversation folder, or one per
  JSONL line; each has a ``kind`` (``ActionEvent``, ``ObservationEvent``,
  ``MessageEvent``...), and observations name their action by ``action_id`` or
  ``tool_call_id``.

Every user message starts a turn; events before the first one (a headless run) make a
turn of their own. Each evaluation record is a session of its own, its ``instance_id``
the session id. Choices where the logs leave room:

- An exit code of -1 means the command was still running when its output was taken:
  it ran, with no exit code (null). A V1 terminal observation that is an error with no
  exit code and no timeout never ran (the tool refused the command).
- Input sent to a running process (``is_input``, or an empty command) is a
  ``terminal_input`` event, not a command.
- An edit whose result is an error wrote nothing: its event stays, as no write, and
  its path does not count as written. ``undo_edit`` is a write with no payload.
- ``think`` is an event of its own with no effect; the thought is not prose.
- The ``thought`` an action carries is the agent's prose, said before the call;
  ``<think>`` blocks inside it are reasoning, and left out.
- A flat V0 message has no ``source``: it is the agent's when it waits for a response
  (as agent questions do), the user's otherwise.
- MCP calls are external actions unless the tool's name reads as a query (get, list,
  search, read...) with no word of change in it.
"""

from __future__ import annotations

import json
import re
from collections import deque
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass, field
from pathlib import Path
from typing import TypeAlias

from proofmark_core.logs._file import LogFile
from proofmark_core.logs._openhands_python import cell_failed, cell_writes, file_editor_args
from proofmark_core.logs._runlog import Call, TurnLog
from proofmark_core.logs._shell import command_text

NAME = "openhands"

RECOGNISED_EVENTS = 8
V1_SOURCES = frozenset({"agent", "user", "environment", "hook"})
ACTION_NAME_RE = re.compile(r"[a-z_]+")
# Known kinds that carry no work: the system prompt, recalled knowledge, state changes.
QUIET_ACTIONS = frozenset({"system", "recall", "change_agent_state", "condensation",
                           "condensation_request", "null"})
QUIET_OBSERVATIONS = frozenset({"null", "agent_state_changed", "recall", "condense"})
QUIET_V1_KINDS = frozenset({"SystemPromptEvent", "ConversationStateUpdateEvent", "PauseEvent",
                            "Condensation", "CondensationRequest", "CondensationSummaryEvent"})
V1_RESULTS = frozenset({"ObservationEvent", "UserRejectObservation", "AgentErrorEvent"})
SHELL_ACTIONS = frozenset({"TerminalAction", "ExecuteBashAction"})
EDITOR_ACTIONS = frozenset({"FileEditorAction", "StrReplaceEditorAction"})
THINK_RE = re.compile(r"<think>.*?(</think>|\Z)", re.S)
ANSI_RE = re.compile(r"\x1b(\[[0-?]*[ -/]*[@-~]|\][^\x07\x1b]*(\x07|\x1b\\)|[@-Z\\-_])")
WORD_RE = re.compile(r"[A-Z]?[a-z]+|[A-Z]+(?![a-z])|\d+")
QUERY_WORDS = frozenset({"get", "list", "search", "read", "fetch", "query", "find", "view",
                         "show", "describe", "lookup", "retrieve", "count", "check", "status"})
CHANGE_WORDS = frozenset({"create", "update", "delete", "remove", "post", "send", "add", "set",
                          "write", "put", "edit", "merge", "push", "comment", "close",
                          "reply", "publish", "upload", "move", "rename", "assign", "approve"})


Keys: TypeAlias = list[tuple[str, object]]  # the ids that link an action and its result
V0Handler: TypeAlias = Callable[["_Session", dict[str, object], Keys], None]


def recognise(sample: list[object]) -> bool:
    """V0 event lists, evaluation records with a history, or V1 events."""
    return bool(sample) and all(_is_log_record(value) for value in sample)


def companion(path: Path) -> bool:
    """A conversation's ``base_state.json`` is read with its events."""
    return path.name == "base_state.json"


def read(log: LogFile) -> Iterator[TurnLog]:
    base = _base_state(log)
    stream: _Session | None = None
    for line, record in log.records():
        if isinstance(record, dict) and "history" in record:
            yield from _Session(log, line, _session_id(record), base.get("cwd")).run(
                _history(log, record, line), line)
        elif isinstance(record, list):
            yield from _Session(log, line, base.get("id"), base.get("cwd")).run(
                _events(log, record, line), line)
        elif isinstance(record, dict):
            if stream is None:
                stream = _Session(log, line, base.get("id"), base.get("cwd"))
            yield from stream.feed(record, line)
        else:
            raise log.error("expected a list of events, an evaluation record or an event, "
                            f"got {_json_type(record)}", line)
    if stream is not None:
        yield from stream.close()


# Recognition


def _is_log_record(value: object) -> bool:
    if isinstance(value, list):
        return _is_event_list(value)
    if isinstance(value, dict):
        return _is_eval_record(value) if "history" in value else _is_v1_event(value)
    return False


def _is_event_list(items: list[object]) -> bool:
    return bool(items) and all(_is_v0_event(item) or _is_v1_event(item)
                               for item in items[:RECOGNISED_EVENTS])


def _is_eval_record(record: dict[str, object]) -> bool:
    history = record["history"]
    if not isinstance(history, list):
        return False
    return _is_event_list(history) if history else "instruction" in record


def _is_v0_event(item: object) -> bool:
    """One of ``action`` and ``observation``, named as OpenHands names them (SWE-agent
    steps have both, message lists neither)."""
    if not isinstance(item, dict) or "role" in item:
        return False
    names = [item.get(key) for key in ("action", "observation") if key in item]
    return len(names) == 1 and isinstance(names[0], str) \
        and ACTION_NAME_RE.fullmatch(names[0]) is not None


def _is_v1_event(item: object) -> bool:
    return isinstance(item, dict) and isinstance(item.get("kind"), str) and "id" in item \
        and item.get("source") in V1_SOURCES


# Records and their events


def _base_state(log: LogFile) -> dict[str, str]:
    """The id and working directory of a conversation folder, from its ``base_state.json``."""
    if not log.path.is_dir():
        return {}
    folders = [log.path, log.path.parent] if log.path.name == "events" else [log.path]
    for folder in folders:
        if (folder / "base_state.json").is_file():
            state = _mapping(LogFile(folder / "base_state.json").document())
            found = {"id": state.get("id"),
                     "cwd": _mapping(state.get("workspace")).get("working_dir")}
            return {key: value for key, value in found.items() if isinstance(value, str)}
    return {}


def _session_id(record: dict[str, object]) -> str | None:
    """The instance id of an evaluation record, or the issue a resolver record fixed."""
    instance = record.get("instance_id")
    if isinstance(instance, (str, int)) and not isinstance(instance, bool):
        return str(instance)
    issue = _mapping(record.get("issue"))
    if issue.get("owner") and issue.get("repo") and issue.get("number") is not None:
        return f"{issue['owner']}/{issue['repo']}#{issue['number']}"
    return None


def _history(log: LogFile, record: dict[str, object],
             line: int | None) -> Iterator[dict[str, object]]:
    history = record["history"]
    if not isinstance(history, list):
        raise log.error(f"history: expected a list of events, got {_json_type(history)}", line)
    return _events(log, history, line, "history")


def _events(log: LogFile, items: list[object], line: int | None,
            where: str = "event") -> Iterator[dict[str, object]]:
    for index, item in enumerate(items):
        if not isinstance(item, dict):
            raise log.error(f"{where}[{index}]: expected an event object, "
                            f"got {_json_type(item)}", line)
        yield item


# Sessions and turns


@dataclass(eq=False)
class _Open:
    """A call waiting for its result; the paths it writes count once it did not fail."""

    call: Call | None
    paths: list[str] = field(default_factory=list)
    keys: Keys = field(default_factory=list)


class _Pending:
    """Open calls: by the ids that link their results to them, else in the order made."""

    def __init__(self) -> None:
        self._linked: dict[tuple[str, object], _Open] = {}
        self._queue: deque[_Open] = deque()

    def add(self, entry: _Open) -> None:
        for key in entry.keys:
            self._linked[key] = entry
        if not entry.keys:
            self._queue.append(entry)

    def take(self, keys: Keys) -> _Open | None:
        if not keys:
            return self._queue.popleft() if self._queue else None
        entry = next((self._linked[key] for key in keys if key in self._linked), None)
        for key in entry.keys if entry is not None else ():
            del self._linked[key]
        return entry


@dataclass(eq=False)
class _Session:
    """One conversation, fed event by event; yields each turn once the next one starts."""

    log: LogFile
    line: int | None
    session: str | None
    base_cwd: str | None
    turn: TurnLog | None = None
    pending: _Pending = field(default_factory=_Pending)
    writes: list[_Open] = field(default_factory=list)
    version: str | None = None
    last_cwd: str | None = None
    cwd_seen: bool = False

    def run(self, events: Iterable[dict[str, object]], line: int | None) -> Iterator[TurnLog]:
        for event in events:
            yield from self.feed(event, line)
        yield from self.close()

    def feed(self, event: dict[str, object], line: int | None) -> Iterator[TurnLog]:
        self.line = line
        if self.version is None:
            self.version = "v1" if "kind" in event else "v0" if "id" in event else "v0-flat"
        if _user_message(event):
            yield from self.close()
            self._start(line)
        elif isinstance(event.get("kind"), str):
            _v1_event(self, event)
        elif isinstance(event.get("action"), str):
            _v0_action(self, event)
        elif isinstance(event.get("observation"), str):
            _v0_observation(self, event)
        else:
            self.current().skip("event without action, observation or kind")

    def close(self) -> Iterator[TurnLog]:
        turn, self.turn = self.turn, None
        if turn is None:
            return
        for entry in self.writes:
            turn.written.extend(entry.paths)  # no result seen: the write counts as made
            entry.paths = []
        self.writes.clear()
        if turn.cwd is None:
            turn.cwd = self.last_cwd
        yield turn

    def current(self) -> TurnLog:
        if self.turn is None:
            self._start(self.line)
        assert self.turn is not None
        return self.turn

    def open(self, call: Call | None, keys: Keys, paths: list[str] | None = None) -> None:
        entry = _Open(call, paths or [], keys)
        if entry.paths:
            self.writes.append(entry)
        self.pending.add(entry)

    def answer(self, keys: Keys, what: str) -> _Open | None:
        """The open call a result answers; a result that answers none is counted."""
        entry = self.pending.take(keys)
        if entry is None:
            self.current().skip(f"{what} without its action")
        return entry

    def settle(self, entry: _Open, failed: bool = False) -> None:
        """A write's paths count once its result is in, unless the write failed."""
        if failed and entry.call is not None and entry.call.wrote:
            entry.call.wrote = False
            entry.call.payload = None
        elif self.turn is not None:
            self.turn.written.extend(entry.paths)
        entry.paths = []

    def saw_cwd(self, cwd: object) -> None:
        if not isinstance(cwd, str) or not cwd:
            return
        self.last_cwd = cwd
        if self.turn is not None and not self.cwd_seen and self.base_cwd is None:
            self.turn.cwd = cwd
            self.cwd_seen = True

    def _start(self, line: int | None) -> None:
        self.turn = TurnLog(line=line if self.log.jsonl else None, session=self.session,
                            cwd=self.base_cwd or self.last_cwd, version=self.version)
        self.cwd_seen = False


def _user_message(event: dict[str, object]) -> bool:
    if event.get("kind") == "MessageEvent":
        return event.get("source") == "user"
    if event.get("action") != "message":
        return False
    if "source" in event:
        return event["source"] == "user"
    return not _args(event).get("wait_for_response")


# V0 events


def _v0_action(session: _Session, event: dict[str, object]) -> None:
    kind = str(event["action"])
    if kind in QUIET_ACTIONS:
        return
    turn = session.current()
    args = _args(event)
    keys = _v0_keys(event, "id")
    if kind == "message" and event.get("source", "agent") == "agent":
        turn.say(_prose(_text(args.get("content")) or _text(event.get("message"))))
        return
    if event.get("source", "agent") != "agent":
        turn.skip(f"{event['source']} action '{kind}'")
        session.open(None, keys)
        return
    if kind == "finish" or kind == "reject":
        _v0_finish(turn, event, args)
        if keys:  # an answer to it, if any, is no stray result
            session.open(None, keys)
        return
    if kind != "think":
        turn.say(_prose(_text(args.get("thought"))))
    handler = V0_ACTIONS.get(kind)
    if handler is None:
        turn.skip(f"action '{kind}'")
        session.open(None, keys)
    else:
        handler(session, args, keys)


def _v0_finish(turn: TurnLog, event: dict[str, object], args: dict[str, object]) -> None:
    """The closing words: ``final_thought``, the outputs' text, else the thought."""
    thought = _text(args.get("thought"))
    outputs = "\n\n".join(value for value in _mapping(args.get("outputs")).values()
                          if isinstance(value, str) and value.strip())
    final = (_text(args.get("final_thought")) or _text(args.get("message")) or outputs
             or thought or _text(event.get("message")))
    if thought != final:
        turn.say(_prose(thought))
    turn.say(_prose(final))


def _v0_run(session: _Session, args: dict[str, object], keys: Keys) -> None:
    _shell(session, _text(args.get("command")), bool(args.get("is_input")), keys)


def _v0_code(session: _Session, args: dict[str, object], keys: Keys) -> None:
    """A Python cell; the files its edit helpers and ``open`` calls write count as written."""
    code = _text(args.get("code"))
    call = session.current().code(code)
    writes = cell_writes(code)
    if writes:
        call.wrote = True
        payloads = [payload for _, payload in writes if payload]
        call.payload = "\n".join(payloads) if payloads else None
    session.open(call, keys, [path for path, _ in writes])


def _v0_read(session: _Session, args: dict[str, object], keys: Keys) -> None:
    session.open(session.current().read(), keys)


def _v0_edit(session: _Session, args: dict[str, object], keys: Keys) -> None:
    fields = args if args.get("command") else (
        file_editor_args(_text(args.get("translated_ipython_code"))) or args)
    _editor(session, "edit", fields, keys)


def _v0_write(session: _Session, args: dict[str, object], keys: Keys) -> None:
    _write(session, "write", _text(args.get("path")), _text(args.get("content")), keys)


def _v0_mcp(session: _Session, args: dict[str, object], keys: Keys) -> None:
    _mcp(session, _text(args.get("name")) or "call_tool_mcp", args.get("arguments"), keys)


def _v0_other(name: str) -> V0Handler:
    def other(session: _Session, args: dict[str, object], keys: Keys) -> None:
        session.open(session.current().other(name), keys)
    return other


def _v0_observation(session: _Session, event: dict[str, object]) -> None:
    kind = str(event["observation"])
    if kind in QUIET_OBSERVATIONS:
        return
    entry = session.answer(_v0_keys(event, "cause"), f"observation '{kind}'")
    if entry is None or entry.call is None:
        return
    call = entry.call
    extras = _mapping(event.get("extras")) if "extras" in event else event
    metadata = _mapping(extras.get("metadata"))
    session.saw_cwd(metadata.get("working_dir"))
    output = _output(event.get("content"))
    if kind in ("error", "user_rejected"):
        call.rejected(output)
        session.settle(entry, failed=True)
    elif call.shell:
        call.result(output, _exit_code(metadata, extras))
    else:
        call.result(output)
        session.settle(entry, failed=_failed_write(kind, output))


def _failed_write(kind: str, output: str) -> bool:
    if kind == "edit":
        return output.lstrip().startswith("ERROR:")
    return kind == "run_ipython" and cell_failed(output)


def _v0_keys(event: dict[str, object], link: str) -> Keys:
    keys: Keys = []
    if isinstance(event.get(link), (int, str)):
        keys.append(("event", event[link]))
    tool_call = _mapping(event.get("tool_call_metadata")).get("tool_call_id")
    if isinstance(tool_call, str):
        keys.append(("tool_call", tool_call))
    return keys


def _exit_code(*sources: dict[str, object]) -> int | str | None:
    """The first exit code recorded; -1 (still running) is none."""
    for source in sources:
        code = source.get("exit_code")
        if isinstance(code, bool):
            continue
        if isinstance(code, int):
            return None if code == -1 else code
        if isinstance(code, str):
            return code
    return None


# V1 events


def _v1_event(session: _Session, event: dict[str, object]) -> None:
    kind = str(event["kind"])
    if kind in QUIET_V1_KINDS:
        return
    if kind == "MessageEvent" and event.get("source") == "agent":
        message = _mapping(event.get("llm_message"))
        session.current().say(_prose(_content_text(message.get("content"))))
    elif kind == "ActionEvent":
        _v1_action(session, event)
    elif kind in V1_RESULTS:
        _v1_result(session, event, kind)
    else:
        session.current().skip(f"event '{kind}'")


def _v1_action(session: _Session, event: dict[str, object]) -> None:
    turn = session.current()
    turn.say(_prose(_content_text(event.get("thought"))))
    action = _mapping(event.get("action"))
    kind = _text(action.get("kind"))
    tool = _text(event.get("tool_name")) or kind
    keys = _v1_keys(event, "id")
    if kind in SHELL_ACTIONS:
        _shell(session, _text(action.get("command")), bool(action.get("is_input")), keys)
    elif kind in EDITOR_ACTIONS:
        _editor(session, tool, action, keys)
    elif kind == "FinishAction":
        turn.say(_prose(_text(action.get("message"))))
        session.open(None, keys)
    elif kind == "ThinkAction":
        session.open(turn.other("think"), keys)
    elif kind == "MCPToolAction":
        data = action.get("data", {k: v for k, v in action.items() if k != "kind"})
        _mcp(session, tool, data, keys)
    elif kind == "TaskTrackerAction" or kind.startswith("Browser"):
        session.open(turn.other(tool), keys)
    else:
        turn.skip(f"action '{kind or tool or 'without kind'}'")
        session.open(None, keys)


def _v1_result(session: _Session, event: dict[str, object], kind: str) -> None:
    entry = session.answer(_v1_keys(event, "action_id"), kind)
    if entry is None or entry.call is None:
        return
    call = entry.call
    if kind != "ObservationEvent":
        call.rejected(_text(event.get("rejection_reason")) or _text(event.get("error")))
        session.settle(entry, failed=True)
        return
    observation = _mapping(event.get("observation"))
    metadata = _mapping(observation.get("metadata"))
    session.saw_cwd(metadata.get("working_dir"))
    output = _output(observation.get("content", observation.get("output")))
    if not output and isinstance(observation.get("error"), str):
        output = _output(observation["error"])
    failed = observation.get("is_error") is True
    if call.shell:
        if failed and observation.get("exit_code") is None and not observation.get("timeout"):
            call.rejected(output)  # refused by the tool: nothing ran
        else:
            call.result(output, _exit_code(observation, metadata))
    else:
        call.result(output)
        session.settle(entry, failed)


def _v1_keys(event: dict[str, object], link: str) -> Keys:
    return [(name, event[key]) for name, key in (("event", link), ("tool_call", "tool_call_id"))
            if isinstance(event.get(key), str)]


# Calls shared by both generations


def _shell(session: _Session, command: str, is_input: bool, keys: Keys) -> None:
    turn = session.current()
    if is_input or not command.strip():
        session.open(turn.other("terminal_input"), keys)
    else:
        session.open(turn.shell(command_text(command)), keys)


def _editor(session: _Session, tool: str, fields: dict[str, object], keys: Keys) -> None:
    """A file editor command: ``view`` reads; the others write the text they put in."""
    command = fields.get("command")
    path = _text(fields.get("path"))
    if command == "view":
        session.open(session.current().read(), keys)
    elif command == "create":
        _write(session, tool, path, _text(fields.get("file_text")), keys)
    elif command in ("str_replace", "insert"):
        _write(session, tool, path, _text(fields.get("new_str")), keys)
    elif command == "undo_edit" or command is None:
        _write(session, tool, path, _text(fields.get("content")) or None, keys)
    else:
        session.current().skip(f"{tool} command '{command}'")
        session.open(None, keys)


def _write(session: _Session, tool: str, path: str, payload: str | None, keys: Keys) -> None:
    # The path counts once the result shows the write did not fail (or no result comes).
    session.open(session.current().write(tool, None, payload), keys, [path] if path else [])


def _mcp(session: _Session, tool: str, args: object, keys: Keys) -> None:
    turn = session.current()
    session.open(turn.other(tool) if _query_tool(tool) else turn.act(tool, args), keys)


def _query_tool(name: str) -> bool:
    words = {word.lower() for word in WORD_RE.findall(name)}
    return bool(words & QUERY_WORDS) and not words & CHANGE_WORDS


# Values


def _args(event: dict[str, object]) -> dict[str, object]:
    """An action's arguments: ``args``, or the event itself in the flat form."""
    return _mapping(event["args"]) if "args" in event else event


def _mapping(value: object) -> dict[str, object]:
    return value if isinstance(value, dict) else {}


def _text(value: object) -> str:
    return value if isinstance(value, str) else ""


def _content_text(content: object) -> str:
    """The text of a V1 content list (or of a plain string)."""
    if isinstance(content, str):
        return content
    if not isinstance(content, list):
        return ""
    return "\n".join(_text(_mapping(block).get("text")) for block in content
                     if _mapping(block).get("type", "text") == "text")


def _output(content: object) -> str:
    return ANSI_RE.sub("", _content_text(content))


def _prose(text: str) -> str:
    return THINK_RE.sub("", text).strip() if "<think>" in text else text


def _json_type(value: object) -> str:
    if value is None:
        return "null"
    return {bool: "boolean", int: "number", float: "number", str: "string",
            list: "array", dict: "object"}.get(type(value), type(value).__name__)


V0_ACTIONS = {
    "run": _v0_run,
    "run_ipython": _v0_code,
    "read": _v0_read,
    "edit": _v0_edit,
    "write": _v0_write,
    "call_tool_mcp": _v0_mcp,
    "think": _v0_other("think"),
    "browse": _v0_other("browse"),
    "browse_interactive": _v0_other("browse_interactive"),
    "delegate": _v0_other("delegate"),
    "task_tracking": _v0_other("task_tracking"),
}

