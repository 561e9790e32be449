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
TOKEN_RE = re.compile(rf"""[{SPACES}]+|([{PUNCTUATION}]+)|((?:[^{SPACES}{PUNCTUATION}'"\\]|{_QUOTED})+)""")
PIECE_RE = re.compile(r"""\\([\s\S])|'([^']*)'|"((?:[^"\\]|\\[\s\S])*)\"""")
ESCAPED_IN_DOUBLE_RE = re.compile(r'\\(["\\])')


def shell_words(line: str) -> list[str]:
    """The words and punctuation of the line; ValueError, as shlex raises it, for a
    quote left open or a backslash at the end."""
    words: list[str] = []
    at = 0
    for match in TOKEN_RE.finditer(line):
        if match.start() != at:
            break
        at = match.end()
        punctuation, word = match.groups()
        if punctuation is not None:
            words.append(punctuation)
        elif word is not None:
            words.append(PIECE_RE.sub(_unquoted, word) if "'" in word or '"' in word
                         or "\\" in word else word)
    if at != len(line):
        raise ValueError(f"no closing quotation or escaped character at {at}")
    return words


def _unquoted(piece: re.Match[str]) -> str:
    escaped, single, double = piece.groups()
    if escaped is not None:
        return escaped
    if single is not None:
        return single
    return ESCAPED_IN_DOUBLE_RE.sub(r"\1", double)
