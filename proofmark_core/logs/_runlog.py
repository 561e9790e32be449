"""The run log of one turn, built tool call by tool call as a reader meets them.

A reader opens a call when the agent makes it and fills in the result when the log
shows it; the RunLog keeps the order of the calls, whatever order results come in.

A write the tool refused or that failed wrote nothing; the RunLog still names it, under
``refused`` (a key the engine does not read), with the reason the log gives, so that a
claim of that write can be told from one of a write that never was attempted.
"""

from __future__ import annotations

import re
from collections import Counter
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, TypedDict

from proofmark_core.logs._shell import shell_written_paths
from proofmark_core.logs._spellings import spellings

if TYPE_CHECKING:
    from proofmark_core.verify import CommandRecord, ExternalAction, LogEvent, RunLog

TERMINAL = "terminal"
EXECUTE_CODE = "execute_code"
READ_FILE = "read_file"
SEARCH_FILES = "search_files"
KIND_CHARS = 60
REASON_CHARS = 200
# Markup around a tool's error text that is no part of the reason.
REASON_TAGS = ("<tool_use_error>", "</tool_use_error>")
LABEL_RE = re.compile(r"\w+:")


class Refusal(TypedDict):
    """A write that did not happen: the file it was for, and the log's one-line reason."""

    path: str
    reason: str


@dataclass(eq=False, slots=True)
class Call:
    """One tool call: its LogEvent fields, and for a shell call whether and how it ran."""

    tool: str
    command: str | None = None
    payload: str | None = None
    wrote: bool = False
    output: str | None = None
    shell: bool = False
    # A shell call runs once the log shows its result; a rejected call never does.
    ran: bool = False
    refused: bool = False
    exit_code: int | str | None = None
    # The files the call writes, once it runs (a write tool's path, a shell redirection's).
    writes: list[str] = field(default_factory=list)

    def result(self, output: str | None, exit_code: int | str | None = None) -> None:
        """The call's output as the log gives it; for a shell call, also that it ran."""
        self.output = output
        self.exit_code = exit_code
        self.ran = True

    def rejected(self, output: str | None) -> None:
        """The call never ran (the user refused it, or it could not start)."""
        self.output = output
        self.ran = False
        self.refused = True

    def wrote_files(self) -> list[str]:
        """What the call wrote: nothing when it was refused, or is a shell call that never ran."""
        return [] if self.refused or (self.shell and not self.ran) else self.writes

    def event(self) -> LogEvent:
        event: LogEvent = {"tool": self.tool, "wrote": self.wrote, "output": self.output}
        if self.wrote:
            event["payload"] = self.payload
        if self.command is not None:
            event["command"] = self.command
        return event


@dataclass(eq=False)
class TurnLog:
    """What one turn wrote, ran and saw, and the agent's prose of the turn, in order.

    ``written`` holds paths written other than by a call's own path or command line
    (those come from the calls, when they ran); ``refused`` the writes that did not
    happen. ``messages`` are the agent's own messages of the turn (subagents excluded):
    the last one is the closing message. ``skipped`` counts log entries of kinds the
    reader does not know, by a short description of the kind. ``line`` is where the
    turn starts in a JSONL log, ``closing_line`` where its closing message is; the
    session id, working directory and format version are those the log records, when
    it does.
    """

    calls: list[Call] = field(default_factory=list)
    written: list[str] = field(default_factory=list)
    refused: list[Refusal] = field(default_factory=list)
    external: list[ExternalAction] = field(default_factory=list)
    messages: list[str] = field(default_factory=list)
    skipped: Counter[str] = field(default_factory=Counter)
    line: int | None = None
    closing_line: int | None = None
    session: str | None = None
    cwd: str | None = None
    version: str | None = None

    def shell(self, command: str) -> Call:
        """A shell command line; once it runs, the paths its redirections and the like
        write count as written."""
        return self._add(Call(TERMINAL, command=command, shell=True,
                              writes=shell_written_paths(command)))

    def code(self, code: str, tool: str = EXECUTE_CODE) -> Call:
        """A code cell (Python and the like); the engine reads its code as the command."""
        return self._add(Call(tool, command=code))

    def read(self, tool: str = READ_FILE) -> Call:
        return self._add(Call(tool))

    def search(self, tool: str = SEARCH_FILES) -> Call:
        return self._add(Call(tool))

    def write(self, tool: str, path: str | None, payload: str | None) -> Call:
        """A write or edit tool; ``payload`` is the text it put into the file."""
        return self._add(Call(tool, payload=payload, wrote=True, writes=[path] if path else []))

    def act(self, tool: str, args: object) -> Call:
        """A call with effects outside the workspace (a message sent, a ticket filed)."""
        self.external.append({"args": args})
        return self._add(Call(tool))

    def other(self, tool: str) -> Call:
        """Any other tool call: only its output counts, as something the agent saw."""
        return self._add(Call(tool))

    def refuse(self, call: Call, path: str | None, text: str | None) -> None:
        """The write call was refused or failed: it wrote nothing, and the reason is kept
        for the file it was for (when the log names one)."""
        call.wrote = False
        call.payload = None
        call.writes = []
        if path:
            self.refused.append({"path": path, "reason": reason(text)})

    def say(self, text: str, line: int | None = None) -> None:
        """A message of the agent's own prose, and the line of the log it is on."""
        if text.strip():
            self.messages.append(text)
            self.closing_line = line

    def skip(self, kind: str) -> None:
        # A kind is named by a value of the log, which a foreign log can fill with anything.
        kind = " ".join(kind.split())
        self.skipped[kind if len(kind) <= KIND_CHARS else kind[:KIND_CHARS - 1] + "\u2026"] += 1

    def run_log(self) -> RunLog:
        commands: list[CommandRecord] = [
            {"command": call.command, "exit_code": call.exit_code, "output": call.output or ""}
            for call in self.calls if call.shell and call.ran
        ]
        written = [spelled for call in self.calls for path in call.wrote_files()
                   for spelled in spellings(path, self.cwd)]
        written += [spelled for path in self.written for spelled in spellings(path, self.cwd)]
        run_log: RunLog = {"events": [call.event() for call in self.calls],
                           "external": list(self.external),
                           "written": list(dict.fromkeys(written)), "commands": commands}
        if self.refused:
            run_log["refused"] = list(self.refused)  # type: ignore[typeddict-unknown-key]
        return run_log

    def _add(self, call: Call) -> Call:
        self.calls.append(call)
        return call


def reason(text: str | None) -> str:
    """The first line of a tool's error text that says something (more than a label such
    as "ERROR:"), as one short line."""
    for line in (text or "").splitlines():
        for tag in REASON_TAGS:
            line = line.replace(tag, " ")
        line = " ".join(line.split()).strip("[] ")
        if line and not LABEL_RE.fullmatch(line):
            return line if len(line) <= REASON_CHARS else line[:REASON_CHARS - 1] + "\u2026"
    return "the tool reported an error"
