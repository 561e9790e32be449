"""Claims taken from a turn's closing message (a small stand-in for the claims module).

Each sentence or list item of the closing message that names something in backquotes
is a claim of those targets; when the closing message names nothing, the nearest
earlier message that does is used.
"""

from __future__ import annotations

import re
from collections.abc import Sequence
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from proofmark_core.verify import Claim

FENCE_RE = re.compile(r"^\s*(```|~~~).*?^\s*\1", re.M | re.S)
PIECE_RE = re.compile(r"(?<=[.!?])\s+|\n+")
CODE_RE = re.compile(r"`([^`\n]+)`")
RAN_RE = re.compile(r"\b(ran|run|running|executed|tested)\b", re.I)
CHANGED_RE = re.compile(r"\b(added|created|wrote|updated|edited|changed|fixed|modified|"
                        r"removed|deleted|renamed|moved|replaced|implemented)\b", re.I)


def extract_claims(messages: Sequence[str]) -> list[Claim]:
    """The claims of a turn whose messages are given in order (the last one closes it)."""
    for message in reversed(messages):
        claims = [_claim(piece) for piece in _pieces(message) if CODE_RE.search(piece)]
        if claims:
            return claims
    return []


def _pieces(message: str) -> list[str]:
    return [piece.strip() for piece in PIECE_RE.split(FENCE_RE.sub("", message))
            if piece.strip()]


def _claim(text: str) -> Claim:
    wording = CODE_RE.sub("", text)
    kind = "command_ran" if RAN_RE.search(wording) else \
        "file_changed" if CHANGED_RE.search(wording) else "other"
    return {"kind": kind, "text": text, "targets": CODE_RE.findall(text)}
