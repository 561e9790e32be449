"""Patches in the ``*** Begin Patch`` format of Codex's apply_patch tool.

A patch names its files in ``*** Add File:``, ``*** Update File:``, ``*** Move to:`` and
``*** Delete File:`` headers; the text it puts into files is its ``+`` lines (every line
of an added file starts with ``+`` too). Codex also runs patches through the shell, as
``apply_patch <<'EOF' ... EOF`` or as the argv ``["apply_patch", PATCH]``.
"""

from __future__ import annotations

import re
from collections.abc import Sequence
from dataclasses import dataclass

from proofmark_core.logs._shell import command_text

BEGIN = "*** Begin Patch"
END = "*** End Patch"
# A header that names a file the patch writes; deleted files are not written.
WRITTEN_RE = re.compile(r"\*\*\* (?:Add File|Update File|Move to): (.+)")
# apply_patch as the command itself, after an optional "cd DIR &&".
APPLY_PATCH_RE = re.compile(r"\s*(?:cd\s+(?:'[^']*'|\"[^\"]*\"|\S+)\s*&&\s*)?"
                            r"(?:apply_patch|applypatch)\b")
PROGRAMS = frozenset({"apply_patch", "applypatch"})


@dataclass(frozen=True, slots=True)
class Patch:
    """The files a patch writes, as it names them, and the lines it adds, without the ``+``."""

    paths: list[str]
    added: str


def parse_patch(text: str) -> Patch:
    paths: list[str] = []
    added: list[str] = []
    for line in text.splitlines():
        header = WRITTEN_RE.fullmatch(line.rstrip())
        if header:
            paths.append(header.group(1).strip())
        elif line.startswith("+"):
            added.append(line[1:])
    return Patch(list(dict.fromkeys(paths)), "\n".join(added))


def patch_in_command(command: str | Sequence[object]) -> str | None:
    """The patch text of a shell call that runs apply_patch, or None for any other command."""
    if not isinstance(command, str):
        argv = [str(word) for word in command]
        if len(argv) == 2 and argv[0] in PROGRAMS:
            return argv[1]
        command = command_text(argv)
    if not APPLY_PATCH_RE.match(command) or BEGIN not in command:
        return None
    body = command[command.index(BEGIN):]
    end = body.find(END)
    return body if end < 0 else body[:end + len(END)]
