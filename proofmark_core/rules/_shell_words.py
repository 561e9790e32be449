"""The words of a command line as ``shlex`` reads it in POSIX mode, splitting at spaces
with ``;&|()`` its punctuation and no comments, but by regular expressions: shlex reads
a character at a time in Python, which long command lines (scripts, heredocs) make
costly.

Outside quotes a backslash escapes the next character; inside double quotes it escapes
only ``"`` and ``\\``; single quotes escape nothing. A run of punctuation is one word.
"""

from __future__ import annotations

import re

SPACES = " \t\r\n"
PUNCTUATION = ";&|()"
_QUOTED = r"""\\[\s\S]|'[^']*'|"(?:[^"\\]|\\[\s\S])*\""""
# A run of punctuation, a word, or the quote or backslash that leaves one open.
TOKEN_RE = re.compile(
    rf"""([{PUNCTUATION}]+)|((?:[^{SPACES}{PUNCTUATION}'"\\]|{_QUOTED})+)|(['"\\])""")
PLAIN_TOKEN_RE = re.compile(rf"[{PUNCTUATION}]+|[^{SPACES}{PUNCTUATION}]+")
QUOTING_RE = re.compile(r"""['"\\]""")
PIECE_RE = re.compile(r"""\\([\s\S])|'([^']*)'|"((?:[^"\\]|\\[\s\S])*)\"""")
ESCAPED_IN_DOUBLE_RE = re.compile(r'\\(["\\])')


def shell_words(line: str) -> list[str]:
    """The words and punctuation of the line; ValueError, as shlex raises it, for a
    quote left open or a backslash at the end."""
    if not QUOTING_RE.search(line):
        return PLAIN_TOKEN_RE.findall(line)
    words: list[str] = []
    for punctuation, word, left_open in TOKEN_RE.findall(line):
        if left_open:
            raise ValueError(f"no closing quotation or escaped character after {left_open}")
        words.append(punctuation or (PIECE_RE.sub(_unquoted, word)
                                     if QUOTING_RE.search(word) else word))
    return words


def _unquoted(piece: re.Match[str]) -> str:
    escaped, single, double = piece.groups()
    if escaped is not None:
        return escaped
    if single is not None:
        return single
    return ESCAPED_IN_DOUBLE_RE.sub(r"\1", double)
