"""The ``proofmark`` command: check the claims of turn records read from files or stdin.

Exit status: 0 when no claim got a verdict named by --fail-on, 1 when one did,
2 when an argument or some input could not be used (the rest is still checked).
"""

from __future__ import annotations

import argparse
import contextlib
import io
import os
import sys
from collections.abc import Iterator, Sequence
from dataclasses import replace
from typing import TYPE_CHECKING, cast

from proofmark_core import __version__
from proofmark_core._input import read_records
from proofmark_core._output import JsonDocument, JsonLines, Table, Tally, Where, Writer
from proofmark_core._shape import ShapeError, as_claim, split_record
from proofmark_core._terminal import Progress, one_line, wants_colour
from proofmark_core.api import VERDICTS, ClaimResult, check_claim, check_turn

if TYPE_CHECKING:
    from proofmark_core.verify import Claim, RunLog

STDIN = "<stdin>"
JSONL_SUFFIXES = (".jsonl", ".ndjson")
EXIT_OK, EXIT_FAILED, EXIT_UNUSABLE = 0, 1, 2
EXIT_INTERRUPTED = 130


class Report:
    """Counts what was checked, hands it to the writer, and says how the run ended."""

    def __init__(self, writer: Writer, progress: Progress, fail_on: frozenset[str]) -> None:
        self.writer = writer
        self.progress = progress
        self.tally = Tally()
        self._fail_on = fail_on

    def result(self, where: Where, result: ClaimResult) -> None:
        self.tally.claims += 1
        self.tally.verdicts[result.verdict] += 1
        self.writer.result(where, result)

    def error(self, where: Where, message: str) -> None:
        self.tally.errors += 1
        self.progress.clear()
        sys.stdout.flush()
        print(f"proofmark: {one_line(f'{where}: {message}')}", file=sys.stderr)
        self.writer.error(where, message)

    def record_done(self, file: str) -> None:
        self.tally.records += 1
        self.progress.update(lambda: one_line(
            f"proofmark: {file}: {self.tally.records} records, {self.tally.claims} claims checked"))

    def exit_status(self) -> int:
        if self.tally.errors:
            return EXIT_UNUSABLE
        failed = any(self.tally.verdicts[verdict] for verdict in self._fail_on)
        return EXIT_FAILED if failed else EXIT_OK


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    try:
        return _check(args.files, args.format, args.fail_on)
    except KeyboardInterrupt:
        return EXIT_INTERRUPTED
    except BrokenPipeError:
        # Whoever read the report stopped reading: not everything was reported.
        # Point stdout at nothing so that the interpreter's last flush stays quiet.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return EXIT_UNUSABLE


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog="proofmark",
        description="Check a coding agent's end-of-turn claims against the run log of its turn.",
    )
    parser.add_argument("--version", action="version", version=f"%(prog)s {__version__}")
    commands = parser.add_subparsers(dest="command", required=True, metavar="COMMAND")
    check = commands.add_parser(
        "check",
        help="report the verdict of every claim in turn records",
        description="Read turn records, each {\"run_log\": {...}, \"claims\": [...]}, and "
                    "report every claim's verdict and evidence.",
        epilog="exit status: 0 when no claim got a --fail-on verdict, 1 when one did, "
               "2 when an argument or some input could not be used",
    )
    check.add_argument(
        "files", nargs="+", metavar="FILE",
        help="JSON (one record or a list of records) or JSONL (one record per line); "
             "- reads standard input",
    )
    check.add_argument("--format", choices=("table", "json", "jsonl"), default="table",
                       help="table for people (the default), json or jsonl for programs")
    check.add_argument("--fail-on", type=_verdict_set, default=frozenset({"contradicted"}),
                       metavar="VERDICT[,VERDICT]",
                       help="exit 1 when a claim gets one of these verdicts "
                            "(default: contradicted)")
    return parser


def _verdict_set(text: str) -> frozenset[str]:
    names = [name.strip() for name in text.split(",")]
    for name in names:
        if name not in VERDICTS:
            raise argparse.ArgumentTypeError(
                f"unknown verdict {name!r} (choose from {', '.join(VERDICTS)})")
    return frozenset(names)


def _check(files: Sequence[str], output_format: str, fail_on: frozenset[str]) -> int:
    if isinstance(sys.stdout, io.TextIOWrapper):
        # A claim's text must not end the run because the locale cannot encode it.
        sys.stdout.reconfigure(errors="backslashreplace")
    progress = Progress(sys.stderr)
    report = Report(_writer(output_format, progress), progress, fail_on)
    for name in files:
        _check_file(name, report)
    progress.clear()
    report.writer.end(report.tally)
    sys.stdout.flush()
    return report.exit_status()


def _writer(output_format: str, progress: Progress) -> Writer:
    if output_format == "json":
        return JsonDocument(sys.stdout)
    if output_format == "jsonl":
        return JsonLines(sys.stdout)
    # Progress shares the terminal with the table: wipe it before each row.
    before_write = progress.clear if sys.stdout.isatty() else lambda: None
    return Table(sys.stdout, wants_colour(sys.stdout), before_write)


def _check_file(name: str, report: Report) -> None:
    label = STDIN if name == "-" else name
    records = 0
    try:
        with _open(name) as stream:
            items = read_records(stream, jsonl=name.endswith(JSONL_SUFFIXES))
            for index, item in enumerate(items):
                records += 1
                where = Where(label, item.line, index)
                if item.error is None:
                    _check_record(where, item.value, report)
                else:
                    report.error(where, item.error)
                report.record_done(label)
    except OSError as exc:
        if isinstance(exc, BrokenPipeError):
            raise
        report.error(Where(label), exc.strerror or str(exc))
        return
    if not records:
        report.error(Where(label), "no records")


@contextlib.contextmanager
def _open(name: str) -> Iterator[io.BufferedIOBase]:
    if name == "-":
        yield cast(io.BufferedIOBase, sys.stdin.buffer)
    else:
        with open(name, "rb") as stream:
            yield stream


def _check_record(where: Where, record: object, report: Report) -> None:
    try:
        run_log, claims = split_record(record)
    except ShapeError as exc:
        report.error(where, str(exc))
        return
    shaped = [_shaped(value, f"claims[{index}]") for index, value in enumerate(claims)]
    sound = [claim for claim in shaped if not isinstance(claim, ShapeError)]
    results: Iterator[ClaimResult] | None
    try:
        # The claims of a record are judged together, the log read once for all of them.
        results = iter(check_turn(run_log, sound))
    except Exception:  # the engine failed on some claim: judge them one by one to say which
        results = None
    for index, claim in enumerate(shaped):
        claim_where = replace(where, claim=index)
        if isinstance(claim, ShapeError):
            report.error(claim_where, str(claim))
        elif results is None:
            _check_claim(claim_where, run_log, claim, report)
        else:
            report.result(claim_where, next(results))


def _shaped(value: object, place: str) -> Claim | ShapeError:
    try:
        return as_claim(value, place)
    except ShapeError as exc:
        return exc


def _check_claim(where: Where, run_log: RunLog, value: object, report: Report) -> None:
    place = f"claims[{where.claim}]"
    try:
        result = check_claim(run_log, as_claim(value, place))
    except ShapeError as exc:
        report.error(where, str(exc))
        return
    except Exception as exc:  # one claim the engine cannot judge must not stop the others
        report.error(where, f"{place}: the engine failed: {type(exc).__name__}: {exc}")
        return
    report.result(where, result)
