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
from collections.abc import Iterator, Sequence
from dataclasses import replace
from functools import partial
from typing import cast

import pyarrow
import ray
import ray.data

from proofmark_core.records.parquet import record_item
from proofmark_core.run.batch import ROW_COLUMNS, Row, outcome_rows, staged, utf8_row
from proofmark_core.run.checking import check_unit
from proofmark_core.run.sources import Inputs
from proofmark_core.run.units import Unit, Where

__all__ = ["claim_rows", "rows_on_ray"]

# Turns per batch of the checking step: a few, so that big turns spread over the workers.
TURNS_PER_BATCH = 2
READ_CPUS = 0.5
SCHEMA = pyarrow.schema([(name, getattr(pyarrow, kind)()) for name, kind in ROW_COLUMNS.items()])
UNIT_SCHEMA = pyarrow.schema([("unit", pyarrow.binary())])


def claim_rows(dataset: ray.data.Dataset, *, log_format: str = "auto",
               strict: bool = False) -> ray.data.Dataset:
    """A Dataset with a row per claim of the turns that the dataset's rows name or hold."""
    columns = dataset.columns() or []
    if "path" in columns:
        # Reading asks for half a CPU: a request unlike the checking step's keeps Ray Data
        # from fusing the two, so the turns of one big file spread over the workers.
        # Each turn travels with its session, which the reading gathers in order.
        units = dataset.map_batches(partial(_read_paths, log_format=log_format, strict=strict),
                                    batch_size=1, batch_format="pyarrow", num_cpus=READ_CPUS)
    else:
        units = dataset.map_batches(_record_units, batch_format="pyarrow")
    return units.map_batches(partial(_check_units, strict=strict), batch_size=TURNS_PER_BATCH,
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
            for unit in Inputs(local, log_format, sessions=not strict):
                file = _renamed(original(unit.where.file), path, name)
                yield _packed([replace(unit, where=replace(unit.where, file=file))])


def _renamed(file: str, path: str, name: str) -> str:
    """The file as the input that holds it was named (a folder's files under its name)."""
    if file == path or file.startswith(path.rstrip("/") + "/"):
        return name + file[len(path):]
    return file


def _record_units(batch: pyarrow.Table) -> pyarrow.Table:
    rows = batch.to_pylist()
    return _packed([Unit(Where(str(row.get("path") or "<dataset>")), record_item(1, row), {})
                    for row in rows])


def _packed(units: list[Unit]) -> pyarrow.Table:
    # Units travel pickled: their records are nested JSON that no one column type fits.
    return pyarrow.Table.from_pylist([{"unit": pickle.dumps(unit)} for unit in units],
                                     schema=UNIT_SCHEMA)


def _check_units(batch: pyarrow.Table, strict: bool = False) -> pyarrow.Table:
    rows: list[Row] = []
    for packed in batch.column("unit").to_pylist():
        unit = pickle.loads(packed)
        rows.extend(map(utf8_row, outcome_rows(check_unit(unit, strict=strict))))
    return pyarrow.Table.from_pylist(rows, schema=SCHEMA)
