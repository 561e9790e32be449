"""Which commands of a log are runs of the command a claim names.

A run of ``pytest tests/test_x.py`` is a command line with a part (between ``&&``,
``;``, ``|`` and the like) whose program is ``pytest`` and whose words include
``tests/test_x.py``: ``cd repo && python -m pytest -q tests/test_x.py`` is one,
``head tests/test_x.py`` is not. Wrappers (``sudo``, ``timeout 60``, ``FOO=1``,
``python -m``, ``npx``, ``uv run`` ...) and a leading ``cd DIR`` are not the program.
"""

from __future__ import annotations

import re
from collections import Counter
from dataclasses import dataclass
from functools import lru_cache
from typing import TYPE_CHECKING

from proofmark_core.rules._shell_words import shell_words

if TYPE_CHECKING:
    from proofmark_core.verify import CommandRecord, RunLog

SEPARATORS = frozenset({"&&", "||", ";", "|", "&", "|&", ";;", "(", ")"})
# Words that run the program after them (with their own options).
WRAPPERS = frozenset({"sudo", "env", "time", "nohup", "nice", "exec", "command", "builtin",
                      "xargs", "npx", "bunx", "pnpx"})
# Interpreters: ``python x.py`` runs ``x.py``, ``python -m pytest`` runs ``pytest``.
INTERPRETERS_RE = re.compile(r"(python[\d.]*|py|node|bash|sh|zsh|ruby|perl|deno|bun)")
# Tools whose ``run``/``exec`` subcommand runs the program after it.
RUNNERS = frozenset({"uv", "poetry", "pipenv", "pdm", "hatch", "rye", "conda", "bundle",
                     "pnpm", "yarn", "go", "cargo", "dotnet", "mix"})
RUN_WORDS = frozenset({"run", "exec", "dlx"})
ASSIGNMENT_RE = re.compile(r"[A-Za-z_][A-Za-z0-9_]*=")
TIMEOUT_ARG_RE = re.compile(r"-?-?[\d.]+[smhd]?|-[a-z]+")
CACHED_CHARS = 2000
SHORTEST_PHRASE = 3  # the engine drops phrases of this many characters or fewer
WINDOWS_SEPARATOR_RE = re.compile(r"\\(?=[\w.-])")
UNQUOTED = str.maketrans("", "", "'\"\\/")
OPERATOR_CHARS = frozenset(";&|()")
AFTER_WORD = r" \t\r\n\v\f;&|()"  # as regular-expression classes
BEFORE_WORD = AFTER_WORD + "."


@dataclass(frozen=True, slots=True)
class Run:
    """A command record that runs the named command, and the number of the earlier
    turn it belongs to (None for the claim's own turn)."""

    turn: int | None
    record: CommandRecord

    @property
    def ok(self) -> bool:
        return exit_ok(self.record.get("exit_code"))

    @property
    def exit_code(self) -> object:
        return self.record.get("exit_code")


def exit_ok(code: object) -> bool:
    """A success as the engine counts it: no exit code, 0 or "0"."""
    return code is None or code == 0 or code == "0"


# A command line is the parts of it, each the words from its program on.
Command = tuple[tuple[str, ...], ...]


def command_of(target: object) -> Command:
    """The command line a claim's target names, read as one; none for a target too
    short for the engine to look for (``rm``, ``Q``: a program of that name is too
    common a sight to stand for one command)."""
    if not isinstance(target, str):
        return ()
    text = target.strip().strip("`'\"").strip()
    return parts(text) if len(text) > SHORTEST_PHRASE else ()


class ParsedLines:
    """The command lines a session's rules look through for every claim, each read
    once (long lines are not in the cache of :func:`parts`)."""

    def __init__(self) -> None:
        self._parts: dict[str, Command] = {}
        self._bare: dict[str, str] = {}

    def parts(self, line: str) -> Command:
        found = self._parts.get(line)
        if found is None:
            found = self._parts[line] = parts(line)
        return found

    def bare(self, line: str) -> str:
        found = self._bare.get(line)
        if found is None:
            found = self._bare[line] = _bare(line)
        return found


def runs(command: Command, run_log: RunLog, turn: int | None = None,
         parsed: ParsedLines | None = None) -> list[Run]:
    """The records of the log that run ``command``, in order."""
    try:
        records = list(run_log["commands"])
    except (KeyError, TypeError):
        return []
    parsed = ParsedLines() if parsed is None else parsed
    return [Run(turn, record) for record in records if matches(command, record, parsed)]


def matches(command: Command, record: object, parsed: ParsedLines | None = None) -> bool:
    """The record runs ``command``: each part of it is a part of the record's command
    line, with the same program and at least its words."""
    line = record.get("command") if isinstance(record, dict) else None
    if not isinstance(line, str) or not command:
        return False
    parsed = ParsedLines() if parsed is None else parsed
    if not _may_hold(command, parsed.bare(line)):
        return False
    ran = parsed.parts(line)
    return all(any(part[0] == wanted[0] and not Counter(wanted[1:]) - Counter(part[1:])
                   for part in ran) for wanted in command)


def _may_hold(command: Command, bare: str) -> bool:
    """Every word of the command stands alone in the line (``bare``, as :func:`_bare`
    gives it), as far as a look without parsing it can tell. Parsing only takes quotes
    and backslashes out of a word, a leading ``./`` and trailing slashes off it, and
    lowers it; so each word of the parsed line is in the line without those, between a
    space, an operator or an end (or a dot, of the ``./``)."""
    return all(_stands_alone(_bare(word), bare) for part in command for word in part)


def _bare(text: str) -> str:
    """The text without quotes, backslashes and slashes, case folded."""
    return text.casefold().translate(UNQUOTED)


def _stands_alone(word: str, bare: str) -> bool:
    if not word or not OPERATOR_CHARS.isdisjoint(word):
        return word in bare  # operators split words unlike spaces do
    return word in bare and _alone(word).search(bare) is not None


@lru_cache(maxsize=4096)
def _alone(word: str) -> re.Pattern[str]:
    """What finds the word between a space, an operator, a dot or an end: in C, as a
    short word may be in a long line thousands of times."""
    return re.compile(rf"(?<![^{BEFORE_WORD}]){re.escape(word)}(?![^{AFTER_WORD}])")


def parts(line: str) -> Command:
    """The parts of a command line, normalised; long lines (scripts, heredocs) are not
    kept in the cache."""
    return _parts(line) if len(line) <= CACHED_CHARS else _parts.__wrapped__(line)


@lru_cache(maxsize=4096)
def _parts(line: str) -> Command:
    """The parts of a command line, each the words from its program on, normalised."""
    parts: list[tuple[str, ...]] = []
    current: list[str] = []
    for token in _tokens(line):
        if token in SEPARATORS:
            parts.append(_program_on(current))
            current = []
        else:
            current.append(_normal(token))
    parts.append(_program_on(current))
    return tuple(part for part in parts if part)


def _tokens(line: str) -> list[str]:
    # A backslash before a name is a Windows separator (.\gradlew), not an escape.
    line = WINDOWS_SEPARATOR_RE.sub("/", line)
    try:
        return shell_words(line)
    except ValueError:  # an unbalanced quote: words as they stand
        return re.split(r"\s+|(&&|\|\||[;|&()])", line)


def _normal(word: str | None) -> str:
    if not word:
        return ""
    word = word.replace("\\", "/").lower()
    if word.startswith("./"):
        word = word[2:]
    return word.rstrip("/") or word


def _program_on(words: list[str]) -> tuple[str, ...]:
    """The words from the program on: wrappers, settings and ``cd DIR`` left out."""
    words = [word for word in words if word]
    start = 0
    while start < len(words):
        word = words[start]
        if ASSIGNMENT_RE.match(word) or word in WRAPPERS:
            start += 1
        elif word == "cd":
            start += 2
        elif word == "timeout":
            start += 1
            while start < len(words) and TIMEOUT_ARG_RE.fullmatch(words[start]):
                start += 1
        elif INTERPRETERS_RE.fullmatch(word):
            after = start + 1
            while after < len(words) and words[after].startswith("-") \
                    and words[after] not in ("-m", "-c"):
                after += 1
            if after < len(words) and words[after] == "-m":
                start = after + 1
            elif after < len(words) and words[after] != "-c":
                start = after
            else:  # the interpreter alone, or code given inline: it is the program
                break
        elif word in RUNNERS and start + 1 < len(words) and words[start + 1] in RUN_WORDS:
            start += 2
        else:
            break
    return tuple(words[start:])
