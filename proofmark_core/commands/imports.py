"""``proofmark import``: the turns of agent logs written as turn records, one per line."""

from __future__ import annotations

import argparse
import json
import os
import sys
from typing import TYPE_CHECKING

from proofmark_core.commands.streams import claims_file, output, output_unusable
from proofmark_core.logs import find_logs
from proofmark_core.records.input import decoded
from proofmark_core.report.tally import EXIT_OK, EXIT_UNUSABLE, plural
from proofmark_core.report.terminal import one_line
from proofmark_core.run.pool import ordered_map
from proofmark_core.run.sources import Inputs
from proofmark_core.run.units import Where

if TYPE_CHECKING:
    from proofmark_core.verify import Claim


def run(args: argparse.Namespace) -> int:
    claims = claims_file(args.claims)
    errors = turns = 0
    files = [file for name in args.paths for file in _files(name)]
    # Standard input can be read by this process only.
    jobs = 1 if "-" in files else args.jobs
    try:
        with output(args.output) as out:
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
        return output_unusable(exc, args.output)
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
