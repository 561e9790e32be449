"""Text for what holds only UTF-8 (Arrow's strings, the HTML page): JSON allows lone
surrogates (a character cut in half, a file name that is not UTF-8), which UTF-8 cannot
encode."""

from __future__ import annotations

import re

SURROGATE_RE = re.compile("[\ud800-\udfff]")


def without_surrogates(text: str) -> str:
    """The text with every lone surrogate replaced by U+FFFD."""
    return text if text.isascii() else SURROGATE_RE.sub("\ufffd", text)
