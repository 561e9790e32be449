"""``proofmark check``: every claim's verdict and evidence, as a table, JSON, JSONL or a page."""

from __future__ import annotations

import argparse
import sys
from functools import partial
from typing import TextIO, cast

from proofmark_core.commands.streams import claims_file, output, output_unusable
from proofmark_core.report.jsonl import JsonDocument, JsonLines
from proofmark_core.report.table import Table
from proofmark_core.report.tally import Report, Writer
from proofmark_core.report.terminal import Progress, wants_colour
from proofmark_core.run.pool import WorkerDied, ordered_map
from proofmark_core.run.sources import Inputs
from proofmark_core.run.tasks import check_task, task_weight
from proofmark_core.run.units import Unit


def run(args: argparse.Namespace) -> int:
    claims = claims_file(args.claims)
    excerpts = args.excerpts or args.format == "html"
    if not excerpts and args.jobs > 1:
        import proofmark_core.records.lean  # noqa: F401  here once, not in each forked worker
    check = partial(check_task, excerpts=excerpts, strict=args.strict)
    try:
        with output(args.output) as out:
            progress = Progress(sys.stderr)
            report = Report(_writer(args.format, progress, out), progress, args.fail_on)
            # On one worker, the records are decoded as they are read, so that each
            # line's bytes are gone before its turn is checked.
            units = Inputs(args.paths, args.log_format, claims, decode=args.jobs == 1,
                           lean=not excerpts, for_workers=args.jobs > 1,
                           sessions=not args.strict)
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
        return output_unusable(exc, args.output)
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
