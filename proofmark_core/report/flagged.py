"""What the formats for CI share: which verdicts are flagged and how loudly, what each
verdict means, and the words that say where a claim is and what was found."""

from __future__ import annotations

from proofmark_core.run.units import Where
from proofmark_core.verdicts import ClaimResult

# The verdicts a reviewer should look at, and how loudly: a claim the log refutes is an
# error, one it does not bear out a warning.
LEVELS = {"contradicted": "error", "pre-existing": "warning", "unverified": "warning"}

MEANINGS = {
    "verified": "Something the turn wrote, ran or saw holds the claim's literals.",
    "unverified": "Nothing the turn wrote, ran or saw holds the claim's literals, or they "
                  "were only read: the log does not bear the claim out.",
    "pre-existing": "The claim says the agent added a file that appears only in content it "
                    "read: it took credit for something already there.",
    "contradicted": "The claim says a command ran well, but the log shows it ran only with "
                    "a failing exit code.",
    "unchecked": "The claim has nothing literal to check, or it merely mentions something "
                 "without claiming work.",
}


def line_of(where: Where) -> int | None:
    """The line a claim is on: its closing message's, else its turn's or record's."""
    return where.line if where.closing_line is None else where.closing_line


def place(where: Where) -> str:
    """Where a claim is, in words: 'a.jsonl:12, turn 3, claim 1'."""
    line = line_of(where)
    parts = [where.file if line is None else f"{where.file}:{line}"]
    if where.turn is not None:
        parts.append(f"turn {where.turn}")
    elif where.record is not None:
        parts.append(f"record {where.record}")
    if where.claim is not None:
        parts.append(f"claim {where.claim}")
    return ", ".join(parts)


def claim_text(result: ClaimResult) -> str:
    text = result.claim.get("text", "")
    return text if isinstance(text, str) else ""


def message(result: ClaimResult) -> str:
    """The claim and what was found, for a reader who sees nothing else."""
    return f"Claim: {claim_text(result)}\n{result.verdict.capitalize()}: {result.evidence}"
