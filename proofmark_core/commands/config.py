"""``proofmark config``: the settings in force and where each comes from."""

from __future__ import annotations

import argparse

from proofmark_core.report.tally import EXIT_OK
from proofmark_core.run.config import described


def run(args: argparse.Namespace) -> int:
    print("\n".join(described(args.config)))
    return EXIT_OK
