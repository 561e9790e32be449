"""Checking a turn's claims from Python: the engine's verdicts as typed results."""

from __future__ import annotations

from proofmark_core.verdicts import VERDICTS, ClaimResult, check_claim, check_turn

__all__ = ["VERDICTS", "ClaimResult", "check_claim", "check_turn"]
