"""Parquet in and out, through pyarrow, which only the ``ray`` extra installs.

Turn records in Parquet have either a ``record`` column holding each record as JSON
text, or ``run_log`` and ``claims`` columns (and optionally ``source``), each JSON
text or nested values.
"""

from __future__ import annotations

import importlib
import json
from collections.abc import Iterable, Iterator
from types import ModuleType

from proofmark_core.records.files import open_path
from proofmark_core.records.input import Item, Line

NEEDS_PYARROW = "Parquet needs pyarrow: pip install 'proofmark-core[ray]'"
RECORD_COLUMNS = ("run_log", "claims", "source")
ROWS_PER_BATCH = 256


def parquet_items(path: str) -> Iterator[Item]:
    """Each row of a Parquet file of turn records, as an Item numbered from 1."""
    parquet = pyarrow_module("pyarrow.parquet")
    number = 0
    with open_path(path) as source:
        for batch in parquet.ParquetFile(source).iter_batches(batch_size=ROWS_PER_BATCH):
            for row in batch.to_pylist():
                number += 1
                yield record_item(number, row)


def record_item(number: int, row: dict[str, object]) -> Item:
    """A turn record from a table row (a Parquet row, a row of a Ray Dataset)."""
    if isinstance(row.get("record"), str):
        return Item(number, Line(str(row["record"]).encode()))
    record: dict[str, object] = {}
    for column in RECORD_COLUMNS:
        value = row.get(column)
        if isinstance(value, str):
            try:
                value = json.loads(value)
            except ValueError as exc:
                return Item(number, error=f"{column}: invalid JSON: {exc}")
        if value is not None or column != "source":
            record[column] = value
    return Item(number, record)


class ParquetWriter:
    """Rows of one flat schema written in batches to a Parquet file (a path, or a
    binary stream, which stays open)."""

    def __init__(self, sink: object, columns: dict[str, str]) -> None:
        pyarrow = pyarrow_module("pyarrow")
        self._parquet = pyarrow_module("pyarrow.parquet")
        self._schema = pyarrow.schema([(name, getattr(pyarrow, kind)())
                                       for name, kind in columns.items()])
        self._writer = self._parquet.ParquetWriter(sink, self._schema)
        self._rows: list[dict[str, object]] = []

    def write(self, rows: Iterable[dict[str, object]]) -> None:
        self._rows.extend(rows)
        if len(self._rows) >= ROWS_PER_BATCH:
            self._flush()

    def close(self) -> None:
        self._flush()
        self._writer.close()

    def _flush(self) -> None:
        if self._rows:
            table = pyarrow_module("pyarrow").Table.from_pylist(self._rows, schema=self._schema)
            self._writer.write_table(table)
            self._rows.clear()


def pyarrow_module(module: str) -> ModuleType:
    try:
        return importlib.import_module(module)
    except ImportError:
        raise ImportError(NEEDS_PYARROW) from None
