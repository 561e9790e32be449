"""The ``proofmark`` command: check the claims of agent logs or turn records, or
import agent logs as turn records.

Exit status: 0 when no claim got a verdict named by --fail-on, 1 when one did,
2 when an argument or some input could not be used (the rest is still checked).
"""

from __future__ import annotations

import argparse
import contextlib
import io
import json
import os
import sys
from collections.abc import Callable, Iterator, Sequence
from functools import partial
from typing import TYPE_CHECKING, TextIO, TypeAlias, cast

from proofmark_core import __version__
from proofmark_core.hook.parser import add_hook_parser, run_hook
from proofmark_core.logs import FORMATS, find_logs
from proofmark_core.records.input import decoded
from proofmark_core.records.shape import ShapeError, as_claim
from proofmark_core.report.terminal import Progress, one_line, wants_colour
from proofmark_core.report.writers import JsonDocument, JsonLines, Table, Tally, Writer, plural
from proofmark_core.run.pool import WorkerDied, cores, ordered_map
from proofmark_core.run.sources import Inputs
from proofmark_core.run.tasks import check_task, task_weight
from proofmark_core.run.units import Outcome, Unit, Where
from proofmark_core.verdicts import VERDICTS, ClaimResult

if TYPE_CHECKING:
    from proofmark_core.verify import Claim

EXIT_OK, EXIT_FAILED, EXIT_UNUSABLE = 0, 1, 2
Commands: TypeAlias = "argparse._SubParsersAction[argparse.ArgumentParser]"
EXIT_INTERRUPTED = 130


class UsageError(Exception):
    """An argument that cannot be used: reported before anything is read."""


class Report:
    """Counts what was checked, hands it to the writer, and says how the run ended."""

    def __init__(self, writer: Writer, progress: Progress, fail_on: frozenset[str]) -> None:
        self.writer = writer
        self.progress = progress
        self.tally = Tally()
        self._fail_on = fail_on

    def result(self, where: Where, result: ClaimResult, excerpt: str | None = None) -> None:
        self.tally.claims += 1
        self.tally.verdicts[result.verdict] += 1
        self.writer.result(where, result, excerpt)

    def error(self, where: Where, message: str) -> None:
        self.tally.errors += 1
        self.progress.clear()
        sys.stdout.flush()
        print(f"proofmark: {one_line(f'{where}: {message}')}", file=sys.stderr)
        self.writer.error(where, message)

    def outcome(self, outcome: Outcome) -> None:
        for where, found, excerpt in outcome.events:
            if isinstance(found, str):
                self.error(where, found)
            else:
                self.result(where, found, excerpt)
        # A problem with a whole input is not a record.
        self.tally.records += outcome.where.record is not None
        self.tally.turns += outcome.where.agent is not None
        self.tally.skipped.update(outcome.skipped)
        self.progress.update(lambda: one_line(
            f"proofmark: {outcome.where.file}: {self.tally.records} records, "
            f"{self.tally.claims} claims checked"))

    def exit_status(self) -> int:
        if self.tally.errors:
            return EXIT_UNUSABLE
        failed = any(self.tally.verdicts[verdict] for verdict in self._fail_on)
        return EXIT_FAILED if failed else EXIT_OK


def main(argv: Sequence[str] | None = None) -> int:
    args = _parser().parse_args(argv)
    if args.command == "hook":
        return run_hook(args)
    try:
        return cast(Callable[[argparse.Namespace], int], args.run)(args)
    except UsageError as exc:
        print(f"proofmark: {exc}", file=sys.stderr)
        return EXIT_UNUSABLE
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
    for add_parser in (_check_parser, _import_parser, _batch_parser, _report_parser):
        add_parser(commands)
    add_hook_parser(commands)
    return parser


def _check_parser(commands: Commands) -> None:
    check = commands.add_parser(
        "check",
        help="report the verdict of every claim of agent logs or turn records",
        description="Read agent logs (Claude Code, Codex, OpenHands, SWE-agent, mini-swe-agent) "
                    "or turn records, each {\"run_log\": {...}, \"claims\": [...]}, and report "
                    "every claim's verdict and evidence.",
        epilog="exit status: 0 when no claim got a --fail-on verdict, 1 when one did, "
               "2 when an argument or some input could not be used",
    )
    _add_inputs(check)
    check.add_argument("--format", choices=("table", "json", "jsonl", "html"), default="table",
                       help="table for people (the default), json or jsonl for programs, "
                            "html for a page to open in a browser")
    check.add_argument("-o", "--output", metavar="FILE",
                       help="write the report to FILE instead of standard output")
    check.add_argument("--excerpts", action="store_true",
                       help="give each result an excerpt of the log where its evidence points "
                            "(always on with --format html)")
    check.add_argument("--fail-on", type=_verdict_set, default=frozenset({"contradicted"}),
                       metavar="VERDICT[,VERDICT]",
                       help="exit 1 when a claim gets one of these verdicts "
                            "(default: contradicted)")
    check.set_defaults(run=_check)


def _import_parser(commands: Commands) -> None:
    export = commands.add_parser(
        "import",
        help="write the turns of agent logs as turn records (JSONL)",
        description="Read agent logs and write each turn as a turn record, one per line, "
                    "with a \"source\" object naming the agent, file, session and turn.",
        epilog="exit status: 0 when every input was read, 2 when some could not be",
    )
    _add_inputs(export)
    export.add_argument("-o", "--output", metavar="OUT",
                        help="the file to write (default: standard output)")
    export.set_defaults(run=_import)


def _batch_parser(commands: Commands) -> None:
    batch = commands.add_parser(
        "batch",
        help="write a row per claim of many inputs, as Parquet or JSONL, here or on Ray",
        description="Check every turn of the inputs and write one row per claim (file, "
                    "agent, session, turn, record, claim, kind, text, verdict, evidence, "
                    "error) to OUT: Parquet when its name ends in .parquet, JSONL otherwise. "
                    "Inputs may be URIs of any file system pyarrow reads (s3://...).",
        epilog="exit status: 0 when every input was read and checked, 2 when some could not be",
    )
    _add_inputs(batch)
    batch.add_argument("-o", "--output", metavar="OUT", required=True,
                       help="the file to write: .parquet, or JSONL")
    batch.add_argument("--ray", metavar="local|auto|ADDRESS",
                       help="run on Ray: a local one started here with --jobs CPUs, the "
                            "running cluster (auto), or the cluster at ADDRESS")
    batch.set_defaults(run=_batch)


def _report_parser(commands: Commands) -> None:
    report = commands.add_parser(
        "report",
        help="make the HTML report of results saved with --format jsonl",
        description="Read the results that `proofmark check --format jsonl` wrote and "
                    "write them as one self-contained HTML page.",
    )
    report.add_argument("results", metavar="RESULTS", help="a JSONL results file; - reads "
                                                           "standard input")
    report.add_argument("-o", "--output", metavar="FILE",
                        help="write the page to FILE instead of standard output")
    report.set_defaults(run=_report)


def _add_inputs(command: argparse.ArgumentParser) -> None:
    command.add_argument(
        "paths", nargs="+", metavar="PATH",
        help="an agent log, a folder of them, an OpenHands conversation folder, or turn "
             "records as JSON or JSONL; - reads turn records from standard input",
    )
    command.add_argument("--from", dest="log_format", choices=FORMATS, default="auto",
                         help="the format of the inputs (default: told from their content)")
    command.add_argument("--claims", metavar="FILE",
                         help="a JSON list of claims to check against the last turn of each "
                              "input, instead of the claims taken from its closing message")
    command.add_argument("--jobs", "-j", type=_positive, default=cores(), metavar="N",
                         help="worker processes (default: the number of cores, within the "
                              "CPU quota)")


def _positive(text: str) -> int:
    try:
        number = int(text)
    except ValueError:
        number = 0
    if number < 1:
        raise argparse.ArgumentTypeError(f"expected a positive whole number, got {text!r}")
    return number


def _verdict_set(text: str) -> frozenset[str]:
    names = [name.strip() for name in text.split(",")]
    for name in names:
        if name not in VERDICTS:
            raise argparse.ArgumentTypeError(
                f"unknown verdict {name!r} (choose from {', '.join(VERDICTS)})")
    return frozenset(names)


def _claims_file(name: str | None) -> list[Claim] | None:
    if name is None:
        return None
    try:
        with open(name, "rb") as stream:
            claims = json.load(stream)
    except OSError as exc:
        raise UsageError(f"{name}: {exc.strerror or exc}") from None
    except (ValueError, RecursionError) as exc:
        raise UsageError(f"{name}: invalid JSON: {exc}") from None
    if not isinstance(claims, list):
        raise UsageError(f"{name}: expected a JSON list of claims")
    try:
        return [as_claim(claim, f"[{index}]") for index, claim in enumerate(claims)]
    except ShapeError as exc:
        raise UsageError(f"{name}: {exc}") from None


def _check(args: argparse.Namespace) -> int:
    claims = _claims_file(args.claims)
    check = partial(check_task, excerpts=args.excerpts or args.format == "html")
    try:
        with _output(args.output) as out:
            progress = Progress(sys.stderr)
            report = Report(_writer(args.format, progress, out), progress, args.fail_on)
            units = Inputs(args.paths, args.log_format, claims, for_workers=args.jobs > 1)
            try:
                for outcomes in ordered_map(check, units, args.jobs, task_weight):
                    for outcome in outcomes:
                        report.outcome(outcome)
            except WorkerDied as exc:
                report.error(cast(Unit, exc.items[0]).where, str(exc))
            progress.clear()
            report.writer.end(report.tally)
            out.flush()
    except BrokenPipeError:
        raise
    except OSError as exc:
        return _output_unusable(exc, args.output)
    return report.exit_status()


def _writer(output_format: str, progress: Progress, out: TextIO) -> Writer:
    if output_format == "json":
        return JsonDocument(out)
    if output_format == "jsonl":
        return JsonLines(out)
    if output_format == "html":
        from proofmark_core.report.html import HtmlReport  # the page's code, only when asked for

        return HtmlReport(out)
    # Progress shares the terminal with the table: wipe it before each row.
    before_write = progress.clear if out.isatty() else lambda: None
    return Table(out, wants_colour(out), before_write)


def _report(args: argparse.Namespace) -> int:
    from proofmark_core.report.html import ReportError, read_results, write_page

    try:
        with _input(args.results) as stream:
            lines = (line.decode("utf-8", "replace") for line in stream)
            run, summary = read_results(lines, "<stdin>" if args.results == "-" else args.results)
        # Opened only now, so that unusable results leave no empty page behind.
        with _output(args.output) as out:
            write_page(run, out, summary)
    except ReportError as exc:
        return _unusable(str(exc))
    except OSError as exc:
        if isinstance(exc, BrokenPipeError):
            raise
        return _unusable(f"{exc.filename or args.results}: {exc.strerror or exc}")
    return EXIT_OK


@contextlib.contextmanager
def _output(path: str | None) -> Iterator[TextIO]:
    """Standard output, or the named file, created anew."""
    if path is None or path == "-":
        _tolerate_unencodable(sys.stdout)
        yield sys.stdout
    else:
        # Like standard output, a file shows half of a character as its escape.
        with open(path, "w", encoding="utf-8", errors="backslashreplace") as out:
            yield out


@contextlib.contextmanager
def _input(name: str) -> Iterator[io.BufferedIOBase]:
    if name == "-":
        yield cast(io.BufferedIOBase, sys.stdin.buffer)
    else:
        with open(name, "rb") as stream:
            yield stream


def _unusable(message: str) -> int:
    print(f"proofmark: {one_line(message)}", file=sys.stderr)
    return EXIT_UNUSABLE


def _output_unusable(exc: OSError, output: str | None) -> int:
    """The one line for an output that cannot be written (a missing folder, a full disk),
    or for an input that failed outside its own reading, named by the error."""
    return _unusable(f"{exc.filename or output or '<stdout>'}: {exc.strerror or exc}")


def _tolerate_unencodable(stream: TextIO) -> None:
    if isinstance(stream, io.TextIOWrapper):
        # A claim's text must not end the run because the locale cannot encode it.
        stream.reconfigure(errors="backslashreplace")


def _import(args: argparse.Namespace) -> int:
    claims = _claims_file(args.claims)
    errors = turns = 0
    files = [file for name in args.paths for file in _files(name)]
    # Standard input can be read by this process only.
    jobs = 1 if "-" in files else args.jobs
    try:
        with _output(args.output) as out:
            tasks = ((file, args.log_format, claims) for file in files)
            for records in ordered_map(_import_file, tasks, jobs):
                for where, text in records:
                    if where is None:
                        out.write(text + "\n")
                        turns += 1
                    else:
                        errors += 1
                        print(f"proofmark: {one_line(f'{where}: {text}')}", file=sys.stderr)
            out.flush()
    except BrokenPipeError:
        raise
    except OSError as exc:
        return _output_unusable(exc, args.output)
    if args.output:
        print(f"proofmark: {plural(turns, 'turn')} written to {args.output}", file=sys.stderr)
    return EXIT_UNUSABLE if errors else EXIT_OK


def _files(name: str) -> list[str]:
    """The files a path names: a folder's logs (or the folder, which then says it has
    none), or the path itself."""
    if name == "-" or not os.path.isdir(name):
        return [name]
    return [str(path) for path in find_logs(name)] or [name]


def _import_file(task: tuple[str, str, list[Claim] | None]) -> list[tuple[Where | None, str]]:
    """The turn records of one input as JSON lines (with no place), and its problems."""
    name, log_format, claims = task
    records: list[tuple[Where | None, str]] = []
    for unit in Inputs([name], log_format, claims, decode=True):
        item = decoded(unit.item)
        if item.error is None:
            records.append((None, json.dumps(item.value, ensure_ascii=False)))
        else:
            records.append((unit.where, item.error))
    return records


def _batch(args: argparse.Namespace) -> int:
    from proofmark_core.run.batch import RowWriter, row_place, rows_of

    if args.claims is not None:
        raise UsageError("batch checks the claims of each turn's closing message; "
                         "--claims is for check and import")
    if args.ray:
        from proofmark_core.ray import rows_on_ray

        rows = rows_on_ray(args.paths, args.log_format, args.ray, args.jobs)
    else:
        rows = rows_of(args.paths, args.log_format, args.jobs)
    progress = Progress(sys.stderr)
    claims = errors = 0
    try:
        writer = RowWriter(args.output)
        try:
            for row in rows:
                writer.write([row])
                errors += row["error"] is not None
                claims += row["error"] is None
                if row["error"] is not None:
                    progress.clear()
                    problem = f"{row_place(row)}: {row['error']}"
                    print(f"proofmark: {one_line(problem)}", file=sys.stderr)
                progress.update(lambda: f"proofmark: {claims} claims checked")
        finally:
            writer.close()
    except BrokenPipeError:
        raise
    except OSError as exc:
        return _output_unusable(exc, args.output)
    finally:
        progress.clear()
    print(f"proofmark: {plural(claims, 'claim')} written to {args.output}"
          + (f"; {plural(errors, 'error')}" if errors else ""), file=sys.stderr)
    return EXIT_UNUSABLE if errors else EXIT_OK
