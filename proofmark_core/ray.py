"""Claim rows of turns on Ray Data: a row per claim, computed in ``map_batches``.

Install with ``pip install 'proofmark-core[ray]'``. From a Dataset of paths (a ``path``
column: agent logs, folders of them, JSONL or Parquet files of turn records, local or
on any file system pyarrow reads) or of turn records (a ``record`` column of JSON text,
or ``run_log`` and ``claims`` columns)::

    import ray.data
    from proofmark_core.ray import claim_rows

    rows = claim_rows(ray.data.from_items([{"path": "s3://bucket/sessions/"}]))
    rows.write_parquet("s3://bucket/verdicts/")

Each row holds file, agent, session, turn, record, claim, kind, text, verdict,
evidence, engine_verdict and engine_evidence (what the engine said, when a product
rule changed it), and ``error`` (set, with the verdict empty, for a turn or claim that
could not be checked). With ``strict=True`` the verdicts are the engine's, each turn
judged alone.
"""

from __future__ import annotations

import logging
import os
import pickle
from collections.abc import Iterable, Iterator, Sequence
from dataclasses import replace
from functools import partial
from typing import cast

import pyarrow
import ray
import ray.data

from proofmark_core.records.input import Item, Line
from proofmark_core.records.parquet import record_item
from proofmark_core.run.batch import ROW_COLUMNS, Row, outcome_rows, staged, utf8_row
from proofmark_core.run.checking import check_unit
from proofmark_core.run.sources import Inputs
from proofmark_core.run.tasks import task_weight
from proofmark_core.run.units import Outcome, Unit, Where

__all__ = ["claim_rows", "rows_on_ray"]

# Bytes of turns per batch of the checking step: big turns each alone, so that they
# spread over the workers; small ones together, so that they share a task's cost.
BATCH_BYTES = 1 << 20
READ_CPUS = 0.5
SCHEMA = pyarrow.schema([(name, getattr(pyarrow, kind)()) for name, kind in ROW_COLUMNS.items()])
# A unit on its way to be checked: its place and session (pickled) and its turn, as the
# JSONL line it was read from, or pickled when a reader decoded it.
UNIT_SCHEMA = pyarrow.schema([("place", pyarrow.binary()), ("turn", pyarrow.large_binary()),
                              ("pickled", pyarrow.bool_())])


def claim_rows(dataset: ray.data.Dataset, *, log_format: str = "auto",
               strict: bool = False) -> ray.data.Dataset:
    """A Dataset with a row per claim of the turns that the dataset's rows name or hold."""
    columns = dataset.columns() or []
    if "path" not in columns:
        # Records in the rows: read and checked in one step.
        return dataset.map_batches(partial(_check_records, strict=strict),
                                   batch_format="pyarrow")
    # Reading asks for half a CPU: a request unlike the checking step's keeps Ray Data
    # from fusing the two, so that the turns of one big file spread over the workers.
    # Each turn travels with its session, which the reading gathers in order.
    units = dataset.map_batches(partial(_read_paths, log_format=log_format, strict=strict),
                                batch_size=1, batch_format="pyarrow", num_cpus=READ_CPUS)
    return units.map_batches(partial(_check_units, strict=strict), batch_size=None,
                             batch_format="pyarrow")


def rows_on_ray(paths: Sequence[str], log_format: str, address: str,
                cpus: int | None = None, strict: bool = False) -> Iterator[Row]:
    """The rows of the inputs, in input order, computed on Ray: a local one started
    here ("local", with ``cpus`` CPUs), or the cluster at ``address`` ("auto" finds it)."""
    started = not ray.is_initialized()
    if started:
        ray.init(address=None if address == "local" else address,
                 num_cpus=cpus if address == "local" else None,
                 include_dashboard=False, log_to_driver=False, configure_logging=False)
    try:
        context = ray.data.DataContext.get_current()
        context.execution_options.preserve_order = True
        logging.getLogger("ray.data").setLevel(logging.WARNING)
        # Ray's workers run elsewhere than here: they get local paths made absolute,
        # and the rows name the inputs as they were given.
        items = [{"path": path if "://" in path else os.path.abspath(path), "name": path}
                 for path in paths]
        dataset = claim_rows(ray.data.from_items(items), log_format=log_format, strict=strict)
        for batch in dataset.iter_batches(batch_format="pyarrow", batch_size=None):
            yield from cast(pyarrow.Table, batch).to_pylist()
    finally:
        if started:
            ray.shutdown()


def _read_paths(batch: pyarrow.Table, log_format: str,
                strict: bool = False) -> Iterator[pyarrow.Table]:
    paths = batch.column("path").to_pylist()
    names = batch.column("name").to_pylist() if "name" in batch.column_names else paths
    for path, name in zip(paths, names):
        with staged([path]) as (local, original):
            units, size = [], 0
            for unit in Inputs(local, log_format, sessions=not strict):
                file = _renamed(original(unit.where.file), path, name)
                units.append(replace(unit, where=replace(unit.where, file=file)))
                size += task_weight(unit)
                if size >= BATCH_BYTES:
                    yield _packed(units)
                    units, size = [], 0
            if units:
                yield _packed(units)


def _renamed(file: str, path: str, name: str) -> str:
    """The file as the input that holds it was named (a folder's files under its name)."""
    if file == path or file.startswith(path.rstrip("/") + "/"):
        return name + file[len(path):]
    return file


def _packed(units: list[Unit]) -> pyarrow.Table:
    places = [pickle.dumps((unit.where, unit.skipped, unit.item.line, unit.item.error,
                            unit.session)) for unit in units]
    turns, pickled = zip(*(_packed_turn(unit.item) for unit in units))
    return pyarrow.Table.from_arrays([places, list(turns), list(pickled)], schema=UNIT_SCHEMA)


def _packed_turn(item: Item) -> tuple[bytes | None, bool]:
    """The turn as it travels, and whether it is pickled."""
    if item.error is not None:
        return None, False
    if isinstance(item.value, Line):
        return item.value.text, False
    return pickle.dumps(item.value), True


def _unpacked(place: bytes, turn: bytes | None, pickled: bool) -> Unit:
    where, skipped, line, error, session = pickle.loads(place)
    if turn is None:  # no turn, only what was wrong with it
        return Unit(where, Item(line, error=error), skipped, session)
    value = pickle.loads(turn) if pickled else Line(turn)
    return Unit(where, Item(line, value), skipped, session)


def _check_units(batch: pyarrow.Table, strict: bool = False) -> pyarrow.Table:
    columns = (batch.column(name).to_pylist() for name in UNIT_SCHEMA.names)
    return _rows_table(check_unit(_unpacked(*unit), strict=strict) for unit in zip(*columns))


def _check_records(batch: pyarrow.Table, strict: bool = False) -> pyarrow.Table:
    rows = batch.to_pylist()
    return _rows_table(check_unit(Unit(Where(str(row.get("path") or "<dataset>")),
                                       record_item(1, row), {}), strict=strict)
                       for row in rows)


def _rows_table(outcomes: Iterable[Outcome]) -> pyarrow.Table:
    """The rows of the outcomes as one table, built column by column."""
    columns: dict[str, list[object]] = {name: [] for name in ROW_COLUMNS}
    for outcome in outcomes:
        for row in outcome_rows(outcome):
            for name, value in utf8_row(row).items():
                columns[name].append(value)
    return pyarrow.Table.from_pydict(columns, schema=SCHEMA)
