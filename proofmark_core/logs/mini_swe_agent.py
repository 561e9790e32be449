"""mini-swe-agent runs: a saved ``*.traj.json`` object, or a bare list of chat messages.

A run is one turn: the task prompt and everything the agent did for it. The agent acts
through text only: each assistant reply holds exactly one fenced ``bash`` block, the
command it runs; the rest of the reply, without a leading ``THOUGHT:`` label, is its
prose. The newer prompts ask for ``mswea_bash_command`` blocks instead: in a run whose
messages show that fence anywhere, a ``bash`` block is no action. The next user message
is the command's observation, whose form changed over the versions:

- ``<returncode>N</returncode>`` then ``<output>`` (or, for long output, ``<warning>``,
  ``<output_head>``, ``<elided_chars>`` and ``<output_tail>``);
- ``<returncode>`` with the code on a line of its own, then ``<stderr>`` and ``<stdout>``;
- ``<args>`` echoing the argv that ran, then ``<returncode>``, ``<stdout>`` and ``<stderr>``;
- from 2.0 the code is also in ``extra.returncode``, and the run ends with a message of
  role ``exit``.

Format 1.1 (2.2 and later) calls tools instead: an assistant message carries
``tool_calls`` (``bash`` with a ``command`` argument), each answered by a message of role
``tool`` with the same ``tool_call_id``, in the same observation forms. Its ``content``
is all prose: fenced blocks there are no actions.

The output is the text of those sections in order (the elision note included). A reply
with no action block, or with several, ran nothing; the message after it is feedback on
the reply's format. When a reply had one block but the next message has no return code,
the command did not run to an exit either (the feedback of a format error, or the notice
of a command killed on timeout): it is no CommandRecord. The one exception is the
submission: the message after a submit command (``echo COMPLETE_TASK_AND_SUBMIT_FINAL_OUTPUT``
and its older spellings) is the submitted diff, printed by a command that ran, whose exit
code the log does not keep. A final ``exit`` message stands for the submission in the
same way when the submit command got no observation of its own.
"""

from __future__ import annotations

import json
import re
from collections.abc import Iterator

from proofmark_core.logs._fences import Fence, fences, without
from proofmark_core.logs._file import LogFile
from proofmark_core.logs._runlog import Call, TurnLog
from proofmark_core.records.values import as_text, at

NAME = "mini-swe-agent"

BASH = "bash"
# The newer prompts ask for this fence word; a run that shows it anywhere acts through it alone.
NEWER = "mswea_bash_command"
ROLES = frozenset({"system", "user", "assistant", "tool", "exit"})
SUBMIT_RE = re.compile(r"\b(COMPLETE_TASK_AND_SUBMIT|(MINI|MICRO|NANO)_SWE_AGENT)_FINAL_OUTPUT\b")
RETURNCODE_RE = re.compile(r"<returncode>\s*(-?\d+)\s*</returncode>")
SECTION_RE = re.compile(
    r"<(output|output_head|elided_chars|output_tail|stdout|stderr)>(.*?)</\1>", re.S)
TAG_RE = re.compile(r"<(args|returncode|warning)>.*?</\1>", re.S)
THOUGHT_RE = re.compile(r"\A\s*THOUGHT:\s*")


def recognise(sample: list[object]) -> bool:
    if len(sample) != 1:
        return False
    document = sample[0]
    if isinstance(document, dict):
        trajectory_format = document.get("trajectory_format")
        info = document.get("info")
        return isinstance(document.get("messages"), list) and (
            isinstance(trajectory_format, str) and trajectory_format.startswith(NAME)
            or isinstance(info, dict) and "mini_version" in info)
    return isinstance(document, list) and _bare_run(document)


def _bare_run(messages: list[object]) -> bool:
    """Chat messages only, and among them an action block or an observation."""
    if not messages or not all(isinstance(message, dict) and message.get("role") in ROLES
                               and "content" in message for message in messages):
        return False
    return any(_observation_like(message) or _action_blocks(message, BASH)
               or _action_blocks(message, NEWER) or _tool_calls(message)
               for message in messages if isinstance(message, dict))


def _action_blocks(message: dict[str, object], language: str) -> list[Fence]:
    content = message.get("content")
    if message.get("role") != "assistant" or not isinstance(content, str):
        return []
    return [block for block in fences(content) if block.language == language]


def _action_language(messages: list[object]) -> str:
    fence = "```" + NEWER
    newer = any(isinstance(message, dict) and fence in (as_text(message.get("content")) or "")
                for message in messages)
    return NEWER if newer else BASH


def _observation_like(message: dict[str, object]) -> bool:
    content = message.get("content")
    return message.get("role") in ("user", "tool") and isinstance(content, str) \
        and RETURNCODE_RE.search(content) is not None


def _tool_calls(message: dict[str, object]) -> list[object]:
    calls = message.get("tool_calls")
    return calls if message.get("role") == "assistant" and isinstance(calls, list) else []


def read(log: LogFile) -> Iterator[TurnLog]:
    document = log.document()
    turn = TurnLog()
    messages = _messages(log, document, turn)
    language = _action_language(messages)
    tools = any(isinstance(message, dict) and _tool_calls(message) for message in messages)
    # The calls of the last reply still waiting for an answer, by tool call id.
    pending: dict[str, Call] = {}
    for index, message in enumerate(messages):
        if not isinstance(message, dict) or not isinstance(message.get("role"), str):
            raise log.error(f'messages[{index}]: expected an object with a "role"')
        role = message["role"]
        if role == "assistant":
            pending = _tool_reply(turn, message) if tools else _reply(turn, message, language)
        elif role == "tool":
            call = pending.pop(str(message.get("tool_call_id")), None)
            if call is None:
                turn.skip("tool message that answers no call")
            else:
                _observe(call, message)
        elif role in ("user", "exit"):
            # The task prompt, format feedback and a late exit message answer no command.
            for call in pending.values():
                if role == "user" or len(pending) == 1 or SUBMIT_RE.search(call.command or ""):
                    _observe(call, message)
            pending = {}
        elif role != "system":
            turn.skip(f"message role {role!r}")
    yield turn


def _messages(log: LogFile, document: object, turn: TurnLog) -> list[object]:
    if isinstance(document, list):
        return document
    if not isinstance(document, dict) or not isinstance(document.get("messages"), list):
        raise log.error('expected a list of messages or an object with "messages"')
    info = document.get("info")
    if isinstance(info, dict):
        turn.version = as_text(info.get("mini_version"))
        turn.cwd = as_text(at(info, "config", "environment", "cwd"))
    turn.session = as_text(document.get("instance_id"))
    messages: list[object] = document["messages"]
    return messages


def _reply(turn: TurnLog, message: dict[str, object], language: str) -> dict[str, Call]:
    """The reply's prose, and its command when it has exactly one action block."""
    content = message.get("content")
    if not isinstance(content, str):
        turn.skip("assistant content that is not text")
        return {}
    actions = _action_blocks(message, language)
    if len(actions) != 1:
        turn.say(_prose(content))
        return {}
    turn.say(_prose(without(content, actions)))
    return {"": turn.shell(actions[0].body.strip())}


def _tool_reply(turn: TurnLog, message: dict[str, object]) -> dict[str, Call]:
    """The reply's prose, and the command of each of its bash tool calls, by call id."""
    content = message.get("content")
    turn.say(_prose(content) if isinstance(content, str) else "")
    calls: dict[str, Call] = {}
    for index, tool_call in enumerate(_tool_calls(message)):
        command = _tool_command(tool_call)
        if command is None:
            turn.skip(f"tool call {as_text(at(tool_call, 'function', 'name'))!r}")
            continue
        call_id = at(tool_call, "id")
        calls[str(call_id) if call_id is not None else f"#{index}"] = turn.shell(command)
    return calls


def _tool_command(tool_call: object) -> str | None:
    """The command line of a bash tool call: its ``command`` argument, as JSON text."""
    arguments = at(tool_call, "function", "arguments")
    if isinstance(arguments, str):
        try:
            arguments = json.loads(arguments)
        except (ValueError, RecursionError):
            return None
    command = at(arguments, "command")
    return command.strip() if isinstance(command, str) and command.strip() else None


def _prose(text: str) -> str:
    return THOUGHT_RE.sub("", text, count=1).strip()


def _observe(call: Call, message: dict[str, object]) -> None:
    content = message.get("content")
    text = content if isinstance(content, str) else ""
    code = _returncode(message, text)
    if code is not None:
        call.result(_output(text), code)
    elif message["role"] == "exit" or SUBMIT_RE.search(call.command or ""):
        call.result(text)
    else:
        call.rejected(text)


def _returncode(message: dict[str, object], text: str) -> int | None:
    code = at(message, "extra", "returncode")
    if isinstance(code, int) and not isinstance(code, bool):
        return code
    found = RETURNCODE_RE.search(text)
    return int(found.group(1)) if found else None


def _output(text: str) -> str:
    """The command's output: its tagged sections in order, or the text around the tags."""
    sections = [body.strip("\n") for _, body in SECTION_RE.findall(text)]
    if sections:
        return "\n".join(section for section in sections if section.strip())
    return TAG_RE.sub("", text).strip("\n")
