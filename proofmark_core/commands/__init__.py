"""The bodies of the ``proofmark`` commands; their arguments are in :mod:`proofmark_core.cli`."""
