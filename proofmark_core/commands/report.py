"""``proofmark report``: the HTML page of results saved as JSON lines."""

from __future__ import annotations

import argparse

from proofmark_core.commands.streams import input_stream, output, unusable
from proofmark_core.report.tally import EXIT_OK


def run(args: argparse.Namespace) -> int:
    from proofmark_core.report.html import ReportError, read_results, write_page

    try:
        with input_stream(args.results) as stream:
            lines = (line.decode("utf-8", "replace") for line in stream)
            results, summary = read_results(lines,
                                            "<stdin>" if args.results == "-" else args.results)
        # Opened only now, so that unusable results leave no empty page behind.
        with output(args.output) as out:
            write_page(results, out, summary)
    except ReportError as exc:
        return unusable(str(exc))
    except OSError as exc:
        if isinstance(exc, BrokenPipeError):
            raise
        return unusable(f"{exc.filename or args.results}: {exc.strerror or exc}")
    return EXIT_OK
