"""The verbs of work: each one's forms, and the kind of work it reports.

A sentence's prose (its targets masked, see _targets) is searched for these words with
find_verbs; _wording decides what the sentence does with each one it finds.
"""

from __future__ import annotations

import re
from collections.abc import Iterator
from typing import Literal

VerbClass = Literal["run", "check", "file", "external", "work"]

# Every verb of work, one per line: its base form first, then its other forms. The class
# says what kind of claim the verb makes. This vocabulary holds every word of
# proofmark_core.extract.WORK_VERB_RE, which the engine's mention test uses.
_VERBS: dict[VerbClass, str] = {
    # Ran a program: a command line, or a script wherever it stands ("`repro.py` ran").
    "run": """
        run runs ran running
        rerun reruns reran rerunning re-run re-runs re-ran re-running
        execute executes executed executing
        invoke invokes invoked invoking
        launch launches launched launching
        start starts started starting
        install installs installed installing
    """,
    # Checked by running something: a command line, or a script named after the verb
    # ("verified with `repro.py`"; not "fixed `a.py` and verified it").
    "check": """
        test tested testing
        retest retested retesting
        verify verifies verified verifying
        validate validates validated validating
        confirm confirms confirmed confirming
        check checked checking
        build built building
        compile compiles compiled compiling
        lint lints linted linting
        pass passes passed passing
        succeed succeeds succeeded succeeding
    """,
    # Changed the content of files.
    "file": """
        add adds added adding
        change changes changed changing
        fix fixes fixed fixing
        update updates updated updating
        create creates created creating
        remove removes removed removing
        delete deletes deleted deleting
        rename renames renamed renaming
        move moves moved moving
        write writes wrote writing written
        rewrite rewrites rewrote rewriting rewritten
        replace replaces replaced replacing
        edit edits edited editing
        modify modifies modified modifying
        refactor refactors refactored refactoring
        implement implements implemented implementing
        patch patches patched patching
        insert inserts inserted inserting
        append appends appended appending
        introduce introduces introduced introducing
        adjust adjusts adjusted adjusting
        tweak tweaks tweaked tweaking
        revert reverts reverted reverting
        restore restores restored restoring
        save saves saved saving
        generate generates generated generating
        extend extends extended extending
        bump bumps bumped bumping
        configure configures configured configuring
        enable enables enabled enabling
        disable disables disabled disabling
        merge merges merged merging
        set sets setting
        raise raises raised raising
        lower lowers lowered lowering
        increase increases increased increasing
        decrease decreases decreased decreasing
        convert converts converted converting
        migrate migrates migrated migrating
        extract extracts extracted extracting
        document documented documenting
        initialize initializes initialized initializing
        initialise initialises initialised initialising
        scaffold scaffolded scaffolding
    """,
    # Acted outside the workspace: messages, pushes, deployments.
    "external": """
        post posts posted posting
        send sends sent sending
        email emails emailed emailing
        notify notifies notified notifying
        reply replies replied replying
        comment comments commented commenting
        push pushes pushed pushing
        deploy deploys deployed deploying
        publish publishes published publishing
        upload uploads uploaded uploading
        announce announces announced announcing
        ping pings pinged pinging
    """,
    # Work of no particular kind. A reproduction may well fail, and should; the others
    # act outside the workspace when their object is a pull request or an issue.
    "work": """
        commit commits committed committing
        reproduce reproduces reproduced reproducing
        open opens opened opening
        reopen reopens reopened reopening
        file files filed filing
        submit submits submitted submitting
        close closes closed closing
        approve approves approved approving
        review reviews reviewed reviewing
    """,
}

# Base forms that are nouns far more often than verbs once a sentence is under way
# ("a regression test", "the build", "type check", "module comment", "a new file").
_NOUN_LIKE_BASES = frozenset(
    {"test", "check", "build", "lint", "post", "email", "reply", "comment", "ping", "file", "review"}
)
# Said of tests and commands, "passes" and "succeeds" report a result anywhere.
_RESULT_FORMS = frozenset({"passes", "succeeds"})


def _vocabulary() -> tuple[dict[str, VerbClass], frozenset[str], frozenset[str]]:
    """Each form's class; the base forms; and the forms that report work only where a
    sentence starts: the present ("adds") and the gerund ("adding"), which elsewhere
    describe what code does ("`f` adds it", "simulates running"), and noun-like bases."""
    classes: dict[str, VerbClass] = {}
    bases: set[str] = set()
    leading: set[str] = set(_NOUN_LIKE_BASES)
    for verb_class, lines in _VERBS.items():
        for line in lines.strip().splitlines():
            base, *others = line.split()
            bases.add(base)
            classes.update(dict.fromkeys([base, *others], verb_class))
            present = {base + "s", base + "es", base[:-1] + "ies"}
            leading.update(form for form in others if form in present or form.endswith("ing"))
    return classes, frozenset(bases), frozenset(leading - _RESULT_FORMS)


CLASS_OF, BASE_FORMS, LEADING_FORMS = _vocabulary()
# A whole word; a hyphen joins words into one ("non-test", "build-time", "re-run").
_WORD_RE = re.compile(r"(?<![\w-])[^\W\d_]+(?:-[^\W\d_]+)*(?![\w-])")


def find_verbs(prose: str) -> Iterator[re.Match[str]]:
    """The words of the vocabulary in a text, in order."""
    return (word for word in _WORD_RE.finditer(prose) if word.group().lower() in CLASS_OF)


# Verbs that act outside the workspace when their object is a pull request, an issue and
# the like ("opened a PR", "filed issue #12", "updated the ticket").
_EXTERNAL_OBJECT_RE = re.compile(
    r"(?:open|opened|opens|opening|reopened|create|created|creates|creating|file|filed|files|"
    r"filing|submit|submitted|submits|raise|raised|close|closed|merge|merged|update|updated|"
    r"approve|approved|review|reviewed)\s+(?:[\w#-]+\s+){0,2}?"
    r"(?:PRs?|pull\s+requests?|merge\s+requests?|MRs?|issues?|tickets?|bug\s+reports?|"
    r"releases?(?!\s+notes)|gists?)\b",
    re.I,
)
# Commenting out code is an edit, not a comment posted somewhere.
_COMMENTED_OUT_RE = re.compile(r"commented\s+out\b", re.I)


def verb_class(prose: str, verb: re.Match[str]) -> VerbClass:
    """The kind of work a verb found by find_verbs reports, its object considered."""
    if _COMMENTED_OUT_RE.match(prose, verb.start()):
        return "file"
    if _EXTERNAL_OBJECT_RE.match(prose, verb.start()):
        return "external"
    return CLASS_OF[verb.group().lower()]
