"""``proofmark check``: every claim's verdict and evidence, as a table, JSON, JSONL, a page
or a format CI reads."""

from __future__ import annotations

import argparse
import sys
from functools import partial
from typing import cast

from proofmark_core.commands.streams import claims_file, output, output_unusable
from proofmark_core.report.formats import writer
from proofmark_core.report.tally import Report
from proofmark_core.report.terminal import Progress
from proofmark_core.run.config import Config, Ignore
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
    config: Config = args.config
    ignore = cast(Ignore, config.get("ignore"))
    try:
        with output(args.output) as out:
            progress = Progress(sys.stderr)
            report = Report(writer(args.format, out, args.fail_on, progress, args.redact),
                            progress, args.fail_on,
                            ignore=(ignore, config.setting("ignore").source) if ignore else None)
            # On one worker, the records are decoded as they are read, so that each
            # line's bytes are gone before its turn is checked.
            units = Inputs(args.paths, args.log_format, claims, decode=args.jobs == 1,
                           lean=not excerpts, for_workers=args.jobs > 1,
                           sessions=not args.strict, skip=ignore.file if ignore.globs else None)
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

