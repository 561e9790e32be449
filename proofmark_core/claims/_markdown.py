"""An agent message cut into the units a claim can be: sentences, list items, table rows
and headings, each with the lead-in that introduces its list.

Fenced code blocks and quoted lines (``>``) are left out: code is not a claim, and a quote is
someone else's words or a draft. Line breaks inside a unit become single spaces; list
markers and heading marks are dropped; all other markdown stays as written.

Every rule here takes time linear in its text whatever the shape of a line (long runs of
spaces, dots, backticks or markers): a closing message is written by an agent, not by us.
"""

from __future__ import annotations

import re
from collections.abc import Iterator
from dataclasses import dataclass
from typing import Literal

# A link or image: [label](target "title"); the target may be in angle brackets. The
# label holds no bracket, so that a text full of brackets is still read in linear time.
LINK_RE = re.compile(
    r"!?\[([^\[\]\n]*+)\]\(\s*(<[^<>\n]++>|[^\s()<>]++)(?:\s+\"[^\"\n]*+\")?\s*\)"
)
# Stands in for each character of a code span or a link, so that the dots, colons and
# verbs inside one neither end a sentence nor count as the sentence's own wording.
MASK = "\N{SUBSTITUTE}"

_BACKTICKS_RE = re.compile(r"`+")
# The opening line of a fenced block, at any indentation (inside a list item too).
_FENCE_RE = re.compile(r"^\s*(`{3,}|~{3,})")
_QUOTE_RE = re.compile(r"^\s*>")
_HEADING_RE = re.compile(r"^ {0,3}#{1,6}(?:\s+(.*))?$")
_ITEM_RE = re.compile(r"^(\s*)(?:[-*+•]|\d{1,9}[.)])\s+(.*)$")
_ROW_RE = re.compile(r"^\s*\|")
# One cell of the row under a table's header: `---`, `:--`, `--:`, `:-:`.
_CELL_RULE_RE = re.compile(r":?-+:?")
# The labels SWE-agent and mini-swe-agent put before their reasoning.
_LABEL_RE = re.compile(r"^\s*(?:THOUGHT\s*:|DISCUSSION\b)\s*")

# A sentence ends at . ! or ? (with closing quotes, brackets or emphasis after it) and
# whitespace, or right after a full-width terminator, which takes no space after it. A run
# of marks is tried once, from its first mark and without backtracking: "a....x" costs
# its length, not its square.
_SENTENCE_END_RE = re.compile(r"(?<![.!?])[.!?]++[\"'”’)\]*_]*+(?=\s)|[。！？]+")
# Words whose point does not end a sentence.
_ABBREVIATIONS = frozenset(
    "e.g i.e vs cf approx incl esp viz etc al mr mrs ms dr st jr fig eq ca resp".split()
)
_LAST_WORD_RE = re.compile(r"([\w.]+)[.!?]+[\"'”’)\]*_]*$")
_NEXT_CHARACTER_RE = re.compile(r"\s*(\S)")
# Emphasis and spaces, which a lead-in's colon may stand in front of.
_MARKUP_RUN_RE = re.compile(r"[\s*_]*")

Place = Literal["paragraph", "item", "heading"]


@dataclass(frozen=True, slots=True)
class Unit:
    """One sentence, list item sentence, table row or heading of a message.

    ``lead`` is the text that introduces the list the unit stands in: the closest
    enclosing list item that ends in a colon, else the paragraph sentence ending in a
    colon right before the list, else the heading above it. ``heading`` is the heading
    of the section the unit stands in.
    """

    text: str
    place: Place
    lead: str | None = None
    heading: str | None = None


@dataclass(slots=True)
class _Block:
    place: Literal["paragraph", "item", "row", "heading"]
    indent: int
    lines: list[str]


def units(message: str) -> Iterator[Unit]:
    """The units of a message, in order."""
    leads = _LeadIns()
    for block in _blocks(message):
        text = " ".join(line.strip() for line in block.lines).strip()
        if block.place == "heading":
            leads.heading(text)
            if text:
                yield Unit(text, "heading")
        elif block.place == "paragraph":
            sentences = _split_sentences(text)
            yield from (Unit(sentence, "paragraph", None, leads.section) for sentence in sentences)
            leads.paragraph(sentences[-1] if sentences else "")
        else:
            lead = leads.item(block.indent)
            sentences = [text] if block.place == "row" else _split_sentences(text)
            yield from (Unit(sentence, "item", lead, leads.section) for sentence in sentences)
            if sentences:
                leads.after_item(block.indent, sentences[-1])


class _LeadIns:
    """Which heading or colon-ended sentence introduces the list item being read."""

    def __init__(self) -> None:
        self._heading: str | None = None
        self._paragraph: str | None = None
        self._items: list[tuple[int, str]] = []  # (indent, text) of enclosing lead-in items

    @property
    def section(self) -> str | None:
        return self._heading

    def heading(self, text: str) -> None:
        self._heading, self._paragraph, self._items = text or None, None, []

    def paragraph(self, last_sentence: str) -> None:
        self._paragraph = last_sentence if is_lead_in(last_sentence) else None
        self._items = []

    def item(self, indent: int) -> str | None:
        while self._items and self._items[-1][0] >= indent:
            self._items.pop()
        return self._items[-1][1] if self._items else self._paragraph or self._heading

    def after_item(self, indent: int, last_sentence: str) -> None:
        if is_lead_in(last_sentence):
            self._items.append((indent, last_sentence))


def is_lead_in(text: str) -> bool:
    """A unit that ends in a colon, before any emphasis and spaces, introduces what
    follows it."""
    # Matched on the reversed text: a search for the run at the end would try every start.
    reversed_text = text[::-1]
    markup = _MARKUP_RUN_RE.match(reversed_text)  # matches always, if only the empty text
    return markup is not None and reversed_text[markup.end():][:1] == ":"


@dataclass(frozen=True, slots=True)
class CodeSpan:
    """A code span: where it starts and ends (backticks included), and the code inside."""

    start: int
    end: int
    code: str

    def span(self) -> tuple[int, int]:
        return self.start, self.end


def code_spans(text: str) -> list[CodeSpan]:
    """The code spans of a text, in order: a run of backticks, anything, and the next run
    of exactly as many (``a`b`` too); a run that no later run matches is plain text.

    One pass from the end tells each run where the next run of its length is, so that a
    text full of unmatched runs is read in linear time.
    """
    runs = [run.span() for run in _BACKTICKS_RE.finditer(text)]
    closing: list[int | None] = [None] * len(runs)
    next_of_length: dict[int, int] = {}
    for index in range(len(runs) - 1, -1, -1):
        start, end = runs[index]
        closing[index] = next_of_length.get(end - start)
        next_of_length[end - start] = index
    spans: list[CodeSpan] = []
    index = 0
    while index < len(runs):
        close = closing[index]
        if close is None:
            index += 1
            continue
        (start, code_start), (code_end, end) = runs[index], runs[close]
        spans.append(CodeSpan(start, end, text[code_start:code_end]))
        index = close + 1
    return spans


def _split_sentences(text: str) -> list[str]:
    """The sentences of a paragraph, each with its end mark; never split inside a code
    span or a link, after an abbreviation, or before a lower-case letter."""
    masked = _mask_spans(text)
    sentences, start = [], 0
    for end in _SENTENCE_END_RE.finditer(masked):
        if _ends_sentence(masked, end):
            sentences.append(text[start:end.end()].strip())
            start = end.end()
    sentences.append(text[start:].strip())
    return [sentence for sentence in sentences if sentence]


def _mask_spans(text: str) -> str:
    """The text with every code span and link replaced by as many MASK characters."""
    return LINK_RE.sub(_masked, _with_spans_masked(text, [span.span() for span in code_spans(text)]))


def _with_spans_masked(text: str, spans: list[tuple[int, int]]) -> str:
    """The text with each (start, end) span, in order and apart, replaced by MASK
    characters."""
    pieces, done = [], 0
    for start, end in spans:
        pieces += [text[done:start], MASK * (end - start)]
        done = end
    pieces.append(text[done:])
    return "".join(pieces)


def _masked(match: re.Match[str]) -> str:
    return MASK * len(match.group())


def _ends_sentence(masked: str, end: re.Match[str]) -> bool:
    if not end.group().startswith((".", "!", "?")):
        return True  # a full-width terminator
    after = _NEXT_CHARACTER_RE.match(masked, end.end())
    if after is not None and after.group(1).islower():
        return False
    # An abbreviation is short: look back a few characters only, so that many sentences
    # in one paragraph cost no more than one each.
    word = _LAST_WORD_RE.search(masked[max(0, end.start() - 20):end.end()])
    return word is None or word.group(1).lower() not in _ABBREVIATIONS


def _blocks(message: str) -> Iterator[_Block]:
    """The paragraphs, list items, table rows and headings of a message; blank lines,
    rules, and the rows that only draw a table's lines or name its columns end a block
    and are dropped."""
    lines = _prose_lines(message)
    current: _Block | None = None
    for line, following in zip(lines, [*lines[1:], ""]):
        block = _block_started_by(line)
        if block is not None and block.place == "row" and _is_row_rule(following):
            block = None  # a table's header
        if block is not None and block.place == "paragraph" and current is not None:
            current.lines.append(line)  # a line that goes on the paragraph or item
            continue
        if current is not None:
            yield current
            current = None
        if block is not None and block.place in ("heading", "row"):
            yield block  # complete on its own line
        else:
            current = block
    if current is not None:
        yield current


def _block_started_by(line: str) -> _Block | None:
    """The block a line opens (a "paragraph" for any plain line), or None for a line
    that only ends blocks."""
    if not line.strip() or _is_rule(line) or _is_row_rule(line):
        return None
    if heading := _HEADING_RE.match(line):
        return _Block("heading", 0, [_without_closing_hashes(heading.group(1) or "")])
    if _ROW_RE.match(line):
        return _Block("row", 0, [line])
    if item := _ITEM_RE.match(line):
        return _Block("item", len(item.group(1).expandtabs(4)), [item.group(2)])
    return _Block("paragraph", 0, [line])


def _is_rule(line: str) -> bool:
    """A thematic break: up to three spaces, then three or more of one of - * _, with
    only whitespace between them (`---`, `* * *`)."""
    body = line.lstrip(" ")
    if len(line) - len(body) > 3 or body[:1] not in ("-", "*", "_"):
        return False
    mark = body[0]
    return body.count(mark) >= 3 and not body.replace(mark, "").strip()


def _is_row_rule(line: str) -> bool:
    """The row under a table's header (`|---|:-:|`, `--- | ---`): cells of dashes with an
    optional colon at either end, split by at least one pipe; outer pipes optional."""
    body = line.strip()
    if body.startswith("|"):
        body = body[1:]
    *cells, last = body.split("|")
    if not cells:
        return False
    return all(_CELL_RULE_RE.fullmatch(cell.strip()) for cell in cells) and (
        not last.strip() or bool(_CELL_RULE_RE.fullmatch(last.strip()))
    )


def _without_closing_hashes(text: str) -> str:
    """A heading's text without its optional closing marks ("## Changes ##"), which stand
    after a space: `C#` keeps its."""
    trimmed = text.rstrip()
    body = trimmed.rstrip("#")
    if body == trimmed or body and not body[-1].isspace():
        return text
    return body.rstrip()


def _prose_lines(message: str) -> list[str]:
    """The lines of a message, each line of a fenced code block or a quote blanked, so
    that it also ends the paragraph around it."""
    text = message.replace("\r\n", "\n").replace("\r", "\n")
    lines = _LABEL_RE.sub("", text, count=1).split("\n")
    fence: str | None = None
    for index, line in enumerate(lines):
        stripped = line.strip()
        if fence is not None:
            if stripped.startswith(fence) and not stripped.strip(fence[0]):
                fence = None
            lines[index] = ""
        elif opening := _FENCE_RE.match(line):
            fence, lines[index] = opening.group(1), ""
        elif _QUOTE_RE.match(line):
            lines[index] = ""
    return lines
