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
- ``str_replace_editor view PATH`` reads; its ``create``, ``str_replace``, ``insert``
  and ``undo_edit`` write PATH (the payload: ``--file_text`` or ``--new_str``);
- an edit the tool refused wrote nothing: the linter's refusal (the file put back),
  "No file open", a replacement not performed, a path that does not exist. It stays
  an event of its own, without a write, and is named as refused; the file it was for
  is the open file, else the one the agent last opened or created;
- ``submit`` ran (its output is the diff, or the review checklist of 1.x), as a shell
  command would; ``exit``, ``exit_cost`` and the like end the run: other calls;
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
EDITOR = "str_replace_editor"
EDITOR_WRITES = {"create": "--file_text", "str_replace": "--new_str", "insert": "--new_str",
                 "undo_edit": None}
WINDOWED_EDIT_RE = re.compile(
    r"edit[ \t]+\d+[ \t]*:[ \t]*\d+[ \t]*\n(?P<lines>.*?)\n?end_of_edit\s*\Z", re.S)
FILE_HEADER_RE = re.compile(r"\[File: (?P<path>[^\n]+?) \(\d+ lines total\)\]")
# How the tools say an edit was refused: at the start of the observation, or the
# linter's closing "Your changes have NOT been applied".
REFUSED_RE = re.compile(
    r"\s*(?:No file open|Your proposed edit has introduced new syntax error"
    r"|No replacement was performed|The path \S+ does not exist|File already exists at"
    r"|Invalid `\w+` parameter|ERROR:|Error:)"
    r"|[\s\S]*\bnot (?:been )?applied\b", re.I)


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


def record(turn: TurnLog, step: Step, named: str | None = None) -> None:
    """The step's command as a call of the turn, with its observation as output.
    ``named`` is the file the agent last opened or created, for an edit of no known file."""
    command = (step.action or "").strip()
    if not command:
        return
    word = command.split(None, 1)[0]
    output = step.observation
    if word in READS or word == EDITOR and _editor_command(command) == "view":
        turn.read().result(output)
    elif word in SEARCHES:
        turn.search().result(output)
    elif word in EDITS or word == EDITOR:
        path, payload = _edit(word, command, step)
        call = turn.write(word, path, payload)
        call.result(output)
        if output is not None and REFUSED_RE.match(output):
            turn.refuse(call, path or named, output)
    elif word == "exit" or word.startswith("exit_"):
        turn.other(word).result(output)
    else:
        turn.shell(command).result(output)


def named_file(command: str | None) -> str | None:
    """The file an ``open`` or ``create`` command names."""
    words = (command or "").split(None, 1)
    if not words or words[0] not in ("open", "create"):
        return None
    arguments = _arguments(command or "")
    return arguments[0] if arguments else None


def _edit(word: str, command: str, step: Step) -> tuple[str | None, str | None]:
    """The file an edit command writes, and the text it puts there."""
    arguments = _arguments(command)
    if word == EDITOR:
        return _editor_edit(arguments)
    if word == "create":
        return (arguments[0] if arguments else None), ""
    windowed = WINDOWED_EDIT_RE.fullmatch(command)
    if windowed:
        payload: str | None = windowed.group("lines")
    else:  # edit SEARCH REPLACE [REPLACE_ALL], insert TEXT [LINE]
        index = 1 if word == "edit" else 0
        payload = arguments[index] if len(arguments) > index else None
    return step.open_file or _header_path(step.observation), payload


def _editor_command(command: str) -> str | None:
    words = command.split(None, 2)
    return words[1] if len(words) > 1 else None


def _editor_edit(arguments: list[str]) -> tuple[str | None, str | None]:
    """``str_replace_editor COMMAND PATH --flag value ...``: PATH and its new text."""
    flag = EDITOR_WRITES.get(arguments[0]) if arguments else None
    path = arguments[1] if len(arguments) > 1 else None
    values = dict(zip(arguments[2::2], arguments[3::2]))
    return path, values.get(flag) if flag else None


def _arguments(command: str) -> list[str]:
    """The command's arguments as the shell splits them; the raw rest when they do not split."""
    try:
        return shlex.split(command)[1:]
    except ValueError:  # an unbalanced quote
        return command.split(None, 1)[1:]


def _header_path(output: str | None) -> str | None:
    found = FILE_HEADER_RE.search(output or "")
    return found.group("path") if found else None
