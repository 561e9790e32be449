"""The tool calls inside a Codex code-mode cell: JavaScript that calls ``tools.NAME(ARGS)``.

Only what a call spells out literally is read: strings (quoted, template or
``String.raw``), arrays and objects, and names the cell binds to one of those with
``const``, ``let`` or ``var`` (``const patch = `*** Begin Patch…`; tools.apply_patch(patch)``).
Any other argument (a computed value) is kept as its source text, an :class:`Expression`.
Calls inside strings and comments are not calls.
"""

from __future__ import annotations

import re
from dataclasses import dataclass

# What a scan for calls must step over whole, or a call.
SCAN_RE = re.compile(r"""
    //[^\n]* | /\*[\s\S]*?(?:\*/|\Z)
  | '(?:[^'\\\n]|\\[\s\S])*'? | "(?:[^"\\\n]|\\[\s\S])*"? | `(?:[^`\\]|\\[\s\S])*`?
  | (?<![\w$.])tools\s*\.\s*(?P<tool>[A-Za-z_$][\w$]*)\s*\(
  | (?<![\w$.])(?:const|let|var)\s+(?P<name>[A-Za-z_$][\w$]*)\s*=(?!=)
""", re.VERBOSE)
RAW = "String.raw"
# What a binding worth reading starts with: a literal (anything else is not followed).
LITERAL_RE = re.compile(r"\s*(?:String\.raw\s*)?[`'\"\[{]")
STRING_RE = re.compile(r"""'((?:[^'\\\n]|\\[\s\S])*)'|"((?:[^"\\\n]|\\[\s\S])*)"
                         |`((?:[^`\\]|\\[\s\S])*)`""", re.VERBOSE)
SPACE_RE = re.compile(r"(?:\s+|//[^\n]*|/\*[\s\S]*?(?:\*/|\Z))*")
KEY_RE = re.compile(r"[\w$]+")
ESCAPE_RE = re.compile(r"\\(u\{[0-9a-fA-F]+\}|u[0-9a-fA-F]{4}|x[0-9a-fA-F]{2}|\r\n|[\s\S])")
SIMPLE_ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "b": "\b", "f": "\f", "v": "\v", "0": "\0",
                  "\n": "", "\r\n": "", "\r": ""}
OPENERS = {"(": ")", "[": "]", "{": "}"}


@dataclass(frozen=True, slots=True)
class Expression:
    """An argument that is not a literal, as written."""

    source: str


@dataclass(frozen=True, slots=True)
class ToolCall:
    tool: str
    args: list[object]


def tool_calls(code: str) -> list[ToolCall]:
    """The ``tools.NAME(...)`` calls of the cell, in the order they are written."""
    calls: list[ToolCall] = []
    bound: dict[str, object] = {}
    position = 0
    while found := SCAN_RE.search(code, position):
        position = found.end()
        if found.group("tool"):
            parser = _Literals(code, position)
            arguments = [_bound(value, bound) for value in parser.arguments()]
            calls.append(ToolCall(found.group("tool"), arguments))
            position = max(parser.position, position)
        elif found.group("name") and LITERAL_RE.match(code, position):
            parser = _Literals(code, position)
            bound[found.group("name")] = parser.value()
            position = max(parser.position, position)
    return calls


def _bound(value: object, bound: dict[str, object]) -> object:
    """A name the cell bound to a literal, as that literal; any other value as it is."""
    if isinstance(value, Expression):
        return bound.get(value.source, value)
    if isinstance(value, list):
        return [_bound(item, bound) for item in value]
    if isinstance(value, dict):
        return {key: _bound(item, bound) for key, item in value.items()}
    return value


class _Literals:
    """Reads JavaScript literals from a position on; never raises on odd code."""

    def __init__(self, code: str, position: int) -> None:
        self.code = code
        self.position = position

    def arguments(self) -> list[object]:
        return self._sequence(")")

    def value(self) -> object:
        return self._value()

    def _value(self) -> object:
        self._space()
        raw = self.code.startswith(RAW, self.position)
        if raw and self.code[self.position + len(RAW):].lstrip().startswith("`"):
            self.position = self.code.index("`", self.position)
        char = self.code[self.position:self.position + 1]
        if char in ("'", '"', "`"):
            string = STRING_RE.match(self.code, self.position)
            if string:
                self.position = string.end()
                body = next(part for part in string.groups() if part is not None)
                return body if raw and char == "`" else _unescape(body)
        if char == "[":
            self.position += 1
            return self._sequence("]")
        if char == "{":
            self.position += 1
            return self._object()
        return self._expression()

    def _sequence(self, close: str) -> list[object]:
        values: list[object] = []
        while self._space() and self._peek() not in (close, ""):
            values.append(self._value())
            if not self._separator(close):
                break
        self._take(close)
        return values

    def _object(self) -> dict[str, object]:
        fields: dict[str, object] = {}
        while self._space() and self._peek() not in ("}", ""):
            key = self._key()
            self._space()
            if key is not None and self._take(":"):
                fields[key] = self._value()
            elif key is not None:
                fields[key] = Expression(key)  # {command} is {command: command}
            else:
                self._expression()  # ...spread or a computed key
            if not self._separator("}"):
                break
        self._take("}")
        return fields

    def _key(self) -> str | None:
        string = STRING_RE.match(self.code, self.position)
        if string:
            self.position = string.end()
            return _unescape(next(part for part in string.groups() if part is not None))
        word = KEY_RE.match(self.code, self.position)
        if word:
            self.position = word.end()
            return word.group()
        return None

    def _expression(self) -> Expression:
        """Source text up to the next comma or closing bracket at this depth."""
        start = self.position
        closers: list[str] = []
        while self.position < len(self.code):
            char = self.code[self.position]
            if char in ("'", '"', "`"):
                string = STRING_RE.match(self.code, self.position)
                self.position = string.end() if string else len(self.code)
                continue
            if char in OPENERS:
                closers.append(OPENERS[char])
            elif closers and char == closers[-1]:
                closers.pop()
            elif not closers and char in ",)]}":
                break
            self.position += 1
        if self.position == start:  # a stray character: step over it
            self.position += 1
        return Expression(self.code[start:self.position].strip())

    def _separator(self, close: str) -> bool:
        """Past a comma, true; at the closing bracket (not taken), false."""
        self._space()
        return self._take(",") or self._peek() != close and self._peek() != ""

    def _space(self) -> bool:
        self.position = SPACE_RE.match(self.code, self.position).end()  # type: ignore[union-attr]
        return True

    def _peek(self) -> str:
        return self.code[self.position:self.position + 1]

    def _take(self, char: str) -> bool:
        if self._peek() == char:
            self.position += 1
            return True
        return False


def _unescape(body: str) -> str:
    text = ESCAPE_RE.sub(_escaped, body)
    try:  # \uD83D\uDE00 spells one character in two halves
        return text.encode("utf-16", "surrogatepass").decode("utf-16")
    except UnicodeDecodeError:
        return text


def _escaped(found: re.Match[str]) -> str:
    escape = found.group(1)
    if escape.startswith(("u", "x")) and len(escape) > 1:
        code = int(escape.strip("ux{}"), 16)
        return chr(code) if code <= 0x10FFFF else found.group()
    return SIMPLE_ESCAPES.get(escape, escape)
