"""What a broken JSON text says before the point where it breaks.

A log still being written ends in a line cut short; a line can also break at one
point. The members and elements that end before that point are whole: they make a
value of their own once every container still open is closed, and a string cut short
at the very end is kept as far as it goes. A reader can then tell, for instance,
whether the broken line starts a new turn.
"""

from __future__ import annotations

import json
import re

# Strings (whole, or one left open at the end) and the marks of structure; numbers
# and literals are passed over, so a value after which the text breaks is left out.
TOKEN_RE = re.compile(r'"[^"\\]*(?:\\.[^"\\]*)*"|[{}\[\],:]|"')
CLOSING = {"{": "}", "[": "]"}
# Longer texts are not worth the scan: their break loses their turn all the same.
MOST = 1 << 24
# What may end a string cut short, and cannot stay in it: half of an escape.
HALF_ESCAPE_RE = re.compile(r"\\(?:u[0-9a-fA-F]{0,3})?$")


def whole_part(text: str) -> object | None:
    """The value that the whole members and elements of the text make, or None."""
    if len(text) > MOST:
        return None
    try:
        whole: object = json.loads(text)
        return whole
    except json.JSONDecodeError as exc:
        cut_in_string = exc.msg.startswith("Unterminated string")
        end = len(text) if cut_in_string else exc.pos
    except (ValueError, RecursionError):
        return None
    for candidate in _candidates(text, end, cut_in_string):
        try:
            part: object = json.loads(candidate)
        except (ValueError, RecursionError):
            continue
        return part
    return None


def _candidates(text: str, end: int, cut_in_string: bool) -> list[str]:
    """Texts that may be valid JSON, the fullest first."""
    closers: list[str] = []
    safe: str | None = None
    previous = ""
    found: list[str] = []
    for match in TOKEN_RE.finditer(text, 0, end):
        token = match.group()
        if token in CLOSING:
            closers.append(CLOSING[token])
            safe = text[:match.end()] + _closed(closers)
        elif token in "}]":
            if not closers or closers.pop() != token:
                break
            safe = text[:match.end()] + _closed(closers)
        elif token == ",":
            safe = text[:match.start()] + _closed(closers)
        elif token == '"':  # a string cut short: kept when it is a value
            if cut_in_string and _at_value(previous, closers):
                cut = HALF_ESCAPE_RE.sub("", text[match.start():end])
                found.append(text[:match.start()] + cut + '"' + _closed(closers))
            break
        elif _at_value(previous, closers):  # a whole string, as a value
            safe = text[:match.end()] + _closed(closers)
        previous = token
    if safe is not None:
        found.append(safe)
    return found


def _at_value(previous: str, closers: list[str]) -> bool:
    """Whether a string after that token is a value (not the key of a member)."""
    return bool(closers) and (previous == ":" or closers[-1] == "]" and previous in "[,")


def _closed(closers: list[str]) -> str:
    return "".join(reversed(closers))
