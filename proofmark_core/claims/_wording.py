"""What a sentence's own wording says about work: which verbs of work it uses, and
whether each one reports work done, or announces, advises, supposes or denies it.

The wording read here is a sentence's prose: its targets are masked (see _targets), so
that `src/run.py` or `git add` never count as its verbs, and each masked target counts
as one word where the patterns below count words.
"""

from __future__ import annotations

import re
from dataclasses import dataclass
from typing import Literal

from proofmark_core.claims._markdown import MASK
from proofmark_core.claims._verbs import BASE_FORMS, LEADING_FORMS, VerbClass, find_verbs, verb_class

State = Literal["done", "blocked", "infinitive"]

_WORD = r"[\w\N{SUBSTITUTE}]+"  # a word, or a masked target
_NOT_WORD = r"[^\w\N{SUBSTITUTE}]"  # markup, punctuation, emoji, space

# The tests below read a short stretch of prose before a verb: enough for the words they
# look for, and a bound on the work each verb costs.
_WINDOW = 80
# A determiner or adjective right before the word makes it a noun ("the changes", "a
# fix", "code changes") or an adjective ("the updated file"), not a verb of the sentence.
_NOUN_BEFORE_RE = re.compile(
    r"\b(?:the|a|an|this|that|these|those|my|our|your|its|their|his|her|all|some|any|no|"
    r"each|every|both|few|several|many|more|most|other|such|same|new|recent|latest|first|"
    r"final|last|previous|further|additional|existing|unit|code|minor|small|major|full|"
    r"whole|entire|empty|relevant|related|required|necessary|proposed|suggested|pending|"
    r"remaining|\w+'s)\s+$",
    re.I,
)
# Work announced, advised, wished for, supposed or denied: a modal, a negation, "let me",
# "you", "if", "need to" and the like, then at most two words before the verb.
_BLOCKED_BEFORE_RE = re.compile(
    r"(?:\b(?:will|shall|would|should|could|can|may|might|must|cannot|please|not|never|"
    r"nor|no|without|you|if|unless|when|whenever|instead\s+of|rather\s+than|(?:need|needs|"
    r"have|has|want|wants|going|plan|plans|about|ready|try|trying|hope|intend)\s+to)|"
    rf"n't|'ll|'d|\blet(?:'s|\s+me|\s+us))\s+(?:{_WORD}\s+){{0,2}}$",
    re.I,
)
# A verb joined to the one before it ("should add X or verify Y") shares its state.
_JOINED_BEFORE_RE = re.compile(rf"\b(?:and|or|nor)\s+(?:{_WORD}\s+)?$", re.I)
# A verb after "to" (with an adverb at most) tells the purpose of other work
# ("used `sed` to fix"), which it does not report.
_INFINITIVE_BEFORE_RE = re.compile(r"\bto\s+(?:\w+ly\s+|also\s+|then\s+)?$", re.I)
# What may stand before a verb that opens a sentence: markup and a few adverbs, or a
# leading clause ("To use the app, run ...", "If it fails, add ...").
_START_RE = re.compile(
    rf"{_NOT_WORD}*(?:(?:then|now|next|finally|also|please|just|simply|and|first|lastly)"
    rf"{_NOT_WORD}+)*|{_NOT_WORD}*(?:to|if|when|once|for|before|after)\b[^,]{{0,100}},\s*",
    re.I,
)
# A sentence that opens by announcing what comes next: every verb in it is announced.
_ANNOUNCEMENT_RE = re.compile(
    rf"^{_NOT_WORD}*(?:(?:now|next|then|so|ok|okay),?\s+)?(?:I'll|I\s+will|I'm\s+going\s+to|"
    r"I\s+am\s+going\s+to|we'll|we\s+will|let\s+me|let's|let\s+us|you\s+can|you\s+should|"
    r"you\s+may|you'll|you\s+might|you\s+could|you\s+need)\b",
    re.I,
)
# Quoted words are someone else's ("the instructions say "DO NOT MODIFY"").
_QUOTED_RE = re.compile(r"\"[^\"]{1,200}\"|“[^”]{1,200}”")

# Courtesies that close a message ("Let me know if ...", "Hope this helps"): never a claim.
_FILLER_RE = re.compile(
    r"^\W*(?:let\s+me\s+know|feel\s+free|(?:i\s+)?hope\s+(?:this|that|it)|happy\s+to|"
    r"glad\s+to|(?:don't|do\s+not)\s+hesitate|if\s+you(?:'d|\s+would)?\s+(?:need|have|want|"
    r"like|prefer)|would\s+you\s+like|do\s+you\s+want|shall\s+i|should\s+i|want\s+me\s+to|"
    r"is\s+there\s+anything|anything\s+else|thanks|thank\s+you|cheers|hi|hello|hey)\b",
    re.I,
)

_NON_WORD_RUN_RE = re.compile(r"\W*")

# A lead-in that introduces steps for the reader or a plan, not work done: the items
# under it are instructions even when they are worded as reports.
_ADVISORY_LEAD_RE = re.compile(
    r"\b(?:you|your|next|steps?|to\s+(?:use|run|test|try|start|verify|reproduce)|how\s+to|"
    r"usage|plan|planned|todo|to-?do|remaining|follow-?ups?|suggest\w*|recommend\w*|"
    r"options?|propos\w*|instructions?|could|should|would|might|will|shall|can|"
    r"let\s+me|let's|consider|want\s+me)\b|'ll\b",
    re.I,
)


@dataclass(frozen=True, slots=True)
class VerbUse:
    """One verb of work in a sentence: where it stands, its class, and what the
    sentence does with it."""

    start: int
    verb_class: VerbClass
    state: State


def verb_uses(prose: str, *, listed: bool, advisory: bool) -> list[VerbUse]:
    """The verbs of work in a sentence's prose, in order.

    A verb in the imperative ("Run `x`") is an instruction in running text; in a list
    item (``listed``) it is the terse report of work common in summaries ("- Add retry
    to `a.py`"). Under an ``advisory`` lead-in every verb of a list item is an instruction.
    """
    prose = _QUOTED_RE.sub(lambda quote: MASK * len(quote.group()), prose.replace("’", "'"))
    instructions = listed and advisory or bool(_ANNOUNCEMENT_RE.match(prose))
    uses: list[VerbUse] = []
    for verb in find_verbs(prose):
        before = prose[max(0, verb.start() - _WINDOW):verb.start()]
        if _NOUN_BEFORE_RE.search(before) or not _reports_here(prose, verb):
            continue
        state = "blocked" if instructions else _state(prose, verb, before, listed)
        if uses and uses[-1].state != "done" and _JOINED_BEFORE_RE.search(before):
            state = uses[-1].state
        uses.append(VerbUse(verb.start(), verb_class(prose, verb), state))
    return uses


def _reports_here(prose: str, verb: re.Match[str]) -> bool:
    return verb.group().lower() not in LEADING_FORMS or _at_start(prose, verb)


def _state(prose: str, verb: re.Match[str], before: str, listed: bool) -> State:
    imperative = verb.group().lower() in BASE_FORMS and _at_start(prose, verb)
    if _BLOCKED_BEFORE_RE.search(before) or imperative and not listed:
        return "blocked"
    if _INFINITIVE_BEFORE_RE.search(before):
        return "infinitive"
    return "done"


def _at_start(prose: str, verb: re.Match[str]) -> bool:
    """The verb opens the sentence, after markup, a few adverbs or a leading clause."""
    return verb.start() <= _WINDOW * 2 and bool(_START_RE.fullmatch(prose, 0, verb.start()))


def is_filler(sentence: str) -> bool:
    """A courtesy or a question: no claim, whatever it names."""
    return bool(_FILLER_RE.match(sentence)) or _is_question(sentence)


def _is_question(sentence: str) -> bool:
    """A question mark among the marks and spaces that end the sentence."""
    # Matched on the reversed text: a search for the run at the end would try every start.
    return "?" in _NON_WORD_RUN_RE.match(sentence[::-1]).group()


def is_advisory(lead: str) -> bool:
    """A lead-in that introduces instructions or a plan rather than work done."""
    return bool(_ADVISORY_LEAD_RE.search(lead.replace("’", "'")))
