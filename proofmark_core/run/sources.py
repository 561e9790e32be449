"""The inputs of a run, as turns to check: turn records, or the turns of agent logs.

A path may be a file of turn records, an agent log, an OpenHands conversation folder,
or a folder to walk for logs; ``-`` is standard input, which holds turn records.
A problem comes in order as a unit whose item holds the error, and the reading goes
on with the next record, turn or file.
"""

from __future__ import annotations

import contextlib
import io
import json
import os
import stat
import sys
from collections.abc import Callable, Iterable, Iterator, Sequence
from dataclasses import dataclass, replace
from pathlib import Path
from typing import TYPE_CHECKING, cast

from proofmark_core.claims.turns import read_turns
from proofmark_core.logs import TURNS, LogError, LogFile, find_logs, sniff
from proofmark_core.records.files import is_pipe, jsonl_name, open_input, plain_name
from proofmark_core.records.input import Item, decoded, line_spans, read_records
from proofmark_core.records.parquet import parquet_items
from proofmark_core.records.spool import spooled_lines, spooling
from proofmark_core.run.sessions import Sessions, names_its_session
from proofmark_core.run.units import Unit, Where

if TYPE_CHECKING:
    from proofmark_core.verify import Claim

STDIN = "<stdin>"
PARQUET = "parquet"


@dataclass(frozen=True, slots=True)
class WholeLog:
    """An agent log not read yet, in the format told: a worker process reads it and
    checks its turns."""

    path: str
    log_format: str


class Inputs:
    """Every turn of the named inputs, in order.

    With ``claims`` given, only the last turn of each input is kept, with those claims.
    JSONL records come undecoded unless ``decode`` is set: whoever checks them decodes;
    with ``lean`` too, they are decoded for checking only (see ``decoded``).
    ``for_workers`` leaves the reading to worker processes: the lines of a plain JSONL
    file are only found, each a span of its file (those of a compressed file or of a
    pipe, a span of a memory file they are put in), and an agent log comes as one unit
    holding a :class:`WholeLog` (but with claims given, whose last turn is wanted here).
    With ``sessions``, each turn of an agent log, and of a file of turn records that
    name their session, comes with its :class:`~proofmark_core.rules.Session`; a worker
    reads such a file whole, as it does a log, since its turns are read in order.
    The files for which ``skip`` is true are left out, named or found in a folder.
    """

    def __init__(self, names: Sequence[str], log_format: str,
                 claims: list[Claim] | None = None, decode: bool = False,
                 lean: bool = False, for_workers: bool = False, sessions: bool = False,
                 skip: Callable[[str], bool] | None = None) -> None:
        self._names = names
        self._skip = skip
        self._decode = decode
        self._lean = lean
        self._in_place = for_workers and not decode
        self._whole_logs = self._in_place and claims is None
        self._format = log_format
        self._claims = claims
        self._sessions = sessions

    def __iter__(self) -> Iterator[Unit]:
        for name in self._names:
            paths = [name] if name == "-" or not Path(name).is_dir() else find_logs(name)
            found = False
            for path in paths:
                found = True
                if self._skip is not None and name != "-" and self._skip(str(path)):
                    continue
                units = self._units(str(path))
                yield from units if self._claims is None else self._last_turn(units)
            if not found:
                yield _problem(Where(name), "no agent logs in this folder")

    def _last_turn(self, units: Iterator[Unit]) -> Iterator[Unit]:
        """The problems of an input, then its last turn with the claims given."""
        last = None
        for unit in units:
            if unit.item.error is None:
                last = unit
            else:
                yield unit
        if last is not None:
            item = decoded(last.item)
            if isinstance(item.value, dict):
                item = replace(item, value={**item.value, "claims": self._claims})
            yield replace(last, item=item)

    def _units(self, name: str) -> Iterator[Unit]:
        try:
            log_format = self._format_of(name)
            if log_format == PARQUET:
                yield from self._parquet_records(name)
            elif log_format == TURNS:
                yield from self._turn_records(name)
            elif self._whole_logs and not is_pipe(name):  # a pipe is read in this process
                yield Unit(Where(name), Item(1, WholeLog(name, log_format)), {})
            else:
                yield from self._log_turns(name, log_format)
        except LogError as exc:
            yield _problem(_place_of(exc), exc.message)
        except ImportError as exc:
            yield _problem(Where(name), str(exc))
        except OSError as exc:
            if isinstance(exc, BrokenPipeError):
                raise
            yield _problem(Where(name), exc.strerror or str(exc))

    def _format_of(self, name: str) -> str:
        if name == "-" or not Path(name).exists():
            return TURNS  # standard input holds turn records; a missing file is reported there
        if plain_name(name).endswith(".parquet"):
            return PARQUET
        if self._format == TURNS and not LogFile(name).holds_turn_records():
            raise LogError(name, "not turn records (--from turns): none of its first "
                                 "records has a \"run_log\"", 1)
        return sniff(LogFile(name)) if self._format == "auto" else self._format

    def _turn_records(self, name: str) -> Iterator[Unit]:
        jsonl = jsonl_name(name)
        if self._sessions and name != "-" and _first_names_its_session(name):
            if self._whole_logs:
                yield Unit(Where(name), Item(1, WholeLog(name, TURNS)), {})
            else:
                with _open(name, ahead=not self._in_place) as stream:
                    items = read_records(stream, jsonl=jsonl)
                    yield from map(Sessions().of, _numbered(name, items, by_line=True))
            return
        if jsonl and self._in_place and _regular_file(name):
            yield from _numbered(name, line_spans(name), by_line=True)
            return
        spool = spooled_lines if self._in_place and spooling() else None
        # Checked here, the records are decompressed beside the checking; for workers,
        # before they are forked, which a second thread would make unsafe.
        with _open(name, ahead=not self._in_place) as stream:
            items = read_records(stream, jsonl=jsonl, decode=self._decode, lean=self._lean,
                                 spool=spool)
            yield from _numbered(STDIN if name == "-" else name, items, by_line=True)

    def _parquet_records(self, name: str) -> Iterator[Unit]:
        yield from _numbered(name, parquet_items(name), by_line=False)

    def _log_turns(self, name: str, log_format: str) -> Iterator[Unit]:
        turns = 0
        sessions = Sessions() if self._sessions else None
        for turn in read_turns(name, log_format):
            turns += 1
            source = turn.source
            where = Where(name, turn.line, turns - 1, agent=cast(str, source["agent"]),
                          session=cast("str | None", source["session"]), turn=turns - 1,
                          closing_line=turn.closing_line)
            unit = Unit(where, Item(turn.line or 1, turn.record()), turn.skipped)
            yield unit if sessions is None else sessions.of(unit)
        if not turns:
            yield _problem(Where(name), "no turns in this log")


def _numbered(label: str, items: Iterable[Item], by_line: bool) -> Iterator[Unit]:
    """A unit per record, numbered from 0 (and placed by line, unless rows have none)."""
    # Counted by hand, not by enumerate: its reused pair, like a loop variable, would
    # keep the last record alive while the next is decoded.
    records = 0
    for item in items:
        unit = Unit(Where(label, item.line if by_line else None, records), item, {})
        del item
        records += 1
        yield unit
        del unit
    if not records:
        yield _problem(Where(label), "no records")


def _place_of(error: LogError) -> Where:
    """Where a log's error belongs: to the turn it cost, when it cost one."""
    if error.turn is None:
        return Where(error.file, error.line)
    agent, session, index = error.turn
    return Where(error.file, error.line, index, agent=agent, session=session, turn=index)


def _problem(where: Where, message: str) -> Unit:
    return Unit(where, Item(where.line or 1, error=message), {})


def _first_names_its_session(name: str) -> bool:
    """The file's first line is a turn record that names its agent and session, as
    ``proofmark import`` writes them."""
    try:
        with open_input(name) as stream:
            first = stream.readline()
        return names_its_session(json.loads(first))
    except (OSError, ValueError, RecursionError):
        return False  # reading the records says what is wrong


def _regular_file(name: str) -> bool:
    """A file that can be read at any offset: neither compressed, nor a pipe."""
    return name != "-" and not name.endswith(".gz") and stat.S_ISREG(os.stat(name).st_mode)


@contextlib.contextmanager
def _open(name: str, ahead: bool) -> Iterator[io.BufferedIOBase]:
    if name == "-":
        yield cast(io.BufferedIOBase, sys.stdin.buffer)
    else:
        with open_input(name, ahead) as stream:
            yield stream
