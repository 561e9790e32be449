"""The inputs of a run, as turns to check: turn records, or the turns of agent logs.

A path may be a file of turn records, an agent log, an OpenHands conversation folder,
or a folder to walk for logs; ``-`` is standard input, which holds turn records.
Problems are handed to a callback and the reading goes on with the next record,
turn or file.
"""

from __future__ import annotations

import contextlib
import io
import sys
from collections.abc import Callable, Iterator, Sequence
from dataclasses import replace
from pathlib import Path
from typing import TYPE_CHECKING, cast

from proofmark_core._checking import Unit
from proofmark_core._input import Item, decoded, read_records
from proofmark_core._output import Where
from proofmark_core.logs import TURNS, LogError, find_logs, read_turns, sniff
from proofmark_core.logs._file import LogFile, open_input, plain_name

if TYPE_CHECKING:
    from proofmark_core.verify import Claim

STDIN = "<stdin>"
JSONL_SUFFIXES = (".jsonl", ".ndjson")
Problem = Callable[[Where, str], None]


class Inputs:
    """Every turn of the named inputs, in order.

    With ``claims`` given, only the last turn of each input is kept, with those claims.
    JSONL records come undecoded unless ``decode`` is set: whoever checks them decodes.
    """

    def __init__(self, names: Sequence[str], log_format: str, problem: Problem,
                 claims: list[Claim] | None = None, decode: bool = False) -> None:
        self._names = names
        self._decode = decode
        self._format = log_format
        self._problem = problem
        self._claims = claims

    def __iter__(self) -> Iterator[Unit]:
        for name in self._names:
            for path in self._paths(name):
                units = self._units(path)
                if self._claims is None:
                    yield from units
                elif (last := _last(units)) is not None:
                    yield self._with_claims(last, self._claims)

    def _paths(self, name: str) -> Iterator[str]:
        if name == "-" or not Path(name).is_dir():
            yield name
            return
        found = False
        for path in find_logs(name):
            found = True
            yield str(path)
        if not found:
            self._problem(Where(name), "no agent logs in this folder")

    def _units(self, name: str) -> Iterator[Unit]:
        try:
            log_format = self._format
            if name != "-" and log_format == "auto" and Path(name).exists():
                log_format = sniff(LogFile(name))
            if name == "-" or log_format == TURNS or not Path(name).exists():
                yield from self._turn_records(name)
            else:
                yield from self._log_turns(name, log_format)
        except LogError as exc:
            self._problem(Where(exc.file, exc.line), exc.message)
        except OSError as exc:
            if isinstance(exc, BrokenPipeError):
                raise
            self._problem(Where(name), exc.strerror or str(exc))

    def _with_claims(self, unit: Unit, claims: list[Claim]) -> Unit:
        item = decoded(unit.item)
        if isinstance(item.value, dict):
            item = replace(item, value={**item.value, "claims": claims})
        return replace(unit, item=item)

    def _turn_records(self, name: str) -> Iterator[Unit]:
        label = STDIN if name == "-" else name
        records = 0
        with _open(name) as stream:
            jsonl = plain_name(name).endswith(JSONL_SUFFIXES)
            for index, item in enumerate(read_records(stream, jsonl=jsonl, decode=self._decode)):
                records += 1
                yield Unit(Where(label, item.line, index), item, {})
        if not records:
            self._problem(Where(label), "no records")

    def _log_turns(self, name: str, log_format: str) -> Iterator[Unit]:
        turns = 0
        for turn in read_turns(name, log_format):
            turns += 1
            source = turn.source
            where = Where(name, turn.line, turns - 1, agent=cast(str, source["agent"]),
                          session=cast("str | None", source["session"]), turn=turns - 1)
            yield Unit(where, Item(turn.line or 1, turn.record()), turn.skipped)
        if not turns:
            self._problem(Where(name), "no turns in this log")


def _last(units: Iterator[Unit]) -> Unit | None:
    last = None
    for last in units:
        pass
    return last


@contextlib.contextmanager
def _open(name: str) -> Iterator[io.BufferedIOBase]:
    if name == "-":
        yield cast(io.BufferedIOBase, sys.stdin.buffer)
    else:
        with open_input(name) as stream:
            yield cast(io.BufferedIOBase, stream)
