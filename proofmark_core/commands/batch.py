"""``proofmark batch``: a row per claim of many inputs, as Parquet or JSONL, here or on Ray."""

from __future__ import annotations

import argparse
import sys

from proofmark_core.commands.streams import UsageError, output_unusable
from proofmark_core.report.tally import EXIT_OK, EXIT_UNUSABLE, plural
from proofmark_core.report.terminal import Progress, one_line


def run(args: argparse.Namespace) -> int:
    from proofmark_core.run.batch import RowWriter, row_place, rows_of

    if args.claims is not None:
        raise UsageError("batch checks the claims of each turn's closing message; "
                         "--claims is for check and import")
    if args.ray:
        from proofmark_core.ray import rows_on_ray

        rows = rows_on_ray(args.paths, args.log_format, args.ray, args.jobs, strict=args.strict)
    else:
        rows = rows_of(args.paths, args.log_format, args.jobs, strict=args.strict)
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
        return output_unusable(exc, args.output)
    finally:
        progress.clear()
    print(f"proofmark: {plural(claims, 'claim')} written to {args.output}"
          + (f"; {plural(errors, 'error')}" if errors else ""), file=sys.stderr)
    return EXIT_UNUSABLE if errors else EXIT_OK
