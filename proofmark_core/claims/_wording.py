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
from proofmark_core.claims._verbs import (
    BASE_FORMS,
    LEADING_FORMS,
    PARTICIPLE_BASES,
    VerbClass,
    find_verbs,
    verb_class,
)

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
    r"remaining|(?!(?:let|it|that|what|here|there|who|he|she)'s\b)\w+'s)\s+$",
    re.I,
)
# Work announced, advised, wished for, supposed or denied: a modal, a negation, "let me",
# "you", "if", "need to" and the like, then at most two words before the verb; the same
# in the other languages whose verbs _verbs knows. Or what code does every time
# ("reports are automatically saved"), which is no work of the agent's.
_BLOCKED_BEFORE_RE = re.compile(
    r"(?:\b(?:will|shall|would|should|could|can|may|might|must|cannot|please|not|never|"
    r"nor|no|without|you|if|unless|when|whenever|instead\s+of|rather\s+than|(?:need|needs|"
    r"have|has|want|wants|going|plan|plans|about|ready|try|trying|hope|intend)\s+to|"
    r"automatically|always|usually|typically|normally|generally|"
    r"voy|vamos|puedes|puede|debes|debe|deberías|debería|hay\s+que|"
    r"nicht|kein\w*|nie|werde|wird|sollte\w*|muss\w*|kann|könnte\w*|"
    r"pas|jamais|vais|allons|peux|pouvez|devrait|devriez|faut|"
    r"não|nunca|vou|pode|podem|deve|deveria|precisa|"
    r"не|нужно|надо|можно|следует|буду|будет)|"
    rf"n't|'ll|'d|\blet(?:'s|\s+me|\s+us))\s+(?:{_WORD}\s+){{0,2}}$",
    re.I,
)
# The same before a Chinese, Japanese or Korean verb, which takes no space after it.
_CJK_BLOCKED_BEFORE_RE = re.compile(
    r"(?:未|没有|没|不|将|将会|会|要|需要|可以|建议|请|应该|应当|尚未|不要)\s*\S{0,2}$"
)
# A verb followed by a colon and more text labels what follows ("**Updates:** `f` feeds
# data"), unless it is in the past ("Fixed: ..."). Alone, it is a lead-in ("Changes:"),
# whose verb speaks for the list below it.
_LABEL_AFTER_RE = re.compile(r"[*_]*:[\s*_]*[^\s*_]")
# A word that opens a sentence and is followed by a finite verb (with one noun between at
# most), or by a verdict that ends the clause, is its subject, a noun: "Lint is clean",
# "Build succeeded", "Test suite passes", "Lint clean, tests green".
_SUBJECT_AFTER_RE = re.compile(
    r"[*_]*\s+(?:(?!(?:the|a|an|this|that|these|those|it|they|all|every|each|your|my|our|"
    r"its|their|if|whether|sure)\b)[a-z][\w-]*\s+)?(?:(?:is|are|was|were|has|have|had|"
    r"pass(?:es|ed)|succeed(?:s|ed)|looks?|remains?|stays?)\b"
    r"|(?:clean|green|passing|ok)[*_]*(?:\s*[.,;!)]|\s+and\b|$))",
    re.I,
)
# "Have run", "was set": the base form is the participle here.
_AUXILIARY_BEFORE_RE = re.compile(
    r"(?:\b(?:have|has|had|been|be|is|are|was|were|got|get)|'ve)\s+(?:\w+ly\s+|also\s+|now\s+)?$",
    re.I,
)
# Said of tests and commands, "pass" and "succeed" report a result after their subject.
_RESULT_BASES = frozenset({"pass", "succeed"})
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
    rf"^{_NOT_WORD}*+(?:(?:now|next|then|so|ok|okay),?\s+)?(?:I'll|I\s+will|I'm\s+going\s+to|"
    r"I\s+am\s+going\s+to|we'll|we\s+will|let\s+me|let's|let\s+us|you\s+can|you\s+should|"
    r"you\s+may|you'll|you\s+might|you\s+could|you\s+need)\b",
    re.I,
)
# Quoted words are someone else's ("the instructions say "DO NOT MODIFY"").
_QUOTED_RE = re.compile(r"\"[^\"]{1,200}\"|“[^”]{1,200}”")

# Courtesies that close a message ("Let me know if ...", "Hope this helps"): never a claim.
_FILLER_RE = re.compile(
    r"^\W*+(?:let\s+me\s+know|feel\s+free|(?:i\s+)?hope\s+(?:this|that|it)|happy\s+to|"
    r"glad\s+to|(?:don't|do\s+not)\s+hesitate|if\s+you(?:'d|\s+would)?\s+(?:need|have|want|"
    r"like|prefer)|would\s+you\s+like|do\s+you\s+want|shall\s+i|should\s+i|want\s+me\s+to|"
    r"is\s+there\s+anything|anything\s+else|thanks|thank\s+you|cheers|hi|hello|hey)\b",
    re.I,
)

_NON_WORD_RUN_RE = re.compile(r"\W*")

# What a heading or a lead-in introduces when it is steps for the reader, a plan, wishes
# or requirements rather than work done: everything under it is, too.
_ADVISORY_TOPIC = (
    r"\b(?:next|steps?|to\s+(?:use|run|test|try|start|verify|reproduce|do|consider|install|"
    r"fix|add|implement|change|update|check|build|deploy|enable|configure|set\s+up)|how\s+to|"
    r"usage|plan|planned|to-?dos?(?!\s+(?!list|items?\b)\w)|remaining|follow-?ups?|"
    r"suggest\w*|recommend\w*|options?|propos\w*|instructions?|needed|required|requirements?|prerequisites?|"
    r"nice[-\s]to[-\s]haves?|tips?|ideas?|future|roadmap|wish\s*list|backlog|"
    r"definition\s+of\s+done|acceptance\s+criteria|known\s+issues|limitations?|caveats?|"
    r"open\s+questions?|setup|getting\s+started|quick\s*start|alternatives?|"
    r"priorit(?:y|ies)|outstanding|not\s+yet|here(?:'s|\s+is)\s+how|"
    r"(?:do|try)\s+(?:this|the\s+following))\b"
)
_ADVISORY_HEADING_RE = re.compile(_ADVISORY_TOPIC, re.I)
# A lead-in may also say so by its voice: the reader addressed, a modal, an offer.
_ADVISORY_LEAD_RE = re.compile(
    _ADVISORY_TOPIC + r"|\b(?:you|your|could|should|would|might|will|shall|can|"
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


def verb_uses(prose: str, *, listed: bool) -> list[VerbUse]:
    """The verbs of work in a sentence's prose, in order.

    A verb in the imperative ("Run `x`") is an instruction in running text; in a list
    item (``listed``) it is the terse report of work common in summaries ("- Add retry
    to `a.py`").
    """
    prose = _QUOTED_RE.sub(lambda quote: MASK * len(quote.group()), prose.replace("’", "'"))
    instructions = bool(_ANNOUNCEMENT_RE.match(prose))
    uses: list[VerbUse] = []
    for verb in find_verbs(prose):
        before = prose[max(0, verb.start() - _WINDOW):verb.start()]
        if _NOUN_BEFORE_RE.search(before) or not _reports_here(prose, verb, before, bool(uses)):
            continue
        state = "blocked" if instructions else _state(prose, verb, before, listed)
        if uses and uses[-1].state != "done" and _JOINED_BEFORE_RE.search(before):
            state = uses[-1].state
        uses.append(VerbUse(verb.start(), verb_class(prose, verb), state))
    return uses


def _reports_here(prose: str, verb: re.Match[str], before: str, joined: bool) -> bool:
    """The verb is one of the sentence's own: not a section label, and not the present
    tense of a description ("`f` adds a delay", "computers create assigns").

    The present, the gerund and noun-like bases say what the agent did only where a
    sentence starts; any other base form also after a modal, "to", "and"/"or" joined to a
    verb before it, or (when it is also the participle) "have" or "be".
    """
    form = verb.group().lower()
    if form in LEADING_FORMS or form in BASE_FORMS:
        if _LABEL_AFTER_RE.match(prose, verb.end()):
            return False
        if _at_start(prose, verb):
            return not _SUBJECT_AFTER_RE.match(prose, verb.end())
        if form in LEADING_FORMS:
            return False
        return bool(
            form in _RESULT_BASES
            or _BLOCKED_BEFORE_RE.search(before)
            or _INFINITIVE_BEFORE_RE.search(before)
            or joined and _JOINED_BEFORE_RE.search(before)
            or form in PARTICIPLE_BASES and _AUXILIARY_BEFORE_RE.search(before)
        )
    return True


def _state(prose: str, verb: re.Match[str], before: str, listed: bool) -> State:
    imperative = verb.group().lower() in BASE_FORMS and _at_start(prose, verb)
    blocked = _BLOCKED_BEFORE_RE.search(before) or _CJK_BLOCKED_BEFORE_RE.search(before[-8:])
    if blocked or imperative and not listed:
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
    marks = _NON_WORD_RUN_RE.match(sentence[::-1])  # matches always, if only the empty text
    return marks is not None and "?" in marks.group()


# "Now does", "is now": a result of work stated as the state it left.
_RESULT_RE = re.compile(r"\bnow\b", re.I)


def states_result(prose: str) -> bool:
    """The sentence states what its work left ("`f` now retries", "is now formatted")."""
    return bool(_RESULT_RE.search(prose))


def is_advisory(lead: str) -> bool:
    """A lead-in that introduces instructions or a plan rather than work done."""
    return bool(_ADVISORY_LEAD_RE.search(lead.replace("’", "'")))


def is_advisory_heading(heading: str) -> bool:
    """A heading over instructions, a plan or wishes ("Next Steps", "How to run")."""
    return bool(_ADVISORY_HEADING_RE.search(heading))


# A short label before a colon that opens a sentence ("**Next step**: ...").
_OPENING_LABEL_RE = re.compile(r"[^\w:]*+([^:,.]{1,40}):")


def opens_with_advisory_label(prose: str) -> bool:
    """The sentence is labelled a step, a plan or a wish ("Next step: install JDK 17")."""
    label = _OPENING_LABEL_RE.match(prose)
    return label is not None and is_advisory_heading(label.group(1))


def announces(prose: str) -> bool:
    """The sentence opens by announcing or advising what comes next ("Let me look at
    ...", "I'll search for ...", "You can ..."), whatever its verbs."""
    return bool(_ANNOUNCEMENT_RE.match(prose.replace("’", "'")))
