"""``proofmark report``: results saved as JSON lines, written in any format (HTML by
default), with the exit status ``check`` gave them."""

from __future__ import annotations

import argparse
import sys

from proofmark_core.commands.streams import input_stream, output, unusable
from proofmark_core.report.formats import writer
from proofmark_core.report.saved import ReportError, SavedResults
from proofmark_core.report.tally import Report
from proofmark_core.report.terminal import Progress


def run(args: argparse.Namespace) -> int:
    try:
        with input_stream(args.results) as stream:
            lines = (line.decode("utf-8", "replace") for line in stream)
            saved = SavedResults(lines, "<stdin>" if args.results == "-" else args.results)
        # Opened only now, so that unusable results leave no empty report behind.
        with output(args.output) as out:
            progress = Progress(sys.stderr)
            report = Report(writer(args.format, out, args.fail_on, progress, args.redact),
                            progress, args.fail_on, saved.tally(), echo=False)
            for event in saved.events():
                report.event(event)
            report.writer.end(report.tally)
            out.flush()
    except ReportError as exc:
        return unusable(str(exc))
    except OSError as exc:
        if isinstance(exc, BrokenPipeError):
            raise
        return unusable(f"{exc.filename or args.results}: {exc.strerror or exc}")
    return report.exit_status()
