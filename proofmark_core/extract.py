"""Claim wording shared with the verdict engine.

``WORK_VERB_RE`` finds a verb with which an agent reports work it did ("added",
"fixed", "ran", ...). A claim whose own wording has none of them is taken as a
mention of something rather than a claim of work.
"""

import re

_WORK_VERBS = (
    "add", "added", "adds", "adding",
    "change", "changed", "changes", "changing",
    "fix", "fixed", "fixes", "fixing",
    "update", "updated", "updates", "updating",
    "create", "created", "creates", "creating",
    "remove", "removed", "removes", "removing",
    "delete", "deleted", "deletes", "deleting",
    "rename", "renamed", "renames", "renaming",
    "move", "moved", "moves", "moving",
    "write", "wrote", "writes", "writing", "written",
    "run", "ran", "runs", "running",
    "install", "installed", "installs", "installing",
    "implement", "implemented", "implements", "implementing",
    "refactor", "refactored", "refactors", "refactoring",
    "replace", "replaced", "replaces", "replacing",
    "edit", "edited", "edits", "editing",
    "configure", "configured", "configures", "configuring",
    "enable", "enabled", "enables", "enabling",
    "disable", "disabled", "disables", "disabling",
    "bump", "bumped", "bumps", "bumping",
    "merge", "merged", "merges", "merging",
    "commit", "committed", "commits", "committing",
)

WORK_VERB_RE = re.compile(r"\b(?:" + "|".join(_WORK_VERBS) + r")\b", re.I)
