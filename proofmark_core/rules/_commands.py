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
from collections.abc import Sequence
from dataclasses import dataclass
from functools import lru_cache
from typing import TYPE_CHECKING

from proofmark_core._command_lines import (bare_lines, command_parts, command_programs,
                                           lines_holding, word_ends_index)
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
# What may end a word of a line, and what may begin one (a dot, of a ``./``).
AFTER_CHARS = " \t\r\n\v\f;&|()"
BEFORE_CHARS = AFTER_CHARS + "."
AFTER_WORD, BEFORE_WORD = re.escape(AFTER_CHARS), re.escape(BEFORE_CHARS)  # for classes
# Where a word is looked for in a line place by place before a compiled pattern does it.
PLACES_LOOKED_AT = 8
SPLITS_WORDS_RE = re.compile(f"[{AFTER_WORD}]")
WORDS_RE = re.compile(f"[{AFTER_WORD}]+")
# Indexing a turn's lines costs about as much as looking through them for this many
# words.
WORDS_BEFORE_INDEX = 16


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
        self._programs: dict[str, dict[str, list[tuple[str, ...]]]] = {}

    def parts(self, line: str) -> Command:
        found = self._parts.get(line)
        if found is None:
            found = self._parts[line] = parts(line)
        return found

    def bare(self, line: str) -> str:
        found = self._bare.get(line)
        if found is None:
            found = self._bare[line] = bare_text(line)
        return found

    def programs(self, line: str) -> dict[str, list[tuple[str, ...]]]:
        """The words after the program of each part of the line, by program."""
        found = self._programs.get(line)
        if found is None:
            found = command_programs(line)
            if found is None:  # a line the native reader leaves to the Python one
                found = programs_of(parts(line))
            self._programs[line] = found
        return found


class TurnCommands:
    """A turn's command records, looked up by the words of a command.

    A record can run a command only if its line holds every word of the command
    standing alone (see :func:`_may_hold`); such a word ends where a word of the line
    ends, so the two share their last piece after a dot, and their last two when the
    word has a dot. The lines holding a word are found once per turn, and the runs of
    a command once per turn; once a turn has been looked through for many words, its
    lines are indexed by those ends, so that a turn of thousands of command lines and
    claims is not walked once per claim.
    """

    def __init__(self, run_log: RunLog, parsed: ParsedLines) -> None:
        try:
            records = [record for record in run_log["commands"] if isinstance(record, dict)]
        except (KeyError, TypeError):
            records = []
        lines = [(record, record.get("command")) for record in records]
        self._lines = [(record, line) for record, line in lines if isinstance(line, str)]
        texts = [line for _, line in self._lines]
        bare = bare_lines(texts)
        self._bare = bare if bare is not None else [parsed.bare(line) for line in texts]
        self._parsed = parsed
        self._by_end: dict[str, list[int]] | None = None
        self._holding: dict[str, list[int]] = {}
        self._runs: dict[Command, list[Run]] = {}

    def runs(self, command: Command) -> list[Run]:
        """The records of the turn that run ``command``, in order (one list per
        command, shared by every claim that names it)."""
        if not command:
            return []
        found = self._runs.get(command)
        if found is None:
            found = self._runs[command] = [
                Run(None, self._lines[index][0]) for index in self._holding_all(command)
                if _runs_programs(command, self._parsed.programs(self._lines[index][1]))]
        return found

    def _holding_all(self, command: Command) -> list[int]:
        """The lines that hold every word of the command standing alone, in order."""
        first, *others = dict.fromkeys(bare_text(word) for part in command for word in part)
        indices = self._holding_word(first)
        for word in others:
            holding = set(self._holding_word(word))
            indices = [index for index in indices if index in holding]
        return indices

    def _holding_word(self, word: str) -> list[int]:
        found = self._holding.get(word)
        if found is None:
            found = self._holding[word] = lines_holding(word, self._bare,
                                                        self._may_hold_word(word))
        return found

    def _may_hold_word(self, word: str) -> Sequence[int]:
        end = _end(word)
        if end is None or len(self._holding) < WORDS_BEFORE_INDEX:
            return range(len(self._bare))  # not one word of a line, or few words yet
        if self._by_end is None:
            self._by_end = word_ends_index(self._bare)
        return self._by_end.get(end, [])


def _end(word: str) -> str | None:
    """The word's last piece after a dot, or its last two when it has a dot; None
    for a word that a line's words cannot hold whole (empty, or split in the line)."""
    if not word or SPLITS_WORDS_RE.search(word):
        return None
    head, dot, last = word.rpartition(".")
    if not dot:
        return word
    before = head.rpartition(".")[2]
    return f"{before}.{last}" if before else None


def ends_index(lines: list[str]) -> dict[str, list[int]]:
    """The lines by the ends (as :func:`_end` gives them) of their words: what the
    native ``word_ends_index`` builds."""
    index: dict[str, list[int]] = {}
    for number, line in enumerate(lines):
        for found in _ends(line):
            index.setdefault(found, []).append(number)
    return index


def _ends(bare: str) -> set[str]:
    """The ends (as :func:`_end` gives them) of the words of a line."""
    ends = set()
    for word in set(WORDS_RE.split(bare)):
        head, dot, last = word.rpartition(".")
        if not dot:
            ends.add(word)
            continue
        ends.add(last)
        before = head.rpartition(".")[2]
        if before:
            ends.add(f"{before}.{last}")
    return ends


def matches(command: Command, record: object, parsed: ParsedLines | None = None) -> bool:
    """The record runs ``command``: each part of it is a part of the record's command
    line, with the same program and at least its words."""
    line = record.get("command") if isinstance(record, dict) else None
    if not isinstance(line, str) or not command:
        return False
    parsed = ParsedLines() if parsed is None else parsed
    if not _may_hold(command, parsed.bare(line)):
        return False
    return runs_parts(command, parsed.parts(line))


def programs_of(ran: Command) -> dict[str, list[tuple[str, ...]]]:
    """The words after the program of each part, by program."""
    found: dict[str, list[tuple[str, ...]]] = {}
    for part in ran:
        found.setdefault(part[0], []).append(part[1:])
    return found


def _runs_programs(command: Command, programs: dict[str, list[tuple[str, ...]]]) -> bool:
    """:func:`runs_parts`, with the parts run looked up by their program."""
    return all(any(not wanted[1:] or not Counter(wanted[1:]) - Counter(words)
                   for words in programs.get(wanted[0], ())) for wanted in command)


def runs_parts(command: Command, ran: Command) -> bool:
    """Each part of the command is a part of ``ran``, with the same program and at
    least its words."""
    return all(any(part[0] == wanted[0] and not Counter(wanted[1:]) - Counter(part[1:])
                   for part in ran) for wanted in command)


def _may_hold(command: Command, bare: str) -> bool:
    """Every word of the command stands alone in the line (``bare``, as :func:`bare_text`
    gives it), as far as a look without parsing it can tell. Parsing only takes quotes
    and backslashes out of a word, a leading ``./`` and trailing slashes off it, and
    lowers it; so each word of the parsed line is in the line without those, between a
    space, an operator or an end (or a dot, of the ``./``)."""
    return all(stands_alone(bare_text(word), bare) for part in command for word in part)


def bare_text(text: str) -> str:
    """The text without quotes, backslashes and slashes, case folded."""
    return text.casefold().translate(UNQUOTED)


def stands_alone(word: str, bare: str) -> bool:
    """The word is in the line between a space, an operator or an end (or after a dot);
    a word that is empty or holds an operator need only be in it."""
    if not word or not OPERATOR_CHARS.isdisjoint(word):
        return word in bare  # operators split words unlike spaces do
    at = bare.find(word)
    for _ in range(PLACES_LOOKED_AT):
        if at < 0:
            return False
        end = at + len(word)
        if (at == 0 or bare[at - 1] in BEFORE_CHARS) and (end == len(bare)
                                                          or bare[end] in AFTER_CHARS):
            return True
        at = bare.find(word, at + 1)
    return at >= 0 and _alone(word).search(bare, at) is not None


@lru_cache(maxsize=4096)
def _alone(word: str) -> re.Pattern[str]:
    """What finds the word between a space, an operator, a dot or an end, for a word
    found in many places in a long line that a loop would look at one by one. The
    word comes first, so that the search skips to where it is (a pattern that starts
    with a look behind is tried at every character)."""
    literal = re.escape(word)
    return re.compile(rf"{literal}(?<![^{BEFORE_WORD}]{literal})(?![^{AFTER_WORD}])")


def parts(line: str) -> Command:
    """The parts of a command line, normalised: read natively, or by :func:`read_parts`
    for the lines the native reader leaves to it (long ones, scripts and heredocs,
    are not kept in its cache)."""
    found = command_parts(line)
    if found is not None:
        return found
    return _cached_parts(line) if len(line) <= CACHED_CHARS else read_parts(line)


def read_parts(line: str) -> Command:
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


_cached_parts = lru_cache(maxsize=4096)(read_parts)


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
