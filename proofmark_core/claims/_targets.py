"""The targets a sentence names: code spans, the files its links point to, and bare
path-like words; and the tests of what a target looks like (a command, a file or setting).
"""

from __future__ import annotations

import bisect
import re
from collections.abc import Iterator
from dataclasses import dataclass
from urllib.parse import unquote

from proofmark_core.claims._markdown import LINK_RE, MASK, code_spans

# Link targets that are not files: a URL scheme (two letters or more, so that `D:/x`
# stays a path), a bare host, an anchor in the same page.
_WEB_LINK_RE = re.compile(r"^(?:[a-z][a-z0-9+.-]+:|www\.|#)", re.I)
# The scheme of a file URI, with the slash before a drive letter (file:///D:/x is D:/x).
_FILE_URI_RE = re.compile(r"^file://(?:localhost)?(?:/(?=[A-Za-z]:))?", re.I)
# Where in a file a link or a bare path points: an anchor (#L12, #L12-L20, #L12C3) or
# a line and column (:12, :12:5, :10-20). Code spans keep theirs, as written.
_LINE_ANCHOR_RE = re.compile(r"(?:#L\d+(?:C\d+)?(?:-L?\d+(?:C\d+)?)?|(?::\d+){1,2}(?:-\d+)?)$")

_WORD_RE = re.compile(r"\S+")
_PATH_MARKS = frozenset("./\\")
# Characters that wrap a bare word without being part of it: punctuation, quotes,
# brackets and emphasis. Dots are stripped only at the end, where they end a sentence.
_LEADING_JUNK = "([{<\"'“‘*~`"
_TRAILING_JUNK = ".,;:!?)]}>\"'”’*~…`"
# A path from a root: /x, ./x, ../x, ~/x, D:/x or D:\x.
_ROOTED_RE = re.compile(r"^(?:/|\.{1,2}[\\/]|~[\\/]|[A-Za-z]:[\\/])[^\s/\\]")
# A file name: a stem of word characters, points and hyphens holding a letter, then an
# extension of 1 to 5 lower-case letters or digits that starts with a letter (`app.py`,
# `v2.h5`; not `3.14` nor `1.0.x`); or a dotfile (`.env`, `.credo.exs`).
_NAME_CHARS_RE = re.compile(r"[\w.-]+")
_EXTENSION_RE = re.compile(r"\.([a-z][a-z0-9]{0,4})$")
_LETTER_RE = re.compile(r"[^\W\d_]")
_DOTFILE_RE = re.compile(r"^\.[a-z][\w.-]*$")
# Initials and abbreviations with points: e.g, i.e, a.m, U.S.A.
_INITIALS_RE = re.compile(r"^(?:[A-Za-z]\.)+[A-Za-z]$")
# Extensions that are web domains when they end a bare word (`example.com`).
_DOMAINS = frozenset("com org net io dev ai co edu gov app".split())
# Framework names written like a file (`Next.js`) but meaning a project.
_JS_FRAMEWORKS = frozenset(
    "next node vue nuxt react express chart three d3 ember backbone angular alpine nest "
    "socket moment svelte solid preact".split()
)
# Path segments of a bare word without root or extension: lower-case names.
_SEGMENT_RE = re.compile(r"^[a-z0-9_.-]+$")

# Tools a command line may start with, when it is one word (`pytest`) or unusual.
_PROGRAMS = frozenset(
    """python python3 py pytest pip pip3 uv poetry tox nox ruff mypy pyright flake8 black
    isort pylint npm npx yarn pnpm node deno bun tsc jest vitest eslint prettier make cmake
    ctest ninja meson cargo rustc go gofmt mix elixir iex rake rspec bundle ruby gem rails php
    composer phpunit java javac mvn gradle gradlew dotnet swift kotlin docker kubectl helm
    terraform git gh bash sh zsh pwsh powershell ls cat grep rg find sed awk echo pwd curl
    wget rm cp mv mkdir touch chmod cd tar diff patch head tail wc sort xargs env bd
    submit""".split()
)
_SCRIPT_RE = re.compile(r"\.(?:py|sh|bash|js|mjs|cjs|ts|rb|pl|php|ps1|bat|cmd|exs)$")
# A setting written out (`MAX_RETRIES = 5`).
_SETTING_RE = re.compile(r"^\S+\s*=\s*\S")
# The marks that join a code name: `parse_date`, `--dry-run`, `a.b`, `x=1`, `src/a`.
_CODE_MARKS = frozenset("_=-./\\")
_NUMBER_RE = re.compile(r"^[\d.,]+$")
# A function named with its arity, as Elixir and Erlang write it (`list_panes/0`,
# `Tmux.launch/3`, `:mod.fun/1`): the code holds the name without it.
_ARITY_RE = re.compile(r"^(:?[A-Za-z_][\w.]*[?!]?)/\d{1,3}$")


@dataclass(frozen=True, slots=True)
class Targets:
    """What a sentence names, in order, where each first stands, and its prose: the
    sentence with every target replaced by MASK characters, so that its wording can be
    read on its own."""

    names: list[str]
    starts: list[int]
    prose: str


def find_targets(sentence: str) -> Targets:
    """The targets of a sentence and its prose."""
    spans = code_spans(sentence)
    outside_spans = _blanked(sentence, [span.span() for span in spans])
    links = list(LINK_RE.finditer(outside_spans)) if "](" in outside_spans else []
    found = [(link.start(), path) for link in links if (path := link_path(link.group(2)))]
    found += [
        (span.start, _without_arity(span.code)) for span in spans
        # a code span in a link's label names what the link points to
        if span.code.strip() and not _in_link(span.start, links)
    ]
    bare = list(_bare_paths(_blanked(outside_spans, [link.span() for link in links])))
    found += bare
    first: dict[str, int] = {}
    for start, name in sorted(found):
        first.setdefault(name, start)
    prose = _blanked(sentence, [
        *(span.span() for span in spans),
        *(link.span(2) for link in links),  # a link's label is prose
        *((start, start + len(path)) for start, path in bare),
    ])
    return Targets(list(first), list(first.values()), prose)


def _without_arity(code: str) -> str:
    arity = _ARITY_RE.match(code)
    return arity.group(1) if arity else code


def _in_link(position: int, links: list[re.Match[str]]) -> bool:
    """The position falls inside one of the links (in order and apart), after its start."""
    index = bisect.bisect_left(links, position, key=re.Match.start) - 1
    return index >= 0 and position < links[index].end()


def _blanked(text: str, spans: list[tuple[int, int]]) -> str:
    if not spans:
        return text
    characters = list(text)
    for start, end in spans:
        characters[start:end] = MASK * (end - start)
    return "".join(characters)


def _bare_paths(text: str) -> Iterator[tuple[int, str]]:
    """Where each bare path of a text starts, and the path, without the punctuation
    around it."""
    for word in _WORD_RE.finditer(text):
        # Every path holds a point or a slash: the test is cheap, and most words fail it.
        if _PATH_MARKS.isdisjoint(word.group()):
            continue
        if path := bare_path(word.group()):
            yield word.start() + word.group().index(path), path


def link_path(target: str) -> str | None:
    """The file a link target names (`file://` and line anchors taken off), or None
    for a web address or an anchor in the same page."""
    target = target.strip("<>").strip()
    if _FILE_URI_RE.match(target):
        target = unquote(_FILE_URI_RE.sub("", target, count=1))
    elif _WEB_LINK_RE.match(target):
        return None
    return _LINE_ANCHOR_RE.sub("", target) or None


def bare_path(word: str) -> str | None:
    """The path a word of prose names, without the punctuation around it, or None."""
    word = word.lstrip(_LEADING_JUNK).rstrip(_TRAILING_JUNK)
    if len(word) > 1 and word[0] == word[-1] == "_":
        word = word.strip("_")  # _emphasis_, never the underscores of `__init__.py`
    if not word or "://" in word or "@" in word or MASK in word:
        return None
    word = _LINE_ANCHOR_RE.sub("", word)
    return word if _is_path(word) else None


def _is_path(word: str) -> bool:
    """Rooted, or ending in a file name (not a web domain), or a chain of lower-case
    directory names (`src/app/models`, `components/`): two words joined by a slash,
    like `and/or` or `CI/CD`, are prose."""
    segments = re.split(r"[\\/]", word)
    if _ROOTED_RE.match(word):
        return True
    if _names_file(segments[-1]):
        return len(segments) > 1 or segments[-1].rsplit(".", 1)[-1] not in _DOMAINS
    if segments[-1] == "":
        segments.pop()  # a trailing slash: a directory
        return bool(segments) and all(_SEGMENT_RE.match(segment) for segment in segments)
    return len(segments) > 2 and all(_SEGMENT_RE.match(segment) for segment in segments)


def _names_file(name: str) -> bool:
    if _DOTFILE_RE.match(name):
        return True
    extension = _EXTENSION_RE.search(name)
    if not extension or not _NAME_CHARS_RE.fullmatch(name) or _INITIALS_RE.match(name):
        return False
    stem = name[:extension.start()]
    if extension.group(1) == "js" and stem.lower() in _JS_FRAMEWORKS:
        return False
    return bool(_LETTER_RE.search(stem))


def looks_like_command(target: str) -> bool:
    """A command line: it starts with a known tool (`pytest`, `npm test`), a path to a
    program (`./run.sh`, `bin/test -v`), a script and its arguments, or a word and a flag."""
    words = target.split()
    if not words:
        return False
    first = words[0]
    if len(words) == 1:
        return first in _PROGRAMS or _names_program(first)
    return first in _PROGRAMS or "/" in first or looks_like_script(first) or words[1].startswith("-")


def _names_program(path: str) -> bool:
    """A path to a program of its own (`bin/test`, `./configure`): not a directory, and
    no extension (a source file such as `src/app.py` is not run by its path)."""
    name = re.split(r"[\\/]", path)[-1]
    return ("/" in path or "\\" in path) and bool(name) and "." not in name


def looks_like_script(target: str) -> bool:
    """One file that runs as a program (`reproduce.py`)."""
    words = target.split()
    return len(words) == 1 and bool(_SCRIPT_RE.search(words[0]))


def looks_like_code(target: str) -> bool:
    """A path, a setting or a code name: what a change to a file is about (`src/a.py`,
    `MAX_RETRIES = 5`, `--dry-run`, `parse_date`, `load()`), not a number or a phrase."""
    target = target.strip()
    if not target or _NUMBER_RE.match(target):
        return False
    one_word = len(target.split()) == 1
    code_name = one_word and (not _CODE_MARKS.isdisjoint(target) or target.endswith("()"))
    return code_name or bool(_SETTING_RE.match(target)) or _is_path(target)
