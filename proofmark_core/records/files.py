"""Input files by name: read as bytes, decompressed when gzipped, and told JSONL by name."""

from __future__ import annotations

import io
from pathlib import Path

from proofmark_core.records.gunzip import open_gzip

JSONL_SUFFIXES = (".jsonl", ".ndjson")


def open_input(path: str | Path, ahead: bool = False) -> io.BufferedIOBase:
    """The file for reading bytes, decompressed when its name ends in ``.gz`` (``ahead``
    of the reader, in a thread of its own, when asked)."""
    if str(path).endswith(".gz"):
        return open_gzip(path, ahead)
    return open(path, "rb")


def plain_name(path: str | Path) -> str:
    """The file name without a ``.gz`` suffix: what tells its layout."""
    return Path(path).name.removesuffix(".gz")


def jsonl_name(path: str | Path) -> bool:
    """Whether the name says JSON lines (``.jsonl``, ``.ndjson``, gzipped or not)."""
    return plain_name(path).endswith(JSONL_SUFFIXES)
