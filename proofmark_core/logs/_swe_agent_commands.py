"""SWE-agent's command lines as tool calls: its own file commands, submit, and the shell.

SWE-agent runs one command line per step: either one of its own commands or a shell
command. Its own commands map to the calls the engine knows:

- ``open``, ``goto``, ``scroll_up``, ``scroll_down`` show a window of a file: read_file;
- ``find_file``, ``search_dir``, ``search_file``: search_files;
- ``create PATH`` makes an empty file: a write of PATH whose payload is the empty text;
- ``edit START:END`` … ``end_of_edit`` (0.x, windowed) replaces lines of the open file:
  a write whose payload is the replacement lines; ``edit 'SEARCH' 'REPLACE'`` (1.x) a
  write whose payload is the replacement; ``insert 'TEXT'`` a write of the text. The
  path is the open file of the step, or the ``[File: …]`` header of the observation;
- an edit whose observation says it was not applied (the linter refused it and put the
  file back) wrote nothing: it stays an event of its own, without a write;
- ``submit`` (its output is the diff) and ``exit``, ``exit_cost`` and the like: other calls;
- anything else ran in the shell, with no exit code: SWE-agent keeps none.
"""

from __future__ import annotations

import re
import shlex
from dataclasses import dataclass

from proofmark_core.logs._runlog import TurnLog

READS = frozenset({"open", "goto", "scroll_up", "scroll_down"})
SEARCHES = frozenset({"find_file", "search_dir", "search_file"})
EDITS = frozenset({"create", "edit", "insert"})
WINDOWED_EDIT_RE = re.compile(
    r"edit[ \t]+\d+[ \t]*:[ \t]*\d+[ \t]*\n(?P<lines>.*?)\n?end_of_edit\s*\Z", re.S)
FILE_HEADER_RE = re.compile(r"\[File: (?P<path>[^\n]+?) \(\d+ lines total\)\]")
NOT_APPLIED_RE = re.compile(r"\bnot (?:been )?applied\b", re.I)


@dataclass(slots=True)
class Step:
    """One step of the agent: what it said, the command it ran, and what came back.

    ``open_file`` and ``cwd`` are the editor's open file and the working directory that
    the log shows with the step.
    """

    action: str | None
    thought: str
    observation: str | None = None
    open_file: str | None = None
    cwd: str | None = None


def record(turn: TurnLog, step: Step) -> None:
    """The step's command as a call of the turn, with its observation as output."""
    command = (step.action or "").strip()
    if not command:
        return
    word = command.split(None, 1)[0]
    output = step.observation
    if word in READS:
        turn.read().result(output)
    elif word in SEARCHES:
        turn.search().result(output)
    elif word in EDITS:
        _edit(turn, word, command, step)
    elif word == "submit" or word == "exit" or word.startswith("exit_"):
        turn.other(word).result(output)
    else:
        turn.shell(command).result(output)


def _edit(turn: TurnLog, word: str, command: str, step: Step) -> None:
    output = step.observation
    if output is not None and NOT_APPLIED_RE.search(output):
        turn.other(word).result(output)
        return
    if word == "create":
        arguments = _arguments(command)
        turn.write(word, arguments[0] if arguments else None, "").result(output)
        return
    windowed = WINDOWED_EDIT_RE.fullmatch(command)
    if windowed:
        payload: str | None = windowed.group("lines")
    else:  # edit SEARCH REPLACE [REPLACE_ALL], insert TEXT [LINE]
        arguments = _arguments(command)
        index = 1 if word == "edit" else 0
        payload = arguments[index] if len(arguments) > index else None
    turn.write(word, step.open_file or _header_path(output), payload).result(output)


def _arguments(command: str) -> list[str]:
    """The command's arguments as the shell splits them; the raw rest when they do not split."""
    try:
        return shlex.split(command)[1:]
    except ValueError:  # an unbalanced quote
        return command.split(None, 1)[1:]


def _header_path(output: str | None) -> str | None:
    found = FILE_HEADER_RE.search(output or "")
    return found.group("path") if found else None
