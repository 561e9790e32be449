"""SWE-agent runs (``*.traj``): the steps of the agent, and its chat history.

The steps are ``trajectory[i]``: the command line (``action``), its ``observation``, the
agent's ``thought`` and the editor ``state``. The chat ``history`` tells where the user
prompts are: one turn per prompt, the steps of the turn being as many as the history
shows replies to it (any steps left over go to the last turn). A user message that
answers a pending command is its observation, not a prompt; the pasted demonstration of
0.x histories (``is_demo``) is neither. A file without a trajectory is read from its
history alone: each assistant entry's ``action`` (or its first tool call) with the next
tool or user entry as output, the ``(Open file: …)(Current directory: …)`` footer of
those entries cut off and used as the step's open file and directory.

The prose of a step is its thought, without fenced blocks and without the
``DISCUSSION`` label; the last step's (usually ``submit``) ends the turn. The version is
told by the content: 1.x writes the state as an object, an ``execution_time`` per step,
and a ``message_type`` or ``tool_calls`` on history entries; 0.x writes none of these
(its state is a JSON string). The session is the problem statement id of the replay
configuration, when there is one; the working directory the state's ``working_dir``.
"""

from __future__ import annotations

import json
import re
import shlex
from collections.abc import Iterator
from dataclasses import dataclass

from proofmark_core.logs._fences import fences, without
from proofmark_core.logs._file import LogFile
from proofmark_core.logs._runlog import TurnLog
from proofmark_core.logs._swe_agent_commands import Step, named_file, record
from proofmark_core.records.values import as_text, at

NAME = "swe-agent"

NO_FILE = "n/a"
DISCUSSION_RE = re.compile(r"\A\s*DISCUSSION[ \t]*\n")
FOOTER = "(Open file: "
FOOTER_RE = re.compile(r"\(Open file: (?P<open_file>[^\n]*)\)\s*"
                       r"\(Current directory: (?P<cwd>[^\n]*)\)\s*(?:bash-\$\s*)?")


@dataclass(frozen=True, slots=True)
class Prompt:
    """A user prompt of the history: a turn starts here."""

    cwd: str | None


# The history read in order: prompts, steps, and the kinds of entries not understood.
Item = Prompt | Step | str


def recognise(sample: list[object]) -> bool:
    if len(sample) != 1 or not isinstance(sample[0], dict):
        return False
    trajectory = sample[0].get("trajectory")
    history = sample[0].get("history")
    if isinstance(trajectory, list) and trajectory:
        return all(isinstance(step, dict) and "action" in step and "observation" in step
                   for step in trajectory[:8])
    return isinstance(history, list) and bool(history) and all(
        isinstance(entry, dict) and "role" in entry and "agent" in entry for entry in history[:8])


def read(log: LogFile) -> Iterator[TurnLog]:
    document = log.document()
    if not isinstance(document, dict) or not ("trajectory" in document or "history" in document):
        raise log.error('expected an object with "trajectory" or "history"')
    history = _history(log, document.get("history", []))
    items = history if "trajectory" not in document \
        else _with_steps(history, _trajectory(log, document["trajectory"]))
    session = as_text(at(document, "replay_config", "problem_statement", "id"))
    yield from _turns(items, _version(document), session)


def _turns(items: list[Item], version: str, session: str | None) -> Iterator[TurnLog]:
    turn: TurnLog | None = None
    named: str | None = None  # the file last opened or created
    for item in items:
        if isinstance(item, Prompt) or turn is None:
            if turn is not None:
                yield turn
            turn = TurnLog(session=session, version=version)
            if isinstance(item, Prompt):
                turn.cwd = item.cwd
                continue
        if isinstance(item, Step):
            if item.cwd and not turn.calls:  # the state of the first step, over the prompt's footer
                turn.cwd = item.cwd
            turn.say(item.thought)
            record(turn, item, named)
            named = named_file(item.action) or named
        else:
            turn.skip(item)
    if turn is not None:
        yield turn


def _with_steps(history: list[Item], steps: list[Step]) -> list[Item]:
    """The history with its replies replaced by the trajectory's steps, in order."""
    remaining = iter(steps)
    items: list[Item] = []
    for item in history:
        if not isinstance(item, Step):
            items.append(item)
        elif (step := next(remaining, None)) is not None:
            items.append(step)
    items.extend(remaining)
    return items


def _trajectory(log: LogFile, trajectory: object) -> list[Step]:
    if not isinstance(trajectory, list):
        raise log.error('"trajectory" is not a list')
    steps: list[Step] = []
    for index, step in enumerate(trajectory):
        if not isinstance(step, dict) or not isinstance(step.get("action"), str):
            raise log.error(f'trajectory[{index}]: expected a step with an "action" text')
        state = _state(step.get("state"))
        thought = step.get("thought")
        if not isinstance(thought, str):
            thought = as_text(step.get("response")) or ""
        steps.append(Step(step["action"], _prose(thought), as_text(step.get("observation")),
                          _open_file(state.get("open_file")), as_text(state.get("working_dir"))))
    return steps


def _history(log: LogFile, history: object) -> list[Item]:
    if not isinstance(history, list):
        raise log.error('"history" is not a list')
    items: list[Item] = []
    pending: Step | None = None  # the reply whose command awaits its observation
    open_file: str | None = None
    cwd: str | None = None
    for index, entry in enumerate(history):
        if not isinstance(entry, dict):
            raise log.error(f"history[{index}]: expected an object")
        role = entry.get("role")
        content = as_text(entry.get("content")) or ""
        if role == "system" or entry.get("is_demo"):
            continue
        if role == "assistant":
            thought = as_text(entry.get("thought"))
            step = Step(_entry_action(entry), _prose(content if thought is None else thought),
                        open_file=open_file, cwd=cwd)
            items.append(step)
            pending = step if step.action is not None else None
            continue
        if role not in ("user", "tool"):
            items.append(f"history role {role!r}")
            continue
        output, footer = _without_footer(content)
        if footer is not None:
            open_file, cwd = _open_file(footer.group("open_file")), footer.group("cwd")
        if pending is not None:
            pending.observation = output
            pending = None
        elif role == "user":
            items.append(Prompt(cwd))
        else:
            items.append("tool message that answers no call")
    return items


def _entry_action(entry: dict[str, object]) -> str | None:
    """The command line of an assistant entry: its action, or else its first tool call."""
    action = entry.get("action")
    if isinstance(action, str):
        return action
    calls = entry.get("tool_calls")
    if not isinstance(calls, list) or not calls:
        return None
    function = at(calls[0], "function")
    name = as_text(at(function, "name"))
    if name is None:
        return None
    arguments = at(function, "arguments")
    if isinstance(arguments, str):
        try:
            arguments = json.loads(arguments)
        except ValueError:
            arguments = None
    if not isinstance(arguments, dict):
        return name
    if name == "bash" and isinstance(arguments.get("command"), str):
        return str(arguments["command"])
    return shlex.join([name, *(str(value) for value in arguments.values())])


def _without_footer(content: str) -> tuple[str, re.Match[str] | None]:
    """The observation without the prompt footer the history adds to it, and the footer."""
    footer = FOOTER_RE.fullmatch(content, max(content.rfind(FOOTER), 0))
    return (content[:footer.start()].rstrip("\n"), footer) if footer else (content, None)


def _prose(reply: str) -> str:
    return DISCUSSION_RE.sub("", without(reply, fences(reply)), count=1).strip()


def _version(document: dict[str, object]) -> str:
    trajectory = document.get("trajectory")
    history = document.get("history")
    steps = trajectory if isinstance(trajectory, list) else []
    entries = history if isinstance(history, list) else []
    newer = any(isinstance(step, dict) and (isinstance(step.get("state"), dict)
                                            or "execution_time" in step) for step in steps) \
        or any(isinstance(entry, dict) and ("message_type" in entry or "tool_calls" in entry)
               for entry in entries)
    return "1.x" if newer else "0.x"


def _state(state: object) -> dict[str, object]:
    """The editor state: an object in 1.x, the same object as JSON text in 0.x."""
    if isinstance(state, str):
        try:
            state = json.loads(state)
        except ValueError:
            return {}
    return state if isinstance(state, dict) else {}


def _open_file(value: object) -> str | None:
    return value if isinstance(value, str) and value and value != NO_FILE else None
