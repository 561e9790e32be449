"""Turn records decoded by msgspec, when it is installed, keeping only what checking reads.

``json.loads`` stays the reference. This decoding only takes the common case faster: a
line of valid UTF-8 and strict JSON whose record has the plain types the engine reads
(``plainly_sound``). Anything else (no msgspec, invalid input, a lone surrogate, a
number out of range, nesting near the interpreter's limit, another type or a field
missing) gives None, and the line is decoded by ``json.loads``, so that every verdict,
error and message is the reference's. Fields that neither the engine nor a product rule
reads are skipped unbuilt; claims, the source and the refused writes are kept whole. A
rule that reads another field of the run log must add it here.
"""

from __future__ import annotations

import sys
from typing import Any, TypedDict

from proofmark_core._turn import plainly_sound

# Nesting this much shallower than json.loads can reach goes to json.loads, whose
# recursion limit then decides.
DEPTH_MARGIN = 16


class _Event(TypedDict, total=False):
    wrote: bool
    payload: str | None
    tool: str
    command: str | None
    output: str | None


class _External(TypedDict, total=False):
    args: Any


class _Command(TypedDict, total=False):
    command: str | None
    exit_code: int | float | str | None
    output: str


class _RunLog(TypedDict, total=False):
    events: list[_Event]
    external: list[_External]
    written: list[str]
    commands: list[_Command]
    refused: Any  # what the product rules read of the writes that did not happen


class _Record(TypedDict, total=False):
    run_log: _RunLog
    claims: list[Any]
    source: Any


try:
    import msgspec
except ImportError:  # the standard library's json decodes every record
    _DECODER: msgspec.json.Decoder[_Record] | None = None
else:
    _DECODER = msgspec.json.Decoder(_Record)


def lean_record(line: bytes) -> object | None:
    """The record of a JSONL line with only what checking reads, or None when
    ``json.loads`` must decode it."""
    if _DECODER is None:
        return None
    limit = sys.getrecursionlimit()
    try:
        sys.setrecursionlimit(limit - DEPTH_MARGIN)
        record = _DECODER.decode(line)
    except Exception:  # anything unusual: the reference decides
        return None
    finally:
        sys.setrecursionlimit(limit)
    return record if plainly_sound(record) else None
