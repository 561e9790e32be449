"""``python -m proofmark_core``: the ``proofmark`` command."""

from proofmark_core.cli import main

raise SystemExit(main())
