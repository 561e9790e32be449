"""proofmark-core: verdicts for the claims a coding agent makes about its own turn.

The engine is the extension module :mod:`proofmark_core.verify`; it is imported
on first use, so that importing this package never fails on its account.
"""

from __future__ import annotations

import importlib
from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from proofmark_core.claims.turns import Turn, read_turns
    from proofmark_core.logs import LogError
    from proofmark_core.verdicts import VERDICTS, ClaimResult, check_claim, check_turn

__version__ = "0.1.0"
__all__ = ["VERDICTS", "ClaimResult", "LogError", "Turn", "check_claim", "check_turn",
           "read_turns"]
_HOMES = {"LogError": "proofmark_core.logs", "Turn": "proofmark_core.claims.turns",
          "read_turns": "proofmark_core.claims.turns"}


def __getattr__(name: str) -> object:
    # The API module imports the extension; defer that until a name is used.
    if name in __all__:
        return getattr(importlib.import_module(_HOMES.get(name, "proofmark_core.api")), name)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted([*globals(), *__all__])
