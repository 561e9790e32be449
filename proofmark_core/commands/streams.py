"""Where the commands read and write: standard streams or named files, and the one line
for an argument or an output that cannot be used."""

from __future__ import annotations

import contextlib
import io
import json
import sys
from collections.abc import Iterator
from typing import TYPE_CHECKING, TextIO, cast

from proofmark_core.records.files import open_path
from proofmark_core.records.input import TOO_DEEP, json_error, read_whole
from proofmark_core.records.shape import ShapeError, as_claim
from proofmark_core.report.tally import EXIT_UNUSABLE
from proofmark_core.report.terminal import one_line

if TYPE_CHECKING:
    from proofmark_core.verify import Claim


class UsageError(Exception):
    """An argument that cannot be used: reported before anything is read."""


def claims_file(name: str | None) -> list[Claim] | None:
    """The claims of ``--claims FILE``, a JSON list, each of the shape the engine reads."""
    if name is None:
        return None
    try:
        with open_path(name) as stream:
            claims = json.loads(read_whole(stream))
    except OSError as exc:
        raise UsageError(f"{name}: {exc.strerror or exc}") from None
    except ValueError as exc:
        raise UsageError(f"{name}: {json_error(exc)}") from None
    except RecursionError:
        raise UsageError(f"{name}: {TOO_DEEP}") from None
    if not isinstance(claims, list):
        raise UsageError(f"{name}: expected a JSON list of claims")
    try:
        return [as_claim(claim, f"[{index}]") for index, claim in enumerate(claims)]
    except ShapeError as exc:
        raise UsageError(f"{name}: {exc}") from None


@contextlib.contextmanager
def output(path: str | None) -> Iterator[TextIO]:
    """Standard output, or the named file, created anew."""
    if path is None or path == "-":
        _tolerate_unencodable(sys.stdout)
        yield sys.stdout
    else:
        # Like standard output, a file shows half of a character as its escape.
        with open(path, "w", encoding="utf-8", errors="backslashreplace") as out:
            yield out


@contextlib.contextmanager
def input_stream(name: str) -> Iterator[io.BufferedIOBase]:
    if name == "-":
        yield cast(io.BufferedIOBase, sys.stdin.buffer)
    else:
        with open_path(name) as stream:
            yield stream


def unusable(message: str) -> int:
    print(f"proofmark: {one_line(message)}", file=sys.stderr)
    return EXIT_UNUSABLE


def output_unusable(exc: OSError, name: str | None) -> int:
    """The one line for an output that cannot be written (a missing folder, a full disk),
    or for an input that failed outside its own reading, named by the error."""
    return unusable(f"{exc.filename or name or '<stdout>'}: {exc.strerror or exc}")


def _tolerate_unencodable(stream: TextIO) -> None:
    if isinstance(stream, io.TextIOWrapper):
        # A claim's text must not end the run because the locale cannot encode it.
        stream.reconfigure(errors="backslashreplace")
