"""What a worker process is handed: a turn to check, or a whole agent log to read and
check turn by turn, since reading a log costs more than checking its turns."""

from __future__ import annotations

import os

from proofmark_core.records.input import Line, Span
from proofmark_core.run.checking import check_unit
from proofmark_core.run.sources import Inputs, WholeLog
from proofmark_core.run.units import Outcome, Unit

# What a turn from an agent log weighs in a batch of work: about what its record takes.
LOG_TURN_WEIGHT = 1 << 16


def check_task(unit: Unit, excerpts: bool = False, strict: bool = False) -> list[Outcome]:
    """What comes of the unit: of each turn of the log, when it holds a whole log."""
    log = unit.item.value
    if isinstance(log, WholeLog):
        turns = Inputs([log.path], log.log_format, sessions=not strict)
        return [check_unit(turn, excerpts, strict) for turn in turns]
    return [check_unit(unit, excerpts, strict)]


def task_weight(unit: Unit) -> int:
    """About the bytes the unit's task reads, for batching work."""
    value = unit.item.value
    if isinstance(value, Line):
        return len(value.text)
    if isinstance(value, Span):
        return value.size
    if isinstance(value, WholeLog):
        return _file_size(value.path)
    return LOG_TURN_WEIGHT


def _file_size(path: str) -> int:
    try:
        return os.path.getsize(path) if os.path.isfile(path) else LOG_TURN_WEIGHT
    except OSError:  # gone since: the worker says so
        return LOG_TURN_WEIGHT
