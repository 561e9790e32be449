"""Claim rows of many turns: the pipeline behind ``proofmark batch`` and ``proofmark_core.ray``.

One flat row per claim (and one per problem, with ``error`` set), so that results of
any size go into Parquet or JSONL and on into whatever reads those. Inputs may be URIs
of any file system pyarrow reads (``s3://...``): they are copied to a local folder
first, and the rows name them as given.
"""

from __future__ import annotations

import contextlib
import io
import json
import shutil
import tempfile
from collections.abc import Callable, Iterable, Iterator, Sequence
from functools import partial
from pathlib import Path
from typing import Any, BinaryIO, cast

from proofmark_core.records.parquet import ParquetWriter, pyarrow_module
from proofmark_core.records.utf8 import without_surrogates
from proofmark_core.run.pool import WorkerDied, ordered_map
from proofmark_core.run.sources import Inputs
from proofmark_core.run.tasks import check_task, task_weight
from proofmark_core.run.units import Outcome, Unit, Where

# Column name: pyarrow type, in the order rows are written.
ROW_COLUMNS = {
    "file": "string", "line": "int64", "agent": "string", "session": "string",
    "turn": "int64", "record": "int64", "claim": "int64", "kind": "string", "text": "string",
    "verdict": "string", "evidence": "string", "engine_verdict": "string",
    "engine_evidence": "string", "error": "string",
}
Row = dict[str, object]


def outcome_rows(outcome: Outcome) -> list[Row]:
    """A row per claim result and per error of one checked turn, in claim order."""
    rows = []
    for where, found, _ in outcome.events:
        if isinstance(found, str):
            rows.append(problem_row(where, found))
        else:
            rows.append({**_place(where), "kind": found.claim.get("kind", "other"),
                         "text": found.claim.get("text", ""), "verdict": found.verdict,
                         "evidence": found.evidence, "engine_verdict": found.engine_verdict,
                         "engine_evidence": found.engine_evidence, "error": None})
    return rows


def problem_row(where: Where, message: str) -> Row:
    return {**_place(where), "kind": None, "text": None, "verdict": None, "evidence": None,
            "engine_verdict": None, "engine_evidence": None, "error": message}


def _place(where: Where) -> Row:
    # A turn record without a source is known by its place in its file.
    turn = where.turn if where.turn is not None else where.record
    return {"file": where.file, "line": where.line, "agent": where.agent,
            "session": where.session, "turn": turn, "record": where.record, "claim": where.claim}


def utf8_row(row: Row) -> Row:
    """The row with its texts as UTF-8 holds them, for Arrow and for JSONL files that
    every reader can read: a lone surrogate is U+FFFD."""
    return {key: without_surrogates(value) if isinstance(value, str) else value
            for key, value in row.items()}


def row_place(row: Row) -> Where:
    """Where a row comes from, as the command's error messages name it."""
    def number(key: str) -> int | None:
        value = row[key]
        return value if isinstance(value, int) else None

    return Where(str(row["file"]), number("line"), number("record"), number("claim"),
                 row["agent"] if isinstance(row["agent"], str) else None, None, number("turn"))


def rows_of(paths: Sequence[str], log_format: str, jobs: int,
            strict: bool = False) -> Iterator[Row]:
    """The rows of every input, in input order, checked in ``jobs`` processes; with
    ``strict``, the engine's verdicts."""
    if jobs > 1:
        import proofmark_core.records.lean  # noqa: F401  here once, not in each forked worker
    with staged(paths) as (local, original):
        units = Inputs(local, log_format, for_workers=jobs > 1, sessions=not strict)
        check = partial(check_task, strict=strict)
        try:
            for outcomes in ordered_map(check, units, jobs, task_weight):
                for outcome in outcomes:
                    for row in outcome_rows(outcome):
                        yield {**row, "file": original(str(row["file"]))}
        except WorkerDied as exc:
            where = cast(Unit, exc.items[0]).where
            yield {**problem_row(where, str(exc)), "file": original(where.file)}


@contextlib.contextmanager
def staged(paths: Sequence[str]) -> Iterator[tuple[list[str], Callable[[str], str]]]:
    """Local names for the inputs, remote ones copied into a temporary folder, and a
    function that gives the original name of a file read from that folder."""
    if not any(_remote(path) for path in paths):
        yield list(paths), lambda file: file
        return
    folder = tempfile.mkdtemp(prefix="proofmark-")
    try:
        copies = {path: _fetch(path, Path(folder) / str(index)) if _remote(path) else path
                  for index, path in enumerate(paths)}
        originals = {copy: path for path, copy in copies.items() if copy != path}

        def original(file: str) -> str:
            for copy, uri in originals.items():
                if file == copy or file.startswith(copy + "/"):
                    return uri + file[len(copy):]
            return file

        yield [copies[path] for path in paths], original
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def _remote(path: str) -> bool:
    return "://" in path


def _fetch(uri: str, into: Path) -> str:
    """A local copy of the file or folder at the URI."""
    fs = pyarrow_module("pyarrow.fs")
    filesystem, root = fs.FileSystem.from_uri(uri)
    info = filesystem.get_file_info(root)
    if info.type == fs.FileType.NotFound:
        return str(into / "missing" / Path(root).name)  # reported as a missing file
    if info.type == fs.FileType.File:
        target = into / Path(root).name
        _copy(filesystem, root, target)
        return str(target)
    for entry in filesystem.get_file_info(fs.FileSelector(root, recursive=True)):
        if entry.type == fs.FileType.File:
            _copy(filesystem, entry.path, into / Path(root).name / Path(entry.path).relative_to(root))
    return str(into / Path(root).name)


def _copy(filesystem: Any, source: str, target: Path) -> None:
    target.parent.mkdir(parents=True, exist_ok=True)
    with filesystem.open_input_stream(source) as stream, target.open("wb") as out:
        shutil.copyfileobj(stream, out)


class RowWriter:
    """Rows into a Parquet file when its name ends in ``.parquet``, JSONL otherwise; the
    name may be a URI of any file system pyarrow writes."""

    def __init__(self, out: str) -> None:
        self._sink = _output_stream(out)
        self._parquet = ParquetWriter(self._sink, ROW_COLUMNS) if out.endswith(".parquet") \
            else None
        self._text = None if self._parquet else io.TextIOWrapper(self._sink, encoding="utf-8")

    def write(self, rows: Iterable[Row]) -> None:
        rows = map(utf8_row, rows)
        if self._parquet is not None:
            self._parquet.write(rows)
        elif self._text is not None:
            self._text.writelines(json.dumps(row, ensure_ascii=False) + "\n" for row in rows)

    def close(self) -> None:
        if self._parquet is not None:
            self._parquet.close()
        if self._text is not None:
            self._text.close()
        else:
            self._sink.close()


def _output_stream(out: str) -> BinaryIO:
    if not _remote(out):
        return open(out, "wb")
    filesystem, path = pyarrow_module("pyarrow.fs").FileSystem.from_uri(out)
    return cast(BinaryIO, filesystem.open_output_stream(path))
