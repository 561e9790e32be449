"""A few lines of the run log around the literal a verdict's evidence points at.

The checking step hands over where the engine found each literal (a write, a command
and its exit code, an output, an external action) as :class:`Match` data; the excerpt
shows that place, so that a reader can judge the verdict without opening the log.
Locating is a case-insensitive search of the literal, looser than the engine's normal
form: a literal this search cannot find gets no excerpt rather than a wrong one.
"""

from __future__ import annotations

import json
import re
from collections.abc import Callable, Iterable, Iterator
from dataclasses import dataclass
from typing import TYPE_CHECKING

from proofmark_core.verify import READ_TOOLS

if TYPE_CHECKING:
    from proofmark_core.run.evidence import Match
    from proofmark_core.verify import Claim, CommandRecord, RunLog

MAX_CHARS = 400
LINE_CHARS = 120
CONTEXT_LINES = 1
OUTPUT_TAIL_LINES = 3
CUT = "\u2026"
SUCCESS_CODES = (None, 0, "0")

SEARCH_COMMAND_RE = re.compile(r"\b(grep|rg|find)\b")
KEY_RE = re.compile(r"^\s*([^=:\s]+)\s*[=:]")


@dataclass(frozen=True, slots=True)
class Place:
    """A text of the log that may hold the literal, the line that says what it is,
    and what to show after it (the end of a command's output)."""

    heading: str
    text: str
    after: str = ""
    # A written path holds no more than the file name the engine matched.
    strong: bool = True


@dataclass(frozen=True, slots=True)
class Excerpt:
    shown: str
    strong: bool = True


def excerpt(run_log: RunLog, claim: Claim, matches: Iterable[Match]) -> str | None:
    """A short excerpt (at most MAX_CHARS characters) of the part of the log the first
    of the matches that can be found points at, or None when none can."""
    targets = [t for t in claim.get("targets", []) if isinstance(t, str)]
    fallback = None
    for match in matches:
        found = _match_excerpt(run_log, targets, match)
        if found is not None and found.strong:
            return _fit(found.shown)
        fallback = fallback or found
    return _fit(fallback.shown) if fallback else None


def _match_excerpt(run_log: RunLog, targets: list[str], match: Match) -> Excerpt | None:
    if match.pool == "empty search":
        return _empty_search(run_log)
    # A literal found word by word is looked for by its first word alone.
    return _locate(match.literal, [] if match.words else targets, _places(run_log, match))


def _places(run_log: RunLog, match: Match) -> Iterator[Place]:
    """The texts of the pool the literal was found in."""
    if match.pool == "write":
        yield from _writes(run_log)
    elif match.pool == "external action":
        for action in run_log.get("external", []):
            yield Place("external action:", _json(action.get("args")))
    elif match.pool in ("output", "read output"):
        yield from _outputs(run_log, read_first=match.pool == "read output")
    elif match.pool == "failed command":
        yield from _commands(run_log, lambda code: _exit_text(code) == match.exit_code)
    elif match.pool == "last run":  # the latest run decided the claim: look there first
        yield from reversed(list(_commands(run_log, lambda code: True)))
    else:
        yield from _commands(run_log, lambda code: code in SUCCESS_CODES)


def _writes(run_log: RunLog) -> Iterator[Place]:
    for event in run_log.get("events", []):
        payload = event.get("payload")
        if event.get("wrote") and isinstance(payload, str):
            yield Place(f"{event.get('tool')} wrote:", payload)
    # A literal matched through the file name of a written path.
    for path in run_log.get("written", []):
        if isinstance(path, str):
            yield Place("the turn wrote the path:", path, strong=False)


def _commands(run_log: RunLog, exit_fits: Callable[[object], bool]) -> Iterator[Place]:
    for index, record in enumerate(run_log.get("commands", [])):
        command, code = record.get("command"), record.get("exit_code")
        if isinstance(command, str) and exit_fits(code):
            output = _command_output(run_log, index, record)
            yield Place(_command_heading(code), command, _tail(output) if output else "")


def _outputs(run_log: RunLog, read_first: bool) -> Iterator[Place]:
    """Tool outputs in log order; with ``read_first``, those of reading tools before
    the others, since a path the agent only read was found there."""
    events = run_log.get("events", [])
    if read_first:
        events = sorted(events, key=lambda event: event.get("tool") not in READ_TOOLS)
    for event in events:
        output, command = event.get("output"), event.get("command")
        if not isinstance(output, str):
            continue
        if isinstance(command, str):
            yield Place(f"output of `{_first_line(command)}`:", output)
        else:
            yield Place(f"{event.get('tool')} output:", output)


def _empty_search(run_log: RunLog) -> Excerpt | None:
    for record in run_log.get("commands", []):
        command, output = record.get("command"), record.get("output")
        if isinstance(command, str) and SEARCH_COMMAND_RE.search(command) \
                and isinstance(output, str) and not output.strip():
            heading = _command_heading(record.get("exit_code"))
            return Excerpt(f"{heading}\n{command}\n(no output)")
    return None


def _command_output(run_log: RunLog, index: int, record: CommandRecord) -> str | None:
    """The output of the tool call that ran the command record (the one that ran the
    same command line as many times before it), else the record's own."""
    commands = run_log.get("commands", [])
    command = record.get("command")
    nth = sum(1 for earlier in commands[:index] if earlier.get("command") == command)
    calls = [event for event in run_log.get("events", []) if event.get("command") == command]
    output = calls[nth].get("output") if nth < len(calls) else None
    if not isinstance(output, str):
        output = record.get("output")
    return output if isinstance(output, str) else None


def _locate(literal: str, targets: list[str], places: Iterator[Place]) -> Excerpt | None:
    """The first place that holds the literal (or, failing that, a looser form of it)."""
    candidates = list(places)
    for pattern in _patterns(literal, targets):
        for place in candidates:
            if found := pattern.search(place.text):
                shown = _window(place.text, found.start(), found.end())
                return Excerpt(f"{place.heading}\n{shown}{place.after}", place.strong)
    return None


def _patterns(literal: str, targets: list[str]) -> Iterator[re.Pattern[str]]:
    """Forms of the literal, most precise first: a target that holds it (the claim's
    wording around a literal cut from it), the literal, its file name, its key."""
    lowered = literal.casefold()
    wider = [t for t in targets if lowered in t.casefold() and len(t) > len(literal)]
    base = literal.rstrip("/").rsplit("/", 1)[-1]
    key = KEY_RE.match(literal)
    forms = [*wider, literal, base if len(base) > 3 else "", key[1] if key else ""]
    for form in dict.fromkeys(form.strip() for form in forms):
        if form:
            words = map(re.escape, form.split())
            yield re.compile(r"\s+".join(words), re.IGNORECASE)


def _window(text: str, start: int, end: int) -> str:
    """The lines around text[start:end], each cut to LINE_CHARS around the match."""
    text = text.rstrip("\n")
    first = text.count("\n", 0, start)
    last = first + text.count("\n", start, end)
    lines = text.split("\n")
    low, high = max(0, first - CONTEXT_LINES), min(len(lines), last + CONTEXT_LINES + 1)
    line_start = text.rfind("\n", 0, start) + 1
    shown = [_cut_line(line, start - line_start if i == first else 0)
             for i, line in enumerate(lines[low:high], low)]
    return "\n".join([CUT] * (low > 0) + shown + [CUT] * (high < len(lines)))


def _cut_line(line: str, at: int) -> str:
    if len(line) <= LINE_CHARS:
        return line
    begin = max(0, min(at - LINE_CHARS // 3, len(line) - LINE_CHARS))
    return (CUT if begin else "") + line[begin:begin + LINE_CHARS] + \
        (CUT if begin + LINE_CHARS < len(line) else "")


def _tail(output: str) -> str:
    """The last lines of a command's output, where most tools say how it went."""
    lines = output.rstrip("\n").split("\n")
    shown = [_cut_line(line, 0) for line in lines[-OUTPUT_TAIL_LINES:]]
    return "\n" + "\n".join([CUT] * (len(lines) > OUTPUT_TAIL_LINES) + shown)


def _fit(shown: str) -> str:
    return shown if len(shown) <= MAX_CHARS else shown[:MAX_CHARS - 1] + CUT


def _first_line(text: str) -> str:
    line = text.strip().split("\n", 1)[0]
    return line if len(line) <= LINE_CHARS else line[:LINE_CHARS - 1] + CUT


def _command_heading(code: object) -> str:
    return "command, no exit code:" if code is None else f"command, exit {_exit_text(code)}:"


def _exit_text(code: object) -> str:
    """The exit code as the evidence line writes it."""
    return format(code, "")


def _json(value: object) -> str:
    try:
        return json.dumps(value, ensure_ascii=False)
    except (TypeError, ValueError):
        return repr(value)
