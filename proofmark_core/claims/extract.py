"""Claims from the closing message of an agent's turn.

The closing message is cut into sentences, list items, table rows and headings
(``_markdown``); each one that names a target
(``_targets``) or uses a verb of work (``_wording``)
becomes a Claim whose kind follows from its wording. The kinds are chosen for what the
engine does with them: only a ``command_ran`` claim can be contradicted by a failed
command, only a ``file_changed`` claim can be found pre-existing, and a ``mention`` that
names nothing the turn touched is left unchecked.

Only work this agent reports having done is checked. Plans, instructions to the reader,
offers, announcements and descriptions of code are left out, and so is everything under a
lead-in or heading that introduces them ("Next steps:", "## How to run"). A sentence that
reports no work is kept as a mention only when the engine will also take it for one;
otherwise its wording ("`f` calls `g`") would have the engine check it as a claim.
"""

from __future__ import annotations

import re
from collections.abc import Sequence
from dataclasses import dataclass
from functools import lru_cache
from typing import TYPE_CHECKING

from proofmark_core.claims._markdown import Unit, is_lead_in, units
from proofmark_core.claims._targets import (
    Targets,
    find_targets,
    looks_like_code,
    looks_like_command,
    looks_like_script,
)
from proofmark_core.claims._verbs import VerbClass
from proofmark_core.claims.test_results import read_test_claim
from proofmark_core.claims._wording import (
    VerbUse,
    announces,
    is_advisory,
    is_advisory_heading,
    is_filler,
    opens_with_advisory_label,
    states_result,
    verb_uses,
)
from proofmark_core.extract import WORK_VERB_RE
from proofmark_core.verify import PREDICATE_RE

if TYPE_CHECKING:
    from proofmark_core.verify import Claim

def extract_claims(messages: Sequence[str]) -> list[Claim]:
    """The claims of one turn, from its closing message.

    ``messages`` are the agent's prose messages of the turn, in order; the last one is
    the closing message. When it makes no claim ("Done."), the claims come from the
    nearest earlier message whose claims name something. A closing message that reports
    work without naming it keeps its claims: the messages before it are the agent's
    working notes, not its report.
    """
    if not messages:
        return []
    closing = _claims_of(messages[-1])
    if closing:
        return closing
    for message in reversed(messages[:-1]):
        claims = _claims_of(message)
        if _names_something(claims):
            return claims
    return []


def _claims_of(message: str) -> list[Claim]:
    """The claims of one message, in order."""
    return [claim for unit in units(message) if (claim := _claim(unit)) is not None]


def _names_something(claims: list[Claim]) -> bool:
    return any(claim["targets"] for claim in claims)


def _claim(unit: Unit) -> Claim | None:
    if is_filler(unit.text):
        return None
    lead = _lead(unit.lead)
    if lead.advisory and unit.place == "item" or _under_advisory_heading(unit.heading):
        return None  # a step, a wish or a plan, as its lead-in or heading says
    targets = find_targets(unit.text)
    if opens_with_advisory_label(targets.prose) or announces(targets.prose):
        return None
    uses = verb_uses(targets.prose, listed=unit.place == "item")
    if _only_blocked(uses):
        return None  # work announced, advised or denied, not reported
    if not targets.names and not uses and unit.place != "heading" \
            and read_test_claim(unit.text, []) is not None:
        return _made("other", unit, targets)  # "the suite is green", "no type errors"
    if not targets.names and (not uses or unit.place == "heading" or is_lead_in(unit.text)):
        return None  # nothing to check and no work reported, or a bare heading or lead-in
    done = [use for use in uses if use.state == "done"]
    if uses:
        return _made(_kind(done, targets), unit, targets)
    if lead.classes:
        return _made(_kind_from_lead(lead, targets), unit, targets)
    if _engine_reads_as_work(unit.text) and not states_result(targets.prose):
        return None  # a description ("`f` calls `g`"), which the engine would check as work
    return _made("mention", unit, targets)


def _made(kind: str, unit: Unit, targets: Targets) -> Claim:
    return {"kind": kind, "text": unit.text, "targets": targets.names}


@lru_cache(maxsize=64)
def _under_advisory_heading(heading: str | None) -> bool:
    return heading is not None and is_advisory_heading(heading)


# Back-quoted spans as the engine blanks them for its mention test.
_ENGINE_SPAN_RE = re.compile(r"`[^`]*`")


def _engine_reads_as_work(text: str) -> bool:
    """The engine's mention test would find a verb of work or a predicate in the text, and
    check it as a claim of work: a sentence that reports none is better left out."""
    bare = _ENGINE_SPAN_RE.sub(" ", text)
    return bool(WORK_VERB_RE.search(bare) or PREDICATE_RE.search(bare))


def _only_blocked(uses: list[VerbUse]) -> bool:
    states = {use.state for use in uses}
    return "blocked" in states and "done" not in states


def _kind(done: list[VerbUse], targets: Targets) -> str:
    """The kind of claim that the sentence's verbs of work done make about its targets."""
    classes = {use.verb_class for use in done}
    if any(_ran(use, name, start) for use in done for name, start in zip(targets.names, targets.starts)):
        return "command_ran"
    if "external" in classes:
        return "external_action"
    if "file" in classes and any(looks_like_code(name) for name in targets.names):
        return "file_changed"
    return "other"


def _ran(use: VerbUse, target: str, start: int) -> bool:
    """The verb reports running the target: a command line, or a script (see the verb
    classes in _verbs)."""
    if use.verb_class not in ("run", "check"):
        return False
    script = looks_like_script(target) and (use.verb_class == "run" or start > use.start)
    return looks_like_command(target) or script


def _kind_from_lead(lead: _Lead, targets: Targets) -> str:
    """A sentence without verbs of its own: "Files changed:" speaks for the items below it."""
    # The lead-in's verbs stand before everything the item names.
    return _kind([VerbUse(-1, verb_class, "done") for verb_class in sorted(lead.classes)], targets)


@dataclass(frozen=True, slots=True)
class _Lead:
    """What a lead-in says of the list below it: the kinds of work its own wording
    reports, and whether it introduces instructions or a plan instead."""

    classes: frozenset[VerbClass] = frozenset()
    advisory: bool = False


@lru_cache(maxsize=64)
def _lead(text: str | None) -> _Lead:
    # Cached: every item of a list asks for the same lead-in.
    if text is None:
        return _Lead()
    uses = verb_uses(find_targets(text).prose, listed=False)
    if is_advisory(text) or _only_blocked(uses):
        return _Lead(advisory=True)
    return _Lead(frozenset(use.verb_class for use in uses if use.state == "done"))
