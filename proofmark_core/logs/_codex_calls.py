"""The tool calls of one Codex turn, each matched with its result when that comes.

Results come as ``function_call_output`` / ``custom_tool_call_output`` items with the
call's id, and some as event lines (``patch_apply_end``, ``mcp_tool_call_end``,
``exec_command_end``). A command started with ``exec_command`` may still run when its
output is written; the ``write_stdin`` calls on its session carry the rest and the exit
code. A code-mode ``exec`` cell runs the ``tools.*`` calls of its JavaScript; its output
holds one ``Exit code: N`` part per command it ran, in order (an item each, or several in
one text when the script printed them together), and ``wait`` polls a cell that is still
running. A cell whose script failed ("Script failed", "Script error: …") ran the commands
that have no part of their own into that failure: they failed, with its exit code.

``patch_apply_end`` names the files a patch added, updated or deleted by absolute path:
they count as written, also for a patch whose call is not known (one run from a cell).
A patch that did not apply wrote nothing, and the files it named are refused.
"""

from __future__ import annotations

import json
import re
from dataclasses import dataclass, field
from typing import Protocol

from proofmark_core.logs._codemode import Expression, tool_calls
from proofmark_core.logs._patch import Patch, parse_patch, patch_in_command
from proofmark_core.logs._runlog import Call, TurnLog
from proofmark_core.logs._shell import command_text

APPLY_PATCH = "apply_patch"
# The shell tools of each generation, and the argument that holds the command line.
SHELL_TOOLS = {"shell": "command", "shell_command": "command", "exec_command": "cmd"}
# Tools whose calls are only something the agent did or saw: planning, other threads, agents.
OTHER_TOOLS = frozenset({"update_plan", "read_thread", "view_image", "spawn_agent", "send_input",
                         "send_message", "wait_agent", "close_agent", "resume_agent"})
# An MCP tool whose name says it only reads: get_issue, listTasks, search, read_graph.
READ_ONLY_MCP_RE = re.compile(r"(?i:get|list|read|search|find|fetch|query|view|show|describe|"
                              r"lookup|count)(?![a-z])")
# The lines that head a command's output text (0.142 and later), before "Output:".
HEADER_RE = re.compile(r"(?:Exit code|Process exited with code|Process running with session ID|"
                       r"Chunk ID|Wall time|Original token count|Warning: truncated output)\b")
EXIT_RE = re.compile(r"(?:Exit code:|Process exited with code) (-?\d+)")
SESSION_RE = re.compile(r"Process running with session ID (\S+)")
CELL_RE = re.compile(r"cell ID:? (\S+)", re.I)
# Where the result of one command starts inside a cell's output text.
PART_RE = re.compile(r"^(?=Exit code: -?\d+\s*$|Chunk ID: )", re.M)
SCRIPT_FAILED_RE = re.compile(r"^Script (?:failed|error)\b", re.M)
REJECTED_RE = re.compile(r"(?:exec command|patch) rejected by user")


@dataclass(frozen=True, slots=True)
class ShellResult:
    """A command's output without its header, its exit code, and its session if it still runs."""

    body: str
    exit_code: int | None = None
    session: str | None = None


def shell_result(text: str) -> ShellResult:
    """Read both output forms: the JSON ``{output, metadata: {exit_code}}`` of 0.58 and
    earlier, and the ``Exit code: N`` / ``Process exited with code N`` header of later ones."""
    if text.startswith("{") and text.endswith("}"):
        try:
            value = json.loads(text)
        except ValueError:
            value = None
        if isinstance(value, dict) and isinstance(value.get("output"), str):
            metadata = value.get("metadata")
            code = metadata.get("exit_code") if isinstance(metadata, dict) else None
            return ShellResult(value["output"], code if isinstance(code, int) else None)
    header: list[str] = []
    position = 0
    body = ""
    while position < len(text):
        end = len(text) if (end := text.find("\n", position)) < 0 else end
        line = text[position:end].rstrip("\r")
        if line == "Output:":
            body = text[end + 1:]
            break
        if not HEADER_RE.match(line):
            body = text[position:]
            break
        header.append(line)
        position = end + 1
    head = "\n".join(header)
    code = EXIT_RE.search(head)
    session = SESSION_RE.search(head)
    return ShellResult(body, int(code.group(1)) if code else None,
                       session.group(1) if session else None)


def output_texts(output: object) -> list[str]:
    """The text items of a tool output: a string, or a list of ``{type, text}`` items."""
    if isinstance(output, str):
        return [output]
    if isinstance(output, list):
        return [text for item in output for text in output_texts(item)]
    if isinstance(output, dict):
        for key in ("text", "content", "output"):
            if key in output:
                return output_texts(output[key])
    return [] if output is None else [json.dumps(output)]


def output_text(output: object) -> str:
    return "\n".join(output_texts(output))


class _Result(Protocol):
    def receive(self, output: object) -> None: ...


@dataclass(eq=False, slots=True)
class _Plain:
    call: Call

    def receive(self, output: object) -> None:
        self.call.result(output_text(output))


@dataclass(eq=False, slots=True)
class _Mcp:
    """An MCP call; one that changes something outside is an external action unless it failed."""

    call: Call
    log: TurnLog
    action: object = None

    def receive(self, output: object) -> None:
        self.call.result(output_text(output))

    def ended(self, result: object) -> None:
        """mcp_tool_call_end: ``{"Ok": {content, isError}}`` or ``{"Err": message}``."""
        outcome = result.get("Ok", result.get("Err")) if isinstance(result, dict) else result
        if self.call.output is None:
            self.call.output = output_text(outcome)
        if _mcp_failed(result) and self.action is not None:
            self.log.external[:] = [action for action in self.log.external
                                    if action is not self.action]
            self.action = None


@dataclass(eq=False, slots=True)
class _Command:
    """A shell command; while its session runs, polls on it add output and the exit code."""

    call: Call
    sessions: dict[str, _Command]
    session: str | None = None

    def receive(self, output: object) -> None:
        text = output_text(output)
        if REJECTED_RE.match(text):
            self.call.rejected(text)
            return
        result = shell_result(text)
        self.call.result(result.body, result.exit_code)
        self._running(result.session)

    def poll(self, output: object) -> None:
        result = shell_result(output_text(output))
        before = self.call.output or ""
        if result.body:
            self.call.output = before + ("\n" if before and not before.endswith("\n") else "") \
                + result.body
        if result.exit_code is not None:
            self.call.exit_code = result.exit_code
        self._running(result.session)

    def _running(self, session: str | None) -> None:
        if self.session is not None:
            self.sessions.pop(self.session, None)
        self.session = session
        if session is not None:
            self.sessions[session] = self

    def ended(self, exit_code: object, output: object) -> None:
        """The exec_command_end event: the exit code, when the output did not give it."""
        code = exit_code if isinstance(exit_code, int) else None
        if not self.call.ran:
            self.call.result(output if isinstance(output, str) else None, code)
        elif self.call.exit_code is None:
            self.call.exit_code = code


@dataclass(eq=False, slots=True)
class _Poll:
    """write_stdin on a running command's session: its output belongs to that command."""

    command: _Command

    def receive(self, output: object) -> None:
        self.command.poll(output)


@dataclass(eq=False, slots=True)
class _PatchCall:
    """An apply_patch call. It wrote its files only once a result says it applied:
    patch_apply_end's ``success`` when there is one, else the output's exit code or text."""

    call: Call
    patch: Patch
    applied: bool | None = None
    changed: list[str] = field(default_factory=list)

    def receive(self, output: object) -> None:
        text = output_text(output)
        result = shell_result(text)
        self.call.result(result.body)
        if self.applied is None:
            self.applied = False if REJECTED_RE.match(text) else result.exit_code == 0 \
                if result.exit_code is not None else result.body.startswith("Success.")

    def ended(self, success: object, changes: object) -> None:
        self.applied = success is True
        self.changed = changed_paths(changes)

    def settle(self, log: TurnLog) -> None:
        if self.applied:
            self.call.wrote = True
            self.call.payload = self.patch.added
            log.written.extend([*self.patch.paths, *self.changed])
        elif self.applied is False:
            for path in self.patch.paths:
                log.refuse(self.call, path, self.call.output)


def changed_paths(changes: object) -> list[str]:
    """The files of a ``patch_apply_end``: each key, and where a moved file went."""
    if not isinstance(changes, dict):
        return []
    return [*(str(path) for path in changes),
            *(change["move_path"] for change in changes.values()
              if isinstance(change, dict) and isinstance(change.get("move_path"), str))]


@dataclass(eq=False, slots=True)
class _Cell:
    """A code-mode cell: its inner commands take the output's ``Exit code`` items in order.
    ``call`` is the cell's own execute_code event, for a cell that calls no tools."""

    inner: list[_Command | _PatchCall]
    call: Call | None
    cells: dict[str, _Cell]
    matched: int = 0

    def receive(self, output: object) -> None:
        texts = output_texts(output)
        if texts and (running := CELL_RE.search(texts[0].split("\n", 1)[0])):
            self.cells[running.group(1)] = self
        if self.call is not None:
            self.call.result("\n".join(text for text in (self.call.output, *texts) if text))
        for part in (part for text in texts for part in PART_RE.split(text)):
            if self.matched < len(self.inner) and shell_result(part).exit_code is not None:
                self.inner[self.matched].receive(part)
                self.matched += 1
        failure = next((text for text in texts if SCRIPT_FAILED_RE.search(text)), None)
        if failure is not None:
            self._failed(failure)

    def _failed(self, text: str) -> None:
        """The script stopped on an error: the commands with no result of their own failed."""
        found = EXIT_RE.search(text)
        code = int(found.group(1)) if found else 0
        for inner in self.inner[self.matched:]:
            if isinstance(inner, _Command):
                inner.call.result(text, code or 1)
            else:
                inner.receive(text)
        self.matched = len(self.inner)

    @property
    def running(self) -> bool:
        return self.matched < len(self.inner) or self.call is not None


@dataclass(eq=False, slots=True)
class _Wait:
    cell: _Cell

    def receive(self, output: object) -> None:
        self.cell.receive(output)


@dataclass(eq=False)
class Calls:
    """One turn's tool calls: each opened on the TurnLog when made, filled in when answered."""

    log: TurnLog
    results: dict[str, _Result] = field(default_factory=dict)
    sessions: dict[str, _Command] = field(default_factory=dict)
    cells: dict[str, _Cell] = field(default_factory=dict)
    patches: list[_PatchCall] = field(default_factory=list)
    last_cell: _Cell | None = None

    def function_call(self, name: str, arguments: object, call_id: object) -> None:
        args = _arguments(arguments)
        if name in SHELL_TOOLS:
            command = args.get(SHELL_TOOLS[name]) if isinstance(args, dict) else None
            self._answer(call_id, self._shell(command, name))
        elif name == APPLY_PATCH:
            self._answer(call_id, self._patch(_patch_text(args)))
        elif name == "write_stdin":
            self._answer(call_id, self._stdin(args))
        elif name == "wait":
            self._answer(call_id, self._wait(args))
        elif name in OTHER_TOOLS:
            self._answer(call_id, _Plain(self.log.other(name)))
        elif "__" in name:
            self._answer(call_id, self._mcp(name, args))
        else:
            self.log.skip(f"tool {name!r}")

    def custom_call(self, name: str, text: object, call_id: object) -> None:
        if name == APPLY_PATCH:
            self._answer(call_id, self._patch(text if isinstance(text, str) else None))
        elif name == "exec":
            self._answer(call_id, self._cell(text if isinstance(text, str) else ""))
        else:
            self.log.skip(f"tool {name!r}")

    def output(self, call_id: object, output: object) -> None:
        result = self.results.get(str(call_id))
        if result is not None:
            result.receive(output)

    def patch_end(self, call_id: object, success: object, changes: object) -> None:
        result = self.results.get(str(call_id))
        if isinstance(result, _PatchCall):
            result.ended(success, changes)
        elif success is True:  # a patch run from a code cell: its id names no call
            self.log.written.extend(changed_paths(changes))

    def exec_end(self, call_id: object, exit_code: object, output: object) -> None:
        result = self.results.get(str(call_id))
        if isinstance(result, _Command):
            result.ended(exit_code, output)

    def mcp_end(self, call_id: object, invocation: object, result: object) -> None:
        """An MCP call's end; the call itself when no function_call made it known."""
        known = self.results.get(str(call_id))
        if known is None and isinstance(invocation, dict):
            name = f"{invocation.get('server')}__{invocation.get('tool')}"
            known = self._mcp(name, _arguments(invocation.get("arguments")))
            self._answer(call_id, known)
        if isinstance(known, _Mcp):
            known.ended(result)

    def finish(self) -> None:
        """Settle what the patches wrote, once every result of the turn is in."""
        for patch in self.patches:
            patch.settle(self.log)

    def _answer(self, call_id: object, result: _Result | None) -> None:
        if result is not None and call_id is not None:
            self.results[str(call_id)] = result

    def _shell(self, command: object, tool: str) -> _Command | _PatchCall | None:
        line = _command_line(command)
        if line is None:
            self.log.skip(f"{tool} call without a command")
            return None
        patch = patch_in_command(line)
        if patch is not None:
            return self._patch(patch)
        return _Command(self.log.shell(command_text(line)), self.sessions)

    def _patch(self, text: str | None) -> _PatchCall:
        patch = _PatchCall(self.log.other(APPLY_PATCH), parse_patch(text or ""))
        self.patches.append(patch)
        return patch

    def _stdin(self, args: object) -> _Result:
        session = args.get("session_id") if isinstance(args, dict) else None
        command = self.sessions.get(str(session))
        return _Poll(command) if command else _Plain(self.log.other("write_stdin"))

    def _wait(self, args: object) -> _Result:
        cell_id = args.get("cell_id") if isinstance(args, dict) else None
        cell = self.cells.get(str(cell_id), self.last_cell)
        return _Wait(cell) if cell is not None and cell.running else _Plain(self.log.other("wait"))

    def _cell(self, code: str) -> _Cell:
        inner: list[_Command | _PatchCall] = []
        calls = tool_calls(code)
        for call in calls:
            result = self._inner(call.tool, call.args)
            if result is not None:
                inner.append(result)
        cell = _Cell(inner, None if calls else self.log.code(code), self.cells)
        self.last_cell = cell
        return cell

    def _inner(self, tool: str, args: list[object]) -> _Command | _PatchCall | None:
        first = args[0] if args else None
        if tool in SHELL_TOOLS:
            command = first.get(SHELL_TOOLS[tool]) if isinstance(first, dict) else first
            return self._shell(command, tool)
        if tool == APPLY_PATCH:
            return self._patch(_patch_text(first))
        if tool in OTHER_TOOLS:
            self.log.other(tool)
        elif "__" in tool:
            self._mcp(tool, first)
        else:
            self.log.skip(f"tool {tool!r}")
        return None

    def _mcp(self, name: str, args: object) -> _Mcp:
        if READ_ONLY_MCP_RE.match(name.rsplit("__", 1)[-1]):
            return _Mcp(self.log.other(name), self.log)
        return _Mcp(self.log.act(name, args), self.log, self.log.external[-1])


def _arguments(arguments: object) -> object:
    """A call's arguments: a JSON string holding an object, as a rule."""
    if isinstance(arguments, str):
        try:
            return json.loads(arguments)
        except (ValueError, RecursionError):
            return arguments
    return arguments


def _command_line(command: object) -> str | list[object] | None:
    """A command as a string or an argv list, or None for anything else."""
    if isinstance(command, Expression):
        return command.source
    if isinstance(command, str):
        return command
    if isinstance(command, list) and command and all(
            isinstance(word, (str, int, float)) for word in command):
        return command
    return None


def _mcp_failed(result: object) -> bool:
    if not isinstance(result, dict):
        return False
    ok = result.get("Ok")
    return "Err" in result or isinstance(ok, dict) and (ok.get("isError") is True
                                                        or ok.get("is_error") is True)


def _patch_text(args: object) -> str | None:
    """The patch of an apply_patch call: the text itself, or the string field that holds it."""
    if isinstance(args, str):
        return args
    if isinstance(args, dict):
        texts = [value for value in args.values() if isinstance(value, str)]
        patches = (text for text in texts if "*** Begin Patch" in text)
        return next(patches, texts[0] if texts else None)
    return None

