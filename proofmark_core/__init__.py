"""proofmark-core: verdicts for the claims a coding agent makes about its own turn.

The engine is the extension module :mod:`proofmark_core.verify`; it is imported
on first use, so that importing this package never fails on its account.
"""

__version__ = "0.1.0"
