"""Codex CLI rollouts (``~/.codex/sessions/YYYY/MM/DD/rollout-*.jsonl``), in both layouts.

The legacy layout (2025-09) starts with a bare header line ``{id, timestamp, instructions,
git}`` and holds bare Responses-API items, one per line, with ``{"record_type": "state"}``
markers between them. The envelope layout (0.58 and later) wraps every line as
``{timestamp, type, payload}``: ``session_meta``, ``turn_context``, ``response_item`` (the
items of the legacy layout), ``event_msg``, and a few kinds that hold nothing of the turn's
work (``compacted``, ``world_state``, ``inter_agent_communication_metadata``).

A turn starts at a prompt: a ``task_started`` or ``user_message`` event (the two of one
prompt open one turn), or in the legacy layout a user message that is not injected context
(``<environment_context>…``, ``<user_instructions>…``, AGENTS.md text). A user message to a
task under way, with no task started for it, is input to that turn. A task that no
user message starts (the hand-off after an automatic compaction) is no turn of its own:
its work continues the turn before it, and one that did no work (it holds only the
compaction summary) adds nothing. The agent's prose is its assistant messages, which the
envelope layout writes twice (as an item and as an ``agent_message`` event): each is
said once. ``task_complete.last_agent_message`` ends the turn's prose.

Tool calls: every shell generation (``shell``, ``shell_command``, ``exec_command`` and the
commands of code-mode ``exec`` cells) gives "terminal" events; apply_patch, as a tool or
run through the shell, a write event; a code cell that calls no tools "execute_code";
MCP calls (``server__tool``) external actions unless their name says they only read;
``update_plan``, ``read_thread``, the agent tools and ``web_search_end`` events of their own.
Other tools, items, events and line kinds are skipped and counted.

A forked file (a subagent spawned with its parent's context, or a fork of a session) starts
with its own ``session_meta``, then holds a copy of the parent's history, which starts with
the parent's ``session_meta``; the file's own turns follow. The copy is read but not yielded,
so its work is not counted twice. It ends at the first ``task_started`` that comes while a
copied turn is open (the parent's turn that spawned the subagent has not completed in the
copy), or that comes after copied work outside any turn (a copy without turn events). A
fork made between two turns gives no such sign: its first own turn is taken as copied.
"""

from __future__ import annotations

import itertools
import json
import mmap
import os
import re
from collections import Counter
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass, field
from pathlib import Path

from proofmark_core.logs._codex_calls import Calls
from proofmark_core.logs._file import LogFile
from proofmark_core.logs._runlog import TurnLog
from proofmark_core.logs._tail import line_at, line_number, lines_from
from proofmark_core.records.values import as_text, at

NAME = "codex"

ENVELOPE_TYPES = frozenset({"session_meta", "turn_context", "response_item", "event_msg",
                            "compacted", "world_state", "inter_agent_communication_metadata"})
# Envelope lines that hold nothing of a turn's work.
QUIET_RECORDS = frozenset({"compacted", "world_state", "inter_agent_communication_metadata"})
QUIET_ITEMS = frozenset({"reasoning", "ghost_snapshot", "web_search_call"})
# Events that repeat what the items say, or say nothing of the work.
QUIET_EVENTS = frozenset({
    "agent_reasoning", "agent_reasoning_raw_content", "agent_reasoning_section_break",
    "token_count", "context_compacted", "thread_rolled_back", "sub_agent_activity",
    "exec_command_begin", "patch_apply_begin", "mcp_tool_call_begin", "web_search_begin",
    "turn_diff", "error", "stream_error", "background_event"})
# A user message that is wholly one tag (<environment_context>…</environment_context>),
# or AGENTS.md text: context Codex injects, not a prompt.
CONTEXT_RE = re.compile(r"\s*(?:<(?P<tag>[\w-]+)>[\s\S]*</(?P=tag)>\s*"
                        r"|# AGENTS\.md instructions\b[\s\S]*)")
CWD_RE = re.compile(r"<environment_context>[\s\S]*?<cwd>([^<]*)</cwd>")
TASK, PROMPT = "task", "prompt"
HEADER = "legacy header"
# How the Codex CLI writes the keys a Stop hook looks for (compact JSON), and the same
# with the space of other writers.
PROMPTS = frozenset({"user_message", "task_started"})
# The user messages first.
PROMPT_TYPES = (b'"type":"user_message"', b'"type": "user_message"', b'"type":"task_started"',
                b'"type": "task_started"')
SESSION_META_TYPES = (b'"type":"session_meta"', b'"type": "session_meta"')
TURN_ID_KEYS = (b'"turn_id":', b'"turn_id": ')
# Lines looked at before a prompt for the other half of it.
PAIR_LINES = 8


def recognise(sample: list[object]) -> bool:
    if not sample or not all(isinstance(record, dict) for record in sample):
        return False
    first = sample[0]
    assert isinstance(first, dict)
    if _is_envelope(first):
        return all(isinstance(record, dict) and isinstance(record.get("type"), str)
                   and isinstance(record.get("payload"), dict) for record in sample)
    return _is_legacy_header(first) and all(
        isinstance(record, dict)
        and ("record_type" in record or isinstance(record.get("type"), str))
        for record in sample[1:])


def read(log: LogFile) -> Iterator[TurnLog]:
    yield from _Rollout().turns(_entries(log, log.records()))


def last_turn(path: str | Path, turn_id: str | None = None) -> TurnLog | None:
    """The turn a Stop hook ends, read from where it begins in the rollout.

    It begins at the first line that names ``turn_id`` (without one, that of the last
    task started), or in a rollout that names no turns at the last prompt; a task that no
    user message starts (the hand-off after an automatic compaction) reaches back to the
    prompt of the turn it continues. A legacy rollout, or a fork that names no turns, is
    read through. The rollout may still be being written: a last line cut short is left
    out.
    """
    log = LogFile(path)
    with log.path.open("rb") as stream:
        if not os.fstat(stream.fileno()).st_size:
            return None
        with mmap.mmap(stream.fileno(), 0, access=mmap.ACCESS_READ) as data:
            start = _turn_start(log, data, turn_id)
            if start is None:
                return _last(read(log))
            header = next(lines_from(log, data, 0, 1))
            lines = lines_from(log, data, start, line_number(data, start))
            entries = _entries(log, itertools.chain([header], lines))
            return next(_Rollout().turns(entries), None)


def _turn_start(log: LogFile, data: mmap.mmap, turn_id: str | None) -> int | None:
    """Where the turn's first line starts; None when the rollout is to be read through."""
    header_end = data.find(b"\n")
    if header_end < 0 or not _is_envelope_line(data[:header_end]):
        return None
    turn_id = turn_id if turn_id is not None else _last_task_id(data)
    if turn_id is not None:
        start = _first_line_naming(data, turn_id)
        if start is not None:
            return _prompted(data, start)
        if any(data.find(key) >= 0 for key in TURN_ID_KEYS):
            raise log.error(f"no turn {turn_id} in the rollout")
    if _last_line(data, SESSION_META_TYPES, _is_session_meta) > 0:
        return None  # a fork: its copy of the parent's history holds prompts too
    start = _last_line(data, PROMPT_TYPES, _is_prompt)
    return _prompted(data, _pair_start(data, start)) if start > 0 else None


def _prompted(data: mmap.mmap, start: int) -> int:
    """Where the turn that starts there begins: at the prompt before it when no user
    message of its own comes before its work."""
    position = start
    for _ in range(PAIR_LINES):
        end = line_at(data, position)[1]
        record = _parsed(data[position:end])
        if at(record, "payload", "type") == "user_message":
            return start
        if not isinstance(record, dict) or _is_work(record.get("type"), record.get("payload")) \
                or end >= len(data):
            break
        position = end + 1
    before = _last_line(data, PROMPT_TYPES[:2], _is_prompt, start)
    return _pair_start(data, before) if before > 0 else start


def _first_line_naming(data: mmap.mmap, turn_id: str) -> int | None:
    value = json.dumps(turn_id, ensure_ascii=False).encode()
    for key in TURN_ID_KEYS:
        found = data.find(key + value)
        while found >= 0:
            start, end = line_at(data, found)
            if at(_parsed(data[start:end]), "payload", "turn_id") == turn_id:
                return start
            found = data.find(key + value, end)
    return None


def _last_line(data: mmap.mmap, needles: tuple[bytes, ...], wanted: Callable[[object], bool],
               end: int | None = None) -> int:
    """Where the last line before ``end`` that holds one of the needles and is wanted
    starts; -1 if none."""
    end = len(data) if end is None else end
    while end > 0:
        found = max(data.rfind(needle, 0, end) for needle in needles)
        if found < 0:
            return -1
        start, line_end = line_at(data, found)
        if wanted(_parsed(data[start:line_end])):
            return start
        end = start
    return -1


def _pair_start(data: mmap.mmap, start: int) -> int:
    """Where the prompt that starts there begins: a task_started and a user_message
    event with no work between them are one prompt."""
    kind = at(_parsed(data[start:line_at(data, start)[1]]), "payload", "type")
    end = start
    for _ in range(PAIR_LINES):
        if end == 0:
            break
        before, before_end = line_at(data, end - 1)
        record = _parsed(data[before:before_end])
        if _is_prompt(record):
            return before if at(record, "payload", "type") != kind else start
        if not isinstance(record, dict) or _is_work(record.get("type"), at(record, "payload")):
            break
        end = before
    return start


def _is_session_meta(record: object) -> bool:
    return isinstance(record, dict) and record.get("type") == "session_meta"


def _is_prompt(record: object) -> bool:
    return isinstance(record, dict) and record.get("type") == "event_msg" \
        and at(record, "payload", "type") in PROMPTS


def _is_task_start(record: object) -> bool:
    return _is_prompt(record) and at(record, "payload", "type") == "task_started"


def _last_task_id(data: mmap.mmap) -> str | None:
    """The turn id of the last task started, in a rollout that names its turns."""
    start = _last_line(data, PROMPT_TYPES[2:], _is_task_start)
    if start < 0:
        return None
    turn_id = at(_parsed(data[start:line_at(data, start)[1]]), "payload", "turn_id")
    return turn_id if isinstance(turn_id, str) else None


def _is_work(kind: object, payload: object) -> bool:
    """Whether a line is the agent at work: a tool call or its result, or its own prose."""
    if kind == "event_msg":
        return at(payload, "type") == "agent_message"
    return kind == "response_item" and at(payload, "role") not in ("user", "developer")


def _is_envelope_line(raw: bytes) -> bool:
    record = _parsed(raw)
    return isinstance(record, dict) and _is_envelope(record)


def _parsed(raw: bytes) -> object:
    try:
        return json.loads(raw)
    except ValueError:
        return None  # the line being written


def _last(turns: Iterator[TurnLog]) -> TurnLog | None:
    turn = None
    for turn in turns:
        pass
    return turn


def _is_envelope(record: dict[str, object]) -> bool:
    return record.get("type") in ENVELOPE_TYPES and isinstance(record.get("payload"), dict) \
        and "timestamp" in record


def _is_legacy_header(record: dict[str, object]) -> bool:
    return "id" in record and "timestamp" in record and "type" not in record \
        and ("instructions" in record or "git" in record)


def _entries(log: LogFile, records: Iterable[tuple[int | None, object]]
             ) -> Iterator[tuple[int | None, str, dict[str, object]]]:
    """Each line as (line, envelope type, payload); legacy lines are given the same shape."""
    envelope: bool | None = None
    for line, record in records:
        if not isinstance(record, dict):
            raise log.error(f"expected a JSON object, got {_json_type(record)}", line)
        if envelope is None:
            envelope = _is_envelope(record)
            if not envelope and not _is_legacy_header(record):
                raise log.error("not a Codex rollout: the first line is neither a session header "
                                "nor a {timestamp, type, payload} line", line)
            if not envelope:
                yield line, HEADER, record
                continue
        if envelope:
            kind, payload = record.get("type"), record.get("payload")
            if not isinstance(kind, str) or not isinstance(payload, dict):
                raise log.error("a rollout line needs a string 'type' and an object 'payload'",
                                line)
            yield line, kind, payload
        elif "record_type" not in record:
            yield line, "response_item", record


def _json_type(value: object) -> str:
    if isinstance(value, list):
        return "an array"
    if isinstance(value, str):
        return "a string"
    if isinstance(value, bool):
        return "a boolean"
    return "null" if value is None else "a number"


@dataclass(eq=False)
class _Turn:
    """A turn being read: its log, its open calls, and what opened and closed it."""

    log: TurnLog
    copied: bool
    calls: Calls = field(init=False)
    openers: set[str] = field(default_factory=set)
    closed: bool = False
    prompted: bool = False
    # How often each text was said as an item and as an event, to say each message once.
    said: dict[str, Counter[str]] = field(
        default_factory=lambda: {"item": Counter(), "event": Counter()})

    def __post_init__(self) -> None:
        self.calls = Calls(self.log)

    def takes(self, opener: str, copied: bool) -> bool:
        """Whether an opener belongs to this turn: the other half of a task_started /
        user_message pair, before any work."""
        return opener not in self.openers and not self.closed and copied == self.copied \
            and not self.log.calls and not self.log.messages

    def under_way(self) -> bool:
        """A task started and not completed that has its prompt or is at work: a user
        message now is input to it (the user steering it, a Stop hook's reason sent
        back), not a prompt of its own."""
        return TASK in self.openers and not self.closed and (
            PROMPT in self.openers or bool(self.log.calls) or bool(self.log.messages))

    def say(self, text: str, source: str, line: int | None) -> None:
        other = "event" if source == "item" else "item"
        key = text.strip()
        if self.said[other][key] <= self.said[source][key]:
            self.log.say(text, line)
        self.said[source][key] += 1

    def close(self, last_message: object, line: int | None) -> None:
        self.closed = True
        if isinstance(last_message, str) and last_message.strip() and (
                not self.log.messages or self.log.messages[-1].strip() != last_message.strip()):
            self.log.say(last_message, line)


class _Rollout:
    """Reads a rollout's lines in order, yielding each turn once the next one begins."""

    def __init__(self) -> None:
        self.session: str | None = None
        self.cwd: str | None = None
        self.version: str | None = None
        self.turn: _Turn | None = None
        # While reading a fork's copy of its parent's history: "start", then "open" inside
        # a copied turn or copied work, "closed" after a copied turn completed.
        self.copy: str | None = None
        self.early_skips: Counter[str] = Counter()
        self.legacy = False
        # The last turn read, held back until the next one shows it is a turn of its own.
        self.held: TurnLog | None = None

    def turns(self, entries: Iterator[tuple[int | None, str, dict[str, object]]]
              ) -> Iterator[TurnLog]:
        for line, kind, payload in entries:
            if kind == "response_item":
                yield from self._item(line, payload)
            elif kind == "event_msg":
                yield from self._event(line, payload)
            elif kind == "session_meta":
                yield from self._session_meta(payload)
            elif kind == HEADER:
                self.legacy = True
                yield from self._session_meta(payload)
            elif kind == "turn_context":
                self._context(payload.get("cwd"))
            elif kind not in QUIET_RECORDS:
                self._skip(f"record type {kind!r}")
        yield from self._end_turn()
        if self.held is not None:
            yield self.held

    def _session_meta(self, payload: dict[str, object]) -> Iterator[TurnLog]:
        session = payload.get("id")
        if self.session is None:
            self.session = str(session) if session is not None else None
            self.cwd = as_text(payload.get("cwd"))
            self.version = as_text(payload.get("cli_version"))
        elif session is not None and str(session) != self.session:
            yield from self._end_turn()
            self.copy = "start"

    def _context(self, cwd: object) -> None:
        if isinstance(cwd, str) and self.copy is None:
            self.cwd = cwd
            if self.turn is not None:
                self.turn.log.cwd = cwd

    def _item(self, line: int | None, item: dict[str, object]) -> Iterator[TurnLog]:
        kind = as_text(item.get("type"))
        if self.copy == "start" and (kind in ("function_call", "custom_tool_call")
                                     or item.get("role") == "assistant"):
            self.copy = "open"
        if kind == "message":
            yield from self._message(line, item)
        elif kind == "function_call":
            yield from self._open(line)
            self._turn().calls.function_call(str(item.get("name")), item.get("arguments"),
                                             item.get("call_id"))
        elif kind == "custom_tool_call":
            yield from self._open(line)
            self._turn().calls.custom_call(str(item.get("name")), item.get("input"),
                                           item.get("call_id"))
        elif kind in ("function_call_output", "custom_tool_call_output"):
            if self.turn is not None:
                self.turn.calls.output(item.get("call_id"), item.get("output"))
        elif kind not in QUIET_ITEMS:
            self._skip(f"item {kind!r}")

    def _message(self, line: int | None, item: dict[str, object]) -> Iterator[TurnLog]:
        text = _content_text(item.get("content"))
        role = item.get("role")
        if role == "assistant":
            yield from self._open(line)
            self._turn().say(text, "item", line)
        elif role == "user":
            cwd = CWD_RE.search(text)
            if cwd:
                self._context(cwd.group(1).strip())
            # In the envelope layout the user_message event marks the prompt.
            if self.legacy and text.strip() and not CONTEXT_RE.fullmatch(text):
                yield from self._opener(line, PROMPT)

    def _event(self, line: int | None, event: dict[str, object]) -> Iterator[TurnLog]:
        kind = as_text(event.get("type"))
        if kind == "task_started":
            yield from self._opener(line, TASK)
        elif kind == "user_message":
            yield from self._opener(line, PROMPT)
        elif kind == "agent_message":
            yield from self._open(line)
            self._turn().say(as_text(event.get("message")) or "", "event", line)
        elif kind in ("task_complete", "turn_aborted"):
            if self.copy is not None:
                self.copy = "closed"
            if self.turn is not None:
                self.turn.close(event.get("last_agent_message"), line)
        elif kind == "web_search_end":
            yield from self._open(line)
            self._turn().log.other("web_search").result(as_text(event.get("query")))
        elif kind in ("patch_apply_end", "mcp_tool_call_end", "exec_command_end"):
            if self.turn is not None:
                self._result_event(self.turn.calls, kind, event)
        elif kind not in QUIET_EVENTS:
            self._skip(f"event {kind!r}")

    @staticmethod
    def _result_event(calls: Calls, kind: str, event: dict[str, object]) -> None:
        call_id = event.get("call_id")
        if kind == "patch_apply_end":
            calls.patch_end(call_id, event.get("success"), event.get("changes"))
        elif kind == "mcp_tool_call_end":
            calls.mcp_end(call_id, event.get("invocation"), event.get("result"))
        else:
            calls.exec_end(call_id, event.get("exit_code"), event.get("aggregated_output"))

    def _opener(self, line: int | None, opener: str) -> Iterator[TurnLog]:
        if opener == PROMPT and self.turn is not None and self.turn.under_way():
            return
        if self.copy is not None:
            if opener == TASK and self.copy == "open":
                self.copy = None  # the file's own first turn
            else:
                self.copy = "open"
        copied = self.copy is not None
        if self.turn is None or not self.turn.takes(opener, copied):
            yield from self._begin(line, copied)
        self._turn().openers.add(opener)
        self._turn().prompted |= opener == PROMPT

    def _open(self, line: int | None) -> Iterator[TurnLog]:
        """Work outside any turn (before the first prompt) gets a turn of its own."""
        if self.turn is None:
            yield from self._begin(line, self.copy is not None)

    def _begin(self, line: int | None, copied: bool) -> Iterator[TurnLog]:
        yield from self._end_turn()
        log = TurnLog(line=line, session=self.session, cwd=self.cwd, version=self.version)
        if not copied:
            log.skipped.update(self.early_skips)
            self.early_skips.clear()
        self.turn = _Turn(log, copied)

    def _end_turn(self) -> Iterator[TurnLog]:
        turn, self.turn = self.turn, None
        if turn is None:
            return
        turn.calls.finish()
        if turn.copied:
            return
        if TASK in turn.openers and not turn.prompted and self.held is not None:
            if turn.log.calls:
                _continue(self.held, turn.log)
            return
        if self.held is not None:
            yield self.held
        self.held = turn.log

    def _turn(self) -> _Turn:
        assert self.turn is not None
        return self.turn

    def _skip(self, kind: str) -> None:
        if self.turn is not None:
            self.turn.log.skip(kind)
        else:
            self.early_skips[kind] += 1


def _continue(turn: TurnLog, more: TurnLog) -> None:
    """The turn goes on with the work and prose of a task that no prompt started."""
    turn.calls += more.calls
    turn.written += more.written
    turn.refused += more.refused
    turn.external += more.external
    turn.messages += more.messages
    if more.messages:
        turn.closing_line = more.closing_line
    turn.skipped.update(more.skipped)


def _content_text(content: object) -> str:
    if isinstance(content, str):
        return content
    if not isinstance(content, list):
        return ""
    return "\n".join(part["text"] for part in content
                     if isinstance(part, dict) and isinstance(part.get("text"), str))
