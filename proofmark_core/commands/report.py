"""``proofmark report``: results saved as JSON lines, written in any format (HTML by
default), with the exit status ``check`` gave them."""

from __future__ import annotations

import argparse
import io
import sys
from collections.abc import Iterator
from functools import partial

from proofmark_core.commands.streams import input_stream, output, output_unusable, unusable
from proofmark_core.records.input import CHUNK, text_lines, too_large
from proofmark_core.report.formats import writer
from proofmark_core.report.saved import ReportError, SavedResults
from proofmark_core.report.tally import Report
from proofmark_core.report.terminal import Progress


def run(args: argparse.Namespace) -> int:
    try:
        with input_stream(args.results) as stream:
            name = "<stdin>" if args.results == "-" else args.results
            saved = SavedResults(_lines(stream, name), name)
    except ReportError as exc:
        return unusable(str(exc))
    except OSError as exc:
        return unusable(f"{exc.filename or args.results}: {exc.strerror or exc}")
    try:
        # Opened only now, so that unusable results leave no empty report behind.
        with output(args.output) as out:
            progress = Progress(sys.stderr)
            report = Report(writer(args.format, out, args.fail_on, progress, args.redact),
                            progress, args.fail_on, saved.tally(), echo=False)
            for event in saved.events():
                report.event(event)
            report.writer.end(report.tally)
            out.flush()
    except BrokenPipeError:
        raise
    except OSError as exc:
        return output_unusable(exc, args.output)
    return report.exit_status()


def _lines(stream: io.BufferedIOBase, name: str) -> Iterator[tuple[int, str]]:
    """The lines of the results that are not blank, with their numbers."""
    for number, line in text_lines(iter(partial(stream.read1, CHUNK), b"")):
        if line is None:
            raise ReportError(f"{name}:{number}: {too_large('a line')}")
        yield number, line.decode("utf-8", "replace")
