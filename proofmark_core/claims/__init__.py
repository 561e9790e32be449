"""Claims from the closing message of an agent's turn, and the turns of a log with them.

:func:`extract_claims` lives in :mod:`proofmark_core.claims.extract`; it is imported on
first use, so that reading turn records never loads the claim grammar.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from proofmark_core.claims.extract import extract_claims

__all__ = ["extract_claims"]


def __getattr__(name: str) -> object:
    if name in __all__:
        return getattr(importlib.import_module("proofmark_core.claims.extract"), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
