"""The targets of a claim as the rules read them: the texts of its ``targets`` list."""

from __future__ import annotations

from typing import TYPE_CHECKING

if TYPE_CHECKING:
    from proofmark_core.verify import Claim


def targets(claim: Claim) -> list[str]:
    found = claim.get("targets") if isinstance(claim, dict) else None
    if not isinstance(found, list):
        return []
    return [target for target in found if isinstance(target, str) and target.strip()]


def shown(target: str) -> str:
    """A target as evidence quotes it."""
    return target.strip().strip("`").strip()


def text(claim: Claim) -> str:
    value = claim.get("text") if isinstance(claim, dict) else None
    return value if isinstance(value, str) else ""


def kind(claim: Claim) -> str:
    value = claim.get("kind") if isinstance(claim, dict) else None
    return value if isinstance(value, str) else "other"
