"""What each OpenHands event means for its turn: V0 actions and observations, V1 events.

The choices where the logs leave room are listed in :mod:`proofmark_core.logs.openhands`.
"""

from __future__ import annotations

import re
from collections.abc import Callable
from typing import TypeAlias

from proofmark_core.logs._openhands_python import cell_failed, cell_writes, file_editor_args
from proofmark_core.logs._openhands_session import Keys, Session
from proofmark_core.logs._runlog import TurnLog
from proofmark_core.logs._shell import command_text

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

V0Handler: TypeAlias = Callable[[Session, dict[str, object], Keys], None]


def apply(session: Session, event: dict[str, object]) -> None:
    """Adds what the event (other than a user message) shows to the session's turn."""
    if isinstance(event.get("kind"), str):
        _v1_event(session, event)
    elif isinstance(event.get("action"), str):
        _v0_action(session, event)
    elif isinstance(event.get("observation"), str):
        _v0_observation(session, event)
    else:
        session.current().skip("event without action, observation or kind")


def user_message(event: dict[str, object]) -> bool:
    """Whether the event is a message of the user's, which starts a turn."""
    if event.get("kind") == "MessageEvent":
        return event.get("source") == "user"
    if event.get("action") != "message":
        return False
    if "source" in event:
        return event["source"] == "user"
    return not _args(event).get("wait_for_response")


# V0 events


def _v0_action(session: Session, event: dict[str, object]) -> None:
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
    outputs = "\n\n".join(value for value in mapping(args.get("outputs")).values()
                          if isinstance(value, str) and value.strip())
    final = (_text(args.get("final_thought")) or _text(args.get("message")) or outputs
             or thought or _text(event.get("message")))
    if thought != final:
        turn.say(_prose(thought))
    turn.say(_prose(final))


def _v0_run(session: Session, args: dict[str, object], keys: Keys) -> None:
    _shell(session, _text(args.get("command")), bool(args.get("is_input")), keys)


def _v0_code(session: Session, args: dict[str, object], keys: Keys) -> None:
    """A Python cell; the files its edit helpers and ``open`` calls write count as written."""
    code = _text(args.get("code"))
    call = session.current().code(code)
    writes = cell_writes(code)
    if writes:
        call.wrote = True
        payloads = [payload for _, payload in writes if payload]
        call.payload = "\n".join(payloads) if payloads else None
    session.open(call, keys, [path for path, _ in writes])


def _v0_read(session: Session, args: dict[str, object], keys: Keys) -> None:
    session.open(session.current().read(), keys)


def _v0_edit(session: Session, args: dict[str, object], keys: Keys) -> None:
    fields = args if args.get("command") else (
        file_editor_args(_text(args.get("translated_ipython_code"))) or args)
    _editor(session, "edit", fields, keys)


def _v0_write(session: Session, args: dict[str, object], keys: Keys) -> None:
    _write(session, "write", _text(args.get("path")), _text(args.get("content")), keys)


def _v0_mcp(session: Session, args: dict[str, object], keys: Keys) -> None:
    _mcp(session, _text(args.get("name")) or "call_tool_mcp", args.get("arguments"), keys)


def _v0_other(name: str) -> V0Handler:
    def other(session: Session, args: dict[str, object], keys: Keys) -> None:
        session.open(session.current().other(name), keys)
    return other


def _v0_observation(session: Session, event: dict[str, object]) -> None:
    kind = str(event["observation"])
    if kind in QUIET_OBSERVATIONS:
        return
    entry = session.answer(_v0_keys(event, "cause"), f"observation '{kind}'")
    if entry is None or entry.call is None:
        return
    call = entry.call
    extras = mapping(event.get("extras")) if "extras" in event else event
    metadata = mapping(extras.get("metadata"))
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
        return output.lstrip().startswith("ERROR:") or cell_failed(output)
    return kind == "run_ipython" and cell_failed(output)


def _v0_keys(event: dict[str, object], link: str) -> Keys:
    keys: Keys = []
    if isinstance(event.get(link), (int, str)):
        keys.append(("event", event[link]))
    tool_call = mapping(event.get("tool_call_metadata")).get("tool_call_id")
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


def _v1_event(session: Session, event: dict[str, object]) -> None:
    kind = str(event["kind"])
    if kind in QUIET_V1_KINDS:
        return
    if kind == "MessageEvent" and event.get("source") == "agent":
        message = mapping(event.get("llm_message"))
        session.current().say(_prose(_content_text(message.get("content"))))
    elif kind == "ActionEvent":
        _v1_action(session, event)
    elif kind in V1_RESULTS:
        _v1_result(session, event, kind)
    else:
        session.current().skip(f"event '{kind}'")


def _v1_action(session: Session, event: dict[str, object]) -> None:
    turn = session.current()
    thought = _prose(_content_text(event.get("thought")))
    turn.say(thought)
    action = mapping(event.get("action"))
    kind = _text(action.get("kind"))
    tool = _text(event.get("tool_name")) or kind
    keys = _v1_keys(event, "id")
    if kind in SHELL_ACTIONS:
        _shell(session, _text(action.get("command")), bool(action.get("is_input")), keys)
    elif kind in EDITOR_ACTIONS:
        _editor(session, tool, action, keys)
    elif kind == "FinishAction":
        message = _prose(_text(action.get("message")))
        if message != thought:
            turn.say(message)
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


def _v1_result(session: Session, event: dict[str, object], kind: str) -> None:
    entry = session.answer(_v1_keys(event, "action_id"), kind)
    if entry is None or entry.call is None:
        return
    call = entry.call
    if kind != "ObservationEvent":
        call.rejected(_text(event.get("rejection_reason")) or _text(event.get("error")))
        session.settle(entry, failed=True)
        return
    observation = mapping(event.get("observation"))
    metadata = mapping(observation.get("metadata"))
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


def _shell(session: Session, command: str, is_input: bool, keys: Keys) -> None:
    turn = session.current()
    if is_input or not command.strip():
        session.open(turn.other("terminal_input"), keys)
    else:
        session.open(turn.shell(command_text(command)), keys)


def _editor(session: Session, tool: str, fields: dict[str, object], keys: Keys) -> None:
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


def _write(session: Session, tool: str, path: str, payload: str | None, keys: Keys) -> None:
    # The path counts once the result shows the write did not fail (or no result comes).
    session.open(session.current().write(tool, None, payload), keys, [path] if path else [])


def _mcp(session: Session, tool: str, args: object, keys: Keys) -> None:
    turn = session.current()
    session.open(turn.other(tool) if _query_tool(tool) else turn.act(tool, args), keys)


def _query_tool(name: str) -> bool:
    words = {word.lower() for word in WORD_RE.findall(name)}
    return bool(words & QUERY_WORDS) and not words & CHANGE_WORDS


# Values


def _args(event: dict[str, object]) -> dict[str, object]:
    """An action's arguments: ``args``, or the event itself in the flat form."""
    return mapping(event["args"]) if "args" in event else event


def mapping(value: object) -> dict[str, object]:
    return value if isinstance(value, dict) else {}


def _text(value: object) -> str:
    return value if isinstance(value, str) else ""


def _content_text(content: object) -> str:
    """The text of a V1 content list (or of a plain string)."""
    if isinstance(content, str):
        return content
    if not isinstance(content, list):
        return ""
    return "\n".join(_text(mapping(block).get("text")) for block in content
                     if mapping(block).get("type", "text") == "text")


def _output(content: object) -> str:
    return ANSI_RE.sub("", _content_text(content))


def _prose(text: str) -> str:
    return THINK_RE.sub("", text).strip() if "<think>" in text else text


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
